// JPEG: marker segments, then entropy-coded data up to the next marker, to
// the end-of-image marker. Segments are skipped by their length, so the
// thumbnail inside an Exif segment never ends the walk. A byte pair in the
// entropy-coded data that no JPEG holds means the file's data stops there.
#include <cstring>

#include "engine/scanner/file_end.h"
#include "engine/scanner/file_ends/exif_date.h"

namespace {

constexpr int kMaxSegments = 100000;

// Markers that may follow entropy-coded data: the end of the image, the next
// scan and the tables before it, a comment.
bool MayFollowData(uint8_t m) { return m == 0xD9 || m == 0xDA || m == 0xC4 || m == 0xDB || m == 0xDD || m == 0xFE; }

}  // namespace

FileEnd JpegEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 4);
  if (!h || h[0] != 0xFF || h[1] != 0xD8 || h[2] != 0xFF) return FileEnd::Bad();
  std::string label;
  bool frame = false;  // a start-of-frame seen
  uint64_t pos = 2;
  // Entropy-coded data is checked only by the markers in it, so a break
  // found in it or in the segments after it may lie anywhere from the start
  // of that data on; and segments after the data are taken on trust until
  // the next scan or the end, so the break is no later than where the data
  // ended.
  uint64_t dataStart = 0, dataEnd = 0;
  const auto broken = [&](uint64_t at) {
    if (!frame) return FileEnd::Bad();
    return dataEnd ? FileEnd::Broken(dataStart, dataEnd) : FileEnd::Broken(dataStart ? dataStart : at, at);
  };
  for (int step = 0; step < kMaxSegments; ++step) {
    const uint8_t* m = file.At(pos, 2);
    if (!m) return {};
    if (m[0] != 0xFF) return broken(pos);
    const uint8_t marker = m[1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xD9) {
      FileEnd end = FileEnd::At(pos + 2);
      end.Label = label;
      return end;
    }
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      pos += 2;
      continue;
    }
    if (marker == 0xD8 || marker == 0x00 || marker < 0xC0) return broken(pos);
    const uint8_t* l = file.At(pos + 2, 2);
    if (!l) return {};
    const uint16_t length = Be16(l);
    if (length < 2) return broken(pos);
    if ((marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) frame = true;
    if (marker == 0xE1 && label.empty() && length > 8) {
      if (const uint8_t* app = file.At(pos + 4, length - 2u); app && std::memcmp(app, "Exif\0\0", 6) == 0)
        label = ExifDate(app + 6, length - 8u);
    }
    pos += 2 + length;
    if (marker != 0xDA) continue;
    if (!frame) return FileEnd::Bad();
    dataStart = pos;
    dataEnd = 0;
    // Entropy-coded data: 0xFF is followed by 0x00 (a stuffed byte), a
    // restart marker, fill, or the marker that ends the scan.
    for (;;) {
      const uint8_t* p = nullptr;
      const size_t n = file.Span(pos, CScanBytes::kWindowBytes, &p);
      if (n == 0) return {};
      const auto* ff = static_cast<const uint8_t*>(std::memchr(p, 0xFF, n));
      if (!ff) {
        pos += n;
        continue;
      }
      pos += static_cast<uint64_t>(ff - p);
      const uint8_t* pair = file.At(pos, 2);
      if (!pair) return {};
      const uint8_t next = pair[1];
      if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
        pos += 2;
        continue;
      }
      if (next == 0xFF) {
        ++pos;
        continue;
      }
      if (!MayFollowData(next)) return FileEnd::Broken(dataStart, pos);
      dataEnd = pos;
      break;  // the marker after the scan
    }
  }
  return {};
}
