// The sector scanner: block arithmetic, matching, the type-specific
// corrections, stops and parser time-outs, over in-memory volumes; and a scan
// of real files laid over random bytes with the shipped signature database.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/analyser.h"
#include "engine/scanner/file_end.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/device.h"
#include "platform/memory_device.h"
#include "services/app.h"
#include "services/log.h"
#include "tests/support/test_support.h"

namespace {

// A database of a few types with registry-text signatures.
struct TestTypes {
  CFileSignatureDatabase db;
  CFileType& Add(int32_t id, const std::string& signature, const std::string& ext = "bin") {
    CFileType t;
    t.Id = id;
    t.Title = "Type " + std::to_string(id);
    t.FileExtensions = ext;
    t.Prefix = "t" + std::to_string(id);
    t.Group = "Test";
    auto sig = CFileSignatureDatabase::CompileSignature(signature);
    EXPECT_TRUE(sig.has_value());
    if (sig) t.Signatures.push_back(*sig);
    return db.AddTypeForTest(std::move(t));
  }
};

struct Found {
  int16_t type;
  uint64_t offset;
  uint64_t size;
  uint16_t flags;
  int64_t id;
};

// Runs ParseBlock over a block with no thread and no volume.
std::vector<Found> Parse(const CFileSignatureDatabase& db, const std::vector<uint8_t>& block, uint64_t firstSector,
                         SectorReader read = {}) {
  std::vector<Found> found;
  ScanContext ctx;
  ctx.Database = &db;
  ctx.Read = std::move(read);
  ctx.Accept = [&](std::unique_ptr<CFoundObject> o) {
    found.push_back({o->FileType, o->StartOffset, o->Size, o->Flags, o->ObjectID});
  };
  ParseBlock(block.data(), firstSector, static_cast<uint32_t>(block.size() / 512), ctx);
  return found;
}

// A volume over an in-memory device, scanned by its analyser into a list.
struct MemoryScan {
  std::shared_ptr<CMemoryDevice> device;
  std::unique_ptr<CVolume> volume;
  std::mutex mutex;
  std::vector<Found> found;

  explicit MemoryScan(std::vector<uint8_t> bytes) {
    device = std::make_shared<CMemoryDevice>(std::move(bytes));
    device->SetCompleteAtOnce(true);
    volume = std::make_unique<CVolume>(VolumeImage);
    volume->AttachDevice(device);
    volume->Size = device->SizeBytes();
    volume->TotalSectors = volume->Size / 512;
    volume->State = StateReady;
  }
  void Run(CAnalyser& analyser, const CFileSignatureDatabase& db) {
    analyser.Database = &db;
    analyser.Sink = [this](std::unique_ptr<CFoundObject> o) {
      std::lock_guard lock(mutex);
      found.push_back({o->FileType, o->StartOffset, o->Size, o->Flags, o->ObjectID});
      if (onFound) onFound(o->StartOffset);
    };
    theApp().AnalysisRunning = 1;
    analyser.ResetStop();
    analyser.ScanVolume();
  }
  // Called for each object as the scan hands it over (on the scan thread).
  std::function<void(uint64_t offset)> onFound;
  std::vector<uint64_t> ReadOffsets() const {
    std::vector<uint64_t> offsets;
    for (const auto& r : device->Reads()) offsets.push_back(r.offset);
    return offsets;
  }
};

// A volume over an image file, whose parsers read it on their own handles.
struct FileScan {
  std::unique_ptr<CVolume> volume;
  std::vector<Found> found;

