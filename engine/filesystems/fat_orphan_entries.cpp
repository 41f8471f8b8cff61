#include "engine/filesystems/fat_orphan_entries.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/filesystems/file_system.h"
#include "engine/filesystems/file_system_fat.h"
#include "engine/filesystems/little_endian.h"
#include "engine/volume/volume.h"
#include "services/log.h"

namespace {

using le::U16;
using le::U32;

constexpr size_t kEntry = 32;
// Free clusters are read in runs of up to this many bytes.
constexpr size_t kScanChunkBytes = 4u << 20;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint16_t kFirstDay = (0 << 9) | (1 << 5) | 1;  // 1980-01-01

bool IsZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// A byte a short name may hold (0xE5 and 0x05 in the first place are the
// deleted mark and its escape, handled by the caller).
bool IsNameByte(uint8_t b) {
  static constexpr char kBad[] = "\"*+,./:;<=>?[\\]|";
  if (b < 0x20 || (b >= 'a' && b <= 'z')) return false;
  return !std::memchr(kBad, b, sizeof(kBad) - 1);
}

bool IsDotEntry(const uint8_t* e) {
  return (e[0x0B] & kAttrDirectory) && (std::memcmp(e, ".          ", 11) == 0 || std::memcmp(e, "..         ", 11) == 0);
}

// The 8.3 name: the dot entries as they are, otherwise name bytes padded
// with spaces at the end of the base and of the extension only.
bool IsStrictName(const uint8_t* e) {
  if (IsDotEntry(e)) return true;
  if (e[0] == ' ') return false;
  auto piece = [](const uint8_t* p, size_t n, bool first) {
    bool padding = false;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = p[i];
      if (b == ' ') {
        padding = true;
        continue;
      }
      if (padding) return false;
      if (first && i == 0 && (b == 0xE5 || b == 0x05)) continue;
      if (!IsNameByte(b)) return false;
    }
    return true;
  };
  return piece(e, 8, true) && piece(e + 8, 3, false);
}

bool IsValidTime(uint16_t time) { return time == 0 || CFileSystem_FAT::DosDateTimeToFileTime(kFirstDay, time) != 0; }
bool IsValidDate(uint16_t date) { return date == 0 || CFileSystem_FAT::DosDateTimeToFileTime(date, 0) != 0; }

}  // namespace

bool CFatOrphanEntries::IsStrictShortEntry(const uint8_t* e, const Limits& limits) {
  const uint8_t attr = e[0x0B];
  // Only the six attribute bits; no label (a label lives in the root, which
  // is never free); only the lower-case bits of base and extension.
  if (attr & 0xC0 || attr & kAttrVolume || e[0x0C] & ~0x18) return false;
  if (!IsStrictName(e)) return false;
  // Every writer stamps the modification date; the others may be zero.
  const uint16_t written = U16(e + 0x18);
  if (written == 0 || !IsValidDate(written) || !IsValidDate(U16(e + 0x10)) || !IsValidDate(U16(e + 0x12))) return false;
  if (!IsValidTime(U16(e + 0x16)) || !IsValidTime(U16(e + 0x0E)) || e[0x0D] >= 200) return false;

  const uint32_t high = U16(e + 0x14);
  if (!limits.Fat32 && high != 0) return false;
  const uint32_t cluster = (limits.Fat32 ? high << 16 : 0) | U16(e + 0x1A);
  const uint32_t size = U32(e + 0x1C);
  if (cluster == 1 || cluster > limits.LastCluster) return false;
  if (attr & kAttrDirectory) {
    // A folder has no size, and only ".." (the root as parent) no cluster.
    return size == 0 && (cluster != 0 || e[1] == '.');
  }
  return size <= limits.DataBytes && (size == 0 || cluster != 0);
}

bool CFatOrphanEntries::IsStrictLongNameEntry(const uint8_t* e) {
  if (e[0x0B] != kAttrLongName || e[0x0C] != 0 || U16(e + 0x1A) != 0) return false;
  const uint8_t seq = e[0];
  if (seq != 0xE5 && ((seq & ~0x5F) != 0 || (seq & 0x1F) == 0 || (seq & 0x1F) > 20)) return false;
  static constexpr int kPos[13] = {0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E};
  bool ended = false;
  for (int i = 0; i < 13; ++i) {
    const uint16_t u = U16(e + kPos[i]);
    if (ended) {
      if (u != 0xFFFF) return false;
    } else if (u == 0) {
      ended = true;
    } else if (u == 0xFFFF) {
      return false;
    }
  }
  return true;
}

