#include <cstring>

#include "engine/filesystems/file_system.h"
#include "tests/engine/catalog/catalog_fixture.h"
#include "tests/support/test_support.h"

using cattest::CatalogTest;
using cattest::PatternBytes;

namespace {

FoundObjectRun VolumeRun(uint64_t start, uint64_t count) {
  FoundObjectRun r;
  r.StartSector = start;
  r.SectorCount = count;
  return r;
}
FoundObjectRun ZeroRun(uint64_t count) {
  FoundObjectRun r;
  r.SectorCount = count;
  r.Kind = FoundObjectRun::Source::Zeros;
  return r;
}
FoundObjectRun InlineRun(std::vector<uint8_t> data, uint64_t count) {
  FoundObjectRun r;
  r.SectorCount = count;
  r.Kind = FoundObjectRun::Source::Inline;
  r.Inline = std::make_shared<const std::vector<uint8_t>>(std::move(data));
  return r;
}

// A file system that answers GetRuns with a fixed list.
class FixedRunsFileSystem : public CFileSystem {
public:
  FixedRunsFileSystem(CVolume* volume, std::vector<FoundObjectRun> runs) : CFileSystem(volume), runs_(std::move(runs)) {}
  void GetRuns(const CFoundObject&, std::vector<FoundObjectRun>& runs) override {
    ++calls;
    runs = runs_;
  }
  int calls = 0;

private:
  std::vector<FoundObjectRun> runs_;
};

}  // namespace

// Reads an image file through the program's own volume, across runs of every
// source, one call per run.
TEST(FoundObjectReader, ReadsEveryKindOfRunWithoutCrossingOne) {
  const std::vector<uint8_t> image = PatternBytes(64 * 1024);
  const std::string path = qmtest::WriteTempFile("reader.img", image);
  CVolume* volume = theComputer().LoadImage(path);
  ASSERT_NE(volume, nullptr);

  std::vector<uint8_t> inlineData(512);
  for (size_t i = 0; i < inlineData.size(); ++i) inlineData[i] = static_cast<uint8_t>(0xA0 + i % 16);
  CFoundObject record;
  record.Volume = volume;
  record.SetName("mixed.bin");
  CFoundObjectReader reader(record, {VolumeRun(2, 3), ZeroRun(2), InlineRun(inlineData, 1), VolumeRun(0, 0),
                                     VolumeRun(100, 1)});

  std::vector<uint8_t> buffer(8192, 0x55);
  ASSERT_EQ(reader.ReadNext(buffer.data(), 8192), 1536u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), image.data() + 1024, 1536));
  ASSERT_EQ(reader.ReadNext(buffer.data(), 8192), 1024u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 1024), std::vector<uint8_t>(1024, 0));
  ASSERT_EQ(reader.ReadNext(buffer.data(), 8192), 512u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 512), inlineData);
  // The empty run is passed over rather than ending the object.
  ASSERT_EQ(reader.ReadNext(buffer.data(), 8192), 512u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), image.data() + 100 * 512, 512));
  EXPECT_EQ(reader.ReadNext(buffer.data(), 8192), 0u);
  EXPECT_EQ(reader.ReadNext(buffer.data(), 8192), 0u);
}

TEST_F(CatalogTest, ReadNextGivesExactlyTheBytesAskedForAndNoMore) {
  const std::vector<uint8_t>& image = device->Data();
  CFoundObject record;
  record.Volume = volume.get();
  record.SetName("odd.bin");
  std::vector<uint8_t> inlineData(700, 0x11);  // shorter than its sector: the rest reads as zeros
  CFoundObjectReader reader(record, {VolumeRun(4, 3), InlineRun(inlineData, 2), ZeroRun(1)});

  // 700 bytes take two sectors of the run; the buffer past 700 is untouched.
  std::vector<uint8_t> buffer(2048, 0xCC);
  ASSERT_EQ(reader.ReadNext(buffer.data(), 700), 700u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), image.data() + 4 * 512, 700));
  EXPECT_EQ(buffer[700], 0xCC);
  EXPECT_EQ(reader.SectorsDone, 2u);
  // Fewer sectors left in the run than asked for: the rest of the run.
  ASSERT_EQ(reader.ReadNext(buffer.data(), 1001), 512u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), image.data() + 6 * 512, 512));
  // A tiny read inside an inline run.
  std::fill(buffer.begin(), buffer.end(), 0xCC);
  ASSERT_EQ(reader.ReadNext(buffer.data(), 3), 3u);
  EXPECT_EQ(buffer[0], 0x11);
  EXPECT_EQ(buffer[3], 0xCC);
  ASSERT_EQ(reader.ReadNext(buffer.data(), 513), 512u);  // the second inline sector: 188 data bytes, then zeros
  EXPECT_EQ(buffer[187], 0x11);
  EXPECT_EQ(buffer[188], 0);
  ASSERT_EQ(reader.ReadNext(buffer.data(), 100), 100u);
  EXPECT_EQ(reader.ReadNext(buffer.data(), 100), 0u);
}

