// Numbers as the command line takes them, the same for every option:
// decimal digits, or "0x" and hexadecimal digits; no sign, no blanks, no
// other text, nothing past 2^64 - 1.
#pragma once

#include <cstdint>
#include <string_view>

namespace qmcli {

// A whole number; false for anything else ("", " 5", "5 ", "+5", "-1",
// "1e3", "0x", a number too large).
bool ParseUnsigned(std::string_view text, uint64_t& value);

// A size in kilobytes, with an optional unit after the number: "KB" (the
// default) or "MB", in any letter case ("100", "100KB", "2mb"). `value` is the
// number as written and `megabytes` tells the unit. The number is decimal.
bool ParseKilobytes(std::string_view text, uint64_t& value, bool& megabytes);

}  // namespace qmcli
