// quillmore-cli drives: the drive list as the drives pane shows it, and with
// --watch the disks and media arriving and going away.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/source.h"
#include "engine/filesystems/file_system.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/block_device_monitor.h"

namespace {

std::string FileSystemOf(CVolume& v) {
  if (!v.FileSystemText.empty()) return v.FileSystemText;
  // What the boot sector said, for a volume libblkid did not probe.
  return v.FileSystem().FileSystemType ? CFileSystem::NameOf(v.FileSystem().FileSystemType) : "";
}

nlohmann::json DriveJson(CVolume& v) {
  auto text = [](const std::string& s) { return s.empty() ? nlohmann::json(nullptr) : nlohmann::json(s); };
  nlohmann::json j;
  j["id"] = static_cast<int64_t>(v.ObjectID);
  j["name"] = text(v.KernelName);
  j["kind"] = v.Kind;
  j["category"] = CVolume::KindText(v.Kind);
  j["media_type"] = CVolume::MediaTypeText(v.MediaType);
  j["display_name"] = v.DisplayNameText();
  j["device_path"] = v.DevicePath;
  j["parent"] = v.Parent && v.Parent != &v ? text(v.Parent->KernelName) : nlohmann::json(nullptr);
  j["size"] = v.Size;
  j["sector_size"] = v.BytesPerSector;
  j["file_system"] = text(FileSystemOf(v));
  j["label"] = text(v.Label);
  j["uuid"] = text(v.Uuid);
  j["mount_point"] = text(v.MountPoint);
  j["free_bytes"] = v.MountPoint.empty() ? nlohmann::json(nullptr) : nlohmann::json(v.FreeBytes);
  j["removable"] = v.Removable;
  j["state"] = CVolume::StateText(v.State.load());
  return j;
}

void PrintTable(const std::vector<CVolume*>& volumes) {
  std::printf("%-12s %-12s %-9s %15s %6s %-8s %-16s %-20s %-8s %s\n", "NAME", "CATEGORY", "MEDIA", "SIZE", "SECTOR",
              "FS", "LABEL", "MOUNT", "STATE", "DISPLAY NAME");
  for (CVolume* v : volumes) {
    auto dash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
    const std::string name = v->KernelName.empty() ? v->DevicePath : v->KernelName;
    std::printf("%-12s %-12s %-9s %15llu %6u %-8s %-16s %-20s %-8s %s\n", name.c_str(), CVolume::KindText(v->Kind),
                CVolume::MediaTypeText(v->MediaType), static_cast<unsigned long long>(v->Size), v->BytesPerSector,
                dash(FileSystemOf(*v)).c_str(), dash(v->Label).c_str(), dash(v->MountPoint).c_str(),
                CVolume::StateText(v->State.load()), v->DisplayNameText().c_str());
  }
}

// One line on standard error naming the devices the user may not read.
void ReportRefusals(const std::vector<CVolume*>& volumes) {
  std::string names;
  for (CVolume* v : volumes)
    if (v->OpenError.load() == EACCES || v->OpenError.load() == EPERM)
      names += (names.empty() ? "" : ", ") + v->DevicePath;
  if (names.empty()) return;
  if (::geteuid() == 0) {
    std::fprintf(stderr, "quillmore-cli drives: the system refuses reading %s, even to root\n", names.c_str());
    return;
  }
  std::fprintf(stderr,
               "quillmore-cli drives: permission denied reading %s; reading disks needs root or membership in "
               "the group 'disk' (sudo usermod -aG disk $USER, then log in again)\n",
               names.c_str());
}

// Prints each arrival and removal until interrupted (or `limit` events).
int Watch(bool json, long limit) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  // Blocked before the monitor's thread starts, so only sigtimedwait sees them.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::mutex outputMutex;
  std::atomic<long> seen{0};
  qm::CBlockDeviceMonitor monitor;
  int error = 0;
  const bool started = monitor.Start(
      [&](const qm::BlockDeviceEvent& event) {
        theComputer().OnDeviceChange(event);
        std::lock_guard lock(outputMutex);
        const bool arrival = event.Change == qm::MediaChange::Arrival;
        const char* type = event.IsPartition ? "partition" : "disk";
        if (json) {
          nlohmann::json j{{"event", arrival ? "arrival" : "removal"}, {"name", event.Name}, {"type", type}};
          std::printf("%s\n", j.dump().c_str());
        } else {
          std::printf("%s %s (%s)\n", arrival ? "arrival" : "removal", event.Name.c_str(), type);
        }
        std::fflush(stdout);
        ++seen;
      },
      &error);
  if (!started) {
    std::fprintf(stderr, "quillmore-cli drives: cannot listen for device events: %s\n", std::strerror(error));
    return EXIT_FAILED;
  }
  std::fprintf(stderr, "quillmore-cli drives: watching for disks and media (%s events); Ctrl+C ends\n",
               monitor.Source().c_str());
  const timespec slice{0, 200 * 1000 * 1000};
  while (limit <= 0 || seen.load() < limit) {
    if (sigtimedwait(&stopSignals, nullptr, &slice) > 0) break;
  }
  monitor.Stop();
  return EXIT_OK;
}

int RunDrives(const std::vector<std::string>& args) {
  bool json = false, watch = false;
  long limit = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") json = true;
    else if (args[i] == "--watch") watch = true;
    else if (args[i] == "--events" && i + 1 < args.size()) limit = std::strtol(args[++i].c_str(), nullptr, 10);
    else {
      std::fprintf(stderr, "quillmore-cli drives: unexpected argument '%s'\n", args[i].c_str());
      return EXIT_USAGE;
    }
  }
  CliStartup();
  CLocalComputer& computer = theComputer();
  if (const char* sys = std::getenv("QUILLMORE_SYSFS_ROOT")) {
    const char* dev = std::getenv("QUILLMORE_DEV_ROOT");
    computer.SetDeviceRoots(sys, dev ? dev : "/dev");
  }
  computer.Rescan();
  const std::vector<CVolume*> volumes = computer.Volumes.Snapshot();
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (CVolume* v : volumes) list.push_back(DriveJson(*v));
    // With --watch the list is one line, like the events after it.
    std::printf("%s\n", nlohmann::json{{"drives", list}}.dump(watch ? -1 : 2).c_str());
  } else {
    PrintTable(volumes);
  }
  std::fflush(stdout);
  ReportRefusals(volumes);
  return watch ? Watch(json, limit) : EXIT_OK;
}

CliCommandRegistrar registrar({"drives", "drives [--json] [--watch [--events N]]",
                               "list the disks and partitions; --watch prints media arriving and going away",
                               RunDrives});

}  // namespace
