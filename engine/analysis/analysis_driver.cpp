// The analysis of one volume from start to end on its worker thread: the
// full analysis (Analyse_Do), the sector-scan phase, the single-phase
// threads, and the routing of what the sector scan finds.
#include "engine/analysis/analysis_driver.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/partition/boot_search.h"
#include "engine/scanner/analyser.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"
#include "services/strings.h"

namespace {

uint64_t Ticks() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void Post(uint32_t message, uintptr_t wParam) {
  if (IMessageTarget* target = theApp().MainWindow.load()) target->PostMessage(message, wParam, 0);
}

void LowestPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19); }

// The analysis threads of the volumes, by volume. The registry lives until
// the end of the process; at exit it asks every analysis to end and joins.
class CAnalysisThreads {
public:
  ~CAnalysisThreads() {
    theApp().AnalysisRunning = 0;
    std::map<const CVolume*, std::shared_ptr<Slot>> slots;
    {
      std::lock_guard lock(mutex_);
      slots.swap(slots_);
    }
    for (auto& [volume, slot] : slots)
      if (slot->thread.joinable() && slot->thread.get_id() != std::this_thread::get_id()) slot->thread.join();
  }

  bool Start(CVolume* volume, std::function<void()> body) {
    std::lock_guard lock(mutex_);
    auto& slot = slots_[volume];
    if (slot && slot->live.load()) return false;
    if (slot && slot->thread.joinable()) {
      // The previous thread has finished its work; it ends at once.
      if (slot->thread.get_id() == std::this_thread::get_id())
        slot->thread.detach();
      else
        slot->thread.join();
    }
    slot = std::make_shared<Slot>();
    slot->live = true;
    std::shared_ptr<Slot> s = slot;
    slot->thread = std::thread([s, body = std::move(body)] {
      LowestPriority();
      body();
      std::lock_guard l(s->mutex);
      s->live = false;
      s->cv.notify_all();
    });
    return true;
  }

  bool IsLive(const CVolume* volume) {
    auto slot = Find(volume);
    return slot && slot->live.load();
  }

  bool IsCurrent(const CVolume* volume) {
    auto slot = Find(volume);
    return slot && slot->thread.get_id() == std::this_thread::get_id();
  }

  bool Wait(const CVolume* volume, uint32_t timeoutMs) {
    auto slot = Find(volume);
    if (!slot) return true;
    if (slot->thread.get_id() == std::this_thread::get_id()) return false;
    {
      std::unique_lock l(slot->mutex);
      if (!slot->cv.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return !slot->live.load(); }))
        return false;
    }
    std::lock_guard lock(mutex_);
    if (slot->thread.joinable()) slot->thread.join();
    return true;
  }

private:
  struct Slot {
    std::thread thread;
    std::atomic<bool> live{false};
    std::mutex mutex;
    std::condition_variable cv;
  };
  std::shared_ptr<Slot> Find(const CVolume* volume) {
    std::lock_guard lock(mutex_);
    auto it = slots_.find(volume);
    return it == slots_.end() ? nullptr : it->second;
  }

  std::mutex mutex_;
  std::map<const CVolume*, std::shared_ptr<Slot>> slots_;
};

CAnalysisThreads& Threads() {
  // Made after theComputer(), so it is destroyed (and joins) before the
  // volumes go.
  theComputer();
  static CAnalysisThreads threads;
  return threads;
}

}  // namespace

namespace analysis_threads {
bool Start(CVolume* volume, std::function<void()> body) { return Threads().Start(volume, std::move(body)); }
bool IsLive(const CVolume* volume) { return Threads().IsLive(volume); }
bool IsCurrent(const CVolume* volume) { return Threads().IsCurrent(volume); }
bool Wait(const CVolume* volume, uint32_t timeoutMs) { return Threads().Wait(volume, timeoutMs); }
}  // namespace analysis_threads

bool WaitForAnalysis(const CVolume* volume, uint32_t timeoutMs) { return analysis_threads::Wait(volume, timeoutMs); }

// ---------------------------------------------------------------------------