bool CFatOrphanEntries::IsDirectoryCluster(const uint8_t* data, size_t bytes, const Limits& limits) {
  bool named = false, unused = false;
  for (size_t at = 0; at + kEntry <= bytes; at += kEntry) {
    const uint8_t* e = data + at;
    if (e[0] == 0) {
      // Nothing follows an unused slot: without an entry before it, the
      // cluster gives nothing (a cluster never written ends here at once).
      if (!named || !IsZero(e, kEntry)) return false;
      unused = true;
      continue;
    }
    if (unused) return false;
    if (e[0x0B] == kAttrLongName) {
      if (!IsStrictLongNameEntry(e)) return false;
    } else if (IsStrictShortEntry(e, limits)) {
      named = named || !IsDotEntry(e);
    } else {
      return false;
    }
  }
  return named;
}

int64_t CFatOrphanEntries::FolderOfCluster(const uint8_t* data, size_t bytes, uint32_t cluster, bool fat32) {
  if (bytes < 2 * kEntry) return ORPHAN_FILES_ID;
  const uint8_t* dot = data;
  const uint8_t* dotdot = data + kEntry;
  if (std::memcmp(dot, ".          ", 11) != 0 || std::memcmp(dotdot, "..         ", 11) != 0 ||
      !(dot[0x0B] & kAttrDirectory) || !(dotdot[0x0B] & kAttrDirectory))
    return ORPHAN_FILES_ID;
  const uint32_t own = (fat32 ? static_cast<uint32_t>(U16(dot + 0x14)) << 16 : 0) | U16(dot + 0x1A);
  return own == cluster ? static_cast<int64_t>(cluster) : ORPHAN_FILES_ID;
}

void CFatOrphanEntries::Scan(CFileSystem_FAT& fat, const std::vector<bool>& alreadyRead) {
  CVolume* volume = fat.Volume;
  const uint32_t clusterBytes = fat.BytesPerCluster;
  if (!volume || clusterBytes == 0 || fat.LastCluster < 2) return;
  const Limits limits{fat.LastCluster, static_cast<uint64_t>(fat.LastCluster - 1) * clusterBytes, fat.EntryBits == 32};
  const uint32_t chunkClusters = static_cast<uint32_t>(std::max<size_t>(1, kScanChunkBytes / clusterBytes));
  // Grown to the longest run read, at most a chunk.
  std::vector<uint8_t> buffer;
  auto unread = [&](uint32_t c) { return c >= alreadyRead.size() || !alreadyRead[c]; };
  auto wanted = [&](uint32_t c) { return unread(c) && fat.IsFree(c); };
  uint32_t foundClusters = 0;
  for (uint32_t c = fat.NextFreeCluster(2); c <= fat.LastCluster && fat.Running(); c = fat.NextFreeCluster(c)) {
    if (!unread(c)) {
      ++c;
      continue;
    }
    uint32_t count = 1;
    while (count < chunkClusters && c + count <= fat.LastCluster && wanted(c + count)) ++count;
    try {
      if (buffer.size() < static_cast<size_t>(count) * clusterBytes) buffer.resize(static_cast<size_t>(count) * clusterBytes);
    } catch (const std::bad_alloc&) {
      return;
    }
    volume->Position(c - 2);
    if (fat.ReadClusters(buffer.data(), c, count) != 0) {
      for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* data = buffer.data() + static_cast<size_t>(i) * clusterBytes;
        if (!IsDirectoryCluster(data, clusterBytes, limits)) continue;
        ++foundClusters;
        fat.ParseDirectory(data, clusterBytes, FolderOfCluster(data, clusterBytes, c + i, limits.Fat32), true);
      }
    }
    c += count;
  }
  if (foundClusters)
    theLog().Message("CFileSystem_FAT: %d free clusters hold entries of deleted folders", foundClusters);
}
