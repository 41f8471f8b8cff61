// The analysis driver's pieces that are not members of CVolume or
// CLocalComputer: the question a stop asks, and the bookkeeping of the
// volumes' analysis threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CVolume;

// Stops are cooperative: CLocalComputer::StopAnalysis clears AnalysisRunning,
// asks the volume's analyser to stop, and then waits for the analysis thread
// to end on its own (a second or two: every loop tests the stop and every
// read has a time-out). Threads are never killed, so no lock is ever left
// held. A front end that answers the synchronous WM_STATUS_TEXT on the thread
// that calls StopAnalysis must not block in that answer.
//
// Asked before a running analysis is stopped while the setting
// ConfirmScanAbort is on: "Are you sure you want to stop scanning?", caption
// "Confirmation", Yes and No. Front ends implement it; true means Yes.
class IScanAbortQuestion {
public:
  virtual ~IScanAbortQuestion() = default;
  virtual bool ConfirmScanAbort(const std::string& question, const std::string& caption) = 0;
};

// The analysis thread of each volume (one at a time per volume). Threads are
// never killed: a stop asks them to end and waits for them.
namespace analysis_threads {
// Starts `body` at the lowest priority as the volume's analysis thread;
// false (nothing started) while the volume's previous thread still runs.
bool Start(CVolume* volume, std::function<void()> body);
// True while the volume's analysis thread runs.
bool IsLive(const CVolume* volume);
// True when called on the volume's analysis thread.
bool IsCurrent(const CVolume* volume);
// Waits up to `timeoutMs` for the volume's analysis thread to end and joins
// it; true when no thread runs any more. Returns false at once when called
// on that thread itself.
bool Wait(const CVolume* volume, uint32_t timeoutMs);
}  // namespace analysis_threads

// Waits until the volume's analysis (started by StartAnalysis,
// StartFileSystemThread or StartScanThread) has ended; false after timeoutMs.
bool WaitForAnalysis(const CVolume* volume, uint32_t timeoutMs);