  // `volumeBytes` 0: the file's size; `startOffset`: where the volume starts
  // in the file (a partition of a disk image).
  explicit FileScan(const std::string& path, uint64_t volumeBytes = 0, uint64_t startOffset = 0) {
    int error = 0;
    std::shared_ptr<IDevice> device = OpenDeviceReadOnly(path, &error);
    EXPECT_TRUE(device) << path;
    volume = std::make_unique<CVolume>(VolumeImage);
    volume->AttachDevice(device);
    volume->VolumeStartOffset = startOffset;
    volume->Size = volumeBytes ? volumeBytes : (device ? device->SizeBytes() - startOffset : 0);
    volume->TotalSectors = volume->Size / 512;
    volume->State = StateReady;
  }
  void Run(CAnalyser& analyser, const CFileSignatureDatabase& db) {
    analyser.Database = &db;
    // Objects arrive on the scan thread alone, in block order.
    analyser.Sink = [this](std::unique_ptr<CFoundObject> o) {
      found.push_back({o->FileType, o->StartOffset, o->Size, o->Flags, o->ObjectID});
    };
    theApp().AnalysisRunning = 1;
    analyser.ResetStop();
    analyser.ScanVolume();
  }
};

bool operator==(const Found& a, const Found& b) {
  return a.type == b.type && a.offset == b.offset && a.size == b.size && a.flags == b.flags && a.id == b.id;
}

void Put(std::vector<uint8_t>& bytes, uint64_t offset, const std::string& text) {
  std::memcpy(bytes.data() + offset, text.data(), text.size());
}

bool LogHas(const std::string& text) {
  for (const auto& line : theLog().Lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(ScannerBlocks, VolumeOfAMillionBytesIsOneBlockOf1953Sectors) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(1000000, 0);
  Put(bytes, 1952 * 512, "QMSIG");            // the last whole sector
  Put(bytes, 1953 * 512, "QMSIG");  // in the 64 bytes past it: never matched
  MemoryScan scan(bytes);
  CAnalyser analyser(scan.volume.get());
  scan.Run(analyser, types.db);
  ASSERT_EQ(scan.ReadOffsets().size(), 1u);
  EXPECT_EQ(scan.device->Reads()[0].bytes, 1953u * 512);
  ASSERT_EQ(scan.found.size(), 1u);
  EXPECT_EQ(scan.found[0].offset, 1952u * 512);
  EXPECT_EQ(scan.volume->Position(), 1953u);
  EXPECT_EQ(analyser.Ranges.size(), 1u);
  EXPECT_EQ(analyser.Ranges[0].Count, 1953u);
}

TEST(ScannerBlocks, ExactBlockAndOneSectorMore) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  {
    MemoryScan scan(std::vector<uint8_t>(SCAN_BLOCK_BYTES, 0));
    CAnalyser analyser(scan.volume.get());
    scan.Run(analyser, types.db);
    EXPECT_EQ(scan.ReadOffsets(), (std::vector<uint64_t>{0}));
  }
  {
    std::vector<uint8_t> bytes(SCAN_BLOCK_BYTES + 512, 0);
    Put(bytes, SCAN_BLOCK_BYTES, "QMSIG");
    MemoryScan scan(bytes);
    CAnalyser analyser(scan.volume.get());
    scan.Run(analyser, types.db);
    EXPECT_EQ(scan.ReadOffsets(), (std::vector<uint64_t>{0, SCAN_BLOCK_BYTES}));
    EXPECT_EQ(scan.device->Reads()[1].bytes, 512u);
    ASSERT_EQ(scan.found.size(), 1u);
    EXPECT_EQ(scan.found[0].offset, uint64_t(SCAN_BLOCK_BYTES));
    EXPECT_EQ(scan.volume->Position(), SCAN_BLOCK_SECTORS + 1u);
  }
}

TEST(ScannerBlocks, MatchInALaterBlockHasItsVolumeOffset) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  // Through ParseBlock directly: sector 5 of the block that starts at 40,960.
  std::vector<uint8_t> block(20 * 512, 0);
  Put(block, 5 * 512, "QMSIG");
  auto found = Parse(types.db, block, 40960);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].offset, 20974080u);
  EXPECT_EQ(found[0].flags, FOF_SIGNATURE | FOF_DELETED);
  EXPECT_EQ(found[0].size, SIZE_UNKNOWN);

  // And through a whole scan of three blocks.
  std::vector<uint8_t> bytes(3 * SCAN_BLOCK_BYTES, 0);
  Put(bytes, (40960ull + 5) * 512, "QMSIG");
  Put(bytes, 20479ull * 512, "QMSIG");
  MemoryScan scan(bytes);
  CAnalyser analyser(scan.volume.get());
  scan.Run(analyser, types.db);
  std::set<uint64_t> offsets;
  for (const auto& f : scan.found) offsets.insert(f.offset);
  EXPECT_EQ(offsets, (std::set<uint64_t>{20479ull * 512, 20974080ull}));
}

