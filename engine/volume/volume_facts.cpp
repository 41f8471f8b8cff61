// What the system's own libraries say about a disk or partition of the
// drive list, gathered on the volume's information thread.
#include <sys/sysmacros.h>

#include "engine/filesystems/file_system.h"
#include "engine/volume/volume.h"
#include "platform/block_devices.h"
#include "platform/system.h"
#include "services/log.h"

void CVolume::QuerySystemFacts() {
  const qm::BlockIdFacts id = qm::ProbeBlockId(GetDevicePath());
  if (id.Probed) {
    FileSystemText = id.Type;
    Uuid = id.Uuid;
    if (!id.Label.empty()) Label = id.Label;
    if (id.Serial) SerialNumber = id.Serial;
  }
  if (IsBlockDevice) {
    MountPoint = qm::FindMountPoint(major(SourceDeviceId), minor(SourceDeviceId));
    FreeBytes = qm::FreeBytesAt(MountPoint);
  }
}

void CVolume::StartInformationThread(std::function<void()> done) {
  if (infoThread_.joinable()) infoThread_.join();
  infoThread_ = std::thread([this, done = std::move(done)] {
    qm::SetLowestThreadPriority();
    try {
      QueryInformation();
    } catch (...) {
      theLog().AddError("CVolume::QueryInformation except");
    }
    if (done) done();
  });
}
