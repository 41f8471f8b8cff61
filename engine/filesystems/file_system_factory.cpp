#include "engine/filesystems/file_system_factory.h"

#include "engine/filesystems/file_system_exfat.h"
#include "engine/filesystems/file_system_fat.h"
#include "engine/filesystems/file_system_ntfs.h"

std::unique_ptr<CFileSystem> CreateFileSystemParser(uint32_t id, CVolume* volume) {
  switch (id) {
    case 1: case 4: case 6: case 11: case 12: case 14: case 17: case 20: case 22: case 27: case 28: case 30:
      return std::make_unique<CFileSystem_FAT>(volume);
    case 7:
      return std::make_unique<CFileSystem_NTFS>(volume);
    case EXFAT_FILE_SYSTEM_ID:
      return std::make_unique<CFileSystem_exFAT>(volume);
    default:
      return nullptr;
  }
}

int64_t RootIdForFileSystem(uint32_t id) {
  switch (id) {
    case 1: case 4: case 6: case 14: case 17: case 20: case 22: case 30: return 0;
    case 11: case 12: case 27: case 28: return 2;
    case 7: return 5;
    case EXFAT_FILE_SYSTEM_ID: return CFileSystem_exFAT::kRootId;
    default: return -1;
  }
}
