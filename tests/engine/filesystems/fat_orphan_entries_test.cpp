// The search for entries of lost FAT folders in free clusters, on bytes
// crafted here: which entries and clusters pass as a directory, and where
// their files land in the catalog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "engine/filesystems/fat_orphan_entries.h"
#include "tests/engine/filesystems/fat_test_image.h"

namespace {

using fattest::FatImage;
using fattest::FindNamed;
using fattest::Put16;
using fattest::Put32;

const CFatOrphanEntries::Limits kLimits{1000, 999 * 512, false};

std::vector<uint8_t> GoodEntry(const char* name11 = "PHOTO   JPG", uint8_t attr = 0x20, uint32_t cluster = 40,
                               uint32_t size = 5000) {
  std::vector<uint8_t> e(32);
  FatImage::Entry(e.data(), 0, name11, attr, cluster, size);
  return e;
}

TEST(FatOrphanEntries, ShortEntriesNoWriterWritesAreRefused) {
  EXPECT_TRUE(CFatOrphanEntries::IsStrictShortEntry(GoodEntry().data(), kLimits));
  EXPECT_TRUE(CFatOrphanEntries::IsStrictShortEntry(GoodEntry("\xE5HOTO   JPG").data(), kLimits));
  EXPECT_TRUE(CFatOrphanEntries::IsStrictShortEntry(GoodEntry("A       B  ").data(), kLimits));
  EXPECT_TRUE(CFatOrphanEntries::IsStrictShortEntry(GoodEntry("SUB        ", 0x10, 41, 0).data(), kLimits));
  EXPECT_TRUE(CFatOrphanEntries::IsStrictShortEntry(GoodEntry("..         ", 0x10, 0, 0).data(), kLimits));
  EXPECT_TRUE(CFatOrphanEntries::IsStrictShortEntry(GoodEntry("EMPTY   TXT", 0x20, 0, 0).data(), kLimits));

  const std::vector<std::pair<const char*, std::function<void(uint8_t*)>>> refused = {
      {"lower-case name byte", [](uint8_t* e) { e[2] = 'h'; }},
      {"name byte below 0x20", [](uint8_t* e) { e[3] = 0x01; }},
      {"forbidden name byte", [](uint8_t* e) { e[4] = '*'; }},
      {"dot inside a name", [](uint8_t* e) { e[1] = '.'; }},
      {"space inside the base name", [](uint8_t* e) { e[2] = ' '; }},
      {"space inside the extension", [](uint8_t* e) { e[9] = ' '; }},
      {"name starting with a space", [](uint8_t* e) { e[0] = ' '; }},
      {"attribute bit 0x40", [](uint8_t* e) { e[0x0B] = 0x60; }},
      {"volume label", [](uint8_t* e) { e[0x0B] = 0x08; }},
      {"unknown case bit", [](uint8_t* e) { e[0x0C] = 0x01; }},
      {"tenths of 200", [](uint8_t* e) { e[0x0D] = 200; }},
      {"creation time 24:00", [](uint8_t* e) { Put16(e + 0x0E, 24 << 11); }},
      {"creation date month 13", [](uint8_t* e) { Put16(e + 0x10, (40 << 9) | (13 << 5) | 1); }},
      {"access date day 0", [](uint8_t* e) { Put16(e + 0x12, (40 << 9) | (2 << 5)); }},
      {"modification date 30 February", [](uint8_t* e) { Put16(e + 0x18, (40 << 9) | (2 << 5) | 30); }},
      {"no modification date", [](uint8_t* e) { Put16(e + 0x18, 0); }},
      {"modification minute 60", [](uint8_t* e) { Put16(e + 0x16, 60 << 5); }},
      {"high cluster word on FAT16", [](uint8_t* e) { Put16(e + 0x14, 1); }},
      {"cluster past the data area", [](uint8_t* e) { Put16(e + 0x1A, 1001); }},
      {"cluster 1", [](uint8_t* e) { Put16(e + 0x1A, 1); }},
      {"size beyond the data area", [](uint8_t* e) { Put32(e + 0x1C, 999 * 512 + 1); }},
      {"data without a cluster", [](uint8_t* e) { Put16(e + 0x1A, 0); }},
      {"folder with a size", [](uint8_t* e) { e[0x0B] = 0x10; }},
  };
  for (const auto& [what, change] : refused) {
    auto e = GoodEntry();
    change(e.data());
    EXPECT_FALSE(CFatOrphanEntries::IsStrictShortEntry(e.data(), kLimits)) << what;
  }
  // A folder other than ".." needs its cluster.
  EXPECT_FALSE(CFatOrphanEntries::IsStrictShortEntry(GoodEntry("SUB        ", 0x10, 0, 0).data(), kLimits));
  // FAT32 takes the high word, still inside the data area.
  const CFatOrphanEntries::Limits fat32{0x20000, 0x1FFFFull * 512, true};
  auto e = GoodEntry("BIG     BIN", 0x20, 0x1FFFF);
  EXPECT_TRUE(CFatOrphanEntries::IsStrictShortEntry(e.data(), fat32));
  EXPECT_FALSE(CFatOrphanEntries::IsStrictShortEntry(e.data(), kLimits));
  Put16(e.data() + 0x14, 2);
  EXPECT_FALSE(CFatOrphanEntries::IsStrictShortEntry(e.data(), fat32));
}

TEST(FatOrphanEntries, LongNameEntriesAsWritten) {
  std::vector<uint8_t> dir(4 * 32);
  FatImage::LongName(dir.data(), 0, "a rather long file name.jpeg", "ARATHE~1JPE");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(CFatOrphanEntries::IsStrictLongNameEntry(dir.data() + i * 32)) << i;
  FatImage::LongName(dir.data(), 0, "deleted.txt", "DELETED TXT", true);
  EXPECT_TRUE(CFatOrphanEntries::IsStrictLongNameEntry(dir.data()));

  const std::vector<std::pair<const char*, std::function<void(uint8_t*)>>> refused = {
      {"type byte", [](uint8_t* e) { e[0x0C] = 1; }},
      {"cluster field", [](uint8_t* e) { e[0x1A] = 1; }},
      {"sequence 0", [](uint8_t* e) { e[0] = 0x40; }},
      {"sequence 21", [](uint8_t* e) { e[0] = 0x55; }},
      {"sequence with bit 0x20", [](uint8_t* e) { e[0] = 0x21; }},
      {"text after the terminator", [](uint8_t* e) { Put16(e + 0x1E, 'x'); }},
      {"padding before the terminator", [](uint8_t* e) { Put16(e + 0x01, 0xFFFF); }},
  };
  for (const auto& [what, change] : refused) {
    FatImage::LongName(dir.data(), 0, "short.txt", "SHORT   TXT");
    change(dir.data());
    EXPECT_FALSE(CFatOrphanEntries::IsStrictLongNameEntry(dir.data())) << what;
  }
}

// A directory cluster as a folder's first cluster looks: "." naming the
// cluster, "..", then a deleted file with its long name.
std::vector<uint8_t> FolderCluster(uint32_t cluster, size_t bytes = 512) {
  std::vector<uint8_t> c(bytes);
  FatImage::Entry(c.data(), 0, ".          ", 0x10, cluster, 0);
  FatImage::Entry(c.data(), 1, "..         ", 0x10, 0, 0);
  int i = FatImage::LongName(c.data(), 2, "holiday.jpeg", "HOLIDA~1JPE", true);
  FatImage::Entry(c.data(), i, "\xE5OLIDA~1JPE", 0x20, 50, 1234);
  return c;
}

TEST(FatOrphanEntries, DirectoryClusterHoldsNothingButEntries) {
  auto c = FolderCluster(30);
  EXPECT_TRUE(CFatOrphanEntries::IsDirectoryCluster(c.data(), c.size(), kLimits));
  EXPECT_EQ(CFatOrphanEntries::FolderOfCluster(c.data(), c.size(), 30, false), 30);
  EXPECT_EQ(CFatOrphanEntries::FolderOfCluster(c.data(), c.size(), 31, false), ORPHAN_FILES_ID);

  auto cut = c;  // a continuation cluster: no "." entry, its own folder unknown
  std::memset(cut.data(), 0xE5, 1);
  std::memset(cut.data() + 32, 0xE5, 1);
  EXPECT_EQ(CFatOrphanEntries::FolderOfCluster(cut.data(), cut.size(), 30, false), ORPHAN_FILES_ID);

  auto afterEnd = c;  // an entry after the end mark
  FatImage::Entry(afterEnd.data(), 10, "LATE    TXT", 0x20, 60, 10);
  EXPECT_FALSE(CFatOrphanEntries::IsDirectoryCluster(afterEnd.data(), afterEnd.size(), kLimits));
  auto dirtyEnd = c;  // an unused slot that is not all zeros
  dirtyEnd[10 * 32 + 5] = 1;
  EXPECT_FALSE(CFatOrphanEntries::IsDirectoryCluster(dirtyEnd.data(), dirtyEnd.size(), kLimits));
  auto oneBad = c;  // one entry no writer made: month 13
  Put16(oneBad.data() + 3 * 32 + 0x18, (40 << 9) | (13 << 5) | 1);
  EXPECT_FALSE(CFatOrphanEntries::IsDirectoryCluster(oneBad.data(), oneBad.size(), kLimits));
  auto dotsOnly = c;  // an empty folder: nothing to give
  std::fill(dotsOnly.begin() + 64, dotsOnly.end(), 0);
  EXPECT_FALSE(CFatOrphanEntries::IsDirectoryCluster(dotsOnly.data(), dotsOnly.size(), kLimits));
  std::vector<uint8_t> zeros(512);
  EXPECT_FALSE(CFatOrphanEntries::IsDirectoryCluster(zeros.data(), zeros.size(), kLimits));
}

TEST(FatOrphanEntries, RandomTextAndPatternedDataAreNoDirectory) {
  std::mt19937 rng(18);
  std::vector<uint8_t> c(512);
  for (int n = 0; n < 20000; ++n) {
    for (auto& b : c) b = static_cast<uint8_t>(rng());
    ASSERT_FALSE(CFatOrphanEntries::IsDirectoryCluster(c.data(), c.size(), kLimits)) << n;
    // A cluster that opens like a folder but holds random data after.
    auto folder = FolderCluster(30);
    std::copy(c.begin() + 64, c.end(), folder.begin() + 64);
    ASSERT_FALSE(CFatOrphanEntries::IsDirectoryCluster(folder.data(), folder.size(), kLimits)) << n;
  }
  // Upper-case text and a repeated byte pattern.
  const std::string text = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 ";
  for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<uint8_t>(text[i % text.size()]);
  EXPECT_FALSE(CFatOrphanEntries::IsDirectoryCluster(c.data(), c.size(), kLimits));
  for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<uint8_t>(i % 32 == 0 ? 'A' : 0x20);
  EXPECT_FALSE(CFatOrphanEntries::IsDirectoryCluster(c.data(), c.size(), kLimits));
}

TEST(FatOrphanEntries, DeletedLongNameCutAtTheClusterStartFallsBackToTheShortName) {
  // "a deleted name longer than 26.txt": three parts; the cluster starts
  // with the second, so the part holding the name's end lies elsewhere.
  std::vector<uint8_t> dir(8 * 32);
  int i = FatImage::LongName(dir.data(), 0, "a deleted name longer than 26.txt", "ADELET~1TXT", true);
  FatImage::Entry(dir.data(), i, "\xE5" "DELET~1TXT", 0x20, 40, 10);
  const uint8_t* cut = dir.data() + 32;
  const size_t at = static_cast<size_t>(i - 1) * 32;
  EXPECT_EQ(CFileSystem_FAT::GetEntryName(cut, at, true), "_DELET~1.TXT");
  EXPECT_EQ(CFileSystem_FAT::GetEntryName(dir.data(), at + 32, true), "a deleted name longer than 26.txt");
}

TEST(FatOrphanWalk, FilesOfLostFoldersLandUnderPlaceholdersAndReadBack) {
  FatImage img;
  img.bits = 16;
  img.totalSectors = 8192;
  img.Build();
  uint8_t* root = img.RootDir();
  // A live file, and a deleted folder whose entry survives (the walk reads it).
  FatImage::Entry(root, 0, "KEEP    TXT", 0x20, 3, 10);
  img.Chain({3});
  FatImage::Entry(root, 1, "\xE5ONE       ", 0x10, 70, 0);
  FatImage::Entry(img.Cluster(70), 0, ".          ", 0x10, 70, 0);
  FatImage::Entry(img.Cluster(70), 1, "..         ", 0x10, 0, 0);
  FatImage::Entry(img.Cluster(70), 2, "\xE5ISTED  TXT", 0x20, 71, 20);
  // A lost folder at cluster 10: a deleted photo and a deleted subfolder.
  auto lost = FolderCluster(10);
  FatImage::Entry(lost.data(), 4, "\xE5UB        ", 0x10, 8, 0);
  std::copy(lost.begin(), lost.end(), img.Cluster(10));
  std::vector<uint8_t> photo(1234);
  for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i * 7 + 1);
  std::copy(photo.begin(), photo.end(), img.Cluster(50));
  // The subfolder's cluster comes first in the volume: its empty file is
  // found before the folder itself.
  FatImage::Entry(img.Cluster(8), 0, ".          ", 0x10, 8, 0);
  FatImage::Entry(img.Cluster(8), 1, "..         ", 0x10, 10, 0);
  FatImage::Entry(img.Cluster(8), 2, "\xE5NNER   TXT", 0x20, 0, 0);
  // A cluster further into some lost folder: no "." entry. An entry there
  // that was never marked deleted (the volume was formatted) is deleted too:
  // its cluster is free.
  FatImage::Entry(img.Cluster(20), 0, "\xE5ONT    TXT", 0x20, 21, 50);
  FatImage::Entry(img.Cluster(20), 1, "FORMATEDTXT", 0x20, 22, 50);
  // Free clusters of random data.
  std::mt19937 rng(7);
  for (uint32_t c = 100; c < 2000; ++c)
    for (uint32_t k = 0; k < 512; ++k) img.Cluster(c)[k] = static_cast<uint8_t>(rng());

