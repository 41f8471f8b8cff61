#include "engine/volume/local_computer.h"

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/volume.h"
#include "services/app.h"

CVolume* CVolumesList::GetAt(size_t index) const {
  std::lock_guard lock(mutex_);
  return index < volumes_.size() ? volumes_[index].get() : nullptr;
}
size_t CVolumesList::GetCount() const {
  std::lock_guard lock(mutex_);
  return volumes_.size();
}
void CVolumesList::Append(std::unique_ptr<CVolume> volume) {
  std::lock_guard lock(mutex_);
  volumes_.push_back(std::move(volume));
}
std::vector<CVolume*> CVolumesList::Snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<CVolume*> out;
  for (const auto& v : volumes_) out.push_back(v.get());
  return out;
}

CLocalComputer::CLocalComputer() : Log(theApp()), signatures_(std::make_unique<CFileSignatureDatabase>()) {}
CLocalComputer::~CLocalComputer() = default;

int64_t CLocalComputer::NextVolumeId() { return --volumeIdCounter_; }

CVolume* CLocalComputer::LoadImage(const std::string& path) {
  int err = 0;
  auto device = OpenDeviceReadOnly(path, &err);
  if (!device) return nullptr;
  auto volume = std::make_unique<CVolume>(VolumeImage);
  volume->MediaType = 7;
  volume->ObjectID = NextVolumeId();
  volume->DevicePath = path;
  volume->AttachDevice(device);
  volume->Size = device->SizeBytes();
  volume->TotalSectors = volume->Size / 512;
  volume->State = StateReady;
  CVolume* raw = volume.get();
  Volumes.Append(std::move(volume));
  return raw;
}

void CLocalComputer::AddFoundVolume(CVolume*, uint64_t, uint32_t) {}

CFileSignatureDatabase& CLocalComputer::Signatures() { return *signatures_; }

CLocalComputer& theComputer() {
  static CLocalComputer computer;
  return computer;
}

CLog& theLog() { return theComputer().Log; }
