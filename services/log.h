// The process-wide log: short lines of four kinds from every subsystem,
// kept in memory, appended to the log file when the settings ask for it, and
// posted to the log pane.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "services/format.h"

class CApp;

enum LogKind : int {
  LOG_DEBUG = 1,
  LOG_ERROR = 2,
  LOG_MESSAGE = 4,
  LOG_CRITICAL = 8,
  LOG_INTERNAL = 10,
};

class CLog {
public:
  explicit CLog(CApp& app);
  ~CLog();
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;

  void AddError(std::string_view text) noexcept { AddLine(LOG_ERROR, text); }
  void AddDebug(std::string_view text) noexcept { AddLine(LOG_DEBUG, text); }
  void AddMessage(std::string_view text) noexcept { AddLine(LOG_MESSAGE, text); }
  void AddInternal(std::string_view text) noexcept { AddLine(LOG_INTERNAL, text); }
  // The common worker: formats, appends to the list and the file, posts the
  // line. Never throws.
  void AddLine(int kind, std::string_view text) noexcept;

  // Formatting shorthands: Error("Volume %s not read", name).
  template <class... A> void Error(std::string_view f, const A&... a) noexcept { Add(LOG_ERROR, f, a...); }
  template <class... A> void Debug(std::string_view f, const A&... a) noexcept { Add(LOG_DEBUG, f, a...); }
  template <class... A> void Message(std::string_view f, const A&... a) noexcept { Add(LOG_MESSAGE, f, a...); }
  template <class... A> void Internal(std::string_view f, const A&... a) noexcept { Add(LOG_INTERNAL, f, a...); }

  // Sends WM_STATUS_TEXT to the main window when one is registered; returns 1.
  int SendStatusText(uint32_t number, intptr_t lParam);
  // Writes every line to "Recovery log file.txt" in a private folder of the
  // temporary folder (made once per log, see CreatePrivateTempFile) and opens
  // it; 1 on success.
  int ShowLogFile();

  // Forgets the lines kept so far (long unattended runs such as the fuzz
  // targets); does nothing while a log pane is registered, since the pane
  // holds the lines it was posted.
  void ClearLines();
  // A copy of the lines so far, oldest first.
  std::vector<std::string> Lines() const;
  size_t LineCount() const;
  // True while the log file is open.
  bool FileOpen() const;
  // The local short date and time, "%s %s" (date, blank, time), as the
  // time-stamped lines carry it.
  static std::string FormatTimeStamp(uint64_t fileTime);

private:
  template <class... A>
  void Add(int kind, std::string_view f, const A&... a) noexcept {
    try {
      AddLine(kind, qm::Format(f, a...));
    } catch (...) {
    }
  }
  void OpenFileLocked();

  CApp& app_;
  mutable std::mutex mutex_;
  // Lines are never removed; the pointers handed out with WM_LOG_LINE stay
  // valid until the log is destroyed.
  std::vector<std::unique_ptr<std::string>> lines_;
  uint64_t lastStamp_ = 0;
  int fd_ = -1;
  std::string showFolder_;  // ShowLogFile's private temporary folder
};

// The log of the running program (owned by the drive-list owner).
CLog& theLog();
