// Compound documents: the size from the FAT walk, the directory walk that tells
// workbooks, word-processing documents and presentations apart (on files made
// by a real compound-file writer, and on crafted directories), and the
// 502/503/504 sector rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/scanner/compound_document.h"
#include "engine/scanner/file_end.h"
#include "tests/support/test_support.h"

namespace {

// A reader over bytes that stand for the volume.
SectorReader ReaderOver(const std::vector<uint8_t>& disk) {
  return [&disk](void* buffer, uint64_t first, uint32_t count) -> uint32_t {
    uint64_t sectors = disk.size() / 512;
    if (first >= sectors) return 0;
    uint64_t n = std::min<uint64_t>(count, sectors - first);
    std::memcpy(buffer, disk.data() + first * 512, n * 512);
    return static_cast<uint32_t>(n * 512);
  };
}

// A header sector with the fields the analysis reads.
std::vector<uint8_t> Header(uint16_t shift, uint32_t fatSectors, uint32_t firstDirectory) {
  std::vector<uint8_t> h(512, 0);
  const uint8_t magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(h.data(), magic, 8);
  h[0x1E] = static_cast<uint8_t>(shift);
  h[0x1F] = static_cast<uint8_t>(shift >> 8);
  std::memcpy(h.data() + 0x2C, &fatSectors, 4);
  std::memcpy(h.data() + 0x30, &firstDirectory, 4);
  return h;
}

// A directory of 128-byte entries with the given names.
std::vector<uint8_t> Directory(const std::vector<std::u16string>& names) {
  std::vector<uint8_t> d(100 * 128, 0);
  for (size_t e = 0; e < names.size(); ++e)
    for (size_t i = 0; i < names[e].size() && i < 63; ++i) {
      d[e * 128 + 2 * i] = static_cast<uint8_t>(names[e][i]);
      d[e * 128 + 2 * i + 1] = static_cast<uint8_t>(names[e][i] >> 8);
    }
  return d;
}

int16_t TypeOf(const std::vector<std::u16string>& names) {
  auto d = Directory(names);
  return CompoundTypeFromDirectory(d.data(), d.size());
}

// Runs the FAT walk on the document at the start of `disk`.
FileEnd EndOf(const std::vector<uint8_t>& disk) {
  CScanBytes bytes(disk.data(), 0, disk.size(), {}, disk.size());
  CFileBytes file(bytes, 0, 1ull << 32);
  return CompoundDocumentEnd(file);
}

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) { std::memcpy(d.data() + at, &v, 4); }

}  // namespace

TEST(CompoundDocument, SizeFromTheLastSectorItsFatUses) {
  // 512-byte sectors; the FAT in document sector 2; sectors 0-7 used, 8 on free.
  std::vector<uint8_t> disk(40 * 512, 0xEE);
  auto h = Header(9, 1, 0);
  h[0x1C] = 0xFE, h[0x1D] = 0xFF;
  Put32(h, 0x44, 0xFFFFFFFEu);
  for (int i = 0; i < 109; ++i) Put32(h, 0x4C + 4 * i, 0xFFFFFFFFu);
  Put32(h, 0x4C, 2);
  std::memcpy(disk.data(), h.data(), 512);
  const size_t fat = 3 * 512;
  for (int i = 0; i < 128; ++i) Put32(disk, fat + 4 * i, 0xFFFFFFFFu);
  for (int i = 0; i < 8; ++i) Put32(disk, fat + 4 * i, i == 2 ? 0xFFFFFFFDu : 0xFFFFFFFEu);
  Put32(disk, fat + 4 * 5, 0xFFFFFFFFu);  // a free sector in the middle changes nothing
  FileEnd end = EndOf(disk);
  EXPECT_EQ(end.Result, FileEnd::Found);
  EXPECT_EQ(end.Size, 9u * 512);  // the header and sectors 0-7

  // A 110th FAT sector named by the DIFAT chain (in document sector 30):
  // the DIFAT sector itself, read as FAT, whose last entry is in use, so the
  // document reaches sector 109 x 128 + 127.
  std::vector<uint8_t> big((109 * 128 + 127 + 2) * 512, 0);
  std::memcpy(big.data(), h.data(), 512);
  Put32(big, 0x2C, 110);
  Put32(big, 0x44, 30);
  for (int i = 0; i < 109; ++i) Put32(big, 0x4C + 4 * i, 1);  // all free
  for (int i = 0; i < 128; ++i) Put32(big, 2 * 512 + 4 * i, 0xFFFFFFFFu);
  for (int i = 0; i < 128; ++i) Put32(big, 31 * 512 + 4 * i, 0xFFFFFFFFu);
  Put32(big, 31 * 512, 30);  // the DIFAT: the 110th FAT sector is sector 30
  Put32(big, 31 * 512 + 508, 0xFFFFFFFEu);
  end = EndOf(big);
  EXPECT_EQ(end.Result, FileEnd::Found);
  EXPECT_EQ(end.Size, big.size());
  // The same document with its last sector missing from the volume.
  big.resize(big.size() - 512);
  EXPECT_EQ(EndOf(big).Result, FileEnd::Unknown);
}

