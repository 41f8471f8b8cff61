#include "engine/filesystems/file_system_exfat.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/filesystems/file_system_fat.h"
#include "engine/filesystems/little_endian.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "services/format.h"
#include "services/log.h"
#include "services/text.h"

namespace {

using le::U16;
using le::U32;
using le::U64;

constexpr size_t kEntry = 32;
// Entry types with the in-use bit (0x80) taken off.
constexpr uint8_t kTypeBitmap = 0x01;
constexpr uint8_t kTypeUpcase = 0x02;
constexpr uint8_t kTypeLabel = 0x03;
constexpr uint8_t kTypeFile = 0x05;
constexpr uint8_t kTypeStream = 0x40;
constexpr uint8_t kTypeName = 0x41;
constexpr uint8_t kInUse = 0x80;
constexpr uint8_t kNoFatChain = 0x02;
constexpr uint16_t kAttrDirectory = 0x10;
// A directory holds at most 256 MiB of entries.
constexpr uint64_t kMaxDirectoryBytes = 256ull << 20;
constexpr uint32_t kMaxDamageLines = 20;
// The FAT is read in pieces of this many sectors.
constexpr uint64_t kFatCacheSectors = 64;
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;
constexpr uint32_t kBadCluster = 0xFFFFFFF7;
// An up-case table maps 65536 characters; stored whole it takes 128 KiB.
constexpr size_t kUpcaseCharacters = 0x10000;

}  // namespace

CFileSystem_exFAT::CFileSystem_exFAT(CVolume* volume) : CFileSystem(volume) {
  FileSystemType = EXFAT_FILE_SYSTEM_ID;
  GetFileSystemName(FileSystemType);
}

bool CFileSystem_exFAT::Running() const {
  return theApp().AnalysisRunning.load() != 0 && (!Volume || Volume->State.load() != StateQuerying);
}

void CFileSystem_exFAT::LogDamage(const std::string& text) {
  if (damageLines_ >= kMaxDamageLines) return;
  if (++damageLines_ == kMaxDamageLines) {
    theLog().AddError("CFileSystem_exFAT: too many damaged entries; no further ones are logged.");
    return;
  }
  theLog().AddError(text);
}

bool CFileSystem_exFAT::IsBootSector(const uint8_t* boot) {
  if (!boot || std::memcmp(boot + 3, "EXFAT   ", 8) != 0) return false;
  for (size_t i = 0x0B; i < 0x40; ++i)
    if (boot[i]) return false;
  return true;
}

