#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

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
  double fraction = total ? static_cast<double>(std::min(done, total)) / static_cast<double>(total) : 0.0;
  char tail[96];
  std::string speed;
  if (bytesPerSecond > 0) {
    char s[32];
    std::snprintf(s, sizeof s, "  %.1f MB/s", bytesPerSecond / 1e6);
    speed = s;
  }
  std::snprintf(tail, sizeof tail, " %3d%%%s  %s left", static_cast<int>(fraction * 100), speed.c_str(),
                Duration(secondsLeft).c_str());
  std::string text = tail;
  if (!label.empty()) text += "  " + label;
  int barWidth = width - static_cast<int>(text.size()) - 3;
  if (barWidth > 40) barWidth = 40;
  std::string bar;
  if (barWidth >= 5) {
    int filled = static_cast<int>(fraction * barWidth);
    bar = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(barWidth - filled), '.') + "]";
  }
  std::string line = bar + text;
  if (static_cast<int>(line.size()) > width - 1) line.resize(static_cast<size_t>(width - 1));
  return line;
}

void CProgressBar::Update(uint64_t done, uint64_t total, uint64_t bytesDone, const std::string& label) {
  auto now = std::chrono::steady_clock::now();
  if (label != label_) {
    label_ = label;
    start_ = now;
    startBytes_ = bytesDone;
    startDone_ = done;
  } else if (now - lastDraw_ < std::chrono::milliseconds(200)) {
    return;
  }
  if (!enabled_) return;
  lastDraw_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  double speed = (seconds > 0.2 && bytesDone > startBytes_) ? (bytesDone - startBytes_) / seconds : 0;
  double left = -1;
  if (seconds > 0.5 && done > startDone_ && total >= done)
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
