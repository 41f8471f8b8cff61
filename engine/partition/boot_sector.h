// What a file-system boot sector says about the volume it starts: its size,
// and where its backup copy lies (FAT32 keeps one at sector 6 of the volume,
// NTFS at the volume's last sector).
#pragma once

#include <cstdint>

// The volume's length in 512-byte sectors by its boot sector of file system
// `id` (1, 4, 11: FAT; 7: NTFS, its backup boot sector included); 0 when the
// sector does not tell.
uint64_t BootSectorVolumeSectors(const uint8_t* boot, uint32_t id);

// Sectors from the volume's first sector to the backup boot sector that
// this boot sector describes; 0 when there is none (FAT12/16) or the sector
// does not tell.
uint64_t BackupBootDistance(const uint8_t* boot, uint32_t id);