TEST(ScannerBlocks, UnreadableSectorsAreSkippedAndCountedDone) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(2 * SCAN_BLOCK_BYTES + 4096, 0);
  Put(bytes, 100 * 512, "QMSIG");                     // in the unreadable sectors
  Put(bytes, 200 * 512, "QMSIG");                     // readable, in the same block
  Put(bytes, SCAN_BLOCK_BYTES + 512, "QMSIG");        // in the next block
  MemoryScan scan(bytes);
  scan.device->AddBadRange(96 * 512, 8 * 512);
  CAnalyser analyser(scan.volume.get());
  scan.Run(analyser, types.db);
  std::set<uint64_t> offsets;
  for (const auto& f : scan.found) offsets.insert(f.offset);
  EXPECT_EQ(offsets, (std::set<uint64_t>{200 * 512, uint64_t(SCAN_BLOCK_BYTES) + 512}));
  EXPECT_EQ(analyser.UnreadableSectors.load(), 8u);
  EXPECT_EQ(scan.volume->Position(), 2u * SCAN_BLOCK_SECTORS + 8);
  EXPECT_TRUE(LogHas("Sector scan: 8 unreadable sector(s) from sector 0"));
}

TEST(ScannerMatching, SwitchedOffTypeAndTwoTypesOnOneSector) {
  TestTypes types;
  types.Add(940, "0='AB'");
  types.Add(941, "0='ABC'");
  CFileType& off = types.Add(942, "0='A'");
  CFileSignatureDatabase::SetSearchEnable(off, false);
  std::vector<uint8_t> block(2 * 512, 0);
  Put(block, 0, "ABC");
  Put(block, 512, "AB");
  auto found = Parse(types.db, block, 0);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].type, 940);
  EXPECT_EQ(found[1].type, 941);
  EXPECT_EQ(found[0].offset, 0u);
  EXPECT_EQ(found[1].offset, 0u);
  EXPECT_EQ(found[2].type, 940);
  EXPECT_EQ(found[2].offset, 512u);
}

TEST(ScannerMatching, SectorRulesAndTheTypeSpecificCorrections) {
  TestTypes types;
  types.Add(502, "0='S2'");
  types.Add(503, "0='BM'");
  types.Add(504, "0='S4'");
  types.Add(24, "0='FI'");
  types.Add(25, "0='IN'");
  std::vector<uint8_t> block(8 * 512, 0);
  // A bitmap header whose size (65,590) agrees with its 128 x 128 pixels of
  // 32 bits after 54 bytes of headers.
  Put(block, 0 * 512, "BM");
  block[2] = 0x36; block[3] = 0x00; block[4] = 0x01; block[5] = 0x00;
  block[10] = 54; block[14] = 40; block[18] = 128; block[22] = 128; block[26] = 1; block[28] = 32;
  Put(block, 1 * 512, "S2");
  block[512 + 4] = 0x00; block[512 + 5] = 0x10;                         // 4096 + 2048
  Put(block, 2 * 512, "S4");  // at 40,960 with the block starting at sector 78
  Put(block, 3 * 512, "FILE");
  block[3 * 512 + 22] = 0x03;  // in use, directory
  Put(block, 4 * 512, "FILE");  // flags 0: deleted file
  Put(block, 5 * 512, "FIxx");  // not a file record: dropped
  Put(block, 6 * 512, "INDX");
  auto found = Parse(types.db, block, 78);
  std::map<uint64_t, Found> at;
  for (const auto& f : found) at[f.offset] = f;
  ASSERT_EQ(found.size(), 6u);
  EXPECT_EQ(at.at(78 * 512).size, 65590u);
  EXPECT_EQ(at.at(79 * 512).size, 6144u);
  // 504: the file begins 32 KiB before the matched sector (80 * 512 = 40,960).
  EXPECT_EQ(at.at(40960 - 32768).type, 504);
  EXPECT_EQ(at.at(81 * 512).flags, FOF_MFT_RECORD | FOF_FOLDER);  // 0x0104
  EXPECT_EQ(at.at(81 * 512).id, -1);
  EXPECT_EQ(at.at(82 * 512).flags, FOF_MFT_RECORD | FOF_DELETED);  // 0x0101
  EXPECT_EQ(at.count(83 * 512), 0u);
  EXPECT_EQ(at.at(84 * 512).flags, FOF_MFT_RECORD);
  EXPECT_EQ(at.at(84 * 512).id, -1);

  // A 504 match nearer the volume's start than 32 KiB cannot be such a file.
  std::vector<uint8_t> early(512, 0);
  Put(early, 0, "S4");
  EXPECT_TRUE(Parse(types.db, early, 10).empty());
}

