// PNG (and MNG, JNG, built the same way): the signature, then chunks of
// length, type, data and CRC up to IEND (MEND for MNG). A chunk whose type is
// not four letters, whose length no PNG may have, or whose CRC fails, is
// where the file's data stops.
#include <zlib.h>

#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxChunks = 1000000;

bool Letter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

FileEnd PngEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 16);
  if (!h || std::memcmp(h + 2, "NG\r\n\x1a\n", 6) != 0) return FileEnd::Bad();
  if (!(h[0] == 0x89 && h[1] == 'P') && !(h[0] == 0x8A && h[1] == 'M') && !(h[0] == 0x8B && h[1] == 'J'))
    return FileEnd::Bad();
  const bool mng = h[0] == 0x8A;
  uint64_t pos = 8;
  for (int step = 0; step < kMaxChunks; ++step) {
    const uint8_t* c = file.At(pos, 8);
    if (!c) return {};
    const uint32_t length = Be32(c);
    const bool valid = length < 0x80000000u && Letter(c[4]) && Letter(c[5]) && Letter(c[6]) && Letter(c[7]);
    if (!valid) return step == 0 ? FileEnd::Bad() : FileEnd::BreakAt(pos);
    if (step == 0) {
      // The first chunk is the header, of fixed length.
      const bool header = std::memcmp(c + 4, "IHDR", 4) == 0 ? length == 13
                          : std::memcmp(c + 4, "MHDR", 4) == 0 ? length == 28
                          : std::memcmp(c + 4, "JHDR", 4) == 0 ? length == 16
                                                                 : false;
      if (!header) return FileEnd::Bad();
    }
    const bool last = std::memcmp(c + 4, mng ? "MEND" : "IEND", 4) == 0;
    const uint64_t next = pos + 12ull + length;
    if (next > file.Limit()) return {};
    // The chunk's CRC covers its type and data: data that turned into
    // another file's fails it.
    uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    for (uint64_t at = pos + 4; at < next - 4;) {
      const uint8_t* p = nullptr;
      const size_t n = file.Span(at, next - 4 - at, &p);
      if (n == 0) return {};
      crc = static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
      at += n;
    }
    const uint8_t* stored = file.At(next - 4, 4);
    if (!stored) return {};
    if (Be32(stored) != crc) return step == 0 ? FileEnd::Bad() : FileEnd::Broken(pos, next);
    pos = next;
    if (last) return FileEnd::At(pos);
  }
  return {};
}
