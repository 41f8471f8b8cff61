// PDF: the last "%%EOF" of the document. Each incremental update appends
// objects or a cross-reference section after an "%%EOF", so an "%%EOF"
// followed (after its line end) by an object, "xref" or a comment is not
// the last one.
#include <cctype>
#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxUpdates = 10000;

bool Space(uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }

// True when the bytes start another part of the document: "xref", a comment
// line ("%"), or "N G obj".
bool MoreDocument(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n && Space(p[i])) ++i;
  if (i == n) return false;
  if (n - i >= 4 && std::memcmp(p + i, "xref", 4) == 0) return true;
  if (p[i] == '%' && n - i >= 2 && p[i + 1] != '%') return true;
  size_t digits = 0;
  while (i < n && std::isdigit(p[i])) ++i, ++digits;
  if (!digits || i == n || p[i] != ' ') return false;
  ++i;
  digits = 0;
  while (i < n && std::isdigit(p[i])) ++i, ++digits;
  return digits && n - i >= 4 && std::memcmp(p + i, " obj", 4) == 0;
}

}  // namespace

FileEnd PdfEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 8);
  if (!h || std::memcmp(h, "%PDF-", 5) != 0 || !std::isdigit(h[5]) || h[6] != '.' || !std::isdigit(h[7]))
    return FileEnd::Bad();
  uint64_t from = 8;
  for (int update = 0; update < kMaxUpdates; ++update) {
    const uint64_t at = file.Find(from, file.Limit(), "%%EOF");
    if (at == CFileBytes::kNotFound) return {};
    uint64_t end = at + 5;
    // The line end after the marker belongs to the file.
    if (const uint8_t* e = file.At(end, 1); e && *e == '\r') ++end;
    if (const uint8_t* e = file.At(end, 1); e && *e == '\n') ++end;
    size_t n = 64;
    const uint8_t* next = file.At(end, n);
    if (!next) n = file.Span(end, n, &next);
    if (n == 0 || !MoreDocument(next, n)) return FileEnd::At(end);
    from = end;
  }
  return {};
}
