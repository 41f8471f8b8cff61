// The partition walk over a whole disk: the MBR with its extended chain, or
// the GPT behind a protective entry (primary header, else the backup), each
// partition entered in the drive list as a Found volume, and each of those
// volumes' own boot sector read, as opening a disk does.
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "engine/volume/local_computer.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Setup();
  CLocalComputer& computer = theComputer();
  {
    auto disk = qmfuzz::VolumeOver(data, size, VolumePhysical);
    disk->ObjectID = computer.NextVolumeId();
    disk->Volume = disk.get();
    CVolume* walked = disk.get();
    computer.Volumes.Append(std::move(disk));
    walked->Analyse_Boot();
    for (CVolume* found : walked->ChildVolumes()) found->Analyse_Boot();
  }
  // The list holds the disk and what its walk added; children go first.
  std::vector<std::unique_ptr<CVolume>> volumes = computer.Volumes.TakeAll();
  while (!volumes.empty()) volumes.pop_back();
  qmfuzz::EndInput();
  return 0;
}
