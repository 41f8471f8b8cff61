// BMP: the size the file header gives, taken only when the headers agree
// with it (a known information-header size, one plane, a real bit depth,
// the pixels inside the file).
#include "engine/scanner/file_end.h"

FileEnd BmpEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 30);
  if (!h || h[0] != 'B' || h[1] != 'M') return FileEnd::Bad();
  const uint32_t size = Le32(h + 2);
  const uint32_t pixels = Le32(h + 10);
  const uint32_t info = Le32(h + 14);
  if (info != 12 && info != 40 && info != 52 && info != 56 && info != 64 && info != 108 && info != 124)
    return FileEnd::Bad();
  const uint16_t planes = info == 12 ? Le16(h + 22) : Le16(h + 26);
  const uint16_t bits = info == 12 ? Le16(h + 24) : Le16(h + 28);
  if (planes != 1) return FileEnd::Bad();
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 64)
    return FileEnd::Bad();
  if (pixels < 14 + info || size < pixels) return FileEnd::Bad();
  if (info >= 40) {
    const uint8_t* more = file.At(0, 34);
    if (!more) return {};
    const uint32_t compression = Le32(more + 30);
    const int64_t width = static_cast<int32_t>(Le32(h + 18));
    int64_t height = static_cast<int32_t>(Le32(h + 22));
    if (height < 0) height = -height;
    if (width <= 0 || width > 1000000 || height == 0 || height > 1000000) return FileEnd::Bad();
    // Uncompressed rows are padded to 4 bytes; the file holds them all.
    const uint64_t rows = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4 * static_cast<uint64_t>(height);
    if (compression == 0 && size < pixels + rows) return FileEnd::Bad();
  }
  return FileEnd::At(size);
}
