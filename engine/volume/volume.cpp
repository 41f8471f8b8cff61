// The volume: its device handle, its sector reader with time-outs and
// retries, and the device information gathered for it.
#include "engine/volume/volume.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/scanner/analyser.h"
#include "platform/image_formats.h"
#include "platform/block_devices.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/log.h"

namespace {

// The largest read whose byte count the reader can report (a u32).
constexpr uint64_t kMaxSectorsPerRead = 0xFFFFFFFFull / 512;

std::string TrimBlanks(const std::string& text) {
  size_t a = 0, b = text.size();
  while (a < b && (text[a] == ' ' || text[a] == '\t' || text[a] == '\n' || text[a] == '\r')) ++a;
  while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t' || text[b - 1] == '\n' || text[b - 1] == '\r')) --b;
  return text.substr(a, b - a);
}

std::string BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

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
  Close();
}

const char* CVolume::KindText(uint32_t kind) {
  switch (kind) {
    case VolumePhysical: return "Physical";
    case VolumeLogical: return "Logical";
    case VolumeVirtual: return "Virtual";
    case VolumeImage: return "Volume Image";
    case VolumeFound: return "Found";
    default: return "unknown";
  }
}

const char* CVolume::MediaTypeText(uint32_t mediaType) {
  switch (mediaType) {
    case 2: return "Removable";
    case 3: return "Fixed";
    case 5: return "CD/DVD";
    case 7: return "OS File";
    default: return "unknown";
  }
}

std::string CVolume::ProductText(const std::string& vendor, const std::string& model) {
  if (!vendor.empty() && !model.empty()) return vendor + ", " + model;
  return model;
}

const char* CVolume::StateText(int32_t state) {
  switch (state) {
    case StateQuerying: return "Querying";
    case StateReady: return "Ready";
    case StateScanningSectors: return "Scanning";
    case StateAnalysingFileSystem: return "Analysing";
    default: return "NotReady";
  }
}

// ---------------------------------------------------------------------------
// Device handle

std::shared_ptr<IDevice> CVolume::AttachedSource() const {
  // Found and Virtual volumes read their parent's device; walk up to the
  // volume that has a device of its own attached.
  const CVolume* v = this;
  for (int depth = 0; v && depth < 64; ++depth) {
    if (v->attached_) return v->attached_;
    if ((v->Kind != VolumeFound && v->Kind != VolumeVirtual) || !v->Parent || v->Parent == v) break;
    v = v->Parent;
  }
  return nullptr;
}

bool CVolume::OpenDriveLocked() {
  if (device_) return true;
  try {
    if (attached_) {
      device_ = attached_;
      return true;
    }
    if ((Kind == VolumeFound || Kind == VolumeVirtual) && Parent && Parent != this) {
      if (auto source = AttachedSource()) {
        // A handle of its own on the parent's device.
        device_ = source->Duplicate();
        if (device_) return true;
      }
    }
    const std::string path = GetDevicePath();
    int error = 0;
    device_ = OpenSourceReadOnly(path, &error);
    if (!device_) {
      OpenError = error;
      theLog().Error("Can't open volume '%s', System Error: %s", path, qm::SystemErrorText(error));
      return false;
    }
    OpenError = 0;
    return true;
  } catch (...) {
    theLog().AddError("OpenDrive except");
    return device_ != nullptr;
  }
}

bool CVolume::OpenDrive() {
  std::lock_guard io(ioMutex_);
  return OpenDriveLocked();
}

bool CVolume::Close() {
  try {
    std::shared_ptr<IDevice> taken;
    {
      std::lock_guard io(ioMutex_);
      taken = std::move(device_);
      device_.reset();
    }
    return taken != nullptr;
  } catch (...) {
    theLog().AddInternal("CVolume::Close except");
    return false;
  }
}

bool CVolume::IsOpen() const {
  std::lock_guard io(ioMutex_);
  return device_ != nullptr;
}

