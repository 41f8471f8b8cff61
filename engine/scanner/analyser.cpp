#include "engine/scanner/analyser.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <tuple>

#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/file_end.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/large_buffer.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"
#include "services/strings.h"

namespace {

void LowestPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19); }

uint64_t Ticks() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void PostToMainWindow(uint32_t message, uintptr_t wParam) {
  if (IMessageTarget* target = theApp().MainWindow.load()) target->PostMessage(message, wParam, 0);
}

constexpr uint32_t kRunningCheckSectors = 64;
constexpr uint32_t kPrefetchSectors = 4;

constexpr int16_t TYPE_NTFS_FILE_RECORD = 24;
constexpr int16_t TYPE_NTFS_RECORD = 25;
// Types below this are volumes and file-system records, not lost files.
constexpr int16_t kFirstLostFileType = 30;

}  // namespace

// ---------------------------------------------------------------------------
// Matching

std::unique_ptr<CFoundObject> NewScanObject(int16_t type, uint64_t offset) {
  std::unique_ptr<CFoundObject> object(new (std::nothrow) CFoundObject());
  if (!object) {
    theLog().AddError("CAnalyser.ParseBlock: Can't allocate memory");
    return nullptr;
  }
  object->StartOffset = offset;
  object->FileType = type;
  object->Size = SIZE_UNKNOWN;
  object->Flags |= FOF_SIGNATURE | FOF_DELETED;
  return object;
}

uint32_t ParseBlock(const uint8_t* block, uint64_t firstSector, uint32_t sectors, ScanContext& ctx) {
  if (!ctx.Database || !ctx.Accept) return 0;
  auto running = [&ctx] { return !ctx.Running || ctx.Running(); };
  uint32_t handed = 0;
  std::vector<const CFileType*> matches;
  if (!running()) return 0;
  // The end finders read the block itself, and the volume past it.
  CScanBytes bytes(block, firstSector * 512, static_cast<size_t>(sectors) * 512, ctx.Read, ctx.VolumeBytes);
  try {
    for (uint32_t i = 0; i < sectors; ++i) {
      // A stop is seen within 32 KiB of matching; asking on every sector
      // costs as much as matching it.
      if (i % kRunningCheckSectors == 0 && !running()) return handed;
      const uint8_t* p = block + static_cast<size_t>(i) * 512;
      // The block was just written by the reading thread and is not in this
      // core's cache: ask for a sector a few ahead, so the matcher's scattered
      // byte tests do not each wait for memory.
      if (i + kPrefetchSectors < sectors)
        for (size_t line = 0; line < 512; line += 64) __builtin_prefetch(p + kPrefetchSectors * 512 + line);
      matches.clear();
      ctx.Database->MatchSector(p, matches);
      for (const CFileType* type : matches) {
        if (!running()) return handed;
        auto object = NewScanObject(static_cast<int16_t>(type->Id), (firstSector + i) * 512);
        if (!object) continue;

        if (object->FileType == TYPE_COMPOUND_DOCUMENT)
          object->FileType = AnalyseCompoundDocument(*object, p, ctx.Read, ctx.VolumeBytes);
        if (!ApplySectorRules(*object, p)) continue;
        if (object->FileType >= kFirstLostFileType && !ApplyFileEnd(*object, bytes, *ctx.Database)) continue;
        if (object->FileType == TYPE_NTFS_FILE_RECORD) {
          if (std::memcmp(p, "FILE", 4) != 0) continue;
          object->ObjectID = -1;
          object->Flags = FOF_MFT_RECORD;
          uint16_t recordFlags = static_cast<uint16_t>(p[22] | (p[23] << 8));
          if (!(recordFlags & 0x0001)) object->Flags |= FOF_DELETED;
          if (recordFlags & 0x0002) object->Flags |= FOF_FOLDER;
        } else if (object->FileType == TYPE_NTFS_RECORD) {
          object->ObjectID = -1;
          object->Flags = FOF_MFT_RECORD;
        }

        ctx.LastType = object->FileType;
        object->Volume = ctx.Volume;
        ctx.Accept(std::move(object));
        ++handed;
      }
    }
  } catch (...) {
    // A fault while a type is tested or an object is built ends this block.
  }
  return handed;
}

