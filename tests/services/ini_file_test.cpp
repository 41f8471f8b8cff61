#include <gtest/gtest.h>

#include "services/ini_file.h"
#include "services/text.h"
#include "tests/support/test_support.h"

namespace {

std::string Utf16LeWithBom(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t u : qm::Utf8ToUtf16(utf8)) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

const std::string kSample =
    "; comment = not a key\r\n"
    "orphan=before any section\r\n"
    "[StringsTable]\r\n"
    "  182 =  Keine Dateien gefunden  \r\n"
    "163=Suchen\r\n"
    "182=second one loses\r\n"
    "this line is garbage\r\n"
    "=no key\r\n"
    "[Broken\r\n"
    "quoted=\"  kept blanks  \"\r\n"
    "[mainmenu]\n"
    "0=&Laufwerk\r"
    "32774=Analyse starten\n"
    "[StringsTable]\n"
    "165=Größe\n"
    "163=ignored repeat\n";

}  // namespace

TEST(IniFile, ReadsSectionsKeysAndValuesTheWayTheProfileReaderDoes) {
  for (const std::string& bytes : {kSample, "\xEF\xBB\xBF" + kSample, Utf16LeWithBom(kSample)}) {
    const CIniFile ini = CIniFile::Parse(bytes);
    EXPECT_EQ(ini.Get("StringsTable", "182"), "Keine Dateien gefunden");
    EXPECT_EQ(ini.Get("stringstable", "163"), "Suchen");
    // A repeated section adds its keys; the first value of a key wins.
    EXPECT_EQ(ini.Get("StringsTable", "165"), "Größe");
    // A damaged section header is ignored: its lines stay in the section before.
    EXPECT_EQ(ini.Get("StringsTable", "quoted"), "  kept blanks  ");
    EXPECT_FALSE(ini.HasSection("Broken"));
    // Lone CR ends a line too; names compare without letter case.
    EXPECT_EQ(ini.Get("MainMenu", "0"), "&Laufwerk");
    EXPECT_EQ(ini.Get("MAINMENU", "32774"), "Analyse starten");
    // Garbage, comments and keys outside a section give nothing.
    EXPECT_FALSE(ini.Get("StringsTable", "this line is garbage"));
    EXPECT_FALSE(ini.Get("StringsTable", ""));
    EXPECT_FALSE(ini.Get("", "orphan"));
    EXPECT_FALSE(ini.Get("Missing", "0"));
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"StringsTable", "mainmenu"}));
    ASSERT_EQ(ini.Entries("StringsTable").size(), 4u);
    EXPECT_EQ(ini.Entries("StringsTable")[0].first, "182");
  }
}

TEST(IniFile, HostileBytesGiveBoundedSaneValues) {
  // A value far beyond the limit is cut to 4096 characters, not bytes: a
  // two-byte letter is never split.
  std::string huge = "[S]\nk=" + std::string(10, 'x');
  for (int i = 0; i < 5000; ++i) huge += "\xC3\xA4";
  huge += "\nnext=after\n";
  CIniFile ini = CIniFile::Parse(huge);
  auto value = ini.Get("S", "k");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->size(), 10 + 2 * (CIniFile::kMaxValueChars - 10));
  EXPECT_EQ(ini.Get("S", "next"), "after");

  // Invalid UTF-8, a NUL inside a line, an odd-length UTF-16 file, lone
  // surrogates: replaced or cut, never a crash.
  std::string damaged = "[S]\nbad=a\xFF\xFE" "b\nnul=left";
  damaged += '\0';
  damaged += "right\n";
  ini = CIniFile::Parse(damaged);
  EXPECT_EQ(ini.Get("S", "bad"), "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
  EXPECT_EQ(ini.Get("S", "nul"), "left");
  std::string utf16 = Utf16LeWithBom("[S]\nk=v\n");
  utf16 += "\x00\xD8" "x";  // unpaired high surrogate, then half a unit
  ini = CIniFile::Parse(utf16);
  EXPECT_EQ(ini.Get("S", "k"), "v");

  // Only brackets and equals signs.
  EXPECT_TRUE(CIniFile::Parse("[[[]]]\n]=[\n=\n[\n").Sections().size() <= 1);
}

TEST(IniFile, LoadReadsAFileAndRefusesWhatCannotBeRead) {
  const std::string path = qmtest::WriteTempFile("lang.lng", std::vector<uint8_t>(kSample.begin(), kSample.end()));
  auto ini = CIniFile::Load(path);
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->Get("StringsTable", "163"), "Suchen");
  EXPECT_FALSE(CIniFile::Load(path + ".missing"));
  EXPECT_FALSE(CIniFile::Load(qmtest::MakeTempDir("qm-ini-dir")));
}
