#include "cli/partition_list.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include "cli/arguments.h"
#include "cli/number_parser.h"
#include "cli/report.h"
#include "cli/terminal_text.h"
#include "engine/filesystems/file_system.h"
#include "engine/filesystems/file_system_fat.h"
#include "engine/volume/volume.h"

namespace qmcli {

std::string VolumeFileSystemText(CVolume* volume) {
  const uint32_t id = volume->FileSystem().FileSystemType;
  return id == 1 || id == 4 || id == 7 || id == 11 ? CFileSystem::NameOf(id) : "-";
}

std::string VolumeLabelText(CVolume* volume) {
  const uint32_t id = volume->FileSystem().FileSystemType;
  std::string label = volume->Label;
  if (label.empty() && (id == 1 || id == 4 || id == 11))
    label = CFileSystem_FAT::BootSectorLabel(volume->BootBuffer.data(), id);
  if (label.empty()) label = volume->Origin.Name;
  return label;
}

std::vector<SourcePart> SourcePartitions(CVolume* source) {
  std::vector<CVolume*> found;
  std::set<const CVolume*> seen;
  std::function<void(CVolume*, int)> collect = [&](CVolume* parent, int depth) {
    if (depth > 16) return;
    for (CVolume* child : parent->ChildVolumes()) {
      if (child->Kind != VolumeFound || !seen.insert(child).second) continue;
      found.push_back(child);
      collect(child, depth + 1);
    }
  };
  collect(source, 0);

  std::vector<SourcePart> parts;
  std::set<uint32_t> taken;
  for (CVolume* v : found) {
    const bool tableEntry = v->Parent == source && v->Origin.Scheme != PartitionScheme::Search &&
                            v->Origin.Scheme != PartitionScheme::None && v->Origin.EntryNumber != 0;
    SourcePart part;
    part.volume = v;
    if (tableEntry && taken.insert(v->Origin.EntryNumber).second) part.index = v->Origin.EntryNumber;
    parts.push_back(part);
  }
  uint32_t next = taken.empty() ? 1 : *taken.rbegin() + 1;
  for (SourcePart& part : parts) {
    if (part.index == 0) part.index = next++;
    const std::string label = VolumeLabelText(part.volume);
    part.title = "Partition " + std::to_string(part.index) + " (" + VolumeFileSystemText(part.volume) +
                 (label.empty() ? "" : ", " + label) + ")";
  }
  return parts;
}

bool SelectWorkVolumes(CVolume* source, const CommandLine& line, std::vector<SourcePart>& out) {
  out.clear();
  uint32_t only = 0;
  if (const std::string* text = line.Value("--partition")) {
    uint64_t n = 0;
    if (!ParseUnsigned(*text, n) || n == 0 || n > 0xFFFF) {
      ReportUsage("", "--partition takes a partition number as `partitions` prints it, not " + Quoted(*text));
      return false;
    }
    only = static_cast<uint32_t>(n);
  }
  std::vector<SourcePart> parts;
  if (source->FileSystem().FileSystemType == 0) parts = SourcePartitions(source);
  if (parts.empty()) {
    if (only != 0) {
      ReportUsage("", Quoted(line.source) + " holds no partitions (see `quillmore-cli partitions`)");
      return false;
    }
    out.push_back({source, 0, {}});
    return true;
  }
  for (const SourcePart& part : parts)
    if (only == 0 || part.index == only) out.push_back(part);
  if (out.empty()) {
    ReportUsage("", Quoted(line.source) + " has no partition " + std::to_string(only) +
                        " (see `quillmore-cli partitions`)");
    return false;
  }
  return true;
}

void TagWithVolume(nlohmann::json& object, const SourcePart& part) {
  if (!part.title.empty()) object["volume"] = part.title;
}

}  // namespace qmcli