TEST(CompoundDocument, HeadersThatCannotBeADocumentAreNoFile) {
  std::vector<uint8_t> disk(64 * 512, 0);
  for (auto [shift, fats] : {std::pair<uint16_t, uint32_t>{40, 1}, {9, 0}, {9, 0xFFFFFFFFu}}) {
    auto h = Header(shift, fats, 0);
    h[0x1C] = 0xFE, h[0x1D] = 0xFF;
    std::memcpy(disk.data(), h.data(), 512);
    EXPECT_EQ(EndOf(disk).Result, FileEnd::NotAFile) << shift << " " << fats;
  }
  // A DIFAT chain that loops ends.
  disk.assign(600 * 512, 0);
  auto h = Header(9, 500, 0);
  h[0x1C] = 0xFE, h[0x1D] = 0xFF;
  Put32(h, 0x44, 3);
  std::memcpy(disk.data(), h.data(), 512);
  Put32(disk, 4 * 512 + 508, 3);
  EXPECT_EQ(EndOf(disk).Result, FileEnd::Unknown);
}

TEST(CompoundDocument, DirectoryNamesDecideTheType) {
  EXPECT_EQ(TypeOf({u"Root Entry", u"Workbook"}), 101);
  EXPECT_EQ(TypeOf({u"Root Entry", u"x", u"WordDocument", u"y", u"Workbook"}), 109);  // first hit in entry order
  EXPECT_EQ(TypeOf({u"Root Entry", u"POWERPOINT DOCUMENT"}), 105);
  EXPECT_EQ(TypeOf({u"Root Entry", u"Symbol 17"}), 500);
  EXPECT_EQ(TypeOf({u"root entry", u"sYMBOL X"}), 500);
  EXPECT_EQ(TypeOf({u"Root Entry", u"Symbol"}), 100);
  EXPECT_EQ(TypeOf({u"Root Entry", u"Workbook2"}), 100);
  EXPECT_EQ(TypeOf({u"Root Entry", u"BodyText"}), 521);
  EXPECT_EQ(TypeOf({u"Root Entry", u"DocumentViewStyles"}), 520);
  EXPECT_EQ(TypeOf({u"Root Entry", u"VisioDocument"}), 107);
  EXPECT_EQ(TypeOf({u"Root", u"Workbook"}), 100);  // the first entry must be the root
  EXPECT_EQ(TypeOf({u"Root Entry"}), 100);
  // A name filling all 64 characters without a terminator is still compared safely.
  std::vector<uint8_t> full(128 * 2, 'A');
  EXPECT_EQ(CompoundTypeFromDirectory(full.data(), full.size()), 100);
}

