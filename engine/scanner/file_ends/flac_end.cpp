// FLAC: the metadata blocks, then the frames. Frames carry no length: each
// ends where the CRC-16 over it comes to zero and the next frame's header
// (or, after the last sample the stream information counts, nothing) follows.
#include <cstring>
#include <vector>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxBlocks = 1000;

uint16_t Crc16Step(uint16_t crc, uint8_t byte) {
  static const auto table = [] {
    std::vector<uint16_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint16_t r = static_cast<uint16_t>(i << 8);
      for (int k = 0; k < 8; ++k) r = static_cast<uint16_t>((r & 0x8000) ? (r << 1) ^ 0x8005 : r << 1);
      t[i] = r;
    }
    return t;
  }();
  return static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ byte) & 0xFF]);
}

// The samples of the frame whose header is at `p` (16 bytes available), or 0
// when it is no frame header.
uint32_t FrameSamples(const uint8_t* p, size_t n) {
  if (n < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return 0;
  const uint8_t code = p[2] >> 4;
  if (code == 0 || (p[2] & 0x0F) == 0x0F || (p[3] >> 4) > 12 || (p[3] & 1)) return 0;
  // The frame or sample number, coded like UTF-8.
  size_t i = 4;
  if (p[i] >= 0x80) {
    int more = 0;
    for (uint8_t m = 0x40; (p[i] & m) && more < 7; m >>= 1) ++more;
    if (more == 0 || more > 6) return 0;
    i += more;
  }
  ++i;
  if (i + 2 > n) return 0;
  if (code == 1) return 192;
  if (code >= 2 && code <= 5) return 576u << (code - 2);
  if (code >= 8) return 256u << (code - 8);
  if (code == 6) return p[i] + 1u;
  return Be16(p + i) + 1u;
}

}  // namespace

FileEnd FlacEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 42);
  if (!h || std::memcmp(h, "fLaC", 4) != 0 || (h[4] & 0x7F) != 0 || Be32(h + 4) != 34) return FileEnd::Bad();
  const uint64_t total = (static_cast<uint64_t>(h[21] & 0x0F) << 32) | Be32(h + 22);
  const uint32_t maxFrame = (static_cast<uint32_t>(h[15]) << 16) | (h[16] << 8) | h[17];
  uint64_t pos = 4;
  for (int block = 0;; ++block) {
    const uint8_t* b = file.At(pos, 4);
    if (!b || block >= kMaxBlocks) return {};
    pos += 4 + ((static_cast<uint32_t>(b[1]) << 16) | (b[2] << 8) | b[3]);
    if (b[0] & 0x80) break;
  }
  if (total == 0) return {};  // a stream that does not count its samples
  const uint64_t frameBound = maxFrame ? maxFrame + 16ull : 16 * 1024 * 1024;
  uint64_t samples = 0;
  while (samples < total) {
    const uint8_t* f = file.At(pos, 16);
    if (!f) return {};
    const uint32_t count = FrameSamples(f, 16);
    if (count == 0) return samples ? FileEnd::BreakAt(pos) : FileEnd::Bad();
    samples += count;
    const bool last = samples >= total;
    uint16_t crc = 0;
    uint64_t at = pos;
    bool ended = false;
    while (at - pos < frameBound && !ended) {
      const uint8_t* p = nullptr;
      const size_t n = file.Span(at, 64 * 1024, &p);
      if (n == 0) return {};
      for (size_t i = 0; i < n; ++i) {
        crc = Crc16Step(crc, p[i]);
        if (crc != 0 || at + i + 1 - pos < 10) continue;
        const uint64_t end = at + i + 1;
        const uint8_t* next = file.At(end, 16);
        if (last || (next && FrameSamples(next, 16))) {
          at = end;
          ended = true;
          break;
        }
      }
      if (!ended) at += n;
    }
    if (!ended) return FileEnd::Broken(pos, at);
    pos = at;
  }
  return FileEnd::At(pos);
}
