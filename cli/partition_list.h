// Whole disks on the command line: the volumes found on a source, numbered
// the way `partitions` prints them, and the volumes a command works on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

class CVolume;

namespace qmcli {

struct CommandLine;

struct SourcePart {
  CVolume* volume = nullptr;
  // The number `partitions` prints and --partition takes; 0 for a source
  // that is worked on as a whole.
  uint32_t index = 0;
  // "Partition 2 (NTFS, DATA)"; empty for a source worked on as a whole.
  std::string title;
};

// Every volume found on the source (by its tables, and by a search when one
// ran), in the order they were found, tables inside found volumes right
// after the volume that holds them. A volume named by a table entry of the
// source keeps that entry's number (1 to 4 for MBR primary entries, 5 on for
// logical partitions, the entry's slot from 1 for GPT); the others are
// numbered on from the highest.
std::vector<SourcePart> SourcePartitions(CVolume* source);

// The volumes a command works on: the source itself when it holds a file
// system or nothing was found on it; else each partition found on it, or
// only number --partition N when given. Prints why and returns false for a
// bad or unknown --partition.
bool SelectWorkVolumes(CVolume* source, const CommandLine& line, std::vector<SourcePart>& out);

// The file-system name of a volume ("FAT32", "NTFS", "-" for none known)
// and its label (the FAT label of its boot sector, else a GPT entry's name).
std::string VolumeFileSystemText(CVolume* volume);
std::string VolumeLabelText(CVolume* volume);

// Puts "volume": the part's title into a JSON object of a part of a whole
// disk (nothing for a source worked on as a whole).
void TagWithVolume(nlohmann::json& object, const SourcePart& part);

}  // namespace qmcli
