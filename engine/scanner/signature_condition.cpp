#include "engine/scanner/signature_condition.h"

#include <algorithm>
#include <cstring>

namespace {

uint64_t LoadLE(const uint8_t* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v |= uint64_t(p[i]) << (8 * i);
  return v;
}

// Width of one comparison of the kinds that compare at fixed positions; 0 when
// the condition's data is too short for its kind.
size_t ComparisonWidth(const CSignatureCondition& c) {
  switch (c.Kind) {
    case SIGCOND_BYTE:
    case SIGCOND_WORD:
    case SIGCOND_DWORD:
    case SIGCOND_QWORD:
      return c.Data.size() >= c.Kind ? c.Kind : 0;
    case SIGCOND_BYTE_RANGE:
      return c.Data.size() >= 2 ? 1 : 0;
    case SIGCOND_WORD_RANGE:
      return c.Data.size() >= 4 ? 2 : 0;
    case SIGCOND_STRING:
      return c.Data.size() >= c.DataLength ? c.DataLength : 0;
    case SIGCOND_MASKED:
    case SIGCOND_MASKED_CLEAR:
      return c.Data.size() == SIG_MASKED_DATA_BYTES ? c.MaskedLength() : 0;
    default:
      return 0;
  }
}

bool KnownKind(uint32_t kind) {
  switch (kind) {
    case SIGCOND_BYTE: case SIGCOND_WORD: case SIGCOND_DWORD: case SIGCOND_QWORD:
    case SIGCOND_BYTE_RANGE: case SIGCOND_WORD_RANGE: case SIGCOND_STRING:
    case SIGCOND_FIND: case SIGCOND_FIND_NOCASE: case SIGCOND_MASKED: case SIGCOND_MASKED_CLEAR:
      return true;
    default:
      return false;
  }
}

// One comparison at p, whose ComparisonWidth bytes are known to be readable.
bool HoldsAt(const CSignatureCondition& c, const uint8_t* p) {
  switch (c.Kind) {
    case SIGCOND_BYTE:
    case SIGCOND_WORD:
    case SIGCOND_DWORD:
    case SIGCOND_QWORD:
      return LoadLE(p, c.Kind) == LoadLE(c.Data.data(), c.Kind);
    case SIGCOND_BYTE_RANGE:
      return p[0] >= c.Data[0] && p[0] <= c.Data[1];
    case SIGCOND_WORD_RANGE: {
      uint64_t v = LoadLE(p, 2);
      return v >= LoadLE(c.Data.data(), 2) && v <= LoadLE(c.Data.data() + 2, 2);
    }
    case SIGCOND_STRING:
      // A string of no bytes (a damaged signature file) holds anywhere.
      return c.DataLength == 0 || std::memcmp(p, c.Data.data(), c.DataLength) == 0;
    case SIGCOND_MASKED: {
      const uint8_t* pattern = c.Pattern();
      const uint8_t* mask = c.Mask();
      for (size_t j = 0, n = c.MaskedLength(); j < n; ++j)
        if (mask[j] && p[j] != pattern[j]) return false;
      return true;
    }
    case SIGCOND_MASKED_CLEAR: {
      const uint8_t* pattern = c.Pattern();
      const uint8_t* mask = c.Mask();
      for (size_t j = 0, n = c.MaskedLength(); j < n; ++j)
        if (mask[j] && (pattern[j] & mask[j] & p[j])) return false;
      return true;
    }
    default:
      return true;
  }
}

bool HoldsWithRepeats(const CSignatureCondition& c, const uint8_t* p) {
  for (size_t i = 0; i <= c.Repeat; ++i)
    if (!HoldsAt(c, p + i)) return false;
  return true;
}

bool FindInSector(const CSignatureCondition& c, const uint8_t* sector, size_t available) {
  size_t n = std::min<size_t>(c.DataLength, c.Data.size());
  size_t limit = std::min(available, SIG_SECTOR_BYTES);
  if (n == 0) return true;
  if (n > limit) return false;
  const uint8_t* s = c.Data.data();
  for (size_t i = 0; i + n <= limit; ++i) {
    size_t k = 0;
    if (c.Kind == SIGCOND_FIND) {
      while (k < n && sector[i + k] == s[k]) ++k;
    } else {
      while (k < n && (sector[i + k] | 0x20) == (s[k] | 0x20)) ++k;
    }
    if (k == n) return true;
  }
  return false;
}

}  // namespace

size_t CSignatureCondition::MaskedLength() const {
  return DataLength == 0 || DataLength > SIG_SECTOR_BYTES ? SIG_SECTOR_BYTES : DataLength;
}

CSignatureCondition CSignatureCondition::Masked(uint32_t kind, int32_t offset, const uint8_t* pattern,
                                                const uint8_t* mask, size_t length) {
  CSignatureCondition c;
  c.Kind = kind;
  c.Offset = offset;
  length = std::min(length, SIG_SECTOR_BYTES);
  c.DataLength = static_cast<uint16_t>(length);
  c.Data.assign(SIG_MASKED_DATA_BYTES, 0);
  if (length != 0) {  // an empty pattern may come without its bytes
    std::memcpy(c.Data.data(), pattern, length);
    std::memcpy(c.Data.data() + SIG_SECTOR_BYTES, mask, length);
  }
  return c;
}

size_t ConditionSpan(const CSignatureCondition& condition) {
  return ComparisonWidth(condition) + condition.Repeat;
}

bool SignatureWithinBounds(const CSignature& signature) {
  if (signature.Conditions.empty() || signature.Conditions.size() > SIG_MAX_CONDITIONS) return false;
  for (const auto& c : signature.Conditions) {
    if (c.Data.size() > SIG_MASKED_DATA_BYTES) return false;
    const bool find = c.Kind == SIGCOND_FIND || c.Kind == SIGCOND_FIND_NOCASE;
    if ((find ? c.Data.size() : ConditionSpan(c)) > SIG_SECTOR_BYTES) return false;
  }
  return true;
}

