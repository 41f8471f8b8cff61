// Where a Found volume came from: the partition table entry that named it,
// or the lost-partition search that met its boot sector.
#pragma once

#include <cstdint>
#include <string>

enum class PartitionScheme : uint8_t {
  None,        // not a partition (a disk, an image, a mounted volume)
  MbrPrimary,  // an entry of the table in the first sector
  MbrLogical,  // an entry of an extended partition's table
  Gpt,         // an entry of a GUID partition table
  Search,      // a boot sector the volume search met
};

struct PartitionOrigin {
  PartitionScheme Scheme = PartitionScheme::None;
  // The entry's number in its table, from 1 (GPT: the entry's slot).
  uint32_t EntryNumber = 0;
  // The MBR partition type of the entry (0 for GPT and the search).
  uint8_t MbrType = 0;
  // 512-byte sectors the entry claims (0: not known, as for the search).
  uint64_t SectorCount = 0;
  // GPT only: the partition type GUID in its usual text form and the
  // entry's name.
  std::string TypeGuid;
  std::string Name;
  // The volume was found by the backup copy of its boot sector, its own
  // first sector being missing or damaged; BootSector is then the copy's
  // sector in the volume, where the boot sector is read from.
  bool FromBackupBoot = false;
  uint64_t BootSector = 0;
};

// "MBR primary", "MBR logical", "GPT", "found by search", or "" for None.
const char* PartitionSchemeText(PartitionScheme scheme);
