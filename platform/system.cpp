#include "platform/system.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qm {

void CEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  if (manual_) cv_.notify_all();
  else cv_.notify_one();
}

void CEvent::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool CEvent::Wait(uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  bool ok;
  if (timeout_ms == WAIT_FOREVER) {
    cv_.wait(lock, [this] { return set_; });
    ok = true;
  } else {
    ok = cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return set_; });
  }
  if (ok && !manual_) set_ = false;
  return ok;
}

bool CEvent::IsSet() const {
  std::lock_guard lock(mutex_);
  return set_;
}

void SetLowestThreadPriority() {
  // On Linux a nice value set for a thread id applies to that thread alone.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

std::string GetTempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

namespace {
bool IsPrivateFolder(const std::string& folder) {
  struct stat st {};
  return !folder.empty() && ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}
}  // namespace

int CreatePrivateTempFile(std::string& folder, const std::string& name, std::string& path) {
  if (name.empty() || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  if (!IsPrivateFolder(folder)) {
    std::string pattern = GetTempPath() + "/quillmore-XXXXXX";
    if (!::mkdtemp(pattern.data())) return -1;
    folder = pattern;
  }
  path = folder + "/" + name;
  // Only this user can have left a file here; a file of an earlier call goes.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

std::string GetHomePath() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  struct passwd pw {};
  struct passwd* result = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return "/";
}

std::string SystemErrorText(int error) {
  char buf[256] = {0};
  // The GNU variant returns the text, which may or may not be in buf.
  const char* text = ::strerror_r(error, buf, sizeof buf);
  return text ? text : "Unknown error";
}

std::string ExecutableDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FindDataPath(const std::string& name) {
  std::vector<std::string> candidates;
  const std::string exe = ExecutableDir();
  if (!exe.empty()) {
    candidates.push_back(exe + "/data/" + name);
    candidates.push_back(exe + "/../data/" + name);
    candidates.push_back(exe + "/../share/quillmore/" + name);
  }
  const std::string self = __FILE__;
  const std::string tail = "platform/system.cpp";
  if (self.size() > tail.size() && self.compare(self.size() - tail.size(), tail.size(), tail) == 0)
    candidates.push_back(self.substr(0, self.size() - tail.size()) + "data/" + name);
  for (const auto& c : candidates)
    if (::access(c.c_str(), F_OK) == 0) return c;
  return {};
}

bool HasDiskAccessRights() {
  if (::geteuid() == 0) return true;
  struct group gr {};
  struct group* result = nullptr;
  std::vector<char> buf(16384);
  if (::getgrnam_r("disk", &gr, buf.data(), buf.size(), &result) != 0 || !result) return false;
  const gid_t disk = result->gr_gid;
  if (::getegid() == disk) return true;
  int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  n = ::getgroups(n, groups.data());
  for (int i = 0; i < n; ++i)
    if (groups[static_cast<size_t>(i)] == disk) return true;
  return false;
}

namespace {
std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
std::function<bool(const std::string&)>& ShellHook() {
  static std::function<bool(const std::string&)> hook;
  return hook;
}
std::function<std::string(const std::string&)>& TypeProvider() {
  static std::function<std::string(const std::string&)> provider;
  return provider;
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + program;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}

bool XdgOpen(const std::string& target) {
  const std::string opener = FindOnPath("xdg-open");
  if (opener.empty()) return false;
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls run.
  std::vector<char> prog(opener.begin(), opener.end());
  prog.push_back('\0');
  std::vector<char> arg(target.begin(), target.end());
  arg.push_back('\0');
  char* argv[] = {prog.data(), arg.data(), nullptr};
  int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_t child = ::fork();
  if (child < 0) {
    if (devnull >= 0) ::close(devnull);
    return false;
  }
  if (child == 0) {
    ::setsid();
    // A second fork leaves the opener to init, so nobody has to reap it.
    if (::fork() != 0) ::_exit(0);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    ::execv(argv[0], argv);
    ::_exit(127);
  }
  if (devnull >= 0) ::close(devnull);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}
}  // namespace

bool ShellOpen(const std::string& path) {
  std::function<bool(const std::string&)> hook;
  {
    std::lock_guard lock(HookMutex());
    hook = ShellHook();
  }
  if (hook) return hook(path);
  return XdgOpen(path);
}

void SetShellOpenHook(std::function<bool(const std::string&)> hook) {
  std::lock_guard lock(HookMutex());
  ShellHook() = std::move(hook);
}

std::string GetTypeNameForExtension(const std::string& extension) {
  std::function<std::string(const std::string&)> provider;
  {
    std::lock_guard lock(HookMutex());
    provider = TypeProvider();
  }
  if (provider) {
    std::string name = provider(extension);
    if (!name.empty()) return name;
  }
  if (extension.empty()) return "File";
  std::string upper = extension;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper + " File";
}

void SetTypeNameProvider(std::function<std::string(const std::string&)> provider) {
  std::lock_guard lock(HookMutex());
  TypeProvider() = std::move(provider);
}

uint64_t CurrentFileTime() {
  using namespace std::chrono;
  // 11644473600 s between 1601-01-01 and 1970-01-01.
  const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<uint64_t>(since1970 / 100) + 116444736000000000ull;
}

uint64_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace qm