  auto v = fattest::MakeVolume(img.bytes);
  v->AnalyseFileSystem();
  std::vector<std::string> names;
  for (auto* o : fattest::WalkObjects(*v)) names.push_back(o->Name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"FORMATED.TXT", "KEEP.TXT", "_ISTED.TXT", "_NNER.TXT", "_ONE",
                                             "_ONT.TXT", "_UB", "holiday.jpeg"}));
  EXPECT_TRUE(FindNamed(*v, "FORMATED.TXT")->IsDeleted());
  EXPECT_EQ(FindNamed(*v, "FORMATED.TXT")->ParentID, ORPHAN_FILES_ID);

  CFoundObject* file = FindNamed(*v, "holiday.jpeg");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->IsDeleted());
  EXPECT_EQ(file->ParentID, 10);
  int64_t cursor = -1;
  CFoundObject* placeholder = v->Catalog().FindByID(10, cursor);
  ASSERT_NE(placeholder, nullptr);
  EXPECT_TRUE(placeholder->Flags & FOF_LOST_FOLDER);
  EXPECT_EQ(fattest::ReadObject(*file), photo);

  CFoundObject* sub = FindNamed(*v, "_UB");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->ParentID, 10);
  CFoundObject* inner = FindNamed(*v, "_NNER.TXT");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->ParentID, 8);  // the empty file still finds its folder
  EXPECT_EQ(sub->ObjectID, 8);
  EXPECT_EQ(FindNamed(*v, "_ONT.TXT")->ParentID, ORPHAN_FILES_ID);
  EXPECT_EQ(v->Catalog().GetFullPath(FindNamed(*v, "_ISTED.TXT")), "/_ONE/");
}

}  // namespace