uint32_t CFileSystem_exFAT::BootChecksum(const uint8_t* region, uint32_t bytesPerSector) {
  uint32_t sum = 0;
  const size_t bytes = static_cast<size_t>(bytesPerSector) * 11;
  for (size_t i = 0; i < bytes; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  return sum;
}

uint16_t CFileSystem_exFAT::EntrySetChecksum(const uint8_t* set, size_t entries, bool asInUse) {
  uint16_t sum = 0;
  for (size_t i = 0; i < entries * kEntry; ++i) {
    if (i == 2 || i == 3) continue;
    uint8_t b = set[i];
    if (asInUse && i % kEntry == 0) b |= kInUse;
    sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

uint32_t CFileSystem_exFAT::TableChecksum(const uint8_t* table, size_t bytes) {
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + table[i];
  return sum;
}

bool CFileSystem_exFAT::SetUpcaseTable(const uint8_t* table, size_t bytes) {
  std::vector<char16_t> map(kUpcaseCharacters);
  for (size_t c = 0; c < kUpcaseCharacters; ++c) map[c] = static_cast<char16_t>(c);
  size_t next = 0;
  for (size_t at = 0; at + 2 <= bytes; at += 2) {
    const uint16_t v = U16(table + at);
    if (v == 0xFFFF && at + 4 <= bytes) {
      // That many characters map to themselves.
      next += U16(table + at + 2);
      at += 2;
    } else {
      if (next >= kUpcaseCharacters) return false;
      map[next++] = static_cast<char16_t>(v);
    }
    if (next > kUpcaseCharacters) return false;
  }
  upcase_ = std::move(map);
  return true;
}

bool CFileSystem_exFAT::LoadUpcaseTable(uint32_t first, uint64_t bytes, uint32_t checksum) {
  upcase_.clear();
  if (bytes == 0 || bytes > kUpcaseCharacters * 2) {
    LogDamage(qm::Format("CFileSystem_exFAT: the up-case table's length %I64d is not valid", bytes));
    return false;
  }
  std::vector<uint32_t> clusters;
  ClustersOf(first, bytes, true, clusters);
  std::vector<uint8_t> table(clusters.size() * static_cast<size_t>(BytesPerCluster));
  if (clusters.empty() || !ReadHeap(table.data(), clusters.front(), clusters.size()) || table.size() < bytes) {
    LogDamage("CFileSystem_exFAT: the up-case table cannot be read");
    return false;
  }
  if (TableChecksum(table.data(), static_cast<size_t>(bytes)) != checksum) {
    LogDamage("CFileSystem_exFAT: the up-case table fails its checksum; name hashes are not checked");
    return false;
  }
  if (!SetUpcaseTable(table.data(), static_cast<size_t>(bytes))) {
    LogDamage("CFileSystem_exFAT: the up-case table maps past the last character");
    return false;
  }
  return true;
}

char16_t CFileSystem_exFAT::UpCase(char16_t c) const { return upcase_.empty() ? c : upcase_[c]; }

uint16_t CFileSystem_exFAT::NameHash(const std::u16string& name) const {
  uint16_t hash = 0;
  for (char16_t c : name) {
    const char16_t u = UpCase(c);
    for (uint8_t b : {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)})
      hash = static_cast<uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + b);
  }
  return hash;
}

uint64_t CFileSystem_exFAT::TimestampToFileTime(uint32_t stamp, uint8_t tenMs, uint8_t utcOffset) {
  const uint16_t date = static_cast<uint16_t>(stamp >> 16), time = static_cast<uint16_t>(stamp);
  const uint64_t local = CFileSystem_FAT::DosDateTimeToFileTime(date, time);
  if (local == 0) return 0;
  uint64_t t = local + (tenMs < 200 ? tenMs : 0) * 100000ull;
  if (utcOffset & 0x80) {
    // A signed count of 15-minute steps east of UTC in the low seven bits.
    int offset = utcOffset & 0x7F;
    if (offset & 0x40) offset -= 0x80;
    const int64_t shift = static_cast<int64_t>(offset) * 15 * 60 * 10000000ll;
    t = static_cast<uint64_t>(static_cast<int64_t>(t) - shift);
  }
  return t;
}

bool CFileSystem_exFAT::LoadGeometry() {
  geometryOk_ = false;
  if (!Volume) return false;
  CLog& log = theLog();
  // The main boot region, and the backup behind it when the main one fails
  // its checksum. Sector sizes go up to 4096 bytes: 12 sectors of that are
  // read for either.
  const uint8_t* boot = nullptr;
  std::vector<uint8_t> region(12 * 4096);
  // Where each region may start, in 512-byte sectors: the backup follows
  // the main region's 12 sectors of whatever size the sectors have.
  static constexpr uint64_t kStarts[] = {0, 12, 24, 48, 96};
  for (uint64_t first : kStarts) {
    if (boot) break;
    if (ReadVolumeSectors(region.data(), first, uint64_t{1}) < 512 || !IsBootSector(region.data())) continue;
    const uint8_t shift = region[0x6C];
    if (shift < 9 || shift > 12) continue;
    const uint32_t bps = 1u << shift;
    const uint64_t scale = bps / 512;
    if (first != 0 && first != 12 * scale) continue;
    if (ReadVolumeSectors(region.data(), first, 12 * scale) < 12 * bps) continue;
    const uint32_t sum = BootChecksum(region.data(), bps);
    bool match = true;
    for (uint32_t i = 0; i < bps / 4 && match; ++i) match = U32(region.data() + 11 * bps + 4 * i) == sum;
    if (match) {
      boot = region.data();
    } else {
      log.Error(first == 0 ? "CFileSystem_exFAT: the main boot region fails its checksum"
                           : "CFileSystem_exFAT: the backup boot region fails its checksum");
    }
  }
  if (!boot) {
    // Neither region holds together: the boot sector alone may still
    // describe the volume, and every field is checked below.
    if (ReadVolumeSectors(region.data(), 0, uint64_t{1}) < 512 || !IsBootSector(region.data())) {
      log.Error("CFileSystem_exFAT: no exFAT boot sector");
      return false;
    }
    boot = region.data();
  }

  const uint8_t bpsShift = boot[0x6C], spcShift = boot[0x6D];
  if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) {
    log.Error("CFileSystem_exFAT: sector shift %d and cluster shift %d not valid", bpsShift, spcShift);
    return false;
  }
  BytesPerSector = 1u << bpsShift;
  BytesPerCluster = BytesPerSector << spcShift;
  ClusterSectors = BytesPerCluster / 512;
  const uint64_t scale = BytesPerSector / 512;
  const uint64_t volumeLength = U64(boot + 0x48) * scale;
  FatSector = U32(boot + 0x50) * scale;
  FatSectors = U32(boot + 0x54) * scale;
  HeapSector = U32(boot + 0x58) * scale;
  uint64_t clusters = U32(boot + 0x5C);
  RootCluster = U32(boot + 0x60);
  const uint8_t fats = boot[0x6E];
  if (fats < 1 || fats > 2 || FatSector < 24 * scale || FatSectors == 0 || HeapSector < FatSector + FatSectors) {
    log.Error("CFileSystem_exFAT: FAT at %I64d (%I64d sectors), heap at %I64d not valid", FatSector, FatSectors,
              HeapSector);
    return false;
  }
  // The heap ends where the boot sector says, never beyond the volume.
  uint64_t total = volumeLength;
  if (Volume->TotalSectors && (total == 0 || Volume->TotalSectors < total)) total = Volume->TotalSectors;
  if (total <= HeapSector) {
    log.Error("CFileSystem_exFAT: the cluster heap starts beyond the volume");
    return false;
  }
  clusters = std::min<uint64_t>(clusters, (total - HeapSector) / ClusterSectors);
  // Every cluster needs its FAT entry.
  clusters = std::min<uint64_t>(clusters, FatSectors * 512 / 4 > 2 ? FatSectors * 512 / 4 - 2 : 0);
  clusters = std::min<uint64_t>(clusters, 0xFFFFFFF5ull);
  if (clusters == 0) {
    log.Error("CFileSystem_exFAT: the volume holds no cluster");
    return false;
  }
  ClusterCount = static_cast<uint32_t>(clusters);
  if (RootCluster < 2 || RootCluster > ClusterCount + 1) {
    log.Error("CFileSystem_exFAT: root cluster 0x%X lies outside the heap", RootCluster);
    return false;
  }
  geometryOk_ = true;
  return true;
}

