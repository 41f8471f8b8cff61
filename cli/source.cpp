#include "cli/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/system.h"
#include "services/app.h"

void CliStartup() {
  static bool started = false;
  if (started) return;
  started = true;
  theApp().LoadSettings();
  theApp().LoadLanguage();
  theComputer();  // creates the log, which opens its file as the settings say
  // ---- The signature database is loaded here (one line, added by its owner).
  LoadSignatureDatabase();
}

CVolume* OpenSourceVolume(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> CVolume* {
    if (error) *error = "cannot open '" + path + "': " + why;
    return nullptr;
  };
  if (path.empty()) return fail("no source given");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fail(qm::SystemErrorText(errno));
  if (S_ISDIR(st.st_mode)) return fail("it is a folder, not an image file or a device");
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode) && !S_ISCHR(st.st_mode))
    return fail("not an image file or a block device");
  // Open once to learn why it cannot be read (LoadImage reports no reason).
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(qm::SystemErrorText(errno));
  ::close(fd);
  CVolume* volume = theComputer().LoadImage(path);
  if (!volume) return fail("cannot be read");
  return volume;
}

CVolume* StartAndOpenSource(const std::string& path) {
  CliStartup();
  std::string error;
  CVolume* volume = OpenSourceVolume(path, &error);
  if (!volume) std::fprintf(stderr, "quillmore-cli: %s\n", error.c_str());
  return volume;
}
