// Document titles from the bytes of XML metadata, PDF strings and property
// sets: well-formed ones from the writers' layouts, and hostile ones (huge,
// control characters, broken encodings, lengths and offsets that lie).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/scanner/file_ends/document_title.h"

namespace {

void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, static_cast<uint16_t>(x));
  Put16(v, static_cast<uint16_t>(x >> 16));
}

// A SummaryInformation stream with a code page and a title property whose
// value is `value` (type, length and bytes as given).
std::vector<uint8_t> PropertySet(uint16_t codePage, uint16_t type, uint32_t length, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> s;
  Put16(s, 0xFFFE);
  Put16(s, 0);
  Put32(s, 0x00020006);
  s.resize(24, 0);
  Put32(s, 1);
  const uint8_t fmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  s.insert(s.end(), fmtid, fmtid + 16);
  Put32(s, 48);
  // Section: size, count, (id, offset) x2, code page, title.
  Put32(s, 0);
  Put32(s, 2);
  Put32(s, 1);
  Put32(s, 24);
  Put32(s, 2);
  Put32(s, 32);
  Put16(s, 2);
  Put16(s, 0);
  Put16(s, codePage);
  Put16(s, 0);
  Put16(s, type);
  Put16(s, 0);
  Put32(s, length);
  s.insert(s.end(), bytes.begin(), bytes.end());
  return s;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Utf16Le(const std::u16string& s) {
  std::vector<uint8_t> v;
  for (char16_t c : s) Put16(v, c);
  return v;
}

}  // namespace

TEST(DocumentTitle, XmlTitleDecodesEntitiesAndIgnoresLookAlikes) {
  EXPECT_EQ(XmlTitle("<cp:coreProperties><dc:creator>A</dc:creator><dc:title>Budget &amp; Plan &#x4E2D;&#25991;"
                     "</dc:title></cp:coreProperties>"),
            "Budget & Plan \u4E2D\u6587");
  // An element whose name only starts like it, attributes, white space.
  EXPECT_EQ(XmlTitle("<dc:titles>no</dc:titles><dc:title xml:lang=\"en\">\n  Two\tlines\n</dc:title>"), "Two lines");
  EXPECT_EQ(XmlTitle("<dc:title/>"), "");
  EXPECT_EQ(XmlTitle("<dc:title>never closed"), "");
  EXPECT_EQ(XmlTitle("no title here"), "");
  // References to no character, unknown entities, a lone ampersand.
  EXPECT_EQ(XmlTitle("<dc:title>a&#0;b&#xD800;c&#99999999;d&nbsp;e & f</dc:title>"), "a_b_c_d&nbsp;e & f");
}

TEST(DocumentTitle, PdfStringsLiteralHexUtf16AndDocEncoding) {
  EXPECT_EQ(PdfTextString("(Annual Report 1)>>endobj"), "Annual Report 1");
  // Nested parentheses, escapes, octal codes, a line continued.
  EXPECT_EQ(PdfTextString("(a (b) \\(c\\) \\\\ \\101\\102C \\\nd)"), "a (b) (c) \\ ABC d");
  EXPECT_EQ(PdfTextString("<FEFF00480069 00E9>"), "Hi\u00E9");
  EXPECT_EQ(PdfTextString("<48 69 7>"), "Hip");           // an odd last digit counts as followed by 0
  EXPECT_EQ(PdfTextString("(\xA0 \xE9t\xE9)"), "\u20AC \u00E9t\u00E9");  // PDFDocEncoding
  EXPECT_EQ(PdfTextString("(\xEF\xBB\xBFK\xC3\xB6ln)"), "K\u00F6ln");
  // An unpaired surrogate, a control character, line breaks: no crash, a
  // replacement character and blanks.
  EXPECT_EQ(PdfTextString("<FEFFD8000041>"), "\uFFFDA");
  EXPECT_EQ(PdfTextString("(a\x01\r\nb)"), "a b");
  EXPECT_EQ(PdfTextString("<</Type /Info>>"), "");
  EXPECT_EQ(PdfTextString("3 0 R"), "");
  EXPECT_EQ(PdfTextString(""), "");
  // A huge title, and one never closed: cut on a character boundary.
  std::string huge = "(";
  for (int i = 0; i < 100000; ++i) huge += "\\351";
  const std::string title = PdfTextString(huge);
  EXPECT_LE(title.size(), kMaxTitleBytes);
  EXPECT_GT(title.size(), kMaxTitleBytes - 2);
  EXPECT_EQ(title.substr(0, 2), "\u00E9");
}

TEST(DocumentTitle, PropertySetTitleInItsCodePageAndHostileLengths) {
  auto narrow = [](const std::string& text, uint16_t codePage) {
    std::vector<uint8_t> b = Bytes(text + '\0');
    auto s = PropertySet(codePage, 0x1E, static_cast<uint32_t>(b.size()), b);
    return PropertySetTitle(s.data(), s.size());
  };
  EXPECT_EQ(narrow("Letter to the bank", 1252), "Letter to the bank");
  EXPECT_EQ(narrow("Caf\xE9", 1252), "Caf\u00E9");
  EXPECT_EQ(narrow("K\xC3\xB6ln", 65001), "K\u00F6ln");
  EXPECT_EQ(narrow("\xCF\xF0\xE8", 1251), "___");  // letters of a code page not told apart
  auto wide = PropertySet(1200, 0x1F, 6, Utf16Le(u"R\u00E9sum\u00E9"));
  EXPECT_EQ(PropertySetTitle(wide.data(), wide.size()), "R\u00E9sum\u00E9");
  // A length far past the stream, an unpaired surrogate: what is there.
  auto lying = PropertySet(1200, 0x1F, 0x7FFFFFFF, Utf16Le(u"ab\xD800"));
  EXPECT_EQ(PropertySetTitle(lying.data(), lying.size()), "ab\uFFFD");
  // Wrong type, a property offset past the end, a property count that
  // cannot fit, another property set, a stream cut short.
  auto number = PropertySet(1252, 0x03, 4, {1, 0, 0, 0});
  EXPECT_EQ(PropertySetTitle(number.data(), number.size()), "");
  auto s = PropertySet(1252, 0x1E, 3, Bytes("ab"));
  auto far = s;
  far[48 + 20] = 0xFF;
  EXPECT_EQ(PropertySetTitle(far.data(), far.size()), "");
  auto many = s;
  many[48 + 7] = 0x10;
  EXPECT_EQ(PropertySetTitle(many.data(), many.size()), "");
  auto other = s;
  other[28] ^= 1;
  EXPECT_EQ(PropertySetTitle(other.data(), other.size()), "");
  for (size_t cut = 0; cut < s.size(); ++cut) PropertySetTitle(s.data(), cut);
  EXPECT_EQ(PropertySetTitle(nullptr, 0), "");
}
