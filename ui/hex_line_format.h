// The text of the data viewer's lines: 16 bytes a line, the offset as (at least) eight
// hexadecimal digits and two blanks, the bytes in groups of one, two or four
// (each group preceded by a blank, one extra blank after the eighth byte),
// then the same bytes as characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kHexBytesPerLine = 16;

// The header above the lines: "Offset " over the offsets, the byte
// positions over the byte columns.
std::string HexHeaderLine(int groupBytes);
// One line; `count` may be below 16 at the end of the data (the missing
// bytes are left blank, so the characters stay in their column); 0 gives the
// empty line shown past the end. Groups of two and four read the bytes in
// little-endian order, as the values they hold.
std::string HexLine(uint64_t offset, const uint8_t* bytes, size_t count, int groupBytes);
