// One physical disk, logical volume, image file or found volume, and its
// sector reader. The volume is also the root record of its own catalog.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/catalog/found_object.h"
#include "engine/partition/partition_origin.h"
#include "engine/volume/salvaged_read.h"
#include "platform/device.h"
#include "platform/pause_gate.h"

class CFoundObjectTree;
class CFileSystem;
class CAnalyser;

enum VolumeKind : uint32_t {
  VolumePhysical = 1,
  VolumeLogical = 2,
  VolumeVirtual = 4,
  VolumeImage = 8,
  VolumeFound = 16,
};

enum VolumeState : int32_t {
  StateQuerying = 0,
  StateReady = 1,
  StateScanningSectors = 2,
  StateAnalysingFileSystem = 4,
  StateNotReady = static_cast<int32_t>(0x80004005u),
};

#pragma pack(push, 1)
struct DiskGeometry {
  int64_t Cylinders = 0;
  uint32_t MediaType = 0;
  uint32_t TracksPerCylinder = 0;
  uint32_t SectorsPerTrack = 0;
  uint32_t BytesPerSector = 0;
};
struct PartitionInformation {
  int64_t StartingOffset = 0;
  int64_t PartitionLength = 0;
  uint32_t HiddenSectors = 0;
  uint32_t PartitionNumber = 0;
  uint8_t PartitionType = 0;
  uint8_t BootIndicator = 0;
  uint8_t RecognizedPartition = 0;
  uint8_t RewritePartition = 0;
};
struct DriveLayout {
  uint32_t PartitionCount = 0;
  uint32_t Signature = 0;
  PartitionInformation Entries[4];
};
struct StorageDeviceNumber {
  uint32_t DeviceType = 0xFFFFFFFF;
  uint32_t DeviceNumber = 0xFFFFFFFF;
  uint32_t PartitionNumber = 0xFFFFFFFF;
};
#pragma pack(pop)

class CVolume : public CFoundObject {
public:
  explicit CVolume(VolumeKind kind);
  ~CVolume();
  CVolume(const CVolume&) = delete;
  CVolume& operator=(const CVolume&) = delete;

  // --- Device and sector reader ---
  // Opens the device if needed; false when it cannot be opened.
  bool OpenDrive();
  bool Close();
  bool IsOpen() const;
  // Reads `count` 512-byte sectors from volume sector `first`; returns the
  // bytes read, 0 on failure (the buffer then holds zeros).
  uint32_t ReadSectors(void* buffer, uint64_t first, uint64_t count);
  uint32_t ReadSectors(void* buffer, uint64_t first, int32_t count) {
    return ReadSectors(buffer, first, static_cast<uint64_t>(static_cast<int64_t>(count)));
  }
  // Reads like ReadSectors, under the one rule that every reading loop of an
  // analysis or a recovery follows when a read fails:
  // - the medium is present (a plain read error): the range is read again in
  //   halves, down to single sectors, so that only the sectors that really
  //   fail are lost (zeros, counted in Unreadable). A healthy range costs
  //   exactly one ReadSectors;
  // - the medium is gone (a removal event closed the gate, the read failed
  //   with "no medium" or "no device", or a block device no longer answers
  //   at its path): the removal is logged, the reader waits at the gate while
  //   `keepWaiting` holds (by default: while an analysis runs) and at most
  //   MediumWaitLimitMs, and reads the whole range again once the medium is
  //   back;
  // - the device stalls (a read timed out, the medium still there): the read
  //   ends.
  // A read that ended (a stall, a wait stopped or given up) sets DeviceLost:
  // what it did not read holds zeros, and the caller stops.
  SalvagedRead ReadSectorsSalvaging(void* buffer, uint64_t first, uint64_t count,
                                    const std::function<bool()>& keepWaiting = nullptr);
  // A second handle on the volume's data for a reader that runs beside the
  // others: a duplicate of the open device when that is a regular file (an
  // image, read from the page cache as fast as memory allows, so several
  // threads read it faster than one); null for anything else, which is read
  // by one reader at a time.
  std::shared_ptr<IDevice> OpenParallelReader();
  // One plain read of `count` sectors through such a handle; true only when
  // every byte came. It neither retries nor waits: on false the caller reads
  // the range again through ReadSectorsSalvaging, which knows what to do
  // with a failure.
  bool ReadSectorsThrough(IDevice& reader, void* buffer, uint64_t first, uint64_t count) const;
  // How long a reader waits at the gate for a medium that went away before
  // its operation ends (milliseconds; 0: not at all).
  std::atomic<uint32_t> MediumWaitLimitMs{10 * 60 * 1000};
  // Serialises readers on other threads (the hex viewer) with the analysis.
  std::mutex& ReadLock() { return readLock_; }
  // Puts a device behind the volume (tests: an in-memory device). The device
  // stays the volume's source across Close: the next read reuses it. Found
  // and Virtual volumes below it read through duplicates of it.
  void AttachDevice(std::shared_ptr<IDevice> device);
  // Takes over an open handle on the volume's own device path; after a
  // Close the volume reopens the path as usual.
  void AdoptDevice(std::shared_ptr<IDevice> device);
  // The display name built without storing it (safe from any thread).
  std::string DisplayNameText() const;
  // The category text of the kind ("Physical", "Volume Image", ...) and of
  // the media type ("Removable", "Fixed", "OS File", ...).
  static const char* KindText(uint32_t kind);
  static const char* MediaTypeText(uint32_t mediaType);
  // The description a disk's vendor and model give: "vendor, model", the
  // model alone, or "" when the device reports neither.
  static std::string ProductText(const std::string& vendor, const std::string& model);
  // "Querying", "Ready", "Scanning", "Analysing" or "NotReady".
  static const char* StateText(int32_t state);

