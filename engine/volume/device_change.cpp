// Media arriving and going away: the volumes of that device change state,
// the reading loops waiting at their gate go on, and the views refresh.
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/block_device_monitor.h"
#include "platform/messages.h"
#include "services/app.h"

void CLocalComputer::OnDeviceChange(const qm::BlockDeviceEvent& event) {
  const bool arrival = event.Change == qm::MediaChange::Arrival;
  for (CVolume* volume : Volumes.Snapshot()) {
    if (volume->KernelName != event.Name) continue;
    if (arrival) volume->MediumArrived();
    else volume->MediumRemoved();
  }
  // Linux has no drive letters: the kernel name stands in the lines.
  if (arrival) Log.Message("Volume %s: Medium connected!", event.Name);
  else Log.Message("Drive %s: Medium removed!", event.Name);
  // lParam stays 0: a record of the event would not outlive the post.
  if (IMessageTarget* window = theApp().MainWindow.load())
    window->PostMessage(WM_MEDIA_CHANGED, static_cast<uintptr_t>(event.Change), 0);
}
