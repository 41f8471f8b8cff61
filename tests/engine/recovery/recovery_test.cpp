#include "engine/recovery/recovery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/file_signature_database.h"
#include "platform/memory_device.h"
#include "tests/engine/recovery/recovery_fixture.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace rectest;

namespace {

constexpr uint64_t MiB = 1024 * 1024;

// 2021-03-04 05:06:07 UTC as FILETIME, and as Unix seconds.
constexpr uint64_t kFileTime = 132593079670000000ull;
constexpr int64_t kUnixTime = 1614834367;

class RecoveryTest : public ::testing::Test {
protected:
  void SetUp() override { dest = qmtest::MakeTempDir("qm-rec"); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dest, ec);
  }
  std::string dest;
};

CFoundObject MakeFile(CVolume* volume, const std::string& name, uint64_t offset, uint64_t size) {
  CFoundObject o;
  o.SetName(name);
  o.Volume = volume;
  o.StartOffset = offset;
  o.Size = size;
  o.FirstCluster = offset / 512;
  o.Flags |= FOF_FILE;
  return o;
}

}  // namespace

TEST_F(RecoveryTest, LargeFileGoesInSixteenMegabyteChunksReportingPercents) {
  const uint64_t size = 40 * MiB;
  auto volume = MakeMemoryVolume(std::vector<uint8_t>(size));
  const std::vector<uint8_t> data = Pattern(size);
  CFoundObject object = MakeFile(volume.get(), "big.bin", 0, size);

  RecordingTarget target;
  ScopedTarget scoped(target);
  CRecovery recovery;
  ASSERT_TRUE(recovery.PrepareDestination(dest, "/media/", "big.bin"));
  std::vector<uint32_t> asked;
  uint64_t offset = 0;
  uint64_t result = recovery.FileRecovery(object, [&](void* buffer, uint32_t bytes) {
    asked.push_back(bytes);
    std::memcpy(buffer, data.data() + offset, bytes);
    offset += bytes;
    return bytes;
  });

  EXPECT_EQ(result, size);
  EXPECT_EQ(asked, (std::vector<uint32_t>{16 * MiB, 16 * MiB, 8 * MiB}));
  EXPECT_EQ(target.percents, (std::vector<int>{0, 40, 80}));
  EXPECT_EQ(recovery.CurrentPercent(), 100);
  EXPECT_EQ(qmtest::ReadFileBytes(dest + "/media/big.bin"), data);
}

TEST_F(RecoveryTest, ReaderReturningTooMuchIsCutAtTheFileSizeAndTinyFilesReportProgress) {
  auto volume = MakeMemoryVolume(std::vector<uint8_t>(4096));
  CFoundObject object = MakeFile(volume.get(), "tiny.txt", 0, 7);
  RecordingTarget target;
  ScopedTarget scoped(target);
  CRecovery recovery;
  ASSERT_TRUE(recovery.PrepareDestination(dest, "/", "tiny.txt"));
  // A reader that hands back a whole sector for a 7-byte file.
  uint64_t result = recovery.FileRecovery(object, [](void* buffer, uint32_t) {
    std::memset(buffer, 'z', 512);
    return 512u;
  });
  EXPECT_EQ(result, 7u);
  EXPECT_EQ(fs::file_size(dest + "/tiny.txt"), 7u);
  EXPECT_EQ(target.percents, (std::vector<int>{0}));
}

TEST_F(RecoveryTest, NothingReadMeansTheFileIsDeletedAndReported) {
  auto volume = MakeMemoryVolume(std::vector<uint8_t>(4096));
  CFoundObject object = MakeFile(volume.get(), "gone.txt", 0, 1000);
  CRecovery recovery;
  LogMark mark;
  ASSERT_TRUE(recovery.PrepareDestination(dest, "/d/", "gone.txt"));
  EXPECT_EQ(recovery.FileRecovery(object, [](void*, uint32_t) { return 0u; }), 0u);
  EXPECT_FALSE(fs::exists(dest + "/d/gone.txt"));
  EXPECT_TRUE(mark.Has("CRecovery::FileRecovery of '" + dest + "/d/gone.txt' failed because file size == 0"));
}

