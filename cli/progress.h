// A progress bar on standard error for long commands (sector scans,
// recoveries), and the Ctrl-C handling that turns an interrupt into a
// cooperative stop request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace qmcli {

// Draws "[#####.....]  45%   120.3 MB/s     0:12 left  label" on one line of
// standard error, redrawn at most a few times a second, and only when standard
// error is a terminal (never in pipes or log files). The fields keep their
// widths, so the bar does not jump; the label is cut to the terminal.
class CProgressBar {
public:
  CProgressBar();
  ~CProgressBar();
  CProgressBar(const CProgressBar&) = delete;
  CProgressBar& operator=(const CProgressBar&) = delete;

  // done and total in any unit; bytesDone for the speed (0: no speed shown).
  // A new total (another task) restarts the speed and time-left measurement;
  // a new label (the next file of the same task) does not.
  void Update(uint64_t done, uint64_t total, uint64_t bytesDone, const std::string& label);
  // Erases the bar (the line is left empty for what is printed next).
  void Finish();
  bool Enabled() const { return enabled_; }

  // The text of the bar without drawing it (exposed for tests).
  static std::string Render(uint64_t done, uint64_t total, double bytesPerSecond, double secondsLeft,
                            const std::string& label, int width);

private:
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  uint64_t startBytes_ = 0;
  uint64_t startDone_ = 0;
  uint64_t total_ = ~0ull;
  uint64_t lastDone_ = 0;
};

// Ctrl-C: the first interrupt sets a flag that the command's wait loop
// polls (it then asks the engine to stop and waits for the cooperative end);
// a second interrupt ends the program at once.
void InstallInterruptHandler();
bool InterruptRequested();
void ResetInterrupt();

}  // namespace qmcli