bool CFileSystem_exFAT::ReadHeap(uint8_t* buffer, uint32_t cluster, size_t count) {
  const uint64_t sectors = static_cast<uint64_t>(count) * ClusterSectors;
  return ReadVolumeSectors(buffer, ClusterToSector(cluster), sectors) == sectors * 512;
}

uint64_t CFileSystem_exFAT::ClusterToSector(uint64_t cluster) const {
  if (cluster < 2) return HeapSector;
  return (cluster - 2) * ClusterSectors + HeapSector;
}

bool CFileSystem_exFAT::ReadFatEntry(uint32_t cluster, uint32_t& value) {
  const uint64_t byte = static_cast<uint64_t>(cluster) * 4;
  const uint64_t sector = byte / 512;
  if (sector >= FatSectors) return false;
  const uint64_t piece = sector / kFatCacheSectors * kFatCacheSectors;
  if (piece != fatCacheSector_) {
    const uint64_t count = std::min(kFatCacheSectors, FatSectors - piece);
    fatCache_.assign(count * 512, 0);
    if (ReadVolumeSectors(fatCache_.data(), FatSector + piece, count) < count * 512) {
      fatCacheSector_ = UINT64_MAX;
      return false;
    }
    fatCacheSector_ = piece;
  }
  const uint64_t at = byte - piece * 512;
  if (at + 4 > fatCache_.size()) return false;
  value = U32(fatCache_.data() + at);
  return true;
}

