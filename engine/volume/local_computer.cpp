#include "engine/volume/local_computer.h"

#include <filesystem>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/volume.h"
#include "platform/image_formats.h"
#include "platform/registry_store.h"
#include "services/app.h"

CVolume* CVolumesList::GetAt(size_t index) const {
  try {
    std::lock_guard lock(mutex_);
    return index < volumes_.size() ? volumes_[index].get() : nullptr;
  } catch (...) {
    theLog().AddError("CVolumesList::GetAt except");
    return nullptr;
  }
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

CLocalComputer::CLocalComputer() : Log(theApp()), signatures_(std::make_unique<CFileSignatureDatabase>()) {
  // A settings store that had to be set aside at its load is said in the log.
  if (const std::string& note = theApp().Registry().LoadNote(); !note.empty()) Log.AddError(note);
}
CLocalComputer::~CLocalComputer() = default;

int64_t CLocalComputer::NextVolumeId() { return --volumeIdCounter_; }

CVolume* CLocalComputer::LoadImage(const std::string& path) {
  int err = 0;
  auto device = OpenSourceReadOnly(path, &err);
  if (!device) return nullptr;  // nothing is logged: the caller reports it
  auto volume = std::make_unique<CVolume>(VolumeImage);
  volume->MediaType = 7;
  volume->ObjectID = NextVolumeId();
  volume->Flags = FOF_FOUND_VOLUME;
  volume->Volume = volume.get();
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  volume->DevicePath = ec ? path : full.lexically_normal().string();
  CVolume* raw = volume.get();
  Volumes.Append(std::move(volume));
  // The handle opened above becomes the volume's own (no second open).
  raw->AdoptDevice(std::move(device));
  // Sizes from the file's (or the block device's) length; a trailing part of
  // less than a sector is not part of the volume. The boot analysis then
  // takes the cluster size from the boot sector when there is one.
  const uint64_t bytes = raw->QueryDeviceInformation();
  raw->Size = bytes;
  raw->TotalSectors = bytes / 512;
  raw->Analyse_Boot();
  raw->Size = bytes;
  raw->TotalSectors = bytes / 512;
  if (raw->SectorsPerCluster == 0) raw->SectorsPerCluster = 1;
  raw->BytesPerCluster = raw->SectorsPerCluster * 512;
  raw->TotalClusters = raw->TotalSectors / raw->SectorsPerCluster;
  raw->State = StateReady;
  return raw;
}

CFileSignatureDatabase& CLocalComputer::Signatures() { return *signatures_; }

CLocalComputer& theComputer() {
  static CLocalComputer computer;
  return computer;
}

CLog& theLog() { return theComputer().Log; }