TEST(ScannerMatching, CompoundDocumentIsRefinedThroughTheVolume) {
  TestTypes types;
  types.Add(100, "0=$D0,1=$CF,2=$11,3=$E0");
  std::vector<uint8_t> disk(64 * 512, 0);
  uint8_t* h = disk.data() + 8 * 512;  // the document starts at sector 8
  const uint8_t magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(h, magic, 8);
  h[0x1C] = 0xFE, h[0x1D] = 0xFF;  // byte order
  h[0x1E] = 9;   // 512-byte sectors
  h[0x2C] = 1;   // one FAT sector
  h[0x30] = 2;   // directory in document sector 2: byte 8*512 + 3*512
  std::memset(h + 0x4C, 0xFF, 109 * 4);
  h[0x4C] = 1, h[0x4D] = h[0x4E] = h[0x4F] = 0;  // the FAT in document sector 1
  // The FAT: sectors 0-4 in use, the rest free.
  std::memset(disk.data() + 10 * 512, 0xFF, 512);
  for (int i = 0; i < 5; ++i) disk[10 * 512 + 4 * i] = 0xFE;
  auto name = [&](size_t entry, const std::u16string& n) {
    uint8_t* e = disk.data() + 11 * 512 + entry * 128;
    for (size_t i = 0; i < n.size(); ++i) {
      e[2 * i] = static_cast<uint8_t>(n[i]);
      e[2 * i + 1] = static_cast<uint8_t>(n[i] >> 8);
    }
  };
  name(0, u"Root Entry");
  name(1, u"\x05SummaryInformation");
  name(2, u"PowerPoint Document");
  std::vector<uint8_t> block(disk.begin() + 8 * 512, disk.begin() + 9 * 512);
  auto read = [&](void* buffer, uint64_t first, uint32_t count) -> uint32_t {
    if (first >= 64) return 0;
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, 64 - first));
    std::memcpy(buffer, disk.data() + first * 512, n * 512);
    return n * 512;
  };
  auto found = Parse(types.db, block, 8, read);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].type, 105);
  EXPECT_EQ(found[0].size, 6u * 512);  // the header and its five sectors
}

