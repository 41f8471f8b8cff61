// Running an analysis from the command line: start it, show the progress
// bar while it runs, stop it cleanly on Ctrl-C.
#pragma once

class CVolume;

namespace qmcli {

// The full analysis: file system, then the sector scan for lost files
// (lost files go under "Lost files/<group>/"). False when Ctrl-C stopped it;
// what was found so far stays in the catalog.
bool RunFullAnalysis(CVolume* volume);
// The file-system phase alone, on the analysis thread, with the bar and
// Ctrl-C; false when stopped.
bool RunFileSystemAnalysis(CVolume* volume);
// The sector scan alone.
bool RunSectorScan(CVolume* volume);
// The volume search ("Search Lost Drives"): the sector scan taking only
// boot sectors, each becoming (or confirming) a Found volume.
bool RunVolumeSearch(CVolume* volume);

}  // namespace qmcli
