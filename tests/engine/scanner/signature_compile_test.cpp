// The registry text form of signatures and the evaluation of every condition
// kind.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/scanner/signature_condition.h"

namespace {

struct Compiled {
  std::vector<uint8_t> pattern, mask;
  size_t length = 0;
};

Compiled Compile(const std::string& text) {
  auto s = CompileSignatureText(text);
  EXPECT_TRUE(s.has_value()) << text;
  Compiled out;
  if (!s) return out;
  EXPECT_EQ(s->Conditions.size(), 1u);
  const auto& c = s->Conditions[0];
  EXPECT_EQ(c.Kind, SIGCOND_MASKED);
  EXPECT_EQ(c.Offset, 0);
  EXPECT_EQ(c.Repeat, 0);
  out.pattern.assign(c.Pattern(), c.Pattern() + 512);
  out.mask.assign(c.Mask(), c.Mask() + 512);
  out.length = c.DataLength;
  return out;
}

size_t SelectedCount(const Compiled& c) {
  size_t n = 0;
  for (uint8_t m : c.mask) n += m != 0;
  return n;
}

TEST(SignatureCompile, QuotesDecimalAndHexItems) {
  Compiled zip = Compile("0='PK',2=#3,3=#4");
  EXPECT_EQ(zip.length, 4u);
  EXPECT_EQ(std::vector<uint8_t>(zip.pattern.begin(), zip.pattern.begin() + 4), (std::vector<uint8_t>{0x50, 0x4B, 3, 4}));
  EXPECT_EQ(SelectedCount(zip), 4u);

  Compiled jpeg = Compile("0=#255,1=$D8");
  EXPECT_EQ(jpeg.length, 2u);
  EXPECT_EQ(jpeg.pattern[0], 0xFF);
  EXPECT_EQ(jpeg.pattern[1], 0xD8);

  // Double quotes, "x" and a 0x prefix, and blanks anywhere.
  Compiled a = Compile("0=x4d,1=$5A");
  Compiled b = Compile(" 0 = 'MZ' ");
  Compiled c = Compile("0=\"MZ\"");
  Compiled d = Compile("0=$0x4d,1=xx5a");
  EXPECT_EQ(a.pattern, b.pattern);
  EXPECT_EQ(a.mask, b.mask);
  EXPECT_EQ(a.pattern, c.pattern);
  EXPECT_EQ(a.pattern, d.pattern);
  EXPECT_EQ(a.length, 2u);

  // One byte gives a length of one; later items may lie before earlier ones.
  EXPECT_EQ(Compile("0=#77").length, 1u);
  Compiled e = Compile("10=$01,,,2=$02");
  EXPECT_EQ(e.length, 11u);
  EXPECT_EQ(SelectedCount(e), 2u);
  // An item without "=" is at offset 0; leading commas are dropped.
  Compiled f = Compile(",,'AB'");
  EXPECT_EQ(f.pattern[0], 'A');
  EXPECT_EQ(f.length, 2u);
}

TEST(SignatureCompile, LimitsAndIgnoredItems) {
  // A string must end below byte 511: 509 + 2 sets 509 and 510, 510 + 2 is
  // ignored.
  Compiled ok = Compile("509='AB'");
  EXPECT_EQ(ok.pattern[509], 'A');
  EXPECT_EQ(ok.pattern[510], 'B');
  EXPECT_EQ(ok.length, 511u);
  EXPECT_FALSE(CompileSignatureText("510='AB'").has_value());
  // Single bytes up to the last one; values of 256 and more are ignored.
  EXPECT_EQ(Compile("511=$AA").length, 512u);
  Compiled g = Compile("0=#256,1=$100,2=#7,512=$01,3=bogus,4=-1,-3=$01");
  EXPECT_EQ(SelectedCount(g), 1u);
  EXPECT_EQ(g.pattern[2], 7);
  EXPECT_EQ(g.length, 3u);
  // Blanks go even inside quotes (write them as $20).
  Compiled h = Compile("0='A B'");
  EXPECT_EQ(h.length, 2u);
  EXPECT_EQ(h.pattern[1], 'B');
  // An empty text makes no signature; nor does one whose items are all
  // ignored (it would hold for every sector).
  EXPECT_FALSE(CompileSignatureText("").has_value());
  EXPECT_FALSE(CompileSignatureText("   ").has_value());
  EXPECT_FALSE(CompileSignatureText("0=#999,1=zz").has_value());
  // Non-ASCII text contributes the low byte of each UTF-16 unit.
  Compiled u = Compile("0='\xC3\xA9\xE2\x82\xAC'");  // e-acute, euro sign
  EXPECT_EQ(u.pattern[0], 0xE9);
  EXPECT_EQ(u.pattern[1], 0xAC);
  EXPECT_EQ(u.length, 2u);
}

CSignatureCondition Cond(uint32_t kind, int32_t offset, std::vector<uint8_t> data, uint16_t repeat = 0) {
  CSignatureCondition c;
  c.Kind = kind;
  c.Offset = offset;
  c.Repeat = repeat;
  c.DataLength = static_cast<uint16_t>(data.size());
  c.Data = std::move(data);
  return c;
}

class ConditionKinds : public ::testing::Test {
protected:
  void SetUp() override {
    std::memset(sector, 0, sizeof sector);
    const uint8_t head[] = {0x11, 0x11, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
    std::memcpy(sector, head, sizeof head);
    std::memcpy(sector + 100, "Hello, World", 12);
  }
  bool Holds(const CSignatureCondition& c, size_t available = 512) { return ConditionHolds(c, sector, available); }
  uint8_t sector[1024];
};

TEST_F(ConditionKinds, FixedWidthValuesWithRepeat) {
  EXPECT_TRUE(Holds(Cond(SIGCOND_BYTE, 0, {0x11})));
  EXPECT_TRUE(Holds(Cond(SIGCOND_BYTE, 0, {0x11}, 2)));
  EXPECT_FALSE(Holds(Cond(SIGCOND_BYTE, 0, {0x11}, 3)));  // byte 3 is 0x22
  EXPECT_FALSE(Holds(Cond(SIGCOND_BYTE, 1, {0x22})));

  EXPECT_TRUE(Holds(Cond(SIGCOND_WORD, 0, {0x11, 0x11})));
  EXPECT_TRUE(Holds(Cond(SIGCOND_WORD, 0, {0x11, 0x11}, 1)));   // positions 0 and 1
  EXPECT_FALSE(Holds(Cond(SIGCOND_WORD, 0, {0x11, 0x11}, 2)));  // position 2 is 11 22
  EXPECT_TRUE(Holds(Cond(SIGCOND_WORD, 2, {0x11, 0x22})));      // little-endian 0x2211

  EXPECT_TRUE(Holds(Cond(SIGCOND_DWORD, 3, {0x22, 0x33, 0x44, 0x55})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_DWORD, 3, {0x22, 0x33, 0x44, 0x55}, 1)));
  EXPECT_TRUE(Holds(Cond(SIGCOND_DWORD, 200, {0, 0, 0, 0}, 50)));