size_t CFileSystem_exFAT::GetChain(uint32_t first, std::vector<uint32_t>& list, size_t limit) {
  list.clear();
  // A chain visits a cluster once; longer than the heap it loops.
  std::vector<bool> seen;
  uint32_t cluster = first;
  while (list.size() < limit && list.size() <= ClusterCount) {
    if (cluster < 2 || cluster > ClusterCount + 1) {
      if (cluster != kEndOfChain) LogDamage(qm::Format("CFileSystem_exFAT: chain from 0x%X reaches 0x%X", first, cluster));
      break;
    }
    if (list.size() >= 64) {
      // Short chains are checked by looking back; long ones get a bit map.
      if (seen.empty()) {
        seen.assign(static_cast<size_t>(ClusterCount) + 2, false);
        for (uint32_t c : list) seen[c] = true;
      }
      if (seen[cluster]) {
        LogDamage(qm::Format("CFileSystem_exFAT: the chain from 0x%X loops at 0x%X", first, cluster));
        break;
      }
      seen[cluster] = true;
    } else if (std::find(list.begin(), list.end(), cluster) != list.end()) {
      LogDamage(qm::Format("CFileSystem_exFAT: the chain from 0x%X loops at 0x%X", first, cluster));
      break;
    }
    list.push_back(cluster);
    uint32_t next = 0;
    if (!ReadFatEntry(cluster, next) || next == kBadCluster || next == 0) break;
    cluster = next;
  }
  return list.size();
}

void CFileSystem_exFAT::ClustersOf(uint32_t first, uint64_t bytes, bool contiguous, std::vector<uint32_t>& list) {
  list.clear();
  if (first < 2 || first > ClusterCount + 1 || bytes == 0) return;
  const uint64_t needed = (bytes + BytesPerCluster - 1) / BytesPerCluster;
  if (!contiguous) {
    GetChain(first, list, static_cast<size_t>(std::min<uint64_t>(needed, ClusterCount)));
    return;
  }
  const uint64_t room = static_cast<uint64_t>(ClusterCount) + 2 - first;
  const uint64_t count = std::min(needed, room);
  list.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) list.push_back(static_cast<uint32_t>(first + i));
}

bool CFileSystem_exFAT::IsAllocated(uint32_t cluster) const {
  if (cluster < 2) return true;
  const uint64_t bit = cluster - 2;
  if (bit / 8 >= bitmap_.size()) return false;
  return (bitmap_[bit / 8] >> (bit % 8)) & 1;
}

bool CFileSystem_exFAT::LoadBitmap(uint32_t first, uint64_t bytes, bool contiguous) {
  // Never more than one bit per cluster of the heap.
  bytes = std::min<uint64_t>(bytes, (static_cast<uint64_t>(ClusterCount) + 7) / 8);
  std::vector<uint32_t> clusters;
  ClustersOf(first, bytes, contiguous, clusters);
  try {
    bitmap_.assign(clusters.size() * static_cast<size_t>(BytesPerCluster), 0);
  } catch (const std::bad_alloc&) {
    bitmap_.clear();
    return false;
  }
  for (size_t i = 0; i < clusters.size(); ++i) ReadHeap(bitmap_.data() + i * BytesPerCluster, clusters[i], 1);
  bitmap_.resize(std::min<size_t>(bitmap_.size(), static_cast<size_t>(bytes)));
  return !bitmap_.empty();
}

