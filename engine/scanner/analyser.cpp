#include "engine/scanner/analyser.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

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

// One block's buffer: every read fills the part it hands over (ReadSectors
// zeroes what it cannot read).
using ScanBuffer = LargeBuffer;

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
// The parser: one thread matching the blocks handed to it, one at a time.

class CAnalyser::CAnalyserParser {
public:
  CAnalyserParser(CAnalyser* owner) : owner_(owner) {}

  void Start(std::shared_ptr<CAnalyserParser> self) { thread_ = std::thread([self] { self->Run(); }); }

  // Hands over a block: the buffer stays untouched by the caller until Wait
  // reports the block done.
  void Hand(std::shared_ptr<ScanBuffer> buffer, uint64_t first, uint32_t count) {
    std::lock_guard lock(mutex_);
    buffer_ = std::move(buffer);
    first_ = first;
    count_ = count;
    done_ = false;
    ready_ = true;
    cv_.notify_all();
  }

  // True when the block was finished within the time-out.
  bool Wait(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
  }

  // Tells the thread to leave its loop (after the block at hand).
  void Quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    cv_.notify_all();
  }

  std::thread TakeThread() { return std::move(thread_); }

  std::atomic<bool> Abandoned{false};
  int32_t LastType = 0;

private:
  void Run() {
    LowestPriority();
    for (;;) {
      std::shared_ptr<ScanBuffer> buffer;
      uint64_t first = 0;
      uint32_t count = 0;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return ready_ || quit_; });
        if (quit_) break;
        buffer = buffer_;
        first = first_;
        count = count_;
      }
      if (owner_->BeforeParseBlock) owner_->BeforeParseBlock(first);
      ScanContext ctx;
      ctx.Database = owner_->Database;
      ctx.Volume = owner_->volume_;
      ctx.VolumeBytes = owner_->volume_ ? owner_->volume_->Size : 0;
      CAnalyser* owner = owner_;
      ctx.Read = [owner](void* b, uint64_t f, uint32_t c) {
        const SalvagedRead got = owner->ReadForScan(b, f, c);
        return got.Unreadable >= got.Sectors ? 0u : static_cast<uint32_t>(got.Sectors * 512);
      };
      ctx.Running = [this, owner] { return owner->Running() && !Abandoned.load(); };
      ctx.Accept = [this, owner](std::unique_ptr<CFoundObject> o) { owner->Deliver(*this, std::move(o)); };
      if (buffer && count <= buffer->size() / 512) ParseBlock(buffer->data(), first, count, ctx);
      LastType = ctx.LastType;
      {
        std::lock_guard lock(mutex_);
        ready_ = false;
        done_ = true;
        cv_.notify_all();
      }
    }
    std::lock_guard lock(mutex_);
    ready_ = false;
    done_ = true;
    cv_.notify_all();
  }

  CAnalyser* owner_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ready_ = false;
  bool done_ = true;
  bool quit_ = false;
  std::shared_ptr<ScanBuffer> buffer_;
  uint64_t first_ = 0;
  uint32_t count_ = 0;
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
  if (stop_.load()) return false;
  if (!theApp().AnalysisRunning.load()) return false;
  return true;
}

SalvagedRead CAnalyser::ReadForScan(void* buffer, uint64_t first, uint32_t count) {
  if (!volume_ || count == 0) return {};
  std::lock_guard lock(readMutex_);
  return volume_->ReadSectorsSalvaging(buffer, first, static_cast<uint64_t>(count), [this] { return Running(); });
}

void CAnalyser::Deliver(CAnalyserParser& parser, std::unique_ptr<CFoundObject> object) {
  std::lock_guard lock(acceptMutex_);
  // A parser replaced after its time-out hands nothing more to the catalog.
  if (parser.Abandoned.load()) return;
  if (Sink) {
    Sink(std::move(object));
  } else if (volume_) {
    volume_->AcceptScanObject(std::move(object));
  }
}

std::shared_ptr<CAnalyser::CAnalyserParser> CAnalyser::NewParser() {
  auto parser = std::make_shared<CAnalyserParser>(this);
  parser->Start(parser);
  return parser;
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
  if (!Database) Database = &theComputer().Signatures();

  std::shared_ptr<ScanBuffer> buffers[2] = {std::make_shared<ScanBuffer>(SCAN_BLOCK_BYTES),
                                                      std::make_shared<ScanBuffer>(SCAN_BLOCK_BYTES)};
  std::shared_ptr<CAnalyserParser> parser = NewParser();
  int next = 0;            // the buffer the next block is read into
  bool inFlight = false;   // the other buffer is being matched
  uint64_t doneSoFar = 0;  // sectors read or skipped, over all ranges

  // Waits for the block in flight; a parser that misses its time-out is
  // replaced, its block is not matched again, and its buffer stays with it.
  auto finishInFlight = [&] {
    if (!inFlight) return;
    inFlight = false;
    if (parser->Wait(ParserTimeoutMs)) return;
    theLog().AddInternal("CAnalyser.Analyse_Cycle.ParserWaitTimeout. Kill old and start new parser.");
    {
      std::lock_guard lock(acceptMutex_);
      parser->Abandoned = true;
    }
    parser->Quit();
    abandoned_.push_back(parser->TakeThread());
    buffers[1 - next] = std::make_shared<ScanBuffer>(SCAN_BLOCK_BYTES);
    ++ParsersReplaced;
    parser = NewParser();
  };

  for (const ScanRange& range : Ranges) {
    uint64_t remaining = range.Count;
    uint64_t offset = 0;
    while (remaining != 0 && Running()) {
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(remaining, SCAN_BLOCK_SECTORS));
      const uint64_t first = range.Start + offset;
      // A medium taken out is waited for inside the read, which then reads
      // the block again: the rest of the disk is not reported unreadable.
      SalvagedRead got = ReadForScan(buffers[next]->data(), first, n);
      // Unreadable sectors inside the block hold zeros and cost only
      // themselves; a block of which nothing has a content (the end of the
      // device) is skipped instead of being retried forever.
      bool readable = got.Sectors != 0 && got.Unreadable < got.Sectors;
      if (got.Sectors != 0) n = static_cast<uint32_t>(got.Sectors);
      if (got.Unreadable != 0) {
        UnreadableSectors += got.Unreadable;
        theLog().Error("Sector scan: %I64d unreadable sector(s) from sector %I64d", got.Unreadable, first);
      }
      finishInFlight();
      if (volume_) volume_->Position(doneSoFar);
      if (readable) {
        parser->Hand(buffers[next], first, n);
        inFlight = true;
        next = 1 - next;
      } else {
        theLog().AddError("CAnalyser.Analyse_Cycle.ReadSectors: 0");
      }
      remaining -= n;
      offset += n;
      doneSoFar += n;
      if (!readable && volume_) volume_->Position(doneSoFar);
      if (got.DeviceLost) {
        // A drive that stalls, or a medium that did not come back: the scan
        // ends here instead of waiting out the time-outs of every block left.
        if (Running()) theLog().Error("Sector scan stopped at sector %I64d: the drive does not answer", first);
        stop_ = true;
      }
    }
  }
  finishInFlight();
  if (volume_) volume_->Position(doneSoFar);

  theApp().AnalysisRunning = 0;
  if (volume_) volume_->State = StateReady;
  PostToMainWindow(WM_SCAN_FINISHED, 0);
  if (volume_)
    theLog().Message(GetString(136), volume_->ScanFoldersFound.load(), volume_->ScanFilesFound.load());

  parser->Quit();
  std::thread t = parser->TakeThread();
  if (t.joinable()) t.join();
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
