// Drive images: the copy in blocks, cancel, unreadable sectors in both
// modes, the map and resuming from it, the refusals, and the dialog logic.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <mutex>
#include <random>

#include "engine/volume/image_job.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/rescue_map.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "services/app.h"
#include "tests/support/test_support.h"

namespace {

class RecordingWindow : public IMessageTarget {
public:
  std::function<void(uint32_t)> onMessage;
  void PostMessage(uint32_t message, uintptr_t, intptr_t lParam) override {
    {
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
      lastParam_ = lParam;
    }
    if (onMessage) onMessage(message);
  }
  intptr_t SendMessage(uint32_t message, uintptr_t w, intptr_t l) override {
    PostMessage(message, w, l);
    return 0;
  }
  std::vector<uint32_t> Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  size_t Count(uint32_t message) const {
    auto m = Messages();
    return static_cast<size_t>(std::count(m.begin(), m.end(), message));
  }
  intptr_t LastParam() const { return lastParam_; }

private:
  mutable std::mutex mutex_;
  std::vector<uint32_t> messages_;
  intptr_t lastParam_ = 0;
};

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::vector<uint8_t> data(size);
  std::mt19937 rng(seed);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

// A volume of `sectors` random sectors over a memory device.
struct MemoryVolume {
  std::shared_ptr<CMemoryDevice> device;
  std::unique_ptr<CVolume> volume = std::make_unique<CVolume>(VolumeImage);
  std::vector<uint8_t> data;

  explicit MemoryVolume(uint64_t sectors, unsigned seed = 1) : data(RandomBytes(sectors * 512, seed)) {
    device = std::make_shared<CMemoryDevice>(data);
    volume->AttachDevice(device);
    volume->TotalSectors = sectors;
    volume->DevicePath = "memory";
  }
};

struct ImageTest : ::testing::Test {
  void SetUp() override {
    theApp().Settings.RetryCount = 0;
    theApp().Settings.RetryPauseMs = 0;
    dir = qmtest::MakeTempDir("qm-image");
    target = dir + "/image.dsk";
  }
  void Prepare(ImageJob& job, MemoryVolume& source, IMessageTarget* window = nullptr) {
    job.Source = source.volume.get();
    job.TargetPath = target;
    job.ProgressWindow = window;
  }
  // Runs the job to its end on its thread, the way the dialog does.
  void RunJob(ImageJob& job) {
    ASSERT_EQ(theComputer().CreateImage(job), 0) << job.Reason;
    job.Wait();
  }
  std::string dir, target;
};

bool LogHas(const std::string& text) {
  for (const auto& line : theLog().Lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

TEST_F(ImageTest, CopiesInBlocksOf4096SectorsAndPostsEachStep) {
  MemoryVolume source(10000);
  RecordingWindow window;
  ImageJob job;
  Prepare(job, source, &window);
  RunJob(job);
  EXPECT_EQ(job.Outcome.load(), ImageOutcome::Complete);
  EXPECT_EQ(qmtest::ReadFileBytes(target), source.data);
  std::vector<size_t> blocks;
  for (const auto& read : source.device->Reads()) blocks.push_back(read.bytes / 512);
  EXPECT_EQ(blocks, (std::vector<size_t>{4096, 4096, 1808}));
  EXPECT_EQ(window.Messages(),
            (std::vector<uint32_t>{WM_IMAGE_PROGRESS, WM_IMAGE_PROGRESS, WM_IMAGE_PROGRESS, WM_IMAGE_DONE}));
  EXPECT_EQ(job.Running.load(), 0u);
  EXPECT_EQ(job.Total.load(), 10000u);
  EXPECT_EQ(DescribeImageJob(job).Percent, 100u);
  EXPECT_STREQ(DescribeImageJob(job).ButtonText, "OK");
  // The dialog loads the finished image as a volume.
  CVolume* loaded = LoadCompletedImage(theComputer(), job);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->TotalSectors, 10000u);
  EXPECT_EQ(loaded->Kind, VolumeImage);
}

TEST_F(ImageTest, CancelAfterTheFirstBlockLeavesTwoMebibytesAndStillSaysDone) {
  MemoryVolume source(10000);
  RecordingWindow window;
  ImageJob job;
  window.onMessage = [&](uint32_t m) {
    if (m == WM_IMAGE_PROGRESS) job.Running = 0;
  };
  Prepare(job, source, &window);
  RunJob(job);
  EXPECT_EQ(job.Outcome.load(), ImageOutcome::Cancelled);
  auto bytes = qmtest::ReadFileBytes(target);
  ASSERT_EQ(bytes.size(), 2u << 20);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), source.data.begin()));
  EXPECT_EQ(window.Count(WM_IMAGE_DONE), 1u);
  EXPECT_EQ(LoadCompletedImage(theComputer(), job), nullptr);
}

