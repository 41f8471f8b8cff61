// Placeholder bodies; the file-system interface implements these fully.
#include "engine/filesystems/file_system.h"

CFileSystem::CFileSystem(CVolume* volume) : Volume(volume) {}
std::string CFileSystem::GetFileSystemName(int64_t) { return FileSystemName; }
int CFileSystem::Analyse() { return 0; }
void CFileSystem::ExamineFoundRecord(CFoundObject*) {}
uint32_t CFileSystem::DetectType(const uint8_t*) const { return 0; }
void CFileSystem::GetRuns(const CFoundObject&, std::vector<FoundObjectRun>&) {}
uint32_t CFileSystem::ReadClusters(void*, uint64_t, uint64_t) { return 0; }
uint64_t CFileSystem::ClusterToSector(uint64_t cluster) const { return cluster; }
