// The FAT parser on images crafted byte by byte: names, the directory walk,
// the run lists, and hostile boot sectors, FATs and directories.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/filesystems/file_system_fat.h"
#include "tests/engine/filesystems/fat_test_image.h"

namespace {

using fattest::FatImage;
using fattest::FindNamed;
using fattest::LogCount;
using fattest::MakeVolume;

FatImage Fat16(uint32_t spc = 1) {
  FatImage img;
  img.bits = 16;
  img.totalSectors = 8192;
  img.sectorsPerCluster = spc;
  img.Build();
  return img;
}

CFileSystem_FAT& Fat(CVolume& v) { return dynamic_cast<CFileSystem_FAT&>(v.FileSystem()); }

std::unique_ptr<CVolume> Analysed(const FatImage& img, std::shared_ptr<CMemoryDevice>* device = nullptr) {
  auto v = MakeVolume(img.bytes, device);
  v->AnalyseFileSystem();
  return v;
}

TEST(FatNames, ShortLongDeletedAndCaseBits) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  FatImage::Entry(root, 0, "\xE5" "EPORT  DOC", 0x20, 10, 5);          // deleted, no long name
  int i = FatImage::LongName(root, 1, "Quarterly report.doc", "QUARTE~1DOC", true);  // deleted with its long name
  FatImage::Entry(root, i, "\xE5UARTE~1DOC", 0x20, 11, 5);
  FatImage::Entry(root, i + 1, "\x05" "BC     TXT", 0x20, 12, 5);      // first character 0xE5, live
  FatImage::Entry(root, i + 2, "LOWER   TXT", 0x20, 13, 5);
  root[(i + 2) * 32 + 0x0C] = 0x18;  // lower-case base and extension
  FatImage::Entry(root, i + 3, "Bad     TXT", 0x20, 14, 5);       // lower case in a short name: skipped
  FatImage::Entry(root, i + 4, "HIGHATTRTXT", 0x40, 15, 5);       // attribute 0x40: skipped
  FatImage::Entry(root, i + 5, "TENTHS  TXT", 0x20, 16, 5);
  root[(i + 5) * 32 + 0x0D] = 200;                                // tenths out of range: skipped
  // A free entry, then more entries behind it: still parsed.
  std::memset(root + (i + 6) * 32, 0, 32);
  FatImage::Entry(root, i + 7, "\xE5" "FTERENDTXT", 0x20, 17, 5);
  FatImage::Entry(root, i + 8, "LABEL      ", 0x08, 0, 0);       // volume label: not an object
  for (uint32_t c = 10; c <= 17; ++c) img.SetFat(c, c == 12 || c == 13 ? img.Eoc() : 0);

  auto v = Analysed(img);
  std::vector<std::string> names;
  for (auto* o : fattest::WalkObjects(*v)) names.push_back(o->Name + (o->IsDeleted() ? "*" : ""));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Quarterly report.doc*", "_EPORT.DOC*", "_FTEREND.TXT*", "lower.txt",
                                             "\xC3\xA5" "BC.TXT"}));
  EXPECT_EQ(Fat(*v).VolumeLabel, "LABEL");
  EXPECT_EQ(v->FilesFound, 5u);
  EXPECT_EQ(v->FoldersFound, 0u);
}

TEST(FatNames, NonAsciiLongNameAndBrokenSurrogate) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  int i = FatImage::LongName(root, 0, "xy.txt", "XY~1    TXT");
  // Replace 'x' by U+00E9 and 'y' by an unpaired high surrogate.
  fattest::Put16(root + 0x01, 0x00E9);
  fattest::Put16(root + 0x03, 0xD800);
  FatImage::Entry(root, i, "XY~1    TXT", 0x20, 0, 0);
  auto v = Analysed(img);
  auto objects = fattest::WalkObjects(*v);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]->Name, "\xC3\xA9\xEF\xBF\xBD.txt");
}

