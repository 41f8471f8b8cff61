// The sector reader over an in-memory device that fails, stalls and comes
// up short on request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/app.h"

namespace {

using Behaviour = MemoryReadBehaviour;

std::vector<uint8_t> Pattern(size_t bytes) {
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>((i / 512) * 7 + i);
  return data;
}

class ReadSectorsTest : public ::testing::Test {
protected:
  void SetUp() override {
    theApp().Settings.RetryCount = 3;
    theApp().Settings.RetryPauseMs = 0;
    device = std::make_shared<CMemoryDevice>(Pattern(4 << 20));
    volume = std::make_unique<CVolume>(VolumeImage);
    volume->DevicePath = "/images/disk.dsk";
    volume->AttachDevice(device);
    firstLine = theLog().LineCount();
  }
  std::vector<std::string> NewLines() const {
    auto lines = theLog().Lines();
    return std::vector<std::string>(lines.begin() + static_cast<long>(std::min(firstLine, lines.size())), lines.end());
  }
  size_t CountContaining(const std::string& text) const {
    auto lines = NewLines();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                             [&](const std::string& l) { return l.find(text) != std::string::npos; }));
  }

  std::shared_ptr<CMemoryDevice> device;
  std::unique_ptr<CVolume> volume;
  size_t firstLine = 0;
};

TEST_F(ReadSectorsTest, CountZeroReadsNothingAndLogsNothing) {
  uint8_t buffer[512];
  std::memset(buffer, 0xAB, sizeof buffer);
  EXPECT_EQ(volume->ReadSectors(buffer, 0, uint64_t{0}), 0u);
  EXPECT_TRUE(device->Reads().empty());
  EXPECT_TRUE(NewLines().empty());
  EXPECT_EQ(buffer[0], 0xAB);  // the buffer is not touched either
}

TEST_F(ReadSectorsTest, ReadsThroughTheWaitPathAndTheAtOncePath) {
  std::vector<uint8_t> buffer(3 * 512);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 5, uint64_t{3}), 3u * 512);
  EXPECT_EQ(0, std::memcmp(buffer.data(), device->Data().data() + 5 * 512, buffer.size()));
  device->SetCompleteAtOnce(true);
  std::fill(buffer.begin(), buffer.end(), 0);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 7, 3), 3u * 512);  // the int32 form
  EXPECT_EQ(0, std::memcmp(buffer.data(), device->Data().data() + 7 * 512, buffer.size()));
  EXPECT_TRUE(NewLines().empty());
}

TEST_F(ReadSectorsTest, RetryZeroTriesOnceAndLogsOneNotReadLine) {
  theApp().Settings.RetryCount = 0;
  device->Push(Behaviour::Fail(5));
  std::vector<uint8_t> buffer(512, 0xCC);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 2, uint64_t{1}), 0u);
  EXPECT_EQ(device->Reads().size(), 1u);
  auto lines = NewLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "ERR: Volume disk.dsk at position 1024 not read, retry 1 WindwsError: 5");
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(ReadSectorsTest, FailedWaitCancelsAndNeverLeavesStaleData) {
  Behaviour b = Behaviour::FailWait(5);
  b.scribble = true;  // the device wrote garbage before it failed
  device->Push(b);
  std::vector<uint8_t> buffer(4 * 512, 0xCC);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 0, uint64_t{4}), 0u);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_EQ(device->CancelCount(), 1u);
  EXPECT_EQ(CountContaining("not read, retry 1 WindwsError: 5"), 1u);
}

