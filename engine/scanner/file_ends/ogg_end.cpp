// Ogg (Vorbis, Opus, FLAC, Theora): the pages, each checked by its CRC, up
// to the page that ends the last of the streams begun at the start.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxPages = 10000000;
constexpr size_t kMaxStreams = 64;

// The Ogg CRC: polynomial 0x04C11DB7, no reflection, starting from 0.
uint32_t OggCrc(const uint8_t* p, size_t n, uint32_t crc) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  for (size_t i = 0; i < n; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

}  // namespace

FileEnd OggEnd(CFileBytes& file) {
  std::vector<uint32_t> open;
  uint64_t pos = 0;
  for (int page = 0; page < kMaxPages; ++page) {
    const uint8_t* h = file.At(pos, 27);
    if (!h) return {};
    const auto bad = [&] { return page == 0 ? FileEnd::Bad() : FileEnd::BreakAt(pos); };
    if (std::memcmp(h, "OggS", 4) != 0 || h[4] != 0) return bad();
    const uint8_t type = h[5];
    const uint32_t serial = Le32(h + 14);
    const size_t segments = h[26];
    const uint8_t* full = file.At(pos, 27 + segments);
    if (!full) return {};
    size_t body = 0;
    for (size_t i = 0; i < segments; ++i) body += full[27 + i];
    const size_t bytes = 27 + segments + body;
    const uint8_t* whole = file.At(pos, bytes);
    if (!whole) return {};
    // The CRC is computed with its own field as zeros.
    const uint8_t zeros[4] = {0, 0, 0, 0};
    uint32_t crc = OggCrc(whole, 22, 0);
    crc = OggCrc(zeros, 4, crc);
    crc = OggCrc(whole + 26, bytes - 26, crc);
    if (crc != Le32(h + 22)) return page == 0 ? FileEnd::Bad() : FileEnd::Broken(pos, pos + bytes);
    if (type & 2) {
      if (open.size() >= kMaxStreams) return {};
      open.push_back(serial);
    } else if (page == 0) {
      return FileEnd::Bad();  // a file starts with a stream's first page
    }
    pos += bytes;
    if (type & 4) {
      open.erase(std::remove(open.begin(), open.end(), serial), open.end());
      if (open.empty()) return FileEnd::At(pos);
    }
  }
  return {};
}
