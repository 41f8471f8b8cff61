// A sector scan whose medium goes away: it waits at the volume's gate
// instead of skipping the rest of the disk, and finishes with the same
// result as an uninterrupted scan once the medium is back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/scanner/analyser.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/app.h"
#include "services/log.h"

namespace {

// Three blocks with a signature in each.
std::vector<uint8_t> ThreeBlocks() {
  std::vector<uint8_t> bytes(3 * SCAN_BLOCK_BYTES, 0);
  for (uint64_t block = 0; block < 3; ++block) std::memcpy(&bytes[block * SCAN_BLOCK_BYTES + 1024], "QMGATE", 6);
  return bytes;
}

// A device on which a removal event arrives during the read number `at`
// (from 0), which fails as a plain read error: a medium pulled in the
// middle of a transfer.
class RemovedDuringRead : public CMemoryDevice {
public:
  RemovedDuringRead(std::vector<uint8_t> bytes, size_t at) : CMemoryDevice(std::move(bytes)), at_(at) {}
  CVolume* volume = nullptr;
  IoResult StartRead(void* buffer, size_t bytes, uint64_t offset) override {
    if (reads_++ == at_) {
      volume->MediumRemoved();
      Push(MemoryReadBehaviour::Fail(EIO));
    }
    return CMemoryDevice::StartRead(buffer, bytes, offset);
  }

private:
  size_t at_, reads_ = 0;
};

struct GateScan {
  std::shared_ptr<CMemoryDevice> device;
  std::unique_ptr<CVolume> volume;
  CFileSignatureDatabase db;
  std::mutex mutex;
  std::vector<uint64_t> found;

  explicit GateScan(std::shared_ptr<CMemoryDevice> dev = nullptr) {
    device = dev ? std::move(dev) : std::make_shared<CMemoryDevice>(ThreeBlocks());
    device->SetCompleteAtOnce(true);
    volume = std::make_unique<CVolume>(VolumeLogical);
    volume->KernelName = "sdx1";
    volume->AttachDevice(device);
    volume->Size = device->SizeBytes();
    volume->TotalSectors = volume->Size / 512;
    volume->State = StateReady;
    CFileType t;
    t.Id = 41;
    t.Title = "Gate";
    t.FileExtensions = "bin";
    t.Prefix = "g";
    t.Group = "Test";
    t.Signatures.push_back(*CFileSignatureDatabase::CompileSignature("0='QMGATE'"));
    db.AddTypeForTest(std::move(t));
  }
  void Scan(CAnalyser& analyser) {
    analyser.Database = &db;
    analyser.Sink = [this](std::unique_ptr<CFoundObject> o) {
      std::lock_guard lock(mutex);
      found.push_back(o->StartOffset);
    };
    theApp().AnalysisRunning = 1;
    analyser.ResetStop();
    analyser.ScanVolume();
  }
  std::vector<uint64_t> Sorted() {
    std::lock_guard lock(mutex);
    auto out = found;
    std::sort(out.begin(), out.end());
    return out;
  }
  void WaitForReaderAtGate() {
    while (volume->MediaGate().Waiters() == 0) std::this_thread::yield();
  }
};

size_t LogCount(const std::string& text) {
  size_t n = 0;
  for (const auto& line : theLog().Lines())
    if (line.find(text) != std::string::npos) ++n;
  return n;
}

}  // namespace

TEST(MediumRemoval, ScanWaitsAtTheGateAndFinishesLikeAnUninterruptedScan) {
  GateScan plain;
  CAnalyser plainAnalyser(plain.volume.get());
  plain.Scan(plainAnalyser);
  ASSERT_EQ(plain.Sorted().size(), 3u);

  GateScan scan;
  // The second block's read finds the medium gone.
  scan.device->Push({});
  scan.device->Push(MemoryReadBehaviour::Fail(ENOMEDIUM));
  const size_t removedBefore = LogCount("Drive sdx1: Medium removed!");
  const size_t skippedBefore = LogCount("CAnalyser.Analyse_Cycle.ReadSectors: 0");
  CAnalyser analyser(scan.volume.get());
  std::thread scanner([&] { scan.Scan(analyser); });
  scan.WaitForReaderAtGate();
  EXPECT_EQ(scan.volume->State.load(), StateNotReady);
  EXPECT_EQ(LogCount("Drive sdx1: Medium removed!"), removedBefore + 1);
  // The medium comes back: the scan reads the block again and goes on.
  EXPECT_TRUE(scan.volume->MediumArrived());
  scanner.join();
  EXPECT_EQ(scan.Sorted(), plain.Sorted());
  EXPECT_EQ(scan.volume->Position(), plain.volume->Position());
  EXPECT_EQ(scan.volume->State.load(), StateReady);
  EXPECT_EQ(LogCount("CAnalyser.Analyse_Cycle.ReadSectors: 0"), skippedBefore);  // nothing skipped
  // Block 1 was read twice: once failing, once after the medium returned.
  size_t block1Reads = 0;
  for (const auto& r : scan.device->Reads()) block1Reads += r.offset == SCAN_BLOCK_BYTES;
  EXPECT_EQ(block1Reads, 2u);
}

