// quillmore-cli scan SOURCE: the sector scan for lost files alone.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/catalog_output.h"
#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/partition_list.h"
#include "cli/progress.h"
#include "cli/scan_run.h"
#include "cli/source.h"
#include "engine/analysis/analysis_driver.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/analyser.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"

namespace qmcli {

namespace {

// Waits for the volume's analysis thread, drawing the bar; the first Ctrl-C
// asks the engine to stop and the wait goes on until the analysis has ended.
bool WaitWithProgress(CVolume* volume) {
  CProgressBar bar;
  bool stopped = false;
  while (!WaitForAnalysis(volume, 100)) {
    if (InterruptRequested() && !stopped) {
      stopped = true;
      theApp().Settings.AnalyseOnReady = 0;
      bar.Finish();
      std::fprintf(stderr, "Stopping... (what was found so far is kept)\n");
      theComputer().StopAnalysis(volume, 1);
      continue;
    }
    if (stopped) continue;
    int32_t state = volume->State.load();
    if (state == StateScanningSectors) {
      uint64_t done = volume->Position();
      bar.Update(done, volume->TotalSectors, done * 512, "Scanning sectors");
    } else if (state == StateAnalysingFileSystem) {
      uint64_t end = volume->EndPosition();
      bar.Update(end ? volume->Position() : 0, end, 0, "Reading the file system");
    }
  }
  bar.Finish();
  return !stopped;
}

}  // namespace

namespace {
// The start-up loads the signature database; a start-up without it would
// make every scan come back empty.
void EnsureSignatures() {
  if (theComputer().Signatures().Types().empty()) LoadSignatureDatabase();
}
}  // namespace

bool RunFileSystemAnalysis(CVolume* volume) {
  InstallInterruptHandler();
  theApp().Settings.AnalyseOnReady = 0;
  theComputer().StartAnalysis(volume);
  return WaitWithProgress(volume);
}

bool RunFullAnalysis(CVolume* volume) {
  EnsureSignatures();
  InstallInterruptHandler();
  theApp().Settings.AnalyseOnReady = 1;
  theComputer().StartAnalysis(volume);
  return WaitWithProgress(volume);
}

bool RunSectorScan(CVolume* volume) {
  EnsureSignatures();
  InstallInterruptHandler();
  volume->StartScanThread(0);
  return WaitWithProgress(volume);
}

bool RunVolumeSearch(CVolume* volume) {
  EnsureSignatures();
  InstallInterruptHandler();
  theComputer().StartScan(volume);
  return WaitWithProgress(volume);
}

namespace {

constexpr const char* kScanUsage = "scan SOURCE [--partition N] [--json]";

int RunScan(const std::vector<std::string>& args) {
  CommandLine line;
  if (!ParseCommandLine("scan", kScanUsage, args, {"--json"}, {"--partition"}, line)) return EXIT_USAGE;
  const bool json = line.Has("--json");
  // From here on Ctrl-C asks for a clean stop.
  InstallInterruptHandler();
  CVolume* source = StartAndOpenSource(line.source);
  if (!source) return EXIT_FAILED;
  std::vector<SourcePart> parts;
  if (!SelectWorkVolumes(source, line, parts)) return EXIT_USAGE;

  std::optional<JsonArrayPrinter> out;
  if (json) out.emplace();
  size_t files = 0;
  bool complete = true;
  for (const SourcePart& part : parts) {
    CVolume* volume = part.volume;
    if (!RunSectorScan(volume)) complete = false;
    const CFoundObjectTree& catalog = volume->Catalog();
    if (!json) {
      if (!part.title.empty()) std::printf("== %s ==\n", part.title.c_str());
      std::printf("%s\n", FoundObjectTableHeader().c_str());
    }
    for (const CFoundObject* o : catalog.CopyObjects()) {
      if (!(o->Flags & FOF_SIGNATURE)) continue;
      ++files;
      if (json) {
        nlohmann::json j = FoundObjectToJson(catalog, *o);
        TagWithVolume(j, part);
        out->Add(j);
      } else {
        std::printf("%s\n", FoundObjectTableRow(catalog, *o).c_str());
      }
    }
    if (!complete) break;
  }
  if (!complete) std::fprintf(stderr, "Scan stopped before the end: %zu lost file(s) found so far.\n", files);
  return complete ? EXIT_OK : EXIT_FAILED;
}

CliCommandRegistrar registrar({"scan", kScanUsage,
                               "scan every sector for lost files of known types (no file-system analysis)", RunScan});

}  // namespace
}  // namespace qmcli
