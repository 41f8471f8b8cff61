#include "cli/number_parser.h"

#include <charconv>

namespace qmcli {
namespace {

bool ParseDigits(std::string_view digits, int base, uint64_t& value) {
  if (digits.empty()) return false;
  uint64_t v = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (error != std::errc() || end != digits.data() + digits.size()) return false;
  value = v;
  return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

bool ParseUnsigned(std::string_view text, uint64_t& value) {
  // from_chars takes no sign, blank or prefix by itself; only "0x" is ours.
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return ParseDigits(text.substr(2), 16, value);
  return ParseDigits(text, 10, value);
}

bool ParseKilobytes(std::string_view text, uint64_t& value, bool& megabytes) {
  megabytes = EndsWithNoCase(text, "mb");
  if (megabytes || EndsWithNoCase(text, "kb")) text.remove_suffix(2);
  return ParseDigits(text, 10, value);
}

}  // namespace qmcli
