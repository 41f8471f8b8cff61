// Byte-level FAT images for tests: a boot sector, the FATs, the root
// directory and the data area, with helpers to write FAT entries and
// directory entries where a test wants them.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/filesystems/file_system_fat.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/app.h"
#include "services/log.h"
#include "tests/support/le_bytes.h"

namespace fattest {

using qmtest::Put16;
using qmtest::Put32;


struct FatImage {
  int bits = 16;  // 12, 16 or 32
  uint32_t totalSectors = 4096;
  uint32_t sectorsPerCluster = 1;
  uint32_t reserved = 1;
  uint32_t fats = 2;
  uint32_t rootEntries = 512;  // FAT12/16
  uint32_t fatSectors = 0;     // computed when 0
  uint32_t rootCluster = 2;    // FAT32
  std::vector<uint8_t> bytes;

  uint64_t FirstRootSector() const { return reserved + static_cast<uint64_t>(fats) * fatSectors; }
  uint64_t FirstDataSector() const { return FirstRootSector() + (bits == 32 ? 0 : rootEntries * 32 / 512); }
  uint32_t ClusterBytes() const { return sectorsPerCluster * 512; }

  void Build() {
    if (bits == 32) rootEntries = 0, reserved = reserved < 32 ? 32 : reserved;
    if (fatSectors == 0) {
      uint64_t clusters = totalSectors / sectorsPerCluster + 2;
      uint64_t fatBytes = bits == 12 ? clusters * 3 / 2 + 1 : clusters * bits / 8;
      fatSectors = static_cast<uint32_t>((fatBytes + 511) / 512);
    }
    bytes.assign(static_cast<size_t>(totalSectors) * 512, 0);
    uint8_t* b = bytes.data();
    b[0] = 0xEB, b[1] = 0x3C, b[2] = 0x90;
    std::memcpy(b + 3, "MSWIN4.1", 8);
    Put16(b + 0x0B, 512);
    b[0x0D] = static_cast<uint8_t>(sectorsPerCluster);
    Put16(b + 0x0E, reserved);
    b[0x10] = static_cast<uint8_t>(fats);
    Put16(b + 0x11, rootEntries);
    if (totalSectors < 0x10000) Put16(b + 0x13, totalSectors);
    else Put32(b + 0x20, totalSectors);
    b[0x15] = 0xF8;
    if (bits == 32) {
      Put32(b + 0x24, fatSectors);
      Put32(b + 0x2C, rootCluster);
      b[0x42] = 0x29;
      Put32(b + 0x43, 0xCAFEF00D);
      std::memcpy(b + 0x47, "CRAFTED32  ", 11);
      std::memcpy(b + 0x52, "FAT32   ", 8);
    } else {
      Put16(b + 0x16, fatSectors);
      b[0x26] = 0x29;
      Put32(b + 0x27, 0x12345678);
      std::memcpy(b + 0x2B, "CRAFTED    ", 11);
      std::memcpy(b + 0x36, bits == 12 ? "FAT12   " : "FAT16   ", 8);
    }
    b[0x1FE] = 0x55, b[0x1FF] = 0xAA;
    SetFat(0, bits == 32 ? 0x0FFFFFF8 : bits == 16 ? 0xFFF8 : 0xFF8);
    SetFat(1, bits == 32 ? 0x0FFFFFFF : bits == 16 ? 0xFFFF : 0xFFF);
    if (bits == 32) SetFat(rootCluster, Eoc());
  }

  uint32_t Eoc() const { return bits == 32 ? 0x0FFFFFFF : bits == 16 ? 0xFFFF : 0xFFF; }