TEST_F(RecoveryTest, AnExistingFileIsNeverOverwritten) {
  auto volume = MakeMemoryVolume(std::vector<uint8_t>(4096));
  CFoundObject object = MakeFile(volume.get(), "same.txt", 0, 3);
  CRecovery recovery;
  LogMark mark;
  auto recoverText = [&](const char* text) {
    EXPECT_TRUE(recovery.PrepareDestination(dest, "/", "same.txt"));
    return recovery.FileRecovery(object, [text](void* buffer, uint32_t bytes) {
      std::memcpy(buffer, text, bytes);
      return bytes;
    });
  };
  EXPECT_EQ(recoverText("one"), 3u);
  EXPECT_FALSE(mark.Has("exists"));
  EXPECT_EQ(recoverText("two"), 3u);
  EXPECT_EQ(recoverText("3rd"), 3u);
  EXPECT_TRUE(mark.Has("File: " + dest + "/same.txt exists"));
  auto text = [](const std::string& path) {
    auto b = qmtest::ReadFileBytes(path);
    return std::string(b.begin(), b.end());
  };
  EXPECT_EQ(text(dest + "/same.txt"), "one");
  EXPECT_EQ(text(dest + "/same (2).txt"), "two");
  EXPECT_EQ(text(dest + "/same (3).txt"), "3rd");

  EXPECT_EQ(recovery.CurrentDestinationPath(), dest + "/same (3).txt");
  // A read that ends early leaves a file marked as incomplete.
  CFoundObject cut = MakeFile(volume.get(), "same.txt", 0, 3000);
  ASSERT_TRUE(recovery.PrepareDestination(dest, "/", "same.txt"));
  bool first = true;
  EXPECT_EQ(recovery.FileRecovery(cut, [&](void* buffer, uint32_t) {
    if (!first) return 0u;
    first = false;
    std::memset(buffer, 'x', 512);
    return 512u;
  }), 0u);
  EXPECT_FALSE(recovery.LastFileComplete());
  EXPECT_EQ(text(dest + "/same (4) (incomplete).txt"), std::string(512, 'x'));
  EXPECT_FALSE(fs::exists(dest + "/same (4).txt"));
  EXPECT_EQ(recovery.CurrentDestinationPath(), dest + "/same (4) (incomplete).txt");
}

TEST_F(RecoveryTest, FragmentedFileThroughItsRunsWithTimesRestored) {
  std::vector<uint8_t> disk = Pattern(64 * 1024, 7);
  auto volume = MakeMemoryVolume(disk);
  // 1500 bytes: sectors 40..41, then 10..11 (the second run partly used).
  CFoundObject object = MakeFile(volume.get(), "frag.dat", 40 * 512, 1500);
  object.ModificationTime = kFileTime;
  object.AccessTime = kFileTime + 10000000ull * 86400;
  object.CreationTime = kFileTime - 10000000ull * 86400;
  std::vector<FoundObjectRun> runs(2);
  runs[0].StartSector = 40;
  runs[0].SectorCount = 2;
  runs[1].StartSector = 10;
  runs[1].SectorCount = 2;
  CFoundObjectReader reader(object, runs);
  CRecovery recovery;
  ASSERT_EQ(recovery.RecoverFile(reader, nullptr, dest), 1);

  std::vector<uint8_t> expected(disk.begin() + 40 * 512, disk.begin() + 42 * 512);
  expected.insert(expected.end(), disk.begin() + 10 * 512, disk.begin() + 10 * 512 + (1500 - 1024));
  std::string path = recovery.CurrentDestinationPath();
  EXPECT_EQ(fs::path(path).filename(), "frag.dat");
  // Times first: reading the file may move its access time.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, kUnixTime);
  EXPECT_EQ(st.st_atim.tv_sec, kUnixTime + 86400);
  EXPECT_EQ(qmtest::ReadFileBytes(path), expected);
  EXPECT_EQ(recovery.RecoveredCount(), 1);
}

