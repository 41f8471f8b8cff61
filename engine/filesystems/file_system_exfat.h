// The exFAT parser: checks the boot region (its checksum sector, the backup
// region when the main one fails), loads the allocation bitmap, walks every
// live and deleted directory and hands each file and folder whose entry set
// holds together to the volume's catalog; builds the data runs of exFAT
// objects (contiguous ones from their stream extension, chained ones along
// the FAT).
//
// An object's identity is the volume byte offset of its stream extension
// entry divided by 32, so GetRuns can read that entry back for the no-chain
// flag; the root folder's identity is 1 (no entry lies there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/filesystems/file_system.h"

class CFileSystem_exFAT : public CFileSystem {
public:
  static constexpr int64_t kRootId = 1;

  explicit CFileSystem_exFAT(CVolume* volume);

  int Analyse() override;
  void GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs) override;
  uint64_t ClusterToSector(uint64_t cluster) const override;
  int64_t RootObjectID() const override { return kRootId; }

  // "EXFAT   " at 3 and the must-be-zero area (0x0B to 0x3F) empty.
  static bool IsBootSector(const uint8_t* boot);
  // The checksum of a boot region's first 11 sectors (the volume flags and
  // percent-in-use bytes left out), as its 12th sector repeats it.
  static uint32_t BootChecksum(const uint8_t* region, uint32_t bytesPerSector);
  // The checksum of an entry set of `entries` entries; with `asInUse` each
  // entry's in-use bit counts as set (a deleted set was summed while live).
  static uint16_t EntrySetChecksum(const uint8_t* set, size_t entries, bool asInUse);
  // An exFAT timestamp with its 10 ms part and UTC offset as a FILETIME: in
  // UTC when the offset is valid, else as written; 0 when invalid.
  static uint64_t TimestampToFileTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset);
  // The volume label from the root directory, without walking the rest.
  static std::string ReadVolumeLabel(CVolume& volume);
  // The checksum of an up-case table's bytes, as its directory entry keeps it.
  static uint32_t TableChecksum(const uint8_t* table, size_t bytes);

  // Reads the up-case table (`bytes` long from cluster `first`, contiguous),
  // checks it against `checksum` and expands it; false (with a log line)
  // when it cannot be used. Names are then compared through it.
  bool LoadUpcaseTable(uint32_t first, uint64_t bytes, uint32_t checksum);
  // Expands a table as stored (runs of unchanged characters given as 0xFFFF
  // and their count); false when it maps past the last character.
  bool SetUpcaseTable(const uint8_t* table, size_t bytes);
  bool HasUpcaseTable() const { return !upcase_.empty(); }
  // A character up-cased by the volume's table (unchanged without one).
  char16_t UpCase(char16_t c) const;
  // The hash a stream extension keeps of its file's name: of the up-cased
  // name's UTF-16 bytes.
  uint16_t NameHash(const std::u16string& name) const;

  // Reads and checks the boot region; sets the geometry below. False (with a
  // log line) when it cannot describe an exFAT volume.
  bool LoadGeometry();
  // The chain from a cluster (at most `limit` clusters); stops at the end
  // mark, a bad or free entry, a loop or a cluster outside the heap.
  size_t GetChain(uint32_t first, std::vector<uint32_t>& list, size_t limit);
  // The clusters of a directory or file: contiguous or along the FAT.
  void ClustersOf(uint32_t first, uint64_t bytes, bool contiguous, std::vector<uint32_t>& list);
  bool IsAllocated(uint32_t cluster) const;
  // Parses a directory made of `clusters` (read into `buffer`); entries get
  // `parent` as their ParentID.
  void ParseDirectory(const uint8_t* buffer, size_t bytes, const std::vector<uint32_t>& clusters, int64_t parent);

  // --- Geometry (512-byte sectors unless named otherwise) ---
  uint32_t BytesPerSector = 0;
  uint32_t BytesPerCluster = 0;
  uint32_t ClusterSectors = 0;
  uint64_t FatSector = 0;
  uint64_t FatSectors = 0;
  uint64_t HeapSector = 0;
  uint32_t ClusterCount = 0;
  uint32_t RootCluster = 0;
  std::string VolumeLabel;

private:
  struct PendingDirectory {
    uint32_t First = 0;
    uint64_t Bytes = 0;
    bool Contiguous = false;
    bool Live = true;
    int64_t Id = 0;
  };
  bool Running() const;
  bool ReadFatEntry(uint32_t cluster, uint32_t& value);
  bool LoadBitmap(uint32_t first, uint64_t bytes, bool contiguous);
  void BuildUsedAreas();
  // Takes its directory by value: walking it adds to the queues.
  void WalkDirectory(PendingDirectory directory);
  // Reads `count` clusters of the heap; false when not all could be read.
  bool ReadHeap(uint8_t* buffer, uint32_t cluster, size_t count);
  // Handles the entry set starting at `at`; returns the entries it used
  // (1 when the set was refused).
  size_t ParseEntrySet(const uint8_t* buffer, size_t bytes, size_t at, const std::vector<uint32_t>& clusters,
                       int64_t parent);
  uint64_t EntryPosition(const std::vector<uint32_t>& clusters, size_t offset) const;
  void LogDamage(const std::string& text);

  bool geometryOk_ = false;
  std::vector<uint8_t> bitmap_;
  std::vector<char16_t> upcase_;  // one entry per character, or empty
  std::vector<bool> directoryClusters_;
  std::vector<PendingDirectory> live_, deleted_;
  // One cached piece of the FAT.
  std::vector<uint8_t> fatCache_;
  uint64_t fatCacheSector_ = UINT64_MAX;
  uint32_t damageLines_ = 0;
};