TEST(FatNames, StaleLongNamesFallBackToTheShortName) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  // A live file whose short entry took the slot of an older file's: the
  // long-name entries before it carry the old file's checksum.
  int i = FatImage::LongName(root, 0, "Old holiday photo.jpg", "OLDHOL~1JPG");
  FatImage::Entry(root, i, "NEW     TXT", 0x20, 0, 0);
  // Live parts out of sequence: part 2 nearest the short entry.
  int j = FatImage::LongName(root, i + 1, "Swapped parts name.txt", "SWAPPE~1TXT");
  std::swap_ranges(root + (i + 1) * 32, root + (i + 2) * 32, root + (i + 2) * 32);
  FatImage::Entry(root, j, "SWAPPE~1TXT", 0x20, 0, 0);
  // A deleted long name before a live short entry belongs to another file.
  int k = FatImage::LongName(root, j + 1, "gone.txt", "LIVE    TXT", true);
  FatImage::Entry(root, k, "LIVE    TXT", 0x20, 0, 0);
  // A deleted file with its own long name.
  int m = FatImage::LongName(root, k + 1, "zebra.txt", "ZEBRA   TXT", true);
  FatImage::Entry(root, m, "\xE5" "EBRA   TXT", 0x20, 0, 0);
  // Deleted with a long name that fits: kept.
  int n = FatImage::LongName(root, m + 1, "apple pie.txt", "APPLEP~1TXT", true);
  FatImage::Entry(root, n, "\xE5PPLEP~1TXT", 0x20, 0, 0);
  EXPECT_EQ(CFileSystem_FAT::GetEntryName(root, i * 32), "NEW.TXT");
  EXPECT_EQ(CFileSystem_FAT::GetEntryName(root, j * 32), "SWAPPE~1.TXT");
  EXPECT_EQ(CFileSystem_FAT::GetEntryName(root, k * 32), "LIVE.TXT");
  EXPECT_EQ(CFileSystem_FAT::GetEntryName(root, n * 32), "apple pie.txt");
  // The reused slot: the deleted long name now precedes a file whose first
  // character the checksum does not allow.
  root[m * 32 + 1] = 'Q';
  EXPECT_EQ(CFileSystem_FAT::GetEntryName(root, m * 32), "_QBRA.TXT");
}

TEST(FatTimes, DosDateTimeWithoutZoneShift) {
  // 2020-01-01 12:30:10 as written.
  EXPECT_EQ(CFileSystem_FAT::DosDateTimeToFileTime((40 << 9) | (1 << 5) | 1, (12 << 11) | (30 << 5) | 5),
            132223104000000000ull + (12 * 3600 + 30 * 60 + 10) * 10000000ull);
  EXPECT_EQ(CFileSystem_FAT::DosDateTimeToFileTime((20 << 9) | (2 << 5) | 29, 0), 125962560000000000ull);  // 2000-02-29
  EXPECT_EQ(CFileSystem_FAT::DosDateTimeToFileTime(0, 0), 0u);                                          // month 0
  EXPECT_EQ(CFileSystem_FAT::DosDateTimeToFileTime((21 << 9) | (2 << 5) | 29, 0), 0u);                 // 2001-02-29
  EXPECT_EQ(CFileSystem_FAT::DosDateTimeToFileTime((40 << 9) | (1 << 5) | 1, 24 << 11), 0u);
}

TEST(FatWalk, FragmentedDirectoryIsReadRunByRunIntoOneBuffer) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  FatImage::Entry(root, 0, "DIR        ", 0x10, 5, 0);
  img.Chain({5, 6, 7, 12});
  FatImage::Entry(img.Cluster(5), 0, ".          ", 0x10, 5, 0);
  FatImage::Entry(img.Cluster(5), 1, "..         ", 0x10, 0, 0);
  FatImage::Entry(img.Cluster(5), 2, "FIRST   TXT", 0x20, 0, 0);
  FatImage::Entry(img.Cluster(12), 0, "LAST    TXT", 0x20, 0, 0);
  std::shared_ptr<CMemoryDevice> device;
  auto v = MakeVolume(img.bytes, &device);
  const size_t before = device->Reads().size();
  v->AnalyseFileSystem();
  // Reads that touch the folder's clusters (the free clusters around them
  // are read by the search for lost folders' entries).
  int dataReads = 0;
  auto reads = device->Reads();
  for (size_t k = before; k < reads.size(); ++k)
    for (uint32_t c : {5u, 6u, 7u, 12u}) {
      const uint64_t at = static_cast<uint64_t>(img.Cluster(c) - img.bytes.data());
      if (reads[k].offset <= at && at < reads[k].offset + reads[k].bytes) {
        ++dataReads;
        break;
      }
    }
  EXPECT_EQ(dataReads, 2);
  CFoundObject* dir = FindNamed(*v, "DIR");
  ASSERT_NE(dir, nullptr);
  std::vector<CFoundObject*> children;
  v->Catalog().GetChildren(5, children);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(v->Catalog().GetFullPath(children[1]), "/DIR/");
}

