// Matroska and WebM: the EBML header, then the Segment, whose size gives the
// end. A Segment of unknown size (a live recording) leaves the end unknown.
#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

// An EBML variable-length number at `p` (at most `n` bytes): its value with
// the length marker removed, its length, and whether all its value bits are
// set (an unknown size).
bool Vint(const uint8_t* p, size_t n, uint64_t* value, size_t* length, bool* unknown) {
  if (n == 0 || p[0] == 0) return false;
  size_t len = 1;
  while (!(p[0] & (0x80 >> (len - 1)))) ++len;
  if (len > n || len > 8) return false;
  uint64_t v = p[0] & (0xFF >> len);
  bool all = v == (0xFFu >> len);
  for (size_t i = 1; i < len; ++i) {
    v = (v << 8) | p[i];
    all = all && p[i] == 0xFF;
  }
  *value = v;
  *length = len;
  *unknown = all;
  return true;
}

}  // namespace

FileEnd MatroskaEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 12);
  if (!h || Be32(h) != 0x1A45DFA3) return FileEnd::Bad();
  uint64_t size = 0;
  size_t length = 0;
  bool unknown = false;
  if (!Vint(h + 4, 8, &size, &length, &unknown) || unknown || size > 4096) return FileEnd::Bad();
  const uint8_t* header = file.At(4 + length, static_cast<size_t>(size));
  if (!header) return {};
  // The header names its document type.
  const std::string_view text(reinterpret_cast<const char*>(header), static_cast<size_t>(size));
  if (text.find("matroska") == std::string_view::npos && text.find("webm") == std::string_view::npos)
    return FileEnd::Bad();
  const uint64_t segment = 4 + length + size;
  const uint8_t* s = file.At(segment, 12);
  if (!s) return {};
  if (Be32(s) != 0x18538067) return FileEnd::Bad();
  uint64_t body = 0;
  if (!Vint(s + 4, 8, &body, &length, &unknown)) return FileEnd::Bad();
  if (unknown || body > file.Limit()) return {};
  const uint64_t end = segment + 4 + length + body;
  if (end > file.Limit()) return {};
  return FileEnd::At(end);
}
