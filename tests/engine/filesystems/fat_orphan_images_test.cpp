// FAT12/16/32 images made by mkfs.fat and mtools where folders holding files
// were deleted and their own entries are gone: every deleted file and folder
// Sleuth Kit's fls lists under $OrphanFiles must be listed under a
// placeholder folder, nothing else may appear there, and each file must read
// back as it was written.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "engine/volume/local_computer.h"
#include "tests/engine/filesystems/fat_test_image.h"
#include "tests/support/test_support.h"

namespace {

struct Orphan {
  bool folder = false;
  std::string name;    // fls's name: the short name
  uint64_t sector = 0;  // first sector (files)
  uint64_t size = 0;
};

// The orphans fls lists, with the first sector and size istat gives.
std::vector<Orphan> FlsOrphans(const std::string& image) {
  std::string out;
  EXPECT_EQ(qmtest::RunCommand("fls -r -p " + image, &out), 0);
  std::vector<Orphan> orphans;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    // "-/r * 233:\t$OrphanFiles/_LDPHO~1.JPG"
    const auto tab = line.find('\t');
    if (tab == std::string::npos || line.compare(tab + 1, 13, "$OrphanFiles/") != 0) continue;
    Orphan o;
    o.folder = line[2] == 'd';
    o.name = line.substr(line.rfind('/') + 1);
    const auto colon = line.find(':');
    const std::string inode = line.substr(line.rfind(' ', colon) + 1, colon - line.rfind(' ', colon) - 1);
    if (!o.folder) {
      std::string stat;
      EXPECT_EQ(qmtest::RunCommand("istat " + image + " " + inode, &stat), 0);
      const auto size = stat.find("\nSize: ");
      const auto sectors = stat.find("Sectors:\n");
      if (size == std::string::npos || sectors == std::string::npos) continue;
      o.size = std::stoull(stat.substr(size + 7));
      o.sector = std::stoull(stat.substr(sectors + 9));
    }
    orphans.push_back(o);
  }
  return orphans;
}

// A name as fls prints it: every character beyond ASCII as '^'.
std::string AsFlsPrints(const std::string& utf8) {
  std::string out;
  for (unsigned char c : utf8) {
    if (c < 0x80) out += static_cast<char>(c);
    else if ((c & 0xC0) != 0x80) out += '^';
  }
  return out;
}

// The written files by size (the script gives each its own size).
std::map<uint64_t, std::filesystem::path> SourcesBySize(const std::string& dir) {
  std::map<uint64_t, std::filesystem::path> out;
  for (const auto& f : std::filesystem::recursive_directory_iterator(dir))
    if (f.is_regular_file()) out[f.file_size()] = f.path();
  return out;
}

// Analyses the image and compares what lies outside the file system's tree
// with fls's orphans; returns the files read back and compared.
int CheckOrphans(const std::string& image, const std::map<uint64_t, std::filesystem::path>& sources) {
  const std::vector<Orphan> expected = FlsOrphans(image);
  EXPECT_GE(expected.size(), 30u) << image << " should hold lost folders' entries";
  CVolume* volume = theComputer().LoadImage(image);
  if (!volume || volume->Analyse_Boot() != 1u) {
    ADD_FAILURE() << image << " not analysed";
    return 0;
  }
  volume->AnalyseFileSystem();
  // What landed under placeholder folders: outside the file system's tree.
  // The FAT12/16 root's live empty file waits under one too; it is no orphan.
  std::vector<CFoundObject*> found;
  for (CFoundObject* o : fattest::WalkObjects(*volume)) {
    if (volume->Catalog().GetFullPath(o).rfind('/', 0) == 0) continue;
    if (!o->IsDeleted() && o->ObjectID == -1) continue;
    found.push_back(o);
  }

  std::set<CFoundObject*> matched;
  int readBack = 0;
  for (const Orphan& want : expected) {
    CFoundObject* got = nullptr;
    for (CFoundObject* o : found) {
      if (matched.count(o) || !o->IsDeleted() || o->IsFolder() != want.folder) continue;
      if (want.folder ? o->Name == want.name : o->StartOffset == want.sector * 512 && o->Size == want.size) {
        got = o;
        break;
      }
    }
    if (!got) {
      ADD_FAILURE() << image << ": not listed: " << want.name;
      continue;
    }
    matched.insert(got);
    if (want.folder || want.size == 0) continue;
    auto source = sources.find(want.size);
    if (source == sources.end()) {
      ADD_FAILURE() << image << ": no file written of the size of " << want.name;
      continue;
    }
    // Its long name, or the short one where the long name's parts lie in
    // another cluster.
    EXPECT_TRUE(got->Name == source->second.filename().string() || AsFlsPrints(got->Name) == want.name) << got->Name;
    EXPECT_EQ(fattest::ReadObject(*got), qmtest::ReadFileBytes(source->second.string())) << got->Name;
    ++readBack;
  }
  for (CFoundObject* o : found)
    if (!matched.count(o)) ADD_FAILURE() << image << ": listed, fls does not: " << o->Name;
  return readBack;
}

class FatOrphanImages : public ::testing::TestWithParam<std::string> {};

TEST_P(FatOrphanImages, OrphansFlsListsAreFoundAndReadBack) {
  if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy") || !qmtest::HaveTool("fls"))
    GTEST_SKIP() << "mkfs.fat, mtools or sleuthkit missing";
  const std::string dir = qmtest::MakeTempDir("qm-fat-orphans"), type = GetParam();
  std::string log;
  ASSERT_EQ(qmtest::RunCommand(qmtest::SourcePath("scripts/make-fat-orphan-images.sh") + " " + dir + " " + type +
                                   " 2>&1",
                               &log),
            0)
      << log;
  const auto sources = SourcesBySize(dir + "/src-" + type);
  // Folders deleted and their entries overwritten.
  EXPECT_GE(CheckOrphans(dir + "/" + type + "-orphans.img", sources), 30);
  // The volume quick-formatted: every folder is lost, the live ones too.
  EXPECT_GE(CheckOrphans(dir + "/" + type + "-formatted.img", sources), 32);
}

INSTANTIATE_TEST_SUITE_P(Types, FatOrphanImages, ::testing::Values("fat12", "fat16", "fat32"));

}  // namespace