TEST_F(ImageTest, ByDefaultAnUnreadableBlockEndsTheImage) {
  MemoryVolume source(10000);
  source.device->AddBadRange(5000 * 512, 512);
  RecordingWindow window;
  ImageJob job;
  Prepare(job, source, &window);
  RunJob(job);
  EXPECT_EQ(job.Outcome.load(), ImageOutcome::ReadFailed);
  EXPECT_TRUE(LogHas("Image_Create: Can't read sector: 0x1000")) << "the failed block's first sector";
  EXPECT_EQ(qmtest::ReadFileBytes(target).size(), 4096u * 512);
  EXPECT_EQ(window.Count(WM_IMAGE_DONE), 1u);
  struct stat st {};
  EXPECT_NE(::stat(job.MapPath().c_str(), &st), 0) << "a plain image has no map";
}

TEST_F(ImageTest, GoingOnLosesOnlyTheBadSectorsAndMapsThem) {
  MemoryVolume source(10000, 7);
  source.device->AddBadRange(100 * 512, 3 * 512);
  source.device->AddBadRange(9999 * 512, 512);
  ImageJob job;
  Prepare(job, source);
  job.ContinueOnErrors = true;
  RunJob(job);
  EXPECT_EQ(job.Outcome.load(), ImageOutcome::Complete);
  EXPECT_EQ(job.UnreadableBytes.load(), 4u * 512);
  auto expected = source.data;
  std::fill(expected.begin() + 100 * 512, expected.begin() + 103 * 512, 0);
  std::fill(expected.begin() + 9999 * 512, expected.end(), 0);
  EXPECT_EQ(qmtest::ReadFileBytes(target), expected);
  EXPECT_NE(ImageSummary(job).find("2048 bytes could not be read"), std::string::npos) << ImageSummary(job);

  CRescueMap map;
  std::string why;
  ASSERT_TRUE(CRescueMap::Load(job.MapPath(), 10000 * 512, map, &why)) << why;
  std::vector<std::tuple<uint64_t, uint64_t, char>> ranges;
  for (const auto& r : map.Ranges()) ranges.emplace_back(r.pos, r.size, r.status);
  EXPECT_EQ(ranges, (std::vector<std::tuple<uint64_t, uint64_t, char>>{{0, 100 * 512, '+'},
                                                                       {100 * 512, 3 * 512, '-'},
                                                                       {103 * 512, 9896 * 512, '+'},
                                                                       {9999 * 512, 512, '-'}}));
  if (qmtest::HaveTool("ddrescuelog")) {
    // The rescue tools' own reader lists exactly the bad sectors.
    std::string out;
    ASSERT_EQ(qmtest::RunCommand("ddrescuelog -b 512 -l- '" + job.MapPath() + "'", &out), 0);
    EXPECT_EQ(out, "100\n101\n102\n9999\n");
  }
}

