// The drive list's scan: the whole disks of the computer, then their
// partitions, then the images kept from before, each disk and partition
// queried on an information thread of its own.
//
// Disks are the whole-disk block devices of sysfs (sd*, nvme*, mmcblk*, vd*,
// xvd*, and loop devices with a file attached), numbered in name order;
// partitions are the kernel's own partition devices of each disk. There is
// no further probe of storage adapters: an adapter (/sys/class/scsi_host)
// is not a device that can be read, and every disk behind one is already
// listed as a disk of its own.
#include <sys/sysmacros.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "engine/analysis/analysis_driver.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/block_devices.h"
#include "services/format.h"

namespace {

// Bound on the wait for the information threads of one scan (a device that
// hangs is not waited for beyond it; its volume stays Querying).
constexpr uint32_t kInformationWaitMs = 6000;
constexpr uint32_t kRescanWaitMs = 15000;

// Counts the information threads still running.
class CInformationThreads {
public:
  void Started() {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  void Ended() {
    std::lock_guard lock(mutex_);
    if (--running_ == 0) cv_.notify_all();
  }
  void WaitAll(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return running_ == 0; });
  }

private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int running_ = 0;
};

bool IsAnalysed(CVolume* volume, const std::vector<CVolume*>& queue) {
  const int32_t state = volume->State.load();
  return state == StateScanningSectors || state == StateAnalysingFileSystem || analysis_threads::IsLive(volume) ||
         std::find(queue.begin(), queue.end(), volume) != queue.end();
}

}  // namespace

void CLocalComputer::SetDeviceRoots(const std::string& sysRoot, const std::string& devRoot) {
  std::lock_guard lock(scanMutex_);
  sysRoot_ = sysRoot;
  devRoot_ = devRoot;
}

size_t CLocalComputer::Rescan() {
  std::shared_ptr<qm::CEvent> done;
  {
    std::lock_guard lock(scanMutex_);
    if (!scanDone_ || scanDone_->IsSet()) {
      if (scanThread_.joinable()) scanThread_.join();
      scanDone_ = std::make_shared<qm::CEvent>(true, false);
      scanThread_ = std::thread([this, event = scanDone_] {
        try {
          ScanDrives();
        } catch (...) {
          Log.AddError("CLocalComputer::Scan except");
        }
        event->Set();
      });
    }
    done = scanDone_;
  }
  // A scan that takes longer goes on; the list is safe to read meanwhile.
  done->Wait(kRescanWaitMs);
  return Volumes.GetCount();
}

void CLocalComputer::ScanDrives() {
  std::string sysRoot, devRoot;
  {
    std::lock_guard lock(scanMutex_);
    sysRoot = sysRoot_;
    devRoot = devRoot_;
  }
  // Images and Virtual volumes stay, and so does a disk or partition under
  // analysis (its thread reads through it); everything else is made anew.
  const std::vector<CVolume*> queue = AnalysisQueue();
  std::vector<std::unique_ptr<CVolume>> kept, busyDevices, retired;
  for (auto& volume : Volumes.TakeAll()) {
    if (volume->Kind == VolumeImage || volume->Kind == VolumeVirtual) kept.push_back(std::move(volume));
    else if ((volume->Kind == VolumePhysical || volume->Kind == VolumeLogical) && IsAnalysed(volume.get(), queue))
      busyDevices.push_back(std::move(volume));
    else retired.push_back(std::move(volume));
  }
  std::set<const CVolume*> gone;
  for (const auto& v : retired) gone.insert(v.get());
  for (auto* list : {&kept, &busyDevices})
    for (auto& v : *list) {
      auto& c = v->Children;
      c.erase(std::remove_if(c.begin(), c.end(), [&](CVolume* child) { return gone.count(child) > 0; }), c.end());
      if (gone.count(v->Parent)) {
        // A Virtual volume keeps reading the device its parent read.
        v->GetDevicePath();
        v->Parent = v.get();
      }
    }
  for (CVolume* selected : {CurrentVolume(), SelectedVolume()})
    if (gone.count(selected)) {
      if (selected == CurrentVolume()) SetCurrentVolume(nullptr);
      if (selected == SelectedVolume()) SetSelectedVolume(nullptr);
    }
  // A volume whose information thread still runs (a device that hangs) is
  // put aside until the thread ends: destroying it would wait for it.
  auto querying = [](const std::unique_ptr<CVolume>& v) { return v->State.load() == StateQuerying; };
  std::erase_if(stillQuerying_, [&](const auto& v) { return !querying(v); });
  for (auto& v : retired)
    if (querying(v)) stillQuerying_.push_back(std::move(v));
  std::erase(retired, nullptr);

  // Shared with the threads: one that outlives the bounded wait still ends.
  auto threads = std::make_shared<CInformationThreads>();
  CVolume* disk = nullptr;
  int diskNumber = -1;
  for (const qm::BlockDeviceInfo& device : qm::EnumerateBlockDevices(sysRoot)) {
    if (!device.IsPartition) ++diskNumber;
    const std::string path = devRoot + "/" + device.Name;
    auto busy = std::find_if(busyDevices.begin(), busyDevices.end(),
                             [&](const auto& v) { return v->DevicePath == path; });
    CVolume* volume;
    if (busy != busyDevices.end()) {
      volume = busy->get();
      volume->Children.clear();
      Volumes.Append(std::move(*busy));
      busyDevices.erase(busy);
    } else {
      auto made = std::make_unique<CVolume>(device.IsPartition ? VolumeLogical : VolumePhysical);
      volume = made.get();
      volume->ObjectID = NextVolumeId();
      volume->KernelName = device.Name;
      volume->DevicePath = path;
      volume->Removable = device.Removable;
      volume->Vendor = device.Vendor;
      volume->Model = device.Model;
      volume->MediaType = device.Removable ? 2 : 3;
      volume->Size = device.SizeSectors * 512;
      volume->IsBlockDevice = true;
      volume->SourceDeviceId = makedev(device.Major, device.Minor);
      volume->DeviceNumber.DeviceNumber = static_cast<uint32_t>(diskNumber);
      volume->DeviceNumber.PartitionNumber = device.PartitionNumber;
      if (device.IsPartition) {
        auto& entry = volume->Layout.Entries[0];
        volume->Layout.PartitionCount = 1;
        entry.StartingOffset = static_cast<int64_t>(device.StartSector * 512);
        entry.PartitionLength = static_cast<int64_t>(device.SizeSectors * 512);
        entry.PartitionNumber = device.PartitionNumber;
      } else {
        const std::string product = CVolume::ProductText(device.Vendor, device.Model);
        volume->Description = product.empty() ? qm::Format("Drive %d", diskNumber) : product;
        volume->State = StateReady;
      }
      Volumes.Append(std::move(made));
      threads->Started();
      volume->StartInformationThread([threads] { threads->Ended(); });
    }
    if (device.IsPartition && disk && disk->KernelName == device.DiskName) {
      volume->Parent = disk;
      disk->Children.push_back(volume);
    } else if (!device.IsPartition) {
      disk = volume;
    }
  }
  // Every information thread is waited for, together and bounded; nothing
  // more once they have ended.
  threads->WaitAll(kInformationWaitMs);
  // Disks under analysis that are no longer there, then the kept images.
  for (auto* list : {&busyDevices, &kept})
    for (auto& v : *list) Volumes.Append(std::move(v));
  retired.clear();  // once the new list stands
}
