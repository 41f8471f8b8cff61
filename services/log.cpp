#include "services/log.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/messages.h"
#include "services/app.h"
#include "services/text.h"

CLog::CLog(CApp& app) : app_(app) {
  std::lock_guard lock(mutex_);
  OpenFileLocked();
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
  if (fd_ < 0) app_.Settings.LogToFile = 0;
}

void CLog::AddLine(int kind, std::string_view text) noexcept {
  try {
    std::string line;
    switch (kind) {
      case LOG_DEBUG: line = "DBG: "; break;
      case LOG_ERROR: line = "ERR: "; break;
      case LOG_CRITICAL: line = "CRITICALERR: "; break;
      default: break;
    }
    line.append(text);
    const std::string* posted = nullptr;
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::make_unique<std::string>(std::move(line)));
      posted = lines_.back().get();
      OpenFileLocked();
      if (fd_ >= 0) {
        std::u16string wide = qm::Utf8ToUtf16(*posted);
        wide += u"\r\n";
        std::string bytes;
        bytes.reserve(wide.size() * 2);
        for (char16_t c : wide) {
          bytes.push_back(static_cast<char>(c & 0xFF));
          bytes.push_back(static_cast<char>(c >> 8));
        }
        ::lseek(fd_, 0, SEEK_END);
        [[maybe_unused]] ssize_t w = ::write(fd_, bytes.data(), bytes.size());
      }
    }
    if (IMessageTarget* target = app_.LogWindow.load())
      target->PostMessage(WM_LOG_LINE, reinterpret_cast<uintptr_t>(posted), 0);
  } catch (...) {
  }
}

int CLog::SendStatusText(uint32_t number, intptr_t lParam) {
  if (IMessageTarget* target = app_.MainWindow.load()) target->SendMessage(WM_STATUS_TEXT, number, lParam);
  return 1;
}

int CLog::ShowLogFile() { return 0; }

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
