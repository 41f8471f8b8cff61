// quillmore-cli recover SOURCE --to DIR: analyses the source, selects files
// and recovers them into DIR with their folder paths.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/partition_list.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/scan_run.h"
#include "cli/source.h"
#include "cli/terminal_text.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/catalog/search.h"
#include "engine/filesystems/file_system.h"
#include "engine/recovery/destination_check.h"
#include "engine/recovery/recovery.h"
#include "engine/scanner/probable_size.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"

namespace qmcli {
namespace {

constexpr const char* kUsage =
    "recover SOURCE --to DIR [--scan] [--deleted-only] [--name PATTERN] [--under PATH] "
    "[--lost-size default|next|next-same|KB] [--allow-same-drive] [--partition N]";

struct RecoverOptions {
  std::string source;
  std::string to;
  bool scan = false;
  bool deletedOnly = false;
  std::string name;
  std::string under;
  const std::string* lostSize = nullptr;  // null when not given
  bool allowSameDrive = false;
};

int Usage(const std::string& why) { return ReportUsage("recover", why); }

std::string Trim(std::string_view path) {
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}


// NTFS keeps its own metadata as files ($MFT, $Bitmap, $Extend/...): they are
// not the user's files.
bool IsFileSystemMetadata(CVolume& volume, const CFoundObject& object) {
  if (object.Name.empty() || object.Name[0] != '$') return false;
  return volume.FileSystem().FileSystemType == 7 && ((object.ObjectID >= 0 && object.ObjectID < 24) || object.ParentID == 11);
}

struct Selection {
  std::vector<CFoundObject*> files;
  // NTFS system files the other options would have taken, left out.
  std::vector<const CFoundObject*> metadata;
};

Selection SelectFiles(CVolume& volume, const RecoverOptions& options) {
  const CFoundObjectTree& catalog = volume.Catalog();
  const std::string under = Trim(options.under);
  Selection out;
  for (CFoundObject* o : catalog.CopyObjects()) {
    if (!o || o == &volume || o->IsFolder()) continue;
    if (o->Flags & (FOF_FOUND_VOLUME | FOF_LOST_FOLDER)) continue;
    if ((o->Flags & FOF_SIGNATURE) && !options.scan) continue;
    if (options.deletedOnly && !o->IsDeleted()) continue;
    if (!options.name.empty() && !WildcardMatch(options.name, o->Name, true)) continue;
    if (!under.empty()) {
      std::string path = Trim(catalog.GetFullPath(o) + o->Name);
      if (path != under && path.rfind(under + "/", 0) != 0) continue;
    }
    if (IsFileSystemMetadata(volume, *o))
      out.metadata.push_back(o);
    else
      out.files.push_back(o);
  }
  return out;
}

std::string HumanBytes(uint64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[64];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

// Runs the recovery with the bar; Ctrl-C stops it after the current chunk.
void RunWithProgress(CRecovery& recovery) {
  CProgressBar bar;
  bool stopped = false;
  while (recovery.IsWorking()) {
    if (InterruptRequested() && !stopped) {
      stopped = true;
      bar.Finish();
      ReportNote("stopping after the current piece of the current file...");
      recovery.Stop();
    }
    if (!stopped) {
      size_t index = static_cast<size_t>(recovery.CurrentIndex());
      const auto& list = recovery.List();
      std::string label = index < list.size() ? TerminalSafe(list[index]->Name) : std::string();
      bar.Update(recovery.BytesWritten(), recovery.TotalBytes(), recovery.BytesWritten(), label);
    }
    // Short naps, so the end of the recovery is seen at once; the bar
    // redraws only a few times a second by itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  recovery.Wait();
  bar.Finish();
}

// What became of the selection, told plainly: the counts, the bytes
// written, files cut short or written under another name, what was left
// out and why. Gathered over every volume a whole disk is recovered from.
struct Summary {
  int recovered = 0, live = 0, deleted = 0, lost = 0;
  // Lost files cut where their structure broke off into another file.
  int lostCut = 0;
  // Encrypted files, written as their encrypted bytes: not a success.
  int encrypted = 0;
  uint64_t recoveredBytes = 0, writtenBytes = 0;
  size_t selected = 0, reached = 0;
  std::map<std::string, int> skipped;
  std::vector<std::string> failed, renamed, cut, unreadable;  // lines of the summary
  size_t metadata = 0;
  std::string metadataNames;  // the first few

  void Add(CVolume& volume, const std::string& title, const Selection& selection,
           const std::vector<RecoveryOutcome>& outcomes);
  void Print(const std::string& destination, double seconds) const;
};

void Summary::Add(CVolume& volume, const std::string& title, const Selection& selection,
                  const std::vector<RecoveryOutcome>& outcomes) {
  const CFoundObjectTree& catalog = volume.Catalog();
  auto pathOf = [&](const CFoundObject* o) {
    std::string path = o ? catalog.GetFullPath(o) + o->Name : std::string("?");
    return TerminalSafe(title.empty() ? path : title + ":" + path);
  };
  selected += selection.files.size();
  reached += outcomes.size();
  for (const RecoveryOutcome& o : outcomes) {
    writtenBytes += o.Bytes;
    if (o.NameTaken && !o.Path.empty()) renamed.push_back(pathOf(o.Object) + " -> " + TerminalSafe(o.Path));
    if (o.Result == RecoveryOutcome::Recovered && o.Object && (o.Object->Flags & FOF_ENCRYPTED)) {
      ++encrypted;
    } else if (o.Result == RecoveryOutcome::Recovered) {
      ++recovered;
      recoveredBytes += o.Bytes;
      if (o.Object && (o.Object->Flags & FOF_CUT)) ++lostCut;
      if (o.UnreadableBytes != 0) unreadable.push_back(pathOf(o.Object) + " -> " + TerminalSafe(o.Path) + ": " + o.Reason);
      if (o.Object && (o.Object->Flags & FOF_SIGNATURE))
        ++lost;
      else if (o.Object && o.Object->IsDeleted())
        ++deleted;
      else
        ++live;
    } else if (o.Result == RecoveryOutcome::Skipped) {
      ++skipped[o.Reason];
    } else if (o.Bytes != 0 && !o.Path.empty()) {
      cut.push_back(pathOf(o.Object) + " -> " + TerminalSafe(o.Path) + " (" + HumanBytes(o.Bytes) + " of " +
                    (o.Object ? HumanBytes(o.Object->Size) : std::string("?")) + ")");
    } else {
      failed.push_back(pathOf(o.Object) + ": " + o.Reason);
    }
  }
  for (const CFoundObject* o : selection.metadata) {
    if (metadata++ < 4) metadataNames += (metadataNames.empty() ? "" : ", ") + TerminalSafe(o->Name);
    else if (metadata == 5) metadataNames += ", ...";
  }
}

// Up to 20 lines of a list, then how many more there are.
void PrintSome(const char* heading, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  std::printf(heading, lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == 20) {
      std::printf("  ... and %zu more\n", lines.size() - 20);
      break;
    }
    std::printf("  %s\n", lines[i].c_str());
  }
}

void Summary::Print(const std::string& destination, double seconds) const {
  std::printf("Recovered %d file(s) (%d live, %d deleted, %d lost), %s, into %s in %.1f seconds.\n", recovered, live,
              deleted, lost, HumanBytes(recoveredBytes).c_str(), TerminalSafe(destination).c_str(), seconds);
  if (encrypted)
    std::printf("%d encrypted file(s) NOT decrypted: saved as their encrypted bytes under names ending in \"%s\"; "
                "they can only be read with their owner's key.\n",
                encrypted, kEncryptedSuffix);
  if (lostCut)
    std::printf("%d lost file(s) possibly incomplete: cut where their content turns into another file's.\n", lostCut);
  if (reached < selected || !cut.empty()) {
    std::printf("Stopped before the end: %s written in all; %zu of %zu selected file(s) not reached.\n",
                HumanBytes(writtenBytes).c_str(), selected - reached, selected);
  }
  PrintSome("Left incomplete (%zu), kept under a name that says so:\n", cut);
  PrintSome("Recovered with unreadable sectors, written as zeros (%zu):\n", unreadable);
  PrintSome("Written under another name, the name being taken (%zu):\n", renamed);
  int skippedTotal = 0;
  for (const auto& [reason, count] : skipped) skippedTotal += count;
  if (skippedTotal) {
    std::printf("Skipped %d file(s):\n", skippedTotal);
    for (const auto& [reason, count] : skipped) {
      std::string hint = reason == "lost file: no size chosen" ? " (give --lost-size to recover them)" : "";
      std::printf("  %d %s%s\n", count, reason.c_str(), hint.c_str());
    }
  }
  if (metadata != 0) {
    std::printf("Left out %zu NTFS system file(s) (%s): the file system's own records, not user files.\n", metadata,
                metadataNames.c_str());
  }
  PrintSome("Failed %zu file(s):\n", failed);
}

int RunRecover(const std::vector<std::string>& args) {
  CommandLine line;
  if (!ParseCommandLine("recover", kUsage, args, {"--scan", "--deleted-only", "--allow-same-drive"},
                        {"--to", "--name", "--under", "--lost-size", "--partition"}, line))
    return EXIT_USAGE;
  RecoverOptions options;
  options.source = line.source;
  options.scan = line.Has("--scan");
  options.deletedOnly = line.Has("--deleted-only");
  options.allowSameDrive = line.Has("--allow-same-drive");
  auto text = [&](const char* name) { return line.Value(name) ? *line.Value(name) : std::string(); };
  options.to = text("--to");
  options.name = text("--name");
  options.under = text("--under");
  options.lostSize = line.Value("--lost-size");
  if (options.to.empty()) return Usage("no destination folder given (--to DIR)");
  ProbableSizeAnswer sizeAnswer;
  if (options.lostSize && !ParseLostSizeOption(*options.lostSize, sizeAnswer))
    return Usage("--lost-size takes default, next, next-same or a size in KB, not " + Quoted(*options.lostSize));
  if (options.lostSize && !options.scan)
    return Usage("--lost-size applies to lost files, which only --scan finds: give --scan too");

  std::error_code ec;
  std::string destination = std::filesystem::absolute(options.to, ec).lexically_normal().string();
  if (ec || destination.empty()) destination = options.to;
  if (destination.size() > 1 && destination.back() == '/') destination.pop_back();

  CVolume* volume = StartAndOpenSource(options.source);
  if (!volume) return EXIT_FAILED;
  if (IsDestinationOnSourceDrive(*volume, destination)) {
    if (!options.allowSameDrive) {
      return ReportError("the destination folder " + Quoted(destination) + " is on the same drive as " +
                         Quoted(options.source) +
                         ".\nWriting there can overwrite the very data being recovered. Choose a folder on "
                         "another\ndrive, or give --allow-same-drive to go on anyway.");
    }
    ReportWarning("the destination folder is on the same drive as the source");
  }
  if (std::string problem = DestinationProblem(destination); !problem.empty())
    return ReportError("cannot recover into " + Quoted(destination) + ": " + TerminalSafe(problem));

  std::vector<SourcePart> parts;
  if (!SelectWorkVolumes(volume, line, parts)) return EXIT_USAGE;

  const auto started = std::chrono::steady_clock::now();
  Summary summary;
  bool anyFileSystem = false;
  CRecovery& recovery = theComputer().Recovery();
  CFixedSizeAnswer fixed(sizeAnswer);
  for (const SourcePart& part : parts) {
    // Each volume of a whole disk is recovered into a folder of its own.
    CVolume* partVolume = part.volume;
    bool analysed = options.scan ? RunFullAnalysis(partVolume) : RunFileSystemAnalysis(partVolume);
    ResetInterrupt();
    if (!analysed) ReportNote("analysis stopped: recovering what was found so far");
    anyFileSystem = anyFileSystem || partVolume->FileSystem().RootObjectID() >= 0;

    const Selection selection = SelectFiles(*partVolume, options);
    recovery.SizeDialog = options.lostSize ? &fixed : nullptr;
    recovery.Destination = part.title.empty() ? destination : destination + "/" + part.title;
    recovery.SourceVolume = partVolume;
    InstallInterruptHandler();
    const bool ran = !selection.files.empty() && recovery.StartRecovery(selection.files, false);
    if (ran) RunWithProgress(recovery);
    recovery.SizeDialog = nullptr;
    summary.Add(*partVolume, part.title, selection, ran ? recovery.Outcomes() : std::vector<RecoveryOutcome>());
    if (InterruptRequested()) break;
  }
  if (!anyFileSystem && summary.selected == 0) {
    return ReportError("no file system found on " + Quoted(options.source) +
                       (options.scan ? " and the sector scan found no lost file"
                                     : " (give --scan to look for lost files by their signatures)"));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  summary.Print(destination, seconds);
  if (summary.selected == 0) return ReportNothingFound("no file matched the selection");
  return summary.recovered > 0 && summary.failed.empty() && summary.cut.empty() &&
                 summary.reached == summary.selected
             ? EXIT_OK
             : EXIT_FAILED;
}

constexpr const char* kHelpText =
    R"(Reads the file system of SOURCE, selects files and writes each below DIR
with its folder path. Nothing is overwritten: when a name is taken the file
is written as "name (2).ext" and the summary says so. A file that could not
be written whole (Ctrl-C, a read error) is kept as "name (incomplete).ext".
DIR must be on another drive than SOURCE (see --allow-same-drive); it is
created when missing and checked before anything is read.

Options:
  --to DIR            the destination folder (required)
  --scan              also scan every sector for lost files and recover them
                      into "Lost files/<group>/" (see --lost-size)
  --deleted-only      deleted files only
  --name PATTERN      files whose name matches PATTERN ("*" any run, "?" one
                      character, case ignored for every alphabet)
  --under PATH        files below the folder PATH of the source ("/Pictures")
  --lost-size SIZE    how much to write for a lost file, whose size is not
                      known: "default" (the type's default size), "next" (up
                      to the next file found on the volume), "next-same" (up
                      to the next file of the same type), or a number of KB.
                      Without it lost files are skipped. Only with --scan.
  --allow-same-drive  recover onto the drive being read all the same (this
                      can overwrite the data being recovered)

NTFS system files ($MFT, $Bitmap, ...) are never recovered; the summary says
how many were left out.
  --partition N       only partition N of a whole disk, as `quillmore-cli
                      partitions` numbers them; without it every volume of a
                      whole disk is recovered, each into DIR/Partition N (...)/

Exit status: 0 files recovered and none failed or was cut short; 1 a file
failed or was cut short, nothing was recovered, no file system was found, or
an error; 2 bad usage.
)";

CliCommandRegistrar registrar({"recover", kUsage,
                               "recover live and deleted files (and with --scan lost files) into a folder", RunRecover, kHelpText});

}  // namespace
}  // namespace qmcli
