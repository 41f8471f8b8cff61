// Saving a volume to a drive image file: the copying job, the checks made
// before it starts, and what the image dialogs suggest and show. The copy
// is a plain sector-for-sector file, written in blocks of 4096 sectors.
//
// By default the copy ends at the first block that cannot be read. With
// ContinueOnErrors it goes on: a block that fails is read again sector by
// sector, the sectors that still fail are written as zeros, and a map beside
// the image (GNU ddrescue's mapfile format) records which bytes were
// copied, which could not be read and which were not reached, so that an
// interrupted run can be resumed from it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class CVolume;
class CLocalComputer;
class IMessageTarget;

enum class ImageOutcome { NotStarted, Running, Complete, Cancelled, ReadFailed, WriteFailed, OpenFailed };

// Sectors per block of the copy (2 MiB).
constexpr uint64_t kImageBlockSectors = 4096;

// Shared between the front end and the copying thread. The front end reads
// Current and Total for display and clears Running to cancel.
struct ImageJob {
  std::atomic<uint32_t> Running{0};
  // Receives WM_IMAGE_PROGRESS, WM_IMAGE_FAILED and WM_IMAGE_DONE (may be null).
  IMessageTarget* ProgressWindow = nullptr;
  CVolume* Source = nullptr;
  std::atomic<uint64_t> Total{0};
  // The first sector of the block being copied.
  std::atomic<uint64_t> Current{0};
  std::string TargetPath;
  uint64_t StartFileTime = 0;
  std::chrono::steady_clock::time_point StartTick{};
  CLocalComputer* Computer = nullptr;

  // Go on past unreadable sectors, with a map beside the image.
  bool ContinueOnErrors = false;
  // Go on from the map of an earlier, interrupted run (implies
  // ContinueOnErrors); the image file is kept and completed.
  bool Resume = false;
  // The user agreed to replace an existing file at TargetPath.
  bool OverwriteConfirmed = false;
  std::string MapPath() const { return TargetPath + ".map"; }

  // What the run came to.
  std::atomic<ImageOutcome> Outcome{ImageOutcome::NotStarted};
  std::atomic<uint64_t> BytesCopied{0};
  std::atomic<uint64_t> UnreadableBytes{0};
  // errno of a failure to open the source or the target.
  int SystemError = 0;
  // Why the job was refused or failed, for the front end.
  std::string Reason;

  std::thread Thread;
  // Waits for the copying thread (if any).
  void Wait() {
    if (Thread.joinable()) Thread.join();
  }
  ~ImageJob() { Wait(); }
};

// The checks made before a copy starts: a source and a target are given; an
// existing target is replaced only when the user agreed (or resumed); a
// resumed run has its image and map; the image is never written onto the
// drive it copies (nor over the image file it copies). False with the reason.
bool CheckImageTarget(ImageJob& job);

// The copy, on the calling thread (CLocalComputer::CreateImage runs it on a
// thread of its own).
void RunImageCopy(ImageJob& job);

// --- What the image dialogs suggest and show ---

// "Image from drive sdb1 (LABEL).dsk", without the label part when it is
// empty: Linux kernel names stand where drive letters were.
std::string SuggestedImageFileName(const CVolume& source);

struct FileDialogFilter {
  std::string text;
  std::string patterns;  // space-separated
};
// The save dialog's filters (default extension "dsk").
std::vector<FileDialogFilter> ImageSaveFilters();
// The load dialog's filters: raw images and the container formats read.
std::vector<FileDialogFilter> ImageLoadFilters();

// Asked by the save dialog when the chosen file exists.
class IImageQuestions {
public:
  virtual ~IImageQuestions() = default;
  virtual bool ConfirmOverwrite(const std::string& path) = 0;
};
// Settles OverwriteConfirmed for the chosen target; false when the user
// declined to replace an existing file.
bool ConfirmImageTarget(ImageJob& job, IImageQuestions& questions);

// What the progress dialog shows at a timer tick.
struct ImageProgressView {
  uint32_t Percent = 0;
  uint64_t ElapsedSeconds = 0;
  bool Complete = false;      // the job has ended: the button reads "OK"
  const char* ButtonText = "Cancel";
  uint64_t UnreadableBytes = 0;
};
ImageProgressView DescribeImageJob(const ImageJob& job);

// One line for the end of a job: what was written, what could not be read.
std::string ImageSummary(const ImageJob& job);

// After the dialog closes on a completed job: loads the image as a volume
// of the list (null when the job did not complete or the file cannot be
// opened).
CVolume* LoadCompletedImage(CLocalComputer& computer, const ImageJob& job);
