// The boot area of a volume: reading its first two sectors, detecting the
// file system from them and taking the volume's geometry and serial number
// from the boot sector where the device did not supply them.
#include <filesystem>
#include <system_error>

#include "engine/filesystems/file_system.h"
#include "engine/filesystems/little_endian.h"
#include "engine/volume/volume.h"
#include "services/log.h"

namespace {
using le::U16;
using le::U32;
using le::U64;

enum class BootGroup { Fat1216, Ntfs, Fat32, ExFat, Ignored, PartitionTable, Unknown };

BootGroup GroupOf(uint32_t id) {
  switch (id) {
    case 1: case 4: case 6: case 14: case 17: case 134: return BootGroup::Fat1216;
    case 7: case 135: return BootGroup::Ntfs;
    case 11: case 12: case 139: case 140: return BootGroup::Fat32;
    case EXFAT_FILE_SYSTEM_ID: return BootGroup::ExFat;
    case 240: return BootGroup::Ignored;
    case 0: return BootGroup::PartitionTable;
    default: return BootGroup::Unknown;
  }
}
}  // namespace

uint32_t CVolume::ReadBoot() {
  BootBuffer.fill(0);
  // A volume found by the backup copy of its boot sector reads the copy.
  const uint64_t first = Origin.BootSector;
  uint32_t got = ReadSectors(BootBuffer.data(), first, static_cast<uint64_t>(2));
  // A volume of a single readable sector (or a copy in its last sector)
  // still has a boot sector.
  if (got == 0) got = ReadSectors(BootBuffer.data(), first, static_cast<uint64_t>(1));
  if (got == 0) theLog().Error("Can't read boot sector on [%s]", GetDisplayName());
  return got;
}

uint32_t CVolume::Analyse_Boot() {
  if (ReadBoot() < 512) return E_FAIL_CODE;
  try {
    const uint8_t* boot = BootBuffer.data();
    const uint32_t id = FileSystem().DetectType(boot);
    FileSystem().FileSystemType = id;
    FileSystem().GetFileSystemName(id);
    if (id != 0 && boot[0x0D] != 0) SectorsPerCluster = boot[0x0D];

    auto takeTotalSectors = [&](const char* assertion) {
      if (TotalSectors != 0) return;
      const uint32_t large = U32(boot + 0x20);
      TotalSectors = large ? large : U16(boot + 0x13);
      if (TotalSectors == 0) theLog().AddError(assertion);
    };
    switch (GroupOf(id)) {
      case BootGroup::Fat1216:
        if (uint32_t serial = U32(boot + 0x27)) SerialNumber = (SerialNumber & ~0xFFFFFFFFull) | serial;
        takeTotalSectors("boot_fat16->BPB.Large_Sectors == 0 && boot_fat16->BPB.Small_Sectors == 0");
        break;
      case BootGroup::Ntfs:
        if (U32(boot + 0x4C) != 0) SerialNumber = U64(boot + 0x48);
        break;
      case BootGroup::Fat32:
        if (uint32_t serial = U32(boot + 0x43)) SerialNumber = (SerialNumber & ~0xFFFFFFFFull) | serial;
        takeTotalSectors("boot_fat32->BPB.Large_Sectors == 0 && boot_fat32->BPB.Small_Sectors == 0");
        break;
      case BootGroup::ExFat: {
        // Sizes as powers of two; the parser checks them again with the
        // whole boot region.
        const uint8_t bpsShift = boot[0x6C], spcShift = boot[0x6D];
        if (uint32_t serial = U32(boot + 0x64)) SerialNumber = (SerialNumber & ~0xFFFFFFFFull) | serial;
        if (bpsShift >= 9 && bpsShift <= 12 && spcShift <= 25 - bpsShift) {
          BytesPerSector = 1u << bpsShift;
          SectorsPerCluster = 1u << spcShift;
          if (TotalSectors == 0) TotalSectors = U64(boot + 0x48) << (bpsShift - 9);
        }
        break;
      }
      case BootGroup::Ignored:
        break;
      case BootGroup::PartitionTable:
        WalkPartitionTable(0);
        break;
      case BootGroup::Unknown:
        theLog().AddError("CVolume::Analyse_Boot.Unknow filesystem ID");
        break;
    }

    if (Kind == VolumeImage && !DevicePath.empty()) {
      // The disk the image holds: for a container format that is not the
      // file's own size.
      const uint64_t bytes = SourceSizeBytes();
      if (bytes != 0) {
        Size = bytes;
        TotalSectors = Size / 512;
      }
    }
    if (Size == 0 && TotalSectors != 0) Size = TotalSectors * 512;
    if (TotalClusters == 0 && TotalSectors != 0 && SectorsPerCluster != 0)
      TotalClusters = TotalSectors / SectorsPerCluster;
  } catch (...) {
    theLog().AddError("CVolume::Analyse_Boot.except: ParseBoot");
    return 1;
  }
  BytesPerCluster = SectorsPerCluster * BytesPerSector;
  return 1;
}