TEST(CompoundDocument, DirectoryIsReadAfterTheHeaderAtItsSector) {
  // Document at sector 4; 512-byte sectors; directory in document sector 3:
  // byte 4*512 + (3 + 1) * 512 = sector 8.
  std::vector<uint8_t> disk(64 * 512, 0);
  auto h = Header(9, 2, 3);
  std::memcpy(disk.data() + 4 * 512, h.data(), 512);
  auto d = Directory({u"Root Entry", u"\x05SummaryInformation", u"WordDocument"});
  std::memcpy(disk.data() + 8 * 512, d.data(), std::min<size_t>(d.size(), disk.size() - 8 * 512));
  CFoundObject o;
  o.StartOffset = 4 * 512;
  EXPECT_EQ(AnalyseCompoundDocument(o, disk.data() + 4 * 512, ReaderOver(disk), disk.size()), 109);
  // Unreadable directory: type 100.
  CFoundObject far;
  far.StartOffset = 60 * 512;
  auto h2 = Header(9, 1, 1000);
  EXPECT_EQ(AnalyseCompoundDocument(far, h2.data(), ReaderOver(disk), disk.size()), 100);
}

// Documents written by a real compound-file writer (libgsf's gsf tool), with
// the stream that each office application names.
TEST(CompoundDocument, FilesOfARealWriterAreToldApart) {
  if (!qmtest::HaveTool("gsf")) GTEST_SKIP() << "gsf (libgsf-bin) is not installed";
  std::string dir = qmtest::MakeTempDir("cfb");
  struct Case {
    const char* stream;
    const char* file;
    int16_t type;
  } cases[] = {{"Workbook", "book.xls", 101}, {"WordDocument", "letter.doc", 109},
               {"PowerPoint Document", "slides.ppt", 105}, {"Contents", "other.ole", 100}};
  for (const auto& c : cases) {
    std::string cmd = "cd " + dir + " && head -c 9000 /dev/urandom > '" + c.stream + "' && gsf createole " + c.file +
                      " '" + c.stream + "' >/dev/null 2>&1 && rm '" + c.stream + "'";
    ASSERT_EQ(qmtest::RunCommand(cmd), 0) << cmd;
    auto file = qmtest::ReadFileBytes(dir + "/" + c.file);
    ASSERT_GE(file.size(), 1536u);
    // The document at sector 3 of a volume of random-free padding.
    std::vector<uint8_t> disk((3 + (file.size() + 511) / 512 + 30) * 512, 0);
    std::memcpy(disk.data() + 3 * 512, file.data(), file.size());
    CFoundObject o;
    o.StartOffset = 3 * 512;
    EXPECT_EQ(AnalyseCompoundDocument(o, disk.data() + 3 * 512, ReaderOver(disk), disk.size()), c.type) << c.file;
    std::vector<uint8_t> tail(disk.begin() + 3 * 512, disk.end());
    FileEnd end = EndOf(tail);
    EXPECT_EQ(end.Result, FileEnd::Found) << c.file;
    EXPECT_EQ(end.Size, file.size()) << c.file;
  }
}

TEST(SectorRules, SizesAndTheShiftedStart) {
  std::vector<uint8_t> s(512, 0);
  CFoundObject o;
  o.FileType = 503;
  s[2] = 0x36; s[3] = 0x00; s[4] = 0x01; s[5] = 0x00;
  EXPECT_TRUE(ApplySectorRules(o, s.data()));
  EXPECT_EQ(o.Size, 65590u);

  std::fill(s.begin(), s.end(), 0);
  s[4] = 0x00; s[5] = 0x10;
  o = CFoundObject{};
  o.FileType = 502;
  EXPECT_TRUE(ApplySectorRules(o, s.data()));
  EXPECT_EQ(o.Size, 6144u);
  s[4] = 0xFF; s[5] = 0xFF; s[6] = 0xFF; s[7] = 0xFF;  // no 32-bit wrap
  EXPECT_TRUE(ApplySectorRules(o, s.data()));
  EXPECT_EQ(o.Size, 0xFFFFFFFFull + 2048);

  o = CFoundObject{};
  o.FileType = 504;
  o.StartOffset = 98304;
  EXPECT_TRUE(ApplySectorRules(o, s.data()));
  EXPECT_EQ(o.StartOffset, 65536u);
  o.StartOffset = 32767;
  EXPECT_FALSE(ApplySectorRules(o, s.data()));

  o = CFoundObject{};
  o.FileType = 30;
  o.StartOffset = 4096;
  EXPECT_TRUE(ApplySectorRules(o, s.data()));
  EXPECT_EQ(o.StartOffset, 4096u);
  EXPECT_EQ(o.Size, SIZE_UNKNOWN);
}