TEST(ScannerMatching, EndFindersSizeDropCutAndNameTheirTypes) {
  TestTypes types;
  types.Add(33, "0=$89,1='PNG'", "png");
  std::vector<uint8_t> block(16 * 512);
  std::mt19937 random(3);
  for (auto& b : block) b = static_cast<uint8_t>(random());
  // A whole PNG at sector 0: signature, IHDR, IEND.
  const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  auto put = [&](size_t at, const uint8_t* bytes, size_t n) { std::memcpy(block.data() + at, bytes, n); };
  // The CRC of the chunk at `at` with `length` bytes of data.
  auto crc = [&](size_t at, uint32_t length) {
    const uint32_t c = static_cast<uint32_t>(crc32(0, block.data() + at + 4, 4 + length));
    for (int i = 0; i < 4; ++i) block[at + 8 + length + i] = static_cast<uint8_t>(c >> (24 - 8 * i));
  };
  put(0, png, sizeof png);
  crc(8, 13);
  const uint8_t iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D'};
  put(8 + 25, iend, sizeof iend);
  crc(33, 0);
  // At sector 2 one whose IDAT runs into a sector of other bytes: cut.
  put(1024, png, sizeof png);
  crc(1024 + 8, 13);
  const uint8_t idat[] = {0, 0, 2, 0, 'I', 'D', 'A', 'T'};  // 512 bytes of data
  put(1024 + 33, idat, sizeof idat);
  // At sector 5 one whose first chunk is no header: no PNG.
  put(5 * 512, png, 8);
  std::vector<std::unique_ptr<CFoundObject>> found;
  ScanContext ctx;
  ctx.Database = &types.db;
  ctx.VolumeBytes = block.size();
  ctx.Accept = [&](std::unique_ptr<CFoundObject> o) { found.push_back(std::move(o)); };
  ParseBlock(block.data(), 0, 16, ctx);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->Size, 45u);
  EXPECT_FALSE(found[0]->Flags & FOF_CUT);
  EXPECT_EQ(found[1]->StartOffset, 1024u);
  EXPECT_EQ(found[1]->Size, 512u);  // up to the sector its structure broke in
  EXPECT_TRUE(found[1]->Flags & FOF_CUT);
}

TEST(ScannerStops, StopDuringABlockEndsTheScan) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(8 * SCAN_BLOCK_BYTES, 0);
  for (uint64_t s = 0; s < 8ull * SCAN_BLOCK_SECTORS; s += 1000) Put(bytes, s * 512, "QMSIG");
  MemoryScan scan(bytes);
  CAnalyser analyser(scan.volume.get());
  // The stop arrives as the second block's finds are handed over: the
  // blocks come back in order, so the first is whole by then.
  scan.onFound = [](uint64_t offset) {
    if (offset >= SCAN_BLOCK_BYTES) theApp().AnalysisRunning = 0;
  };
  scan.Run(analyser, types.db);
  size_t inFirstBlock = 0;
  for (const auto& f : scan.found) inFirstBlock += f.offset < SCAN_BLOCK_BYTES;
  EXPECT_EQ(inFirstBlock, 21u);  // every 1000th sector of the first block
  // The parsers run a few blocks ahead at most: the rest is not read.
  EXPECT_LT(scan.ReadOffsets().size(), 8u);
  EXPECT_LT(scan.found.size(), 8u * SCAN_BLOCK_SECTORS / 1000);
  EXPECT_EQ(scan.volume->State.load(), StateReady);
  EXPECT_EQ(theApp().AnalysisRunning.load(), 0u);
}

TEST(ScannerStops, StopBeforeTheCycleStartsScansNothing) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(SCAN_BLOCK_BYTES, 0);
  Put(bytes, 0, "QMSIG");
  MemoryScan scan(bytes);
  CAnalyser analyser(scan.volume.get());
  analyser.Database = &types.db;
  analyser.Sink = [&](std::unique_ptr<CFoundObject>) { ADD_FAILURE() << "nothing may be found after a stop"; };
  analyser.Stop();
  analyser.ScanVolume();
  EXPECT_TRUE(scan.device->Reads().empty());
}

