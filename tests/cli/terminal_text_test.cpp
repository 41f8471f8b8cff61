// The command line's text helpers: escaping for the terminal, display
// widths, and the one number parser.
#include <gtest/gtest.h>

#include "cli/number_parser.h"
#include "cli/progress.h"
#include "cli/terminal_text.h"

using namespace qmcli;

TEST(TerminalSafe, ControlsAreEscapedAndPrintableTextPasses) {
  EXPECT_EQ(TerminalSafe("esc\x1b[31mred.txt"), "esc\\e[31mred.txt");
  EXPECT_EQ(TerminalSafe("two\nlines\r\t"), "two\\nlines\\r\\t");
  EXPECT_EQ(TerminalSafe(std::string("a\0b\x7f", 4)), "a\\x00b\\x7f");
  EXPECT_EQ(TerminalSafe("back\\slash"), "back\\\\slash");
  // C1 controls (U+009B is a one-character CSI) and bidi overrides.
  EXPECT_EQ(TerminalSafe("x\xc2\x9b" "2Jy"), "x\\u009b2Jy");
  EXPECT_EQ(TerminalSafe("evil\xe2\x80\xaetxt.exe"), "evil\\u202etxt.exe");
  // Bytes that are no UTF-8, a sequence cut short, an overlong form.
  EXPECT_EQ(TerminalSafe("a\xff" "b\xc3"), "a\\xffb\\xc3");
  EXPECT_EQ(TerminalSafe("\xc0\xaf"), "\\xc0\\xaf");
  for (const char* printable : {"Brief an Müller.txt", "снег.jpg", "雪の写真.png", "e\xcc\x81", "a b  c", "😀"})
    EXPECT_EQ(TerminalSafe(printable), printable);
  EXPECT_EQ(Quoted("a\nb"), "'a\\nb'");
}

TEST(DisplayWidth, WideAndCombiningCharactersAndFitting) {
  EXPECT_EQ(DisplayWidth("abc"), 3u);
  EXPECT_EQ(DisplayWidth("雪の写真"), 8u);
  EXPECT_EQ(DisplayWidth("e\xcc\x81"), 1u);  // e and a combining acute
  EXPECT_EQ(DisplayWidth("Müller"), 6u);
  EXPECT_EQ(DisplayWidth(""), 0u);

  EXPECT_EQ(FitWidth("short", 10), "short");
  EXPECT_EQ(FitWidth("a long file name", 8), "a long \u2026");
  EXPECT_EQ(DisplayWidth(FitWidth("a long file name", 8)), 8u);
  // A wide character that would straddle the edge is left out whole.
  EXPECT_EQ(FitWidth("雪の写真.png", 6), "雪の\u2026");
  EXPECT_EQ(FitWidth("雪の写真.png", 5), "雪の\u2026");
  // A combining mark stays with its letter.
  EXPECT_EQ(FitWidth("e\xcc\x81" "abcdef", 3), "e\xcc\x81" "a\u2026");
  EXPECT_EQ(FitWidth("abc", 0), "");

  EXPECT_EQ(PadRight("雪", 4), "雪  ");
  EXPECT_EQ(PadLeft("12", 4), "  12");
  EXPECT_EQ(PadRight("toolong", 3), "toolong");
}

TEST(NumberParser, OneStrictFormForEveryOption) {
  uint64_t v = 99;
  EXPECT_TRUE(ParseUnsigned("0", v));
  EXPECT_EQ(v, 0u);
  EXPECT_TRUE(ParseUnsigned("5", v));
  EXPECT_EQ(v, 5u);
  EXPECT_TRUE(ParseUnsigned("0x10", v));
  EXPECT_EQ(v, 16u);
  EXPECT_TRUE(ParseUnsigned("0X3f", v));
  EXPECT_EQ(v, 63u);
  EXPECT_TRUE(ParseUnsigned("18446744073709551615", v));
  EXPECT_EQ(v, UINT64_MAX);
  for (const char* bad : {"", " 5", "5 ", "+5", "-5", "5x", "0x", "0x-1", "1e3", "18446744073709551616", "0x1g",
                          "٣", "five"})
    EXPECT_FALSE(ParseUnsigned(bad, v)) << "'" << bad << "'";

  bool mb = true;
  EXPECT_TRUE(ParseKilobytes("100", v, mb));
  EXPECT_EQ(v, 100u);
  EXPECT_FALSE(mb);
  EXPECT_TRUE(ParseKilobytes("2MB", v, mb));
  EXPECT_EQ(v, 2u);
  EXPECT_TRUE(mb);
  EXPECT_TRUE(ParseKilobytes("4kb", v, mb));
  EXPECT_FALSE(mb);
  for (const char* bad : {"", "MB", "KB", " 4", "4 KB", "-4", "+4", "4GB", "0x10"})
    EXPECT_FALSE(ParseKilobytes(bad, v, mb)) << "'" << bad << "'";
}

TEST(ProgressBar, FieldsKeepTheirPlaceAndTheLabelFitsTheTerminal) {
  const std::string a = CProgressBar::Render(1, 100, 0, -1, "a.txt", 100);
  const std::string b = CProgressBar::Render(99, 100, 123.4e6, 3725, "a.txt", 100);
  const std::string c = CProgressBar::Render(100, 100, 9.9e9, 1, "a.txt", 100);
  // The label starts in the same column whatever the numbers.
  EXPECT_EQ(a.find("a.txt"), b.find("a.txt"));
  EXPECT_EQ(b.find("a.txt"), c.find("a.txt"));
  EXPECT_NE(a.find("  1%"), std::string::npos);
  EXPECT_NE(a.find("--:-- left"), std::string::npos);
  EXPECT_NE(b.find("123.4 MB/s"), std::string::npos);
  EXPECT_NE(b.find("1:02:05 left"), std::string::npos);
  EXPECT_EQ(a.find('#'), std::string::npos);
  // A long label of wide characters is cut to the terminal's width.
  std::string wide;
  for (int i = 0; i < 60; ++i) wide += "雪";
  for (int width : {60, 80, 132}) {
    const std::string line = CProgressBar::Render(50, 100, 1e6, 10, wide, width);
    EXPECT_LE(DisplayWidth(line), static_cast<size_t>(width - 1)) << width;
    EXPECT_NE(line.find("\u2026"), std::string::npos);
  }
}
