#include "services/format.h"

#include <cinttypes>
#include <cstdio>
#include <optional>

#include "services/text.h"

namespace qm {

int64_t FormatArg::AsSigned() const {
  switch (kind_) {
    case Kind::Signed: return i_;
    case Kind::Unsigned: return static_cast<int64_t>(u_);
    case Kind::Real: return static_cast<int64_t>(d_);
    case Kind::Text: return 0;
  }
  return 0;
}

uint64_t FormatArg::AsUnsigned() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<uint64_t>(i_);
    case Kind::Unsigned: return u_;
    case Kind::Real: return static_cast<uint64_t>(d_);
    case Kind::Text: return 0;
  }
  return 0;
}

double FormatArg::AsReal() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<double>(i_);
    case Kind::Unsigned: return static_cast<double>(u_);
    case Kind::Real: return d_;
    case Kind::Text: return 0;
  }
  return 0;
}

std::string FormatArg::AsText() const {
  switch (kind_) {
    case Kind::Signed: return std::to_string(i_);
    case Kind::Unsigned: return std::to_string(u_);
    case Kind::Real: return std::to_string(d_);
    case Kind::Text: return std::string(s_);
  }
  return {};
}

namespace {

struct Field {
  bool left = false, zero = false, plus = false, blank = false;
  int width = 0;
  int precision = -1;
  int bits = 32;  // width of the integer conversion: 32 or 64
};

std::string Pad(std::string body, const Field& field, bool numeric) {
  if (static_cast<int>(body.size()) >= field.width) return body;
  const size_t fill = static_cast<size_t>(field.width) - body.size();
  if (field.left) return body + std::string(fill, ' ');
  if (field.zero && numeric) {
    size_t sign = (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
    return body.substr(0, sign) + std::string(fill, '0') + body.substr(sign);
  }
  return std::string(fill, ' ') + body;
}

std::string FormatInteger(const FormatArg& arg, char conv, const Field& field) {
  char buf[80];
  if (conv == 'd' || conv == 'i') {
    int64_t v = arg.AsSigned();
    if (field.bits == 32) v = static_cast<int32_t>(v);
    std::snprintf(buf, sizeof buf, "%" PRId64, v);
    std::string s = buf;
    const size_t sign = (v < 0) ? 1 : 0;
    if (field.precision > static_cast<int>(s.size() - sign))
      s.insert(sign, static_cast<size_t>(field.precision) - (s.size() - sign), '0');
    if (v >= 0 && field.plus) s = "+" + s;
    else if (v >= 0 && field.blank) s = " " + s;
    return s;
  }
  uint64_t v = arg.AsUnsigned();
  if (field.bits == 32) v = static_cast<uint32_t>(v);
  switch (conv) {
    case 'x': std::snprintf(buf, sizeof buf, "%" PRIx64, v); break;
    case 'X': std::snprintf(buf, sizeof buf, "%" PRIX64, v); break;
    case 'o': std::snprintf(buf, sizeof buf, "%" PRIo64, v); break;
    default: std::snprintf(buf, sizeof buf, "%" PRIu64, v); break;
  }
  std::string s = buf;
  if (field.precision > static_cast<int>(s.size())) s.insert(0, static_cast<size_t>(field.precision) - s.size(), '0');
  return s;
}

// One conversion directive: its fields and conversion character, and the
// index of that character. Null when the format ends inside the directive.
struct Directive {
  Field field;
  bool star = false;
  char conv = 0;
  size_t end = 0;
};

std::optional<Directive> ParseDirective(std::string_view format, size_t i) {
  Directive d;
  Field& field = d.field;
  const size_t n = format.size();
  size_t j = i + 1;
  for (; j < n; ++j) {
    char f = format[j];
    if (f == '-') field.left = true;
    else if (f == '0') field.zero = true;
    else if (f == '+') field.plus = true;
    else if (f == ' ') field.blank = true;
    else if (f == '#') {}
    else break;
  }
  while (j < n && (format[j] >= '0' && format[j] <= '9')) {
    field.width = std::min(field.width * 10 + (format[j] - '0'), 4096);
    ++j;
  }
  if (j < n && format[j] == '*') { d.star = true; ++j; }
  if (j < n && format[j] == '.') {
    ++j;
    field.precision = 0;
    while (j < n && format[j] >= '0' && format[j] <= '9') {
      field.precision = std::min(field.precision * 10 + (format[j] - '0'), 4096);
      ++j;
    }
    if (j < n && format[j] == '*') { d.star = true; ++j; }
  }
  // Length modifiers.
  if (j + 2 < n && format[j] == 'I' && format[j + 1] == '6' && format[j + 2] == '4') {
    field.bits = 64;
    j += 3;
  } else if (j + 2 < n && format[j] == 'I' && format[j + 1] == '3' && format[j + 2] == '2') {
    j += 3;
  } else {
    while (j < n && (format[j] == 'l' || format[j] == 'h' || format[j] == 'z' || format[j] == 'j' ||
                     format[j] == 't' || format[j] == 'w' || format[j] == 'L' || format[j] == 'q')) {
      if (format[j] == 'l' || format[j] == 'z' || format[j] == 'j' || format[j] == 't' || format[j] == 'q') field.bits = 64;
      ++j;
    }
  }
  if (j >= n) return std::nullopt;
  d.conv = format[j];
  d.end = j;
  return d;
}

}  // namespace

std::vector<std::string> FormatDirectives(std::string_view format) {
  std::vector<std::string> directives;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      ++i;
      continue;
    }
    auto d = ParseDirective(format, i);
    if (!d) {
      directives.emplace_back(format.substr(i));
      break;
    }
    directives.emplace_back(format.substr(i, d->end + 1 - i));
    i = d->end;
  }
  return directives;
}