TEST_F(ImageTest, AnInterruptedImageResumesFromItsMap) {
  MemoryVolume source(12000, 3);
  source.device->AddBadRange(7000 * 512, 2 * 512);
  RecordingWindow window;
  ImageJob first;
  window.onMessage = [&](uint32_t m) {
    if (m == WM_IMAGE_PROGRESS) first.Running = 0;
  };
  Prepare(first, source);
  first.ContinueOnErrors = true;
  first.ProgressWindow = &window;
  RunJob(first);
  ASSERT_EQ(first.Outcome.load(), ImageOutcome::Cancelled);

  const size_t readsBefore = source.device->Reads().size();
  ImageJob second;
  Prepare(second, source);
  second.Resume = true;
  RunJob(second);
  EXPECT_EQ(second.Outcome.load(), ImageOutcome::Complete);
  // The first block was not read again.
  auto reads = source.device->Reads();
  ASSERT_GT(reads.size(), readsBefore);
  EXPECT_EQ(reads[readsBefore].offset, 4096u * 512);
  auto expected = source.data;
  std::fill(expected.begin() + 7000 * 512, expected.begin() + 7002 * 512, 0);
  EXPECT_EQ(qmtest::ReadFileBytes(target), expected);
  EXPECT_EQ(second.UnreadableBytes.load(), 1024u);
}

TEST_F(ImageTest, RefusesToReplaceOrResumeWithoutCauseAndReportsAMissingSource) {
  MemoryVolume source(100);
  qmtest::RunCommand("echo keep > '" + target + "'");
  ImageJob job;
  Prepare(job, source);
  EXPECT_EQ(theComputer().CreateImage(job), -1);
  EXPECT_NE(job.Reason.find("exists already"), std::string::npos);
  EXPECT_EQ(qmtest::ReadFileBytes(target).size(), 5u) << "the existing file is untouched";

  ImageJob resume;
  Prepare(resume, source);
  resume.Resume = true;
  EXPECT_EQ(theComputer().CreateImage(resume), -1);
  EXPECT_NE(resume.Reason.find("map file"), std::string::npos);

  // Confirmed, the file is replaced.
  ImageJob replace;
  Prepare(replace, source);
  replace.OverwriteConfirmed = true;
  RunJob(replace);
  EXPECT_EQ(qmtest::ReadFileBytes(target), source.data);

  // A source that cannot be opened is reported to the progress window.
  CVolume gone(VolumeImage);
  gone.DevicePath = dir + "/no-such-image.dsk";
  gone.TotalSectors = 10;
  RecordingWindow window;
  ImageJob failed;
  failed.Source = &gone;
  failed.TargetPath = dir + "/never.dsk";
  failed.ProgressWindow = &window;
  RunJob(failed);
  EXPECT_EQ(failed.Outcome.load(), ImageOutcome::OpenFailed);
  EXPECT_EQ(window.Count(WM_IMAGE_FAILED), 1u);
}

TEST_F(ImageTest, RefusesToWriteOverTheImageItCopies) {
  const std::string sample = qmtest::SampleImage();
  ASSERT_FALSE(sample.empty());
  const std::string copy = dir + "/copy.img";
  ASSERT_EQ(qmtest::RunCommand("cp '" + sample + "' '" + copy + "'"), 0);
  CVolume* volume = theComputer().LoadImage(copy);
  ASSERT_TRUE(volume);
  ImageJob job;
  job.Source = volume;
  job.TargetPath = copy;
  job.OverwriteConfirmed = true;
  EXPECT_EQ(theComputer().CreateImage(job), -1);
  EXPECT_NE(job.Reason.find("over the image being copied"), std::string::npos);
  // Beside it, on the same file system, is fine.
  ImageJob beside;
  beside.Source = volume;
  beside.TargetPath = dir + "/beside.dsk";
  RunJob(beside);
  EXPECT_EQ(qmtest::ReadFileBytes(beside.TargetPath), qmtest::ReadFileBytes(copy));
}

