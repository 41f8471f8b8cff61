#include "engine/recovery/recovery.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "engine/catalog/found_object_tree.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/format.h"
#include "services/log.h"
#include "services/strings.h"

extern char** environ;

namespace {

using qm::recovery::UniqueFd;

// FILETIME (100 ns since 1601-01-01 UTC) to a timespec; UTIME_OMIT for 0.
timespec ToTimespec(uint64_t filetime) {
  timespec ts{};
  if (filetime == 0) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  constexpr uint64_t kUnixEpoch = 116444736000000000ull;
  constexpr int64_t kTicks = 10000000;
  int64_t ticks = filetime >= kUnixEpoch ? static_cast<int64_t>(std::min<uint64_t>(filetime - kUnixEpoch, INT64_MAX))
                                         : -static_cast<int64_t>(kUnixEpoch - filetime);
  int64_t seconds = ticks / kTicks;
  int64_t rest = ticks % kTicks;
  if (rest < 0) {
    rest += kTicks;
    --seconds;
  }
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

void LowerThreadPriority() {
  // The lowest priority for this thread only (a Linux thread is a task of
  // its own for setpriority).
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

std::string DefaultTemporaryFolder() {
  std::string folder = theApp().Settings.TempFolderText();
  if (folder.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    folder = tmp && *tmp ? tmp : "/tmp";
  }
  return qm::recovery::JoinPath(folder, "quillmore-open");
}

// Writes all of `bytes`, going on after short writes; the bytes written, and
// the errno of a failure in `error`.
size_t WriteAll(int fd, const uint8_t* data, size_t bytes, int* error) {
  size_t done = 0;
  *error = 0;
  while (done < bytes) {
    ssize_t n = ::write(fd, data + done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// The folder path an object is recovered into. A lost file goes into its
// group's folder; when the catalog's path stops short of it (group folders
// may carry negative, synthetic-looking identities), the group folder is
// taken from the parent directly.
std::string FolderPath(const CFoundObject& object) {
  std::string path = object.GetFullPath();
  if (!(object.Flags & FOF_SIGNATURE) || !object.Volume) return path;
  if (!path.empty() && path != "/") return path;
  int64_t cursor = -1;
  const CFoundObjectTree& catalog = object.Volume->Catalog();
  for (int i = 0; i < 16; ++i) {
    const CFoundObject* parent = catalog.FindByID(object.ParentID, cursor);
    if (!parent) break;
    if (parent->IsFolder() && parent != &object && !parent->Name.empty()) return parent->Name + "/";
  }
  return path;
}

// A file that holds only part of its data must not pass for the whole one:
// it is renamed "name (incomplete).ext" (never over an existing file).
// Returns the path it ends up at.
std::string MarkIncomplete(int dir, const std::string& folder, const std::string& name, const std::string& path) {
  for (unsigned n = 1; n <= 100; ++n) {
    const std::string suffix = n == 1 ? " (incomplete)" : " (incomplete " + std::to_string(n) + ")";
    const std::string marked = qm::recovery::SuffixedName(name, suffix);
    if (::renameat2(dir, name.c_str(), dir, marked.c_str(), RENAME_NOREPLACE) == 0) {
      theLog().Message("FileRecovery: '%s' is incomplete and was renamed '%s'", path, marked);
      return folder + marked;
    }
    if (errno != EEXIST) break;
  }
  return path;
}

// A lost file ends at the end of its volume at the latest: a size that
// reaches past it (a rule's guess, a header's claim) is cut there, so the
// file is written whole up to the volume's last byte.
void KeepWithinVolume(CFoundObject& object) {
  if (!object.Volume || !object.SizeKnown()) return;
  const uint64_t end = object.Volume->Size;
  if (end == SIZE_UNKNOWN || end == 0 || object.StartOffset >= end) return;
  object.Size = std::min(object.Size, end - object.StartOffset);
}

}  // namespace

// ---------------------------------------------------------------------------
// The two engines of the drive-list owner.

CRecovery& CLocalComputer::Recovery() {
  std::call_once(recoveryOnce_, [this] {
    recovery_ = std::make_shared<CRecovery>();
    tryOpen_ = std::make_shared<CRecovery>();
  });
  return *recovery_;
}

CRecovery& CLocalComputer::TryOpen() {
  Recovery();
  return *tryOpen_;
}

// ---------------------------------------------------------------------------

CRecovery::CRecovery() : OpenFile(OpenWithDesktop) {}

CRecovery::~CRecovery() {
  Stop();
  Wait();
}

void CRecovery::ClearList() { list_.clear(); }

void CRecovery::AddSelected(CFoundObject* object, bool withFolder) { AppendRecoveryList(object, withFolder, list_); }

void AppendRecoveryList(CFoundObject* object, bool withFolder, std::vector<CFoundObject*>& list) {
  if (!object) return;
  if (!object->IsFolder()) {
    list.push_back(object);
    return;
  }
  // Depth first, each folder after the files below it. Folders are visited
  // once each, so identities that loop (damaged or hostile images) end.
  CFoundObjectTree* catalog = object->Volume ? &object->Volume->Catalog() : nullptr;
  if (!catalog) {
    if (withFolder) list.push_back(object);
    return;
  }
  std::vector<const CFoundObject*> visited;
  struct Frame {
    CFoundObject* folder;
    std::vector<CFoundObject*> children;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  auto enter = [&](CFoundObject* folder) {
    visited.push_back(folder);
    Frame frame{folder, {}, 0};
    catalog->GetChildren(folder->ObjectID, frame.children);
    stack.push_back(std::move(frame));
  };
  enter(object);
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next < top.children.size()) {
      CFoundObject* child = top.children[top.next++];
      if (!child || child == top.folder) continue;
      if (child->IsFolder()) {
        bool seen = std::find(visited.begin(), visited.end(), child) != visited.end();
        bool sameId = false;
        for (const Frame& f : stack) sameId = sameId || f.folder->ObjectID == child->ObjectID;
        if (seen || sameId) continue;
        enter(child);
      } else {
        list.push_back(child);
      }
      continue;
    }
    CFoundObject* done = top.folder;
    stack.pop_back();
    if (done != object || withFolder) list.push_back(done);
  }
}

std::vector<CFoundObject*> MakeRecoveryList(const std::vector<CFoundObject*>& selection, bool withFolders) {
  std::vector<CFoundObject*> list;
  for (CFoundObject* object : selection) AppendRecoveryList(object, withFolders, list);
  return list;
}

void CRecovery::BuildList(const std::vector<CFoundObject*>& selection, bool withFolders) {
  list_ = MakeRecoveryList(selection, withFolders);
}

bool CRecovery::StartRecovery(const std::vector<CFoundObject*>& selection, bool withFolders) {
  theLog().AddMessage("Creating recovery list.");
  BuildList(selection, withFolders);
  if (list_.empty()) {
    theLog().AddError("Recovery list is empty!");
    return false;
  }
  theLog().AddMessage("Recovery started.");
  return Start();
}

bool CRecovery::Start() { return StartWorker(false); }
bool CRecovery::StartTryOpen() { return StartWorker(true); }

bool CRecovery::StartWorker(bool tryOpen) {
  if (working_.load()) return false;
  if (worker_.joinable()) worker_.join();
  totalBytes_ = 0;
  for (const CFoundObject* object : list_)
    if (object->SizeKnown() && !object->IsFolder()) totalBytes_ += object->Size;
  volume_ = SourceVolume ? SourceVolume : (list_.empty() ? nullptr : list_.front()->Volume);
  if (!tryOpen) recoveredCount_ = 0;
  failedCount_ = 0;
  skippedCount_ = 0;
  bytesWritten_ = 0;
  currentPercent_ = 0;
  currentIndex_ = 0;
  cutShort_ = false;
  {
    std::lock_guard lock(pathMutex_);
    written_.clear();
    outcomes_.clear();
    currentDestinationPath_.clear();
  }
  // Running is set here rather than by the worker, so a stop that arrives
  // before the worker gets going is not undone.
  stopRequested_ = false;
  running_ = 1;
  working_ = true;
  try {
    worker_ = std::thread([this, tryOpen] {
      try {
        if (tryOpen)
          TryOpen_Thread();
        else
          Recovery_Thread();
      } catch (...) {
        theLog().AddError("Recovery_Thread.except0");
      }
      running_ = 0;
      working_ = false;
    });
  } catch (...) {
    working_ = false;
    running_ = 0;
    return false;
  }
  return true;
}

void CRecovery::Stop() {
  stopRequested_ = true;
  running_ = 0;
}

void CRecovery::Wait() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void CRecovery::Recovery_Thread() { RunList(false); }
void CRecovery::TryOpen_Thread() { RunList(true); }

void CRecovery::RunList(bool tryOpen) {
  LowerThreadPriority();
  currentIndex_ = 0;
  bool aborted = false;
  std::string root = tryOpen ? (TemporaryFolder.empty() ? DefaultTemporaryFolder() : TemporaryFolder) : std::string();
  while (currentIndex_.load() < static_cast<int32_t>(list_.size())) {
    if (stopRequested_.load()) {
      theLog().AddMessage("Recovery aborted.");
      aborted = true;
      break;
    }
    CFoundObject* object = list_[static_cast<size_t>(currentIndex_.load())];
    // Folders hold no data to write; empty files are created empty.
    if (!object->IsFolder()) {
      lastKind_ = RecoveryOutcome::Failed;
      nameTaken_ = false;
      lastReason_ = "unexpected failure";
      lastUnreadable_ = 0;
      uint64_t before = bytesWritten_.load();
      int done = 0;
      try {
        done = RecoverFile(object, root);
      } catch (...) {
        theLog().AddError("Recovery_Thread.except0");
        NoteFailure(RecoveryOutcome::Failed, "unexpected failure");
      }
      RecoveryOutcome outcome;
      outcome.Object = object;
      outcome.Result = done ? RecoveryOutcome::Recovered : lastKind_;
      if (!done) outcome.Reason = lastReason_;
      outcome.UnreadableBytes = lastUnreadable_;
      if (done && lastUnreadable_ != 0)
        outcome.Reason = qm::Format("recovered with %I64d unreadable bytes", lastUnreadable_);
      outcome.Path = CurrentDestinationPath();
      outcome.Bytes = bytesWritten_.load() - before;
      outcome.NameTaken = nameTaken_;
      std::lock_guard lock(pathMutex_);
      outcomes_.push_back(std::move(outcome));
    }
    ++currentIndex_;
  }
  if (!aborted && cutShort_.load()) {
    // The stop came during the last file: it was cut short all the same.
    theLog().AddMessage("Recovery aborted.");
    aborted = true;
  }
  if (tryOpen) {
    // Everything Try to open wrote lies in the temporary folder and is
    // offered for deletion at exit.
    std::lock_guard lock(pathMutex_);
    temporaryFiles_.insert(temporaryFiles_.end(), written_.begin(), written_.end());
  }
  if (tryOpen && !aborted) {
    std::string path = CurrentDestinationPath();
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
      int error = 0;
      OpenResult result = OpenFile ? OpenFile(path, &error) : OpenResult::Failed;
      if (result == OpenResult::Opened)
        theLog().Message("File '%s'  opened successfully", path);
      else if (result == OpenResult::NoApplication)
        theLog().Error("Opening file: \"%s\" failed! No application associated with this file", path);
      else
        theLog().Error("Opening file: \"%s\" failed! System error code: %d", path, error);
    }
  }
  theLog().AddMessage("Recovery completed.");
}

int CRecovery::RecoverFile(const CFoundObject* object, const std::string& root) {
  if (!object) return 0;
  try {
    CFoundObjectReader reader(*object);
    return RecoverFile(reader, object, root);
  } catch (...) {
    theLog().AddError("Recovery_Thread.except0");
    NoteFailure(RecoveryOutcome::Failed, "unexpected failure");
    return 0;
  }
}

int CRecovery::RecoverFile(CFoundObjectReader& reader, const CFoundObject* catalogObject, const std::string& root) {
  currentObject_ = catalogObject ? catalogObject : &reader.Object;
  SetCurrentDestination({});
  CFoundObject& object = reader.Object;
  const std::string rootPath =
      !root.empty() ? root : (!Destination.empty() ? Destination : theApp().Settings.DestinationFolderText());
  const std::string folderPath = FolderPath(catalogObject ? *catalogObject : object);

  // Lost files: decide how many bytes to write before anything is created.
  // A size the content told is the file's size; the probable-size rules
  // are for the files whose size the content could not tell.
  if (object.Flags & FOF_SIGNATURE) {
    if (!(object.Flags & FOF_SIZED) || !object.SizeKnown()) {
      const CFoundObjectTree* catalog = object.Volume ? &object.Volume->Catalog() : nullptr;
      ProbableSizeResult result = DecideProbableSize(object, Choices, SizeDialog, catalog);
      if (result != ProbableSizeResult::SizeSet) {
        NoteFailure(RecoveryOutcome::Skipped,
                    result == ProbableSizeResult::Cancel ? "size question cancelled" : "lost file: no size chosen");
        return 0;
      }
    }
    KeepWithinVolume(object);
  }
  if (!object.SizeKnown()) {
    theLog().Error(GetString(202), object.Name);
    NoteFailure(RecoveryOutcome::Skipped, "size unknown");
    return 0;
  }
  // Encrypted data cannot be decrypted here: the file is written as what it
  // is, under a name that says so.
  const std::string name = (object.Flags & FOF_ENCRYPTED) ? object.Name + kEncryptedSuffix : object.Name;
  if (!PrepareDestination(rootPath, folderPath, name)) {
    NoteFailure(RecoveryOutcome::Failed, "folder could not be created");
    return 0;
  }
  theLog().Message("FileRecovery: Recovering file: %s [from '%s' to '%s']", object.Name, folderPath, targetFolder_);
  FileRecovery(reader);
  if (!fileComplete_) return 0;
  ++recoveredCount_;
  return 1;
}

bool CRecovery::PrepareDestination(const std::string& root, const std::string& folderPath, const std::string& name) {
  targetDir_.Reset();
  std::string failed;
  std::vector<std::string> components = qm::recovery::SafeFolderComponents(folderPath);
  std::string target = root;
  for (const std::string& c : components) target = qm::recovery::JoinPath(target, c);
  UniqueFd rootFd = qm::recovery::OpenRoot(root, &failed);
  UniqueFd dir;
  if (rootFd.Valid()) dir = qm::recovery::OpenFolderChain(rootFd.Get(), root, components, &failed);
  if (!dir.Valid()) {
    theLog().Error("Can't create folder: %s", failed);
    theLog().Message("Can't create folder: %s", target);
    return false;
  }
  targetDir_ = std::move(dir);
  targetFolder_ = target;
  if (!targetFolder_.empty() && targetFolder_.back() != '/') targetFolder_.push_back('/');
  targetName_ = qm::recovery::SafeComponent(name);
  SetCurrentDestination(targetFolder_ + targetName_);
  return true;
}

uint64_t CRecovery::FileRecovery(CFoundObjectReader& reader) {
  reader.UnreadableBytes = 0;
  const uint64_t written =
      FileRecovery(reader.Object, [&reader](void* buffer, uint32_t bytes) { return reader.ReadNext(buffer, bytes); });
  // Sectors that could not be read were written as zeros at their place;
  // the file counts as recovered, and says how much of it is missing.
  lastUnreadable_ = std::min(reader.UnreadableBytes, reader.Object.Size);
  if (written != 0 && lastUnreadable_ != 0)
    theLog().Error("FileRecovery: '%s' recovered with %I64d unreadable bytes", CurrentDestinationPath(),
                   lastUnreadable_);
  return written;
}

uint64_t CRecovery::FileRecovery(CFoundObject& object, const ReadFunction& read) {
  fileComplete_ = false;
  if (object.CheckBounds() != 0) {
    NoteFailure(RecoveryOutcome::Failed, "lies beyond the end of the volume");
    return 0;
  }
  if (!targetDir_.Valid()) {
    theLog().Error("CRecovery::FileRecovery.CreateFile '%s' failed", CurrentDestinationPath());
    NoteFailure(RecoveryOutcome::Failed, "file could not be created");
    return 0;
  }
  // Never replace a file: an existing name is reported and the data goes to
  // the next free "name (n).ext" instead.
  std::string chosen;
  bool existed = false;
  int rawFd = -1;
  try {
    rawFd = qm::recovery::CreateNewFile(targetDir_.Get(), targetName_, &chosen, &existed, &nameNumbers_);
  } catch (...) {
    theLog().AddError("Recovery_Thread.except0");
    NoteFailure(RecoveryOutcome::Failed, "unexpected failure");
    return 0;
  }
  if (existed) theLog().Error("File: %s exists", targetFolder_ + targetName_);
  nameTaken_ = existed;
  if (rawFd < 0) {
    theLog().Error("CRecovery::FileRecovery.CreateFile '%s' failed", targetFolder_ + targetName_);
    NoteFailure(RecoveryOutcome::Failed, "file could not be created");
    return 0;
  }
  UniqueFd fd(rawFd);
  std::string path = targetFolder_ + chosen;
  SetCurrentDestination(path);
  if (existed) theLog().Message("FileRecovery: writing to '%s'", path);

  // Running again for this file, unless a stop has been asked for: the stop
  // request is kept apart, so this reset never undoes it.
  if (!stopRequested_.load()) running_ = 1;
  uint64_t position = 0;
  uint64_t written = 0;
  bool complete = false;
  currentPercent_ = 0;
  try {
    if (!buffer_) buffer_ = std::make_unique<LargeBuffer>(kChunkBytes);
    while (position < object.Size) {
      uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(kChunkBytes, object.Size - position));
      uint32_t n = read(buffer_->data(), chunk);
      if (n == 0) break;
      // A reader may hand back the rest of a whole sector; the file ends at
      // its size.
      n = std::min(n, chunk);
      int error = 0;
      size_t done = WriteAll(fd.Get(), buffer_->data(), n, &error);
      written += done;
      bytesWritten_ += done;
      if (error != 0) {
        theLog().Error("FileRecovery: Write system error %d", error);
        break;
      }
      if (done < n) theLog().Error("CRecovery::FileRecovery.WriteError: WritedSize = %d, ReqSize = %d", done, n);
      int32_t percent = static_cast<int32_t>(position * 100 / object.Size);
      currentPercent_ = percent;
      PostProgress(currentObject_, percent);
      if (stopRequested_.load()) {
        cutShort_ = true;
        break;
      }
      position += n;
    }
    complete = position >= object.Size;
  } catch (...) {
    theLog().AddError("Recovery_Thread.RecoveryCycle.except");
  }
  currentPercent_ = 100;

  // Linux keeps no creation time; modification and access times are
  // restored where the object has them.
  const timespec times[2] = {ToTimespec(object.AccessTime), ToTimespec(object.ModificationTime)};
  if ((written != 0 || complete) && (object.AccessTime != 0 || object.ModificationTime != 0))
    ::futimens(fd.Get(), times);
  fd.Reset();

  if (written == 0 && !complete) {
    theLog().Error("CRecovery::FileRecovery of '%s' failed because file size == 0", path);
    ::unlinkat(targetDir_.Get(), chosen.c_str(), 0);
    NoteFailure(RecoveryOutcome::Failed, "nothing could be read");
    return 0;
  }
  if (!complete) {
    path = MarkIncomplete(targetDir_.Get(), targetFolder_, chosen, path);
    SetCurrentDestination(path);
  }
  {
    std::lock_guard lock(pathMutex_);
    written_.push_back(path);
  }
  if (!complete) {
    // Cut short by a stop, a read that ended early or a write error: the
    // file keeps what was written but does not count as recovered.
    NoteFailure(RecoveryOutcome::Failed, stopRequested_.load() ? "stopped before the end" : "incomplete: read or write failed");
    return 0;
  }
  fileComplete_ = true;
  return position;
}

void CRecovery::PostProgress(const CFoundObject* object, int32_t percent) {
  if (IMessageTarget* target = theApp().MainWindow.load())
    target->PostMessage(WM_RECOVERY_PROGRESS, reinterpret_cast<uintptr_t>(object), percent);
}

void CRecovery::SetCurrentDestination(const std::string& path) {
  std::lock_guard lock(pathMutex_);
  currentDestinationPath_ = path;
}

std::string CRecovery::CurrentDestinationPath() const {
  std::lock_guard lock(pathMutex_);
  return currentDestinationPath_;
}

std::vector<std::string> CRecovery::WrittenFiles() const {
  std::lock_guard lock(pathMutex_);
  return written_;
}

std::vector<RecoveryOutcome> CRecovery::Outcomes() const {
  std::lock_guard lock(pathMutex_);
  return outcomes_;
}

void CRecovery::NoteFailure(RecoveryOutcome::Kind kind, const std::string& reason) {
  lastKind_ = kind;
  lastReason_ = reason;
  if (kind == RecoveryOutcome::Skipped)
    ++skippedCount_;
  else
    ++failedCount_;
}

std::vector<std::string> CRecovery::TemporaryFiles() const {
  std::lock_guard lock(pathMutex_);
  return temporaryFiles_;
}

void CRecovery::DeleteTemporaryFiles(IRecoveryQuestions* questions) {
  std::vector<std::string> files = TemporaryFiles();
  if (files.empty()) return;
  if (!questions || !questions->ConfirmDeleteTemporaryFiles(kDeleteTemporaryFilesQuestion, kConfirmationCaption))
    return;
  for (const std::string& file : files) ::unlink(file.c_str());
  std::lock_guard lock(pathMutex_);
  temporaryFiles_.clear();
}

OpenResult OpenWithDesktop(const std::string& path, int* error) {
  if (error) *error = 0;
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // A session of its own: the program it starts outlives us and never gets
  // our terminal's signals.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "xdg-open", &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    if (error) *error = rc;
    return OpenResult::Failed;
  }
  // xdg-open answers quickly when it hands the file on; when it stays (some
  // desktops run the program in its place) the opening went well so far and
  // a reaper thread collects it later.
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      if (code == 0) return OpenResult::Opened;
      if (error) *error = code;
      // 3: "a required tool could not be found", which is what xdg-open
      // says when no program is associated with the file's type.
      return code == 3 ? OpenResult::NoApplication : OpenResult::Failed;
    }
    if (done < 0 && errno != EINTR) return OpenResult::Opened;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::thread([pid] {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }).detach();
  return OpenResult::Opened;
}
