#include "engine/filesystems/file_system.h"

#include <algorithm>
#include <cstring>

#include "engine/filesystems/file_system_exfat.h"
#include "engine/filesystems/file_system_factory.h"
#include "engine/volume/volume.h"
#include "services/app.h"

CFileSystem::CFileSystem(CVolume* volume) : Volume(volume) { GetFileSystemName(-1); }

const char* CFileSystem::NameOf(int64_t code) {
  switch (code) {
    case 1: return "FAT12";
    case 4: case 6: return "FAT16";
    case 7: case 128: return "NTFS";
    case 11: case 12: return "FAT32";
    case EXFAT_FILE_SYSTEM_ID: return "exFAT";
    default: return "Unknown";
  }
}

FileSystemFamily CFileSystem::FamilyOf(uint32_t code) {
  switch (code) {
    case 1: case 4: case 6: case 11: case 12: case 14: case 17: case 20: case 22: case 27: case 28: case 30:
      return FileSystemFamily::Fat;
    case 7:
      return FileSystemFamily::Ntfs;
    default:
      return FileSystemFamily::Other;
  }
}

std::string CFileSystem::GetFileSystemName(int64_t code) {
  FileSystemName = NameOf(code);
  return FileSystemName;
}

int CFileSystem::Analyse() { return 0; }

std::vector<std::pair<uint64_t, uint64_t>> CFileSystem::FreeAreas(uint64_t volumeSectors) const {
  std::vector<std::pair<uint64_t, uint64_t>> free;
  const uint64_t start = std::min(AllocationArea.first, volumeSectors);
  const uint64_t end = start + std::min(AllocationArea.second, volumeSectors - start);
  uint64_t next = start;  // the first sector not yet accounted for
  auto addFree = [&](uint64_t until) {
    until = std::min(until, end);
    if (until > next) free.emplace_back(next, until - next);
  };
  for (const auto& [first, count] : UsedAreas) {
    // The parsers list their areas in order; one out of order only ends a
    // free stretch early, it never makes a used sector free.
    addFree(first);
    next = std::max(next, first + std::min<uint64_t>(count, UINT64_MAX - first));
    if (next >= end) break;
  }
  addFree(end);
  return free;
}

void CFileSystem::ExamineFoundRecord(CFoundObject*) {}

uint32_t CFileSystem::DetectType(const uint8_t* boot) const {
  // Exact 8-byte text fields; a FAT12 label wins over FAT16, FAT16 over
  // FAT32 and FAT32 over NTFS. exFAT's name comes with an empty area where
  // the others keep their parameters.
  if (!boot) return 0;
  if (std::memcmp(boot + 0x36, "FAT12   ", 8) == 0) return 1;
  if (std::memcmp(boot + 0x36, "FAT16   ", 8) == 0) return 4;
  if (std::memcmp(boot + 0x52, "FAT32   ", 8) == 0) return 11;
  if (std::memcmp(boot + 0x03, "NTFS    ", 8) == 0) return 7;
  if (CFileSystem_exFAT::IsBootSector(boot)) return EXFAT_FILE_SYSTEM_ID;
  return 0;
}

uint64_t CFileSystem::SectorsPerClusterOfVolume() const {
  if (!Volume) return 1;
  uint64_t sectors = Volume->BytesPerCluster / 512;
  return sectors ? sectors : 1;
}

void CFileSystem::GetRuns(const CFoundObject& object, std::vector<FoundObjectRun>& runs) {
  // Parsers that know their metadata override this. Without that knowledge
  // an object is one stretch of its size.
  runs.clear();
  if (!object.SizeKnown() || object.Size == 0) return;
  uint64_t start = 0;
  switch (FamilyOf(FileSystemType)) {
    case FileSystemFamily::Other:
      start = object.FirstCluster;
      break;
    case FileSystemFamily::Fat:
    case FileSystemFamily::Ntfs:
      start = object.StartOffset / 512;
      break;
  }
  uint64_t count = object.Size / 512 + (object.Size % 512 ? 1 : 0);
  if (Volume && Volume->TotalSectors) {
    if (start >= Volume->TotalSectors) return;
    if (count > Volume->TotalSectors - start) count = Volume->TotalSectors - start;
  }
  FoundObjectRun run;
  run.StartSector = start;
  run.SectorCount = count;
  runs.push_back(run);
}

uint32_t CFileSystem::ReadClusters(void* buffer, uint64_t cluster, uint64_t count) {
  if (!Volume || !buffer || count == 0) return 0;
  const uint64_t first = ClusterToSector(cluster), sectors = count * SectorsPerClusterOfVolume();
  return ReadVolumeSectors(buffer, first, sectors);
}

uint32_t CFileSystem::ReadVolumeSectors(void* buffer, uint64_t first, uint64_t count) {
  if (!Volume || !buffer || count == 0) return 0;
  // A bad sector costs that sector (zeros), not the range around it; a
  // medium taken out while the analysis runs is waited for, not skipped.
  const SalvagedRead got = Volume->ReadSectorsSalvaging(buffer, first, count);
  if (got.DeviceLost || got.Unreadable >= got.Sectors) return 0;
  return static_cast<uint32_t>(got.Sectors * 512);
}

uint64_t CFileSystem::ClusterToSector(uint64_t cluster) const { return cluster * SectorsPerClusterOfVolume(); }

int64_t CFileSystem::RootObjectID() const { return RootIdForFileSystem(FileSystemType); }
