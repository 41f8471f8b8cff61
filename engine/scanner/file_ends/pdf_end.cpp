// PDF: the last "%%EOF" of the document. Each incremental update appends
// objects or a cross-reference section after an "%%EOF", so an "%%EOF"
// followed (after its line end) by an object, "xref" or a comment is not
// the last one. The document's title comes from its Info dictionary, which
// the last trailer names.
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/scanner/file_end.h"
#include "engine/scanner/file_ends/document_title.h"

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

// The last `needle` that starts in [from, to), or kNotFound.
uint64_t FindLast(CFileBytes& file, uint64_t from, uint64_t to, std::string_view needle) {
  uint64_t last = CFileBytes::kNotFound;
  for (uint64_t at = from; at < to;) {
    const uint64_t hit = file.Find(at, to - at, needle);
    if (hit == CFileBytes::kNotFound) break;
    last = hit;
    at = hit + 1;
  }
  return last;
}

// A decimal number at p[*i] (at most 10 digits), skipping white space first.
bool Number(const uint8_t* p, size_t n, size_t* i, uint64_t* value) {
  while (*i < n && Space(p[*i])) ++*i;
  size_t digits = 0;
  *value = 0;
  for (; *i < n && std::isdigit(p[*i]) && digits < 10; ++*i, ++digits) *value = *value * 10 + (p[*i] - '0');
  return digits != 0;
}

// The Info dictionary's /Title, for a document that ends at `end`. The
// trailer (or cross-reference stream) that names it lies near the end; an
// encrypted document's strings cannot be read.
std::string PdfTitle(CFileBytes& file, uint64_t end) {
  constexpr uint64_t kTrailerBytes = 64 * 1024;
  constexpr size_t kObjectBytes = 16 * 1024;
  const uint64_t tail = end > kTrailerBytes ? end - kTrailerBytes : 0;
  const uint64_t info = FindLast(file, tail, end, "/Info");
  if (info == CFileBytes::kNotFound || FindLast(file, tail, end, "/Encrypt") != CFileBytes::kNotFound) return {};
  size_t n = 0;
  const uint8_t* p = nullptr;
  n = file.Span(info + 5, 32, &p);
  size_t i = 0;
  uint64_t number = 0, generation = 0;
  if (!Number(p, n, &i, &number) || !Number(p, n, &i, &generation)) return {};
  while (i < n && Space(p[i])) ++i;
  if (i == n || p[i] != 'R') return {};
  // The object itself: the last definition of it in the document.
  const std::string head = std::to_string(number) + " " + std::to_string(generation) + " obj";
  uint64_t object = CFileBytes::kNotFound;
  for (uint64_t at = 0; at < end;) {
    const uint64_t hit = file.Find(at, end - at, head);
    if (hit == CFileBytes::kNotFound) break;
    const uint8_t* before = hit ? file.At(hit - 1, 1) : nullptr;
    if (!before || !std::isdigit(*before)) object = hit;
    at = hit + 1;
  }
  if (object == CFileBytes::kNotFound) return {};
  n = static_cast<size_t>(std::min<uint64_t>(kObjectBytes, end - object));
  p = file.At(object, n);
  if (!p) return {};
  std::string_view text(reinterpret_cast<const char*>(p), n);
  text = text.substr(0, text.find("endobj"));
  size_t title = text.find("/Title");
  if (title == std::string_view::npos) return {};
  title += 6;
  while (title < text.size() && Space(static_cast<uint8_t>(text[title]))) ++title;
  return PdfTextString(text.substr(title));
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
    if (n == 0 || !MoreDocument(next, n)) {
      FileEnd found = FileEnd::At(end);
      found.Label = PdfTitle(file, end);
      return found;
    }
    from = end;
  }
  return {};
}
