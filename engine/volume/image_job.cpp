#include "engine/volume/image_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "engine/recovery/recovery.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/rescue_map.h"
#include "engine/volume/volume.h"
#include "platform/large_buffer.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "services/format.h"
#include "services/log.h"

namespace {

constexpr uint64_t kSector = 512;

// Writes the whole range or nothing counts: a write that stops part-way
// (a full disk, an I/O error) is a failed write, never a block taken as done.
bool WriteWhole(int fd, const uint8_t* data, size_t bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes) {
    ssize_t n = ::pwrite(fd, data + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string FolderOf(const std::string& path) {
  std::filesystem::path p(path);
  return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

class CImageCopy {
public:
  explicit CImageCopy(ImageJob& job) : job_(job), buffer_(kImageBlockSectors * kSector) {}

  void Run() {
    job_.StartFileTime = qm::CurrentFileTime();
    job_.StartTick = std::chrono::steady_clock::now();
    job_.Outcome = ImageOutcome::Running;
    rescue_ = job_.ContinueOnErrors || job_.Resume;
    CVolume* source = job_.Source;
    if (!source || !source->OpenDrive()) return Failed(EIO, "the source cannot be opened");
    total_ = source->TotalSectors;
    job_.Total = total_;
    if (total_ > UINT64_MAX / kSector) return Failed(EINVAL, "the source is too large");
    map_ = CRescueMap(total_ * kSector);
    if (job_.Resume) {
      std::string why;
      if (!CRescueMap::Load(job_.MapPath(), total_ * kSector, map_, &why)) return Failed(EINVAL, why);
    }
    int flags = O_WRONLY | O_CLOEXEC;
    if (!job_.Resume) flags |= O_CREAT | (job_.OverwriteConfirmed ? O_TRUNC : O_EXCL);
    fd_ = ::open(job_.TargetPath.c_str(), flags, 0644);
    if (fd_ < 0) return Failed(errno, qm::SystemErrorText(errno));
    // A go-on image has the source's size from the start; what is not yet
    // copied reads as zeros and the map says so.
    if (rescue_ && ::ftruncate(fd_, static_cast<off_t>(total_ * kSector)) != 0) {
      const int error = errno;
      ::close(fd_);
      return Failed(error, qm::SystemErrorText(error));
    }
    job_.BytesCopied = map_.Count(CRescueMap::kFinished);
    job_.UnreadableBytes = map_.Count(CRescueMap::kBad);
    if (rescue_) SaveMap(0, false);

    ImageOutcome outcome = CopyBlocks();
    if (::close(fd_) != 0 && outcome == ImageOutcome::Complete) {
      theLog().Error("Image_Create: Can't write sector: 0x%I64x", total_);
      outcome = ImageOutcome::WriteFailed;
    }
    if (rescue_) SaveMap(job_.Current * kSector, map_.Count(CRescueMap::kNotTried) == 0);
    job_.Outcome = outcome;
    job_.Running = 0;
    Post(WM_IMAGE_DONE, 0);
  }

private:
  ImageOutcome CopyBlocks() {
    uint64_t s = 0;
    auto lastSave = std::chrono::steady_clock::now();
    for (;;) {
      uint64_t n = 0;
      if (rescue_) {
        CRescueMap::Range next;
        if (!map_.NextRange(s * kSector, CRescueMap::kNotTried, next)) return ImageOutcome::Complete;
        s = next.pos / kSector;
        n = std::min<uint64_t>(kImageBlockSectors, next.size / kSector);
      } else {
        if (s >= total_) return ImageOutcome::Complete;
        n = std::min<uint64_t>(kImageBlockSectors, total_ - s);
      }
      job_.Current = s;
      if (job_.Running != 1) return ImageOutcome::Cancelled;

      const uint64_t bytes = n * kSector;
      uint64_t got = job_.Source->ReadSectors(buffer_.data(), s, n);
      got -= got % kSector;  // a part-sector is not taken
      uint64_t readable = bytes;
      if (got < bytes) {
        theLog().Error("Image_Create: Can't read sector: 0x%I64x", s + got / kSector);
        if (!rescue_) {
          // The image holds the blocks before it (and the whole sectors of
          // this one that were delivered).
          if (got && !WriteWhole(fd_, buffer_.data(), got, s * kSector)) return WriteFailed(s);
          job_.BytesCopied += got;
          return ImageOutcome::ReadFailed;
        }
        if (!Salvage(s, got / kSector, n, readable)) return ImageOutcome::Cancelled;
      }
      if (!WriteWhole(fd_, buffer_.data(), bytes, s * kSector)) return WriteFailed(s);
      if (rescue_) MarkBlock(s, n);
      job_.BytesCopied += readable;
      Post(WM_IMAGE_PROGRESS, 0);
      s += n;
      if (rescue_ && std::chrono::steady_clock::now() - lastSave > std::chrono::seconds(1)) {
        SaveMap(s * kSector, false);
        lastSave = std::chrono::steady_clock::now();
      }
    }
  }

  // Reads the sectors [from, n) of the block at `s` one at a time; those
  // that fail stay zeros in the buffer and are remembered as bad. False when
  // the user cancelled meanwhile (the block is then left not tried).
  bool Salvage(uint64_t s, uint64_t from, uint64_t n, uint64_t& readable) {
    bad_.assign(n, false);
    uint64_t unreadable = 0;
    for (uint64_t i = from; i < n; ++i) {
      if (job_.Running != 1) return false;
      uint8_t* sector = buffer_.data() + i * kSector;
      if (job_.Source->ReadSectors(sector, s + i, uint64_t{1}) != kSector) {
        std::fill(sector, sector + kSector, 0);
        bad_[i] = true;
        ++unreadable;
      }
    }
    readable = (n - unreadable) * kSector;
    job_.UnreadableBytes += unreadable * kSector;
    return true;
  }

  void MarkBlock(uint64_t s, uint64_t n) {
    if (bad_.empty()) {
      map_.Mark(s * kSector, n * kSector, CRescueMap::kFinished);
      return;
    }
    for (uint64_t i = 0; i < n; ++i)
      map_.Mark((s + i) * kSector, kSector, bad_[i] ? CRescueMap::kBad : CRescueMap::kFinished);
    bad_.clear();
  }

  ImageOutcome WriteFailed(uint64_t s) {
    theLog().Error("Image_Create: Can't write sector: 0x%I64x", s);
    // A plain image ends with whole blocks only: what the failed write left
    // of its block is cut off. A go-on image keeps its size; its map leaves
    // the block not tried.
    if (!rescue_ && ::ftruncate(fd_, static_cast<off_t>(s * kSector)) != 0) {
      // The image stays as it is; the log line above tells where it failed.
    }
    return ImageOutcome::WriteFailed;
  }

  void SaveMap(uint64_t pos, bool finished) {
    if (!map_.Save(job_.MapPath(), pos, finished))
      theLog().Error("Image_Create: Can't write the map file %s", job_.MapPath());
  }

  void Failed(int error, const std::string& reason) {
    job_.SystemError = error;
    job_.Reason = reason;
    job_.Outcome = ImageOutcome::OpenFailed;
    job_.Running = 0;
    Post(WM_IMAGE_FAILED, error);
  }

  void Post(uint32_t message, intptr_t lParam) {
    if (job_.ProgressWindow) job_.ProgressWindow->PostMessage(message, 0, lParam);
  }

  ImageJob& job_;
  LargeBuffer buffer_;
  CRescueMap map_;
  std::vector<bool> bad_;
  uint64_t total_ = 0;
  int fd_ = -1;
  bool rescue_ = false;
};

}  // namespace

bool CheckImageTarget(ImageJob& job) {
  auto refuse = [&](std::string why) {
    job.Reason = std::move(why);
    return false;
  };
  if (!job.Source) return refuse("no source volume");
  if (job.TargetPath.empty()) return refuse("no image file name");
  struct stat st {};
  const bool exists = ::stat(job.TargetPath.c_str(), &st) == 0;
  if (job.Resume) {
    if (!exists) return refuse(job.TargetPath + " does not exist: there is nothing to resume");
    if (::access(job.MapPath().c_str(), R_OK) != 0) return refuse("the map file " + job.MapPath() + " is missing");
  } else if (exists && !job.OverwriteConfirmed) {
    return refuse(job.TargetPath + " exists already");
  }
  if (exists && !S_ISREG(st.st_mode)) return refuse(job.TargetPath + " is not a regular file");
  // Writing the image onto the drive being imaged would overwrite the very
  // data it copies. An image file as the source is safe to copy beside
  // itself, only not onto itself; so is a loop device beside its file.
  CVolume& source = *job.Source;
  if (source.IsBlockDevice || source.Kind == VolumePhysical || source.Kind == VolumeLogical) {
    if (IsDestinationOnSourceDrive(source, FolderOf(job.TargetPath), false))
      return refuse("the image file would be written onto the drive being imaged");
  } else if (exists && SameFile(job.TargetPath, const_cast<CVolume&>(source).GetDevicePath())) {
    return refuse("the image file would be written over the image being copied");
  }
  return true;
}

namespace {

// Running was set by the starter: a cancel that comes before the copy gets
// going is kept.
void CopyImage(ImageJob& job) {
  try {
    CImageCopy(job).Run();
  } catch (...) {
    theLog().AddInternal("Image_Create except");
    job.Outcome = ImageOutcome::WriteFailed;
    job.Running = 0;
    if (job.ProgressWindow) job.ProgressWindow->PostMessage(WM_IMAGE_DONE, 0, 0);
  }
}

}  // namespace

void RunImageCopy(ImageJob& job) {
  job.Running = 1;
  CopyImage(job);
}

int CLocalComputer::CreateImage(ImageJob& job) {
  job.Wait();
  job.Computer = this;
  if (!CheckImageTarget(job)) return -1;
  try {
    job.Running = 1;
    job.Thread = std::thread([&job] { CopyImage(job); });
  } catch (...) {
    job.Running = 0;
    job.Reason = "the copying thread cannot be started";
    return -1;
  }
  return 0;
}

std::string SuggestedImageFileName(const CVolume& source) {
  std::string name;
  if (source.Kind == VolumePhysical || source.Kind == VolumeLogical)
    name = std::filesystem::path(source.DevicePath).filename().string();
  if (name.empty()) name = source.DisplayNameText();
  std::string label = source.Label;
  while (!label.empty() && label.back() == ' ') label.pop_back();
  std::string text =
      label.empty() ? qm::Format("Image from drive %s", name) : qm::Format("Image from drive %s (%s)", name, label);
  // The suggestion is a file name: no folder separators or control characters.
  for (char& c : text)
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
  return text + ".dsk";
}

std::vector<FileDialogFilter> ImageSaveFilters() {
  return {{"Drive Image Files ( *.dsk ) ", "*.dsk"}, {"All Files ( *.* ) ", "*.*"}};
}

std::vector<FileDialogFilter> ImageLoadFilters() {
  return {{"Drive Image Files ( *.dsk ) ", "*.dsk"},
          {"Disk images ( *.dsk *.img *.dd *.raw *.E01 *.vmdk *.vhd *.vhdx *.qcow2 ) ",
           "*.dsk *.img *.dd *.raw *.E01 *.e01 *.vmdk *.vhd *.vhdx *.qcow2 *.qcow"},
          {"All Files ( *.* ) ", "*.*"}};
}

bool ConfirmImageTarget(ImageJob& job, IImageQuestions& questions) {
  struct stat st {};
  if (job.Resume || ::stat(job.TargetPath.c_str(), &st) != 0) return true;
  job.OverwriteConfirmed = questions.ConfirmOverwrite(job.TargetPath);
  return job.OverwriteConfirmed;
}

ImageProgressView DescribeImageJob(const ImageJob& job) {
  ImageProgressView view;
  const ImageOutcome outcome = job.Outcome.load();
  view.Complete = outcome != ImageOutcome::NotStarted && outcome != ImageOutcome::Running;
  const uint64_t total = job.Total.load();
  // Current / (Total / 100), kept within 0..100 for volumes of under a
  // hundred sectors and for a finished job.
  if (view.Complete && outcome == ImageOutcome::Complete)
    view.Percent = 100;
  else if (total >= 100)
    view.Percent = static_cast<uint32_t>(std::min<uint64_t>(100, job.Current.load() / (total / 100)));
  else if (total)
    view.Percent = static_cast<uint32_t>(job.Current.load() * 100 / total);
  if (job.StartTick != std::chrono::steady_clock::time_point{})
    view.ElapsedSeconds = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - job.StartTick).count());
  view.ButtonText = view.Complete ? "OK" : "Cancel";
  view.UnreadableBytes = job.UnreadableBytes.load();
  return view;
}

std::string ImageSummary(const ImageJob& job) {
  const uint64_t copied = job.BytesCopied.load();
  const uint64_t bad = job.UnreadableBytes.load();
  std::string text;
  switch (job.Outcome.load()) {
    case ImageOutcome::Complete: text = qm::Format("Image complete: %I64d bytes copied to %s", copied, job.TargetPath); break;
    case ImageOutcome::Cancelled:
      text = qm::Format("Image cancelled after %I64d bytes copied to %s", copied, job.TargetPath);
      break;
    case ImageOutcome::ReadFailed:
      text = qm::Format("Image stopped at an unreadable sector (0x%I64x) after %I64d bytes copied to %s",
                        job.Current.load(), copied, job.TargetPath);
      break;
    case ImageOutcome::WriteFailed:
      text = qm::Format("Image stopped: %s could not be written after %I64d bytes", job.TargetPath, copied);
      break;
    case ImageOutcome::OpenFailed: text = qm::Format("Image not created: %s", job.Reason); break;
    case ImageOutcome::NotStarted:
    case ImageOutcome::Running: text = qm::Format("Image in progress: %I64d bytes copied", copied); break;
  }
  if (bad) text += qm::Format("; %I64d bytes could not be read (zeros in the image, listed in %s)", bad, job.MapPath());
  return text;
}

CVolume* LoadCompletedImage(CLocalComputer& computer, const ImageJob& job) {
  if (job.Outcome.load() != ImageOutcome::Complete) return nullptr;
  return computer.LoadImage(job.TargetPath);
}
