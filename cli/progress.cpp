#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/terminal_text.h"

namespace qmcli {

namespace {

std::atomic<int> gInterrupts{0};

void OnInterrupt(int) {
  if (gInterrupts.fetch_add(1) >= 1) {
    // The second Ctrl-C: the user does not want to wait for the clean stop.
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
  }
}

int TerminalWidth() {
  winsize ws{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20) return ws.ws_col;
  return 80;
}

std::string Duration(double seconds) {
  if (seconds < 0 || seconds > 359999) return "--:--";
  auto s = static_cast<uint64_t>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  else
    std::snprintf(buf, sizeof buf, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  return buf;
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
}
bool InterruptRequested() { return gInterrupts.load() > 0; }
void ResetInterrupt() { gInterrupts = 0; }

CProgressBar::CProgressBar() : enabled_(::isatty(STDERR_FILENO) == 1) {
  start_ = lastDraw_ = std::chrono::steady_clock::now();
}

CProgressBar::~CProgressBar() { Finish(); }

std::string CProgressBar::Render(uint64_t done, uint64_t total, double bytesPerSecond, double secondsLeft,
                                 const std::string& label, int width) {
  const double fraction = total ? static_cast<double>(std::min(done, total)) / static_cast<double>(total) : 0.0;
  // Every field has a fixed width, so the line never jumps as the numbers
  // change: "[####......]  45%   120.3 MB/s     0:12 left  label".
  char fields[96];
  char speed[32] = "";
  if (bytesPerSecond > 0) std::snprintf(speed, sizeof speed, "%7.1f MB/s", std::min(bytesPerSecond / 1e6, 99999.9));
  std::snprintf(fields, sizeof fields, " %3d%%  %12s  %8s left", static_cast<int>(fraction * 100), speed,
                Duration(secondsLeft).c_str());
  const int fieldsWidth = static_cast<int>(std::strlen(fields));
  const int barWidth = std::clamp(width - 1 - fieldsWidth - 2 - 20, 10, 40);
  const int filled = static_cast<int>(fraction * barWidth);
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(barWidth - filled), '.') + "]" + fields;
  const int room = width - 1 - static_cast<int>(line.size()) - 2;
  if (!label.empty() && room > 0) line += "  " + FitWidth(label, static_cast<size_t>(room));
  return line;
}

void CProgressBar::Update(uint64_t done, uint64_t total, uint64_t bytesDone, const std::string& label) {
  auto now = std::chrono::steady_clock::now();
  // The measurement runs over a whole task: it starts again only when the
  // task changes (another total) or its count goes back, not with each new
  // file name in the label.
  if (total != total_ || done < lastDone_) {
    total_ = total;
    start_ = now;
    startBytes_ = bytesDone;
    startDone_ = done;
  }
  lastDone_ = done;
  if (!enabled_ || (drawn_ && now - lastDraw_ < std::chrono::milliseconds(200))) return;
  lastDraw_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  double speed = (seconds > 0.2 && bytesDone > startBytes_) ? (bytesDone - startBytes_) / seconds : 0;
  double left = -1;
  if (seconds > 1.0 && done > startDone_ && total >= done)
    left = seconds * static_cast<double>(total - done) / static_cast<double>(done - startDone_);
  std::string line = Render(done, total, speed, left, label, TerminalWidth());
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void CProgressBar::Finish() {
  if (enabled_ && drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }
  drawn_ = false;
}

}  // namespace qmcli