  void QueryInformation();
  // What the device itself reports: for a block device its size, sector
  // size, geometry, partition, vendor and product; the source's device
  // identity (SourceDeviceId) for any device. Returns the device's size in
  // bytes (0 when unknown). Opens the device when needed.
  uint64_t QueryDeviceInformation();
  // The size in bytes of what the device reads (for a container image: the
  // disk it holds); 0 when unknown or when the device cannot be opened.
  uint64_t SourceSizeBytes();
  std::string GetDisplayName();
  std::string GetDevicePath();

  uint64_t Position(uint64_t value = ~0ull);
  uint64_t EndPosition(uint64_t value = ~0ull);
  uint64_t SectorsToClusters(uint64_t sectors) const;
  // The volume's length in 512-byte sectors: from Size, which counts bytes
  // for every kind of volume (TotalSectors counts a disk's own sectors,
  // 4096 bytes on some disks), or TotalSectors while Size is not known.
  uint64_t SizeInSectors() const { return Size != 0 && Size != SIZE_UNKNOWN ? Size / 512 : TotalSectors; }
  uint64_t ClustersToSectors(uint64_t clusters) const;

  // --- Medium presence ---
  // The medium of the volume's device went away / came back (a device
  // event, or a reader that found it gone). Removal sets State NotReady and
  // closes the gate the reading loops wait at; arrival restores the state
  // the volume had (Ready when it was idle) and opens the gate. True when
  // the presence changed.
  bool MediumRemoved();
  bool MediumArrived();
  bool MediumPresent() const;
  // The volume whose medium this one reads (a Found volume's disk).
  CVolume& MediaSource();
  qm::CPauseGate& MediaGate() { return MediaSource().mediaGate_; }

  // --- Boot area ---
  uint32_t ReadBoot();
  uint32_t Analyse_Boot();
  // Reads the MBR or extended partition table in volume sector `baseSector`
  // and hands its partitions to AddFoundVolume (engine/partition).
  void WalkPartitionTable(uint32_t baseSector);

  // --- Analysis driver ---
  uint32_t Analyse_Do();
  // The file-system phase; a full analysis asks it for the BOOT object too.
  uint32_t AnalyseFileSystem(bool addBootObject = false);
  uint32_t AnalyseSectors();
  // The sectors the next sector scan visits, as (first sector, count) in
  // order: the whole volume, or with ScanFreeSpaceOnly only the clusters
  // the file system marks free (the whole volume when the file system's
  // allocation was not read).
  std::vector<std::pair<uint64_t, uint64_t>> SectorScanAreas();
  void StartFileSystemThread();
  void StartScanThread(uint32_t mode);
  void EndAnalysisThread();
  // Called by the parsers for each object they find: the catalogued object,
  // or null when the catalog refused it.
  CFoundObject* AddFileSystemObject(const CFoundObject& record);
  // Called by the scanner for each object it finds; takes it over.
  void AcceptScanObject(std::unique_ptr<CFoundObject> object);

  CFoundObjectTree& Catalog() { return *catalog_; }
  CFileSystem& FileSystem() { return *fileSystem_; }
  void SetFileSystem(std::unique_ptr<CFileSystem> fileSystem);
  CAnalyser& Analyser() { return *analyser_; }

