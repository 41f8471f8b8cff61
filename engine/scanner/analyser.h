// The sector analyser of one volume: reads the volume in blocks of up to
// 20,480 sectors and tests every 512-byte sector against the enabled types of
// the signature database. Each match becomes a lost-file object that the
// volume routes (AcceptScanObject).
//
// Threads: the caller of ScanVolume (the volume's analysis thread) waits; the
// scan thread hands the blocks out in order, takes each back in order and
// hands on what was found in it, so the result does not depend on timing;
// parser threads (two, or one per processor on an image file) each read a
// block into their own buffer and match it. A disk is read through the
// volume one block at a time, in order, while another parser matches; an
// image file, whose reads are copies from the page cache, is also read on
// several handles at once. Stops are cooperative: every loop tests
// theApp().AnalysisRunning and the analyser's stop request, and every read has
// its own time-out, so no thread is ever killed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/catalog/found_object.h"
#include "engine/scanner/compound_document.h"
#include "engine/volume/salvaged_read.h"

class CVolume;
class IDevice;
class CFileSignatureDatabase;

struct ScanRange {
  uint64_t Start = 0;  // first sector
  uint64_t Count = 0;  // sectors
};

constexpr uint32_t SCAN_BLOCK_SECTORS = 20480;
constexpr uint32_t SCAN_BLOCK_BYTES = SCAN_BLOCK_SECTORS * 512;  // 10 MiB
constexpr uint32_t PARSER_TIMEOUT_MS = 10000;
constexpr uint32_t ANALYSE_START_TIMEOUT_MS = 180000000;  // 50 hours

// What matching a block needs from its surroundings. It runs with no thread
// and no volume behind it in tests.
struct ScanContext {
  const CFileSignatureDatabase* Database = nullptr;
  // Reads for the compound-document analysis (may be empty).
  SectorReader Read;
  uint64_t VolumeBytes = 0;
  // Takes each object made.
  std::function<void(std::unique_ptr<CFoundObject>)> Accept;
  // Tested every 64 sectors and before every matched type; false ends the
  // block.
  std::function<bool()> Running;
  // Put into every object's Volume.
  CVolume* Volume = nullptr;
  // FileType of the last object handed over (informative).
  int32_t LastType = 0;
};

// A zero-filled lost-file object of a type at a byte offset: Size unknown,
// Flags FOF_SIGNATURE + FOF_DELETED.
std::unique_ptr<CFoundObject> NewScanObject(int16_t type, uint64_t offset);

// Matches the `sectors` sectors of `block`, whose first sector is sector
// `firstSector` of the volume: every enabled type that matches a sector gives
// its own object, corrected by type (compound documents, 502/503/504, NTFS
// file records 24/25) and handed to ctx.Accept. Returns the objects handed over.
uint32_t ParseBlock(const uint8_t* block, uint64_t firstSector, uint32_t sectors, ScanContext& ctx);

class CAnalyser {
public:
  explicit CAnalyser(CVolume* volume);
  CAnalyser();
  virtual ~CAnalyser();
  CAnalyser(const CAnalyser&) = delete;
  CAnalyser& operator=(const CAnalyser&) = delete;

  // The whole sector analysis of the volume, with its log lines; returns 0.
  uint32_t ScanVolume();
  // Checks the size, sets up the range, opens the volume, runs the scan
  // thread and waits for it; returns 0.
  uint32_t Analyse_Start();
  // Asks a running scan to end (cooperatively) and marks the volume Ready;
  // returns 1. The request holds until ResetStop, so a stop that comes
  // before the scan has started still ends it at once.
  uint32_t Stop();
  // Called when a new analysis of the volume is started.
  void ResetStop() { stop_ = false; }
  bool StopRequested() const { return stop_.load(); }