TEST_F(ImageTest, AWriteThatStopsPartWayEndsTheImageAtWholeBlocks) {
  // A file-size limit makes the kernel cut a write short part-way through
  // the second block, as a full disk does.
  MemoryVolume source(10000);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {3u << 20, 3u << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ImageJob job;
    job.Source = source.volume.get();
    job.TargetPath = target;
    RunImageCopy(job);
    ::_exit(job.Outcome.load() == ImageOutcome::WriteFailed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the short write must count as a failure";
  EXPECT_EQ(qmtest::ReadFileBytes(target).size(), 2u << 20) << "only whole blocks stay";
}

TEST(ImageDialogs, SuggestNamesFiltersAndProgress) {
  CVolume disk(VolumeLogical);
  disk.DevicePath = "/dev/sdb1";
  disk.Label = "PHOTOS     ";
  EXPECT_EQ(SuggestedImageFileName(disk), "Image from drive sdb1 (PHOTOS).dsk");
  disk.Label.clear();
  EXPECT_EQ(SuggestedImageFileName(disk), "Image from drive sdb1.dsk");
  ASSERT_EQ(ImageSaveFilters().size(), 2u);
  EXPECT_EQ(ImageSaveFilters()[0].text, "Drive Image Files ( *.dsk ) ");
  EXPECT_EQ(ImageSaveFilters()[1].patterns, "*.*");

  ImageJob job;
  job.Total = 10000;
  job.Current = 4096;
  job.Outcome = ImageOutcome::Running;
  EXPECT_EQ(DescribeImageJob(job).Percent, 40u);
  EXPECT_STREQ(DescribeImageJob(job).ButtonText, "Cancel");
  job.Total = 50;  // fewer than a hundred sectors: no division by zero
  job.Current = 25;
  EXPECT_EQ(DescribeImageJob(job).Percent, 50u);
}

TEST(RescueMap, MarksMergeAndTheTextRoundTrips) {
  CRescueMap map(10 * 512);
  map.Mark(2 * 512, 512, CRescueMap::kBad);
  map.Mark(0, 2 * 512, CRescueMap::kFinished);
  map.Mark(3 * 512, 100 * 512, CRescueMap::kFinished);  // cut to the map
  ASSERT_EQ(map.Ranges().size(), 3u);
  EXPECT_EQ(map.Count(CRescueMap::kFinished), 9u * 512);
  EXPECT_EQ(map.Count(CRescueMap::kNotTried), 0u);
  CRescueMap back;
  std::string why;
  ASSERT_TRUE(CRescueMap::Parse(map.Text(0, true), 10 * 512, back, &why)) << why;
  EXPECT_EQ(back.Text(0, true), map.Text(0, true));
  CRescueMap::Range r;
  ASSERT_TRUE(back.NextRange(0, CRescueMap::kBad, r));
  EXPECT_EQ(r.pos, 1024u);
}

TEST(RescueMap, RefusesMapsThatDoNotDescribeTheImage) {
  CRescueMap out;
  std::string why;
  const std::string head = "# comment\n0x0 + 1\n";
  EXPECT_FALSE(CRescueMap::Parse("", 1024, out, &why));
  EXPECT_FALSE(CRescueMap::Parse(head + "0x0 0x200 +\n", 1024, out, &why)) << "short of the image";
  EXPECT_FALSE(CRescueMap::Parse(head + "0x0 0x200 +\n0x100 0x300 +\n", 1024, out, &why)) << "overlap";
  EXPECT_FALSE(CRescueMap::Parse(head + "0x0 0x200 +\n0x300 0x100 +\n", 1024, out, &why)) << "gap";
  EXPECT_FALSE(CRescueMap::Parse(head + "0x0 0x400 x\n", 1024, out, &why)) << "unknown status";
  EXPECT_FALSE(CRescueMap::Parse(head + "0x0 0xFFFFFFFFFFFFFFFF +\n", 1024, out, &why)) << "past the end";
  // A run that was trimming or scraping leaves those ranges to do again.
  ASSERT_TRUE(CRescueMap::Parse(head + "0 512 +\n512 256 *\n768 256 /\n", 1024, out, &why)) << why;
  EXPECT_EQ(out.Count(CRescueMap::kNotTried), 512u);
}

}  // namespace
