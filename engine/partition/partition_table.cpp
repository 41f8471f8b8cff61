// The walk over MBR and extended partition tables is not built yet: a volume
// read as a partition table yields no found volumes for now. Analyse_Boot
// calls in here for every volume whose first sector is not a file-system
// boot sector.
#include "engine/partition/partition_table.h"

void WalkPartitionTable(CVolume&, uint32_t) {}
