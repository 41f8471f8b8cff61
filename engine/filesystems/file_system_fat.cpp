#include "engine/filesystems/file_system_fat.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "engine/filesystems/fat_orphan_entries.h"
#include "engine/filesystems/little_endian.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "services/log.h"
#include "services/strings.h"
#include "services/text.h"

namespace {

using le::U16;
using le::U32;

bool IsPowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }

// Clusters visited by one chain walk, kept as intervals so that a loop is
// found without a bit per cluster of the volume.
class ClusterIntervals {
public:
  bool Contains(uint32_t c) const {
    auto it = map_.upper_bound(c);
    if (it == map_.begin()) return false;
    --it;
    return c <= it->second;
  }
  void Add(uint32_t c) {
    auto next = map_.upper_bound(c);
    bool joinedPrev = false;
    if (next != map_.begin()) {
      auto prev = std::prev(next);
      if (prev->second + 1 == c) {
        prev->second = c;
        joinedPrev = true;
        if (next != map_.end() && next->first == c + 1) {
          prev->second = next->second;
          map_.erase(next);
        }
      }
    }
    if (joinedPrev) return;
    if (next != map_.end() && next->first == c + 1) {
      uint32_t end = next->second;
      map_.erase(next);
      map_[c] = end;
    } else {
      map_[c] = c;
    }
  }

private:
  std::map<uint32_t, uint32_t> map_;  // first -> last, inclusive
};

constexpr size_t kEntry = 32;
// A FAT directory never holds more than 65536 entries.
constexpr size_t kMaxDirectoryBytes = 65536 * kEntry;
// The FAT is read in pieces of this many sectors.
constexpr uint64_t kFatReadSectors = 8192;
// A long name has at most 255 characters: 20 entries of 13.
constexpr int kMaxNameParts = 20;

}  // namespace

CFileSystem_FAT::CFileSystem_FAT(CVolume* volume) : CFileSystem(volume) {
  if (volume) {
    FileSystemType = volume->FileSystem().FileSystemType;
    FileSystemName = volume->FileSystem().FileSystemName;
  }
}

bool CFileSystem_FAT::Running() const {
  return theApp().AnalysisRunning.load() != 0 && (!Volume || Volume->State.load() != StateQuerying);
}

int64_t CFileSystem_FAT::RootObjectID() const {
  switch (FileSystemType) {
    case 11: case 12: case 27: case 28: {
      // The root's identity follows the boot sector's root cluster, so that
      // the entries of the root directory (whose ParentID is that cluster)
      // land under the root.
      if (!Volume) return 2;
      uint32_t root = U32(Volume->BootBuffer.data() + 0x2C);
      return root >= 2 && root < 0x0FFFFFF8 ? static_cast<int64_t>(root) : 2;
    }
    default:
      return CFileSystem::RootObjectID();
  }
}

