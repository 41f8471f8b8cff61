// FAT12/16/32 images made by mkfs.fat and mtools: the catalog must list what
// Sleuth Kit's fls lists, and every live file must read back as mtools
// gives it, fragmented files and folders included.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "engine/filesystems/file_system_fat.h"
#include "engine/volume/local_computer.h"
#include "tests/engine/filesystems/fat_test_image.h"
#include "tests/support/test_support.h"

namespace {

using fattest::ReadObject;

// The images, made once per test program; empty when the tools are missing.
const std::string& ImagesDir() {
  static const std::string dir = [] {
    if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy") || !qmtest::HaveTool("fls")) return std::string();
    std::string d = qmtest::MakeTempDir("qm-fat-images"), out;
    if (qmtest::RunCommand(qmtest::SourcePath("scripts/make-fat-images.sh") + " " + d + " 2>&1", &out) != 0) {
      ADD_FAILURE() << "make-fat-images.sh failed: " << out;
      return std::string();
    }
    return d;
  }();
  return dir;
}

class FatImages : public ::testing::TestWithParam<std::string> {
protected:
  void SetUp() override {
    if (ImagesDir().empty()) GTEST_SKIP() << "mkfs.fat, mtools or sleuthkit missing";
    image_ = ImagesDir() + "/" + GetParam() + ".img";
    volume_ = theComputer().LoadImage(image_);
    ASSERT_NE(volume_, nullptr);
    ASSERT_EQ(volume_->Analyse_Boot(), 1u);
    volume_->AnalyseFileSystem();
  }

  // "path" relative to the root, as fls prints it.
  std::string PathOf(const CFoundObject* o) const {
    // Empty files of the FAT12/16 root have no cluster and wait under the
    // placeholder folder 0x0F000000.
    if (o->ParentID == 0x0F000000) return o->Name;
    std::string folder = volume_->Catalog().GetFullPath(o);
    if (!folder.empty() && folder[0] == '/') folder.erase(0, 1);
    return folder + o->Name;
  }

  std::string image_;
  CVolume* volume_ = nullptr;
};

struct Listed {
  std::string path;
  bool folder;
  bool deleted;
  auto operator<=>(const Listed&) const = default;
};

TEST_P(FatImages, ListingAgreesWithFls) {
  std::string out;
  ASSERT_EQ(qmtest::RunCommand("fls -r -p " + image_, &out), 0);
  std::multiset<Listed> expected;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    // "r/r * 523:\tDOCS/deleted long name.txt"
    auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string path = line.substr(tab + 1);
    if (path.find("(Volume Label Entry)") != std::string::npos || path.rfind("$", 0) == 0) continue;
    Listed l{path, line[2] == 'd', line.find(" * ") != std::string::npos};
    expected.insert(l);
  }
  std::multiset<Listed> actual;
  for (CFoundObject* o : fattest::WalkObjects(*volume_)) actual.insert({PathOf(o), o->IsFolder(), o->IsDeleted()});

  std::vector<Listed> missing, extra;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(), std::back_inserter(missing));
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(), std::back_inserter(extra));
  for (const auto& m : missing) ADD_FAILURE() << "not listed: " << m.path << (m.deleted ? " (deleted)" : "");
  for (const auto& e : extra) ADD_FAILURE() << "listed, fls does not: " << e.path << (e.deleted ? " (deleted)" : "");
  EXPECT_GT(expected.size(), 70u);
  EXPECT_EQ(volume_->FoldersFound + volume_->FilesFound, actual.size());
}

TEST_P(FatImages, LiveFilesReadAsMtoolsGivesThem) {
  int checked = 0;
  for (CFoundObject* o : fattest::WalkObjects(*volume_)) {
    if (o->IsFolder() || o->IsDeleted()) continue;
    std::string expected;
    ASSERT_EQ(qmtest::RunCommand("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 mcopy -n -i '" + image_ + "' '::/" + PathOf(o) +
                                     "' - 2>/dev/null",
                                 &expected),
              0)
        << PathOf(o);
    std::vector<uint8_t> got = ReadObject(*o);
    ASSERT_EQ(got.size(), expected.size()) << PathOf(o);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin(),
                           [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }))
        << PathOf(o);
    ++checked;
  }
  EXPECT_GT(checked, 50);
}

TEST_P(FatImages, FragmentedFileAndFolderAreReadAlongTheirChains) {
  CFoundObject* file = fattest::FindNamed(*volume_, "fragmented.bin");
  ASSERT_NE(file, nullptr);
  std::vector<FoundObjectRun> runs;
  volume_->FileSystem().GetRuns(*file, runs);
  EXPECT_GT(runs.size(), 1u) << "the image should hold this file in pieces";
  CFoundObject* many = fattest::FindNamed(*volume_, "MANY");
  ASSERT_NE(many, nullptr);
  volume_->FileSystem().GetRuns(*many, runs);
  EXPECT_GT(runs.size(), 1u) << "the folder should be in pieces";
  std::vector<CFoundObject*> children;
  volume_->Catalog().GetChildren(many->ObjectID, children);
  EXPECT_EQ(children.size(), 40u);
}

