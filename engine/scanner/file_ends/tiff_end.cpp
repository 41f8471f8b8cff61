// TIFF, and the camera raw formats built on it: the walk over every image
// file directory (the chain, sub-IFDs, the Exif and GPS directories), taking
// the furthest byte any entry's value, strip, tile or thumbnail reaches.
#include <algorithm>
#include <vector>

#include "engine/scanner/file_end.h"

namespace {

constexpr size_t kMaxIfds = 64;
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxPieces = 1u << 18;  // strips or tiles of one image

constexpr uint32_t kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

struct Walk {
  CFileBytes& file;
  bool little;
  uint64_t end = 8;
  std::vector<uint32_t> pending;
  std::vector<uint32_t> seen;

  uint16_t U16(const uint8_t* p) const { return little ? Le16(p) : Be16(p); }
  uint32_t U32(const uint8_t* p) const { return little ? Le32(p) : Be32(p); }
  void Reach(uint64_t at) { end = std::max(end, at); }

  // The values of an offsets or counts entry (SHORT, LONG or IFD), or none.
  bool Values(const uint8_t* e, std::vector<uint32_t>& out) {
    const uint16_t type = U16(e + 2);
    const uint32_t count = U32(e + 4);
    out.clear();
    if ((type != 3 && type != 4 && type != 13) || count == 0 || count > kMaxPieces) return false;
    const uint32_t size = type == 3 ? 2 : 4;
    const uint64_t bytes = static_cast<uint64_t>(count) * size;
    const uint8_t* v = e + 8;
    std::vector<uint8_t> copy;
    if (bytes > 4) {
      copy.resize(bytes);
      for (uint64_t done = 0; done < bytes;) {
        const uint8_t* p = nullptr;
        size_t n = file.Span(U32(e + 8) + done, bytes - done, &p);
        if (n == 0) return false;
        std::copy(p, p + n, copy.begin() + static_cast<long>(done));
        done += n;
      }
      v = copy.data();
    }
    out.reserve(count);
    for (uint32_t i = 0; i < count; ++i) out.push_back(size == 2 ? U16(v + 2 * i) : U32(v + 4 * i));
    return true;
  }

  // One directory; false when it cannot be a TIFF directory.
  bool Ifd(uint32_t at) {
    const uint8_t* c = file.At(at, 2);
    if (!c) return false;
    const uint32_t count = U16(c);
    if (count == 0 || count > kMaxEntries) return false;
    const uint8_t* d = file.At(at, 2 + count * 12ull + 4);
    if (!d) return false;
    std::vector<uint8_t> entries(d, d + 2 + count * 12ull + 4);
    Reach(at + entries.size());
    std::vector<uint32_t> offsets[3], counts[3];  // strips, tiles, thumbnail
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = entries.data() + 2 + i * 12;
      const uint16_t tag = U16(e);
      const uint16_t type = U16(e + 2);
      if (type == 0 || type > 13) continue;  // unknown types are skipped, as readers do
      const uint64_t bytes = static_cast<uint64_t>(U32(e + 4)) * kTypeBytes[type];
      if (bytes > 4) Reach(static_cast<uint64_t>(U32(e + 8)) + bytes);
      switch (tag) {
        case 273: Values(e, offsets[0]); break;
        case 279: Values(e, counts[0]); break;
        case 324: Values(e, offsets[1]); break;
        case 325: Values(e, counts[1]); break;
        case 513: Values(e, offsets[2]); break;
        case 514: Values(e, counts[2]); break;
        case 330:  // SubIFDs
        case 34665:  // Exif
        case 34853: {  // GPS
          std::vector<uint32_t> more;
          if (Values(e, more))
            for (uint32_t m : more) pending.push_back(m);
          break;
        }
        default: break;
      }
    }
    for (int k = 0; k < 3; ++k)
      for (size_t i = 0; i < offsets[k].size() && i < counts[k].size(); ++i)
        Reach(static_cast<uint64_t>(offsets[k][i]) + counts[k][i]);
    const uint32_t next = U32(entries.data() + 2 + count * 12ull);
    if (next) pending.push_back(next);
    return true;
  }
};

}  // namespace

FileEnd TiffEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 8);
  if (!h) return {};
  const bool little = h[0] == 'I' && h[1] == 'I';
  if (!little && !(h[0] == 'M' && h[1] == 'M')) return FileEnd::Bad();
  Walk walk{file, little, 8, {}, {}};
  const uint16_t magic = walk.U16(h + 2);
  if (magic == 43) return {};  // BigTIFF: not walked
  // Raw formats built on TIFF carry their own magic (0x4F52, 0x5352, 0x55).
  if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return FileEnd::Bad();
  const uint32_t first = walk.U32(h + 4);
  if (first < 8 || !walk.Ifd(first)) return FileEnd::Bad();
  walk.seen.push_back(first);
  while (!walk.pending.empty() && walk.seen.size() < kMaxIfds) {
    const uint32_t at = walk.pending.back();
    walk.pending.pop_back();
    if (at < 8 || std::find(walk.seen.begin(), walk.seen.end(), at) != walk.seen.end()) continue;
    walk.seen.push_back(at);
    walk.Ifd(at);  // a damaged directory further on ends nothing: its bytes are simply not counted
  }
  if (walk.end > file.Limit()) return {};
  return FileEnd::At(walk.end);
}
