#include "engine/scanner/file_ends/document_title.h"

#include <cstring>
#include <vector>

#include "engine/scanner/scan_bytes.h"
#include "services/text.h"

namespace {

// Whitespace runs (and control characters, which have no place in a title)
// become one blank; leading and trailing blanks go; the text is cut at
// kMaxTitleBytes on a character boundary.
std::string Tidy(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == ' ') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.size() > kMaxTitleBytes) {
    size_t cut = kMaxTitleBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// UTF-16 code units from big-endian bytes (an odd last byte is dropped).
std::string Utf16BeToUtf8(std::string_view bytes) {
  std::vector<uint8_t> le(bytes.size() & ~size_t{1});
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    le[i] = static_cast<uint8_t>(bytes[i + 1]);
    le[i + 1] = static_cast<uint8_t>(bytes[i]);
  }
  return qm::Utf16LeBytesToUtf8(le.data(), le.size() / 2);
}

// PDFDocEncoding: ASCII below 0x80, Latin-1 from 0xA1, the euro at 0xA0;
// the typographic marks of 0x80-0x9F are not told apart.
std::string PdfDocToUtf8(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) out += c;
    else if (u == 0xA0) out += qm::CodePointToUtf8(0x20AC);
    else if (u > 0xA0 && u != 0xAD) out += qm::CodePointToUtf8(u);
    else out += '_';
  }
  return out;
}

// The bytes of a literal string from just after its "(".
std::string LiteralBytes(std::string_view raw) {
  std::string out;
  int depth = 1;
  for (size_t i = 0; i < raw.size() && out.size() < 4 * kMaxTitleBytes; ++i) {
    char c = raw[i];
    if (c == '\\') {
      if (++i == raw.size()) break;
      c = raw[i];
      switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '\r':
          if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
          break;
        case '\n':
          break;
        default:
          if (c >= '0' && c <= '7') {
            int v = c - '0';
            for (int k = 0; k < 2 && i + 1 < raw.size() && raw[i + 1] >= '0' && raw[i + 1] <= '7'; ++k)
              v = v * 8 + (raw[++i] - '0');
            out += static_cast<char>(v & 0xFF);
          } else {
            out += c;  // \( \) \\ and an unknown escape stand for the character
          }
      }
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) break;
    out += c;
  }
  return out;
}

// The bytes of a hex string from just after its "<".
std::string HexBytes(std::string_view raw) {
  std::string out;
  int high = -1;
  for (size_t i = 0; i < raw.size() && raw[i] != '>' && out.size() < 4 * kMaxTitleBytes; ++i) {
    const int v = HexValue(raw[i]);
    if (v < 0) continue;  // white space, or junk a damaged file holds
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high << 4 | v);
      high = -1;
    }
  }
  if (high >= 0) out += static_cast<char>(high << 4);
  return out;
}

// One XML entity or character reference at `p` (just after its "&"); adds
// its text and returns the bytes it took, or 0 when it is none.
size_t XmlEntity(std::string_view p, std::string& out) {
  static const struct {
    const char* name;
    char value;
  } kNamed[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
  for (const auto& e : kNamed)
    if (p.substr(0, std::strlen(e.name)) == e.name) {
      out += e.value;
      return std::strlen(e.name);
    }
  if (p.empty() || p[0] != '#') return 0;
  const bool hex = p.size() > 1 && (p[1] == 'x' || p[1] == 'X');
  size_t i = hex ? 2 : 1;
  uint32_t cp = 0;
  size_t digits = 0;
  for (; i < p.size() && digits < 8; ++i, ++digits) {
    const int v = hex ? HexValue(p[i]) : (p[i] >= '0' && p[i] <= '9' ? p[i] - '0' : -1);
    if (v < 0) break;
    cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
  }
  if (!digits || i == p.size() || p[i] != ';') return 0;
  const bool valid = cp != 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
  out += valid ? qm::CodePointToUtf8(static_cast<char32_t>(cp)) : "_";
  return i + 1;
}

}  // namespace