bool CFileSystem_FAT::LoadGeometry() {
  geometryOk_ = false;
  if (!Volume) return false;
  const uint8_t* boot = Volume->BootBuffer.data();
  CLog& log = theLog();
  switch (FileSystemType) {
    case 1: case 17: EntryBits = 12; break;
    case 4: case 6: EntryBits = 16; break;
    case 11: EntryBits = 32; break;
    default: return false;
  }
  BytesPerSector = U16(boot + 0x0B);
  SectorsPerCluster = boot[0x0D];
  if (BytesPerSector != 512 && BytesPerSector != 1024 && BytesPerSector != 2048 && BytesPerSector != 4096) {
    log.Error("CFileSystem_FAT.Initialize: bytes per sector %d not supported", BytesPerSector);
    return false;
  }
  if (!IsPowerOfTwo(SectorsPerCluster)) {
    log.Error("CFileSystem_FAT.Initialize: sectors per cluster %d not valid", SectorsPerCluster);
    return false;
  }
  const uint64_t scale = BytesPerSector / 512;
  BytesPerCluster = BytesPerSector * SectorsPerCluster;
  ClusterSectors = static_cast<uint32_t>(BytesPerCluster / 512);
  ReservedSectors = U16(boot + 0x0E) * scale;
  NumberOfFats = boot[0x10];
  const bool fat32 = EntryBits == 32;
  RootEntries = fat32 ? 0 : U16(boot + 0x11);
  FatSectors = (fat32 ? U32(boot + 0x24) : U16(boot + 0x16)) * scale;
  FatSize = FatSectors * 512;
  RootCluster = fat32 ? U32(boot + 0x2C) : 0;
  if (ReservedSectors == 0 || NumberOfFats == 0 || FatSectors == 0) {
    log.Error("CFileSystem_FAT.Initialize: reserved sectors %d, FATs %d, sectors per FAT %I64d not valid",
              U16(boot + 0x0E), NumberOfFats, FatSectors / scale);
    return false;
  }
  FirstRootSector = ReservedSectors + NumberOfFats * FatSectors;
  const uint64_t rootBytes = static_cast<uint64_t>(RootEntries) * kEntry;
  FirstDataSector = FirstRootSector + (rootBytes + BytesPerSector - 1) / BytesPerSector * scale;

  // The data area ends where the boot sector says, but never beyond the
  // volume itself when its size is known.
  uint64_t bootTotal = U16(boot + 0x13);
  if (bootTotal == 0) bootTotal = U32(boot + 0x20);
  bootTotal *= scale;
  uint64_t total = bootTotal ? bootTotal : Volume->TotalSectors;
  if (Volume->TotalSectors && Volume->TotalSectors < total) total = Volume->TotalSectors;
  if (total <= FirstDataSector) {
    log.Error("CFileSystem_FAT.Initialize: the data area starts at sector %I64d, beyond the volume's %I64d sectors",
              FirstDataSector, total);
    return false;
  }
  uint64_t clusters = (total - FirstDataSector) / ClusterSectors;
  const uint64_t widthLimit = EntryBits == 12 ? 0xFF5 : EntryBits == 16 ? 0xFFF5 : 0x0FFFFFF5;
  const uint64_t fatEntries = FatSize * 8 / EntryBits;
  uint64_t last = clusters + 1;
  if (last > widthLimit) last = widthLimit;
  if (fatEntries < 3) {
    log.Error("CFileSystem_FAT.Initialize: the FAT holds no cluster");
    return false;
  }
  if (last > fatEntries - 1) last = fatEntries - 1;
  if (last < 2) {
    log.Error("CFileSystem_FAT.Initialize: the volume holds no cluster");
    return false;
  }
  LastCluster = static_cast<uint32_t>(last);
  geometryOk_ = true;
  return true;
}

bool CFileSystem_FAT::LoadFat() {
  fatLoaded_ = false;
  CLog& log = theLog();
  // Only the part of the FAT that describes clusters of the data area is
  // read: a hostile FAT size cannot make us allocate more than the volume
  // justifies.
  uint64_t needed = EntryBits == 12 ? (static_cast<uint64_t>(LastCluster) + 1) * 3 / 2 + 2
                                    : (static_cast<uint64_t>(LastCluster) + 1) * (EntryBits / 8);
  uint64_t sectors = std::min<uint64_t>((needed + 511) / 512, FatSectors);
  const bool compare = NumberOfFats >= 2;
  std::vector<uint8_t> second;
  try {
    FatCopy.assign(sectors * 512, 0);
    if (compare) second.assign(sectors * 512, 0);
  } catch (const std::bad_alloc&) {
    FatCopy.clear();
    log.AddError(GetString(193));
    return false;
  }
  bool readFailed = false, secondFailed = false;
  for (uint64_t done = 0; done < sectors; done += kFatReadSectors) {
    uint64_t n = std::min(kFatReadSectors, sectors - done);
    // A bad sector of the table costs its own entries only.
    auto whole = [n](const SalvagedRead& r) { return r.Sectors == n && r.Unreadable == 0; };
    if (!whole(Volume->ReadSectorsSalvaging(FatCopy.data() + done * 512, ReservedSectors + done, n))) readFailed = true;
    if (compare && !whole(Volume->ReadSectorsSalvaging(second.data() + done * 512, ReservedSectors + FatSectors + done, n)))
      secondFailed = true;
  }
  if (readFailed) log.AddError("CFileSystem_FAT.Initialize.ReadFAT");
  if (compare && !readFailed && !secondFailed && FatCopy != second)
    log.AddError("CFileSystem_FAT.Initialize: FAT1 and FAT2 not equal! (FAT1 or FAT2 corruppted");
  fatLoaded_ = true;
  return true;
}