  // The sectors to scan, in order (Analyse_Start sets one range: the volume).
  std::vector<ScanRange> Ranges;
  // Parser time-out per block (milliseconds), from the end of the block's
  // read (a read has time-outs of its own).
  uint32_t ParserTimeoutMs = PARSER_TIMEOUT_MS;
  // The database to match against; null: theComputer().Signatures().
  const CFileSignatureDatabase* Database = nullptr;
  // Where objects go, on the scan thread and in the order of the volume;
  // empty: the volume's AcceptScanObject.
  std::function<void(std::unique_ptr<CFoundObject>)> Sink;
  // Called on the parser thread before each block is matched (tests slow a
  // parser down with it).
  std::function<void(uint64_t firstSector)> BeforeParseBlock;
  // Number of parsers replaced after missing their time-out.
  std::atomic<uint32_t> ParsersReplaced{0};
  // Sectors of the last scan that could not be read (a failed block is read
  // again piece by piece, so only the failing sectors count).
  std::atomic<uint64_t> UnreadableSectors{0};

  class CAnalyserParser;

private:
  // One block of the scan as a parser takes it.
  struct BlockJob {
    uint64_t Sequence = 0;  // its place in the scan, from 0
    uint64_t First = 0;
    uint32_t Count = 0;
  };
  // What became of a block.
  struct BlockOutcome {
    uint64_t First = 0;
    uint32_t Count = 0;  // sectors asked for
    bool Read = false;   // false: not read (the scan stopped first)
    SalvagedRead Got;
    std::vector<std::unique_ptr<CFoundObject>> Found;  // in sector order
  };
  // For a parser: the next block, false when there is none (the end, a
  // stop, or the parser was replaced).
  bool TakeBlock(CAnalyserParser& parser, BlockJob& job);
  // For a parser: the block has been read; its time-out runs from here.
  void BlockRead(uint64_t sequence);
  // For a parser: the block is done.
  void PutBlock(CAnalyserParser& parser, uint64_t sequence, BlockOutcome outcome);

  void Thread_start();
  void Analyse_Cycle();
  bool Running() const;
  // The volume's salvaging read, one caller at a time.
  SalvagedRead ReadForScan(void* buffer, uint64_t first, uint32_t count);
  // Reads the block `sequence` of the scan for a parser: on the parser's
  // own handle when it has one, else through the volume in block order.
  // False when the scan stopped before the block was read.
  bool ReadBlock(IDevice* reader, uint64_t sequence, void* buffer, uint64_t first, uint32_t count,
                 SalvagedRead& got);
  // The end finders' reads past a block; bytes read, 0 on failure.
  uint32_t ReadFar(IDevice* reader, void* buffer, uint64_t first, uint32_t count);
  // Hands an object to the sink or the volume (on the scan thread, in
  // block order).
  void Deliver(std::unique_ptr<CFoundObject> object);
  // A parser with its thread; with `ownReader`, on its own handle (`reader`,
  // or a new one).
  std::shared_ptr<CAnalyserParser> NewParser(bool ownReader, std::shared_ptr<IDevice> reader = nullptr);

  CVolume* volume_ = nullptr;
  uint32_t reserved_ = 0;
  uint32_t waitTimeoutMs_ = 1000;
  std::atomic<bool> stop_{false};
  // Set by a parser whose read found the drive stalled or gone.
  std::atomic<bool> deviceLost_{false};

  // The done event: set by the scan thread as its last step.
  std::mutex doneMutex_;
  std::condition_variable doneCv_;
  bool done_ = false;
  std::thread scanThread_;

  // Serialises the scan's reads through the volume's device handle.
  std::mutex readMutex_;
  // The block whose turn it is to be read through the volume.
  std::mutex turnMutex_;
  std::condition_variable turnCv_;
  uint64_t readTurn_ = 0;
  // The blocks between the parsers and the scan thread.
  std::mutex queueMutex_;
  std::condition_variable queueCv_;
  size_t parserCount_ = 2;
  size_t nextRange_ = 0;      // the range the next block comes from
  uint64_t rangeDone_ = 0;    // sectors of that range handed out
  uint64_t handed_ = 0;       // blocks handed to parsers
  uint64_t collected_ = 0;    // blocks taken back, in order
  std::map<uint64_t, std::pair<CAnalyserParser*, uint32_t>> working_;  // block -> parser, sectors
  std::set<uint64_t> read_;                                            // blocks read
  std::map<uint64_t, BlockOutcome> finished_;                          // blocks done, not taken back
  // Threads of replaced parsers, joined at the end of the cycle.
  std::vector<std::thread> abandoned_;
};
