// The volume search's side of a found boot sector: deciding whether it is a
// volume's own first sector or the backup copy a FAT32 or NTFS volume keeps,
// and handing the volume's true start to AddFoundVolume.
#pragma once

#include <cstdint>

class CVolume;

// A boot sector of file system `fileSystemId` (1, 4, 7, 11) that the sector
// scan met at `byteOffset` of `volume`:
//  - the backup of a volume whose own boot sector is intact names that
//    volume (found, or confirmed when found before), not a volume of its own;
//  - the backup of a volume whose own boot sector is missing or damaged
//    makes the volume at its true start, read from the copy, with a log line;
//  - any other boot sector makes (or confirms) the volume it starts.
void OfferFoundBootSector(CVolume& volume, uint64_t byteOffset, uint32_t fileSystemId);