// One block slow to match (within its time-out): the other parser goes on
// with the blocks after it, and what they find still arrives in block order,
// none of it lost or doubled.
TEST(ScannerBlocks, ASlowBlockHoldsNothingBackAndTheOrderStays) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(7 * SCAN_BLOCK_BYTES + 4096, 0);
  std::vector<uint64_t> placed;
  for (uint64_t s = 5; s < bytes.size() / 512; s += 4099) {
    Put(bytes, s * 512, "QMSIG");
    placed.push_back(s * 512);
  }
  MemoryScan scan(bytes);
  CAnalyser analyser(scan.volume.get());
  analyser.ParserTimeoutMs = 120000;
  std::atomic<uint64_t> blocksPassedWhileSlow{0};
  // Blocks after the slow one that the other parser reached while the slow
  // one was held (or just before it got there: the two run side by side).
  std::atomic<uint64_t> laterBlocks{0};
  analyser.BeforeParseBlock = [&](uint64_t first) {
    if (first > SCAN_BLOCK_SECTORS) {
      ++laterBlocks;
    } else if (first == SCAN_BLOCK_SECTORS) {
      // Held until two later blocks are done (at most 30 s on a starved
      // machine), far below this scan's time-out.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (laterBlocks.load() < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      blocksPassedWhileSlow = laterBlocks.load();
    }
  };
  scan.Run(analyser, types.db);
  EXPECT_GE(blocksPassedWhileSlow.load(), 2u);
  std::vector<uint64_t> offsets;
  for (const auto& f : scan.found) offsets.push_back(f.offset);
  EXPECT_EQ(offsets, placed);
  EXPECT_EQ(analyser.ParsersReplaced.load(), 0u);
  EXPECT_EQ(scan.volume->Position(), bytes.size() / 512);
}

TEST(ScannerStops, ParserMissingItsTimeOutIsReplacedAndItsResultsDropped) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(3 * SCAN_BLOCK_BYTES, 0);
  Put(bytes, 10 * 512, "QMSIG");
  Put(bytes, (SCAN_BLOCK_SECTORS + 10ull) * 512, "QMSIG");
  Put(bytes, (2ull * SCAN_BLOCK_SECTORS + 10) * 512, "QMSIG");
  MemoryScan scan(bytes);
  CAnalyser analyser(scan.volume.get());
  analyser.ParserTimeoutMs = 50;
  // The first block's parser stays busy until it has been replaced (at most
  // 30 s), however long the next block takes to read on a slow build.
  analyser.BeforeParseBlock = [&analyser](uint64_t first) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (first == 0 && analyser.ParsersReplaced.load() == 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  scan.Run(analyser, types.db);
  EXPECT_EQ(analyser.ParsersReplaced.load(), 1u);
  EXPECT_TRUE(LogHas("CAnalyser.Analyse_Cycle.ParserWaitTimeout. Kill old and start new parser."));
  std::set<uint64_t> offsets;
  for (const auto& f : scan.found) offsets.insert(f.offset);
  // The first block is not matched again; the old parser's late finds never arrive.
  EXPECT_EQ(offsets, (std::set<uint64_t>{(SCAN_BLOCK_SECTORS + 10ull) * 512, (2ull * SCAN_BLOCK_SECTORS + 10) * 512}));
}

namespace {
std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
bool TypeHasExtension(const CFileType& type, const std::string& ext) {
  std::string list = ";" + Lower(type.FileExtensions) + ";";
  for (auto& c : list)
    if (c == ',') c = ';';
  return list.find(";" + Lower(ext) + ";") != std::string::npos;
}
}  // namespace

