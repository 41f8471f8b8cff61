// quillmore-cli info SOURCE: what the boot sector of a source says.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/json_output.h"
#include "cli/partition_list.h"
#include "cli/report.h"
#include "cli/source.h"
#include "cli/terminal_text.h"
#include "engine/filesystems/file_system.h"
#include "engine/filesystems/file_system_exfat.h"
#include "engine/filesystems/file_system_fat.h"
#include "engine/filesystems/file_system_ntfs.h"
#include "engine/volume/volume.h"
#include "services/format.h"

namespace qmcli {
namespace {

constexpr const char* kInfoUsage = "info SOURCE [--partition N] [--json]";

std::string SerialText(uint32_t id, uint64_t serial) {
  if (serial == 0) return {};
  if (id == 7) return qm::Format("%08X%08X", static_cast<uint32_t>(serial >> 32), static_cast<uint32_t>(serial));
  return qm::Format("%04X-%04X", static_cast<uint32_t>((serial >> 16) & 0xFFFF), static_cast<uint32_t>(serial & 0xFFFF));
}

// The boot-sector facts of one volume, as JSON or as text.
void ShowInfo(CVolume* volume, const std::string& source, const SourcePart& part, bool json,
              std::optional<nlohmann::json>& array) {
  const uint8_t* boot = volume->BootBuffer.data();
  const uint32_t id = volume->FileSystem().FileSystemType;
  const bool known = id == 1 || id == 4 || id == 7 || id == 11;
  const uint32_t bytesPerSector = known ? static_cast<uint32_t>(boot[0x0B] | (boot[0x0C] << 8)) : volume->BytesPerSector;
  std::string label = volume->Label;
  if (label.empty() && id == EXFAT_FILE_SYSTEM_ID) label = CFileSystem_exFAT::ReadVolumeLabel(*volume);
  else if (label.empty() && id == 7) label = CFileSystem_NTFS::ReadVolumeLabel(*volume);
  else if (label.empty() && id != 7 && id != 0) label = CFileSystem_FAT::BootSectorLabel(boot, id);
  const std::string name = id == 0 ? "none (read as a partition table)" : CFileSystem::NameOf(id);
  const std::string serial = SerialText(id, volume->SerialNumber);
  // Clusters as the boot sector's cluster size counts them (an image's own
  // count assumes one sector per cluster).
  const uint64_t clusters =
      id != 0 && volume->SectorsPerCluster ? volume->TotalSectors / volume->SectorsPerCluster : volume->TotalClusters;

  if (json) {
    nlohmann::json j;
    j["source"] = source;
    TagWithVolume(j, part);
    if (!part.title.empty()) j["offset"] = volume->VolumeStartOffset;
    j["file_system"] = id == 0 ? nlohmann::json(nullptr) : nlohmann::json(CFileSystem::NameOf(id));
    j["file_system_id"] = id;
    j["bytes_per_sector"] = bytesPerSector;
    j["sectors_per_cluster"] = volume->SectorsPerCluster;
    j["bytes_per_cluster"] = volume->BytesPerCluster;
    j["total_sectors"] = volume->TotalSectors;
    j["total_clusters"] = clusters;
    j["size"] = volume->Size;
    j["serial_number"] = serial.empty() ? nlohmann::json(nullptr) : nlohmann::json(serial);
    j["label"] = label.empty() ? nlohmann::json(nullptr) : nlohmann::json(label);
    if (array)
      array->push_back(j);
    else
      PrintJson(j);
    return;
  }
  if (!part.title.empty()) {
    std::printf("== %s ==\n", TerminalSafe(part.title).c_str());
    std::printf("Byte offset:         %llu\n", static_cast<unsigned long long>(volume->VolumeStartOffset));
  } else {
    std::printf("Source:              %s\n", TerminalSafe(source).c_str());
  }
  std::printf("File system:         %s (ID %u)\n", name.c_str(), id);
  std::printf("Bytes per sector:    %u\n", bytesPerSector);
  std::printf("Sectors per cluster: %u\n", volume->SectorsPerCluster);
  std::printf("Bytes per cluster:   %u\n", volume->BytesPerCluster);
  std::printf("Total sectors:       %llu\n", static_cast<unsigned long long>(volume->TotalSectors));
  std::printf("Total clusters:      %llu\n", static_cast<unsigned long long>(clusters));
  std::printf("Size:                %llu bytes\n", static_cast<unsigned long long>(volume->Size));
  std::printf("Serial number:       %s\n", serial.empty() ? "-" : serial.c_str());
  std::printf("Label:               %s\n", label.empty() ? "-" : TerminalSafe(label).c_str());
}

int RunInfo(const std::vector<std::string>& args) {
  CommandLine line;
  if (!ParseCommandLine("info", kInfoUsage, args, {"--json"}, {"--partition"}, line)) return EXIT_USAGE;
  const std::string& source = line.source;
  const bool json = line.Has("--json");
  CVolume* volume = StartAndOpenSource(source);
  if (!volume) return EXIT_FAILED;
  if (volume->Analyse_Boot() != 1) return ReportError("cannot read the boot sector of " + Quoted(source));
  // Without a file system the first sector is read as a partition table,
  // which ends in the signature 55 AA; without that there is nothing to show.
  const uint8_t* boot = volume->BootBuffer.data();
  if (volume->FileSystem().FileSystemType == 0 && !(boot[510] == 0x55 && boot[511] == 0xAA))
    return ReportError("no file system or partition table found on " + Quoted(source));
  std::vector<SourcePart> parts;
  if (!SelectWorkVolumes(volume, line, parts)) return EXIT_USAGE;
  // A whole disk gives an array of its volumes; a volume gives one object.
  std::optional<nlohmann::json> array;
  if (json && !parts.front().title.empty()) array = nlohmann::json::array();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!json && i > 0) std::printf("\n");
    ShowInfo(parts[i].volume, source, parts[i], json, array);
  }
  if (array) PrintJson(*array);
  return EXIT_OK;
}

constexpr const char* kHelpText =
    R"(Reads the first sector of SOURCE and shows what its boot sector says: the
file system (FAT12, FAT16, FAT32, NTFS), sector and cluster sizes, the number
of sectors and clusters, the size, the serial number and the label.
A first sector with no file system but a partition-table signature is shown
as a partition table; with neither, the command fails.

Options:
  --json    print one JSON object: source, file_system (null for none),
            file_system_id, bytes_per_sector, sectors_per_cluster,
            bytes_per_cluster, total_sectors, total_clusters, size,
            serial_number, label
  --partition N  only partition N of a whole disk, as `quillmore-cli
            partitions` numbers them (without it, every volume in turn)

Exit status: 0 shown; 1 SOURCE cannot be read or holds no file system or
partition table; 2 bad usage.
)";

CliCommandRegistrar registrar({"info", kInfoUsage,
                               "show the file system, geometry, serial number and label of a source", RunInfo, kHelpText});

}  // namespace
}  // namespace qmcli