bool CFileSystem_FAT::ReadFatEntry(uint32_t cluster, uint32_t& value) const {
  const size_t size = FatCopy.size();
  switch (EntryBits) {
    case 12: {
      uint64_t off = static_cast<uint64_t>(cluster) * 3 / 2;
      if (off + 1 >= size) return false;
      uint16_t v = U16(FatCopy.data() + off);
      value = (cluster & 1) ? v >> 4 : v & 0x0FFF;
      return true;
    }
    case 16: {
      uint64_t off = static_cast<uint64_t>(cluster) * 2;
      if (off + 1 >= size) return false;
      value = U16(FatCopy.data() + off);
      return true;
    }
    case 32: {
      uint64_t off = static_cast<uint64_t>(cluster & 0x0FFFFFFF) * 4;
      if (off + 3 >= size) return false;
      value = U32(FatCopy.data() + off) & 0x0FFFFFFF;
      return true;
    }
    default:
      return false;
  }
}

bool CFileSystem_FAT::IsEndOfChain(uint32_t value) const {
  switch (EntryBits) {
    case 12: return value >= 0xFF8 && value <= 0xFFF;
    case 16: return value >= 0xFFF8 && value <= 0xFFFF;
    case 32: return value >= 0x0FFFFFF8 && value <= 0x0FFFFFFF;
    default: return true;
  }
}

bool CFileSystem_FAT::IsFree(uint32_t cluster) const {
  uint32_t value = 1;
  return ReadFatEntry(cluster, value) && value == 0;
}

uint32_t CFileSystem_FAT::NextFreeCluster(uint32_t cluster) const {
  // FAT16 and FAT32 entries are read straight from the table: the search
  // for lost folders' entries runs this over every cluster of the volume.
  const uint64_t entries = EntryBits == 32 || EntryBits == 16 ? FatCopy.size() / (EntryBits / 8) : 0;
  const uint32_t last = entries ? static_cast<uint32_t>(std::min<uint64_t>(LastCluster, entries - 1)) : LastCluster;
  const uint8_t* fat = FatCopy.data();
  for (uint64_t c = std::max<uint32_t>(cluster, 2); c <= last; ++c) {
    const bool free = EntryBits == 32   ? (U32(fat + c * 4) & 0x0FFFFFFF) == 0
                      : EntryBits == 16 ? U16(fat + c * 2) == 0
                                        : IsFree(static_cast<uint32_t>(c));
    if (free) return static_cast<uint32_t>(c);
  }
  return LastCluster + 1;
}

size_t CFileSystem_FAT::FAT_GetClustersList(uint32_t cluster, std::vector<uint32_t>& list, size_t limit) const {
  list.clear();
  ClusterIntervals seen;
  const uint32_t first = cluster;
  while (list.size() < limit) {
    if (cluster == 0 || IsEndOfChain(cluster)) break;
    if (cluster < 2 || cluster > LastCluster) {
      theLog().Error("FAT_GetClustersList, NextCluster = 0x%X", cluster);
      break;
    }
    if (seen.Contains(cluster)) {
      theLog().Error("FAT_GetClustersList: the chain from 0x%X loops at 0x%X", first, cluster);
      break;
    }
    list.push_back(cluster);
    seen.Add(cluster);
    uint32_t next = 0;
    if (!ReadFatEntry(cluster, next)) {
      theLog().Error("FAT_GetClustersList, NextCluster = 0x%X", cluster);
      break;
    }
    cluster = next;
  }
  return list.size();
}

void CFileSystem_FAT::ClustersToRuns(const std::vector<uint32_t>& clusters, std::vector<ClusterRun>& runs,
                                     const CFoundObject* object) const {
  runs.clear();
  uint64_t total = 0;
  for (uint32_t c : clusters) {
    if (!runs.empty() && runs.back().First + runs.back().Count == c) {
      ++runs.back().Count;
    } else {
      runs.push_back({c, 1});
    }
    ++total;
  }
  if (!object || runs.empty() || !object->SizeKnown() || BytesPerCluster == 0) return;
  const uint64_t covered = total * BytesPerCluster;
  if (object->Size <= covered) return;
  uint64_t extra = (object->Size - covered + BytesPerCluster - 1) / BytesPerCluster;
  // Never past the end of the data area.
  ClusterRun& last = runs.back();
  uint64_t end = static_cast<uint64_t>(last.First) + last.Count;  // next cluster after the run
  uint64_t room = end <= static_cast<uint64_t>(LastCluster) + 1 ? LastCluster + 1 - end : 0;
  last.Count += static_cast<uint32_t>(std::min(extra, room));
}