TEST(FatWalk, FolderSeenTwiceAndFoldersNamingAncestorsAreWalkedOnce) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  FatImage::Entry(root, 0, "LIVE       ", 0x10, 5, 0);
  FatImage::Entry(root, 1, "\xE5" "EAD       ", 0x10, 5, 0);  // deleted entry of the same folder
  img.Chain({5});
  FatImage::Entry(img.Cluster(5), 0, "CHILD      ", 0x10, 6, 0);
  img.Chain({6});
  // The child names its parent and itself again: no endless walk.
  FatImage::Entry(img.Cluster(6), 0, "UP         ", 0x10, 5, 0);
  FatImage::Entry(img.Cluster(6), 1, "SELF       ", 0x10, 6, 0);
  FatImage::Entry(img.Cluster(6), 2, "FILE    TXT", 0x20, 0, 0);
  auto v = Analysed(img);
  std::vector<CFoundObject*> children;
  v->Catalog().GetChildren(5, children);
  EXPECT_EQ(children.size(), 1u);  // CHILD once, though two entries name folder 5
  children.clear();
  v->Catalog().GetChildren(6, children);
  EXPECT_EQ(children.size(), 3u);
  EXPECT_EQ(Fat(*v).DirectoryQueue.size(), 2u);
}

TEST(FatWalk, EmptyFileInTheRootGoesUnderThePlaceholder) {
  FatImage img = Fat16();
  FatImage::Entry(img.RootDir(), 0, "EMPTY   TXT", 0x20, 0, 0);
  auto v = Analysed(img);
  CFoundObject* empty = FindNamed(*v, "EMPTY.TXT");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->ObjectID, -1);
  EXPECT_EQ(empty->ParentID, 0x0F000000);
}

TEST(FatWalk, DeletedFolderWhoseClusterIsInUseAgainIsNotParsed) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  FatImage::Entry(root, 0, "\xE5" "LDDIR     ", 0x10, 7, 0);
  FatImage::Entry(root, 1, "NEWFILE BIN", 0x20, 7, 512);
  img.Chain({7});
  FatImage::Entry(img.Cluster(7), 0, "LOOKSLIKETXT", 0x20, 0, 0);  // file data that parses as an entry
  auto v = Analysed(img);
  EXPECT_EQ(FindNamed(*v, "LOOKSLIK.ETX"), nullptr);
  EXPECT_EQ(fattest::WalkObjects(*v).size(), 2u);
}

TEST(FatChains, LoopsAndClustersOutsideTheFatEndTheChain) {
  FatImage img = Fat16();
  img.SetFat(7, 8);
  img.SetFat(8, 9);
  img.SetFat(9, 7);  // loop back to 7
  img.SetFat(20, 0xFFF0);  // beyond the data area
  auto v = Analysed(img);
  auto& fs = Fat(*v);
  size_t mark = theLog().LineCount();
  std::vector<uint32_t> list;
  EXPECT_EQ(fs.FAT_GetClustersList(7, list), 3u);
  EXPECT_EQ(list, (std::vector<uint32_t>{7, 8, 9}));
  EXPECT_EQ(LogCount(mark, "loops"), 1);
  mark = theLog().LineCount();
  EXPECT_EQ(fs.FAT_GetClustersList(20, list), 1u);
  EXPECT_EQ(LogCount(mark, "FAT_GetClustersList, NextCluster = 0xFFF0"), 1);
  EXPECT_EQ(fs.FAT_GetClustersList(0, list), 0u);
}

TEST(FatChains, Fat12EntriesOddAndEven) {
  FatImage img;
  img.bits = 12;
  img.totalSectors = 2880;
  img.rootEntries = 224;
  img.Build();
  img.Chain({3, 4, 9, 10});
  auto v = Analysed(img);
  std::vector<uint32_t> list;
  Fat(*v).FAT_GetClustersList(3, list);
  EXPECT_EQ(list, (std::vector<uint32_t>{3, 4, 9, 10}));
  EXPECT_EQ(Fat(*v).FileSystemName, "FAT12");
}

