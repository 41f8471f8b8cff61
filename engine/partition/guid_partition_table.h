// The GUID partition table: the header at LBA 1 (or its backup at the disk's
// last LBA), both checked by signature, position and CRC32, and the
// partition entries it points at, checked by their own CRC32.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads `count` 512-byte sectors from sector `first` of the disk into
// `buffer`; returns the bytes read (0 on failure).
using DiskSectorReader = std::function<uint32_t(void* buffer, uint64_t first, uint64_t count)>;

struct GptPartitionEntry {
  uint32_t Slot = 0;  // the entry's place in the array, from 0
  std::array<uint8_t, 16> TypeGuid{};
  uint64_t FirstLba = 0;
  uint64_t LastLba = 0;
  std::string Name;  // UTF-8 from the entry's UTF-16LE name

  std::string TypeGuidText() const;
};

struct GptTable {
  uint32_t SectorSize = 512;  // the disk's logical sector size: 512 or 4096
  bool UsedBackup = false;    // the primary header or its entries failed
  uint64_t HeaderLba = 0;     // the LBA of the header used
  std::string PrimaryProblem; // why the primary was not used
  std::vector<GptPartitionEntry> Entries;  // the used entries, in slot order
};

// Reads the table of a disk of `diskSectors` 512-byte sectors. The logical
// sector size is found from where a valid header lies (512 first, or 4096
// first when `preferredSectorSize` is 4096). False when neither header is
// valid; `table.PrimaryProblem` then says what was wrong with the primary.
bool ReadGuidPartitionTable(const DiskSectorReader& read, uint64_t diskSectors, uint32_t preferredSectorSize,
                            GptTable& table);

// A short name for well-known partition type GUIDs ("Microsoft basic data",
// "Linux filesystem", "EFI System", ...); empty for others.
const char* GptTypeName(const std::string& typeGuidText);