std::string XmlTitle(std::string_view xml) {
  size_t at = 0;
  for (;;) {
    at = xml.find("<dc:title", at);
    if (at == std::string_view::npos) return {};
    at += 9;
    if (at < xml.size() && (xml[at] == '>' || xml[at] == ' ' || xml[at] == '\t' || xml[at] == '\r' || xml[at] == '\n'))
      break;
  }
  const size_t open = xml.find('>', at);
  if (open == std::string_view::npos || xml[open - 1] == '/') return {};
  const size_t close = xml.find("</dc:title>", open);
  if (close == std::string_view::npos) return {};
  std::string_view text = xml.substr(open + 1, close - open - 1);
  std::string out;
  for (size_t i = 0; i < text.size() && out.size() < 4 * kMaxTitleBytes; ++i) {
    if (text[i] == '&') {
      if (size_t n = XmlEntity(text.substr(i + 1), out)) {
        i += n;
        continue;
      }
    }
    out += text[i];
  }
  return Tidy(out);
}

std::string PdfTextString(std::string_view raw) {
  if (raw.empty() || (raw[0] != '(' && raw[0] != '<')) return {};
  if (raw.size() > 1 && raw[0] == '<' && raw[1] == '<') return {};  // a dictionary, not a string
  const std::string bytes = raw[0] == '(' ? LiteralBytes(raw.substr(1)) : HexBytes(raw.substr(1));
  std::string_view b(bytes);
  if (b.size() >= 2 && b[0] == '\xFE' && b[1] == '\xFF') return Tidy(Utf16BeToUtf8(b.substr(2)));
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return Tidy(b.substr(3));
  return Tidy(PdfDocToUtf8(b));
}

std::string PropertySetTitle(const uint8_t* stream, size_t bytes) {
  static const uint8_t kSummaryInformation[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                                  0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  constexpr uint16_t VT_I2 = 2, VT_LPSTR = 0x1E, VT_LPWSTR = 0x1F;
  constexpr uint32_t PID_CODEPAGE = 1, PID_TITLE = 2;
  if (!stream || bytes < 48 || Le16(stream) != 0xFFFE || Le32(stream + 24) == 0) return {};
  if (std::memcmp(stream + 28, kSummaryInformation, 16) != 0) return {};
  const uint64_t section = Le32(stream + 44);
  if (section + 8 > bytes) return {};
  const uint8_t* s = stream + section;
  const uint64_t room = bytes - section;
  const uint64_t count = Le32(s + 4);
  if (count > (room - 8) / 8) return {};
  uint16_t codePage = 1252;
  const uint8_t* title = nullptr;
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t id = Le32(s + 8 + 8 * i);
    const uint64_t at = Le32(s + 12 + 8 * i);
    if (at + 8 > room) continue;
    if (id == PID_CODEPAGE && Le16(s + at) == VT_I2) codePage = Le16(s + at + 4);
    if (id == PID_TITLE) title = s + at;
  }
  if (!title) return {};
  const uint16_t type = Le16(title);
  const uint64_t length = Le32(title + 4);  // characters, the last one a NUL
  const uint64_t left = room - static_cast<uint64_t>(title + 8 - s);
  const bool wide = type == VT_LPWSTR || (type == VT_LPSTR && codePage == 1200);
  if (type != VT_LPSTR && type != VT_LPWSTR) return {};
  uint64_t units = type == VT_LPWSTR ? length : (wide ? length / 2 : length);
  units = std::min<uint64_t>(units, wide ? left / 2 : left);
  units = std::min<uint64_t>(units, 4 * kMaxTitleBytes);
  const uint8_t* p = title + 8;
  if (wide) {
    while (units && Le16(p + 2 * (units - 1)) == 0) --units;
    return Tidy(qm::Utf16LeBytesToUtf8(p, units));
  }
  while (units && p[units - 1] == 0) --units;
  std::string_view text(reinterpret_cast<const char*>(p), units);
  if (codePage == 65001) return Tidy(text);
  if (codePage == 1252) return Tidy(qm::Cp1252ToUtf8(p, units));
  // Another code page: its letters beyond ASCII are not told apart.
  std::string ascii(text);
  for (char& c : ascii)
    if (static_cast<unsigned char>(c) >= 0x80) c = '_';
  return Tidy(ascii);
}