uint32_t CVolume::Analyse_Do() {
  theLog().Message("Initializing drive %s", GetDisplayName());
  if (!OpenDrive()) {
    // Release what the start took: the running flag and the queue entry, so
    // that the queue goes on with the next volume.
    int32_t state = State.load();
    theComputer().FinishAnalysis(this);
    State = state;
    EndAnalysisThread();
    State = state;
    return E_FAIL_CODE;
  }
  State = StateAnalysingFileSystem;

  Analyse_Boot();
  // The phase empties the catalog first; it adds the BOOT object after that.
  AnalyseFileSystem(true);
  if (theApp().Settings.AnalyseOnReady == 1 && State.load() == StateReady && !Analyser().StopRequested())
    AnalyseSectors();
  theComputer().FinishAnalysis(this);
  EndAnalysisThread();
  return 0;
}

uint32_t CVolume::AnalyseSectors() {
  ScanFoldersFound = 0;
  ScanFilesFound = 0;
  theComputer().SetCurrentVolume(this);
  State = StateScanningSectors;
  theLog().SendStatusText(57311, 0);
  uint64_t start = Ticks();
  // The scanner builds the catalog's start-offset index (ReIndex) itself,
  // once, before its first block.
  Post(WM_SCAN_STARTED, reinterpret_cast<uintptr_t>(this));
  ScanRunning = 1;
  uint64_t toScan = 0;
  for (const auto& area : SectorScanAreas()) toScan += area.second;
  EndPosition(toScan);
  Analyser().ScanVolume();
  State = StateReady;
  uint64_t elapsed = Ticks() - start;
  Post(WM_SCAN_FINISHED, reinterpret_cast<uintptr_t>(this));
  State = StateReady;
  ScanRunning = 0;
  theLog().Message(GetString(136), ScanFoldersFound.load(), ScanFilesFound.load());
  theLog().Message(GetString(135), elapsed / 60000, (elapsed / 1000) % 60);
  Close();
  return 0;
}

std::vector<std::pair<uint64_t, uint64_t>> CVolume::SectorScanAreas() {
  const uint64_t sectors = Size / 512;
  if (ScanFreeSpaceOnly.load() && fileSystem_ && fileSystem_->AllocationArea.second != 0)
    return fileSystem_->FreeAreas(sectors);
  return {{0, sectors}};
}

void CVolume::StartFileSystemThread() {
  theComputer().SetCurrentVolume(this);
  theComputer().SetSelectedVolume(this);
  Position(0);
  EndPosition(TotalClusters);
  Analyser().ResetStop();
  analysis_threads::Start(this, [this] {
    State = StateAnalysingFileSystem;
    try {
      AnalyseFileSystem();
    } catch (...) {
      theLog().AddError("AnalyseFileSystem.FatalError");
    }
    State = StateReady;
  });
}

void CVolume::StartScanThread(uint32_t mode) {
  ScanMode = mode;
  Position(0);
  EndPosition(TotalClusters);
  theComputer().SetCurrentVolume(this);
  ScanRunning = 1;
  Analyser().ResetStop();
  if (!analysis_threads::Start(this, [this] {
        State = StateScanningSectors;
        try {
          AnalyseSectors();
        } catch (...) {
          theLog().AddError("AnalyseSectors.FatalError");
          State = StateReady;
          ScanRunning = 0;
        }
      }))
    ScanRunning = 0;
}

void CVolume::EndAnalysisThread() {
  if (analysis_threads::IsCurrent(this)) {
    // On the analysis thread itself: the thread ends when Analyse_Do returns.
    State = StateReady;
    return;
  }
  // From another thread: ask the analysis to end and wait for it.
  Analyser().Stop();
  analysis_threads::Wait(this, 0xFFFFFFFFu);
  State = StateReady;
}

void CVolume::AcceptScanObject(std::unique_ptr<CFoundObject> object) {
  if (!object) return;
  const int16_t t = object->FileType;
  if (t == 1 || t == 4 || t == 7 || t == 11) {
    OfferFoundBootSector(*this, object->StartOffset, static_cast<uint32_t>(t));
    return;
  }
  if (ScanMode != 0) return;
  if (t == 24 || t == 25) {
    // The parser examines the record and keeps what it needs; the record
    // itself is freed here.
    FileSystem().ExamineFoundRecord(object.get());
    return;
  }
  if (t < 30) return;
  LostFileResult result = LostFileResult::NotKept;
  CFoundObject* kept = Catalog().AddLostFile(std::move(object), &result);
  if (!kept || result != LostFileResult::Added) return;
  kept->Volume = this;
  if (kept->Flags & FOF_FOLDER) {
    ++ScanFoldersFound;
  } else if (theApp().Settings.ShowFoundNames) {
    theLog().Message(GetString(134), kept->Name);
  }
}
