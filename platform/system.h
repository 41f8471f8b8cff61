// Small operating-system services: events, thread priority, the temporary
// folder, error texts, the rights check, the shell's "open", and the hook
// that names file types.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace qm {

constexpr uint32_t WAIT_FOREVER = 0xFFFFFFFF;

// An auto-reset (one waiter released per Set) or manual-reset event.
class CEvent {
public:
  explicit CEvent(bool manualReset = false, bool initiallySet = false)
      : manual_(manualReset), set_(initiallySet) {}
  void Set();
  void Reset();
  // True when the event was set within the time-out (an auto-reset event is
  // then reset again).
  bool Wait(uint32_t timeout_ms = WAIT_FOREVER);
  bool IsSet() const;

private:
  const bool manual_;
  bool set_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
};

// Lowers the calling thread to the lowest scheduling priority (nice 19).
void SetLowestThreadPriority();

// The system temporary folder: $TMPDIR, else /tmp (no trailing "/").
std::string GetTempPath();
// Creates the file `name` afresh for writing inside a folder of the
// temporary folder that only this user may enter. The folder is made by
// mkdtemp on first use and kept in `folder` for later calls (made again when
// it is gone or no longer private); the file is created exclusively and never
// through a link, so nobody else can point it at another file. Returns the
// open descriptor and its path in `path`; -1 on failure (errno set).
int CreatePrivateTempFile(std::string& folder, const std::string& name, std::string& path);
// The user's home folder: $HOME, else the password database, else "/".
std::string GetHomePath();

// The system's text for an errno value ("No such file or directory").
std::string SystemErrorText(int error);

// The folder of the running executable (no trailing "/"); empty when unknown.
std::string ExecutableDir();
// A shipped data file or folder ("Languages", "signatures.reg"): in "data/"
// beside the executable or one folder up (the build), in
// "../share/quillmore/" relative to it (an installed program), else in the
// source tree's "data/". Empty when none exists.
std::string FindDataPath(const std::string& name);

// Reading raw disks needs effective uid 0 or membership in the group "disk".
bool HasDiskAccessRights();

// Opens a file or folder with the desktop's default program (xdg-open),
// detached from this process. False when no opener could be started.
bool ShellOpen(const std::string& path);
// Tests and front ends may replace the opener (null restores xdg-open).
void SetShellOpenHook(std::function<bool(const std::string&)> hook);

// The type name of a file extension ("PDF File"). The default names every
// extension "EXT File" (upper-case extension) and an empty one "File"; the
// desktop program installs a provider backed by its MIME database.
std::string GetTypeNameForExtension(const std::string& extension);
void SetTypeNameProvider(std::function<std::string(const std::string&)> provider);

// FILETIME (100 ns since 1601-01-01 UTC) of the current system time.
uint64_t CurrentFileTime();
// Milliseconds of a steady clock (the platform's tick count).
uint64_t TickCount();

}  // namespace qm
