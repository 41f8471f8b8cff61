// Placeholder bodies; the volume reader implements these fully.
#include "engine/volume/volume.h"

#include <cstring>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/scanner/analyser.h"

CVolume::CVolume(VolumeKind kind)
    : Kind(kind),
      catalog_(std::make_unique<CFoundObjectTree>(this)),
      fileSystem_(std::make_unique<CFileSystem>(this)),
      analyser_(std::make_unique<CAnalyser>(this)) {
  ParentID = VIEW_TOP_ID;
  Flags = FOF_FOUND_VOLUME;
  Size = 0;
  Volume = this;
}

CVolume::~CVolume() {
  if (analysisThread_.joinable()) analysisThread_.join();
  if (infoThread_.joinable()) infoThread_.join();
}

bool CVolume::OpenDrive() {
  if (device_) return true;
  int err = 0;
  device_ = OpenDeviceReadOnly(GetDevicePath(), &err);
  return device_ != nullptr;
}
bool CVolume::Close() {
  bool was = device_ != nullptr;
  device_.reset();
  return was;
}
bool CVolume::IsOpen() const { return device_ != nullptr; }
void CVolume::AttachDevice(std::shared_ptr<IDevice> device) { device_ = std::move(device); }

uint32_t CVolume::ReadSectors(void* buffer, uint64_t first, uint64_t count) {
  if (count == 0) return 0;
  if (!OpenDrive()) return 0;
  std::memset(buffer, 0, count * 512);
  if (device_->StartRead(buffer, count * 512, first * 512 + VolumeStartOffset) != IoResult::Done) return 0;
  return static_cast<uint32_t>(device_->BytesRead());
}

void CVolume::QueryInformation() {}
std::string CVolume::GetDisplayName() {
  auto slash = DevicePath.find_last_of('/');
  DisplayName = slash == std::string::npos ? DevicePath : DevicePath.substr(slash + 1);
  return DisplayName;
}
std::string CVolume::GetDevicePath() { return DevicePath; }
uint64_t CVolume::Position(uint64_t value) {
  if (value != ~0ull) PositionValue = value;
  return PositionValue;
}
uint64_t CVolume::EndPosition(uint64_t value) {
  if (value != ~0ull) EndPositionValue = value;
  return EndPositionValue;
}
uint64_t CVolume::SectorsToClusters(uint64_t sectors) const {
  if (sectors == 0 || SectorsPerCluster == 0) return ~0ull;
  return sectors / SectorsPerCluster;
}
uint64_t CVolume::ClustersToSectors(uint64_t clusters) const {
  if (clusters == 0 || SectorsPerCluster == 0) return ~0ull;
  return clusters * SectorsPerCluster;
}
void CVolume::SetFileSystem(std::unique_ptr<CFileSystem> fileSystem) { fileSystem_ = std::move(fileSystem); }
