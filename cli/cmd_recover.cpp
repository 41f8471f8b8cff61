// quillmore-cli recover SOURCE --to DIR: analyses the source, selects files
// and recovers them into DIR with their folder paths.

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
#include "cli/scan_run.h"
#include "cli/source.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/catalog/search.h"
#include "engine/filesystems/file_system.h"
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
  std::string lostSize;
  bool allowSameDrive = false;
};

int Usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "quillmore-cli recover: %s\n", why.c_str());
  std::fprintf(stderr, "Usage: quillmore-cli %s\n", kUsage);
  return EXIT_USAGE;
}

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

std::vector<CFoundObject*> SelectFiles(CVolume& volume, const RecoverOptions& options) {
  const CFoundObjectTree& catalog = volume.Catalog();
  const std::string under = Trim(options.under);
  std::vector<CFoundObject*> out;
  for (CFoundObject* o : catalog.CopyObjects()) {
    if (!o || o == &volume || o->IsFolder()) continue;
    if (o->Flags & (FOF_FOUND_VOLUME | FOF_LOST_FOLDER)) continue;
    if ((o->Flags & FOF_SIGNATURE) && !options.scan) continue;
    if (options.deletedOnly && !o->IsDeleted()) continue;
    if (IsFileSystemMetadata(volume, *o)) continue;
    if (!options.name.empty() && !WildcardMatch(options.name, o->Name, true)) continue;
    if (!under.empty()) {
      std::string path = Trim(catalog.GetFullPath(o) + o->Name);
      if (path != under && path.rfind(under + "/", 0) != 0) continue;
    }
    out.push_back(o);
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
      std::fprintf(stderr, "Stopping after the current piece of the current file...\n");
      recovery.Stop();
    }
    if (!stopped) {
      size_t index = static_cast<size_t>(recovery.CurrentIndex());
      const auto& list = recovery.List();
      std::string label = index < list.size() ? list[index]->Name : std::string();
      bar.Update(recovery.BytesWritten(), recovery.TotalBytes(), recovery.BytesWritten(), label);
    }
    // Short naps, so the end of the recovery is seen at once; the bar
    // redraws only a few times a second by itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  recovery.Wait();
  bar.Finish();
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
  options.lostSize = text("--lost-size");
  if (options.to.empty()) return Usage("no destination folder given (--to DIR)");
  ProbableSizeAnswer sizeAnswer;
  if (!options.lostSize.empty() && !ParseLostSizeOption(options.lostSize, sizeAnswer))
    return Usage("--lost-size takes default, next, next-same or a size in KB, not '" + options.lostSize + "'");

  std::error_code ec;
  std::string destination = std::filesystem::absolute(options.to, ec).lexically_normal().string();
  if (ec || destination.empty()) destination = options.to;
  if (destination.size() > 1 && destination.back() == '/') destination.pop_back();

  CVolume* volume = StartAndOpenSource(options.source);
  if (!volume) return EXIT_FAILED;
  if (IsDestinationOnSourceDrive(*volume, destination)) {
    if (!options.allowSameDrive) {
      std::fprintf(stderr,
                   "quillmore-cli recover: the destination folder %s is on the same drive as %s.\n"
                   "Writing there can overwrite the very data being recovered. Choose a folder on another\n"
                   "drive, or give --allow-same-drive to go on anyway.\n",
                   destination.c_str(), options.source.c_str());
      return EXIT_FAILED;
    }
    std::fprintf(stderr, "Warning: the destination folder is on the same drive as the source.\n");
  }

  std::vector<SourcePart> parts;
  if (!SelectWorkVolumes(volume, line, parts)) return EXIT_USAGE;

  const auto started = std::chrono::steady_clock::now();
  int recovered = 0, live = 0, deleted = 0, lost = 0, cut = 0, encrypted = 0;
  uint64_t bytes = 0;
  size_t selected = 0;
  std::map<std::string, int> skipped;
  std::vector<std::string> failed;  // "path: reason"
  CRecovery& recovery = theComputer().Recovery();
  CFixedSizeAnswer fixed(sizeAnswer);
  for (const SourcePart& part : parts) {
    // Each volume of a whole disk is recovered into a folder of its own.
    CVolume* partVolume = part.volume;
    bool analysed = options.scan ? RunFullAnalysis(partVolume) : RunFileSystemAnalysis(partVolume);
    ResetInterrupt();
    if (!analysed) std::fprintf(stderr, "Analysis stopped: recovering what was found so far.\n");

    std::vector<CFoundObject*> selection = SelectFiles(*partVolume, options);
    selected += selection.size();
    recovery.SizeDialog = options.lostSize.empty() ? nullptr : &fixed;
    recovery.Destination = part.title.empty() ? destination : destination + "/" + part.title;
    recovery.SourceVolume = partVolume;
    InstallInterruptHandler();
    if (!selection.empty() && recovery.StartRecovery(selection, false)) RunWithProgress(recovery);
    recovery.SizeDialog = nullptr;

    for (const RecoveryOutcome& o : recovery.Outcomes()) {
      if (o.Result == RecoveryOutcome::Recovered && o.Object && (o.Object->Flags & FOF_ENCRYPTED)) {
        // Not a success: the bytes written are still encrypted.
        ++encrypted;
        bytes += o.Bytes;
      } else if (o.Result == RecoveryOutcome::Recovered) {
        ++recovered;
        bytes += o.Bytes;
        if (o.Object && (o.Object->Flags & FOF_CUT)) ++cut;
        if (o.Object && (o.Object->Flags & FOF_SIGNATURE))
          ++lost;
        else if (o.Object && o.Object->IsDeleted())
          ++deleted;
        else
          ++live;
      } else if (o.Result == RecoveryOutcome::Skipped) {
        ++skipped[o.Reason];
      } else {
        std::string name =
            o.Object ? partVolume->Catalog().GetFullPath(o.Object) + o.Object->Name : std::string();
        if (!part.title.empty()) name = part.title + ":" + name;
        failed.push_back(name + ": " + o.Reason);
      }
    }
    if (InterruptRequested()) break;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  int skippedTotal = 0;
  for (const auto& [reason, count] : skipped) skippedTotal += count;

  std::printf("Recovered %d file(s) (%d live, %d deleted, %d lost), %s, into %s in %.1f seconds.\n", recovered,
              live, deleted, lost, HumanBytes(bytes).c_str(), destination.c_str(), seconds);
  if (encrypted)
    std::printf("%d encrypted file(s) NOT decrypted: saved as their encrypted bytes under names ending in \"%s\"; "
                "they can only be read with their owner's key.\n",
                encrypted, kEncryptedSuffix);
  if (cut)
    std::printf("%d lost file(s) possibly incomplete: cut where their content turns into another file's.\n", cut);
  if (selected == 0) std::printf("No file matched the selection.\n");
  if (skippedTotal) {
    std::printf("Skipped %d file(s):\n", skippedTotal);
    for (const auto& [reason, count] : skipped) {
      std::string hint = reason == "lost file: no size chosen" ? " (give --lost-size to recover them)" : "";
      std::printf("  %d %s%s\n", count, reason.c_str(), hint.c_str());
    }
  }
  if (!failed.empty()) {
    std::printf("Failed %zu file(s):\n", failed.size());
    size_t shown = 0;
    for (const std::string& line : failed) {
      if (++shown > 20) {
        std::printf("  ... and %zu more\n", failed.size() - 20);
        break;
      }
      std::printf("  %s\n", line.c_str());
    }
  }
  return recovered > 0 && failed.empty() ? EXIT_OK : EXIT_FAILED;
}

CliCommandRegistrar registrar({"recover", kUsage,
                               "recover live and deleted files (and with --scan lost files) into a folder", RunRecover});

}  // namespace
}  // namespace qmcli
