// The NTFS parser: finds the master file table through the boot sector,
// reads it through its own data runs, loads the cluster bitmap into the used
// areas and reports every MFT record (in use or deleted) to the catalog. It
// also examines MFT records the sector scan finds, and builds the run list of
// any NTFS object (resident data, sparse runs and attribute lists included).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/filesystems/file_system.h"
#include "engine/filesystems/mft_record.h"

class CFileSystem_NTFS : public CFileSystem {
public:
  explicit CFileSystem_NTFS(CVolume* volume);

  int Analyse() override;
  void ExamineFoundRecord(CFoundObject* object) override;
  void GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs) override;
  uint64_t ClusterToSector(uint64_t cluster) const override;
  // Parses one record (record size bytes) found outside the MFT walk and
  // hands it to the catalog.
  virtual void ParseRecord(const uint8_t* record);

  // The volume's name from the $VOLUME_NAME of its volume record; empty
  // when it has none or it does not hold together. Needs the MFT loaded.
  std::string VolumeLabel();
  // The same for a volume not analysed (opens its MFT on its own).
  static std::string ReadVolumeLabel(CVolume& volume);

  // Reads and checks the boot-sector fields and the cluster geometry; sets
  // the volume's geometry and serial number. False when they make no sense.
  bool ReadBootSector();
  bool LoadMFT();
  bool LoadClustersBitmap();
  // Reads MFT record `n` into `buffer` (record size bytes); the bytes read or 0.
  uint32_t ReadRecord(uint64_t n, uint8_t* buffer);

  // Reads `bytes` at byte `offset` of the volume through a read-ahead window;
  // false when they cannot be read or lie outside the volume.
  bool ReadVolumeBytes(uint64_t offset, uint32_t bytes, uint8_t* out);
  // Clusters on the volume (for checking runs); 0 until the boot sector is read.
  uint64_t ClusterCount() const { return clusterCount_; }
  uint32_t ClusterBytes() const { return bytesPerCluster_; }
  // A log line about a damaged structure; only the first few are written.
  void LogDamage(std::string_view text);

  uint64_t TotalSectorsValue = 0;  // boot sector 0x28
  uint64_t MftCluster = 0;         // boot sector 0x30
  uint64_t MftMirrorCluster = 0;   // boot sector 0x38
  MftRecord MFT;
  uint32_t RecordSize = 1024;
  uint64_t RecordCount = 0;

private:
  void ReportRecord(CFoundObject& object, MftRecord& record);
  // Whether a volume sector lies inside the MFT's own data.
  bool InsideMft(uint64_t sector) const;
  // Whether the record a parent reference names still has the reference's
  // sequence number (or, freed, the one after it). A record that cannot be
  // read gives no evidence against the reference.
  bool ParentStillHolds(uint64_t reference);
  void BuildRuns(MftRecord& record, uint64_t objectSize, std::vector<FoundObjectRun>& runs) const;
  // The runs of a compressed stream, one compression unit after another.
  template <typename Append>
  void BuildCompressedRuns(const MftRecord& record, uint64_t& remaining, std::vector<FoundObjectRun>& runs,
                           Append& append) const;

  std::recursive_mutex mutex_;
  uint32_t bytesPerCluster_ = 0;
  uint32_t sectorsPerCluster_ = 0;  // 512-byte sectors
  uint64_t clusterCount_ = 0;
  uint64_t volumeSectors_ = 0;      // readable sectors of the volume
  bool mftLoaded_ = false;
  std::vector<std::pair<uint64_t, uint64_t>> mftSectors_;  // MFT data as (first sector, count), sorted
  std::vector<uint8_t> scratch_;                           // one record
  MftRecord shared_{this};
  std::unordered_set<uint64_t> examined_;                  // sectors of records already examined
  uint32_t damageLines_ = 0;
  struct ParentState {
    bool Known = false;
    bool InUse = false;
    uint16_t Sequence = 0;
  };
  std::unordered_map<uint64_t, ParentState> parents_;  // parent records looked at

  // Read-ahead window over the volume.
  std::vector<uint8_t> window_;
  uint64_t windowSector_ = 0;
  uint64_t windowSectors_ = 0;
};
