// RAR: the blocks of the archive, each with its header checksum, to the
// end-of-archive block. Both the RAR 1.5-4 layout and RAR 5's are walked.
#include <zlib.h>

#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxBlocks = 1000000;

// A RAR 5 variable-length number at `p` (at most `n` bytes): its value and
// length, or length 0 when malformed.
uint64_t Vint(const uint8_t* p, size_t n, size_t* length) {
  uint64_t value = 0;
  for (size_t i = 0; i < n && i < 10; ++i) {
    value |= static_cast<uint64_t>(p[i] & 0x7F) << (7 * i);
    if (!(p[i] & 0x80)) {
      *length = i + 1;
      return value;
    }
  }
  *length = 0;
  return 0;
}

FileEnd Rar4End(CFileBytes& file) {
  uint64_t pos = 7;
  bool fileSeen = false;
  for (int step = 0; step < kMaxBlocks; ++step) {
    const uint8_t* b = file.At(pos, 11);
    if (!b) return {};
    const uint8_t type = b[2];
    const uint16_t flags = Le16(b + 3);
    const uint16_t headerSize = Le16(b + 5);
    const uint8_t* header = headerSize >= 7 ? file.At(pos, headerSize) : nullptr;
    const bool valid = header && type >= 0x72 && type <= 0x7B &&
                       (crc32(0, header + 2, headerSize - 2u) & 0xFFFF) == Le16(b);
    if (!valid) {
      // Archives of old versions may end without an end block: after whole
      // blocks that checked out, the archive ends where they end.
      if (fileSeen) return FileEnd::At(pos);
      return step == 0 ? FileEnd::Bad() : FileEnd::BreakAt(pos);
    }
    uint64_t data = 0;
    if (flags & 0x8000) data = Le32(b + 7);
    if (type == 0x74 && (flags & 0x0100) && headerSize >= 36) data |= static_cast<uint64_t>(Le32(header + 32)) << 32;
    pos += headerSize + data;
    if (type == 0x74) fileSeen = true;
    if (type == 0x7B) return FileEnd::At(pos);
    if (pos > file.Limit()) return {};
  }
  return {};
}

FileEnd Rar5End(CFileBytes& file) {
  uint64_t pos = 8;
  for (int step = 0; step < kMaxBlocks; ++step) {
    const uint8_t* b = file.At(pos, 4 + 3);
    if (!b) return {};
    size_t sizeLength = 0;
    const uint64_t headerSize = Vint(b + 4, 3, &sizeLength);
    if (!sizeLength || headerSize == 0 || headerSize > 2 * 1024 * 1024) return step == 0 ? FileEnd::Bad() : FileEnd::BreakAt(pos);
    const uint8_t* header = file.At(pos + 4, sizeLength + headerSize);
    if (!header) return {};
    if (crc32(0, header, static_cast<uInt>(sizeLength + headerSize)) != Le32(b))
      return step == 0 ? FileEnd::Bad() : FileEnd::BreakAt(pos);
    const uint8_t* p = header + sizeLength;
    size_t left = headerSize, n = 0;
    const uint64_t type = Vint(p, left, &n);
    if (!n) return FileEnd::BreakAt(pos);
    p += n, left -= n;
    const uint64_t flags = Vint(p, left, &n);
    if (!n) return FileEnd::BreakAt(pos);
    p += n, left -= n;
    if (flags & 1) {  // extra area size
      Vint(p, left, &n);
      if (!n) return FileEnd::BreakAt(pos);
      p += n, left -= n;
    }
    uint64_t data = 0;
    if (flags & 2) {
      data = Vint(p, left, &n);
      if (!n) return FileEnd::BreakAt(pos);
    }
    pos += 4 + sizeLength + headerSize + data;
    if (type == 5) return FileEnd::At(pos);
    if (pos > file.Limit()) return {};
  }
  return {};
}

}  // namespace

FileEnd RarEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 8);
  if (!h || std::memcmp(h, "Rar!\x1a\x07", 6) != 0) return FileEnd::Bad();
  if (h[6] == 0) return Rar4End(file);
  if (h[6] == 1 && h[7] == 0) return Rar5End(file);
  return FileEnd::Bad();
}
