// The built-in string table, its export, and the shipped language files.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "services/format.h"
#include "services/ini_file.h"
#include "services/language_export.h"
#include "services/languages.h"
#include "services/strings.h"
#include "tests/support/test_support.h"

namespace {

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = qmtest::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
  return n;
}

// What a translation lacks or changes against the English file: missing or
// extra keys and sections, empty values, format directives or escapes that
// differ. Empty when the translation is complete.
std::vector<std::string> TranslationProblems(const CIniFile& english, const CIniFile& translation) {
  std::vector<std::string> problems;
  for (const auto& section : english.Sections()) {
    if (section == "LanguageInfo") continue;
    std::set<std::string> keys;
    for (const auto& [key, text] : english.Entries(section)) {
      keys.insert(key);
      const auto translated = translation.Get(section, key);
      const std::string where = "[" + section + "] " + key;
      if (!translated || translated->empty()) {
        problems.push_back(where + ": missing");
        continue;
      }
      if (qm::FormatDirectives(*translated) != qm::FormatDirectives(text))
        problems.push_back(where + ": format directives differ");
      for (const char* escape : {"\\n", "\\t", "\\r"})
        if (Count(*translated, escape) != Count(text, escape)) problems.push_back(where + ": escapes differ");
    }
    for (const auto& [key, text] : translation.Entries(section))
      if (!keys.count(key)) problems.push_back("[" + section + "] " + key + ": not in the English file");
  }
  for (const auto& section : translation.Sections())
    if (!english.HasSection(section)) problems.push_back("[" + section + "]: not in the English file");
  return problems;
}

}  // namespace

TEST(Strings, EveryNumberTheCodeAsksForHasABuiltInText) {
  // Calls with a literal number anywhere in the program's sources.
  const std::regex call(R"((GetString|SendStatusText)\(\s*(\d+)\s*[,)])");
  std::set<uint32_t> asked;
  for (const char* folder : {"engine", "services", "platform", "cli", "ui"}) {
    const std::filesystem::path root = qmtest::SourcePath(folder);
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      const auto ext = entry.path().extension();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::string text = ReadText(entry.path().string());
      for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
        const uint32_t number = static_cast<uint32_t>(std::stoul((*it)[2].str()));
        asked.insert(number);
        EXPECT_NE(FindBuiltInString(number), nullptr) << entry.path() << " asks for string " << number;
      }
    }
  }
  // The engine's log lines and status texts at least.
  for (uint32_t number : {134u, 135u, 136u, 178u, 182u, 193u, 194u, 202u, 277u, 4355u, 57211u, 57311u, 57313u})
    EXPECT_TRUE(asked.count(number)) << number;
}

TEST(Strings, ExportedEnglishFileHoldsEveryTextAndReadsBackUnchanged) {
  const std::string text = BuiltInLanguageFileText();
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
  const CIniFile ini = CIniFile::Parse(text);
  EXPECT_TRUE(ini.HasSection("LanguageInfo"));
  EXPECT_EQ(ini.Entries("StringsTable").size(), BuiltInStrings().size());
  for (const auto& s : BuiltInStrings()) {
    auto value = ini.Get("StringsTable", std::to_string(s.Number));
    ASSERT_TRUE(value) << s.Number;
    EXPECT_EQ(UnescapeLanguageText(*value), s.Text) << s.Number;
  }
  for (const auto& section : BuiltInSections())
    for (const auto& e : section.Entries) EXPECT_EQ(UnescapeLanguageText(*ini.Get(section.Name, e.Key)), e.Text);

  // The shipped English file is that export, so it never falls behind.
  EXPECT_EQ(ReadText(qmtest::SourcePath("data/Languages/English.lng")), text)
      << "regenerate it: quillmore-cli export-language data/Languages/English.lng";
}

TEST(Strings, GermanTranslationIsCompleteAndKeepsEveryDirective) {
  const CIniFile english = CIniFile::Parse(BuiltInLanguageFileText());
  auto german = CIniFile::Load(qmtest::SourcePath("data/Languages/Deutsch.lng"));
  ASSERT_TRUE(german);
  const auto problems = TranslationProblems(english, *german);
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  EXPECT_FALSE(german->Get("LanguageInfo", "TranslatorName").value_or("").empty());

  // The check itself catches a missing key, a changed directive and a lost
  // escape.
  std::string broken = ReadText(qmtest::SourcePath("data/Languages/Deutsch.lng"));
  broken = std::regex_replace(broken, std::regex("\r?\n182=[^\r\n]*"), "");
  broken = std::regex_replace(broken, std::regex("%d Ordner"), "%s Ordner");
  broken = std::regex_replace(broken, std::regex("\\\\nProtokoll"), " Protokoll");
  const auto found = TranslationProblems(english, CIniFile::Parse(broken));
  EXPECT_EQ(found, (std::vector<std::string>{"[StringsTable] 136: format directives differ",
                                             "[StringsTable] 182: missing", "[StringsTable] 32776: escapes differ"}));

  // Every German string is taken as it is.
  CLanguages languages(qmtest::SourcePath("data/Languages"));
  languages.SelectByName("Deutsch");
  size_t same = 0;
  for (const auto& s : BuiltInStrings()) {
    const std::string text = languages.GetString(s.Number);
    EXPECT_EQ(text, UnescapeLanguageText(*german->Get("StringsTable", std::to_string(s.Number))));
    if (text == s.Text) ++same;
  }
  EXPECT_LT(same, 3u);  // "Name" is German too
}