// Real files written by real tools, laid at sector boundaries over random
// bytes (one of them at the first sector of the second block), are each found
// at their exact offset with a type of their kind, with every shipped type on.
TEST(ScannerShipped, RealFilesOverRandomBytesAreFoundAtTheirOffsets) {
  if (!qmtest::HaveTool("python3")) GTEST_SKIP() << "python3 is needed for the fixtures";
  std::string dir = qmtest::MakeTempDir("scan-fixtures");
  ASSERT_EQ(qmtest::RunCommand(qmtest::SourcePath("scripts/make-scan-fixtures.sh") + " " + dir + " >/dev/null 2>&1"), 0);
  LoadSignatureDatabase();
  const CFileSignatureDatabase& db = theComputer().Signatures();
  ASSERT_GT(db.Types().size(), 100u);

  std::vector<std::string> names;
  std::string listing;
  qmtest::RunCommand("ls " + dir + "/files", &listing);
  for (size_t p = 0, q; p < listing.size(); p = q + 1) {
    q = listing.find('\n', p);
    if (q == std::string::npos) q = listing.size();
    if (q > p) names.push_back(listing.substr(p, q - p));
  }
  ASSERT_GE(names.size(), 8u);

  std::mt19937 random(20261208);
  std::vector<uint8_t> image(2 * SCAN_BLOCK_BYTES + 4 * 1024 * 1024);
  for (auto& b : image) b = static_cast<uint8_t>(random());
  struct Placed {
    std::string name;
    uint64_t offset;
    size_t bytes;
  };
  std::vector<Placed> placed;
  uint64_t sector = 7;
  for (size_t i = 0; i < names.size(); ++i) {
    auto data = qmtest::ReadFileBytes(dir + "/files/" + names[i]);
    if (i == names.size() / 2) sector = std::max<uint64_t>(sector, SCAN_BLOCK_SECTORS);  // a block's first sector
    // One file runs over the end of the second block: its end is found past it.
    if (i == names.size() / 2 + 1) sector = std::max<uint64_t>(sector, 2 * SCAN_BLOCK_SECTORS - 1);
    ASSERT_LT(sector * 512 + data.size(), image.size());
    std::memcpy(image.data() + sector * 512, data.data(), data.size());
    placed.push_back({names[i], sector * 512, data.size()});
    sector += (data.size() + 511) / 512 + 3;
  }

  MemoryScan scan(image);
  CAnalyser analyser(scan.volume.get());
  scan.Run(analyser, db);

  // The same bytes as an image file, read by several parsers at once on
  // their own handles, give the same objects in the same order: ascending,
  // whichever parser finished first.
  const std::string path = qmtest::WriteTempFile("scan-lanes.dd", image);
  FileScan fromFile(path);
  ASSERT_NE(fromFile.volume->OpenDrive(), false);
  ASSERT_NE(fromFile.volume->OpenParallelReader(), nullptr);
  CAnalyser fileAnalyser(fromFile.volume.get());
  fromFile.Run(fileAnalyser, db);
  EXPECT_TRUE(fromFile.found == scan.found);
  for (size_t i = 1; i < fromFile.found.size(); ++i) EXPECT_LE(fromFile.found[i - 1].offset, fromFile.found[i].offset);

  for (const auto& p : placed) {
    std::string ext = p.name.substr(p.name.rfind('.') + 1);
    bool found = false;
    for (const auto& f : scan.found) {
      if (f.offset != p.offset) continue;
      const CFileType* type = db.FindById(f.type);
      if (!type) continue;
      if (ext == "xls") found |= f.type == 101;
      else if (ext == "doc") found |= f.type == 109;
      else if (ext == "ppt") found |= f.type == 105;
      else found |= TypeHasExtension(*type, ext);
      // Types whose end the structure tells come with the file's own size.
      if (EndFinderFor(f.type)) {
        EXPECT_EQ(f.size, p.bytes) << p.name << " as type " << f.type;
      }
    }
    EXPECT_TRUE(found) << p.name << " at " << p.offset;
  }
}

// An image file shorter than its volume (a cut download, a partial copy):
// the reads past its end on the parsers' own handles come short, are read
// again through the volume, and the scan ends as it does on one reader.
TEST(ScannerBlocks, ImageFileShorterThanItsVolumeScansLikeOneReader) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(5 * SCAN_BLOCK_BYTES / 2, 0);
  for (uint64_t s = 3; s < bytes.size() / 512; s += 1000) Put(bytes, s * 512, "QMSIG");
  const uint64_t volumeBytes = 4ull * SCAN_BLOCK_BYTES;

  MemoryScan one(bytes);
  one.volume->Size = volumeBytes;
  one.volume->TotalSectors = volumeBytes / 512;
  CAnalyser oneAnalyser(one.volume.get());
  one.Run(oneAnalyser, types.db);

  FileScan lanes(qmtest::WriteTempFile("scan-short.dd", bytes), volumeBytes);
  CAnalyser laneAnalyser(lanes.volume.get());
  lanes.Run(laneAnalyser, types.db);

  ASSERT_EQ(one.found.size(), (bytes.size() / 512 - 3 + 999) / 1000);
  EXPECT_TRUE(lanes.found == one.found);
  EXPECT_EQ(lanes.volume->Position(), one.volume->Position());
  EXPECT_EQ(laneAnalyser.UnreadableSectors.load(), oneAnalyser.UnreadableSectors.load());
}