void CVolume::AttachDevice(std::shared_ptr<IDevice> device) {
  std::lock_guard io(ioMutex_);
  attached_ = device;
  device_ = std::move(device);
}

void CVolume::AdoptDevice(std::shared_ptr<IDevice> device) {
  std::lock_guard io(ioMutex_);
  device_ = std::move(device);
}

// ---------------------------------------------------------------------------
// The sector reader

uint32_t CVolume::ReadSectors(void* buffer, uint64_t first, uint64_t count) {
  int error = 0;
  return ReadSectorsWithError(buffer, first, count, &error);
}

std::shared_ptr<IDevice> CVolume::OpenParallelReader() {
  std::lock_guard io(ioMutex_);
  if (!device_) return nullptr;
  const int fd = device_->NativeHandle();
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  return device_->Duplicate();
}

bool CVolume::ReadSectorsThrough(IDevice& reader, void* buffer, uint64_t first, uint64_t count) const {
  if (count == 0 || count > kMaxSectorsPerRead || first > (UINT64_MAX - VolumeStartOffset) / 512) return false;
  const size_t bytes = static_cast<size_t>(count * 512);
  const IoResult result = reader.StartRead(buffer, bytes, first * 512 + VolumeStartOffset);
  if (result == IoResult::Done) return reader.BytesRead() == bytes;
  // A read that would have to be waited for is left to the salvaging read.
  if (result == IoResult::Pending) reader.CancelRead();
  return false;
}

SalvagedRead CVolume::ReadSectorsSalvaging(void* buffer, uint64_t first, uint64_t count,
                                           const std::function<bool()>& keepWaiting) {
  SalvagedRead result;
  if (count == 0 || count > kMaxSectorsPerRead || first > UINT64_MAX - count) return result;
  for (;;) {
    const RangeEnd end = SalvageRange(static_cast<uint8_t*>(buffer), first, count, result);
    if (end == RangeEnd::Complete) return result;
    // What was read before the medium went is read again with the rest: the
    // medium that comes back may not hold the same bytes.
    if (end == RangeEnd::MediumGone && WaitForMedium(keepWaiting)) continue;
    result.DeviceLost = true;
    return result;
  }
}

CVolume::RangeEnd CVolume::SalvageRange(uint8_t* base, uint64_t first, uint64_t count, SalvagedRead& result) {
  result = SalvagedRead{};
  RangeEnd how = RangeEnd::Complete;
  uint64_t end = count;  // sectors of the range before the end of the device
  // Pieces still to read, as (first, count) relative to the range, handed
  // out in ascending order; a healthy range never fills the stack.
  std::vector<std::pair<uint64_t, uint64_t>> pieces;
  for (std::pair<uint64_t, uint64_t> piece{0, count};; piece = pieces.back(), pieces.pop_back()) {
    auto [at, n] = piece;
    if (at < end) {
      n = std::min(n, end - at);
      uint8_t* out = base + at * 512;
      if (how == RangeEnd::Complete) {
        int error = 0;
        const uint64_t got = ReadSectorsWithError(out, first + at, n, &error) / 512;
        if (got >= n) {
        } else if (error == 0) {
          // The device ended (or gave part and no more): what was read
          // stays, the rest is read again unless nothing came at all.
          if (got == 0) end = at;
          else pieces.push_back({at + got, n - got});
        } else if (MediumGoneAfter(error)) {
          how = RangeEnd::MediumGone;
        } else if (error == ETIMEDOUT) {
          // A device that stalls answers smaller reads no better.
          how = RangeEnd::Stalled;
        } else if (n == 1) {
          ++result.Unreadable;
        } else {
          const uint64_t half = n / 2;
          pieces.push_back({at + half, n - half});
          pieces.push_back({at, half});
        }
      }
      // A pass that ended leaves zeros where it did not read.
      if (how != RangeEnd::Complete) {
        std::memset(out, 0, n * 512);
        result.Unreadable += n;
      }
    }
    if (pieces.empty()) break;
  }
  result.Sectors = end;
  result.Unreadable = std::min(result.Unreadable, end);
  return how;
}

