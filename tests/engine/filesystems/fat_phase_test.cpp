// The file-system phase of an analysis on FAT volumes and on volumes without
// a file system: catalog, counters, messages and log lines.
#include <gtest/gtest.h>

#include <mutex>

#include "platform/messages.h"
#include "tests/engine/filesystems/fat_test_image.h"

namespace {

using fattest::FatImage;

class Recorder : public IMessageTarget {
public:
  void PostMessage(uint32_t message, uintptr_t, intptr_t) override {
    std::lock_guard lock(mutex);
    posted.push_back(message);
  }
  intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
    std::lock_guard lock(mutex);
    sent.emplace_back(message, wParam);
    return 0;
  }
  std::mutex mutex;
  std::vector<uint32_t> posted;
  std::vector<std::pair<uint32_t, uintptr_t>> sent;
};

class FatPhase : public ::testing::Test {
protected:
  void SetUp() override { theApp().MainWindow = &recorder_; }
  void TearDown() override { theApp().MainWindow = nullptr; }
  Recorder recorder_;
};

TEST_F(FatPhase, CountsObjectsAndAnnouncesItsEnd) {
  FatImage img;
  img.Build();
  FatImage::Entry(img.RootDir(), 0, "DIR        ", 0x10, 5, 0);
  FatImage::Entry(img.RootDir(), 1, "FILE    TXT", 0x20, 6, 10);
  img.Chain({5});
  img.Chain({6});
  FatImage::Entry(img.Cluster(5), 0, "INNER   TXT", 0x20, 0, 0);
  auto v = fattest::MakeVolume(img.bytes);
  const size_t mark = theLog().LineCount();
  EXPECT_EQ(v->AnalyseFileSystem(), 0u);
  EXPECT_EQ(v->FoldersFound, 1u);
  EXPECT_EQ(v->FilesFound, 2u);
  EXPECT_EQ(v->State, StateReady);
  EXPECT_EQ(v->ChangedFlag, 0u);
  EXPECT_EQ(v->Catalog().Root().ObjectID, 0);
  EXPECT_EQ(v->Catalog().Root().ParentID, v->ObjectID);
  EXPECT_EQ(fattest::LogCount(mark, "Beginning file system analysis."), 1);
  EXPECT_EQ(fattest::LogCount(mark, "Analysis duration: 0 minute(s), 0 second(s)."), 1);
  EXPECT_EQ(fattest::LogCount(mark, "Analysis completed. Found 1 folder(s) and 2 file(s)."), 1);
  // One WM_FOUND_OBJECT per object from the catalog, then the end of the phase.
  EXPECT_EQ(recorder_.posted, (std::vector<uint32_t>{WM_FOUND_OBJECT, WM_FOUND_OBJECT, WM_FOUND_OBJECT,
                                                     WM_FS_ANALYSIS_DONE}));
  ASSERT_FALSE(recorder_.sent.empty());
  EXPECT_EQ(recorder_.sent[0], std::make_pair(WM_STATUS_TEXT, uintptr_t{57211}));

  // A second analysis starts from an empty catalog.
  v->AnalyseFileSystem();
  EXPECT_EQ(fattest::WalkObjects(*v).size(), 3u);
  EXPECT_EQ(v->FilesFound, 2u);
}

TEST_F(FatPhase, NoFileSystemIsSkippedWithZeroCounts) {
  auto v = fattest::MakeVolume(std::vector<uint8_t>(64 * 1024, 0));
  const size_t mark = theLog().LineCount();
  v->AnalyseFileSystem();
  EXPECT_EQ(fattest::LogCount(mark, "No file system detected! File system analysis skipped."), 1);
  EXPECT_EQ(fattest::LogCount(mark, "Analysis completed. Found 0 folder(s) and 0 file(s)."), 1);
  EXPECT_EQ(recorder_.posted, std::vector<uint32_t>{WM_FS_ANALYSIS_DONE});
  EXPECT_TRUE(fattest::WalkObjects(*v).empty());
}

}  // namespace
