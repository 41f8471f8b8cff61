// A volume's medium going away and coming back: the state, the log lines and
// the gate that the reading loops of an analysis wait at meanwhile.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "engine/volume/volume.h"
#include "services/app.h"
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

bool CVolume::MediumGoneAfter(int error) {
  CVolume& source = MediaSource();
  return !source.mediaGate_.IsOpen() || MeansMediumGone(error) ||
         (source.IsBlockDevice && !source.DeviceHasMedium());
}

bool CVolume::WaitForMedium(const std::function<bool()>& keepWaiting) {
  CVolume& source = MediaSource();
  const std::string name = source.KernelName.empty() ? source.DisplayNameText() : source.KernelName;
  if (source.MediumRemoved()) theLog().Message("Drive %s: Medium removed!", name);
  if (&source != this) {
    stateBeforeRemoval_ = State.load();
    State = StateNotReady;
  }
  const uint32_t limitMs = source.MediumWaitLimitMs.load();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  bool givenUp = false;
  auto goOn = [&] {
    if (keepWaiting ? !keepWaiting() : theApp().AnalysisRunning.load() == 0) return false;
    givenUp = std::chrono::steady_clock::now() >= deadline;
    return !givenUp;
  };
  // Without a device monitor (the command line) a block device is asked for
  // now and then; an attached device (tests) hears only events.
  std::function<bool()> poll;
  if (source.IsBlockDevice && !source.attached_) {
    poll = [&source, &name] {
      if (!source.DeviceHasMedium()) return false;
      if (source.MediumArrived()) theLog().Message("Volume %s: Medium connected!", name);
      return true;
    };
  }
  const bool back = source.mediaGate_.WaitOpen(goOn, std::clamp<uint32_t>(limitMs, 1, 250), poll);
  if (!back) {
    if (givenUp)
      theLog().Error("Drive %s: the medium did not come back within %d s; reading it ends", name, limitMs / 1000);
    return false;
  }
  if (&source != this) {
    const int32_t before = stateBeforeRemoval_.load();
    State = IsAnalysisState(before) ? before : StateReady;
  }
  Close();
  return true;
}