TEST_P(FatImages, DeletedFileSkipsTheLiveClustersBetweenItsPieces) {
  CFoundObject* file = fattest::FindNamed(*volume_, "deleted_frag.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->IsDeleted());
  auto expected = qmtest::ReadFileBytes(ImagesDir() + "/src/deleted_frag-" + GetParam() + ".bin");
  EXPECT_EQ(ReadObject(*file), expected);

  // A file of the deleted folder reads back too.
  CFoundObject* trash = nullptr;
  for (CFoundObject* o : fattest::WalkObjects(*volume_))
    if (o->Name == "_rash1.txt") trash = o;
  ASSERT_NE(trash, nullptr);
  EXPECT_EQ(ReadObject(*trash), qmtest::ReadFileBytes(ImagesDir() + "/src/trash1-" + GetParam() + ".txt"));
}

TEST_P(FatImages, GeometryLabelAndTimes) {
  auto& fs = dynamic_cast<CFileSystem_FAT&>(volume_->FileSystem());
  const std::string param = GetParam();
  EXPECT_EQ(fs.FileSystemName, param == "fat12" ? "FAT12" : param == "fat16" ? "FAT16" : "FAT32");
  EXPECT_EQ(fs.VolumeLabel, param == "fat12" ? "QMFAT12" : param == "fat16" ? "QMFAT16" : "QMFAT32");
  EXPECT_EQ(volume_->SerialNumber & 0xFFFFFFFF,
            param == "fat12" ? 0x12121212u : param == "fat16" ? 0x16161616u : 0x32323232u);
  EXPECT_EQ(volume_->BytesPerCluster, param == "fat16" ? 2048u : 512u);
  EXPECT_FALSE(fs.UsedAreas.empty());
  CFoundObject* readme = fattest::FindNamed(*volume_, "readme.txt");
  ASSERT_NE(readme, nullptr);
  // Written minutes ago (FILETIME in 100 ns units since 1601): after 2020.
  EXPECT_GT(readme->ModificationTime, 132223104000000000ull);
}

INSTANTIATE_TEST_SUITE_P(Types, FatImages, ::testing::Values("fat12", "fat16", "fat32"));

// The FAT32 root moved away from cluster 2: its entries still land under
// "Filesystem", and fls agrees on the listing.
TEST(FatImagesMovedRoot, RootEntriesLandUnderTheRoot) {
  if (ImagesDir().empty()) GTEST_SKIP() << "mkfs.fat, mtools or sleuthkit missing";
  auto bytes = qmtest::ReadFileBytes(ImagesDir() + "/fat32.img");
  ASSERT_GT(bytes.size(), 1u << 20);
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(bytes[at] | (bytes[at + 1] << 8)); };
  auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
  const uint32_t reserved = u16(0x0E), fats = bytes[0x10], fatSectors = u32(0x24), spc = bytes[0x0D];
  ASSERT_EQ(u32(0x2C), 2u);
  const uint64_t dataStart = (reserved + static_cast<uint64_t>(fats) * fatSectors) * 512;
  // Move the root's first cluster to a free cluster near the end.
  const uint32_t clusterBytes = spc * 512;
  const uint32_t target = static_cast<uint32_t>((bytes.size() - dataStart) / clusterBytes) - 10;
  for (uint32_t f = 0; f < fats; ++f) {
    size_t fat = (reserved + static_cast<size_t>(f) * fatSectors) * 512;
    ASSERT_EQ(u32(fat + target * 4), 0u);
    fattest::Put32(&bytes[fat + target * 4], u32(fat + 2 * 4));
    fattest::Put32(&bytes[fat + 2 * 4], 0);
  }
  std::copy_n(bytes.begin() + dataStart, clusterBytes, bytes.begin() + dataStart + (target - 2) * clusterBytes);
  std::fill_n(bytes.begin() + dataStart, clusterBytes, 0);
  fattest::Put32(&bytes[0x2C], target);
  const std::string path = qmtest::WriteTempFile("moved-root.img", bytes);

  CVolume* volume = theComputer().LoadImage(path);
  ASSERT_NE(volume, nullptr);
  volume->Analyse_Boot();
  volume->AnalyseFileSystem();
  EXPECT_EQ(volume->Catalog().Root().ObjectID, static_cast<int64_t>(target));
  CFoundObject* readme = fattest::FindNamed(*volume, "readme.txt");
  ASSERT_NE(readme, nullptr);
  EXPECT_EQ(volume->Catalog().GetFullPath(readme), "/");
  CFoundObject* nested = fattest::FindNamed(*volume, "nested.dat");
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(volume->Catalog().GetFullPath(nested), "/DOCS/Sub Folder Long Name/deep/");
  for (CFoundObject* o : fattest::WalkObjects(*volume))
    EXPECT_FALSE(volume->Catalog().GetFullPath(o).rfind("lost_folder_", 0) == 0 && o->ParentID != 0x0F000000)
        << o->Name;
}

}  // namespace