// ---------------------------------------------------------------------------
// The parsers: each takes the next block of the scan, reads it into its own
// buffer and matches it, then takes the next, while the scan thread takes
// the finished blocks back in order. With two or more of them one reads
// while another matches; on an image file, whose reads are copies from the
// page cache, they also read at the same time.

class CAnalyser::CAnalyserParser {
public:
  CAnalyserParser(CAnalyser* owner, std::shared_ptr<IDevice> reader)
      : owner_(owner), reader_(std::move(reader)), buffer_(SCAN_BLOCK_BYTES) {}

  void Start(std::shared_ptr<CAnalyserParser> self) { thread_ = std::thread([self] { self->Run(); }); }
  std::thread TakeThread() { return std::move(thread_); }

  // Set when the parser missed its time-out: it takes no further block,
  // and what it finds goes nowhere.
  std::atomic<bool> Abandoned{false};

private:
  void Run() {
    LowestPriority();
    BlockJob job;
    while (owner_->TakeBlock(*this, job)) {
      BlockOutcome outcome;
      outcome.First = job.First;
      outcome.Count = job.Count;
      try {
        Process(job.Sequence, outcome);
      } catch (...) {
        theLog().AddInternal("CAnalyser.Parser.except");
      }
      owner_->PutBlock(*this, job.Sequence, std::move(outcome));
    }
  }

  void Process(uint64_t sequence, BlockOutcome& block) {
    if (block.Count > buffer_.size() / 512) return;
    block.Read = owner_->ReadBlock(reader_.get(), sequence, buffer_.data(), block.First, block.Count, block.Got);
    owner_->BlockRead(sequence);
    if (!block.Read || block.Got.Sectors == 0 || block.Got.Unreadable >= block.Got.Sectors) return;
    if (owner_->BeforeParseBlock) owner_->BeforeParseBlock(block.First);
    ScanContext ctx;
    ctx.Database = owner_->Database;
    ctx.Volume = owner_->volume_;
    ctx.VolumeBytes = owner_->volume_ ? owner_->volume_->Size : 0;
    CAnalyser* owner = owner_;
    IDevice* reader = reader_.get();
    ctx.Read = [owner, reader](void* b, uint64_t f, uint32_t c) { return owner->ReadFar(reader, b, f, c); };
    ctx.Running = [this, owner] { return owner->Running() && !Abandoned.load(); };
    ctx.Accept = [&block](std::unique_ptr<CFoundObject> o) { block.Found.push_back(std::move(o)); };
    ParseBlock(buffer_.data(), block.First, static_cast<uint32_t>(block.Got.Sectors), ctx);
  }