TEST_F(RecoveryTest, UnknownSizeAndOutOfBoundsObjectsAreNotWritten) {
  auto volume = MakeMemoryVolume(std::vector<uint8_t>(8192));
  CRecovery recovery;
  LogMark mark;
  CFoundObject unknown = MakeFile(volume.get(), "unknown.bin", 0, SIZE_UNKNOWN);
  CFoundObjectReader r1(unknown, {});
  EXPECT_EQ(recovery.RecoverFile(r1, nullptr, dest), 0);
  EXPECT_TRUE(mark.Has("FileRecovery: File 'unknown.bin' recovery skipped"));

  CFoundObject beyond = MakeFile(volume.get(), "beyond.bin", 4096, 1ull << 40);
  CFoundObjectReader r2(beyond, {FoundObjectRun{8, 1ull << 31, FoundObjectRun::Source::Volume, nullptr, nullptr}});
  EXPECT_EQ(recovery.RecoverFile(r2, nullptr, dest), 0);
  EXPECT_FALSE(fs::exists(dest + "/beyond.bin"));
}

namespace {

// Counts the questions and answers each the same way.
class CountingDialog : public IProbableSizeDialog {
public:
  explicit CountingDialog(ProbableSizeAnswer answer) : answer_(answer) {}
  ProbableSizeAnswer Ask(const ProbableSizeDialogState&) override {
    ++asked;
    return answer_;
  }
  int asked = 0;

private:
  ProbableSizeAnswer answer_;
};

CFileType& TestType(int32_t id, uint32_t defaultKB, const std::string& ext) {
  CFileType type;
  type.Id = id;
  type.DefaultSize = defaultKB;
  type.FirstExtension = ext;
  type.FileExtensions = ext;
  type.Prefix = "t" + std::to_string(id);
  return theComputer().Signatures().AddTypeForTest(type);
}

}  // namespace

TEST_F(RecoveryTest, SizeChosenForAllFilesOfOneTypeIsRememberedForThatType) {
  std::vector<uint8_t> disk = Pattern(256 * 1024, 3);
  auto volume = MakeMemoryVolume(disk);
  TestType(901, 16, "aaa");
  TestType(902, 16, "bbb");
  ProbableSizeAnswer answer;
  answer.Button = SIZE_DLG_OK;
  answer.Option = SIZE_OPTION_CUSTOM;
  answer.Scope = SIZE_SCOPE_THIS_TYPE;
  answer.CustomValue = 5000;
  answer.CustomUnit = SIZE_UNIT_B;
  CountingDialog dialog(answer);
  CRecovery recovery;
  recovery.SizeDialog = &dialog;

  auto recoverLost = [&](int16_t type, uint64_t offset, const std::string& name) {
    CFoundObject o = MakeFile(volume.get(), name, offset, SIZE_UNKNOWN);
    o.Flags = FOF_SIGNATURE | FOF_DELETED | FOF_NAMED;
    o.FileType = type;
    CFoundObjectReader reader(o, {FoundObjectRun{offset / 512, 64, FoundObjectRun::Source::Volume, nullptr, nullptr}});
    EXPECT_EQ(recovery.RecoverFile(reader, nullptr, dest), 1) << name;
    return fs::file_size(recovery.CurrentDestinationPath());
  };
  EXPECT_EQ(recoverLost(901, 0, "first.aaa"), 5000u);
  EXPECT_EQ(dialog.asked, 1);
  // The type keeps the size in whole kilobytes: 5000 bytes -> 4 KB.
  EXPECT_EQ(recoverLost(901, 65536, "second.aaa"), 4096u);
  EXPECT_EQ(dialog.asked, 1);
  // Another type is asked about again.
  EXPECT_EQ(recoverLost(902, 131072, "third.bbb"), 5000u);
  EXPECT_EQ(dialog.asked, 2);
  EXPECT_EQ(qmtest::ReadFileBytes(dest + "/first.aaa"), std::vector<uint8_t>(disk.begin(), disk.begin() + 5000));
}

