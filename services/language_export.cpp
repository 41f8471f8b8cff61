#include "services/language_export.h"

#include "services/languages.h"
#include "services/strings.h"

namespace {

void AddLine(std::string& out, const std::string& line) { out += line + "\r\n"; }

}  // namespace

std::string BuiltInLanguageFileText() {
  std::string out = "\xEF\xBB\xBF";
  AddLine(out, "; Quillmore interface language.");
  AddLine(out, "; Translate the text after each \"=\"; keep the numbers, the keys and every");
  AddLine(out, "; format directive (%d, %s, %I64d ...) as they are, in the same order.");
  AddLine(out, "; \\n, \\t and \\r stand for a line break, a tab and a carriage return.");
  AddLine(out, "");
  AddLine(out, "[LanguageInfo]");
  AddLine(out, "TranslatorName=");
  AddLine(out, "");
  AddLine(out, "[StringsTable]");
  for (const auto& s : BuiltInStrings()) AddLine(out, std::to_string(s.Number) + "=" + EscapeLanguageText(s.Text));
  for (const auto& section : BuiltInSections()) {
    AddLine(out, "");
    AddLine(out, std::string("[") + section.Name + "]");
    for (const auto& e : section.Entries) AddLine(out, std::string(e.Key) + "=" + EscapeLanguageText(e.Text));
  }
  return out;
}
