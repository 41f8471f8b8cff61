// The analysis driver: the queue, stopping with and without the question,
// the messages of a full analysis, the routing of scan finds, and a FAT
// volume whose files are found again by the sector scan.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/analysis/analysis_driver.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"
#include "tests/support/test_support.h"

namespace {

// The main window of the tests: records every message; can hold the
// analysis thread in the synchronous status message of the file-system phase.
class TestWindow : public IMessageTarget {
public:
  void PostMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
    std::lock_guard lock(mutex_);
    messages_.push_back({message, wParam});
    cv_.notify_all();
  }
  intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
    std::unique_lock lock(mutex_);
    messages_.push_back({message, wParam});
    cv_.notify_all();
    if (message == WM_STATUS_TEXT && wParam == 57211 && hold_) {
      ++held_;
      cv_.notify_all();
      cv_.wait(lock, [this] { return !hold_; });
    }
    return 0;
  }
  void Hold() {
    std::lock_guard lock(mutex_);
    hold_ = true;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    hold_ = false;
    cv_.notify_all();
  }
  // Waits until `count` threads are held (bounded, so a fault fails the test
  // instead of hanging it).
  bool WaitHeld(int count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return held_ >= count; });
  }
  bool WaitFor(uint32_t message, uintptr_t wParam) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(60), [&] { return CountLocked(message, wParam) > 0; });
  }
  int Count(uint32_t message, uintptr_t wParam) {
    std::lock_guard lock(mutex_);
    return CountLocked(message, wParam);
  }

private:
  int CountLocked(uint32_t message, uintptr_t wParam) {
    int n = 0;
    for (const auto& m : messages_) n += m.first == message && m.second == wParam;
    return n;
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::pair<uint32_t, uintptr_t>> messages_;
  bool hold_ = false;
  int held_ = 0;
};

class Answer : public IScanAbortQuestion {
public:
  explicit Answer(bool yes) : yes_(yes) {}
  bool ConfirmScanAbort(const std::string& question, const std::string& caption) override {
    ++asked;
    EXPECT_EQ(question, "Are you sure you want to stop scanning?");
    EXPECT_EQ(caption, "Confirmation");
    return yes_;
  }
  int asked = 0;

private:
  bool yes_;
};

std::unique_ptr<CVolume> MemoryVolume(size_t bytes) {
  auto device = std::make_shared<CMemoryDevice>(bytes);
  device->SetCompleteAtOnce(true);
  auto v = std::make_unique<CVolume>(VolumeImage);
  v->AttachDevice(device);
  v->ObjectID = theComputer().NextVolumeId();
  v->Size = bytes;
  v->TotalSectors = bytes / 512;
  v->State = StateReady;
  return v;
}

uintptr_t W(CVolume* v) { return reinterpret_cast<uintptr_t>(v); }