uint32_t CVolume::ReadSectorsWithError(void* buffer, uint64_t first, uint64_t count, int* errorOut) {
  int dummy = 0;
  int& lastError = errorOut ? *errorOut : dummy;
  lastError = 0;
  if (count == 0) return 0;
  try {
    std::lock_guard io(ioMutex_);
    if (!device_ && !OpenDriveLocked()) {
      lastError = ENODEV;
      return 0;
    }
    std::shared_ptr<IDevice> device = device_;
    const int64_t retries = theApp().Settings.RetryCount;
    const uint32_t pauseMs = theApp().Settings.RetryPauseMs;

    // A read the reader cannot report, or a position past the end of the
    // 64-bit byte range, is refused like a failed read.
    if (count > kMaxSectorsPerRead || first > (UINT64_MAX - VolumeStartOffset) / 512) {
      theLog().Error("Volume %s at position %I64d not read, retry %d WindwsError: %d", DisplayNameText(), first,
                     1, EINVAL);
      lastError = EINVAL;
      return 0;
    }
    const size_t bytes = static_cast<size_t>(count * 512);
    const uint64_t position = first * 512 + VolumeStartOffset;

    uint32_t timeout = 10000;
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(count));
    if (low > 3000) timeout = static_cast<uint32_t>(low) * 2;

    auto notRead = [&](int64_t attempt, int error) {
      lastError = error ? error : EIO;
      theLog().Error("Volume %s at position %I64d not read, retry %d WindwsError: %d", DisplayNameText(), position,
                     attempt + 1, error);
    };

    uint32_t lastShort = 0;
    for (int64_t attempt = 0; attempt <= retries; ++attempt) {
      if (attempt > 0 && pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      // No stale data ever reaches the caller: every path below that ends
      // without a full read zeroes what the device did not deliver (the whole
      // buffer on failure, the tail after a short read). That has the effect
      // of zeroing before each attempt without touching every byte twice on
      // the common full read, which matters to the sector scan's speed.
      IoResult result = device->StartRead(buffer, bytes, position);
      if (result == IoResult::Done) {
        const size_t got = std::min(device->BytesRead(), bytes);
        if (got < bytes) std::memset(static_cast<uint8_t*>(buffer) + got, 0, bytes - got);
        return static_cast<uint32_t>(got);
      }
      if (result != IoResult::Pending) {
        const int error = device->LastError();
        std::memset(buffer, 0, bytes);
        notRead(attempt, error);
        return 0;
      }
      // Wait; every time-out counts as a retry of its own.
      int64_t w = attempt;
      for (;;) {
        result = device->WaitRead(timeout);
        if (result != IoResult::TimedOut) break;
        ++w;
        theLog().Error("Volume %s at position %I64d read timeout, retry %d", DisplayNameText(), position, w + 1);
        if (!(w <= retries)) break;
      }
      if (result == IoResult::TimedOut) {
        device->CancelRead();
        // The device may have written part of the transfer before it stalled.
        std::memset(buffer, 0, bytes);
        notRead(attempt, ETIMEDOUT);
        return 0;
      }
      if (result != IoResult::Done) {
        const int error = device->LastError();
        device->CancelRead();
        std::memset(buffer, 0, bytes);
        notRead(attempt, error);
        return 0;
      }
      const size_t got = std::min(device->BytesRead(), bytes);
      if (got == bytes) return static_cast<uint32_t>(got);
      // A short read: the rest stays zero, and the next attempt tries again.
      std::memset(static_cast<uint8_t*>(buffer) + got, 0, bytes - got);
      lastShort = static_cast<uint32_t>(got);
    }
    return lastShort;
  } catch (...) {
    theLog().AddInternal("CVolume::ReadSectors except");
    lastError = EIO;
    return 0;
  }
}

