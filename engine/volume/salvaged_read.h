// What a salvaging read of a range of sectors delivered (CVolume::
// ReadSectorsSalvaging): a bad sector costs that sector, not the range.
#pragma once

#include <cstdint>

struct SalvagedRead {
  // Sectors of the range that have a content: all asked for, fewer only at
  // the end of the device.
  uint64_t Sectors = 0;
  // Of those, the sectors that could not be read; they hold zeros.
  uint64_t Unreadable = 0;
  // The device timed out or is gone: the caller should stop, not read on.
  bool DeviceLost = false;
};
