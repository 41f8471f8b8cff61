#include "services/log.h"

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <ctime>

#include "platform/messages.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/text.h"

namespace {

// UTF-16LE bytes of a line followed by CR LF, no terminator.
std::string Utf16LeLine(const std::string& utf8) {
  std::u16string wide = qm::Utf8ToUtf16(utf8);
  wide += u"\r\n";
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

// Keeps the log file within `limit` bytes once a line took it past: the
// oldest lines are dropped so that the newest lines filling at most half the
// limit remain, the file starting at a line's beginning. `size` is the
// file's length. A file that cannot be read back is emptied rather than left
// to grow.
void TrimLogFile(int fd, uint64_t size, uint64_t limit) {
  if (size <= limit) return;
  const uint64_t keep = limit / 2;
  std::string tail(static_cast<size_t>(std::min(size, keep)), '\0');
  const off_t from = static_cast<off_t>(size - tail.size());
  if (::pread(fd, tail.data(), tail.size(), from) != static_cast<ssize_t>(tail.size())) tail.clear();
  // The kept part starts after the first line end (CR LF in UTF-16LE) it
  // holds, unless it starts exactly at a line's beginning.
  size_t start = 0;
  bool atLineStart = false;
  if (from >= 4 && !tail.empty()) {
    char before[4];
    atLineStart = ::pread(fd, before, 4, from - 4) == 4 && std::memcmp(before, "\r\0\n\0", 4) == 0;
  }
  if (!atLineStart) {
    size_t end = std::string::npos;
    for (size_t i = 0; i + 4 <= tail.size(); i += 2)
      if (std::memcmp(tail.data() + i, "\r\0\n\0", 4) == 0) {
        end = i + 4;
        break;
      }
    start = end == std::string::npos ? tail.size() : end;
  }
  const size_t kept = tail.size() - start;
  if (kept > 0 && ::pwrite(fd, tail.data() + start, kept, 0) != static_cast<ssize_t>(kept)) {
    [[maybe_unused]] int r = ::ftruncate(fd, 0);
    return;
  }
  [[maybe_unused]] int r = ::ftruncate(fd, static_cast<off_t>(kept));
}

}  // namespace

CLog::CLog(CApp& app) : app_(app) {
  try {
    std::lock_guard lock(mutex_);
    OpenFileLocked();
  } catch (...) {
  }
}

CLog::~CLog() {
  if (fd_ >= 0) ::close(fd_);
}

void CLog::OpenFileLocked() {
  if (fd_ >= 0 || !app_.Settings.LogToFile) return;
  const std::string path = app_.Settings.LogFileNameText();
  int flags = O_RDWR | O_CREAT | O_CLOEXEC;
  if (app_.Settings.ClearLogOnStart) flags |= O_TRUNC;
  fd_ = path.empty() ? -1 : ::open(path.c_str(), flags, 0644);
  // A log file that cannot be opened switches the setting off (and the next
  // settings save stores it off); nothing else is reported.
  if (fd_ < 0) app_.Settings.LogToFile = 0;
}

std::string CLog::FormatTimeStamp(uint64_t fileTime) {
  const int64_t unixSeconds = static_cast<int64_t>(fileTime / 10000000ull) - 11644473600ll;
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm local {};
  if (!::localtime_r(&t, &local)) return {};
  // The user's date and time conventions (LC_TIME), without touching the
  // process-wide locale.
  static locale_t userLocale = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  char date[64] = {0}, time[64] = {0};
  if (userLocale) {
    ::strftime_l(date, sizeof date, "%x", &local, userLocale);
    ::strftime_l(time, sizeof time, "%X", &local, userLocale);
  } else {
    std::strftime(date, sizeof date, "%x", &local);
    std::strftime(time, sizeof time, "%X", &local);
  }
  return qm::Format("%s %s", date, time);
}

void CLog::AddLine(int kind, std::string_view text) noexcept {
  try {
    std::string stamp;
    if (app_.Settings.LogTimeStamps) {
      const uint64_t now = qm::CurrentFileTime();
      stamp = FormatTimeStamp(now);
      std::lock_guard lock(mutex_);
      lastStamp_ = now;
    }
    const char* tag = "";
    switch (kind) {
      case LOG_DEBUG: tag = "DBG: "; break;
      case LOG_ERROR: tag = "ERR: "; break;
      case LOG_CRITICAL: tag = "CRITICALERR: "; break;
      default: break;  // messages, internal failures and any other code
    }
    std::string line;
    if (!stamp.empty()) line = stamp + " - ";
    line += tag;
    line.append(text.data(), text.size());

    const std::string* posted = nullptr;
    {
      // The list append and the file append happen under one lock, so lines
      // from different threads never interleave or corrupt the list.
      std::lock_guard lock(mutex_);
      lines_.push_back(std::make_unique<std::string>(std::move(line)));
      posted = lines_.back().get();
      try {
        OpenFileLocked();
        if (fd_ >= 0) {
          const off_t end = ::lseek(fd_, 0, SEEK_END);
          const std::string bytes = Utf16LeLine(*posted);
          // A failed write is ignored; the file never grows past the
          // "Maximum log file size:" setting.
          if (WriteAll(fd_, bytes) && end >= 0)
            TrimLogFile(fd_, static_cast<uint64_t>(end) + bytes.size(),
                        static_cast<uint64_t>(std::max<uint32_t>(app_.Settings.MaxLogSizeKB, 1)) * 1024);
        }
      } catch (...) {
      }
    }
    if (IMessageTarget* target = app_.LogWindow.load())
      target->PostMessage(WM_LOG_LINE, reinterpret_cast<uintptr_t>(posted), 0);
    if (app_.Settings.LogToDebugger) {
      static const bool debug = std::getenv("QUILLMORE_DEBUG") != nullptr;
      if (debug) {
        std::string out = *posted + "\n";
        [[maybe_unused]] ssize_t w = ::write(2, out.data(), out.size());
      }
    }
  } catch (...) {
  }
}

int CLog::SendStatusText(uint32_t number, intptr_t lParam) {
  try {
    if (IMessageTarget* target = app_.MainWindow.load()) target->SendMessage(WM_STATUS_TEXT, number, lParam);
  } catch (...) {
  }
  return 1;
}

int CLog::ShowLogFile() {
  std::string path;
  {
    std::lock_guard lock(mutex_);
    int fd = qm::CreatePrivateTempFile(showFolder_, "Recovery log file.txt", path);
    if (fd >= 0) {
      std::string bytes;
      for (const auto& line : lines_) bytes += Utf16LeLine(*line);
      WriteAll(fd, bytes);
      ::close(fd);
    } else {
      path.clear();
    }
  }
  if (path.empty()) {
    AddError("Can't create temporary file");
    return 0;
  }
  qm::ShellOpen(path);
  return 1;
}

void CLog::ClearLines() {
  std::lock_guard lock(mutex_);
  if (app_.LogWindow.load()) return;
  lines_.clear();
}

std::vector<std::string> CLog::Lines() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  out.reserve(lines_.size());
  for (const auto& l : lines_) out.push_back(*l);
  return out;
}

size_t CLog::LineCount() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

bool CLog::FileOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}
