#include <gtest/gtest.h>

#include "services/format.h"
#include "services/text.h"

using qm::Format;

TEST(Format, ConversionsOfTheSystemTexts) {
  EXPECT_EQ(Format("Volume %s at position %I64d not read, retry %d", "sdb", uint64_t{1048576}, 1),
            "Volume sdb at position 1048576 not read, retry 1");
  EXPECT_EQ(Format("%08X  ", 0x1F0u), "000001F0  ");
  EXPECT_EQ(Format("0x%I64x", uint64_t{0xABCDEF12345}), "0xabcdef12345");
  EXPECT_EQ(Format("%C: (%s)", 'E', "DATA"), "E: (DATA)");
  EXPECT_EQ(Format("lost_folder_%d", int64_t{0x100000005}), "lost_folder_5");
  EXPECT_EQ(Format("%.5d|%-4s|%4s|%.2d", 101, "ab", "cd", -7), "00101|ab  |  cd|-07");
  EXPECT_EQ(Format("100%%"), "100%");
}

TEST(Format, DataFormatsCannotMisuseArguments) {
  EXPECT_EQ(Format("%s and %s and %d"), " and  and ");
  EXPECT_EQ(Format("%n%s", "x"), "x");
  EXPECT_EQ(Format("%d", "text"), "text");
  EXPECT_EQ(Format("trailing %"), "trailing ");
}

TEST(Text, Utf16BoundaryConversions) {
  const char16_t good[] = {u'K', 0x00F6, u'l', u'n', 0xD83D, 0xDE00};
  EXPECT_EQ(qm::Utf16ToUtf8(good, 6), "K\xC3\xB6ln\xF0\x9F\x98\x80");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00};
  EXPECT_EQ(qm::Utf16ToUtf8(lone, 4), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(qm::Utf16ToUtf8(qm::Utf8ToUtf16("K\xC3\xB6ln\xF0\x9F\x98\x80")), "K\xC3\xB6ln\xF0\x9F\x98\x80");
  EXPECT_EQ(qm::Utf8ToUtf16("\xFF"), std::u16string(1, char16_t(0xFFFD)));
  EXPECT_EQ(qm::Cp1252ToUtf8(reinterpret_cast<const uint8_t*>("\x80\xE9"), 2), "\xE2\x82\xAC\xC3\xA9");
}