TEST(FatRuns, LiveChainExtendedToTheSizeAndTrimmed) {
  FatImage img = Fat16(8);  // 4096-byte clusters
  FatImage::Entry(img.RootDir(), 0, "BIG     BIN", 0x20, 3, 20000);
  img.Chain({3, 4, 5});
  FatImage::Entry(img.RootDir(), 1, "FRAG    BIN", 0x20, 10, 9000);
  img.Chain({10, 14, 11});
  auto v = Analysed(img);
  std::vector<FoundObjectRun> runs;
  v->FileSystem().GetRuns(*FindNamed(*v, "BIG.BIN"), runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].StartSector, img.FirstDataSector() + 8);
  EXPECT_EQ(runs[0].SectorCount, 40u);  // 3 clusters + 2 more, cut to 20000 bytes
  v->FileSystem().GetRuns(*FindNamed(*v, "FRAG.BIN"), runs);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].StartSector, img.FirstDataSector() + 8 * 8);
  EXPECT_EQ(runs[1].StartSector, img.FirstDataSector() + 12 * 8);
  EXPECT_EQ(runs[2].StartSector, img.FirstDataSector() + 9 * 8);
  EXPECT_EQ(runs[0].SectorCount + runs[1].SectorCount + runs[2].SectorCount, 18u);
}

TEST(FatRuns, DeletedFileTakesTheFreeClustersFromItsStart) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  FatImage::Entry(root, 0, "\xE5" "ELETED BIN", 0x20, 20, 2000);  // 4 clusters of 512
  FatImage::Entry(root, 1, "LIVE    BIN", 0x20, 21, 1024);
  img.Chain({21, 23});
  for (uint32_t c : {20u, 22u, 24u, 25u}) std::memset(img.Cluster(c), static_cast<int>(c), 512);
  std::memset(img.Cluster(21), 0xAA, 512);
  std::memset(img.Cluster(23), 0xBB, 512);
  auto v = Analysed(img);
  CFoundObject* deleted = FindNamed(*v, "_ELETED.BIN");
  ASSERT_NE(deleted, nullptr);
  auto data = fattest::ReadObject(*deleted);
  ASSERT_EQ(data.size(), 2000u);
  EXPECT_EQ(data[0], 20);
  EXPECT_EQ(data[512], 22);
  EXPECT_EQ(data[1024], 24);
  EXPECT_EQ(data[1999], 25);
  auto live = fattest::ReadObject(*FindNamed(*v, "LIVE.BIN"));
  ASSERT_EQ(live.size(), 1024u);
  EXPECT_EQ(live[0], 0xAA);
  EXPECT_EQ(live[600], 0xBB);
}

TEST(FatRuns, DeletedFileWhoseFirstClusterIsInUseFollowsTheChain) {
  // A file moved to another folder leaves a deleted entry naming the live
  // file's first cluster.
  FatImage img = Fat16();
  FatImage::Entry(img.RootDir(), 0, "\xE5" "OVED   BIN", 0x20, 30, 1024);
  FatImage::Entry(img.RootDir(), 1, "MOVED   BIN", 0x20, 30, 1024);
  img.Chain({30, 40});
  std::memset(img.Cluster(30), 1, 512);
  std::memset(img.Cluster(40), 2, 512);
  auto v = Analysed(img);
  auto data = fattest::ReadObject(*FindNamed(*v, "_OVED.BIN"));
  ASSERT_EQ(data.size(), 1024u);
  EXPECT_EQ(data[1023], 2);
}

