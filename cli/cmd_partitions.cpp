// quillmore-cli partitions SOURCE: the volumes the partition tables of a
// source name, and with --search those the volume search adds.
#include <cstdio>
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
#include "engine/catalog/found_object.h"
#include "engine/volume/volume.h"

namespace qmcli {
namespace {

constexpr const char* kUsage = "partitions SOURCE [--search] [--json]";

std::string TableText(const CVolume* v) {
  std::string text = PartitionSchemeText(v->Origin.Scheme);
  if (v->Origin.FromBackupBoot) text += " (backup boot sector)";
  return text;
}

int RunPartitions(const std::vector<std::string>& args) {
  CommandLine line;
  if (!ParseCommandLine("partitions", kUsage, args, {"--json", "--search"}, {}, line)) return EXIT_USAGE;
  const bool json = line.Has("--json");
  CVolume* source = StartAndOpenSource(line.source);
  if (!source) return EXIT_FAILED;
  // Opening the source walked its tables; the search adds what they miss.
  bool complete = true;
  if (line.Has("--search")) complete = RunVolumeSearch(source);

  const std::vector<SourcePart> parts = SourcePartitions(source);
  if (json) {
    JsonArrayPrinter out;
    for (const SourcePart& p : parts) {
      CVolume* v = p.volume;
      nlohmann::json j;
      j["index"] = p.index;
      j["volume"] = p.title;
      j["start_sector"] = v->VolumeStartOffset / 512;
      j["offset"] = v->VolumeStartOffset;
      j["sectors"] = v->TotalSectors;
      j["size"] = v->Size;
      j["table"] = PartitionSchemeText(v->Origin.Scheme);
      j["mbr_type"] = v->Origin.MbrType;
      j["type_guid"] = v->Origin.TypeGuid.empty() ? nlohmann::json(nullptr) : nlohmann::json(v->Origin.TypeGuid);
      j["name"] = v->Origin.Name.empty() ? nlohmann::json(nullptr) : nlohmann::json(v->Origin.Name);
      const std::string fs = VolumeFileSystemText(v), label = VolumeLabelText(v);
      j["file_system"] = fs == "-" ? nlohmann::json(nullptr) : nlohmann::json(fs);
      j["label"] = label.empty() ? nlohmann::json(nullptr) : nlohmann::json(label);
      j["backup_boot_sector"] = v->Origin.FromBackupBoot;
      j["confirmed"] = (v->Flags & FOF_CONFIRMED) != 0;
      out.Add(j);
    }
  } else if (!parts.empty()) {
    std::printf("%-5s %12s %14s %14s  %-40s %-6s %s\n", "Index", "Start sector", "Byte offset", "Size (bytes)",
                "Table", "FS", "Label");
    for (const SourcePart& p : parts) {
      CVolume* v = p.volume;
      std::string table = TableText(v);
      if (v->Origin.Scheme == PartitionScheme::Gpt) {
        table += " " + v->Origin.TypeGuid;
      } else if (v->Origin.MbrType != 0) {
        char type[16];
        std::snprintf(type, sizeof type, " 0x%02X", v->Origin.MbrType);
        table += type;
      }
      std::printf("%-5u %12llu %14llu %14llu  %s %-6s %s\n", p.index,
                  static_cast<unsigned long long>(v->VolumeStartOffset / 512),
                  static_cast<unsigned long long>(v->VolumeStartOffset), static_cast<unsigned long long>(v->Size),
                  PadRight(TerminalSafe(table), 40).c_str(), VolumeFileSystemText(v).c_str(),
                  TerminalSafe(VolumeLabelText(v)).c_str());
    }
  }
  if (!complete) {
    ReportNote("search stopped before the end");
    return EXIT_FAILED;
  }
  if (parts.empty()) return ReportNothingFound("no partitions found on " + Quoted(line.source));
  return EXIT_OK;
}

constexpr const char* kHelpText =
    R"(Lists the volumes that the partition tables of SOURCE (a whole disk or a
disk image) name: MBR primary and logical partitions and GPT entries, each
with the number the other commands take as --partition N, its start sector,
byte offset, size, table and type, file system and label.

Options:
  --search   also scan the disk for the boot sectors of lost partitions
             (deleted or overwritten tables); each one found is added
  --json     print a JSON array, one object per volume: index, volume,
             start_sector, offset, sectors, size, table, mbr_type,
             type_guid, name, file_system, label, backup_boot_sector,
             confirmed

Exit status: 0 volumes listed; 1 none found, the search was stopped, or an
error; 2 bad usage.
)";

CliCommandRegistrar registrar({"partitions", kUsage,
                               "list the partitions of a whole disk (with --search also lost ones)", RunPartitions,
                               kHelpText});

}  // namespace
}  // namespace qmcli