  CAnalyser* owner_;
  // This parser's own handle on an image file, or null (reads go through
  // the volume, one at a time and in block order).
  std::shared_ptr<IDevice> reader_;
  LargeBuffer buffer_;
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// The analyser

CAnalyser::CAnalyser(CVolume* volume) : volume_(volume) {}
CAnalyser::CAnalyser() = default;

CAnalyser::~CAnalyser() {
  stop_ = true;
  if (scanThread_.joinable()) scanThread_.join();
  for (auto& t : abandoned_)
    if (t.joinable()) t.join();
}

bool CAnalyser::Running() const {
  if (stop_.load() || deviceLost_.load()) return false;
  if (!theApp().AnalysisRunning.load()) return false;
  return true;
}

SalvagedRead CAnalyser::ReadForScan(void* buffer, uint64_t first, uint32_t count) {
  if (!volume_ || count == 0) return {};
  std::lock_guard lock(readMutex_);
  return volume_->ReadSectorsSalvaging(buffer, first, static_cast<uint64_t>(count), [this] { return Running(); });
}

bool CAnalyser::ReadBlock(IDevice* reader, uint64_t sequence, void* buffer, uint64_t first, uint32_t count,
                          SalvagedRead& got) {
  if (reader) {
    // An image file, read on the parser's own handle: no turn to wait for.
    // A read that does not come whole is read again the careful way.
    if (!Running()) return false;
    if (volume_->ReadSectorsThrough(*reader, buffer, first, count)) {
      got = SalvagedRead{count, 0, false};
      return true;
    }
    got = ReadForScan(buffer, first, count);
    if (got.DeviceLost) deviceLost_ = true;
    return true;
  }
  // Through the volume: one block at a time and in block order, so that a
  // disk is read from start to end and a failing one is met in order.
  std::unique_lock lock(turnMutex_);
  turnCv_.wait(lock, [&] { return readTurn_ >= sequence || !Running(); });
  const bool read = readTurn_ == sequence && Running();
  if (read) {
    lock.unlock();
    got = ReadForScan(buffer, first, count);
    // A drive that stalls or did not come back ends the scan before the
    // next block is read.
    if (got.DeviceLost) deviceLost_ = true;
    lock.lock();
  }
  readTurn_ = std::max(readTurn_, sequence + 1);
  turnCv_.notify_all();
  return read;
}

uint32_t CAnalyser::ReadFar(IDevice* reader, void* buffer, uint64_t first, uint32_t count) {
  if (reader && volume_ && volume_->ReadSectorsThrough(*reader, buffer, first, count)) return count * 512;
  const SalvagedRead got = ReadForScan(buffer, first, count);
  return got.Unreadable >= got.Sectors ? 0u : static_cast<uint32_t>(got.Sectors * 512);
}

void CAnalyser::Deliver(std::unique_ptr<CFoundObject> object) {
  if (Sink) {
    Sink(std::move(object));
  } else if (volume_) {
    volume_->AcceptScanObject(std::move(object));
  }
}

std::shared_ptr<CAnalyser::CAnalyserParser> CAnalyser::NewParser(bool ownReader,
                                                                 std::shared_ptr<IDevice> reader) {
  if (ownReader && !reader && volume_) reader = volume_->OpenParallelReader();
  auto parser = std::make_shared<CAnalyserParser>(this, std::move(reader));
  parser->Start(parser);
  return parser;
}

bool CAnalyser::TakeBlock(CAnalyserParser& parser, BlockJob& job) {
  std::unique_lock lock(queueMutex_);
  // The parsers run at most a few blocks ahead of the scan thread, so that
  // finished blocks do not pile up while one block is slow.
  queueCv_.wait(lock, [&] {
    return parser.Abandoned.load() || !Running() || nextRange_ >= Ranges.size() ||
           handed_ < collected_ + 2 * parserCount_;
  });
  if (parser.Abandoned.load() || !Running() || nextRange_ >= Ranges.size()) return false;
  const ScanRange& range = Ranges[nextRange_];
  job.Sequence = handed_++;
  job.First = range.Start + rangeDone_;
  job.Count = static_cast<uint32_t>(std::min<uint64_t>(range.Count - rangeDone_, SCAN_BLOCK_SECTORS));
  rangeDone_ += job.Count;
  while (nextRange_ < Ranges.size() && rangeDone_ >= Ranges[nextRange_].Count) {
    ++nextRange_;
    rangeDone_ = 0;
  }
  working_[job.Sequence] = {&parser, job.Count};
  return true;
}

void CAnalyser::BlockRead(uint64_t sequence) {
  std::lock_guard lock(queueMutex_);
  read_.insert(sequence);
  queueCv_.notify_all();
}

void CAnalyser::PutBlock(CAnalyserParser& parser, uint64_t sequence, BlockOutcome outcome) {
  std::lock_guard lock(queueMutex_);
  if (parser.Abandoned.load()) return;
  working_.erase(sequence);
  read_.insert(sequence);
  finished_.emplace(sequence, std::move(outcome));
  queueCv_.notify_all();
}

uint32_t CAnalyser::ScanVolume() {
  if (!volume_) return 0;
  volume_->ScanFilesFound = 0;
  volume_->ScanFoldersFound = 0;
  volume_->State = StateScanningSectors;
  theComputer().SetCurrentVolume(volume_);
  theLog().AddMessage(GetString(57313));
  uint64_t start = Ticks();
  volume_->Catalog().ReIndex();
  Analyse_Start();
  uint64_t elapsed = Ticks() - start;
  volume_->State = StateReady;
  PostToMainWindow(WM_SCAN_FINISHED, 0);
  theLog().Message(GetString(136), volume_->ScanFoldersFound.load(), volume_->ScanFilesFound.load());
  theLog().Message(GetString(135), elapsed / 60000, (elapsed / 1000) % 60);
  volume_->Close();
  return 0;
}

uint32_t CAnalyser::Analyse_Start() {
  if (!volume_) return 0;
  if (volume_->Size == 0) {
    theLog().AddError("Volume size: 0");
    return 0;
  }
  // Each run scans the volume once: the range list starts afresh (the whole
  // volume, or its free clusters only).
  Ranges.clear();
  for (const auto& [first, count] : volume_->SectorScanAreas()) Ranges.push_back(ScanRange{first, count});
  if (!volume_->OpenDrive()) return 0;
  if (scanThread_.joinable()) scanThread_.join();
  {
    std::lock_guard lock(doneMutex_);
    done_ = false;
  }
  scanThread_ = std::thread([this] { Thread_start(); });
  waitTimeoutMs_ = ANALYSE_START_TIMEOUT_MS;
  bool finished;
  {
    std::unique_lock lock(doneMutex_);
    finished = doneCv_.wait_for(lock, std::chrono::milliseconds(waitTimeoutMs_), [this] { return done_; });
  }
  if (!finished) {
    // The scan ends at its next test; the wait below is then short.
    stop_ = true;
    theLog().AddError("Wait Analyse_Start timeout");
  }
  scanThread_.join();
  volume_->Close();
  return 0;
}

void CAnalyser::Thread_start() {
  LowestPriority();
  try {
    Analyse_Cycle();
  } catch (...) {
    theLog().AddError("CAnalyser::Thread_start.except");
  }
  theLog().AddDebug("CAnalyser::Thread_start: END");
  std::lock_guard lock(doneMutex_);
  done_ = true;
  doneCv_.notify_all();
}

void CAnalyser::Analyse_Cycle() {
  // A stop that came before the cycle started stays a stop.
  if (!stop_.load()) theApp().AnalysisRunning = 1;
  UnreadableSectors = 0;
  deviceLost_ = false;
  if (!Database) Database = &theComputer().Signatures();
  {
    std::lock_guard lock(turnMutex_);
    readTurn_ = 0;
  }

  // Two parsers take turns on a disk; an image file that can be read on
  // several handles gets one parser per processor (up to four), each
  // reading too.
  std::shared_ptr<IDevice> firstReader = volume_ ? volume_->OpenParallelReader() : nullptr;
  const bool parallel = firstReader != nullptr;
  std::vector<std::shared_ptr<CAnalyserParser>> parsers;
  {
    std::lock_guard lock(queueMutex_);
    parserCount_ = parallel ? std::clamp<size_t>(std::thread::hardware_concurrency(), 2, 4) : 2;
    handed_ = collected_ = 0;
    nextRange_ = 0;
    rangeDone_ = 0;
    while (nextRange_ < Ranges.size() && Ranges[nextRange_].Count == 0) ++nextRange_;
    working_.clear();
    read_.clear();
    finished_.clear();
  }
  uint64_t doneSoFar = 0;  // sectors read or skipped, over all ranges
  // Takes the blocks back in order until every block handed out is back.
  auto collect = [&] {
    for (;;) {
      std::unique_lock lock(queueMutex_);
      // The next block in order: wait until it has been read (a read has its
      // own time-outs and gives up with the medium), then give its parser the
      // time-out to finish it.
      queueCv_.wait(lock, [&] {
        return read_.count(collected_) != 0 ||
               (collected_ == handed_ && (nextRange_ >= Ranges.size() || !Running()));
      });
      if (read_.count(collected_) == 0) break;  // every block handed out is back
      const uint64_t sequence = collected_;
      const bool finished = queueCv_.wait_for(lock, std::chrono::milliseconds(ParserTimeoutMs),
                                              [&] { return finished_.count(sequence) != 0; });
      if (!finished) {
        // The parser is replaced; its block is not matched again, and what it
        // finds later goes nowhere.
        theLog().AddInternal("CAnalyser.Analyse_Cycle.ParserWaitTimeout. Kill old and start new parser.");
        CAnalyserParser* late = nullptr;
        uint32_t count = 0;
        if (auto at = working_.find(sequence); at != working_.end()) {
          std::tie(late, count) = at->second;
          late->Abandoned = true;
          working_.erase(at);
        }
        read_.erase(sequence);
        ++collected_;
        queueCv_.notify_all();
        lock.unlock();
        for (auto& parser : parsers) {
          if (!late || parser.get() != late) continue;
          abandoned_.push_back(parser->TakeThread());
          ++ParsersReplaced;
          parser = NewParser(parallel);
        }
        doneSoFar += count;
        if (volume_) volume_->Position(doneSoFar);
        continue;
      }
      BlockOutcome block = std::move(finished_.at(sequence));
      finished_.erase(sequence);
      read_.erase(sequence);
      lock.unlock();

      if (block.Read) {
        const SalvagedRead& got = block.Got;
        if (got.Unreadable != 0) {
          UnreadableSectors += got.Unreadable;
          theLog().Error("Sector scan: %I64d unreadable sector(s) from sector %I64d", got.Unreadable, block.First);
        }
        // Unreadable sectors inside the block hold zeros and cost only
        // themselves; a block of which nothing has a content (the end of the
        // device) is skipped instead of being retried forever.
        if (got.Sectors == 0 || got.Unreadable >= got.Sectors)
          theLog().AddError("CAnalyser.Analyse_Cycle.ReadSectors: 0");
        for (auto& object : block.Found) Deliver(std::move(object));
        doneSoFar += block.Count;
        if (volume_) volume_->Position(doneSoFar);
        if (got.DeviceLost) {
          // A drive that stalls, or a medium that did not come back: the scan
          // ends here instead of waiting out the time-outs of every block left.
          if (!stop_.load() && theApp().AnalysisRunning.load())
            theLog().Error("Sector scan stopped at sector %I64d: the drive does not answer", block.First);
          stop_ = true;
        }
      }
      std::lock_guard relock(queueMutex_);
      ++collected_;
      queueCv_.notify_all();
    }
  };
  try {
    parsers.push_back(NewParser(parallel, std::move(firstReader)));
    while (parsers.size() < parserCount_) parsers.push_back(NewParser(parallel));
    collect();
  } catch (...) {
    // The scan ends; the parsers finish the blocks they hold and leave.
    theLog().AddInternal("CAnalyser.Analyse_Cycle.except");
    stop_ = true;
  }
  if (volume_) volume_->Position(doneSoFar);

  theApp().AnalysisRunning = 0;
  if (volume_) volume_->State = StateReady;
  PostToMainWindow(WM_SCAN_FINISHED, 0);
  if (volume_)
    theLog().Message(GetString(136), volume_->ScanFoldersFound.load(), volume_->ScanFilesFound.load());

  {
    // Parsers still waiting for a block see that none is left.
    std::lock_guard lock(queueMutex_);
    nextRange_ = Ranges.size();
    queueCv_.notify_all();
  }
  for (auto& parser : parsers) {
    std::thread t = parser->TakeThread();
    if (t.joinable()) t.join();
  }
  for (auto& old : abandoned_)
    if (old.joinable()) old.join();
  abandoned_.clear();
}

uint32_t CAnalyser::Stop() {
  // No pause here: nothing is terminated, and whoever needs the scan to have
  // ended waits for its thread (StopAnalysis, EndAnalysisThread). A fixed
  // pause only made every analysis 100 ms longer, since the driver stops the
  // analyser at the end of each one.
  stop_ = true;
  if (volume_) volume_->State = StateReady;
  return 1;
}
