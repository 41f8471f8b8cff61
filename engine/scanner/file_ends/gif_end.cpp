// GIF: the screen descriptor and its colour table, then extension and image
// blocks (each a chain of sub-blocks) up to the trailer byte.
#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxSteps = 20000000;

}  // namespace

FileEnd GifEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 13);
  if (!h || (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0)) return FileEnd::Bad();
  uint64_t pos = 13;
  if (h[10] & 0x80) pos += 3ull << ((h[10] & 7) + 1);
  bool image = false;
  int steps = 0;
  // Passes over a chain of sub-blocks; false when the bytes end first.
  auto subBlocks = [&]() -> bool {
    for (; steps < kMaxSteps; ++steps) {
      const uint8_t* n = file.At(pos, 1);
      if (!n) return false;
      pos += 1ull + n[0];
      if (n[0] == 0) return true;
    }
    return false;
  };
  uint64_t block = pos;  // where the block before this one began
  while (steps++ < kMaxSteps) {
    const uint8_t* b = file.At(pos, 1);
    if (!b) return {};
    const auto broken = [&] { return image ? FileEnd::Broken(block, pos) : FileEnd::Bad(); };
    const uint64_t start = pos;
    if (b[0] == 0x3B) return image ? FileEnd::At(pos + 1) : FileEnd::Bad();
    if (b[0] == 0x21) {
      pos += 2;
      if (!subBlocks()) return {};
    } else if (b[0] == 0x2C) {
      const uint8_t* d = file.At(pos, 11);
      if (!d) return {};
      pos += 10;
      if (d[9] & 0x80) pos += 3ull << ((d[9] & 7) + 1);
      const uint8_t* code = file.At(pos, 1);
      if (!code) return {};
      if (code[0] < 1 || code[0] > 12) return broken();
      ++pos;
      if (!subBlocks()) return {};
      image = true;
    } else {
      return broken();
    }
    block = start;
  }
  return {};
}