TEST_F(ReadSectorsTest, TimeOutsOf3000And3001Sectors) {
  theApp().Settings.RetryCount = 2;
  std::vector<uint8_t> buffer(3001 * 512, 0xCC);

  Behaviour hang = Behaviour::HangFor();
  hang.scribble = true;  // part of the transfer arrived before the stall
  device->Push(hang);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 0, uint64_t{3000}), 0u);
  // Waits while w <= R: R + 1 waits of 10 s, one time-out line each, then
  // one "not read" line; the read is cancelled and the buffer zeroed.
  EXPECT_EQ(device->WaitTimeouts(), (std::vector<uint32_t>{10000, 10000, 10000}));
  EXPECT_EQ(CountContaining("read timeout, retry 2"), 1u);
  EXPECT_EQ(CountContaining("read timeout, retry 3"), 1u);
  EXPECT_EQ(CountContaining("read timeout, retry 4"), 1u);
  EXPECT_EQ(CountContaining("not read, retry 1 WindwsError: 110"), 1u);
  EXPECT_EQ(device->CancelCount(), 1u);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 3000 * 512, [](uint8_t v) { return v == 0; }));

  device->Push(Behaviour::HangFor());
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 0, uint64_t{3001}), 0u);
  auto waits = device->WaitTimeouts();
  ASSERT_EQ(waits.size(), 6u);
  EXPECT_EQ(waits[3], 6002u);
  EXPECT_EQ(waits[5], 6002u);
}

TEST_F(ReadSectorsTest, ALateReadWithinTheWaitsIsReturned) {
  device->Push(Behaviour::HangFor(2));  // two time-outs, then the data arrives
  std::vector<uint8_t> buffer(512);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 1, uint64_t{1}), 512u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), device->Data().data() + 512, 512));
  EXPECT_EQ(CountContaining("read timeout"), 2u);
  EXPECT_EQ(CountContaining("not read"), 0u);
}

TEST_F(ReadSectorsTest, ShortReadsAreRetriedThenReturned) {
  // Two short attempts, then a full one.
  device->Push(Behaviour::ShortRead(512));
  device->Push(Behaviour::ShortRead(1024));
  std::vector<uint8_t> buffer(4 * 512);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 0, uint64_t{4}), 4u * 512);
  EXPECT_EQ(device->Reads().size(), 3u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), device->Data().data(), buffer.size()));

  // Short every time: R + 1 attempts, the last count returned, the rest zero.
  for (int i = 0; i < 4; ++i) device->Push(Behaviour::ShortRead(i == 3 ? 700 : 1536));
  std::fill(buffer.begin(), buffer.end(), 0xCC);
  EXPECT_EQ(volume->ReadSectors(buffer.data(), 0, uint64_t{4}), 700u);
  EXPECT_EQ(device->Reads().size(), 7u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), device->Data().data(), 700));
  EXPECT_TRUE(std::all_of(buffer.begin() + 700, buffer.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_TRUE(NewLines().empty());
}

TEST_F(ReadSectorsTest, FoundVolumeReadsAtItsOffsetThroughTheParentDevice) {
  volume->ObjectID = -70000;
  CVolume found(VolumeFound);
  found.Parent = volume.get();
  found.VolumeStartOffset = 1048576;
  std::vector<uint8_t> buffer(512);
  EXPECT_EQ(found.ReadSectors(buffer.data(), 0, uint64_t{1}), 512u);
  EXPECT_EQ(device->Reads().back().offset, 1048576u);
  EXPECT_EQ(0, std::memcmp(buffer.data(), device->Data().data() + 1048576, 512));
  EXPECT_EQ(found.GetDisplayName(), "Volume at: 1048576");
  // Its own handle: closing the parent does not close the found volume.
  volume->Close();
  EXPECT_TRUE(found.IsOpen());
}

TEST_F(ReadSectorsTest, AVolumeWhoseDeviceIsGoneLogsOneLinePerOpenAttempt) {
  CVolume gone(VolumeImage);
  gone.DevicePath = "/nonexistent/quillmore/disk.dsk";
  std::vector<uint8_t> buffer(512, 0xCC);
  EXPECT_EQ(gone.ReadSectors(buffer.data(), 0, uint64_t{1}), 0u);
  EXPECT_EQ(gone.ReadSectors(buffer.data(), 0, uint64_t{1}), 0u);
  EXPECT_EQ(CountContaining("Can't open volume '/nonexistent/quillmore/disk.dsk', System Error: No such file"), 2u);
}

TEST_F(ReadSectorsTest, HostileCountsAndPositionsAreRefused) {
  uint8_t buffer[512];
  EXPECT_EQ(volume->ReadSectors(buffer, ~0ull / 256, uint64_t{1}), 0u);
  EXPECT_EQ(volume->ReadSectors(buffer, 0, uint64_t{0x1000000}), 0u);
  EXPECT_EQ(volume->ReadSectors(buffer, 0, int32_t{-1}), 0u);
  EXPECT_TRUE(device->Reads().empty());
  // Reads past the end come back short and zero-filled.
  std::vector<uint8_t> tail(2 * 512, 0xCC);
  const uint64_t last = (4 << 20) / 512 - 1;
  EXPECT_EQ(volume->ReadSectors(tail.data(), last, uint64_t{2}), 512u);
  EXPECT_TRUE(std::all_of(tail.begin() + 512, tail.end(), [](uint8_t v) { return v == 0; }));
}

}  // namespace

