// Type-safe printf-style formatting for the system's own texts.
//
// Formats may come from language files (data), so the formatter never reads
// an argument that was not passed and never writes through one: a missing
// argument formats as nothing, a mismatched one is converted sensibly, and
// "%n" is never honoured.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qm {

class FormatArg {
public:
  enum class Kind { Signed, Unsigned, Real, Text };

  template <class T>
    requires(std::is_integral_v<T> && std::is_signed_v<T>)
  FormatArg(T v) : kind_(Kind::Signed), i_(static_cast<int64_t>(v)) {}
  template <class T>
    requires(std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, bool>)
  FormatArg(T v) : kind_(Kind::Unsigned), u_(static_cast<uint64_t>(v)) {}
  FormatArg(bool v) : kind_(Kind::Unsigned), u_(v ? 1 : 0) {}
  FormatArg(double v) : kind_(Kind::Real), d_(v) {}
  FormatArg(std::string_view v) : kind_(Kind::Text), s_(v) {}
  FormatArg(const std::string& v) : kind_(Kind::Text), s_(v) {}
  FormatArg(const char* v) : kind_(Kind::Text), s_(v ? v : "") {}

  Kind kind() const { return kind_; }
  int64_t AsSigned() const;
  uint64_t AsUnsigned() const;
  double AsReal() const;
  std::string AsText() const;

private:
  Kind kind_;
  int64_t i_ = 0;
  uint64_t u_ = 0;
  double d_ = 0;
  std::string_view s_;
};

// Formats with the printf conversions the system's texts use: %d %i %u %x %X
// %o %s %S %c %C %f %I64d %I64u %I64x %I64X %lld %llu %llx %ld %lu %%, with
// flags (-, 0, +, blank), field width and precision (given as digits; "*" is
// not supported and prints nothing).
std::string FormatV(std::string_view format, std::span<const FormatArg> args);

// The conversion directives of a format in order ("%d", "%I64d", "%-4s"),
// "%%" left out. A translated format must keep those of its original.
std::vector<std::string> FormatDirectives(std::string_view format);

template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatV(format, {});
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return FormatV(format, list);
  }
}

}  // namespace qm