TEST(MediumRemoval, RemovalEventBeforeTheFailureAndAStopWhileWaiting) {
  GateScan scan;
  scan.device->Push({});
  scan.device->Push(MemoryReadBehaviour::Fail(EIO));  // a plain error, but the event said the medium went
  scan.volume->MediumRemoved();
  CAnalyser analyser(scan.volume.get());
  std::thread scanner([&] { scan.Scan(analyser); });
  scan.WaitForReaderAtGate();
  // A stop while waiting ends the scan; the blocks after the gate are not read.
  analyser.Stop();
  scanner.join();
  for (const auto& r : scan.device->Reads()) EXPECT_LT(r.offset, 2u * SCAN_BLOCK_BYTES);
  theApp().AnalysisRunning = 0;
}

// The medium goes while a failed block is being read again in pieces (by
// an event, and by a piece that finds no medium): the pieces read so far
// count for nothing, no sector is called unreadable, and the block is read
// again whole once the medium is back.
TEST(MediumRemoval, RemovalDuringTheSalvageReadsTheBlockAgainWhole) {
  GateScan plain;
  CAnalyser plainAnalyser(plain.volume.get());
  plain.Scan(plainAnalyser);

  for (const bool byEvent : {true, false}) {
    SCOPED_TRACE(byEvent ? "removal event" : "no medium");
    // Read 0: block 0; read 1: block 1 whole, a plain error; read 2: its
    // first half, when the medium goes.
    auto device = std::make_shared<RemovedDuringRead>(ThreeBlocks(), byEvent ? 2 : SIZE_MAX);
    GateScan scan(device);
    device->volume = scan.volume.get();
    scan.device->Push({});
    scan.device->Push(MemoryReadBehaviour::Fail(EIO));
    if (!byEvent) scan.device->Push(MemoryReadBehaviour::Fail(ENOMEDIUM));
    const size_t unreadableBefore = LogCount("unreadable sector(s)");
    CAnalyser analyser(scan.volume.get());
    std::thread scanner([&] { scan.Scan(analyser); });
    scan.WaitForReaderAtGate();
    EXPECT_EQ(scan.volume->State.load(), StateNotReady);
    EXPECT_TRUE(scan.volume->MediumArrived());
    scanner.join();
    EXPECT_EQ(scan.Sorted(), plain.Sorted());
    EXPECT_EQ(analyser.UnreadableSectors.load(), 0u);
    EXPECT_EQ(LogCount("unreadable sector(s)"), unreadableBefore);
    const auto reads = scan.device->Reads();
    ASSERT_EQ(reads.size(), 5u);
    EXPECT_EQ(reads[2].offset, uint64_t(SCAN_BLOCK_BYTES));
    EXPECT_LT(reads[2].bytes, size_t(SCAN_BLOCK_BYTES));  // a piece
    EXPECT_EQ(reads[3].offset, uint64_t(SCAN_BLOCK_BYTES));
    EXPECT_EQ(reads[3].bytes, size_t(SCAN_BLOCK_BYTES));  // whole again
  }
}

// A medium that does not come back within the volume's limit ends the scan
// with a log line; the blocks after it are not read.
TEST(MediumRemoval, AMediumThatDoesNotComeBackEndsTheScanAfterTheLimit) {
  GateScan scan;
  scan.volume->MediumWaitLimitMs = 100;
  scan.device->Push({});
  scan.device->Push(MemoryReadBehaviour::Fail(ENXIO));
  const size_t givenUpBefore = LogCount("Drive sdx1: the medium did not come back within 0 s; reading it ends");
  const size_t stoppedBefore = LogCount("Sector scan stopped at sector 20480: the drive does not answer");
  CAnalyser analyser(scan.volume.get());
  scan.Scan(analyser);
  EXPECT_EQ(scan.Sorted(), std::vector<uint64_t>{1024});
  EXPECT_EQ(scan.device->Reads().size(), 2u);
  EXPECT_EQ(LogCount("Drive sdx1: the medium did not come back within 0 s; reading it ends"), givenUpBefore + 1);
  EXPECT_EQ(LogCount("Sector scan stopped at sector 20480: the drive does not answer"), stoppedBefore + 1);
  EXPECT_FALSE(scan.volume->MediaGate().IsOpen());
  theApp().AnalysisRunning = 0;
}

TEST(MediumRemoval, APlainReadErrorIsSkippedWithoutWaiting) {
  GateScan scan;
  scan.device->AddBadRange(SCAN_BLOCK_BYTES, 512);  // EIO: a bad sector, medium present
  CAnalyser analyser(scan.volume.get());
  scan.Scan(analyser);
  // The bad sector costs itself only: the file two sectors after it is found.
  EXPECT_EQ(scan.Sorted(), (std::vector<uint64_t>{1024, uint64_t(SCAN_BLOCK_BYTES) + 1024,
                                                  2 * uint64_t(SCAN_BLOCK_BYTES) + 1024}));
  EXPECT_TRUE(scan.volume->MediaGate().IsOpen());
}