  // --- Fields ---
  std::array<uint8_t, 1024> BootBuffer{};
  CVolume* Parent = this;
  // The volumes found in or mounted from this one. Written only through
  // AddChildVolume (worker threads append while others read); read it
  // through ChildVolumes() from any thread but the one that builds it.
  std::vector<CVolume*> Children;
  void AddChildVolume(CVolume* child);
  std::vector<CVolume*> ChildVolumes() const;
  // Where a Found volume came from: its table and entry, or the search.
  PartitionOrigin Origin;
  uint32_t MediaType = 0;
  VolumeKind Kind;
  std::string Description;
  std::string Label;
  std::string DevicePath;
  std::string RootPath;
  std::string DisplayName;
  char DriveCharacter = 0;
  std::atomic<int32_t> State{StateNotReady};
  std::atomic<uint64_t> PositionValue{0};
  std::atomic<uint64_t> EndPositionValue{0};
  uint64_t FreeBytes = 0;
  uint64_t SerialNumber = 0;
  uint64_t TotalSectors = 0;
  uint64_t TotalClusters = 0;
  // Byte offset of the volume on the device OpenDrive opens (for a Found
  // volume: on the device at the root of its parent chain).
  uint64_t VolumeStartOffset = 0;
  DiskGeometry Geometry;
  DriveLayout Layout;
  StorageDeviceNumber DeviceNumber;
  uint32_t SectorsPerCluster = 1;
  uint32_t BytesPerSector = 512;
  uint32_t BytesPerCluster = 512;
  std::atomic<uint32_t> FoldersFound{0}, FilesFound{0}, ScanFoldersFound{0}, ScanFilesFound{0};
  uint32_t ScanMode = 0;
  // Set for a sector scan of the free clusters only ("Scan free drive space
  // only"); the file-system phase must have read the allocation before.
  std::atomic<bool> ScanFreeSpaceOnly{false};
  std::atomic<uint32_t> ChangedFlag{0};
  std::atomic<uint32_t> ScanRunning{0};
  // Device identity of the source (st_rdev of a block device, or st_dev of
  // the file system holding an image), for the recovery's same-drive check.
  uint64_t SourceDeviceId = 0;
  // True when the source is a block device (not an image file).
  bool IsBlockDevice = false;

  // --- What the drive list knows of a disk or partition ---
  // Written by the scan and the information thread; read them once State
  // has left Querying.
  std::string KernelName;  // "sdb", "sdb1"; empty for images and found volumes
  std::string Vendor, Model;
  bool Removable = false;
  std::string MountPoint;      // "" when not mounted
  std::string FileSystemText;  // as libblkid names it: "vfat", "ntfs", "ext4"
  std::string Uuid;
  // errno of the last failed open of the device (EACCES: no read right).
  std::atomic<int> OpenError{0};
  // Starts QueryInformation on the volume's information thread; `done`
  // runs on that thread when it ends.
  void StartInformationThread(std::function<void()> done);

private:
  bool OpenDriveLocked();
  void InsertBootObject();
  // ReadSectors, also telling why a read ended short: 0 when the device ended
  // (a short read that no retry completed), else the errno of the failure
  // (ETIMEDOUT for a read that timed out).
  uint32_t ReadSectorsWithError(void* buffer, uint64_t first, uint64_t count, int* error);
  std::shared_ptr<IDevice> AttachedSource() const;
  uint64_t QueryBlockDevice(int fd);
  // The file system, label, UUID, mount point and free space of a disk or
  // partition, from the system's libraries.
  void QuerySystemFacts();
  bool DeviceHasMedium() const;
  // How one pass of the salvaging read ended.
  enum class RangeEnd { Complete, MediumGone, Stalled };
  // Reads the range, splitting what fails; a pass that does not complete
  // leaves zeros where it did not read and counts them unreadable.
  RangeEnd SalvageRange(uint8_t* buffer, uint64_t first, uint64_t count, SalvagedRead& result);
  // After a read that failed with `error`: whether the medium is gone
  // rather than the sectors bad.
  bool MediumGoneAfter(int error);
  // Logs the removal once and waits at the gate while `keepWaiting` holds
  // and at most MediumWaitLimitMs; true once the medium is back.
  bool WaitForMedium(const std::function<bool()>& keepWaiting);

  std::shared_ptr<IDevice> device_;
  std::shared_ptr<IDevice> attached_;
  // Serialises the device handle: one read in flight per volume.
  mutable std::mutex ioMutex_;
  mutable std::mutex childrenMutex_;
  std::mutex readLock_;
  std::unique_ptr<CFoundObjectTree> catalog_;
  std::unique_ptr<CFileSystem> fileSystem_;
  std::unique_ptr<CAnalyser> analyser_;
  std::thread analysisThread_;
  std::thread infoThread_;
  qm::CPauseGate mediaGate_;
  std::atomic<int32_t> stateBeforeRemoval_{StateReady};
};