// A read of many sectors that fails is read again in halves down to single
// sectors: only the bad sectors are lost (zeros, counted), everything around
// them arrives, and a healthy range costs exactly one read.
TEST_F(ReadSectorsTest, SalvagingReadLosesOnlyTheBadSectors) {
  const std::vector<uint8_t> source = device->Data();
  std::vector<uint8_t> buffer(2048 * 512, 0xAB);
  SalvagedRead healthy = volume->ReadSectorsSalvaging(buffer.data(), 0, 2048);
  EXPECT_EQ(healthy.Sectors, 2048u);
  EXPECT_EQ(healthy.Unreadable, 0u);
  EXPECT_FALSE(healthy.DeviceLost);
  EXPECT_EQ(device->Reads().size(), 1u);

  device->AddBadRange(7 * 512, 512);
  device->AddBadRange(1500 * 512, 1024);  // two sectors in a row
  std::fill(buffer.begin(), buffer.end(), 0xAB);
  SalvagedRead got = volume->ReadSectorsSalvaging(buffer.data(), 0, 2048);
  EXPECT_EQ(got.Sectors, 2048u);
  EXPECT_EQ(got.Unreadable, 3u);
  EXPECT_FALSE(got.DeviceLost);
  for (uint64_t s = 0; s < 2048; ++s) {
    const bool bad = s == 7 || s == 1500 || s == 1501;
    const uint8_t* at = buffer.data() + s * 512;
    if (bad) {
      EXPECT_TRUE(std::all_of(at, at + 512, [](uint8_t b) { return b == 0; })) << s;
    } else {
      ASSERT_EQ(std::memcmp(at, source.data() + s * 512, 512), 0) << s;
    }
  }
  // The splitting is logarithmic, not a read per sector.
  EXPECT_LT(device->Reads().size(), 200u);

  // At the end of the device the range is cut, not counted as unreadable.
  std::vector<uint8_t> tail(16 * 512);
  SalvagedRead end = volume->ReadSectorsSalvaging(tail.data(), (4 << 20) / 512 - 4, 16);
  EXPECT_EQ(end.Sectors, 4u);
  EXPECT_EQ(end.Unreadable, 0u);
}

// A drive that stalls on every read, and one that vanishes: the salvaging
// read gives up at once instead of splitting, so no operation waits out the
// time-outs of every sector.
TEST_F(ReadSectorsTest, SalvagingReadStopsOnAStalledOrVanishedDrive) {
  theApp().Settings.RetryCount = 1;
  std::vector<uint8_t> buffer(1024 * 512);
  device->SetEveryReadHangs(true);
  SalvagedRead stalled = volume->ReadSectorsSalvaging(buffer.data(), 0, 1024);
  EXPECT_TRUE(stalled.DeviceLost);
  EXPECT_EQ(stalled.Unreadable, 1024u);
  EXPECT_EQ(device->Reads().size(), 1u);
  EXPECT_LE(device->WaitTimeouts().size(), 2u);
  EXPECT_GE(CountContaining("read timeout"), 1u);

  // A vanished drive is not split either: the read waits for the medium
  // (here not at all) and ends.
  device->SetEveryReadHangs(false);
  device->VanishAfter(0);
  volume->MediumWaitLimitMs = 0;
  SalvagedRead gone = volume->ReadSectorsSalvaging(buffer.data(), 0, 1024, [] { return true; });
  EXPECT_TRUE(gone.DeviceLost);
  EXPECT_EQ(gone.Unreadable, 1024u);
  EXPECT_EQ(device->Reads().size(), 2u);
  EXPECT_EQ(CountContaining("Medium removed!"), 1u);
  EXPECT_FALSE(volume->MediaGate().IsOpen());
}