uint64_t CFileSystem_FAT::ClusterToSector(uint64_t cluster) const {
  if (cluster < 2) return FirstDataSector;
  return (cluster - 2) * ClusterSectors + FirstDataSector;
}

void CFileSystem_FAT::DeletedFileClusters(uint32_t first, uint64_t size, std::vector<uint32_t>& list) const {
  // The chain of a deleted file is gone. Its data followed its first cluster
  // on clusters that were free when it was written; the clusters that live
  // objects own now cannot hold it, so they are passed over.
  list.clear();
  uint64_t needed = (size + BytesPerCluster - 1) / BytesPerCluster;
  for (uint64_t c = first; c <= LastCluster && list.size() < needed; ++c) {
    if (IsFree(static_cast<uint32_t>(c))) list.push_back(static_cast<uint32_t>(c));
  }
}

void CFileSystem_FAT::GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs) {
  runs.clear();
  if (!geometryOk_ && !LoadGeometry()) {
    CFileSystem::GetRuns(object, runs);
    return;
  }
  if (!fatLoaded_ && !LoadFat()) return;
  if (object.FirstCluster < 2 || object.FirstCluster > LastCluster) return;
  const uint32_t first = static_cast<uint32_t>(object.FirstCluster);
  const bool folder = object.IsFolder();
  const bool sized = object.SizeKnown() && !folder;
  if (sized && object.Size == 0) return;

  std::vector<uint32_t> clusters;
  std::vector<ClusterRun> clusterRuns;
  if (object.IsDeleted() && !folder && IsFree(first)) {
    DeletedFileClusters(first, object.Size, clusters);
    ClustersToRuns(clusters, clusterRuns, nullptr);
  } else {
    // A live object, or a deleted one whose first cluster is in use again
    // (moved to another folder, or overwritten): read along the chain.
    size_t limit = SIZE_MAX;
    if (sized) limit = static_cast<size_t>((object.Size + BytesPerCluster - 1) / BytesPerCluster);
    FAT_GetClustersList(first, clusters, limit);
    ClustersToRuns(clusters, clusterRuns, sized ? &object : nullptr);
  }

  uint64_t sectorsLeft = sized ? (object.Size + 511) / 512 : UINT64_MAX;
  for (const ClusterRun& r : clusterRuns) {
    if (sectorsLeft == 0) break;
    FoundObjectRun run;
    run.StartSector = ClusterToSector(r.First);
    run.SectorCount = std::min<uint64_t>(static_cast<uint64_t>(r.Count) * ClusterSectors, sectorsLeft);
    sectorsLeft -= run.SectorCount;
    runs.push_back(run);
  }
}

void CFileSystem_FAT::BuildUsedAreas() {
  UsedAreas.clear();
  uint32_t c = 2;
  for (; c <= LastCluster; ++c) {
    uint32_t value = 0;
    if (!ReadFatEntry(c, value)) break;
    if (value == 0) continue;
    uint64_t sector = ClusterToSector(c);
    if (!UsedAreas.empty() && UsedAreas.back().first + UsedAreas.back().second == sector) {
      UsedAreas.back().second += ClusterSectors;
    } else {
      UsedAreas.emplace_back(sector, ClusterSectors);
    }
  }
  // The clusters whose FAT entries were read.
  AllocationArea = {ClusterToSector(2), static_cast<uint64_t>(c - 2) * ClusterSectors};
}

void CFileSystem_FAT::Enqueue(uint32_t cluster, bool live) {
  auto it = queued_.find(cluster);
  if (it == queued_.end()) {
    queued_.emplace(cluster, live ? QueueState::QueuedLive : QueueState::QueuedDeleted);
    DirectoryQueue.push_back(cluster);
    return;
  }
  if (!live) return;
  if (it->second == QueueState::QueuedDeleted) {
    it->second = QueueState::QueuedLive;
  } else if (it->second == QueueState::SkippedDeleted) {
    it->second = QueueState::QueuedLive;
    DirectoryQueue.push_back(cluster);
  }
}

