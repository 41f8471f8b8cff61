// quillmore-cli list SOURCE: the file-system phase of an analysis, and the
// catalog it fills, as a folder tree or as JSON.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/catalog_output.h"
#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/partition_list.h"
#include "cli/scan_run.h"
#include "cli/source.h"
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
    std::printf("%s/\n", title.c_str());
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
      if (o->IsFolder()) {
        std::printf("%s%s/%s%s%s\n", indent.c_str(), o->Name.c_str(), when.empty() ? "" : "  ", when.c_str(),
                    mark.c_str());
        // A folder is opened once: damaged file systems can name a folder's
        // ancestors inside it.
        if (expanded_.insert(o->ObjectID).second) PrintChildren(o->ObjectID, depth + 1);
      } else {
        std::printf("%s%s  %s%s%s%s\n", indent.c_str(), o->Name.c_str(), FormatSizeColumn(*o).c_str(),
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
  std::optional<JsonArrayPrinter> out;
  if (options.json) out.emplace();
  int listed = 0;
  for (const SourcePart& part : parts) {
    CVolume* volume = part.volume;
    const std::string name = part.title.empty() ? options.source : part.title;
    if (!options.json && !part.title.empty()) std::printf("== %s ==\n", part.title.c_str());
    if (options.scan) {
      // Ctrl-C stops the analysis; what was found so far is listed.
      if (!RunFullAnalysis(volume)) std::fprintf(stderr, "Analysis stopped before the end.\n");
    }
    if (options.scan ? volume->FileSystem().RootObjectID() < 0 && volume->ScanFilesFound.load() == 0
                     : !RunFileSystemPhase(volume)) {
      std::fprintf(stderr, "quillmore-cli: no file system detected on '%s'\n", name.c_str());
      continue;
    }
    ++listed;
    CFoundObjectTree& catalog = volume->Catalog();
    if (options.json) {
      for (const CFoundObject* o : catalog.CopyObjects()) {
        if (!Listable(volume, o)) continue;
        if (options.deletedOnly && !o->IsDeleted()) continue;
        nlohmann::json j = FoundObjectToJson(catalog, *o);
        TagWithVolume(j, part);
        out->Add(j);
      }
    } else {
      TreePrinter printer(volume, options.deletedOnly);
      printer.Print(catalog.Root(), catalog.Root().Name);
      printer.Print(catalog.LostFragments(), catalog.LostFragments().Name);
      if (options.scan) printer.Print(catalog.LostFiles(), catalog.LostFiles().Name);
      std::printf("%u folder(s), %u file(s)\n", volume->FoldersFound.load(), volume->FilesFound.load());
      if (options.scan) std::printf("%u lost file(s)\n", volume->ScanFilesFound.load());
    }
  }
  return listed > 0 ? EXIT_OK : EXIT_FAILED;
}

CliCommandRegistrar registrar({"list", kListUsage,
                               "list the live and deleted files and folders of the file system", RunList});

}  // namespace
}  // namespace qmcli
