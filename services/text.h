// Text conversions at the boundary between on-disk encodings and the
// program's internal UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// UTF-16LE code units to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t units);
std::string Utf16ToUtf8(std::u16string_view text);
// Reads `units` little-endian UTF-16 code units from raw bytes (any alignment).
std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t units);
// UTF-8 to UTF-16. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// One code point as UTF-8.
std::string CodePointToUtf8(char32_t cp);
// One byte of a FAT short name: below 0x80 as ASCII, above through Windows-1252.
char32_t Cp1252ToCodePoint(uint8_t byte);
std::string Cp1252ToUtf8(const uint8_t* bytes, size_t count);

// Case folding for the ASCII letters only (the way the design compares names
// and extensions).
std::string AsciiLower(std::string_view text);
bool AsciiEqualNoCase(std::string_view a, std::string_view b);

}  // namespace qm
