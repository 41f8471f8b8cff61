// The base of the file-system parsers: naming and detecting file systems,
// building the data runs of objects, reading clusters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/catalog/found_object.h"

class CVolume;

constexpr uint32_t E_FAIL_CODE = 0x80004005;
// File-system IDs beyond the partition-type ones: exFAT shares partition
// type 0x07 with NTFS, and its boot sector tells them apart.
constexpr uint32_t EXFAT_FILE_SYSTEM_ID = 0x107;
// The identity of the placeholder folder that holds files whose folder is
// gone: its record reused, its entry lost. No object of a file system has it.
constexpr int64_t ORPHAN_FILES_ID = 0x0F000000;

// How a type code's objects are laid out on the volume (decides GetRuns).
enum class FileSystemFamily { Fat, Ntfs, Other };

class CFileSystem {
public:
  explicit CFileSystem(CVolume* volume = nullptr);
  virtual ~CFileSystem() = default;

  // Writes the name for the code into FileSystemName and returns it.
  virtual std::string GetFileSystemName(int64_t code);
  // Walks the file system and adds what it finds to the catalog.
  virtual int Analyse();
  // Examines a metadata record the sector scan found (NTFS only).
  virtual void ExamineFoundRecord(CFoundObject* object);
  virtual uint32_t Reserved(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t) { return E_FAIL_CODE; }
  // Boot-sector text test; `boot` holds at least 512 bytes.
  virtual uint32_t DetectType(const uint8_t* boot) const;
  // The object's data runs, in data order.
  virtual void GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs);
  // Reads `count` clusters from `cluster`; returns the bytes read.
  uint32_t ReadClusters(void* buffer, uint64_t cluster, uint64_t count);
  // Every read of the parsers goes through here: volume sectors read like
  // ReadSectors (the bytes read, 0 when nothing could be), but a bad sector
  // costs itself only (zeros) and a medium taken out during the analysis is
  // waited for at the volume's gate.
  uint32_t ReadVolumeSectors(void* buffer, uint64_t first, uint64_t count);
  virtual uint64_t ClusterToSector(uint64_t cluster) const;

  // Identity the catalog's root folder gets while this parser analyses the
  // volume (0 for FAT12/16, the root directory's cluster for FAT32, 5 for
  // NTFS); -1 when the type has no parser.
  virtual int64_t RootObjectID() const;

  // The family of a type code, and the name the code is shown with.
  static FileSystemFamily FamilyOf(uint32_t code);
  static const char* NameOf(int64_t code);

  // Areas the file system marks as in use: (start sector, sector count).
  std::vector<std::pair<uint64_t, uint64_t>> UsedAreas;
  // The part of the volume its cluster allocation describes (start sector,
  // sector count): FAT's data area, exFAT's cluster heap, every cluster of
  // NTFS, as far as the allocation could be read. Empty (count 0) until the
  // parser has read the allocation.
  std::pair<uint64_t, uint64_t> AllocationArea{0, 0};
  // The free clusters: the sectors of AllocationArea that UsedAreas leaves
  // out, in order, clipped to `volumeSectors`.
  std::vector<std::pair<uint64_t, uint64_t>> FreeAreas(uint64_t volumeSectors) const;
  uint32_t FileSystemType = 0;
  std::string FileSystemName = "Unknown";
  CVolume* Volume = nullptr;

protected:
  // 512-byte sectors in one cluster of the volume (at least 1).
  uint64_t SectorsPerClusterOfVolume() const;
};
