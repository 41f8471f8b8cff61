// The language-file reader: a file's bytes in any of the accepted encodings
// (UTF-8 with or without a byte-order mark, UTF-16 with one), every section
// and key looked up, and every value's escapes undone, as switching to a
// language does.
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "services/ini_file.h"
#include "services/languages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const CIniFile file = CIniFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const std::string& section : file.Sections()) {
    for (const auto& [key, value] : file.Entries(section)) {
      if (!file.Get(section, key)) __builtin_trap();  // a listed key must be found
      const std::string text = UnescapeLanguageText(value);
      (void)EscapeLanguageText(text);
    }
  }
  return 0;
}
