#include "services/text.h"

namespace qm {

std::string CodePointToUtf8(char32_t cp) {
  std::string out;
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
  return out;
}

namespace {
template <class Get>
std::string Utf16Decode(size_t units, Get get) {
  std::string out;
  out.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    char32_t u = get(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < units) {
        char32_t lo = get(i + 1);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          out += CodePointToUtf8(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
          ++i;
          continue;
        }
      }
      out += CodePointToUtf8(0xFFFD);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      out += CodePointToUtf8(0xFFFD);
    } else if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else {
      out += CodePointToUtf8(u);
    }
  }
  return out;
}
}  // namespace

std::string Utf16ToUtf8(const char16_t* text, size_t units) {
  if (!text) return {};
  return Utf16Decode(units, [text](size_t i) { return static_cast<char32_t>(text[i]); });
}

std::string Utf16ToUtf8(std::u16string_view text) { return Utf16ToUtf8(text.data(), text.size()); }

std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t units) {
  if (!bytes) return {};
  return Utf16Decode(units, [bytes](size_t i) {
    return static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  });
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  while (i < n) {
    uint8_t b = byte(i);
    char32_t cp = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > n) {
        cp = 0xFFFD;
        len = 1;
      } else {
        cp = b & (0x7F >> len);
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
          uint8_t c = byte(i + k);
          if ((c & 0xC0) != 0x80) { ok = false; break; }
          cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) { cp = 0xFFFD; len = 1; }
        else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

char32_t Cp1252ToCodePoint(uint8_t b) {
  static const char16_t high[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  if (b >= 0x80 && b < 0xA0) return high[b - 0x80];
  return b;
}

std::string Cp1252ToUtf8(const uint8_t* bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += CodePointToUtf8(Cp1252ToCodePoint(bytes[i]));
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace qm
