#include "engine/partition/guid_partition_table.h"

#include <zlib.h>

#include <cstring>

#include "services/format.h"
#include "services/text.h"

namespace {

constexpr uint32_t kMinHeaderSize = 92;
constexpr uint32_t kMinEntrySize = 128;
// Far beyond the 16 KiB every partitioning tool writes; a header claiming
// more is damaged or hostile, and its entry array is not read.
constexpr uint64_t kMaxEntryArrayBytes = 4u << 20;

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t U64(const uint8_t* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }

uint32_t Crc32(const uint8_t* data, size_t bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes lengths as uInt; the arrays here stay far below that.
  crc = crc32(crc, data, static_cast<uInt>(bytes));
  return static_cast<uint32_t>(crc);
}

struct Header {
  uint64_t EntriesLba = 0;
  uint32_t EntryCount = 0;
  uint32_t EntrySize = 0;
  uint32_t EntriesCrc = 0;
};

class CGptReader {
public:
  CGptReader(const DiskSectorReader& read, uint64_t diskSectors) : read_(read), diskSectors_(diskSectors) {}

  // Reads and checks the header at `lba`, then its entries. Empty when
  // valid, else what failed.
  std::string ReadAt(uint32_t sectorSize, uint64_t lba, std::vector<GptPartitionEntry>& entries) {
    const uint64_t units = sectorSize / 512;
    const uint64_t diskLbas = diskSectors_ / units;
    if (lba >= diskLbas) return "beyond the end of the disk";
    std::vector<uint8_t> sector(sectorSize);
    if (read_(sector.data(), lba * units, units) != sectorSize) return "unreadable";
    const uint8_t* h = sector.data();
    if (std::memcmp(h, "EFI PART", 8) != 0) return "no signature";
    const uint32_t headerSize = U32(h + 12);
    if (headerSize < kMinHeaderSize || headerSize > sectorSize) return "bad header size";
    std::vector<uint8_t> copy(h, h + headerSize);
    std::memset(copy.data() + 16, 0, 4);
    if (Crc32(copy.data(), copy.size()) != U32(h + 16)) return "header CRC32 mismatch";
    if (U64(h + 24) != lba) return "header names another LBA as its own";
    Header header;
    header.EntriesLba = U64(h + 72);
    header.EntryCount = U32(h + 80);
    header.EntrySize = U32(h + 84);
    header.EntriesCrc = U32(h + 88);
    return ReadEntries(sectorSize, diskLbas, header, entries);
  }

private:
  std::string ReadEntries(uint32_t sectorSize, uint64_t diskLbas, const Header& header,
                          std::vector<GptPartitionEntry>& entries) {
    if (header.EntrySize < kMinEntrySize || header.EntrySize % 8 != 0) return "bad entry size";
    const uint64_t bytes = static_cast<uint64_t>(header.EntryCount) * header.EntrySize;
    if (bytes == 0 || bytes > kMaxEntryArrayBytes) return "bad entry count";
    const uint64_t units = sectorSize / 512;
    const uint64_t lbas = (bytes + sectorSize - 1) / sectorSize;
    if (header.EntriesLba < 1 || header.EntriesLba >= diskLbas || lbas > diskLbas - header.EntriesLba)
      return "entry array outside the disk";
    std::vector<uint8_t> array(lbas * sectorSize);
    if (read_(array.data(), header.EntriesLba * units, lbas * units) != array.size()) return "entries unreadable";
    if (Crc32(array.data(), bytes) != header.EntriesCrc) return "entries CRC32 mismatch";
    entries.clear();
    static const std::array<uint8_t, 16> kUnused{};
    for (uint32_t i = 0; i < header.EntryCount; ++i) {
      const uint8_t* e = array.data() + static_cast<size_t>(i) * header.EntrySize;
      GptPartitionEntry entry;
      std::memcpy(entry.TypeGuid.data(), e, 16);
      if (entry.TypeGuid == kUnused) continue;
      entry.Slot = i;
      entry.FirstLba = U64(e + 32);
      entry.LastLba = U64(e + 40);
      size_t units16 = 0;
      while (units16 < 36 && (e[56 + 2 * units16] | e[57 + 2 * units16])) ++units16;
      entry.Name = qm::Utf16LeBytesToUtf8(e + 56, units16);
      entries.push_back(std::move(entry));
    }
    return {};
  }

  const DiskSectorReader& read_;
  uint64_t diskSectors_;
};

}  // namespace

std::string GptPartitionEntry::TypeGuidText() const {
  const uint8_t* g = TypeGuid.data();
  return qm::Format("%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", U32(g),
                    static_cast<uint32_t>(g[4] | (g[5] << 8)), static_cast<uint32_t>(g[6] | (g[7] << 8)), g[8],
                    g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}

bool ReadGuidPartitionTable(const DiskSectorReader& read, uint64_t diskSectors, uint32_t preferredSectorSize,
                            GptTable& table) {
  CGptReader reader(read, diskSectors);
  const uint32_t sizes[2] = {preferredSectorSize == 4096 ? 4096u : 512u, preferredSectorSize == 4096 ? 512u : 4096u};
  // The primary header at LBA 1, at whichever sector size it carries its
  // signature.
  std::string problem;
  for (uint32_t size : sizes) {
    std::string why = reader.ReadAt(size, 1, table.Entries);
    if (why.empty()) {
      table.SectorSize = size;
      table.HeaderLba = 1;
      table.UsedBackup = false;
      return true;
    }
    if (problem.empty() || problem == "no signature") problem = why;
  }
  table.PrimaryProblem = problem;
  // The backup header in the disk's last LBA.
  for (uint32_t size : sizes) {
    const uint64_t lbas = diskSectors / (size / 512);
    if (lbas < 2) continue;
    if (reader.ReadAt(size, lbas - 1, table.Entries).empty()) {
      table.SectorSize = size;
      table.HeaderLba = lbas - 1;
      table.UsedBackup = true;
      return true;
    }
  }
  table.Entries.clear();
  return false;
}

const char* GptTypeName(const std::string& guid) {
  static const struct {
    const char* guid;
    const char* name;
  } kKnown[] = {
      {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI System"},
      {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
      {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
      {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery environment"},
      {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
      {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
      {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
      {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
      {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
      {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS/HFS+"},
  };
  for (const auto& k : kKnown)
    if (guid == k.guid) return k.name;
  return "";
}
