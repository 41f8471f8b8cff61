// The capture date of an Exif block (a TIFF structure), for a photo's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// "YYYY-MM-DD HH-MM-SS" from the Exif block's DateTimeOriginal, else its
// DateTime; empty when there is none or it is not a well-formed date. `tiff`
// holds `bytes` bytes from the TIFF header on.
std::string ExifDate(const uint8_t* tiff, size_t bytes);