TEST(FatRoot, Fat32RootIdentityFollowsTheRootCluster) {
  FatImage img;
  img.bits = 32;
  img.totalSectors = 70000;
  img.rootCluster = 9;
  img.Build();
  FatImage::Entry(img.RootDir(), 0, "ROOTFILETXT", 0x20, 0, 0);
  FatImage::Entry(img.RootDir(), 1, "SUB        ", 0x10, 10, 0);
  img.Chain({10});
  FatImage::Entry(img.Cluster(10), 0, "INNER   TXT", 0x20, 0, 0);
  // An entry naming the root's cluster as a folder does not walk it again.
  FatImage::Entry(img.Cluster(10), 1, "BACKROOT   ", 0x10, 9, 0);
  auto v = Analysed(img);
  EXPECT_EQ(v->Catalog().Root().ObjectID, 9);
  CFoundObject* file = FindNamed(*v, "ROOTFILE.TXT");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->ParentID, 9);
  EXPECT_EQ(v->Catalog().GetFullPath(file), "/");
  EXPECT_EQ(v->Catalog().GetFullPath(FindNamed(*v, "INNER.TXT")), "/SUB/");
  EXPECT_EQ(v->SerialNumber & 0xFFFFFFFF, 0xCAFEF00Du);
}

TEST(FatFats, DifferingCopiesAreLoggedSingleCopyIsNot) {
  FatImage img = Fat16();
  img.SetFat(50, 0x1234, 1);
  size_t mark = theLog().LineCount();
  Analysed(img);
  EXPECT_EQ(LogCount(mark, "FAT1 and FAT2 not equal! (FAT1 or FAT2 corruppted"), 1);

  FatImage one;
  one.fats = 1;
  one.Build();
  mark = theLog().LineCount();
  Analysed(one);
  EXPECT_EQ(LogCount(mark, "not equal"), 0);
}

TEST(FatFats, UsedAreasCoverTheClustersInUse) {
  FatImage img = Fat16(2);
  img.Chain({2, 3});
  img.Chain({7});
  auto v = Analysed(img);
  const auto& used = Fat(*v).UsedAreas;
  ASSERT_EQ(used.size(), 2u);
  EXPECT_EQ(used[0], std::make_pair(img.FirstDataSector(), uint64_t{4}));
  EXPECT_EQ(used[1], std::make_pair(img.FirstDataSector() + 10, uint64_t{2}));
}

// Hostile boot sectors: each gives a log line and no objects; nothing
// allocates beyond the volume.
TEST(FatHostile, AbsurdGeometryIsRefusedWithALogLine) {
  struct Case {
    const char* what;
    void (*patch)(std::vector<uint8_t>&);
  };
  const Case cases[] = {
      {"bytes per sector", [](std::vector<uint8_t>& b) { fattest::Put16(&b[0x0B], 0); }},
      {"bytes per sector", [](std::vector<uint8_t>& b) { fattest::Put16(&b[0x0B], 100); }},
      {"sectors per cluster", [](std::vector<uint8_t>& b) { b[0x0D] = 0; }},
      {"sectors per cluster", [](std::vector<uint8_t>& b) { b[0x0D] = 3; }},
      {"not valid", [](std::vector<uint8_t>& b) { b[0x10] = 0; }},
      {"not valid", [](std::vector<uint8_t>& b) { fattest::Put16(&b[0x16], 0); }},
      {"not valid", [](std::vector<uint8_t>& b) { fattest::Put16(&b[0x0E], 0); }},
      {"beyond the volume", [](std::vector<uint8_t>& b) { fattest::Put16(&b[0x0E], 0xFFFF); }},
  };
  for (const Case& c : cases) {
    FatImage img = Fat16();
    FatImage::Entry(img.RootDir(), 0, "FILE    TXT", 0x20, 0, 0);
    c.patch(img.bytes);
    size_t mark = theLog().LineCount();
    auto v = Analysed(img);
    EXPECT_EQ(LogCount(mark, c.what), 1) << c.what;
    EXPECT_TRUE(fattest::WalkObjects(*v).empty()) << c.what;
  }
}

TEST(FatHostile, HugeFatSizesAreBoundedByTheVolume) {
  FatImage img;
  img.bits = 32;
  img.totalSectors = 70000;
  img.Build();
  fattest::Put32(&img.bytes[0x24], 0x7FFFFFFF);  // sectors per FAT
  fattest::Put32(&img.bytes[0x20], 0xFFFFFFFF);  // total sectors
  auto v = Analysed(img);  // the data area lies beyond the volume
  EXPECT_LE(Fat(*v).FatCopy.size(), img.bytes.size());

  FatImage small = Fat16();
  fattest::Put16(&small.bytes[0x16], 20);          // a FAT smaller than the volume needs
  FatImage::Entry(small.bytes.data() + (1 + 40) * 512, 0, "FILE    TXT", 0x20, 0, 0);  // root moved accordingly
  fattest::Put16(&small.bytes[0x13], 0xFFFF);
  auto w = Analysed(small);
  EXPECT_LE(Fat(*w).FatCopy.size(), 20u * 512);
  EXPECT_LE(Fat(*w).LastCluster, 20u * 256 - 1);
  EXPECT_NE(FindNamed(*w, "FILE.TXT"), nullptr);
}

