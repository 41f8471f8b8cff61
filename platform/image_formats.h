// Disk images in the container formats other tools write (Expert Witness,
// VMDK, VHD, VHDX, qcow2), read through the libraries made for them, beside
// raw sector-for-sector images. The format is told by the file's content,
// never by its name.
#pragma once

#include <memory>
#include <string>

#include "platform/device.h"

enum class ImageFormat { Raw, Ewf, Vmdk, Vhd, Vhdx, Qcow };

// What the file at `path` holds; Raw for block devices, unknown content and
// files that cannot be read.
ImageFormat DetectImageFormat(const std::string& path);
// "raw", "E01", "VMDK", "VHD", "VHDX", "qcow2".
const char* ImageFormatName(ImageFormat format);

// Opens a source for reading: a container image through its library (the
// device then reads the disk the image holds), anything else as it is.
// Null with an errno in *error on failure (EINVAL: a container the library
// refused, such as a damaged or incomplete segment set).
std::shared_ptr<IDevice> OpenSourceReadOnly(const std::string& path, int* error);