int CFileSystem_FAT::Initialize() {
  if (!Volume) return 0;
  if (!Volume->OpenDrive()) return 0;
  if (!LoadGeometry()) return 0;
  Volume->BytesPerSector = BytesPerSector;
  Volume->SectorsPerCluster = SectorsPerCluster;
  Volume->BytesPerCluster = BytesPerCluster;
  Volume->TotalClusters = LastCluster - 1;
  if (!LoadFat()) return 0;
  BuildUsedAreas();

  DirectoryQueue.clear();
  queued_.clear();
  VolumeLabel.clear();
  try {
    directoryClusters_.assign(static_cast<size_t>(LastCluster) + 1, false);
  } catch (const std::bad_alloc&) {
    theLog().AddError(GetString(193));
    return 0;
  }

  parsingRoot_ = true;
  if (EntryBits == 32) {
    if (RootCluster < 2 || RootCluster > LastCluster) {
      theLog().Error("CFileSystem_FAT.Initialize: root cluster 0x%X lies outside the FAT", RootCluster);
      parsingRoot_ = false;
      return 0;
    }
    queued_.emplace(RootCluster, QueueState::Walked);
    WalkDirectory(RootCluster, true);
  } else {
    const uint64_t sectors = FirstDataSector - FirstRootSector;
    std::vector<uint8_t> root(sectors * 512, 0);
    if (sectors && ReadVolumeSectors(root.data(), FirstRootSector, sectors) == 0) {
      theLog().AddError(GetString(194));
      parsingRoot_ = false;
      return 0;
    }
    ParseDirectory(root.data(), std::min<size_t>(root.size(), static_cast<size_t>(RootEntries) * kEntry),
                   RootObjectID());
  }
  parsingRoot_ = false;

  for (size_t i = 0; i < DirectoryQueue.size() && Running(); ++i) {
    uint32_t cluster = DirectoryQueue[i];
    auto it = queued_.find(cluster);
    if (it == queued_.end() || it->second == QueueState::Walked || it->second == QueueState::SkippedDeleted) continue;
    bool live = it->second == QueueState::QueuedLive;
    it->second = QueueState::Walked;
    WalkDirectory(cluster, live);
  }
  if (Running()) CFatOrphanEntries::Scan(*this, directoryClusters_);
  directoryClusters_.clear();
  directoryClusters_.shrink_to_fit();
  return 0;
}

void CFileSystem_FAT::WalkDirectory(uint32_t cluster, bool live) {
  if (cluster < 2 || cluster > LastCluster) return;
  std::vector<uint32_t> clusters;
  if (live) {
    FAT_GetClustersList(cluster, clusters, std::max<size_t>(1, kMaxDirectoryBytes / BytesPerCluster));
  } else if (IsFree(cluster)) {
    // A deleted folder's chain is gone; its first cluster is what is left.
    clusters.push_back(cluster);
  } else {
    // The cluster belongs to a live object now: it holds no entries of the
    // deleted folder.
    auto it = queued_.find(cluster);
    if (it != queued_.end()) it->second = QueueState::SkippedDeleted;
    return;
  }
  // A cluster is read as a directory once: cross-linked chains and folders
  // that name their own ancestors cannot make the walk read the volume over
  // and over.
  if (directoryClusters_.size() > LastCluster) {
    for (size_t i = 0; i < clusters.size(); ++i) {
      if (directoryClusters_[clusters[i]]) {
        theLog().Error("CFileSystem_FAT.WalkDirectory: cluster 0x%X of the directory at 0x%X was read before",
                       clusters[i], cluster);
        clusters.resize(i);
        break;
      }
      directoryClusters_[clusters[i]] = true;
    }
  }
  if (clusters.empty()) return;
  std::vector<ClusterRun> runs;
  ClustersToRuns(clusters, runs, nullptr);
  std::vector<uint8_t> buffer(clusters.size() * static_cast<size_t>(BytesPerCluster), 0);
  size_t at = 0;
  for (const ClusterRun& r : runs) {
    if (!Running()) break;
    ReadClusters(buffer.data() + at, r.First, r.Count);
    at += static_cast<size_t>(r.Count) * BytesPerCluster;
  }
  ParseDirectory(buffer.data(), buffer.size(), static_cast<int64_t>(cluster));
}