TEST(FatHostile, EntriesPointingOutsideTheVolume) {
  FatImage img = Fat16();
  uint8_t* root = img.RootDir();
  FatImage::Entry(root, 0, "FARDIR     ", 0x10, 0xFFF0, 0);
  FatImage::Entry(root, 1, "FARFILE BIN", 0x20, 0xFFF0, 100000);
  FatImage::Entry(root, 2, "CHAINOUTBIN", 0x20, 8, 100000);
  img.SetFat(8, 0xFFF0);
  auto v = Analysed(img);
  ASSERT_EQ(fattest::WalkObjects(*v).size(), 3u);
  std::vector<FoundObjectRun> runs;
  v->FileSystem().GetRuns(*FindNamed(*v, "FARFILE.BIN"), runs);
  EXPECT_TRUE(runs.empty());
  v->FileSystem().GetRuns(*FindNamed(*v, "CHAINOUT.BIN"), runs);
  uint64_t sectors = 0;
  for (auto& r : runs) {
    EXPECT_LE(r.StartSector + r.SectorCount, img.totalSectors);
    sectors += r.SectorCount;
  }
  EXPECT_GT(sectors, 0u);
}

TEST(FatHostile, LongCrossLinkedChainsAreReadOnceAsDirectories) {
  // Every cluster of the volume chained into one long chain, and a folder
  // entry naming each of them: the walk reads each cluster once.
  FatImage img;
  img.totalSectors = 2048;
  img.Build();
  const uint32_t last = 2 + (img.totalSectors - static_cast<uint32_t>(img.FirstDataSector())) - 1;
  std::vector<uint32_t> all;
  for (uint32_t c = 2; c <= last; ++c) all.push_back(c);
  img.Chain(all);
  for (uint32_t c = 2; c <= last; ++c) {
    uint8_t* dir = img.Cluster(c);
    for (int k = 0; k < 16; ++k) FatImage::Entry(dir, k, "D          ", 0x10, 2 + (c * 7 + k) % (last - 1), 0);
  }
  FatImage::Entry(img.RootDir(), 0, "TOP        ", 0x10, 2, 0);
  std::shared_ptr<CMemoryDevice> device;
  auto v = MakeVolume(img.bytes, &device);
  size_t before = device->Reads().size();
  v->AnalyseFileSystem();
  uint64_t bytesRead = 0;
  auto reads = device->Reads();
  for (size_t k = before; k < reads.size(); ++k) bytesRead += reads[k].bytes;
  EXPECT_LE(bytesRead, img.bytes.size() * 2);
}

TEST(FatFileSystem, DetectTypeNamesAndPlainRuns) {
  CFileSystem fs;
  std::vector<uint8_t> boot(512, 0);
  std::memcpy(&boot[3], "NTFS    ", 8);
  EXPECT_EQ(fs.DetectType(boot.data()), 7u);
  std::memcpy(&boot[0x52], "FAT32   ", 8);
  EXPECT_EQ(fs.DetectType(boot.data()), 11u);
  std::memcpy(&boot[0x36], "FAT16   ", 8);
  EXPECT_EQ(fs.DetectType(boot.data()), 4u);
  std::memcpy(&boot[0x36], "FAT12   ", 8);
  EXPECT_EQ(fs.DetectType(boot.data()), 1u);
  std::memcpy(&boot[0x36], "FAT1    ", 8);
  std::memcpy(&boot[0x52], "FAT32  \0", 8);
  EXPECT_EQ(fs.DetectType(boot.data()), 7u);

  EXPECT_EQ(fs.FileSystemName, "Unknown");
  EXPECT_EQ(fs.GetFileSystemName(6), "FAT16");
  EXPECT_EQ(fs.GetFileSystemName(128), "NTFS");
  EXPECT_EQ(fs.GetFileSystemName(12), "FAT32");
  EXPECT_EQ(fs.GetFileSystemName(17), "Unknown");
  EXPECT_EQ(fs.Reserved(0, 0, 0, 0, 0), E_FAIL_CODE);

  fs.FileSystemType = 0x83;
  CFoundObject o;
  o.FirstCluster = 100;
  o.Size = 1025;
  std::vector<FoundObjectRun> runs;
  fs.GetRuns(o, runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].StartSector, 100u);
  EXPECT_EQ(runs[0].SectorCount, 3u);
}

