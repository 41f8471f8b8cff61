#include "engine/scanner/file_ends/exif_date.h"

#include <cctype>

#include "engine/scanner/scan_bytes.h"

namespace {

constexpr uint16_t kDateTime = 0x0132;
constexpr uint16_t kExifIfd = 0x8769;
constexpr uint16_t kDateTimeOriginal = 0x9003;
constexpr size_t kMaxEntries = 512;

struct Tiff {
  const uint8_t* data;
  size_t bytes;
  bool little;
  uint16_t U16(size_t at) const { return little ? Le16(data + at) : Be16(data + at); }
  uint32_t U32(size_t at) const { return little ? Le32(data + at) : Be32(data + at); }

  // The entry of `tag` in the IFD at `ifd`: the offset of its 12 bytes, or 0.
  size_t Find(uint32_t ifd, uint16_t tag) const {
    if (ifd < 8 || ifd > bytes - 2) return 0;
    const size_t count = U16(ifd);
    for (size_t i = 0; i < count && i < kMaxEntries; ++i) {
      const size_t e = ifd + 2 + i * 12;
      if (e + 12 > bytes) return 0;
      if (U16(e) == tag) return e;
    }
    return 0;
  }

  // "YYYY:MM:DD HH:MM:SS" of an ASCII entry, as "YYYY-MM-DD HH-MM-SS".
  std::string Date(size_t entry) const {
    if (!entry || U16(entry + 2) != 2 || U32(entry + 4) < 19) return {};
    const uint32_t at = U32(entry + 8);
    if (at > bytes || bytes - at < 19) return {};
    std::string text(reinterpret_cast<const char*>(data + at), 19);
    for (size_t i = 0; i < 19; ++i) {
      const char expected = i == 4 || i == 7 ? ':' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '9';
      if (expected == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != expected) return {};
    }
    if (text.compare(0, 4, "0000") == 0) return {};  // an unset camera clock
    for (size_t i : {4u, 7u}) text[i] = '-';
    for (size_t i : {13u, 16u}) text[i] = '-';
    return text;
  }
};

}  // namespace

std::string ExifDate(const uint8_t* tiff, size_t bytes) {
  if (!tiff || bytes < 8) return {};
  Tiff t{tiff, bytes, tiff[0] == 'I'};
  if (!((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M')) || t.U16(2) != 42) return {};
  const uint32_t ifd0 = t.U32(4);
  if (size_t exif = t.Find(ifd0, kExifIfd)) {
    std::string date = t.Date(t.Find(t.U32(exif + 8), kDateTimeOriginal));
    if (!date.empty()) return date;
  }
  return t.Date(t.Find(ifd0, kDateTime));
}