  // Writes a FAT entry in every copy (or only in copy `only`).
  void SetFat(uint32_t cluster, uint32_t value, int only = -1) {
    for (uint32_t f = 0; f < fats; ++f) {
      if (only >= 0 && static_cast<uint32_t>(only) != f) continue;
      uint8_t* fat = bytes.data() + (reserved + static_cast<uint64_t>(f) * fatSectors) * 512;
      if (bits == 32) {
        Put32(fat + cluster * 4, value);
      } else if (bits == 16) {
        Put16(fat + cluster * 2, value);
      } else {
        uint8_t* p = fat + cluster * 3 / 2;
        uint16_t old = static_cast<uint16_t>(p[0] | (p[1] << 8));
        uint16_t v = (cluster & 1) ? static_cast<uint16_t>((old & 0x000F) | (value << 4))
                                   : static_cast<uint16_t>((old & 0xF000) | (value & 0x0FFF));
        Put16(p, v);
      }
    }
  }
  // Links clusters into a chain ending with an end-of-chain mark.
  void Chain(const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i < clusters.size(); ++i) SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : Eoc());
  }
  uint8_t* Cluster(uint32_t c) { return bytes.data() + (FirstDataSector() + (c - 2) * sectorsPerCluster) * 512; }
  uint8_t* RootDir() { return bits == 32 ? Cluster(rootCluster) : bytes.data() + FirstRootSector() * 512; }

  // A short entry. `name11` is the 8+3 name, space padded.
  static void Entry(uint8_t* dir, int index, const char* name11, uint8_t attr, uint32_t cluster, uint32_t size) {
    uint8_t* e = dir + index * 32;
    std::memset(e, 0, 32);
    std::memcpy(e, name11, 11);
    e[0x0B] = attr;
    Put16(e + 0x14, cluster >> 16);
    Put16(e + 0x1A, cluster & 0xFFFF);
    Put32(e + 0x1C, size);
    Put16(e + 0x18, (40 << 9) | (1 << 5) | 1);  // 2020-01-01
    Put16(e + 0x16, (12 << 11) | (30 << 5) | 5);  // 12:30:10
  }
  // Long-name entries for `name` (ASCII) placed before `index`, carrying the
  // checksum of the 11-byte short name `short11` they belong to; returns the
  // index of the short entry that follows them.
  static int LongName(uint8_t* dir, int index, const std::string& name, const char* short11, bool deleted = false) {
    std::u16string u(name.begin(), name.end());
    u.push_back(0);
    while (u.size() % 13) u.push_back(0xFFFF);
    int parts = static_cast<int>(u.size() / 13);
    static constexpr int kPos[13] = {0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E};
    for (int p = 0; p < parts; ++p) {
      int seq = parts - p;  // the first entry holds the last part
      uint8_t* e = dir + (index + p) * 32;
      std::memset(e, 0, 32);
      e[0] = deleted ? 0xE5 : static_cast<uint8_t>(seq | (p == 0 ? 0x40 : 0));
      e[0x0B] = 0x0F;
      e[0x0D] = CFileSystem_FAT::ShortNameChecksum(reinterpret_cast<const uint8_t*>(short11));
      for (int k = 0; k < 13; ++k) Put16(e + kPos[k], u[(seq - 1) * 13 + k]);
    }
    return index + parts;
  }
};

// A volume over the image's bytes, with its boot area analysed.
inline std::unique_ptr<CVolume> MakeVolume(const std::vector<uint8_t>& bytes,
                                           std::shared_ptr<CMemoryDevice>* device = nullptr) {
  auto volume = std::make_unique<CVolume>(VolumeImage);
  auto dev = std::make_shared<CMemoryDevice>(bytes);
  dev->SetCompleteAtOnce(true);
  volume->AttachDevice(dev);
  volume->ObjectID = -70000;
  volume->TotalSectors = bytes.size() / 512;
  volume->Size = bytes.size();
  volume->State = StateReady;
  volume->Analyse_Boot();
  if (device) *device = dev;
  return volume;
}

// Log lines added since `mark` that contain `text`.
inline int LogCount(size_t mark, const std::string& text) {
  auto lines = theLog().Lines();
  int n = 0;
  for (size_t i = mark; i < lines.size(); ++i) n += lines[i].find(text) != std::string::npos;
  return n;
}

// Objects of the catalog that came from the file-system walk.
inline std::vector<CFoundObject*> WalkObjects(CVolume& volume) {
  std::vector<CFoundObject*> out;
  for (CFoundObject* o : volume.Catalog().Objects()) {
    if (o == &volume || o == &volume.Catalog().Root() || (o->Flags & FOF_LOST_FOLDER)) continue;
    out.push_back(o);
  }
  return out;
}

inline CFoundObject* FindNamed(CVolume& volume, const std::string& name) {
  for (CFoundObject* o : WalkObjects(volume))
    if (o->Name == name) return o;
  return nullptr;
}

// Reads an object whole through the catalog's reader.
inline std::vector<uint8_t> ReadObject(const CFoundObject& object) {
  CFoundObjectReader reader(object);
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(1 << 20);
  const uint64_t want = object.SizeKnown() ? object.Size : UINT64_MAX;
  while (out.size() < want) {
    uint32_t ask = static_cast<uint32_t>(std::min<uint64_t>(buf.size(), want - out.size()));
    uint32_t got = reader.ReadNext(buf.data(), ask);
    if (got == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + std::min<uint64_t>(got, want - out.size()));
  }
  return out;
}

}  // namespace fattest
