// The partition-table walk: a volume whose first sector holds no file-system
// boot sector is read as an MBR partition table whose entries (extended
// partitions included) become found volumes.
#pragma once

#include <cstdint>

class CVolume;

// Walks the table in sector `baseSector` of the volume (0 for the volume's
// own first sector; extended partitions call it again for nested tables).
void WalkPartitionTable(CVolume& volume, uint32_t baseSector);
