#include "ui/hex_line_format.h"

#include <algorithm>
#include <cstdio>

namespace {

int ValidGroup(int groupBytes) { return groupBytes == 2 || groupBytes == 4 ? groupBytes : 1; }

// Width of one group's column: a blank, then two digits per byte.
size_t GroupWidth(int group) { return 1 + 2 * static_cast<size_t>(group); }

}  // namespace

std::string HexHeaderLine(int groupBytes) {
  const int group = ValidGroup(groupBytes);
  std::string line = "Offset    ";
  for (int i = 0; i < kHexBytesPerLine; i += group) {
    if (i == 8) line += ' ';
    // The position of the group's first byte, right-aligned in its column.
    char digit[2] = {"0123456789ABCDEF"[i], 0};
    line += std::string(GroupWidth(group) - 1, ' ') + digit;
  }
  return line;
}

std::string HexLine(uint64_t offset, const uint8_t* bytes, size_t count, int groupBytes) {
  if (count == 0 || !bytes) return {};
  if (count > kHexBytesPerLine) count = kHexBytesPerLine;
  const int group = ValidGroup(groupBytes);
  char text[32];
  std::snprintf(text, sizeof text, "%08llX  ", static_cast<unsigned long long>(offset));
  std::string line = text;
  for (int i = 0; i < kHexBytesPerLine; i += group) {
    if (i == 8) line += ' ';
    // A group cut by the end of the data shows the bytes it has, right-aligned.
    const int have = static_cast<int>(std::min<size_t>(group, count > static_cast<size_t>(i) ? count - i : 0));
    uint32_t value = 0;
    for (int b = have - 1; b >= 0; --b) value = (value << 8) | bytes[i + b];
    std::string digits;
    if (have > 0) {
      std::snprintf(text, sizeof text, "%0*X", 2 * have, value);
      digits = text;
    }
    line += std::string(GroupWidth(group) - digits.size(), ' ') + digits;
  }
  line += "  ";
  for (size_t i = 0; i < count; ++i) line += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
  return line;
}