TEST(FatFileSystem, StopRequestEndsTheWalk) {
  FatImage img = Fat16();
  FatImage::Entry(img.RootDir(), 0, "FILE    TXT", 0x20, 0, 0);
  auto v = MakeVolume(img.bytes);
  v->SetFileSystem(std::make_unique<CFileSystem_FAT>(v.get()));
  theApp().AnalysisRunning = 0;
  v->FileSystem().Analyse();
  EXPECT_TRUE(fattest::WalkObjects(*v).empty());
}

}  // namespace

namespace {

// A small tree: folders, long names, deleted entries and chains, to mutate.
FatImage TreeImage(int bits) {
  FatImage img;
  img.bits = bits;
  img.totalSectors = bits == 32 ? 2048 : 1024;
  if (bits == 12) img.rootEntries = 64;
  img.Build();
  const uint32_t base = bits == 32 ? 3 : 2;
  uint8_t* root = img.RootDir();
  int i = FatImage::LongName(root, 0, "A folder with a long name", "AFOLDE~1   ");
  FatImage::Entry(root, i, "AFOLDE~1   ", 0x10, base, 0);
  FatImage::Entry(root, i + 1, "\xE5" "ELETED TXT", 0x20, base + 4, 3000);
  FatImage::Entry(root, i + 2, "FILE    BIN", 0x20, base + 1, 1500);
  img.Chain({base, base + 8});
  img.Chain({base + 1, base + 2, base + 6});
  uint8_t* dir = img.Cluster(base);
  FatImage::Entry(dir, 0, ".          ", 0x10, base, 0);
  FatImage::Entry(dir, 1, "..         ", 0x10, 0, 0);
  FatImage::Entry(dir, 2, "SUB        ", 0x10, base + 3, 0);
  FatImage::Entry(dir, 3, "\xE5" "ONE    DAT", 0x20, base + 5, 700);
  img.Chain({base + 3});
  FatImage::Entry(img.Cluster(base + 3), 0, "INNER   TXT", 0x20, base + 7, 100);
  img.Chain({base + 7});
  FatImage::Entry(img.Cluster(base + 8), 0, "SECOND  TXT", 0x20, 0, 0);
  return img;
}

}  // namespace

// Random damage to the boot sector, the FATs and the directories: the parser
// logs and goes on; it never crashes, never reads past the volume and never
// allocates beyond it.
TEST(FatHostile, RandomlyDamagedImagesAreWalkedSafely) {
  for (int bits : {12, 16, 32}) {
    const FatImage clean = TreeImage(bits);
    const size_t metadata = (clean.FirstDataSector() + 12 * clean.sectorsPerCluster) * 512;
    uint32_t seed = 12345u + static_cast<uint32_t>(bits);
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 150; ++round) {
      FatImage img = clean;
      const int flips = 1 + static_cast<int>(next() % 40);
      for (int k = 0; k < flips; ++k) img.bytes[next() % metadata] = static_cast<uint8_t>(next());
      auto v = Analysed(img);
      if (auto* fs = dynamic_cast<CFileSystem_FAT*>(&v->FileSystem())) {
        EXPECT_LE(fs->FatCopy.size(), img.bytes.size());
      }
      for (CFoundObject* o : fattest::WalkObjects(*v)) {
        std::vector<FoundObjectRun> runs;
        v->FileSystem().GetRuns(*o, runs);
        uint64_t sectors = 0;
        for (const auto& r : runs) {
          EXPECT_LE(r.StartSector + r.SectorCount, img.totalSectors) << "bits " << bits << " round " << round;
          sectors += r.SectorCount;
        }
        if (!o->IsFolder()) {
          EXPECT_LE(sectors * 512, o->Size + 511);
        }
      }
    }
  }
}
