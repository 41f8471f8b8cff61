// The partition-table walk: a volume whose first sector holds no file-system
// boot sector is read as an MBR partition table. Its primary entries, the
// logical partitions of its extended partitions and the entries of a GUID
// partition table behind a protective entry become Found volumes through
// CLocalComputer::AddFoundVolume.
//
// The layout of extended partitions, as every partitioning tool writes it:
// the table in the first sector names one extended partition; its first
// sector holds a table of (normally) two entries: a logical partition,
// whose start counts from that table's own sector, and a link to the next
// such table, whose start counts from the first sector of the extended
// partition named in the first table. The chain is read on only while it
// moves to tables not read before and for at most kMaxExtendedTables
// tables, so a chain that links back on itself or runs on without end is
// cut with a log line instead of being followed forever.
#include <algorithm>
#include <set>

#include "engine/catalog/found_object.h"
#include "engine/filesystems/file_system.h"
#include "engine/partition/guid_partition_table.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/log.h"

namespace {

// More logical partitions than any tool makes (Linux numbers up to 255
// partitions on a disk).
constexpr uint32_t kMaxExtendedTables = 256;
constexpr uint8_t kProtectiveGpt = 0xEE;
// Tables inside found volumes inside found volumes: real disks nest a level
// or two (a disk image kept as a partition).
constexpr int kMaxFoundNesting = 8;

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F; }

struct MbrEntry {
  uint8_t Type = 0;
  uint32_t Start = 0;
  uint32_t Sectors = 0;
};

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

class CPartitionWalk {
public:
  explicit CPartitionWalk(CVolume& volume) : volume_(volume) {
    // A disk with 4096-byte logical sectors counts its table entries in
    // those sectors; every read here counts in 512-byte sectors.
    units_ = volume.Geometry.BytesPerSector == 4096 ? 8 : 1;
  }

  void WalkPrimary(uint64_t base) {
    MbrEntry entries[4];
    if (!ReadTable(base, entries)) return;
    for (uint32_t i = 0; i < 4; ++i) {
      const MbrEntry& e = entries[i];
      if (e.Type == 0 || e.Sectors == 0) continue;
      if (e.Type == kProtectiveGpt && base == 0) {
        WalkGpt();
        continue;
      }
      const uint64_t start = base + static_cast<uint64_t>(e.Start) * units_;
      if (!Fits(e, start)) continue;
      if (IsExtended(e.Type)) {
        WalkExtended(start);
        continue;
      }
      Offer(e, start, PartitionScheme::MbrPrimary, i + 1);
    }
  }

private:
  // Reads the table in `sector`; false when unreadable or unsigned.
  bool ReadTable(uint64_t sector, MbrEntry (&entries)[4]) {
    uint8_t buffer[512];
    if (volume_.ReadSectors(buffer, sector, static_cast<uint64_t>(1)) != 512) return false;
    if (buffer[0x1FE] != 0x55 || buffer[0x1FF] != 0xAA) return false;
    for (int i = 0; i < 4; ++i) {
      const uint8_t* p = buffer + 0x1BE + 16 * i;
      entries[i].Type = p[4];
      entries[i].Start = U32(p + 8);
      entries[i].Sectors = U32(p + 12);
    }
    return true;
  }

  // An entry must start inside the volume; one that claims more than the
  // volume holds is still used, and AddFoundVolume cuts its size to what
  // the device holds.
  bool Fits(const MbrEntry& e, uint64_t start) {
    const uint64_t total = volume_.SizeInSectors();
    if (start >= total) return false;
    const uint64_t sectors = static_cast<uint64_t>(e.Sectors) * units_;
    if (sectors > total - start) theLog().AddInternal("pPartition->NumberSectors > TotalSectors");
    return true;
  }

  void WalkExtended(uint64_t firstExtended) {
    uint64_t table = firstExtended;
    for (uint32_t depth = 0;; ++depth) {
      if (depth >= kMaxExtendedTables) {
        theLog().Error("Partition table chain cut at sector %I64d: more than %d extended tables", table,
                       kMaxExtendedTables);
        return;
      }
      if (!visited_.insert(table).second) {
        theLog().Error("Partition table chain cut at sector %I64d: the chain links back to a table already read",
                       table);
        return;
      }
      MbrEntry entries[4];
      if (!ReadTable(table, entries)) return;
      uint64_t next = 0;
      for (const MbrEntry& e : entries) {
        if (e.Type == 0 || e.Sectors == 0) continue;
        if (IsExtended(e.Type)) {
          // Links count from the first extended partition; only the first
          // link of a table is followed.
          const uint64_t link = firstExtended + static_cast<uint64_t>(e.Start) * units_;
          if (next == 0 && link < volume_.SizeInSectors()) next = link;
          continue;
        }
        const uint64_t start = table + static_cast<uint64_t>(e.Start) * units_;
        if (!Fits(e, start)) continue;
        Offer(e, start, PartitionScheme::MbrLogical, nextLogical_++);
      }
      if (next == 0) return;
      table = next;
    }
  }

