// The recovery engine: writes found files into a destination folder, each
// below its own folder path, on a worker thread of its own. Two engine
// objects live for the whole run of the program, owned by the drive-list
// owner: one for Recover and one for Try to open.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/catalog/found_object.h"
#include "engine/recovery/safe_name.h"
#include "engine/scanner/probable_size.h"
#include "platform/large_buffer.h"

class CVolume;
class CFoundObjectTree;

// The texts of the questions below, for the front ends' dialogs.
inline constexpr const char* kDeleteTemporaryFilesQuestion = "Delete temporary files?";
inline constexpr const char* kConfirmationCaption = "Confirmation";
inline constexpr const char* kSameDriveQuestion =
    "The destination folder is on the same drive with the source.\n"
    "You should change the destination location for recovered files.\n\n"
    "Select another destination folder for recovered files?";
inline constexpr const char* kSameDriveCaption = "Warning!";
inline constexpr const char* kSelectDestinationTitle = "Select destination folder for recovered files";
inline constexpr const char* kStopRecoveryQuestion = "Are you sure you want to stop recovery?";

// Questions the engine and its callers put to the user. The desktop program
// answers with dialogs, the command line from its options.
class IRecoveryQuestions {
public:
  virtual ~IRecoveryQuestions() = default;
  // kDeleteTemporaryFilesQuestion (caption kConfirmationCaption, Yes/No,
  // question icon) at exit; true for Yes.
  virtual bool ConfirmDeleteTemporaryFiles(const std::string& question, const std::string& caption) = 0;
  // kSameDriveQuestion (caption kSameDriveCaption, Yes/No, warning icon):
  // true for Yes (choose another folder).
  virtual bool AskSelectAnotherDestination(const std::string& question, const std::string& caption) = 0;
  // A folder browser titled `title`; false when nothing was chosen.
  virtual bool BrowseDestination(const std::string& title, std::string& folder) = 0;
};

// Appended to the name of a file recovered as its encrypted bytes.
constexpr const char* kEncryptedSuffix = ".encrypted";

// What became of one object of the list.
struct RecoveryOutcome {
  enum Kind { Recovered, Skipped, Failed };
  const CFoundObject* Object = nullptr;
  Kind Result = Skipped;
  std::string Reason;  // empty for Recovered
  std::string Path;    // the file written, when one was
  uint64_t Bytes = 0;
  bool NameTaken = false;  // the object's own name was taken: Path has another
  // Bytes written as zeros because their sectors could not be read; a file
  // recovered with such bytes says so in Reason.
  uint64_t UnreadableBytes = 0;
};

// Result of opening a recovered file with the desktop's program for it.
enum class OpenResult { Opened, NoApplication, Failed };

class CRecovery {
public:
  static constexpr uint32_t kChunkBytes = 16u * 1024 * 1024;

  CRecovery();
  ~CRecovery();
  CRecovery(const CRecovery&) = delete;
  CRecovery& operator=(const CRecovery&) = delete;

  // --- The recovery list ---
  // Empties the list.
  void ClearList();
  // Adds one selected object: a file itself; a folder all the files below it,
  // depth first, followed by the folder itself (`withFolder` false: the
  // folder's own entry is left out, as for a selection in the folder tree).
  void AddSelected(CFoundObject* object, bool withFolder = true);
  // Replaces the list with a selection.
  void BuildList(const std::vector<CFoundObject*>& selection, bool withFolders = true);
  const std::vector<CFoundObject*>& List() const { return list_; }

  // --- Running ---
  // "Creating recovery list." ... "Recovery started.": builds the list from
  // the selection and starts the worker; false (and "Recovery list is empty!")
  // when the list is empty.
  bool StartRecovery(const std::vector<CFoundObject*>& selection, bool withFolders = true);
  // Computes the total bytes, resets the recovered count and starts
  // Recovery_Thread on the list. False when a worker is still running.
  bool Start();
  // The same with TryOpen_Thread; the recovered count is kept.
  bool StartTryOpen();
  // Asks the worker to stop after the chunk it is writing; stays in force
  // until the next start.
  void Stop();
  // Waits for the worker to end.
  void Wait();
  bool IsWorking() const { return working_.load(); }

  // --- The per-file steps (run by the worker; public for tests) ---
  // Recovers one catalog object below `root` (empty: DestinationFolder).
  // 1 when the file was written, else 0.
  int RecoverFile(const CFoundObject* object, const std::string& root = {});
  // The same on a reader the caller made.
  int RecoverFile(CFoundObjectReader& reader, const CFoundObject* catalogObject, const std::string& root);
  // Creates the destination file chosen by RecoverFile and fills it from the
  // reader; returns the bytes written, or 0 (an empty file is created empty:
  // LastFileComplete() tells it from a failure). A file cut short by a stop
  // is renamed "name (incomplete).ext".
  uint64_t FileRecovery(CFoundObjectReader& reader);
  // The same with any source of data: `read(buffer, bytes)` returns the bytes
  // it put into the buffer, 0 at the end or on failure.
  using ReadFunction = std::function<uint32_t(void* buffer, uint32_t bytes)>;
  uint64_t FileRecovery(CFoundObject& object, const ReadFunction& read);
  // Whether the last FileRecovery wrote the whole file.
  bool LastFileComplete() const { return fileComplete_; }
  // Chooses where FileRecovery writes: the folder (created level by level
  // below the root) and the file name. False when the folder cannot be made.
  bool PrepareDestination(const std::string& root, const std::string& folderPath, const std::string& name);

