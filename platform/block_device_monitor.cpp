#include "platform/block_device_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/block_devices.h"

namespace qm {

std::optional<BlockDeviceEvent> CMediaEventFilter::Interpret(const RawBlockEvent& raw) {
  const bool partition = raw.DevType == "partition";
  if (!IsListedDiskName(raw.Name)) return std::nullopt;
  bool nowPresent;
  if (raw.Action == "remove") nowPresent = false;
  else if (raw.Action == "add" || raw.Action == "change") nowPresent = raw.SizeSectors > 0;
  else return std::nullopt;  // "bind", "move", "online"...

  auto it = present_.find(raw.Name);
  const bool known = it != present_.end();
  const bool wasPresent = known && it->second;
  present_[raw.Name] = nowPresent;
  // An unknown device that is absent (an empty reader, an unattached loop
  // device) has not gone anywhere; a known one only counts when it changed.
  if (known ? wasPresent == nowPresent : !nowPresent && raw.Action != "remove") return std::nullopt;
  BlockDeviceEvent event;
  event.Change = nowPresent ? MediaChange::Arrival : MediaChange::Removal;
  event.Name = raw.Name;
  event.IsPartition = partition;
  return event;
}

void CMediaEventFilter::Seed(const std::vector<std::string>& presentNames) {
  for (const auto& name : presentNames) present_[name] = true;
}

struct CBlockDeviceMonitor::Handles {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Handles() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
};

CBlockDeviceMonitor::CBlockDeviceMonitor() = default;
CBlockDeviceMonitor::~CBlockDeviceMonitor() { Stop(); }

bool CBlockDeviceMonitor::Start(Callback callback, int* error) {
  Stop();
  auto fail = [&](int e) {
    if (error) *error = e ? e : EIO;
    handles_.reset();
    return false;
  };
  handles_ = std::make_unique<Handles>();
  handles_->context = udev_new();
  if (!handles_->context) return fail(errno);
  // Without a udev daemon nobody re-broadcasts the kernel's events: listen
  // to the kernel itself.
  std::error_code ec;
  source_ = std::filesystem::exists("/run/udev/control", ec) ? "udev" : "kernel";
  handles_->monitor = udev_monitor_new_from_netlink(handles_->context, source_.c_str());
  if (!handles_->monitor) return fail(errno);
  if (udev_monitor_filter_add_match_subsystem_devtype(handles_->monitor, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(handles_->monitor) < 0)
    return fail(errno);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return fail(errno);
  callback_ = std::move(callback);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void CBlockDeviceMonitor::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    const uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) < 0) {
      // The thread still sees stop_ at its next event.
    }
    thread_.join();
  }
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
  handles_.reset();
}

void CBlockDeviceMonitor::Run() {
  CMediaEventFilter filter;
  std::vector<std::string> present;
  for (const auto& device : EnumerateBlockDevices())
    if (device.SizeSectors > 0) present.push_back(device.Name);
  filter.Seed(present);
  const int fd = udev_monitor_get_fd(handles_->monitor);
  while (!stop_) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (stop_ || (fds[1].revents & POLLIN)) break;
    if (!(fds[0].revents & POLLIN)) continue;
    udev_device* device = udev_monitor_receive_device(handles_->monitor);
    if (!device) continue;
    RawBlockEvent raw;
    auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
    raw.Action = text(udev_device_get_action(device));
    raw.Name = text(udev_device_get_sysname(device));
    raw.DevType = text(udev_device_get_devtype(device));
    // Read from sysfs now: a removed device has no size any more.
    raw.SizeSectors = std::strtoull(text(udev_device_get_sysattr_value(device, "size")).c_str(), nullptr, 10);
    udev_device_unref(device);
    if (auto event = filter.Interpret(raw)) {
      try {
        callback_(*event);
      } catch (...) {
        // A failing listener must not end the monitor.
      }
    }
  }
}

}  // namespace qm