void CFileSystem_FAT::ParseDirectory(const uint8_t* buffer, size_t bytes, int64_t parent, bool freeCluster) {
  if (!buffer || !Volume) return;
  CFoundObject record;
  for (size_t off = 0; off + kEntry <= bytes && Running(); off += kEntry) {
    const uint8_t* e = buffer + off;
    if (!IsValidEntry(e)) continue;
    const uint8_t attr = e[0x0B];
    if (attr == 0x0F) continue;
    const bool deleted = e[0] == 0xE5;
    if (attr & 0x08) {
      if (parsingRoot_ && !deleted && VolumeLabel.empty()) {
        std::string label = qm::Cp1252ToUtf8(e, 11);
        while (!label.empty() && label.back() == ' ') label.pop_back();
        VolumeLabel = label;
      }
      continue;
    }
    if ((attr & 0x10) && e[0] == '.') continue;

    record.Initialize();
    record.SetName(GetEntryName(buffer, off, freeCluster));
    uint32_t cluster = U16(e + 0x1A);
    // The high word is part of the cluster number only on FAT32.
    if (EntryBits == 32) cluster |= static_cast<uint32_t>(U16(e + 0x14)) << 16;
    record.ObjectID = static_cast<int64_t>(cluster);
    record.FirstCluster = cluster;
    record.ParentID = parent;
    if (cluster >= 2 && cluster <= LastCluster) {
      record.StartOffset = static_cast<uint64_t>(cluster - 2) * BytesPerCluster + FirstDataSector * 512;
    }
    record.Size = U32(e + 0x1C);
    record.CreationTime = DosDateTimeToFileTime(U16(e + 0x10), U16(e + 0x0E));
    record.ModificationTime = DosDateTimeToFileTime(U16(e + 0x18), U16(e + 0x16));
    record.AccessTime = DosDateTimeToFileTime(U16(e + 0x12), 0);
    if (deleted || freeCluster) record.Flags |= FOF_DELETED;
    record.Attributes = attr;
    if (attr & 0x10) {
      record.Flags |= FOF_FOLDER;
      if (cluster >= 2 && cluster <= LastCluster) Enqueue(cluster, !deleted);
    }
    if (record.ObjectID == 0 && record.ParentID == 0) {
      // An empty file in the FAT12/16 root has no cluster: it would carry the
      // root's own identity, so it goes under a placeholder folder instead.
      record.ParentID = ORPHAN_FILES_ID;
      record.ObjectID = -1;
    } else if (record.ObjectID == 0 && freeCluster) {
      // The catalog makes a missing folder's placeholder only for an object
      // with an identity of its own.
      record.ObjectID = -1;
    }
    Volume->AddFileSystemObject(record);
  }
}