TEST_F(CatalogTest, LostFilesReadAsOneStretchFromTheirStart) {
  CFoundObject lost;
  lost.Volume = volume.get();
  lost.Flags = FOF_SIGNATURE | FOF_DELETED;
  lost.StartOffset = 3 * 512;
  lost.Size = 1300;
  lost.SetName("lost_file_1536");
  CFoundObjectReader reader(lost);
  ASSERT_EQ(reader.Runs.size(), 1u);
  EXPECT_EQ(reader.Runs[0].StartSector, 3u);
  EXPECT_EQ(reader.Runs[0].SectorCount, 3u);

  // The recovery's loop: ask for what is left of Size each time.
  std::vector<uint8_t> out;
  std::vector<uint8_t> chunk(1024);
  while (out.size() < lost.Size) {
    const uint32_t want = static_cast<uint32_t>(std::min<size_t>(chunk.size(), lost.Size - out.size()));
    const uint32_t n = reader.ReadNext(chunk.data(), want);
    if (n == 0) break;
    out.insert(out.end(), chunk.begin(), chunk.begin() + n);
  }
  ASSERT_EQ(out.size(), 1300u);
  EXPECT_EQ(0, std::memcmp(out.data(), device->Data().data() + 1536, 1300));

  // An unknown size is kept inside the volume.
  lost.Size = SIZE_UNKNOWN;
  CFoundObjectReader open(lost);
  ASSERT_EQ(open.Runs.size(), 1u);
  EXPECT_EQ(open.Runs[0].StartSector + open.Runs[0].SectorCount, volume->TotalSectors);
}

TEST_F(CatalogTest, FileSystemObjectsAskTheFileSystemForTheirRuns) {
  auto fs = std::make_unique<FixedRunsFileSystem>(volume.get(), std::vector<FoundObjectRun>{VolumeRun(40, 1), VolumeRun(10, 1)});
  FixedRunsFileSystem* raw = fs.get();
  volume->SetFileSystem(std::move(fs));

  CFoundObject file;
  file.Volume = volume.get();
  file.ObjectID = 7;
  file.StartOffset = 40 * 512;
  file.Size = 1024;
  file.SetName("fragmented.bin");
  CFoundObjectReader reader(file);
  EXPECT_EQ(raw->calls, 1);
  ASSERT_EQ(reader.Runs.size(), 2u);
  EXPECT_EQ(reader.Runs[1].StartSector, 10u);

  // Objects found by signature and the boot object keep their single run.
  CFoundObject lost = file;
  lost.Flags |= FOF_SIGNATURE;
  CFoundObjectReader lostReader(lost);
  EXPECT_EQ(raw->calls, 1);
  ASSERT_EQ(lostReader.Runs.size(), 1u);
  EXPECT_EQ(lostReader.Runs[0].SectorCount, 2u);

  CFoundObject boot = *volume;  // the volume's own record
  boot.Volume = volume.get();
  boot.SetName("BOOT");
  boot.Size = 1024;
  boot.StartOffset = 0;
  CFoundObjectReader bootReader(boot);
  ASSERT_EQ(bootReader.Runs.size(), 1u);
  EXPECT_EQ(bootReader.Runs[0].StartSector, 0u);
  EXPECT_EQ(bootReader.Runs[0].SectorCount, 2u);
}

TEST_F(CatalogTest, WithoutRunsFromTheFileSystemTheObjectReadsFromItsStart) {
  // A file system that knows no runs for the object.
  volume->SetFileSystem(std::make_unique<FixedRunsFileSystem>(volume.get(), std::vector<FoundObjectRun>{}));
  CFoundObject file;
  file.Volume = volume.get();
  file.ObjectID = 9;
  file.StartOffset = 8 * 512;
  file.Size = 600;
  file.SetName("a.txt");
  CFoundObjectReader reader(file);
  ASSERT_EQ(reader.Runs.size(), 1u);
  EXPECT_EQ(reader.Runs[0].StartSector, 8u);
  EXPECT_EQ(reader.Runs[0].SectorCount, 2u);

  // No location at all: nothing to read (not the boot sector).
  file.StartOffset = 0;
  file.FirstCluster = 0;
  CFoundObjectReader none(file);
  EXPECT_TRUE(none.Runs.empty());
  std::vector<uint8_t> buffer(512);
  EXPECT_EQ(none.ReadNext(buffer.data(), 512), 0u);

  // Size 0: no run.
  file.StartOffset = 4096;
  file.Size = 0;
  EXPECT_TRUE(CFoundObjectReader(file).Runs.empty());
}

TEST_F(CatalogTest, AFailedReadStillMovesOn) {
  theApp().Settings.RetryCount = 0;
  CFoundObject record;
  record.Volume = volume.get();
  record.SetName("beyond.bin");
  CFoundObjectReader reader(record, {VolumeRun(volume->TotalSectors + 10, 2), VolumeRun(1, 1)});
  std::vector<uint8_t> buffer(1024);
  EXPECT_EQ(reader.ReadNext(buffer.data(), 1024), 0u);
  EXPECT_EQ(reader.CurrentRun, 1);
  EXPECT_EQ(reader.ReadNext(buffer.data(), 1024), 512u);
  theApp().Settings.RetryCount = 3;
}
