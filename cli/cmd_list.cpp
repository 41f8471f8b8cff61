// quillmore-cli list SOURCE: the file-system phase of an analysis, and the
// catalog it fills, as a folder tree or as JSON.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/arguments.h"
#include "cli/catalog_output.h"
#include "cli/command.h"
#include "cli/json_output.h"
#include "cli/partition_list.h"
#include "cli/report.h"
#include "cli/scan_run.h"
#include "cli/source.h"
#include "cli/terminal_text.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/volume/volume.h"

namespace qmcli {
namespace {

constexpr const char* kListUsage = "list SOURCE [--deleted-only] [--scan] [--partition N] [--json]";

struct ListOptions {
  std::string source;
  bool deletedOnly = false;
  bool json = false;
  bool scan = false;  // full analysis: file system, then the sector scan
};

// The objects to show: every catalog object but the volume's own record and
// the root folder that stands for the file system.
bool Listable(CVolume* volume, const CFoundObject* o) {
  return o != volume && o != &volume->Catalog().Root();
}

class TreePrinter {
public:
  TreePrinter(CVolume* volume, bool deletedOnly) : volume_(volume), catalog_(volume->Catalog()), deletedOnly_(deletedOnly) {
    if (deletedOnly_) MarkDeletedAncestors();
  }

  void Print(const CFoundObject& top, const std::string& title) {
    std::vector<CFoundObject*> children;
    catalog_.GetChildren(top.ObjectID, children);
    if (children.empty()) return;
    std::printf("%s/\n", TerminalSafe(title).c_str());
    expanded_.insert(top.ObjectID);
    PrintChildren(top.ObjectID, 1);
  }

private:
  void MarkDeletedAncestors() {
    for (const CFoundObject* o : catalog_.CopyObjects()) {
      if (!Listable(volume_, o) || !o->IsDeleted()) continue;
      std::set<int64_t> seen;
      int64_t parent = o->ParentID;
      while (seen.insert(parent).second) {
        leadsToDeleted_.insert(parent);
        int64_t cursor = -1;
        const CFoundObject* p = nullptr;
        while ((p = catalog_.FindByID(parent, cursor)) && !p->IsFolder()) {
        }
        if (!p) break;
        parent = p->ParentID;
      }
    }
  }

  bool Shown(const CFoundObject* o) const {
    if (!deletedOnly_) return true;
    return o->IsDeleted() || (o->IsFolder() && leadsToDeleted_.count(o->ObjectID));
  }

public:
  // What was listed: the totals speak of these, not of the whole volume
  // (with --deleted-only, of the deleted objects alone).
  size_t folders = 0, files = 0;

private:

  void PrintChildren(int64_t id, int depth) {
    std::vector<CFoundObject*> children;
    catalog_.GetChildren(id, children);
    std::stable_sort(children.begin(), children.end(), [](const CFoundObject* a, const CFoundObject* b) {
      if (a->IsFolder() != b->IsFolder()) return a->IsFolder();
      return a->Name < b->Name;
    });
    for (const CFoundObject* o : children) {
      if (!Listable(volume_, o) || !Shown(o)) continue;
      const std::string indent(static_cast<size_t>(depth) * 2, ' ');
      std::string mark = o->IsDeleted() ? "  [deleted]" : "";
      if (o->Flags & FOF_ENCRYPTED) mark += "  [encrypted: recovered as its encrypted bytes]";
      const std::string when = FileTimeToShort(o->ModificationTime);
      const std::string name = TerminalSafe(o->Name);
      if (!deletedOnly_ || o->IsDeleted()) ++(o->IsFolder() ? folders : files);
      if (o->IsFolder()) {
        std::printf("%s%s/%s%s%s\n", indent.c_str(), name.c_str(), when.empty() ? "" : "  ", when.c_str(),
                    mark.c_str());
        // A folder is opened once: damaged file systems can name a folder's
        // ancestors inside it.
        if (expanded_.insert(o->ObjectID).second) PrintChildren(o->ObjectID, depth + 1);
      } else {
        std::printf("%s%s  %s%s%s%s\n", indent.c_str(), name.c_str(), FormatSizeColumn(*o).c_str(),
                    when.empty() ? "" : "  ", when.c_str(), mark.c_str());
      }
    }
  }