void CVolume::AddChildVolume(CVolume* child) {
  std::lock_guard lock(childrenMutex_);
  Children.push_back(child);
}

std::vector<CVolume*> CVolume::ChildVolumes() const {
  std::lock_guard lock(childrenMutex_);
  return Children;
}

// ---------------------------------------------------------------------------
// Names and paths

std::string CVolume::GetDevicePath() {
  if ((Kind == VolumeFound || Kind == VolumeVirtual) && Parent && Parent != this) {
    // The parent chain is short; a loop in it (never built by the program)
    // stops at a fixed depth.
    const CVolume* v = Parent;
    for (int depth = 0; depth < 64 && (v->Kind == VolumeFound || v->Kind == VolumeVirtual) && v->Parent &&
                        v->Parent != v;
         ++depth)
      v = v->Parent;
    DevicePath = v->DevicePath;
  }
  return DevicePath;
}

std::string CVolume::DisplayNameText() const {
  switch (Kind) {
    case VolumePhysical: return Description;
    case VolumeVirtual:
    case VolumeFound: return qm::Format("Volume at: %I64d", VolumeStartOffset);
    case VolumeImage: return BaseName(DevicePath);
    case VolumeLogical:
    default: {
      // Linux has no drive letters: a partition keeps its kernel name.
      std::string kernelName = BaseName(DevicePath);
      if (kernelName.empty() && DriveCharacter) kernelName = qm::Format("%C:", DriveCharacter);
      const std::string label = TrimBlanks(Label);
      if (label.empty()) return kernelName;
      return qm::Format("%s (%s)", kernelName, label);
    }
  }
}

std::string CVolume::GetDisplayName() {
  DisplayName = DisplayNameText();
  return DisplayName;
}

// ---------------------------------------------------------------------------
// Device information

uint64_t CVolume::QueryBlockDevice(int fd) {
  IsBlockDevice = true;
  uint64_t bytes = 0;
  if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) bytes = 0;
  int sectorSize = 0;
  if (::ioctl(fd, BLKSSZGET, &sectorSize) == 0 && sectorSize >= 512 && sectorSize <= 65536)
    Geometry.BytesPerSector = static_cast<uint32_t>(sectorSize);
  struct hd_geometry geo {};
  if (::ioctl(fd, HDIO_GETGEO, &geo) == 0 && geo.heads && geo.sectors) {
    Geometry.TracksPerCylinder = geo.heads;
    Geometry.SectorsPerTrack = geo.sectors;
    const uint64_t perCylinder = static_cast<uint64_t>(geo.heads) * geo.sectors;
    const uint64_t sectorSz = Geometry.BytesPerSector ? Geometry.BytesPerSector : 512;
    Geometry.Cylinders = static_cast<int64_t>(bytes / sectorSz / perCylinder);
  }
  Geometry.MediaType = 12;  // fixed media

  struct stat st {};
  if (::fstat(fd, &st) != 0) return bytes;
  SourceDeviceId = st.st_rdev;
  // /sys/dev/block/MAJ:MIN is the device; a partition's disk is its parent.
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  std::string disk = sys;
  const std::string partition = qm::ReadSysfsText(sys + "/partition");
  if (!partition.empty()) {
    disk = sys + "/..";
    DeviceNumber.PartitionNumber = static_cast<uint32_t>(std::strtoul(partition.c_str(), nullptr, 10));
    const uint64_t start = std::strtoull(qm::ReadSysfsText(sys + "/start").c_str(), nullptr, 10);
    const uint64_t size = std::strtoull(qm::ReadSysfsText(sys + "/size").c_str(), nullptr, 10);
    Layout.PartitionCount = 1;
    Layout.Signature = 0;
    Layout.Entries[0].StartingOffset = static_cast<int64_t>(start * 512);
    Layout.Entries[0].PartitionLength = static_cast<int64_t>(size * 512);
    Layout.Entries[0].PartitionNumber = DeviceNumber.PartitionNumber;
    Layout.Entries[0].HiddenSectors = static_cast<uint32_t>(start);
  } else {
    DeviceNumber.PartitionNumber = 0;
  }
  DeviceNumber.DeviceType = 7;  // a disk
  const std::string vendor = qm::ReadSysfsText(disk + "/device/vendor");
  const std::string model = qm::ReadSysfsText(disk + "/device/model");
  const std::string product = ProductText(vendor, model);
  if (!product.empty() && Kind == VolumePhysical) Description = product;
  Vendor = vendor;
  Model = model;
  Removable = qm::ReadSysfsText(disk + "/removable") == "1";
  if (Removable && Kind != VolumeImage) MediaType = 2;
  return bytes;
}

