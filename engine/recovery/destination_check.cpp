#include "engine/recovery/destination_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "engine/recovery/safe_name.h"
#include "platform/system.h"

std::string DestinationProblem(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return "'" + folder + "' is a file, not a folder";
  std::string failed;
  qm::recovery::UniqueFd dir = qm::recovery::OpenRoot(folder, &failed);
  if (!dir.Valid()) {
    const int error = errno;
    if (error == ENOTDIR) return "'" + failed + "' is a file, not a folder";
    return "cannot create or open the folder '" + failed + "': " + qm::SystemErrorText(error);
  }
  int probe = ::openat(dir.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe >= 0) {
    ::close(probe);
    return {};
  }
  int error = errno;
  // File systems without unnamed files (FAT, network file systems) answer
  // EOPNOTSUPP or EISDIR: a named probe, removed at once, tells instead.
  if (error == EOPNOTSUPP || error == EISDIR || error == EINVAL) {
    const std::string name = ".quillmore-probe-" + std::to_string(std::random_device{}());
    probe = ::openat(dir.Get(), name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (probe >= 0) {
      ::close(probe);
      ::unlinkat(dir.Get(), name.c_str(), 0);
      return {};
    }
    error = errno;
  }
  return "cannot write in '" + folder + "': " + qm::SystemErrorText(error);
}