  CVolume* volume_;
  CFoundObjectTree& catalog_;
  bool deletedOnly_;
  std::set<int64_t> leadsToDeleted_;
  std::set<int64_t> expanded_;
};

// Runs the file-system phase on the calling thread; false when no file
// system was recognised.
bool RunFileSystemPhase(CVolume* volume) {
  volume->Analyse_Boot();
  volume->AnalyseFileSystem();
  return volume->FileSystem().RootObjectID() >= 0;
}

int RunList(const std::vector<std::string>& args) {
  CommandLine line;
  if (!ParseCommandLine("list", kListUsage, args, {"--json", "--scan", "--deleted-only"}, {"--partition"}, line))
    return EXIT_USAGE;
  ListOptions options;
  options.source = line.source;
  options.json = line.Has("--json");
  options.scan = line.Has("--scan");
  options.deletedOnly = line.Has("--deleted-only");
  CVolume* source = StartAndOpenSource(options.source);
  if (!source) return EXIT_FAILED;
  std::vector<SourcePart> parts;
  if (!SelectWorkVolumes(source, line, parts)) return EXIT_USAGE;

  // One array for every volume of a whole disk, each object naming its volume.
  std::optional<JsonArrayPrinter> out;  // opened at the first volume listed
  int listed = 0;
  size_t shown = 0;
  for (const SourcePart& part : parts) {
    CVolume* volume = part.volume;
    const std::string name = part.title.empty() ? options.source : part.title;
    if (!options.json && !part.title.empty()) std::printf("== %s ==\n", TerminalSafe(part.title).c_str());
    if (options.scan) {
      // Ctrl-C stops the analysis; what was found so far is listed.
      if (!RunFullAnalysis(volume)) ReportNote("analysis stopped before the end: listing what was found so far");
    }
    if (options.scan ? volume->FileSystem().RootObjectID() < 0 && volume->ScanFilesFound.load() == 0
                     : !RunFileSystemPhase(volume)) {
      if (parts.size() == 1) return ReportError("no file system found on " + Quoted(name));
      ReportNote("no file system found on " + Quoted(name));
      continue;
    }
    ++listed;
    CFoundObjectTree& catalog = volume->Catalog();
    if (options.json) {
      if (!out) out.emplace();
      FoundObjectJson toJson(catalog, name);
      for (const CFoundObject* o : catalog.CopyObjects()) {
        if (!Listable(volume, o)) continue;
        if (options.deletedOnly && !o->IsDeleted()) continue;
        out->AddText(toJson(*o));
        ++shown;
      }
    } else {
      TreePrinter printer(volume, options.deletedOnly);
      printer.Print(catalog.Root(), catalog.Root().Name);
      printer.Print(catalog.LostFragments(), catalog.LostFragments().Name);
      if (options.scan) printer.Print(catalog.LostFiles(), catalog.LostFiles().Name);
      // The totals count what was listed (with --deleted-only, the deleted
      // objects alone), not the whole volume.
      const char* deleted = options.deletedOnly ? "deleted " : "";
      std::printf("%zu %sfolder(s), %zu %sfile(s)\n", printer.folders, deleted, printer.files, deleted);
      if (options.scan) std::printf("%u lost file(s)\n", volume->ScanFilesFound.load());
      shown += printer.folders + printer.files;
    }
  }
  if (out) out->Finish();
  if (listed == 0) return ReportError("no file system found on " + Quoted(options.source));
  if (shown == 0)
    return ReportNothingFound(options.deletedOnly ? "no deleted file or folder found" : "no file or folder found");
  return EXIT_OK;
}

constexpr const char* kHelpText =
    R"(Reads the file system of SOURCE and lists its live and deleted files and
folders as a tree: each file with its size in bytes and modification time
(UTC), deleted objects marked "[deleted]". The last line counts what was
listed. Names are shown escaped where they hold control characters
("\n", "\e", "\x01") so that a crafted disk cannot drive the terminal.

Options:
  --deleted-only  only deleted files and folders (and the folders that lead
                  to them); the totals count the deleted objects
  --scan          also scan every sector for lost files (files no directory
                  entry names any more, found by their signatures); they are
                  listed under "Lost files/<group>/"
  --json          print a JSON array, one object per file or folder (the
                  fields are described in the README and the manual page)
  --partition N   only partition N of a whole disk, as `quillmore-cli
                  partitions` numbers them (without it, every volume in turn)

Exit status: 0 listed; 1 no file system found, or nothing to list;
2 bad usage.
)";

CliCommandRegistrar registrar({"list", kListUsage,
                               "list the live and deleted files and folders of the file system", RunList, kHelpText});

}  // namespace
}  // namespace qmcli