  void WalkGpt() {
    GptTable gpt;
    auto read = [this](void* buffer, uint64_t first, uint64_t count) {
      return volume_.ReadSectors(buffer, first, count);
    };
    if (!ReadGuidPartitionTable(read, volume_.SizeInSectors(), volume_.Geometry.BytesPerSector, gpt)) {
      theLog().Error("No valid GUID partition table behind the protective MBR entry (%s)", gpt.PrimaryProblem);
      return;
    }
    if (gpt.UsedBackup)
      theLog().Error("GPT primary header damaged (%s): using the backup header at LBA %I64d", gpt.PrimaryProblem,
                     gpt.HeaderLba);
    const uint64_t units = gpt.SectorSize / 512;
    const uint64_t total = volume_.SizeInSectors();
    for (const GptPartitionEntry& entry : gpt.Entries) {
      if (entry.LastLba < entry.FirstLba || entry.FirstLba == 0 || entry.FirstLba >= total / units) {
        theLog().Error("GPT entry %d skipped: its sectors lie outside the disk", entry.Slot + 1);
        continue;
      }
      const uint64_t start = entry.FirstLba * units;
      uint64_t sectors = (entry.LastLba - entry.FirstLba + 1) * units;
      if (entry.LastLba >= total / units || sectors > total - start) {
        theLog().AddInternal("pPartition->NumberSectors > TotalSectors");
        sectors = total - start;
      }
      PartitionOrigin origin;
      origin.Scheme = PartitionScheme::Gpt;
      origin.EntryNumber = entry.Slot + 1;
      origin.SectorCount = sectors;
      origin.TypeGuid = entry.TypeGuidText();
      origin.Name = entry.Name;
      AddFound(start, DetectAt(start), origin);
    }
  }

  // The file system whose boot sector lies at `sector` (0: none known).
  uint32_t DetectAt(uint64_t sector) {
    uint8_t boot[512];
    if (volume_.ReadSectors(boot, sector, static_cast<uint64_t>(1)) != 512) return 0;
    return volume_.FileSystem().DetectType(boot);
  }

  void Offer(const MbrEntry& e, uint64_t start, PartitionScheme scheme, uint32_t number) {
    PartitionOrigin origin;
    origin.Scheme = scheme;
    origin.EntryNumber = number;
    origin.MbrType = e.Type;
    origin.SectorCount = std::min<uint64_t>(static_cast<uint64_t>(e.Sectors) * units_, volume_.SizeInSectors() - start);
    AddFound(start, e.Type, origin);
  }

  void AddFound(uint64_t start, uint32_t fileType, const PartitionOrigin& origin) {
    // A partition the system mounted already is there as a logical volume
    // (a child with the same start): it is not found a second time.
    for (const CVolume* child : volume_.ChildVolumes()) {
      if (child->Kind == VolumeLogical && child->Layout.PartitionCount > 0 &&
          static_cast<uint64_t>(child->Layout.Entries[0].StartingOffset) / 512 == start)
        return;
    }
    CFoundObject record;
    record.ParentID = volume_.ObjectID;
    record.StartOffset = start * 512;
    record.FileType = static_cast<int16_t>(fileType);
    theComputer().AddFoundVolume(record, origin);
  }

  CVolume& volume_;
  uint64_t units_ = 1;
  std::set<uint64_t> visited_;
  uint32_t nextLogical_ = 5;
};

}  // namespace

void CVolume::WalkPartitionTable(uint32_t baseSector) {
  try {
    // A table inside a found volume is walked in turn; tables that name a
    // volume holding another table, sector after sector, would nest without
    // end, so the nesting is bounded.
    int depth = 0;
    for (const CVolume* v = this; v->Kind == VolumeFound && v->Parent && v->Parent != v; v = v->Parent) {
      if (++depth > kMaxFoundNesting) {
        theLog().Error("Partition table of the volume at %I64d not read: found volumes nested more than %d deep",
                       VolumeStartOffset, kMaxFoundNesting);
        return;
      }
    }
    CPartitionWalk(*this).WalkPrimary(baseSector);
  } catch (...) {
    theLog().AddError("CVolume::WalkPartitionTable except");
  }
}