  // --- Temporary files of Try to open ---
  void DeleteTemporaryFiles(IRecoveryQuestions* questions);
  std::vector<std::string> TemporaryFiles() const;

  // --- Shared state (read by the progress display) ---
  int32_t Running() const { return running_.load(); }
  int32_t CurrentIndex() const { return currentIndex_.load(); }
  int32_t CurrentPercent() const { return currentPercent_.load(); }
  int32_t RecoveredCount() const { return recoveredCount_.load(); }
  uint64_t TotalBytes() const { return totalBytes_; }
  uint64_t BytesWritten() const { return bytesWritten_.load(); }
  int32_t FailedCount() const { return failedCount_.load(); }
  int32_t SkippedCount() const { return skippedCount_.load(); }
  CVolume* Volume() const { return volume_; }
  std::string CurrentDestinationPath() const;
  // Paths of the files written by the last run, in order.
  std::vector<std::string> WrittenFiles() const;
  // One entry per object the last run took from the list, in order.
  std::vector<RecoveryOutcome> Outcomes() const;

  // --- Choices ---
  // The size choice remembered for all files ("All files of any type").
  CRecoveryChoices Choices;
  // Who answers the probable-size question; null skips lost files of unknown
  // size.
  IProbableSizeDialog* SizeDialog = nullptr;
  // The volume the recovery came from (set by the caller; else the first
  // object's volume).
  CVolume* SourceVolume = nullptr;
  // Where Recover writes (empty: the DestinationFolder setting).
  std::string Destination;
  // Where Try to open writes (empty: TempFolder, else $TMPDIR or /tmp).
  std::string TemporaryFolder;
  // Opens a file with the desktop's program (tests replace it).
  std::function<OpenResult(const std::string& path, int* error)> OpenFile;

private:
  void Recovery_Thread();
  void TryOpen_Thread();
  void RunList(bool tryOpen);
  bool StartWorker(bool tryOpen);
  void PostProgress(const CFoundObject* object, int32_t percent);
  void SetCurrentDestination(const std::string& path);
  // Why the current file was not recovered (set by the per-file steps).
  void NoteFailure(RecoveryOutcome::Kind kind, const std::string& reason);
  uint64_t lastUnreadable_ = 0;  // of the file being recovered

  std::atomic<int32_t> running_{0};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> cutShort_{false};  // a file was left unfinished by a stop
  std::vector<CFoundObject*> list_;
  std::atomic<int32_t> currentIndex_{0};
  uint64_t totalBytes_ = 0;
  std::atomic<int32_t> recoveredCount_{0};
  std::atomic<int32_t> failedCount_{0};
  std::atomic<int32_t> skippedCount_{0};
  std::atomic<uint64_t> bytesWritten_{0};
  std::atomic<int32_t> currentPercent_{0};
  CVolume* volume_ = nullptr;
  std::thread worker_;
  std::atomic<bool> working_{false};
  mutable std::mutex pathMutex_;
  std::string currentDestinationPath_;
  std::vector<std::string> written_;
  // The one data buffer: each chunk is read into it and written from it.
  std::unique_ptr<LargeBuffer> buffer_;
  std::vector<std::string> temporaryFiles_;
  const CFoundObject* currentObject_ = nullptr;
  RecoveryOutcome::Kind lastKind_ = RecoveryOutcome::Skipped;
  std::string lastReason_;
  bool fileComplete_ = false;
  bool nameTaken_ = false;
  std::vector<RecoveryOutcome> outcomes_;

  // The folder and name PrepareDestination chose for the next file.
  qm::recovery::UniqueFd targetDir_;
  qm::recovery::NameNumbers nameNumbers_;  // next free "name (n)" per folder
  std::string targetFolder_;
  std::string targetName_;
};

// What a recovery takes from a selected object: a file itself; a folder all
// the files below it, depth first, followed by the folder itself (unless
// `withFolder` is false, as for a folder chosen in the folder tree).
void AppendRecoveryList(CFoundObject* object, bool withFolder, std::vector<CFoundObject*>& list);
// The same for a whole selection (the size commands work on it too).
std::vector<CFoundObject*> MakeRecoveryList(const std::vector<CFoundObject*>& selection, bool withFolders = true);

// Opens a file with xdg-open, started detached.
OpenResult OpenWithDesktop(const std::string& path, int* error);

// True when the destination folder lies on the device the volume is read
// from: the same block device, a partition of the whole disk being read, or
// the file system that holds the image being read, and for a loop device the
// file system that holds its backing file (unless `followLoopFile` is off:
// a copy of the loop device's blocks may lie beside its file, as a copy of
// an image may lie beside it).
bool IsDestinationOnSourceDrive(const CVolume& volume, const std::string& destination, bool followLoopFile = true);

// The Recover dialog's same-drive check: while the destination is on the
// source drive, asks whether to choose another folder; No keeps the folder,
// Yes browses for a new one and checks again. Returns the folder to use.
std::string CheckDestinationDrive(const CVolume& volume, std::string destination, IRecoveryQuestions& questions);