  EXPECT_TRUE(Holds(Cond(SIGCOND_QWORD, 3, {0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_QWORD, 3, {0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x98})));
  EXPECT_TRUE(Holds(Cond(SIGCOND_QWORD, 300, std::vector<uint8_t>(8, 0), 3)));
  EXPECT_FALSE(Holds(Cond(SIGCOND_QWORD, 300, std::vector<uint8_t>(8, 0), 3), 310));  // would read past 310
}

TEST_F(ConditionKinds, Ranges) {
  EXPECT_TRUE(Holds(Cond(SIGCOND_BYTE_RANGE, 3, {0x20, 0x40})));
  EXPECT_TRUE(Holds(Cond(SIGCOND_BYTE_RANGE, 3, {0x20, 0x44}, 2)));   // 22 33 44
  EXPECT_FALSE(Holds(Cond(SIGCOND_BYTE_RANGE, 3, {0x20, 0x44}, 3)));  // 55 is above
  EXPECT_FALSE(Holds(Cond(SIGCOND_BYTE_RANGE, 3, {0x23, 0x44})));
  // Unsigned 16-bit values: 0x2211 at 2, 0x3322 at 3.
  EXPECT_TRUE(Holds(Cond(SIGCOND_WORD_RANGE, 2, {0x00, 0x22, 0xFF, 0x33})));
  EXPECT_TRUE(Holds(Cond(SIGCOND_WORD_RANGE, 2, {0x00, 0x22, 0x22, 0x33}, 1)));
  EXPECT_FALSE(Holds(Cond(SIGCOND_WORD_RANGE, 2, {0x00, 0x22, 0x21, 0x33}, 1)));
  EXPECT_TRUE(Holds(Cond(SIGCOND_WORD_RANGE, 8, {0x00, 0x80, 0xFF, 0xFF})));  // 0x9988 is not negative
}

TEST_F(ConditionKinds, StringsAndSearches) {
  EXPECT_TRUE(Holds(Cond(SIGCOND_STRING, 100, {'H', 'e', 'l', 'l', 'o'})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_STRING, 101, {'H', 'e'})));
  EXPECT_TRUE(Holds(Cond(SIGCOND_STRING, 0, {0x11, 0x11}, 1)));
  EXPECT_FALSE(Holds(Cond(SIGCOND_STRING, 0, {0x11, 0x11}, 2)));
  // Offset -1: anywhere inside the sector.
  EXPECT_TRUE(Holds(Cond(SIGCOND_STRING, -1, {'W', 'o', 'r'})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_STRING, -7, {'W', 'o', 'r'})));

