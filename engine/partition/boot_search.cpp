#include "engine/partition/boot_search.h"

#include <cstring>

#include "engine/catalog/found_object.h"
#include "engine/filesystems/file_system.h"
#include "engine/partition/boot_sector.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/log.h"

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }
uint64_t U64(const uint8_t* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }

bool ReadSector(CVolume& volume, uint64_t byteOffset, uint8_t (&sector)[512]) {
  return volume.ReadSectors(sector, byteOffset / 512, static_cast<uint64_t>(1)) == 512;
}

uint64_t Serial(const uint8_t* boot, uint32_t id) { return id == 7 ? U64(boot + 0x48) : U32(boot + 0x43); }

// True when the metadata that `boot` describes lies where it should for a
// volume starting at `start`: the first FAT entry (the media byte, then all
// ones) for FAT32, a file record at the MFT's first cluster for NTFS.
bool MetadataInPlace(CVolume& volume, uint64_t start, const uint8_t* boot, uint32_t id) {
  const uint64_t bytesPerSector = U16(boot + 0x0B);
  uint8_t sector[512];
  if (id == 11) {
    const uint64_t fat = start + U16(boot + 0x0E) * bytesPerSector;
    if (!ReadSector(volume, fat, sector)) return false;
    return sector[0] == boot[0x15] && sector[1] == 0xFF && sector[2] == 0xFF && (sector[3] & 0x0F) == 0x0F;
  }
  if (id == 7) {
    const uint8_t raw = boot[0x0D];
    const uint64_t spc = raw <= 0x80 ? raw : (raw >= 0xF4 ? 1ull << (256 - raw) : 0);
    const uint64_t mft = U64(boot + 0x30);
    if (spc == 0 || mft > (1ull << 40)) return false;
    if (!ReadSector(volume, start + mft * spc * bytesPerSector, sector)) return false;
    return std::memcmp(sector, "FILE", 4) == 0;
  }
  return false;
}

void Offer(CVolume& volume, uint64_t start, uint32_t id, const PartitionOrigin& origin) {
  CFoundObject record;
  record.ParentID = volume.ObjectID;
  record.StartOffset = start;
  record.FileType = static_cast<int16_t>(id);
  theComputer().AddFoundVolume(record, origin);
}

}  // namespace

void OfferFoundBootSector(CVolume& volume, uint64_t byteOffset, uint32_t id) {
  PartitionOrigin origin;
  origin.Scheme = PartitionScheme::Search;
  uint8_t boot[512];
  const uint64_t distance = byteOffset % 512 == 0 && ReadSector(volume, byteOffset, boot) ? BackupBootDistance(boot, id) : 0;
  if (distance != 0 && distance <= byteOffset / 512) {
    const uint64_t start = byteOffset - distance * 512;
    uint8_t primary[512];
    const bool primaryRead = ReadSector(volume, start, primary);
    if (primaryRead && volume.FileSystem().DetectType(primary) == id && Serial(primary, id) == Serial(boot, id) &&
        BackupBootDistance(primary, id) == distance) {
      // The copy of an intact volume: the volume is the one its own boot
      // sector starts.
      Offer(volume, start, id, origin);
      return;
    }
    if (MetadataInPlace(volume, start, boot, id) && !MetadataInPlace(volume, byteOffset, boot, id)) {
      theLog().Message("Boot sector at %I64d is the backup copy of the %s volume at %I64d, whose own boot sector is "
                       "damaged: the volume is read from the copy",
                       byteOffset, CFileSystem::NameOf(id), start);
      origin.FromBackupBoot = true;
      origin.BootSector = distance;
      Offer(volume, start, id, origin);
      return;
    }
  }
  Offer(volume, byteOffset, id, origin);
}
