// Starting, stopping and finishing analyses, and the queue of volumes
// waiting for one.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/analysis/analysis_driver.h"
#include "engine/scanner/analyser.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"

namespace {

struct QueueState {
  std::mutex mutex;
  std::vector<CVolume*> queue;
  std::atomic<CVolume*> current{nullptr};
  std::atomic<CVolume*> selected{nullptr};
  std::atomic<IScanAbortQuestion*> question{nullptr};
};

QueueState& Queue() {
  static QueueState state;
  return state;
}

void Post(uint32_t message, uintptr_t wParam) {
  if (IMessageTarget* target = theApp().MainWindow.load()) target->PostMessage(message, wParam, 0);
}

void RunAnalysis(CVolume* volume) {
  try {
    volume->Analyse_Do();
  } catch (...) {
    theLog().AddError("pVolume->Analyse_Do.FatalError");
    // The queue must not stay blocked by a volume whose analysis failed.
    theComputer().FinishAnalysis(volume);
  }
}

}  // namespace

void CLocalComputer::StartAnalysis(CVolume* volume) {
  if (!volume || volume->State.load() == StateScanningSectors) return;
  QueueState& q = Queue();
  {
    // Queued first, so that an analysis that ends at once finds its entry.
    std::lock_guard lock(q.mutex);
    if (std::find(q.queue.begin(), q.queue.end(), volume) == q.queue.end()) q.queue.push_back(volume);
  }
  uint32_t idle = 0;
  if (theApp().AnalysisRunning.compare_exchange_strong(idle, 1)) {
    q.current = volume;
    q.selected = volume;
    volume->Analyser().ResetStop();
    if (!analysis_threads::IsLive(volume)) analysis_threads::Start(volume, [volume] { RunAnalysis(volume); });
  }
}

int CLocalComputer::StopAnalysis(CVolume* volume, int force) {
  if (!volume) return 0;
  int32_t state = volume->State.load();
  if (theApp().Settings.ConfirmScanAbort == 1 && force == 0 &&
      (state == StateScanningSectors || state == StateAnalysingFileSystem)) {
    // With no front end to ask, the stop goes ahead.
    if (IScanAbortQuestion* question = Queue().question.load())
      if (!question->ConfirmScanAbort("Are you sure you want to stop scanning?", "Confirmation")) return 0;
  }
  theApp().AnalysisRunning = 0;
  {
    QueueState& q = Queue();
    std::lock_guard lock(q.mutex);
    q.queue.erase(std::remove(q.queue.begin(), q.queue.end(), volume), q.queue.end());
  }
  volume->State = StateReady;
  volume->Analyser().Stop();
  if (analysis_threads::IsLive(volume) && !analysis_threads::IsCurrent(volume)) {
    // Threads are never killed: every loop tests the stop and every read
    // times out, so the analysis ends on its own shortly.
    if (!analysis_threads::Wait(volume, 1000)) {
      analysis_threads::Wait(volume, 0xFFFFFFFFu);
      volume->State = StateReady;
      theLog().Message("Analysis of %s stoped", volume->DisplayNameText());
    }
  }
  return 1;
}

void CLocalComputer::FinishAnalysis(CVolume* volume) {
  theApp().AnalysisRunning = 0;
  StopAnalysis(volume, 0);
  Post(WM_ANALYSIS_DONE, reinterpret_cast<uintptr_t>(volume));
}

void CLocalComputer::StartScan(CVolume* volume) {
  if (volume) volume->StartScanThread(1);
}

CVolume* CLocalComputer::StartNextQueued() {
  if (theApp().Settings.SelectFirstDrive != 1) return nullptr;
  CVolume* next = nullptr;
  {
    QueueState& q = Queue();
    std::lock_guard lock(q.mutex);
    if (q.queue.empty()) return nullptr;
    next = q.queue.front();
  }
  StartAnalysis(next);
  return next;
}

std::vector<CVolume*> CLocalComputer::AnalysisQueue() const {
  QueueState& q = Queue();
  std::lock_guard lock(q.mutex);
  return q.queue;
}

CVolume* CLocalComputer::CurrentVolume() const { return Queue().current.load(); }
void CLocalComputer::SetCurrentVolume(CVolume* volume) { Queue().current = volume; }
CVolume* CLocalComputer::SelectedVolume() const { return Queue().selected.load(); }
void CLocalComputer::SetSelectedVolume(CVolume* volume) { Queue().selected = volume; }
void CLocalComputer::SetScanAbortQuestion(IScanAbortQuestion* question) { Queue().question = question; }