  // Searches ignore the offset; the no-case search folds ASCII letters.
  EXPECT_TRUE(Holds(Cond(SIGCOND_FIND, 400, {'W', 'o', 'r', 'l', 'd'})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_FIND, 0, {'w', 'o', 'r', 'l', 'd'})));
  EXPECT_TRUE(Holds(Cond(SIGCOND_FIND_NOCASE, 0, {'w', 'O', 'R', 'L', 'D'})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_FIND_NOCASE, 0, {'w', 'O', 'R', 'L', 'X'})));
  // A string ending at the sector's last byte is found; one beyond it is not
  // (bytes after the sector are never searched).
  sector[510] = 'Z';
  sector[511] = 'Q';
  sector[512] = 'R';
  EXPECT_TRUE(Holds(Cond(SIGCOND_FIND, 0, {'Z', 'Q'})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_FIND, 0, {'Z', 'Q', 'R'}), 1024));
  EXPECT_FALSE(Holds(Cond(SIGCOND_FIND, 0, {'Z', 'Q'}), 511));
}

TEST_F(ConditionKinds, PatternAndMask) {
  uint8_t pattern[512] = {}, mask[512] = {};
  pattern[0] = 0x11; mask[0] = 0xFF;
  pattern[5] = 0x44; mask[5] = 0x01;  // any non-zero mask compares the whole byte
  pattern[1] = 0x99; mask[1] = 0;     // not selected
  auto eq = CSignatureCondition::Masked(SIGCOND_MASKED, 0, pattern, mask, 6);
  EXPECT_TRUE(Holds(eq));
  pattern[5] = 0x45;
  EXPECT_FALSE(Holds(CSignatureCondition::Masked(SIGCOND_MASKED, 0, pattern, mask, 6)));
  // Beyond the data length nothing is compared.
  EXPECT_TRUE(Holds(CSignatureCondition::Masked(SIGCOND_MASKED, 0, pattern, mask, 5)));
  // At an offset and with repeat: 0x11 at 0, 1 and 2.
  uint8_t one[1] = {0x11}, full[1] = {0xFF};
  auto rep = CSignatureCondition::Masked(SIGCOND_MASKED, 0, one, full, 1);
  rep.Repeat = 2;
  EXPECT_TRUE(Holds(rep));
  rep.Repeat = 3;
  EXPECT_FALSE(Holds(rep));
  // A data length of 0 means the whole sector; with nothing selected it holds.
  uint8_t none[512] = {};
  auto all = CSignatureCondition::Masked(SIGCOND_MASKED, 0, none, none, 0);
  EXPECT_TRUE(Holds(all));
  EXPECT_FALSE(Holds(CSignatureCondition::Masked(SIGCOND_MASKED, 1, none, none, 0)));  // 1 + 512 > 512

  // Kind 0x20000: the bits selected by pattern AND mask must be clear.
  uint8_t p2[2] = {0xF0, 0x0F}, m2[2] = {0xFF, 0xFF};
  // sector[3..4] = 22 33: 0x22 & 0xF0 = 0x20 -> fails.
  EXPECT_FALSE(Holds(CSignatureCondition::Masked(SIGCOND_MASKED_CLEAR, 3, p2, m2, 2)));
  uint8_t p3[2] = {0xC0, 0x0C};
  EXPECT_TRUE(Holds(CSignatureCondition::Masked(SIGCOND_MASKED_CLEAR, 3, p3, m2, 2)));
  auto clr = CSignatureCondition::Masked(SIGCOND_MASKED_CLEAR, 3, p3, m2, 1);
  clr.Repeat = 1;  // 0x22 and 0x33 both have bits 6,7 clear
  EXPECT_TRUE(Holds(clr));
}

TEST_F(ConditionKinds, OtherKindsAndMalformedData) {
  EXPECT_TRUE(Holds(Cond(0x40, 9999, {})));
  EXPECT_TRUE(Holds(Cond(0, 0, {})));
  // Data shorter than the kind needs never holds (and never reads beyond it).
  EXPECT_FALSE(Holds(Cond(SIGCOND_DWORD, 0, {0x11})));
  EXPECT_FALSE(Holds(Cond(SIGCOND_BYTE_RANGE, 0, {0x00})));
  auto shortString = Cond(SIGCOND_STRING, 0, {0x11});
  shortString.DataLength = 40;
  EXPECT_FALSE(Holds(shortString));
  // A signature fails at its first failing condition.
  CSignature s;
  s.Conditions.push_back(Cond(SIGCOND_BYTE, 0, {0x11}));
  s.Conditions.push_back(Cond(SIGCOND_BYTE, 3, {0x22}));
  EXPECT_TRUE(SignatureHolds(s, sector, 512));
  s.Conditions.push_back(Cond(SIGCOND_BYTE, 600, {0x00}));
  EXPECT_FALSE(SignatureHolds(s, sector, 512));
  EXPECT_TRUE(SignatureHolds(s, sector, 1024));
}

}  // namespace
