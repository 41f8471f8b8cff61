// Disks and partitions arriving and going away, from a libudev monitor of
// the block subsystem: the udev daemon's events where one runs, else the
// kernel's own uevents.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qm {

// The two device events the drive list reacts to (the values of the
// platform's arrival and remove-complete broadcasts).
enum class MediaChange : uint32_t { Arrival = 0x8000, Removal = 0x8004 };

struct BlockDeviceEvent {
  MediaChange Change = MediaChange::Arrival;
  std::string Name;  // kernel name: "sdb", "sdb1", "loop3"
  bool IsPartition = false;
};

// One uevent as the kernel (or udev) reports it.
struct RawBlockEvent {
  std::string Action;   // "add", "remove", "change"
  std::string Name;     // kernel name
  std::string DevType;  // "disk" or "partition"
  uint64_t SizeSectors = 0;  // the device's size at the time of the event
};

// Turns uevents into arrivals and removals. A disk counts as present while
// it has a non-zero size, so that a card taken out of a reader or a loop
// device detached (both "change" events) is a removal, and a re-read
// partition table on a present disk is no event at all. Devices the drive
// list does not show are ignored.
class CMediaEventFilter {
public:
  std::optional<BlockDeviceEvent> Interpret(const RawBlockEvent& raw);
  // Devices present when listening starts: a later "change" of one of them
  // that leaves it present is no arrival.
  void Seed(const std::vector<std::string>& presentNames);

private:
  std::map<std::string, bool> present_;
};

class CBlockDeviceMonitor {
public:
  using Callback = std::function<void(const BlockDeviceEvent&)>;
  CBlockDeviceMonitor();
  ~CBlockDeviceMonitor();
  CBlockDeviceMonitor(const CBlockDeviceMonitor&) = delete;
  CBlockDeviceMonitor& operator=(const CBlockDeviceMonitor&) = delete;

  // Starts listening on a thread of its own; `callback` runs on that
  // thread. False (with the errno in *error) when no monitor could be made.
  bool Start(Callback callback, int* error = nullptr);
  void Stop();
  // "udev" or "kernel": whose events are heard.
  const std::string& Source() const { return source_; }

private:
  void Run();

  Callback callback_;
  std::string source_;
  struct Handles;
  std::unique_ptr<Handles> handles_;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qm
