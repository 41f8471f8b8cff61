// The same-drive check: is the destination folder on the device a volume is
// read from? Devices are compared by number, through sysfs, so that a whole
// disk matches its partitions and a mapped device (dm-crypt, LVM, RAID)
// matches the devices below it.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/recovery/recovery.h"
#include "engine/volume/volume.h"

namespace {

namespace fs = std::filesystem;

std::string SysPath(dev_t dev) {
  return "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

bool ReadDevFile(const fs::path& file, dev_t& dev) {
  std::ifstream in(file);
  unsigned maj = 0, min = 0;
  char colon = 0;
  if (!(in >> maj >> colon >> min) || colon != ':') return false;
  dev = makedev(maj, min);
  return true;
}

// The device, the disk it is a partition of, and every device below it, as
// sysfs tells.
void AddDeviceChain(dev_t dev, std::set<dev_t>& out, int depth = 0) {
  if (depth > 16 || !out.insert(dev).second) return;
  std::error_code ec;
  fs::path node = fs::canonical(SysPath(dev), ec);
  if (ec) return;
  if (fs::exists(node / "partition", ec)) {
    dev_t parent{};
    if (ReadDevFile(node.parent_path() / "dev", parent)) AddDeviceChain(parent, out, depth + 1);
  }
  for (fs::directory_iterator it(node / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
    dev_t slave{};
    if (ReadDevFile(it->path() / "dev", slave)) AddDeviceChain(slave, out, depth + 1);
  }
}

// File systems without a block device of their own number (btrfs
// subvolumes, for instance) report an anonymous device; the mount table
// names the real one.
void AddMountSource(dev_t dev, std::set<dev_t>& out) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin;
    fields >> id >> parent >> majmin;
    if (majmin != wanted) continue;
    size_t sep = line.find(" - ");
    if (sep == std::string::npos) continue;
    std::istringstream tail(line.substr(sep + 3));
    std::string type, source;
    tail >> type >> source;
    struct stat st {};
    if (source.rfind("/dev/", 0) == 0 && ::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
      AddDeviceChain(st.st_rdev, out);
  }
}

// A loop device (or a partition of one) stores its blocks in a backing
// file: the file system holding that file is where writes would land.
void AddLoopBackingFile(dev_t dev, std::set<dev_t>& out) {
  std::error_code ec;
  fs::path node = fs::canonical(SysPath(dev), ec);
  if (ec) return;
  if (fs::exists(node / "partition", ec)) node = node.parent_path();
  std::ifstream in(node / "loop" / "backing_file");
  std::string file;
  if (!std::getline(in, file) || file.empty()) return;
  // As for an image file: the file system's own device (a backing file
  // deleted since reads "... (deleted)" and is not found).
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return;
  out.insert(st.st_dev);
  if (major(st.st_dev) == 0) AddMountSource(st.st_dev, out);
}

// Every device the file system holding `path` lives on.
std::set<dev_t> FileSystemDevices(const std::string& path) {
  std::set<dev_t> out;
  std::error_code ec;
  fs::path p = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
  // The destination may not exist yet: its nearest existing folder decides.
  struct stat st {};
  while (::stat(p.c_str(), &st) != 0) {
    if (!p.has_relative_path()) return out;
    p = p.parent_path();
  }
  AddDeviceChain(st.st_dev, out);
  AddMountSource(st.st_dev, out);
  return out;
}

}  // namespace

bool IsDestinationOnSourceDrive(const CVolume& volume, const std::string& destination, bool followLoopFile) {
  // A found volume lives inside the device of the volume it was found in.
  const CVolume* top = &volume;
  for (int i = 0; i < 64 && top->Parent && top->Parent != top; ++i) top = top->Parent;

  std::set<dev_t> source;
  uint64_t id = volume.SourceDeviceId ? volume.SourceDeviceId : top->SourceDeviceId;
  if (id != 0) {
    source.insert(static_cast<dev_t>(id));
    if (major(static_cast<dev_t>(id)) == 0) AddMountSource(static_cast<dev_t>(id), source);
    if (followLoopFile) AddLoopBackingFile(static_cast<dev_t>(id), source);
  } else if (!top->DevicePath.empty()) {
    struct stat st {};
    if (::stat(top->DevicePath.c_str(), &st) == 0) {
      if (S_ISBLK(st.st_mode)) {
        source.insert(st.st_rdev);
        if (followLoopFile) AddLoopBackingFile(st.st_rdev, source);
      } else {
        source.insert(st.st_dev);
        if (major(st.st_dev) == 0) AddMountSource(st.st_dev, source);
      }
    }
  }
  if (source.empty()) return false;
  for (dev_t dev : FileSystemDevices(destination))
    if (source.count(dev)) return true;
  return false;
}

std::string CheckDestinationDrive(const CVolume& volume, std::string destination, IRecoveryQuestions& questions) {
  while (IsDestinationOnSourceDrive(volume, destination)) {
    if (!questions.AskSelectAnotherDestination(kSameDriveQuestion, kSameDriveCaption)) break;
    std::string chosen = destination;
    if (questions.BrowseDestination(kSelectDestinationTitle, chosen) && !chosen.empty()) destination = chosen;
  }
  return destination;
}
