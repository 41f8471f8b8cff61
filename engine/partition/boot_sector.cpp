#include "engine/partition/boot_sector.h"

namespace {
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }
uint64_t U64(const uint8_t* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }
// The boot sector's own sector size; the counts below are in its sectors.
uint64_t SectorUnits(const uint8_t* boot) {
  const uint16_t bytes = U16(boot + 0x0B);
  return (bytes >= 512 && bytes <= 4096 && (bytes & (bytes - 1)) == 0) ? bytes / 512 : 0;
}
}  // namespace

uint64_t BootSectorVolumeSectors(const uint8_t* boot, uint32_t id) {
  if (!boot) return 0;
  const uint64_t units = SectorUnits(boot);
  if (units == 0) return 0;
  switch (id) {
    case 1: case 4: case 11: {
      const uint32_t large = U32(boot + 0x20);
      return (large ? large : U16(boot + 0x13)) * units;
    }
    case 7: {
      const uint64_t sectors = U64(boot + 0x28);
      // Counts beyond any disk are damage, not a size.
      if (sectors == 0 || sectors > (1ull << 48)) return 0;
      return (sectors + 1) * units;
    }
    default: return 0;
  }
}

uint64_t BackupBootDistance(const uint8_t* boot, uint32_t id) {
  if (!boot) return 0;
  const uint64_t units = SectorUnits(boot);
  if (units == 0) return 0;
  if (id == 11) {
    const uint16_t backup = U16(boot + 0x32);
    const uint16_t reserved = U16(boot + 0x0E);
    // The copy lies in the reserved area, after the boot sector.
    return (backup != 0 && backup != 0xFFFF && backup < reserved) ? backup * units : 0;
  }
  if (id == 7) {
    const uint64_t sectors = U64(boot + 0x28);
    return (sectors != 0 && sectors <= (1ull << 48)) ? sectors * units : 0;
  }
  return 0;
}