void CFileSystem_exFAT::BuildUsedAreas() {
  UsedAreas.clear();
  for (uint32_t c = 2; c <= ClusterCount + 1; ++c) {
    if (!IsAllocated(c)) continue;
    const uint64_t sector = ClusterToSector(c);
    if (!UsedAreas.empty() && UsedAreas.back().first + UsedAreas.back().second == sector) {
      UsedAreas.back().second += ClusterSectors;
    } else {
      UsedAreas.emplace_back(sector, ClusterSectors);
    }
  }
  // The clusters the bitmap that was read describes.
  AllocationArea = {ClusterToSector(2), std::min<uint64_t>(ClusterCount, bitmap_.size() * 8) * ClusterSectors};
}

int CFileSystem_exFAT::Analyse() {
  if (!Volume || !Volume->OpenDrive() || !LoadGeometry()) return 0;
  Volume->BytesPerSector = BytesPerSector;
  Volume->SectorsPerCluster = BytesPerCluster / BytesPerSector;
  Volume->BytesPerCluster = BytesPerCluster;
  Volume->TotalClusters = ClusterCount;
  VolumeLabel.clear();
  bitmap_.clear();
  upcase_.clear();
  live_.clear();
  deleted_.clear();
  try {
    directoryClusters_.assign(static_cast<size_t>(ClusterCount) + 2, false);
  } catch (const std::bad_alloc&) {
    theLog().AddError("Can't allocate memory!");
    return 0;
  }
  // The root directory always follows the FAT; its size is its chain's.
  live_.push_back({RootCluster, kMaxDirectoryBytes, false, true, kRootId});
  // Live folders first, so that a cluster a deleted folder once used and a
  // live one uses now is read as the live one's.
  for (size_t i = 0; i < live_.size() && Running(); ++i) WalkDirectory(live_[i]);
  for (size_t i = 0; i < deleted_.size() && Running(); ++i) WalkDirectory(deleted_[i]);
  BuildUsedAreas();
  directoryClusters_.clear();
  directoryClusters_.shrink_to_fit();
  return 0;
}

void CFileSystem_exFAT::WalkDirectory(PendingDirectory directory) {
  std::vector<uint32_t> clusters;
  if (!directory.Live && IsAllocated(directory.First)) return;  // in use by a live object now
  ClustersOf(directory.First, std::min(directory.Bytes, kMaxDirectoryBytes), directory.Contiguous || !directory.Live,
             clusters);
  if (!directory.Live) {
    // A deleted folder's clusters that live objects own now hold none of
    // its entries.
    size_t keep = 0;
    while (keep < clusters.size() && !IsAllocated(clusters[keep])) ++keep;
    clusters.resize(keep);
  }
  // A cluster is read as a directory once: cross-linked chains and folders
  // naming their own ancestors cannot make the walk read the volume over
  // and over.
  for (size_t i = 0; i < clusters.size(); ++i) {
    if (directoryClusters_[clusters[i]]) {
      LogDamage(qm::Format("CFileSystem_exFAT: cluster 0x%X of the directory at 0x%X was read before", clusters[i],
                           directory.First));
      clusters.resize(i);
      break;
    }
    directoryClusters_[clusters[i]] = true;
  }
  if (clusters.empty()) return;
  std::vector<uint8_t> buffer(clusters.size() * static_cast<size_t>(BytesPerCluster), 0);
  for (size_t i = 0; i < clusters.size();) {
    if (!Running()) return;
    size_t n = 1;
    while (i + n < clusters.size() && clusters[i + n] == clusters[i] + n) ++n;
    ReadHeap(buffer.data() + i * BytesPerCluster, clusters[i], n);
    i += n;
  }
  ParseDirectory(buffer.data(), buffer.size(), clusters, directory.Id);
}

uint64_t CFileSystem_exFAT::EntryPosition(const std::vector<uint32_t>& clusters, size_t offset) const {
  const size_t index = offset / BytesPerCluster;
  return ClusterToSector(clusters[index]) * 512 + offset % BytesPerCluster;
}

