// quillmore-cli partitions SOURCE: the volumes the partition tables of a
// source name, and with --search those the volume search adds.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/arguments.h"
#include "cli/catalog_output.h"
#include "cli/command.h"
#include "cli/partition_list.h"
#include "cli/scan_run.h"
#include "cli/source.h"
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
  } else if (parts.empty()) {
    std::printf("No partitions found on %s.\n", line.source.c_str());
  } else {
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
      std::printf("%-5u %12llu %14llu %14llu  %-40s %-6s %s\n", p.index,
                  static_cast<unsigned long long>(v->VolumeStartOffset / 512),
                  static_cast<unsigned long long>(v->VolumeStartOffset), static_cast<unsigned long long>(v->Size),
                  table.c_str(), VolumeFileSystemText(v).c_str(), VolumeLabelText(v).c_str());
    }
  }
  if (!complete) std::fprintf(stderr, "Search stopped before the end.\n");
  return complete ? EXIT_OK : EXIT_FAILED;
}

CliCommandRegistrar registrar({"partitions", kUsage,
                               "list the partitions of a whole disk (with --search also lost ones)", RunPartitions});

}  // namespace
}  // namespace qmcli