TEST_F(RecoveryTest, SizeChosenForAllFilesOfAnyTypeIsNeverAskedAgain) {
  auto volume = MakeMemoryVolume(Pattern(512 * 1024, 5));
  TestType(911, 8, "ccc");
  TestType(912, 12, "ddd");
  ProbableSizeAnswer answer;
  answer.Button = SIZE_DLG_OK;
  answer.Option = SIZE_OPTION_DEFAULT;
  answer.Scope = SIZE_SCOPE_ANY_TYPE;
  CountingDialog dialog(answer);
  CRecovery recovery;
  recovery.SizeDialog = &dialog;
  std::vector<uint64_t> sizes;
  int i = 0;
  for (int16_t type : {911, 912, 911, 912}) {
    uint64_t offset = 65536ull * static_cast<uint64_t>(i++);
    CFoundObject o = MakeFile(volume.get(), "lost" + std::to_string(i), offset, SIZE_UNKNOWN);
    o.Flags = FOF_SIGNATURE | FOF_DELETED | FOF_NAMED;
    o.FileType = type;
    CFoundObjectReader reader(o, {FoundObjectRun{offset / 512, 128, FoundObjectRun::Source::Volume, nullptr, nullptr}});
    ASSERT_EQ(recovery.RecoverFile(reader, nullptr, dest), 1);
    sizes.push_back(fs::file_size(recovery.CurrentDestinationPath()));
  }
  EXPECT_EQ(dialog.asked, 1);
  EXPECT_EQ(sizes, (std::vector<uint64_t>{8192, 12288, 8192, 12288}));
  EXPECT_EQ(recovery.Choices.SizeRule, static_cast<uint32_t>(SIZE_RULE_DEFAULT));
}

TEST_F(RecoveryTest, SkippedAndCancelledLostFilesAreNotWritten) {
  auto volume = MakeMemoryVolume(Pattern(64 * 1024, 9));
  TestType(921, 8, "eee");
  for (int button : {SIZE_DLG_SKIP, SIZE_DLG_CANCEL}) {
    ProbableSizeAnswer answer;
    answer.Button = button;
    CountingDialog dialog(answer);
    CRecovery recovery;
    recovery.SizeDialog = &dialog;
    LogMark mark;
    CFoundObject o = MakeFile(volume.get(), "maybe.eee", 0, SIZE_UNKNOWN);
    o.Flags = FOF_SIGNATURE | FOF_DELETED | FOF_NAMED;
    o.FileType = 921;
    CFoundObjectReader reader(o, {FoundObjectRun{0, 16, FoundObjectRun::Source::Volume, nullptr, nullptr}});
    EXPECT_EQ(recovery.RecoverFile(reader, nullptr, dest), 0);
    EXPECT_TRUE(mark.Has(button == SIZE_DLG_SKIP ? "FileRecovery: File 'maybe.eee' recovery skipped"
                                                 : "FileRecovery: File 'maybe.eee' recovery cancelled"));
    EXPECT_FALSE(fs::exists(dest + "/maybe.eee"));
  }
}

TEST_F(RecoveryTest, LostFileOfKnownSizeIsWrittenExactlyWithoutAsking) {
  std::vector<uint8_t> disk = Pattern(64 * 1024, 13);
  auto volume = MakeMemoryVolume(disk);
  TestType(931, 8, "fff");
  ProbableSizeAnswer answer;
  answer.Button = SIZE_DLG_OK;
  answer.Option = SIZE_OPTION_NEXT_ANY;
  CountingDialog dialog(answer);
  CRecovery recovery;
  recovery.SizeDialog = &dialog;
  // A size from the file's own header, not a whole number of sectors.
  CFoundObject o = MakeFile(volume.get(), "known.fff", 1024, 1234);
  o.Flags = FOF_SIGNATURE | FOF_DELETED | FOF_NAMED | FOF_SIZED;
  o.FileType = 931;
  CFoundObjectReader reader(o);
  ASSERT_EQ(recovery.RecoverFile(reader, nullptr, dest), 1);
  EXPECT_EQ(dialog.asked, 0);
  EXPECT_EQ(qmtest::ReadFileBytes(dest + "/known.fff"),
            std::vector<uint8_t>(disk.begin() + 1024, disk.begin() + 1024 + 1234));
}