bool ConditionHolds(const CSignatureCondition& c, const uint8_t* sector, size_t available) {
  if (!KnownKind(c.Kind)) return true;
  if (c.Kind == SIGCOND_FIND || c.Kind == SIGCOND_FIND_NOCASE) return FindInSector(c, sector, available);
  size_t width = ComparisonWidth(c);
  if (width == 0) {
    // A zero-length string or pattern compares nothing; anything else whose
    // data is too short for its kind is malformed.
    bool empty = (c.Kind == SIGCOND_STRING && c.DataLength == 0);
    if (!empty) return false;
  }
  size_t span = width + c.Repeat;
  if (c.Offset >= 0) {
    size_t offset = static_cast<size_t>(c.Offset);
    if (offset > available || span > available - offset) return false;
    return HoldsWithRepeats(c, sector + offset);
  }
  if (c.Offset != -1) return false;
  size_t limit = std::min(available, SIG_SECTOR_BYTES);
  if (span > limit) return false;
  for (size_t s = 0; s + span <= limit; ++s)
    if (HoldsWithRepeats(c, sector + s)) return true;
  return false;
}

bool SignatureHolds(const CSignature& signature, const uint8_t* sector, size_t available) {
  for (const auto& c : signature.Conditions)
    if (!ConditionHolds(c, sector, available)) return false;
  return true;
}

// ---------------------------------------------------------------------------
// The registry's text form.

namespace {

// Leading decimal digits as a non-negative number, saturated; -1 for a
// negative number. Like the C library's conversion, other text gives 0.
int64_t ParseDecimal(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = std::min<int64_t>(v * 10 + (s[i] - '0'), 1 << 30);
  return negative && v ? -1 : v;
}

int64_t ParseHex(std::string_view s) {
  size_t i = 0;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) i = 2;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    char ch = s[i];
    int d;
    if (ch >= '0' && ch <= '9') d = ch - '0';
    else if (ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
    else break;
    v = std::min<int64_t>(v * 16 + d, 1 << 30);
  }
  return v;
}

// The low bytes of the UTF-16 code units of UTF-8 text (invalid bytes count
// as one unit each).
std::vector<uint8_t> LowBytesOfUtf16(std::string_view s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    uint32_t cp = b;
    size_t len = 1;
    if (b >= 0xC0 && b < 0xE0) { cp = b & 0x1F; len = 2; }
    else if (b >= 0xE0 && b < 0xF0) { cp = b & 0x0F; len = 3; }
    else if (b >= 0xF0 && b < 0xF8) { cp = b & 0x07; len = 4; }
    bool ok = len == 1 || i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (cb & 0x3F);
    }
    if (!ok) { cp = b; len = 1; }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<uint8_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<uint8_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<uint8_t>(cp));
    }
    i += len;
  }
  return out;
}

}  // namespace

std::optional<CSignature> CompileSignatureText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string t;
  for (char ch : text)
    if (ch != ' ' && ch != '\t') t.push_back(ch);
  size_t first = t.find_first_not_of(',');
  t = first == std::string::npos ? std::string() : t.substr(first);
  t.push_back(',');

  uint8_t pattern[SIG_SECTOR_BYTES] = {};
  uint8_t mask[SIG_SECTOR_BYTES] = {};
  size_t length = 0;
  size_t selected = 0;

  auto setByte = [&](int64_t offset, int64_t v) {
    if (offset < 0 || offset >= int64_t(SIG_SECTOR_BYTES) || v < 0 || v >= 256) return;
    pattern[offset] = static_cast<uint8_t>(v);
    mask[offset] = 255;
    length = std::max(length, size_t(offset) + 1);
    ++selected;
  };

  size_t pos = 0;
  while (pos < t.size()) {
    size_t comma = t.find(',', pos);
    std::string_view item(t.data() + pos, comma - pos);
    pos = comma + 1;
    int64_t offset = 0;
    std::string_view value = item;
    size_t eq = item.find('=');
    if (eq != std::string_view::npos) {
      offset = ParseDecimal(item.substr(0, eq));
      value = item.substr(eq + 1);
    }
    while (!value.empty() && value.back() == ',') value.remove_suffix(1);
    if (value.empty() || offset < 0) continue;
    char lead = value.front();
    if (lead == '"' || lead == '\'') {
      if (value.size() < 2) continue;
      std::vector<uint8_t> bytes = LowBytesOfUtf16(value.substr(1, value.size() - 2));
      size_t n = bytes.size();
      if (size_t(offset) + n < SIG_SECTOR_BYTES) {
        for (size_t k = 0; k < n; ++k) {
          pattern[offset + k] = bytes[k];
          mask[offset + k] = 255;
        }
        length = std::max(length, size_t(offset) + n);
        selected += n;
      }
    } else if (lead == '#') {
      value.remove_prefix(value.find_first_not_of('#') == std::string_view::npos ? value.size()
                                                                                  : value.find_first_not_of('#'));
      setByte(offset, ParseDecimal(value));
    } else if (lead == '$' || lead == 'x') {
      size_t skip = value.find_first_not_of(lead);
      value.remove_prefix(skip == std::string_view::npos ? value.size() : skip);
      setByte(offset, ParseHex(value));
    }
  }
  if (selected == 0) return std::nullopt;
  CSignature signature;
  signature.Text = std::string(text);
  signature.Conditions.push_back(CSignatureCondition::Masked(SIGCOND_MASKED, 0, pattern, mask, length));
  return signature;
}