bool LogHas(const std::string& text) {
  for (const auto& line : theLog().Lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

struct DriverTest : ::testing::Test {
  TestWindow window;
  void SetUp() override {
    theApp().AnalysisRunning = 0;
    theApp().Settings.AnalyseOnReady = 0;
    theApp().Settings.SelectFirstDrive = 1;
    theApp().Settings.ConfirmScanAbort = 0;
    theApp().MainWindow = &window;
  }
  void TearDown() override {
    window.Release();
    theComputer().SetScanAbortQuestion(nullptr);
    theApp().MainWindow = nullptr;
  }
};

}  // namespace

TEST_F(DriverTest, SecondRequestIsQueuedAndStartsWhenTheFirstEnds) {
  auto a = MemoryVolume(1 << 20);
  auto b = MemoryVolume(1 << 20);
  window.Hold();
  theComputer().StartAnalysis(a.get());
  ASSERT_TRUE(window.WaitHeld(1));
  theComputer().StartAnalysis(b.get());
  theComputer().StartAnalysis(b.get());  // no duplicates
  EXPECT_EQ(theComputer().AnalysisQueue(), (std::vector<CVolume*>{a.get(), b.get()}));
  EXPECT_FALSE(analysis_threads::IsLive(b.get()));
  EXPECT_EQ(theComputer().CurrentVolume(), a.get());

  // A volume that is being scanned is not even queued.
  auto busy = MemoryVolume(1 << 20);
  busy->State = StateScanningSectors;
  theComputer().StartAnalysis(busy.get());
  EXPECT_EQ(theComputer().AnalysisQueue().size(), 2u);

  window.Release();
  ASSERT_TRUE(window.WaitFor(WM_ANALYSIS_DONE, W(a.get())));
  ASSERT_TRUE(WaitForAnalysis(a.get(), 60000));
  EXPECT_EQ(theComputer().AnalysisQueue(), (std::vector<CVolume*>{b.get()}));
  // With AnalyseOnReady 0 the analysis ends after the file-system phase.
  EXPECT_EQ(window.Count(WM_FS_ANALYSIS_DONE, 0), 1);
  EXPECT_EQ(window.Count(WM_ANALYSIS_DONE, W(a.get())), 1);
  EXPECT_EQ(window.Count(WM_SCAN_STARTED, W(a.get())), 0);
  EXPECT_TRUE(LogHas("No file system detected! File system analysis skipped."));

  // What the main window does on WM_ANALYSIS_DONE with SelectFirstDrive 1.
  EXPECT_EQ(theComputer().StartNextQueued(), b.get());
  ASSERT_TRUE(window.WaitFor(WM_ANALYSIS_DONE, W(b.get())));
  ASSERT_TRUE(WaitForAnalysis(b.get(), 60000));
  EXPECT_TRUE(theComputer().AnalysisQueue().empty());
  EXPECT_EQ(theComputer().StartNextQueued(), nullptr);
  EXPECT_EQ(a->State.load(), StateReady);
  EXPECT_EQ(theApp().AnalysisRunning.load(), 0u);
}

TEST_F(DriverTest, StopAsksFirstAndNoKeepsTheAnalysisGoing) {
  auto a = MemoryVolume(1 << 20);
  theApp().Settings.ConfirmScanAbort = 1;
  Answer no(false);
  theComputer().SetScanAbortQuestion(&no);
  window.Hold();
  theComputer().StartAnalysis(a.get());
  ASSERT_TRUE(window.WaitHeld(1));
  size_t lines = theLog().LineCount();
  EXPECT_EQ(theComputer().StopAnalysis(a.get(), 0), 0);
  EXPECT_EQ(no.asked, 1);
  EXPECT_EQ(theApp().AnalysisRunning.load(), 1u);
  EXPECT_EQ(a->State.load(), StateAnalysingFileSystem);
  EXPECT_EQ(theComputer().AnalysisQueue(), (std::vector<CVolume*>{a.get()}));
  EXPECT_EQ(theLog().LineCount(), lines);

  // Yes stops it; the stop waits for the analysis to end on its own.
  Answer yes(true);
  theComputer().SetScanAbortQuestion(&yes);
  std::thread release([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    window.Release();
  });
  EXPECT_EQ(theComputer().StopAnalysis(a.get(), 0), 1);
  release.join();
  EXPECT_EQ(yes.asked, 1);
  ASSERT_TRUE(WaitForAnalysis(a.get(), 60000));
  EXPECT_EQ(a->State.load(), StateReady);
  EXPECT_TRUE(theComputer().AnalysisQueue().empty());
  EXPECT_EQ(window.Count(WM_SCAN_STARTED, W(a.get())), 0);
}

TEST_F(DriverTest, ScanFindsAreRoutedByTypeAndMode) {
  auto owned = MemoryVolume(2 << 20);
  CVolume* v = owned.get();
  theComputer().Volumes.Append(std::move(owned));
  v->ScanMode = 1;
  auto jpeg = std::make_unique<CFoundObject>();
  jpeg->FileType = 30;
  jpeg->StartOffset = 4096;
  jpeg->Flags = FOF_SIGNATURE | FOF_DELETED;
  size_t before = v->Catalog().ObjectCount();
  v->AcceptScanObject(std::move(jpeg));
  EXPECT_EQ(v->Catalog().ObjectCount(), before);

  // A boot sector elsewhere becomes a Found volume of this one, announced to
  // the main window.
  auto boot = std::make_unique<CFoundObject>();
  boot->FileType = 11;
  boot->StartOffset = 1048576;
  v->AcceptScanObject(std::move(boot));
  EXPECT_TRUE(LogHas("Found FAT32 volume at: 1048576"));
  auto children = v->ChildVolumes();
  ASSERT_EQ(children.size(), 1u);
  CVolume* found = children[0];
  EXPECT_EQ(found->Kind, VolumeFound);
  EXPECT_EQ(found->StartOffset, 1048576u);
  EXPECT_EQ(found->ParentID, v->ObjectID);
  EXPECT_EQ(found->Origin.Scheme, PartitionScheme::Search);
  EXPECT_EQ(found->Size, (2u << 20) - 1048576u);
  EXPECT_EQ(window.Count(WM_VOLUME_FOUND, W(found)), 1);
  // The volume's own boot sector confirms the volume.
  auto own = std::make_unique<CFoundObject>();
  own->FileType = 4;
  v->AcceptScanObject(std::move(own));
  EXPECT_TRUE(v->Flags & FOF_CONFIRMED);

  v->ScanMode = 0;
  v->Catalog().ReIndex();
  auto lost = std::make_unique<CFoundObject>();
  lost->FileType = 30;
  lost->StartOffset = 8192;
  lost->Flags = FOF_SIGNATURE | FOF_DELETED;
  v->AcceptScanObject(std::move(lost));
  ASSERT_NE(v->Catalog().FindByOffset(8192), nullptr);
  EXPECT_EQ(v->Catalog().FindByOffset(8192)->Volume, v);
}

// A FAT volume written by mkfs.fat and mcopy: the full analysis lists its
// files, and the sector scan that follows confirms each file whose start it
// recognises instead of listing it a second time as a lost file.
TEST_F(DriverTest, FullAnalysisOfAFatVolumeMergesScanFindsIntoItsFiles) {
  if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
  std::string dir = qmtest::MakeTempDir("scan-fat");
  ASSERT_EQ(qmtest::RunCommand(qmtest::SourcePath("scripts/make-scan-fixtures.sh") + " " + dir + " >/dev/null 2>&1"), 0);
  LoadSignatureDatabase();
  CVolume* v = theComputer().LoadImage(dir + "/fat.img");
  ASSERT_NE(v, nullptr);
  theApp().Settings.AnalyseOnReady = 1;
  theComputer().StartAnalysis(v);
  ASSERT_TRUE(window.WaitFor(WM_ANALYSIS_DONE, W(v)));
  ASSERT_TRUE(WaitForAnalysis(v, 60000));
  EXPECT_EQ(window.Count(WM_SCAN_STARTED, W(v)), 1);
  EXPECT_EQ(window.Count(WM_SCAN_FINISHED, W(v)), 1);
  EXPECT_GE(window.Count(WM_SCAN_FINISHED, 0), 1);

  int live = 0;
  for (const CFoundObject* o : v->Catalog().CopyObjects()) {
    if (o->Name != "photo.jpg" && o->Name != "picture.png" && o->Name != "bundle.zip") continue;
    ++live;
    EXPECT_FALSE(o->Flags & FOF_SIGNATURE) << o->Name;
    EXPECT_TRUE(o->Flags & FOF_CONFIRMED) << o->Name << " was not recognised at its start";
    int atOffset = 0;
    for (const CFoundObject* other : v->Catalog().CopyObjects())
      atOffset += other != o && other->StartOffset == o->StartOffset && (other->Flags & FOF_SIGNATURE);
    EXPECT_EQ(atOffset, 0) << o->Name << " is listed twice";
  }
  EXPECT_EQ(live, 3);
  EXPECT_EQ(v->State.load(), StateReady);
}

// Two drives analysed one after the other in one run: the first analysis
// gives the running flag back, so the second starts at once instead of only
// queueing; each keeps its BOOT object through the file-system phase.
TEST_F(DriverTest, VolumesAnalysedOneAfterTheOtherEachStart) {
  auto a = MemoryVolume(1 << 20);
  auto b = MemoryVolume(1 << 20);
  for (CVolume* v : {a.get(), b.get()}) {
    theComputer().StartAnalysis(v);
    EXPECT_TRUE(analysis_threads::IsLive(v) || window.Count(WM_ANALYSIS_DONE, W(v)) == 1);
    ASSERT_TRUE(window.WaitFor(WM_ANALYSIS_DONE, W(v)));
    ASSERT_TRUE(WaitForAnalysis(v, 60000));
    EXPECT_EQ(theApp().AnalysisRunning.load(), 0u);
    EXPECT_TRUE(theComputer().AnalysisQueue().empty());
    int boots = 0;
    for (const CFoundObject* o : v->Catalog().CopyObjects())
      if (o->Name == "BOOT") {
        ++boots;
        EXPECT_EQ(o->Size, 1024u);
      }
    EXPECT_EQ(boots, 1);
  }
}

// The file-system phase run on its own (the file-system command) gives the
// flag back too: a volume queued behind it starts when it ends.
TEST_F(DriverTest, QueuedVolumeStartsWhenASingleFileSystemPhaseEnds) {
  auto a = MemoryVolume(1 << 20);
  auto b = MemoryVolume(1 << 20);
  window.Hold();
  a->StartFileSystemThread();
  ASSERT_TRUE(window.WaitHeld(1));
  theComputer().StartAnalysis(b.get());
  EXPECT_FALSE(analysis_threads::IsLive(b.get()));
  EXPECT_EQ(theComputer().AnalysisQueue(), (std::vector<CVolume*>{b.get()}));
  window.Release();
  ASSERT_TRUE(WaitForAnalysis(a.get(), 60000));
  EXPECT_EQ(theApp().AnalysisRunning.load(), 0u);

  EXPECT_EQ(theComputer().StartNextQueued(), b.get());
  ASSERT_TRUE(window.WaitFor(WM_ANALYSIS_DONE, W(b.get())));
  ASSERT_TRUE(WaitForAnalysis(b.get(), 60000));
  EXPECT_TRUE(theComputer().AnalysisQueue().empty());

  // A phase called directly (as the command line does) leaves no flag set.
  a->AnalyseFileSystem();
  EXPECT_EQ(theApp().AnalysisRunning.load(), 0u);
}
