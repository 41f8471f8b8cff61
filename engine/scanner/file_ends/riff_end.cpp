// RIFF (WAV, AVI, WebP...) and the big-endian IFF (AIFF, DjVu): the size in
// the form's header, checked against the first chunk inside it. AVI files
// past 1 GiB go on in "AVIX" forms straight after the first; RF64 and BW64
// carry the 64-bit size in their "ds64" chunk.
#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxForms = 100000;

bool Fourcc(const uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

}  // namespace

FileEnd RiffEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 20);
  if (!h || !Fourcc(h + 8) || !Fourcc(h + 12)) return FileEnd::Bad();
  uint64_t size = 0;
  if (std::memcmp(h, "RIFF", 4) == 0) {
    size = 8ull + Le32(h + 4);
  } else if (std::memcmp(h, "RF64", 4) == 0 || std::memcmp(h, "BW64", 4) == 0) {
    const uint8_t* ds = file.At(12, 16);
    if (!ds || std::memcmp(ds, "ds64", 4) != 0) return FileEnd::Bad();
    size = 8 + Le64(ds + 8);
  } else {
    return FileEnd::Bad();
  }
  if (size < 20) return FileEnd::Bad();
  size += size & 1;
  // Extension forms of AVI follow whole.
  for (int i = 0; i < kMaxForms; ++i) {
    const uint8_t* x = file.At(size, 12);
    if (!x || std::memcmp(x, "RIFF", 4) != 0 || std::memcmp(x + 8, "AVIX", 4) != 0) break;
    const uint64_t more = 8ull + Le32(x + 4);
    size += more + (more & 1);
  }
  if (size > file.Limit()) return {};
  return FileEnd::At(size);
}

FileEnd IffEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 20);
  if (!h) return {};
  // DjVu puts "AT&T" before its form.
  const uint64_t form = std::memcmp(h, "AT&T", 4) == 0 ? 4 : 0;
  if (std::memcmp(h + form, "FORM", 4) != 0 || !Fourcc(h + form + 8)) return FileEnd::Bad();
  uint64_t size = form + 8 + Be32(h + form + 4);
  if (size < form + 12) return FileEnd::Bad();
  size += size & 1;
  if (size > file.Limit()) return {};
  return FileEnd::At(size);
}