void CFileSystem_exFAT::ParseDirectory(const uint8_t* buffer, size_t bytes, const std::vector<uint32_t>& clusters,
                                       int64_t parent) {
  if (!buffer || !Volume) return;
  bytes = std::min(bytes, clusters.size() * static_cast<size_t>(BytesPerCluster));
  if (parent == kRootId && upcase_.empty()) {
    // The up-case table first, wherever the root keeps its entry: the name
    // of every file is checked through it.
    for (size_t at = 0; at + kEntry <= bytes && buffer[at] != 0; at += kEntry) {
      const uint8_t* e = buffer + at;
      if (e[0] == (kInUse | kTypeUpcase)) {
        LoadUpcaseTable(U32(e + 0x14), U64(e + 0x18), U32(e + 0x04));
        break;
      }
    }
  }
  for (size_t at = 0; at + kEntry <= bytes && Running();) {
    const uint8_t* e = buffer + at;
    // The end-of-directory mark: nothing was ever written from here on.
    if (e[0] == 0) break;
    at += ParseEntrySet(buffer, bytes, at, clusters, parent) * kEntry;
  }
}

size_t CFileSystem_exFAT::ParseEntrySet(const uint8_t* buffer, size_t bytes, size_t at,
                                        const std::vector<uint32_t>& clusters, int64_t parent) {
  const uint8_t* e = buffer + at;
  const uint8_t type = e[0] & 0x7F;
  const bool live = e[0] & kInUse;
  if (type == kTypeLabel && live && parent == kRootId) {
    const size_t count = std::min<size_t>(e[1], 11);
    VolumeLabel = qm::Utf16LeBytesToUtf8(e + 2, count);
    return 1;
  }
  if (type == kTypeBitmap && live && parent == kRootId && bitmap_.empty()) {
    // The first bitmap (a second one belongs to the second FAT).
    if (!(e[1] & 1)) LoadBitmap(U32(e + 0x14), U64(e + 0x18), true);
    return 1;
  }
  if (type != kTypeFile) return 1;

  // A file entry, a stream extension and the name entries: all in use or
  // all deleted, the set's checksum right.
  const size_t secondary = e[1];
  if (secondary < 2 || secondary > 18 || at + (secondary + 1) * kEntry > bytes) return 1;
  for (size_t i = 1; i <= secondary; ++i) {
    const uint8_t t = buffer[at + i * kEntry];
    if (((t & kInUse) != 0) != live || !(t & 0x40)) return 1;  // secondary entries have bit 6 set
  }
  const uint8_t* stream = e + kEntry;
  if ((stream[0] & 0x7F) != kTypeStream) return 1;
  if (EntrySetChecksum(e, secondary + 1, !live) != U16(e + 2)) {
    if (live)
      LogDamage(qm::Format("CFileSystem_exFAT: entry set at 0x%I64X fails its checksum",
                           EntryPosition(clusters, at)));
    return 1;
  }
  const size_t nameLength = stream[3];
  const size_t nameEntries = (nameLength + 14) / 15;
  if (nameLength == 0 || nameEntries + 1 > secondary) return 1;
  std::u16string name;
  for (size_t i = 0; i < nameEntries; ++i) {
    const uint8_t* n = e + (2 + i) * kEntry;
    if ((n[0] & 0x7F) != kTypeName) return 1;
    for (size_t k = 0; k < 15 && name.size() < nameLength; ++k) name.push_back(static_cast<char16_t>(U16(n + 2 + 2 * k)));
  }

  // The stream extension keeps a hash of the up-cased name: without the
  // volume's own table it cannot be checked.
  if (!upcase_.empty() && NameHash(name) != U16(stream + 4))
    LogDamage(qm::Format("CFileSystem_exFAT: entry set at 0x%I64X: its name hash does not match its name",
                         EntryPosition(clusters, at)));

  CFoundObject record;
  record.SetName(qm::Utf16ToUtf8(name));
  const uint16_t attributes = U16(e + 4);
  const uint32_t first = U32(stream + 0x14);
  const uint64_t length = U64(stream + 0x18);
  const bool contiguous = stream[1] & kNoFatChain;
  record.ObjectID = static_cast<int64_t>(EntryPosition(clusters, at + kEntry) / kEntry);
  record.ParentID = parent;
  record.Attributes = attributes;
  record.CreationTime = TimestampToFileTime(U32(e + 0x08), e[0x14], e[0x16]);
  record.ModificationTime = TimestampToFileTime(U32(e + 0x0C), e[0x15], e[0x17]);
  record.AccessTime = TimestampToFileTime(U32(e + 0x10), 0, e[0x18]);
  if (first >= 2 && first <= ClusterCount + 1) {
    record.FirstCluster = first;
    record.StartOffset = ClusterToSector(first) * 512;
  }
  if (!live) record.Flags |= FOF_DELETED;
  if (attributes & kAttrDirectory) {
    record.Flags |= FOF_FOLDER;
    if (record.FirstCluster) {
      PendingDirectory d{first, length, contiguous, live, record.ObjectID};
      (live ? live_ : deleted_).push_back(d);
    }
  } else {
    record.Flags |= FOF_FILE;
    record.Size = length;
    // A deleted file's chain is gone: read from its first cluster on, it is
    // whole only if it was written in one piece.
    if (!live && !contiguous && length > BytesPerCluster) record.Flags |= FOF_POSSIBLY_INCOMPLETE;
  }
  Volume->AddFileSystemObject(record);
  return secondary + 1;
}