uint64_t CVolume::QueryDeviceInformation() {
  std::shared_ptr<IDevice> device;
  {
    std::lock_guard io(ioMutex_);
    if (!OpenDriveLocked()) return 0;
    device = device_;
  }
  const int fd = device->NativeHandle();
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0) {
    if (S_ISBLK(st.st_mode)) return QueryBlockDevice(fd);
    SourceDeviceId = st.st_dev;  // the file system that holds the image
  } else if (fd < 0 && ::stat(GetDevicePath().c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    SourceDeviceId = st.st_dev;  // a container image read through its library
  }
  IsBlockDevice = false;
  return device->SizeBytes();
}

uint64_t CVolume::SourceSizeBytes() {
  std::shared_ptr<IDevice> device;
  {
    std::lock_guard io(ioMutex_);
    if (!OpenDriveLocked()) return 0;
    device = device_;
  }
  return device->SizeBytes();
}

void CVolume::QueryInformation() {
  try {
    State = StateQuerying;
    if (!OpenDrive()) {
      // Where it is mounted is known without reading the device.
      if (Kind == VolumePhysical || Kind == VolumeLogical) QuerySystemFacts();
      State = StateNotReady;
      return;
    }
    Analyse_Boot();
    const uint64_t deviceBytes = QueryDeviceInformation();
    switch (Kind) {
      case VolumeFound:
      case VolumeVirtual: {
        // A found volume's size comes from its boot sector or partition
        // entry; the device only bounds it.
        const uint64_t room = VolumeStartOffset < deviceBytes ? deviceBytes - VolumeStartOffset : 0;
        if (deviceBytes == 0) Size = TotalSectors <= UINT64_MAX / 512 ? TotalSectors * 512 : 0;
        else Size = (TotalSectors && TotalSectors <= room / 512) ? TotalSectors * 512 : room;
        break;
      }
      case VolumeImage:
        Size = deviceBytes;
        BytesPerSector = 512;
        // The cluster size of the boot sector stays; without a file system
        // the image counts in single sectors.
        if (FileSystem().FileSystemType == 0 || SectorsPerCluster == 0) SectorsPerCluster = 1;
        break;
      default:
        Size = deviceBytes;
        if (Geometry.BytesPerSector) BytesPerSector = Geometry.BytesPerSector;
        break;
    }
    if (SectorsPerCluster == 0) SectorsPerCluster = 1;
    BytesPerCluster = SectorsPerCluster * BytesPerSector;
    if (Size) {
      TotalSectors = Size / (BytesPerSector ? BytesPerSector : 512);
      TotalClusters = Size / BytesPerCluster;
      State = StateReady;
    } else {
      State = (Kind == VolumeImage) ? StateReady : StateNotReady;
    }
    if (Kind == VolumePhysical || Kind == VolumeLogical) {
      QuerySystemFacts();
      Close();
    }
  } catch (...) {
    theLog().Error("CVolume::QueryInformation except in drive: %s (%s), code: %d", DisplayNameText(), DevicePath,
                   errno);
  }
}

// ---------------------------------------------------------------------------
// Progress and size arithmetic

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
