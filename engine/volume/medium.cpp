// A volume's medium going away and coming back: the state, the log lines and
// the gate that the reading loops of an analysis wait at meanwhile.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/volume/volume.h"
#include "services/log.h"

namespace {
bool IsAnalysisState(int32_t state) { return state == StateScanningSectors || state == StateAnalysingFileSystem; }

// Errors a read gives once the device or its medium is gone.
bool MeansMediumGone(int error) { return error == ENOMEDIUM || error == ENODEV || error == ENXIO; }
}  // namespace

CVolume& CVolume::MediaSource() {
  CVolume* v = this;
  for (int depth = 0; depth < 64 && (v->Kind == VolumeFound || v->Kind == VolumeVirtual) && v->Parent &&
                      v->Parent != v;
       ++depth)
    v = v->Parent;
  return *v;
}

bool CVolume::MediumPresent() const { return mediaGate_.IsOpen(); }

bool CVolume::MediumRemoved() {
  if (!mediaGate_.Close()) return false;
  stateBeforeRemoval_ = State.load();
  State = StateNotReady;
  return true;
}

bool CVolume::MediumArrived() {
  const int32_t before = stateBeforeRemoval_.load();
  // An analysis that waited at the gate goes on; an idle volume is Ready.
  State = IsAnalysisState(before) ? before : StateReady;
  stateBeforeRemoval_ = StateReady;
  // The old handle belongs to the device that went away.
  Close();
  return mediaGate_.Open();
}

bool CVolume::DeviceHasMedium() const {
  if (attached_ || DevicePath.empty()) return true;  // only events tell
  const int fd = ::open(DevicePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  uint64_t bytes = 0;
  const bool answers = ::ioctl(fd, BLKGETSIZE64, &bytes) != 0 || bytes > 0;  // a file has no BLKGETSIZE64
  ::close(fd);
  return answers;
}

bool CVolume::WaitForMedium(const std::function<bool()>& keepWaiting) {
  CVolume& source = MediaSource();
  const int error = lastReadError_.exchange(0);
  const bool gone = !source.mediaGate_.IsOpen() || MeansMediumGone(error) ||
                    (source.IsBlockDevice && !source.DeviceHasMedium());
  if (!gone) return false;
  const std::string name = source.KernelName.empty() ? source.DisplayNameText() : source.KernelName;
  if (source.MediumRemoved()) theLog().Message("Drive %s: Medium removed!", name);
  if (&source != this) {
    stateBeforeRemoval_ = State.load();
    State = StateNotReady;
  }
  // Without a device monitor (the command line's scan) the medium is asked
  // for now and then; an attached device (tests) hears only events.
  const bool polled = source.IsBlockDevice && !source.attached_;
  const bool back = source.mediaGate_.WaitOpen(keepWaiting, 250, polled ? std::function<bool()>([&source] {
    return source.DeviceHasMedium();
  })
                                                                        : nullptr);
  if (!back) return false;
  if (source.State.load() == StateNotReady) {
    // The gate was opened by the poll, not by an event.
    theLog().Message("Volume %s: Medium connected!", name);
    source.mediaGate_.Close();
    source.MediumArrived();
  }
  if (&source != this) {
    const int32_t before = stateBeforeRemoval_.load();
    State = IsAnalysisState(before) ? before : StateReady;
  }
  Close();
  return true;
}