uint8_t CFileSystem_FAT::ShortNameChecksum(const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

std::u16string CFileSystem_FAT::LongNameOf(const uint8_t* buffer, size_t offset, bool cutStart) {
  // The long-name entries before a short entry, nearest first, hold the
  // parts of its name in order: sequence numbers 1, 2, ... with 0x40 on the
  // last, each carrying the checksum of the short name. Entries that break
  // either rule belong to another (earlier, deleted) file: the name is not
  // taken. A deleted file's entries all lost their first byte, so there the
  // sequence cannot be checked and the short name's first character is not
  // known; the checksum then fixes that character, which has to be the one
  // the long name begins with.
  const uint8_t* entry = buffer + offset;
  const bool deleted = entry[0] == 0xE5;
  static constexpr int kPos[13] = {0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E};
  std::u16string units;
  int parts = 0;
  bool textEnded = false, lastPart = false;
  int checksum = -1;
  size_t at = offset;
  while (at >= kEntry && parts < kMaxNameParts && !lastPart) {
    at -= kEntry;
    const uint8_t* l = buffer + at;
    if (l[0x0B] != 0x0F) break;
    if ((l[0] == 0xE5) != deleted) break;
    if (checksum >= 0 && l[0x0D] != checksum) break;
    checksum = l[0x0D];
    ++parts;
    if (!deleted) {
      if ((l[0] & 0x1F) != parts) return {};
      lastPart = (l[0] & 0x40) != 0;
    }
    for (int p : kPos) {
      const char16_t u = static_cast<char16_t>(U16(l + p));
      if (u == 0) textEnded = true;
      if (!textEnded) units.push_back(u);
    }
    // A deleted name ends with the part that holds its terminator.
    if (deleted && textEnded) lastPart = true;
  }
  if (units.empty() || (!deleted && !lastPart)) return {};
  // A deleted name whose parts run to the start of a buffer that may begin
  // inside a directory, without its terminator, may go on before it: a cut
  // name is no name.
  if (deleted && cutStart && !textEnded && at == 0 && buffer[0x0B] == 0x0F) return {};
  if (!deleted) return checksum == ShortNameChecksum(entry) ? units : std::u16string{};

  uint8_t name[11];
  std::memcpy(name, entry, 11);
  int first = -1;
  for (int b = 0x20; b < 0x100 && first < 0; ++b) {
    name[0] = static_cast<uint8_t>(b);
    if (ShortNameChecksum(name) == checksum) first = b;
  }
  if (first < 0) return {};
  size_t lead = 0;
  while (lead < units.size() && (units[lead] == u'.' || units[lead] == u' ')) ++lead;
  if (lead == units.size()) return {};
  char16_t c = units[lead];
  if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  const bool plain = (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
  if (plain ? first != c : (first >= 'a' && first <= 'z')) return {};
  return units;
}

std::string CFileSystem_FAT::GetEntryName(const uint8_t* buffer, size_t offset, bool cutStart) {
  const uint8_t* entry = buffer + offset;
  std::u16string units = LongNameOf(buffer, offset, cutStart);
  if (!units.empty()) return qm::Utf16ToUtf8(units);

  // Short name. NT-style case bits at 0x0C ask for a lower-case base name
  // (0x08) or extension (0x10), the way every system shows such names.
  const bool deleted = entry[0] == 0xE5;
  const bool lowerBase = entry[0x0C] & 0x08, lowerExt = entry[0x0C] & 0x10;
  auto piece = [](const uint8_t* p, size_t n, bool lower, size_t skip, bool base) {
    std::string out;
    for (size_t i = skip; i < n && p[i] != ' '; ++i) {
      uint8_t b = p[i];
      if (base && i == 0 && b == 0x05) b = 0xE5;  // a name whose first character is 0xE5
      if (lower && b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b - 'A' + 'a');
      out += qm::CodePointToUtf8(qm::Cp1252ToCodePoint(b));
    }
    return out;
  };
  std::string name = deleted ? "_" + piece(entry, 8, lowerBase, 1, true) : piece(entry, 8, lowerBase, 0, true);
  if (entry[8] != ' ') name += "." + piece(entry + 8, 3, lowerExt, 0, false);
  return name;
}

bool CFileSystem_FAT::IsValidShortName(const uint8_t* entry) {
  if (entry[0] == 0x05) {
    // passes
  } else if (entry[0] == 0x00 || entry[0] == ' ') {
    return false;
  }
  static constexpr char kBad[] = "\"*+,/:;<=>?[\\]|";
  for (int i = 0; i < 11; ++i) {
    if (i == 0 && (entry[0] == 0x05 || entry[0] == 0xE5)) continue;
    uint8_t b = entry[i];
    if (b < 0x20) return false;
    if (std::memchr(kBad, b, sizeof(kBad) - 1)) return false;
    if (b >= 'a' && b <= 'z') return false;
  }
  return true;
}

bool CFileSystem_FAT::IsValidEntry(const uint8_t* entry) {
  const uint8_t attr = entry[0x0B];
  if ((attr & 0x0F) == 0x0F) return attr == 0x0F && U16(entry + 0x1A) == 0;
  return IsValidShortName(entry) && entry[0x0D] < 200 && attr < 0x40;
}

uint64_t CFileSystem_FAT::DosDateTimeToFileTime(uint16_t date, uint16_t time) {
  const int year = 1980 + (date >> 9), month = (date >> 5) & 0x0F, day = date & 0x1F;
  const int hour = time >> 11, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return 0;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return 0;
  // Days since 1970-01-01 of a civil date.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  constexpr int64_t kDays1601To1970 = 134774;
  const int64_t seconds = (days + kDays1601To1970) * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>(seconds) * 10000000ull;
}

std::string CFileSystem_FAT::BootSectorLabel(const uint8_t* boot, uint32_t fileSystemId) {
  const size_t at = (fileSystemId == 11 || fileSystemId == 12) ? 0x47 : 0x2B;
  std::string label;
  for (size_t i = 0; i < 11; ++i) {
    uint8_t b = boot[at + i];
    if (b < 0x20) return {};
    label += qm::CodePointToUtf8(qm::Cp1252ToCodePoint(b));
  }
  while (!label.empty() && label.back() == ' ') label.pop_back();
  if (label == "NO NAME") return {};
  return label;
}