void CFileSystem_exFAT::GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs) {
  runs.clear();
  if (!geometryOk_ && !LoadGeometry()) return;
  if (object.IsFolder() || !object.SizeKnown() || object.Size == 0) return;
  const uint32_t first = static_cast<uint32_t>(object.FirstCluster);
  if (object.FirstCluster < 2 || object.FirstCluster > ClusterCount + 1) return;
  // The no-chain flag from the object's stream extension, read back; a
  // deleted file is read in one piece whatever it says.
  bool contiguous = object.IsDeleted();
  if (!contiguous && object.ObjectID > 0) {
    uint8_t sector[512];
    const uint64_t position = static_cast<uint64_t>(object.ObjectID) * kEntry;
    if (ReadVolumeSectors(sector, position / 512, uint64_t{1}) == 512) {
      const uint8_t* s = sector + position % 512;
      if ((s[0] & 0x7F) == kTypeStream && U32(s + 0x14) == first) contiguous = s[1] & kNoFatChain;
    }
  }
  std::vector<uint32_t> clusters;
  ClustersOf(first, object.Size, contiguous, clusters);
  uint64_t sectorsLeft = (object.Size + 511) / 512;
  for (size_t i = 0; i < clusters.size() && sectorsLeft;) {
    size_t n = 1;
    while (i + n < clusters.size() && clusters[i + n] == clusters[i] + n) ++n;
    FoundObjectRun run;
    run.StartSector = ClusterToSector(clusters[i]);
    run.SectorCount = std::min<uint64_t>(static_cast<uint64_t>(n) * ClusterSectors, sectorsLeft);
    sectorsLeft -= run.SectorCount;
    runs.push_back(run);
    i += n;
  }
}

std::string CFileSystem_exFAT::ReadVolumeLabel(CVolume& volume) {
  CFileSystem_exFAT parser(&volume);
  if (!parser.LoadGeometry()) return {};
  std::vector<uint8_t> buffer(parser.BytesPerCluster);
  if (!parser.ReadHeap(buffer.data(), parser.RootCluster, 1)) return {};
  for (size_t at = 0; at + kEntry <= buffer.size() && buffer[at] != 0; at += kEntry) {
    if (buffer[at] == (kInUse | kTypeLabel)) return qm::Utf16LeBytesToUtf8(&buffer[at + 2], std::min<size_t>(buffer[at + 1], 11));
  }
  return {};
}
