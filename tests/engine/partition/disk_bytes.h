// Helpers of the partition tests: a disk volume over bytes in the volume
// list, and log counting (and the little-endian writers for crafting sectors).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/log.h"
#include "tests/support/le_bytes.h"

namespace qmtest {


// Log lines from line `mark` on that contain `text`.
inline int LogCount(size_t mark, const std::string& text) {
  auto lines = theLog().Lines();
  int n = 0;
  for (size_t i = mark; i < lines.size(); ++i) n += lines[i].find(text) != std::string::npos;
  return n;
}

// A disk volume of the volume list over `bytes`; `totalSectors` may claim
// more than the bytes hold (a large disk whose far sectors are never read).
inline CVolume* ListDisk(const std::vector<uint8_t>& bytes, uint64_t totalSectors = 0,
                         VolumeKind kind = VolumeImage) {
  auto v = std::make_unique<CVolume>(kind);
  auto device = std::make_shared<CMemoryDevice>(bytes);
  device->SetCompleteAtOnce(true);
  v->AttachDevice(device);
  v->ObjectID = theComputer().NextVolumeId();
  v->TotalSectors = totalSectors ? totalSectors : bytes.size() / 512;
  v->Size = v->TotalSectors * 512;
  CVolume* raw = v.get();
  theComputer().Volumes.Append(std::move(v));
  return raw;
}

}  // namespace qmtest