TEST_F(RecoveryTest, LostFileReachingPastTheVolumeEndIsCutThereAndCountsAsRecovered) {
  std::vector<uint8_t> disk = Pattern(64 * 1024, 17);
  auto volume = MakeMemoryVolume(disk);
  TestType(932, 8, "ggg");
  ProbableSizeAnswer answer;
  ParseLostSizeOption("1000", answer);  // 1000 KB, far more than the volume holds
  CountingDialog dialog(answer);
  const uint64_t start = 60 * 1024;
  for (uint64_t size : {SIZE_UNKNOWN, uint64_t{300000}}) {  // asked for, and a header's claim
    CRecovery recovery;
    recovery.SizeDialog = &dialog;
    std::string name = size == SIZE_UNKNOWN ? "asked.ggg" : "claimed.ggg";
    CFoundObject o = MakeFile(volume.get(), name, start, size);
    o.Flags = FOF_SIGNATURE | FOF_DELETED | FOF_NAMED | (size == SIZE_UNKNOWN ? 0 : FOF_SIZED);
    o.FileType = 932;
    CFoundObjectReader reader(o);
    ASSERT_EQ(recovery.RecoverFile(reader, nullptr, dest), 1) << name;
    EXPECT_EQ(recovery.FailedCount(), 0);
    EXPECT_EQ(qmtest::ReadFileBytes(dest + "/" + name), std::vector<uint8_t>(disk.begin() + start, disk.end()));
  }
}

TEST_F(RecoveryTest, AbortDuringAFileKeepsWhatWasWrittenAndLogsBothLines) {
  const uint64_t size = 40 * MiB;
  std::vector<uint8_t> disk = Pattern(size + 4096, 11);
  auto volume = MakeMemoryVolume(disk);
  CFoundObject big = MakeFile(volume.get(), "big.bin", 0, size);
  CFoundObject after = MakeFile(volume.get(), "after.txt", size, 100);

  CRecovery recovery;
  RecordingTarget target;
  target.onProgress = [&](int) { recovery.Stop(); };
  ScopedTarget scoped(target);
  recovery.BuildList({&big, &after});
  LogMark mark;
  std::string root = dest;
  CSettings::SetText(theApp().Settings.DestinationFolder, 4096, root);
  ASSERT_TRUE(recovery.Start());
  recovery.Wait();

  EXPECT_EQ(recovery.RecoveredCount(), 0);
  // The cut file never passes for the whole one.
  std::string path = recovery.WrittenFiles().at(0);
  EXPECT_EQ(path, dest + "/big (incomplete).bin");
  EXPECT_FALSE(fs::exists(dest + "/big.bin"));
  EXPECT_EQ(recovery.Outcomes().at(0).Path, path);
  EXPECT_EQ(recovery.Outcomes().at(0).Bytes, 16 * MiB);
  EXPECT_EQ(fs::file_size(path), 16 * MiB);
  EXPECT_EQ(qmtest::ReadFileBytes(path), std::vector<uint8_t>(disk.begin(), disk.begin() + 16 * MiB));
  EXPECT_EQ(recovery.WrittenFiles().size(), 1u);
  int aborted = mark.Find("Recovery aborted.");
  int completed = mark.Find("Recovery completed.");
  ASSERT_GE(aborted, 0);
  EXPECT_GT(completed, aborted);
  EXPECT_FALSE(recovery.IsWorking());
}

