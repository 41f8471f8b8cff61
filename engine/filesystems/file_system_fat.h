// The FAT12/16/32 parser: reads the whole FAT into memory, walks every live
// and deleted directory breadth first and hands every plausible entry to the
// volume's catalog; builds the data runs of FAT objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/filesystems/file_system.h"

class CFileSystem_FAT : public CFileSystem {
public:
  // A run of consecutive clusters: first cluster and count.
  struct ClusterRun {
    uint32_t First = 0;
    uint32_t Count = 0;
  };

  explicit CFileSystem_FAT(CVolume* volume);

  // The whole analysis (Initialize).
  int Analyse() override { return Initialize(); }
  int Initialize();

  void GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs) override;
  uint64_t ClusterToSector(uint64_t cluster) const override;
  int64_t RootObjectID() const override;

  // Reads the boot-sector parameters from the volume's boot buffer and checks
  // them; false (with a log line) when they cannot describe a FAT volume.
  // Initialize calls it; tests and GetRuns on a fresh parser may too.
  bool LoadGeometry();
  // Loads the FAT (first copy; compares the second when there is one).
  bool LoadFat();

  // The chain from a cluster; returns its length. Stops at a free entry, an
  // end-of-chain value, a loop, a cluster outside the FAT, or `limit` clusters.
  size_t FAT_GetClustersList(uint32_t cluster, std::vector<uint32_t>& list, size_t limit = SIZE_MAX) const;
  // Merges consecutive clusters into runs; with an object, extends the last
  // run so that the runs cover the object's Size.
  void ClustersToRuns(const std::vector<uint32_t>& clusters, std::vector<ClusterRun>& runs,
                      const CFoundObject* object) const;
  // Reads and parses one directory given by its first cluster.
  void WalkDirectory(uint32_t cluster, bool live = true);
  // Parses a directory buffer; `parent` is the ParentID its entries get.
  // With `freeCluster` the buffer is a free cluster's content: its entries
  // are deleted whatever their first byte says, their folder may be one no
  // walk reaches, and the buffer may begin inside that folder's directory.
  void ParseDirectory(const uint8_t* buffer, size_t bytes, int64_t parent, bool freeCluster = false);
  // The name of the entry at `offset` in a directory buffer: its long name
  // when long-name entries precede it, else its short name. `cutStart`
  // says the buffer may begin inside a directory (a long name may have
  // parts before it).
  static std::string GetEntryName(const uint8_t* buffer, size_t offset, bool cutStart = false);
  // The long name of the short entry at `offset` when the long-name entries
  // before it pass the checksum and sequence tests; empty otherwise.
  static std::u16string LongNameOf(const uint8_t* buffer, size_t offset, bool cutStart = false);
  // The checksum long-name entries carry of their 11-byte short name.
  static uint8_t ShortNameChecksum(const uint8_t* name11);
  static bool IsValidEntry(const uint8_t* entry);
  static bool IsValidShortName(const uint8_t* entry);
  // DOS date and time as a FILETIME in the same (local) time; 0 when invalid.
  static uint64_t DosDateTimeToFileTime(uint16_t date, uint16_t time);
  // The volume label of a FAT boot sector ("NO NAME" gives an empty text).
  static std::string BootSectorLabel(const uint8_t* boot, uint32_t fileSystemId);

  // FAT entry of a cluster; false when the entry lies outside the FAT copy.
  bool ReadFatEntry(uint32_t cluster, uint32_t& value) const;
  bool IsEndOfChain(uint32_t value) const;
  // True when the FAT marks the cluster free.
  bool IsFree(uint32_t cluster) const;
  // The first free cluster from `cluster` on; LastCluster + 1 when none.
  uint32_t NextFreeCluster(uint32_t cluster) const;
  // False once the analysis is stopped.
  bool Running() const;

  // --- State (read-only for callers) ---
  std::vector<uint8_t> FatCopy;   // the first FAT, as far as the volume justifies
  uint32_t EntryBits = 0;         // 12, 16 or 32
  uint32_t BytesPerSector = 0;
  uint32_t SectorsPerCluster = 0;    // as in the boot sector
  uint32_t ClusterSectors = 0;       // 512-byte sectors per cluster
  uint32_t BytesPerCluster = 0;
  uint64_t ReservedSectors = 0;      // 512-byte sectors from here on
  uint32_t NumberOfFats = 0;
  uint64_t FatSectors = 0;           // of one FAT
  uint64_t FatSize = 0;              // bytes of one FAT as the boot sector says
  uint64_t FirstRootSector = 0;
  uint32_t RootCluster = 0;
  uint32_t RootEntries = 0;
  uint64_t FirstDataSector = 0;
  uint32_t LastCluster = 0;          // highest cluster number of the data area
  std::vector<uint32_t> DirectoryQueue;
  std::string VolumeLabel;           // from the root directory's label entry

private:
  enum class QueueState : uint8_t { QueuedDeleted, QueuedLive, Walked, SkippedDeleted };
  void Enqueue(uint32_t cluster, bool live);
  void BuildUsedAreas();
  void DeletedFileClusters(uint32_t first, uint64_t size, std::vector<uint32_t>& list) const;

  bool geometryOk_ = false;
  bool fatLoaded_ = false;
  bool parsingRoot_ = false;
  std::unordered_map<uint32_t, QueueState> queued_;
  std::vector<bool> directoryClusters_;  // clusters already read as a directory
};