// A volume that starts inside its image file (a partition of a disk image)
// is read on the parsers' own handles from its own start.
TEST(ScannerBlocks, VolumeInsideAnImageFileIsReadFromItsStart) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(3 * SCAN_BLOCK_BYTES, 0);
  for (uint64_t s = 7; s < bytes.size() / 512; s += 3001) Put(bytes, s * 512, "QMSIG");
  MemoryScan plain(bytes);
  CAnalyser plainAnalyser(plain.volume.get());
  plain.Run(plainAnalyser, types.db);

  constexpr uint64_t kStart = 2048 * 512;  // the usual first partition
  std::vector<uint8_t> disk(kStart, 0);
  Put(disk, 512, "QMSIG");  // before the volume: never found
  disk.insert(disk.end(), bytes.begin(), bytes.end());
  FileScan partition(qmtest::WriteTempFile("scan-partition.dd", disk), bytes.size(), kStart);
  ASSERT_TRUE(partition.volume->OpenDrive());
  ASSERT_NE(partition.volume->OpenParallelReader(), nullptr);
  CAnalyser analyser(partition.volume.get());
  partition.Run(analyser, types.db);
  ASSERT_FALSE(plain.found.empty());
  EXPECT_TRUE(partition.found == plain.found);
}

// One bad sector inside a 10 MiB block costs that sector: the files in the
// readable sectors around it are all found, and the scan counts sectors.
TEST(ScannerBadSectors, BadSectorsInsideABlockCostOnlyThemselves) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(12 << 20, 0);
  for (uint64_t s : {10u, 5000u, 20000u, 21000u, 22000u}) Put(bytes, s * 512, "QMSIG");
  MemoryScan scan(bytes);
  scan.device->AddBadRange(4999 * 512, 512);
  scan.device->AddBadRange(20001 * 512, 512);
  scan.device->AddBadRange(21000 * 512, 512);  // this file's first sector is lost
  CAnalyser analyser(scan.volume.get());
  scan.Run(analyser, types.db);
  std::set<uint64_t> offsets;
  for (const auto& f : scan.found) offsets.insert(f.offset);
  EXPECT_EQ(offsets, (std::set<uint64_t>{10 * 512, 5000 * 512, 20000 * 512, 22000 * 512}));
  EXPECT_EQ(analyser.UnreadableSectors.load(), 3u);
}

// A drive that stalls on every read, or vanishes mid-scan, ends the scan
// at once with a log line: no block after it is waited for.
TEST(ScannerBadSectors, StalledOrVanishedDriveEndsTheScan) {
  TestTypes types;
  types.Add(940, "0='QMSIG'");
  std::vector<uint8_t> bytes(30 << 20, 0);
  Put(bytes, 100 * 512, "QMSIG");
  Put(bytes, 25000 * 512, "QMSIG");
  theApp().Settings.RetryCount = 1;
  {
    MemoryScan scan(bytes);
    scan.device->SetEveryReadHangs(true);
    CAnalyser analyser(scan.volume.get());
    scan.Run(analyser, types.db);
    EXPECT_TRUE(scan.found.empty());
    EXPECT_EQ(scan.device->Reads().size(), 1u);
    EXPECT_TRUE(LogHas("the drive does not answer"));
  }
  {
    // Gone for good: the scan waits at the gate for its bounded time only.
    MemoryScan scan(bytes);
    scan.volume->MediumWaitLimitMs = 50;
    scan.device->VanishAfter(1);
    CAnalyser analyser(scan.volume.get());
    scan.Run(analyser, types.db);
    ASSERT_EQ(scan.found.size(), 1u);
    EXPECT_EQ(scan.found[0].offset, 100u * 512);
    EXPECT_EQ(scan.device->Reads().size(), 2u);
    EXPECT_TRUE(LogHas("the medium did not come back within 0 s; reading it ends"));
  }
  theApp().Settings.RetryCount = 3;
}
