// quillmore-cli scan SOURCE: the sector scan for lost files alone.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/arguments.h"
#include "cli/catalog_output.h"
#include "cli/command.h"
#include "cli/partition_list.h"
#include "cli/progress.h"
#include "cli/report.h"
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
      ReportNote("stopping... (what was found so far is kept)");
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

  FoundObjectOutput out(json);
  bool complete = true;
  for (const SourcePart& part : parts) {
    CVolume* volume = part.volume;
    if (!RunSectorScan(volume)) complete = false;
    const CFoundObjectTree& catalog = volume->Catalog();
    std::vector<CFoundObject*> objects = catalog.CopyObjects();
    std::erase_if(objects, [](const CFoundObject* o) { return !(o->Flags & FOF_SIGNATURE); });
    out.Add(catalog, objects, part.title.empty() ? line.source : part.title, part.title);
    if (!complete) break;
  }
  out.Finish("lost file(s) found.");
  if (!complete) {
    ReportNote("scan stopped before the end: " + std::to_string(out.Count()) + " lost file(s) found so far");
    return EXIT_FAILED;
  }
  if (out.Count() == 0) return ReportNothingFound("no lost file found");
  return EXIT_OK;
}

constexpr const char* kHelpText =
    R"(Scans every sector of SOURCE for the start of a file of a known type (see
"quillmore-cli types") without reading the file system, and lists the lost
files found, named after their type and the byte offset where they start
("Jpeg_677376.jpg"). Their size is not known. Ctrl-C stops the scan and lists
what was found so far.

Options:
  --json    print a JSON array, one object per lost file
  --partition N  only partition N of a whole disk, as `quillmore-cli
            partitions` numbers them (without it, every volume in turn)

Exit status: 0 lost files found; 1 none found, the scan was stopped, or an
error; 2 bad usage.
)";

CliCommandRegistrar registrar({"scan", kScanUsage,
                               "scan every sector for lost files of known types (no file-system analysis)", RunScan, kHelpText});

}  // namespace
}  // namespace qmcli