std::string FormatV(std::string_view format, std::span<const FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 16);
  size_t next = 0;
  const size_t n = format.size();
  for (size_t i = 0; i < n; ++i) {
    char c = format[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (i + 1 >= n) break;  // a lone '%' at the end prints nothing
    if (format[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    auto directive = ParseDirective(format, i);
    if (!directive) break;
    const Field& field = directive->field;
    const bool star = directive->star;
    const char conv = directive->conv;
    i = directive->end;
    if (star) continue;  // widths from arguments are not supported
    if (conv == 'n') continue;  // never honoured
    const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
    switch (conv) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        ++next;
        if (!arg) break;
        if (arg->kind() == FormatArg::Kind::Text) {
          out += Pad(arg->AsText(), field, false);
        } else {
          out += Pad(FormatInteger(*arg, conv, field), field, !field.left);
        }
        break;
      case 's': case 'S': {
        ++next;
        if (!arg) break;
        std::string text = arg->AsText();
        if (field.precision >= 0 && static_cast<size_t>(field.precision) < text.size()) text.resize(static_cast<size_t>(field.precision));
        out += Pad(text, field, false);
        break;
      }
      case 'c': case 'C': {
        ++next;
        if (!arg) break;
        std::string text;
        if (arg->kind() == FormatArg::Kind::Text) text = arg->AsText().substr(0, 1);
        else {
          uint64_t cp = arg->AsUnsigned();
          if (cp != 0) text = CodePointToUtf8(static_cast<char32_t>(cp > 0x10FFFF ? 0xFFFD : cp));
        }
        out += Pad(text, field, false);
        break;
      }
      case 'f': case 'F': case 'g': case 'G': case 'e': case 'E': {
        ++next;
        if (!arg) break;
        const double v = arg->AsReal();
        char fmt[8] = {'%', '.', '*', conv, 0};
        char buf[64];
        std::snprintf(buf, sizeof buf, fmt, field.precision < 0 ? 6 : std::min(field.precision, 30), v);
        out += Pad(buf, field, true);
        break;
      }
      default:
        // Unknown conversion: nothing is printed and no argument is used.
        break;
    }
  }
  return out;
}

}  // namespace qm