TEST_F(RecoveryTest, RecoveryThreadWritesEveryFileEmptyOnesTooAndSkipsFolders) {
  std::vector<uint8_t> disk = Pattern(64 * 1024, 13);
  auto volume = MakeMemoryVolume(disk);
  CFoundObject a = MakeFile(volume.get(), "a.txt", 0, 700);
  CFoundObject b = MakeFile(volume.get(), "b.txt", 4096, 5000);
  CFoundObject empty = MakeFile(volume.get(), "empty.txt", 0, 0);
  empty.ModificationTime = kFileTime;
  CFoundObject folder = MakeFile(volume.get(), "folder", 8192, 0);
  folder.Flags = FOF_FOLDER | FOF_NAMED;
  CRecovery recovery;
  recovery.BuildList({&a, &empty, &b});
  recovery.AddSelected(&folder);
  CSettings::SetText(theApp().Settings.DestinationFolder, 4096, dest + "/out");
  LogMark mark;
  ASSERT_TRUE(recovery.Start());
  recovery.Wait();
  EXPECT_EQ(recovery.RecoveredCount(), 3);
  EXPECT_EQ(recovery.CurrentIndex(), 4);
  EXPECT_EQ(recovery.TotalBytes(), 5700u);
  auto written = recovery.WrittenFiles();
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(qmtest::ReadFileBytes(written[0]), std::vector<uint8_t>(disk.begin(), disk.begin() + 700));
  EXPECT_EQ(written[1], dest + "/out/empty.txt");
  EXPECT_EQ(fs::file_size(written[1]), 0u);
  struct stat st {};
  ASSERT_EQ(::stat(written[1].c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kUnixTime);
  EXPECT_EQ(recovery.Outcomes().at(1).Result, RecoveryOutcome::Recovered);
  EXPECT_FALSE(mark.Has("file size == 0"));
  EXPECT_EQ(qmtest::ReadFileBytes(written[2]), std::vector<uint8_t>(disk.begin() + 4096, disk.begin() + 4096 + 5000));
  EXPECT_EQ(written[0].rfind(dest + "/out/", 0), 0u);
  EXPECT_TRUE(mark.Has("FileRecovery: Recovering file: a.txt [from '"));
  EXPECT_FALSE(mark.Has("Recovery aborted."));
  EXPECT_TRUE(mark.Has("Recovery completed."));
}

TEST(RecoveryList, FolderGivesItsFilesDepthFirstThenItself) {
  auto volume = MakeMemoryVolume(std::vector<uint8_t>(4096));
  CFoundObjectTree& catalog = volume->Catalog();
  auto add = [&](int64_t id, int64_t parent, const char* name, bool folder) {
    CFoundObject o;
    o.ObjectID = id;
    o.ParentID = parent;
    o.Flags = folder ? FOF_FOLDER : FOF_FILE;
    o.Size = folder ? 0 : 10;
    o.SetName(name);
    CFoundObject* added = catalog.AddObject(o);
    if (added) added->Volume = volume.get();
    return added;
  };
  CFoundObject* A = add(10, 2, "A", true);
  CFoundObject* a1 = add(11, 10, "a1", false);
  CFoundObject* B = add(12, 10, "B", true);
  CFoundObject* b1 = add(13, 12, "b1", false);
  // A damaged entry: a folder below B with A's identity (a loop).
  add(10, 12, "loop", true);
  CFoundObject* a2 = add(14, 10, "a2", false);
  ASSERT_TRUE(A && a1 && B && b1 && a2);

  CRecovery recovery;
  recovery.BuildList({A});
  EXPECT_EQ(recovery.List(), (std::vector<CFoundObject*>{a1, b1, B, a2, A}));
  recovery.BuildList({A}, false);
  EXPECT_EQ(recovery.List(), (std::vector<CFoundObject*>{a1, b1, B, a2}));

  LogMark mark;
  EXPECT_FALSE(recovery.StartRecovery({}));
  EXPECT_TRUE(mark.Has("Creating recovery list."));
  EXPECT_TRUE(mark.Has("Recovery list is empty!"));
}

namespace {
class FakeQuestions : public IRecoveryQuestions {
public:
  bool ConfirmDeleteTemporaryFiles(const std::string& question, const std::string&) override {
    EXPECT_EQ(question, "Delete temporary files?");
    ++deleteAsked;
    return deleteAnswer;
  }
  bool AskSelectAnotherDestination(const std::string& question, const std::string& caption) override {
    EXPECT_EQ(caption, "Warning!");
    EXPECT_NE(question.find("same drive with the source"), std::string::npos);
    ++driveAsked;
    if (driveAnswers.empty()) return false;
    bool answer = driveAnswers.front();
    driveAnswers.erase(driveAnswers.begin());
    return answer;
  }
  bool BrowseDestination(const std::string&, std::string& folder) override {
    if (browse.empty()) return false;
    folder = browse.front();
    browse.erase(browse.begin());
    return true;
  }
  int deleteAsked = 0;
  bool deleteAnswer = true;
  int driveAsked = 0;
  std::vector<bool> driveAnswers;
  std::vector<std::string> browse;
};
}  // namespace

TEST_F(RecoveryTest, TryToOpenWritesToTheTemporaryFolderOpensAndOffersDeletion) {
  std::vector<uint8_t> disk = Pattern(16 * 1024, 17);
  auto volume = MakeMemoryVolume(disk);
  CFoundObject a = MakeFile(volume.get(), "look.txt", 1024, 300);
  CRecovery recovery;
  recovery.TemporaryFolder = dest + "/tmp";
  std::string opened;
  recovery.OpenFile = [&](const std::string& path, int*) {
    opened = path;
    return OpenResult::Opened;
  };
  recovery.BuildList({&a});
  LogMark mark;
  ASSERT_TRUE(recovery.StartTryOpen());
  recovery.Wait();
  ASSERT_FALSE(opened.empty());
  EXPECT_EQ(opened.rfind(dest + "/tmp/", 0), 0u);
  EXPECT_TRUE(mark.Has("File '" + opened + "'  opened successfully"));
  ASSERT_EQ(recovery.TemporaryFiles(), std::vector<std::string>{opened});

  FakeQuestions questions;
  questions.deleteAnswer = false;
  recovery.DeleteTemporaryFiles(&questions);
  EXPECT_TRUE(fs::exists(opened));
  questions.deleteAnswer = true;
  recovery.DeleteTemporaryFiles(&questions);
  EXPECT_FALSE(fs::exists(opened));
  EXPECT_EQ(questions.deleteAsked, 2);
  EXPECT_TRUE(recovery.TemporaryFiles().empty());

  recovery.OpenFile = [](const std::string&, int* error) {
    *error = 3;
    return OpenResult::NoApplication;
  };
  LogMark mark2;
  ASSERT_TRUE(recovery.StartTryOpen());
  recovery.Wait();
  EXPECT_TRUE(mark2.Has("failed! No application associated with this file"));
}

TEST_F(RecoveryTest, SameDriveIsCaughtAndAskedUntilAnotherDriveOrNo) {
  std::string image = dest + "/disk.img";
  { std::ofstream(image) << std::string(4096, '\0'); }
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  CVolume volume(VolumeImage);
  volume.DevicePath = image;
  volume.SourceDeviceId = st.st_dev;
  std::string target = dest + "/not-yet/created";
  EXPECT_TRUE(IsDestinationOnSourceDrive(volume, target));
  EXPECT_FALSE(IsDestinationOnSourceDrive(volume, "/proc"));

  // Without a device number the image's path tells.
  CVolume unnumbered(VolumeImage);
  unnumbered.DevicePath = image;
  EXPECT_TRUE(IsDestinationOnSourceDrive(unnumbered, target));

  // A found volume inside it is on the same drive.
  CVolume found(VolumeFound);
  found.Parent = &volume;
  EXPECT_TRUE(IsDestinationOnSourceDrive(found, target));

  FakeQuestions questions;
  questions.driveAnswers = {true, true};
  questions.browse = {dest + "/elsewhere-same-drive", "/proc"};
  EXPECT_EQ(CheckDestinationDrive(volume, target, questions), "/proc");
  EXPECT_EQ(questions.driveAsked, 2);

  FakeQuestions no;
  EXPECT_EQ(CheckDestinationDrive(volume, target, no), target);
  EXPECT_EQ(no.driveAsked, 1);
}

TEST(SameDrive, WholeDiskMatchesItsPartitions) {
  // The disk that holds the temporary folder, when that folder sits on a
  // partition: recovering from the whole disk into it must be caught.
  struct stat st {};
  ASSERT_EQ(::stat(fs::temp_directory_path().c_str(), &st), 0);
  std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  std::error_code ec;
  if (!fs::exists(sys + "/partition", ec)) GTEST_SKIP() << "the temporary folder is not on a partition";
  std::ifstream in(fs::canonical(sys).parent_path() / "dev");
  unsigned maj = 0, min = 0;
  char colon = 0;
  ASSERT_TRUE(in >> maj >> colon >> min);
  CVolume disk(VolumePhysical);
  disk.SourceDeviceId = makedev(maj, min);
  EXPECT_TRUE(IsDestinationOnSourceDrive(disk, fs::temp_directory_path()));
  disk.SourceDeviceId = makedev(maj, min + 200);
  EXPECT_FALSE(IsDestinationOnSourceDrive(disk, fs::temp_directory_path()));
}

TEST(SameDrive, LoopDeviceLeadsToTheFileSystemOfItsBackingFile) {
  // A loop device over an image in the destination's own file system: the
  // loop device's blocks are that file's, so writing there is writing to it.
  std::string dir = qmtest::MakeTempDir("qm-loop");
  std::string image = dir + "/disk.img";
  { std::ofstream(image) << std::string(1024 * 1024, '\0'); }
  std::string device;
  if (qmtest::RunCommand("losetup -f --show " + image + " 2>/dev/null", &device) != 0 || device.empty()) {
    fs::remove_all(dir);
    GTEST_SKIP() << "losetup is not allowed here";
  }
  while (!device.empty() && device.back() == '\n') device.pop_back();
  CVolume loop(VolumePhysical);
  loop.DevicePath = device;
  EXPECT_TRUE(IsDestinationOnSourceDrive(loop, dir + "/out"));
  struct stat st {};
  ASSERT_EQ(::stat(device.c_str(), &st), 0);
  loop.SourceDeviceId = st.st_rdev;
  EXPECT_TRUE(IsDestinationOnSourceDrive(loop, dir + "/out"));
  EXPECT_FALSE(IsDestinationOnSourceDrive(loop, "/proc"));
  qmtest::RunCommand("losetup -d " + device);
  fs::remove_all(dir);
}

TEST(OpenWithDesktop, ExitStatusOfTheOpenerTellsWhatHappened) {
  // A stand-in xdg-open first on PATH: it answers with the status the file
  // name asks for.
  std::string bin = qmtest::MakeTempDir("qm-opener");
  {
    std::ofstream script(bin + "/xdg-open");
    script << "#!/bin/sh\ncase \"$1\" in *ok*) exit 0 ;; *none*) exit 3 ;; *) exit 4 ;; esac\n";
  }
  fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
  std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  int error = 0;
  EXPECT_EQ(OpenWithDesktop("/x/ok.txt", &error), OpenResult::Opened);
  EXPECT_EQ(OpenWithDesktop("/x/none.txt", &error), OpenResult::NoApplication);
  EXPECT_EQ(OpenWithDesktop("/x/bad.txt", &error), OpenResult::Failed);
  EXPECT_EQ(error, 4);
  ::setenv("PATH", bin.c_str(), 1);
  fs::remove(bin + "/xdg-open");
  EXPECT_EQ(OpenWithDesktop("/x/ok.txt", &error), OpenResult::Failed);
  EXPECT_NE(error, 0);
  ::setenv("PATH", oldPath.c_str(), 1);
  fs::remove_all(bin);
}

// Bad sectors inside a file's 16 MiB chunks: every readable byte is written
// at its place, the bad sectors become zeros, and the file counts as
// recovered "with N unreadable bytes" instead of ending at the first failure.
TEST_F(RecoveryTest, BadSectorsBecomeZerosAndTheRestOfTheFileIsWritten) {
  const uint64_t size = 20 * MiB;
  std::vector<uint8_t> disk = Pattern(size, 21);
  auto device = std::make_shared<CMemoryDevice>(disk);
  device->SetCompleteAtOnce(true);
  device->AddBadRange(1 * MiB, 512);
  device->AddBadRange(18 * MiB + 512, 512);
  auto volume = std::make_unique<CVolume>(VolumeImage);
  volume->Size = size;
  volume->TotalSectors = size / 512;
  volume->AttachDevice(device);
  volume->State = StateReady;
  CFoundObject file = MakeFile(volume.get(), "video.bin", 0, size);

  CRecovery recovery;
  recovery.BuildList({&file});
  CSettings::SetText(theApp().Settings.DestinationFolder, 4096, dest + "/out");
  LogMark mark;
  ASSERT_TRUE(recovery.Start());
  recovery.Wait();
  EXPECT_EQ(recovery.RecoveredCount(), 1);
  auto outcomes = recovery.Outcomes();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].Result, RecoveryOutcome::Recovered);
  EXPECT_EQ(outcomes[0].UnreadableBytes, 1024u);
  EXPECT_EQ(outcomes[0].Reason, "recovered with 1024 unreadable bytes");
  EXPECT_TRUE(mark.Has("recovered with 1024 unreadable bytes"));

  std::vector<uint8_t> expected = disk;
  std::fill_n(expected.begin() + static_cast<long>(1 * MiB), 512, 0);
  std::fill_n(expected.begin() + static_cast<long>(18 * MiB + 512), 512, 0);
  auto written = recovery.WrittenFiles();
  ASSERT_EQ(written.size(), 1u);
  EXPECT_TRUE(qmtest::ReadFileBytes(written[0]) == expected);
}
