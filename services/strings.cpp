#include "services/strings.h"

#include <algorithm>

#include "services/app.h"

namespace {

// The built-in English string table, sorted by number. Numbers of the
// command identifiers (32776 and up) hold the status-bar prompt of the
// command, with "\n" before its tool-tip.
constexpr BuiltInString kStrings[] = {
    // Log lines of the analysis.
    {134, "Found file: %s"},
    {135, "Analysis duration: %d minute(s), %d second(s)."},
    {136, "Analysis completed. Found %d folder(s) and %d file(s)."},
    // Titles of the nine-step wizard's steps.
    {144, "Step 1 of 9: Select drive"},
    {145, "Step 2 of 9: Select File Types"},
    {146, "Step 3 of 9: Choose sector-by-sector scanning mode"},
    {147, "Step 4 of 9: Let the computer do all the work for you!"},
    {148, "Step 5 of 9: Scanning the file system..."},
    {149, "Step 6 of 9: View and recover after file system scan"},
    {150, "Step 7 of 9: Scanning drive sectors..."},
    {151, "Step 8 of 9: View and recover after sectors scan"},
    {152, "Step 9 of 9: Recovery completed"},
    // The search, and the columns of the file list and the search results.
    {163, "Search"},
    {164, "Name"},
    {165, "Size"},
    {166, "Type"},
    {167, "Date Modified"},
    {168, "In Folder"},
    // The probable-size dialog and the NTFS analysis.
    {175, "KBytes"},
    {176, "Deleted"},
    {177, "Live"},
    {178, "Analyzing MFT table"},
    {182, "No files found"},
    // The FAT analysis.
    {193, "Can't allocate memory!"},
    {194, "FAT Root directory not read!"},
    // The recovery of lost files.
    {202, "FileRecovery: File '%s' recovery skipped"},
    {203, "FileRecovery: File '%s' recovery cancelled"},
    // The NTFS clusters bitmap.
    {277, "Loading clusters bitmap start"},
    {278, "Loading clusters bitmap complete"},
    // Titles of the four-step wizard's steps.
    {403, "Step 1 of 4: Select drive"},
    {404, "Step 2 of 4: Select path to recovery and Search file types"},
    {405, "Step 3 of 4: Analysing drive"},
    {406, "Step 4 of 4: View and recover"},
    {407, "Finish: Recovery completed"},
    // Names the catalog gives.
    {4301, "Filesystem (lost fragments)"},
    {4355, "lost_file_%I64d"},
    {5200, "Lost files"},
    {5300, "lost_folder_%d"},
    // Prompts of commands.
    {32776, "Show or hide log\nToggle log"},
    {32831, "Change file size"},
    {32845, "Set file size as 'unknown'"},
    // Status texts, the type name of folders, the sector scan's first line.
    {57112, "Aborting..."},
    {57118, "Folder"},
    {57211, "Analyzing file system."},
    {57311, "Analyzing drive sectors."},
    {57313, "Starting drive sector analysis, searching for lost files."},
    {57345, "Ready"},
    // The desktop program's own texts: the drives pane's columns, pane titles.
    {61001, "State"},
    {61002, "File System"},
    {61007, "Legend"},
    {61008, "Data viewer"},
    // The drives pane's states.
    {61010, "Querying"},
    {61011, "Scanning sectors"},
    {61012, "Analyzing file system"},
    {61013, "Not ready"},
    // The search bar's choices of date and size.
    {61020, "Don't remember"},
    {61021, "In the past week"},
    {61022, "In the past month"},
    {61023, "In the past year"},
    {61024, "Specify dates"},
    {61025, "Small (less than 100 KB)"},
    {61026, "Medium (less than 1 MB)"},
    {61027, "Large (greater than 1 MB)"},
    {61028, "Specify size (in KB)"},
    {61029, "less than"},
    {61030, "equal to"},
    {61031, "greater than"},
    // The file list's tool-tips.
    {61040, "Lost file (found by its signature)"},
    // The About box.
    {61050, "About Quillmore"},
    {61051, "Version %1"},
    {61052, "Recovers deleted and lost files from FAT, exFAT and NTFS drives and drive images."},
    // The main window's own questions and errors.
    {61053, "Load Drive Image"},
    {61054, "The drive image %1 cannot be opened."},
    // The recovery progress dialog's own texts.
    {61201, "%d of %d"},
    {61202, "%s [size: %I64d]"},
    {61203, "Recovered %d file(s), %s bytes, to %s.\nSkipped: %d. Failed: %d. The log tells why."},
    // The settings, filters and information dialogs' own texts.
    {61400, "Select New Temporary Folder"},
    {61401, "Yes"},
    {61402, "No"},
    {61403, "Not reported by the file system"},
    {61404, "Signature files (*.filesig)"},
    {61405, "Error!"},
    {61406, "ok"},
    {61407, "Import Signature File"},
    {61408, "Export Signature File"},
    {61409, "File Type Properties"},
    {61410, "Lost"},
    {61411, "unknown"},
    {61412, "No Media"},
    {61413, "Sector %I64d - %I64d (%I64d sectors)"},
    {61414, "Cluster %I64d - %I64d (%I64d clusters)"},
    {61415, "Not on the volume's clusters: %I64d sectors"},
    {61416, "Title:"},
    {61417, "Extensions:"},
    {61418, "Name prefix:"},
    {61419, "Group:"},
    {61420, "Default size:"},
    {61421, "Searched for:"},
    {61422, "Type id:"},
    {61423, "Select Log File"},
};

// The main menu: pop-up titles of the menu bar by position, items by
// command identifier.
constexpr BuiltInSectionEntry kMainMenu[] = {
    {"0", "&Disk"},
    {"1", "&File"},
    {"2", "&View"},
    {"3", "Options"},
    {"4", "&Help"},
    {"32774", "Start Analyzing"},
    {"32775", "Stop Analyzing"},
    {"32782", "Create Drive Image..."},
    {"32783", "Load Drive Image..."},
    {"32781", "Rescan Drives"},
    {"32862", "Search Lost Drives"},
    {"57665", "&Exit"},
    {"57642", "Select all\tCtrl+A"},
    {"32787", "Recover... \tCtrl+R"},
    {"32809", "Try To Open..."},
    {"32845", "R&eset Size"},
    {"32831", "Set &New Size..."},
    {"32797", "&Information...\tCtrl+I"},
    {"32791", "&Search"},
    {"32803", "Filters..."},
    {"32794", "Legend"},
    {"59392", "&Tool bar"},
    {"59393", "&Status Bar"},
    {"32798", "Settings..."},
    {"32802", "Common Settings..."},
    {"32799", "Confirmations..."},
    {"32810", "Temporary Folder..."},
    {"32800", "Drive Access..."},
    {"32801", "Interface Language..."},
    {"32811", "Logging..."},
    {"32829", "File Types..."},
    {"57670", "Contents\tF1"},
    {"32817", "Recovery Guide"},
    {"32818", "Search for Help on..."},
    {"57664", "&About..."},
    {"32776", "Toggle log"},
    {"32839", "Drives first"},
    {"32841", "Files first"},
    {"32840", "Wizard"},
    {"32874", "Short Wizard"},
};

// The tool bar's button texts by command identifier.
constexpr BuiltInSectionEntry kMainToolBar[] = {
    {"32774", "Start Analyzing"}, {"32775", "Stop Analyzing"}, {"32787", "Recover"},
    {"32791", "Search"},          {"32798", "Settings"},
};

// The drives pane's context menu, by command identifier.
constexpr BuiltInSectionEntry kDrivesMenu[] = {
    {"32871", "Select"},
    {"32872", "Properties"},
    {"32782", "Create Drive Image..."},
    {"32783", "Load Drive Image..."},
    {"32781", "Rescan Drives\tF5"},
};

// The search bar's controls, by control identifier.
constexpr BuiltInSectionEntry kFindBar[] = {
    {"1001", "All or part of the filename:"},
    {"1002", "Hint: Use the '*' and '?' wildcards"},
    {"1003", "When was it modified?"},
    {"1004", "What size is it?"},
    {"1005", "Search for deleted files only"},
    {"1006", "Ignore folders (search for files only)"},
    {"1007", "Search"},
    {"1008", "Cancel"},
};

// The recovery dialogs: window titles (key 0) and controls by identifier.
constexpr BuiltInSectionEntry kRecoverDialog[] = {
    {"0", "Recover files"},
    {"1101", "Recover files"},
    {"1102", "The target folder where the recovered files will be saved:"},
    {"1103", "Browse..."},
    {"1104", "Keep folder structure"},
    {"1105",
     "Warning: Never try to save recovered files to the same logical disk where they are located, or you may obtain "
     "unpredictable results and lose all your data!"},
    {"1", "OK"},
    {"2", "Cancel"},
    {"9", "Help"},
};

constexpr BuiltInSectionEntry kRecoveryProgressDialog[] = {
    {"0", "Recovering files..."},
    {"1201", "Total progress:"},
    {"1202", "Current file:"},
    {"1203", "Abort"},
    {"1204", "Go to Recovered..."},
    {"1", "OK"},
};

constexpr BuiltInSectionEntry kProbableFileSize[] = {
    {"0", "Enter probable file size"},
    {"1301",
     "The file of the '%s' type is found, but its attributes such as name, parent folder, size, security settings, "
     "etc. are lost. We tried to determine its size by its content, but did not succeed. We don't know the exact "
     "size of this particular file."},
    {"1302", "Offset:"},
    {"1303", "Type:"},
    {"1304", "Condition:"},
    {"1305", "Probable file size"},
    {"1306", "The default file size for this file type is:"},
    {"1307", "Distance to the next file of any type:"},
    {"1308", "Distance to the next file of the same type:"},
    {"1309", "Custom size:"},
    {"1310", "Use the selection above for:"},
    {"1311", "This file only"},
    {"1312", "All files of this type"},
    {"1313", "All files of any type"},
    {"1314", "Skip File"},
    {"1", "OK"},
    {"2", "Cancel"},
    {"9", "Help"},
};

constexpr BuiltInSectionEntry kTryOpen[] = {
    {"0", "Try To Open"},
    {"1401",
     "Try to open recovers the selected files into the temporary folder and opens the last of them with the program "
     "your desktop uses for its type. The files are recovered as they were found: a damaged file may not open, or "
     "may open showing wrong contents.\n\nThe files written are offered for deletion when the program exits."},
    {"1402", "Don't show this warning again"},
    {"1", "OK"},
    {"2", "Cancel"},
};

constexpr BuiltInSectionEntry kCreateImageDialog[] = {
    {"0", "Create Drive Image"},
    {"1501", "Source:"},
    {"1502", "Image file:"},
    {"1503", "Go on past unreadable sectors (they become zeros in the image; a map beside it lists them)"},
    {"1504", "Start"},
    {"1505", "Elapsed time:"},
    {"1", "OK"},
    {"2", "Cancel"},
};

// The settings dialog and its seven pages. Control texts are keyed by the
// control's identifier, unique across these dialogs.
constexpr BuiltInSectionEntry kSettingsSheet[] = {
    {"0", "Program Settings"}, {"1", "OK"}, {"2", "Cancel"}, {"12321", "&Apply"},
};
constexpr BuiltInSectionEntry kSettingsCommon[] = {
    {"0", "Common Settings"},
    {"1010", "Show Splash screen at startup"},
};
constexpr BuiltInSectionEntry kSettingsConfirms[] = {
    {"0", "Confirmations"},
    {"1020", "Confirm application shutdown"},
    {"1021", "Confirm scan abort"},
    {"1022", "Confirm recovery abort"},
    {"1023", "Confirm file overwrite"},
    {"1024", "Warn before Try to open"},
};
constexpr BuiltInSectionEntry kSettingsDriveAccess[] = {
    {"0", "Drive Access"},
    {"1030", "Retry attempts:"},
    {"1031", "Pause between retry attempts:"},
    {"1032", "ms"},
};
constexpr BuiltInSectionEntry kSettingsLanguages[] = {
    {"0", "Interface Languages"},
    {"1040", "Language:"},
    {"1041", "NOTE: After you change the interface language, the program must be restarted for the change to take "
             "effect."},
};
constexpr BuiltInSectionEntry kSettingsLogging[] = {
    {"0", "Logging"},
    {"1050", "Save log in file"},
    {"1051", "Log file name:"},
    {"1052", "Maximum log file size:"},
    {"1053", "KB"},
    {"1054", "Clear log file on startup"},
    {"1055", "Write log in system debug window"},
    {"1056", "Browse..."},
    {"1057", "When the log file reaches this size, its older half is dropped."},
};
constexpr BuiltInSectionEntry kSettingsFileTypes[] = {
    {"0", "File Types"},
    {"1060", "Check All"},
    {"1061", "Uncheck All"},
    {"1062", "Properties..."},
    {"1063", "Import..."},
    {"1064", "Export..."},
    {"1065", "Search for files of the checked types:"},
};
constexpr BuiltInSectionEntry kSettingsTemporary[] = {
    {"0", "Temporary Folder"},
    {"1070", "System default temporary folder"},
    {"1071", "Custom temporary folder:"},
    {"1072", "Browse..."},
};
// The file-type tree's context menu, by command identifier.
constexpr BuiltInSectionEntry kFileTypeTreeMenu[] = {
    {"32804", "Check All"},
    {"32805", "Uncheck All"},
    {"32808", "Properties..."},
};
// The filters dialog and its two pages.
constexpr BuiltInSectionEntry kFiltersSheet[] = {
    {"0", "Filters"}, {"1", "OK"}, {"2", "Cancel"},
};
constexpr BuiltInSectionEntry kFiltersGeneral[] = {
    {"0", "General"},
    {"1100", "Show deleted files only"},
    {"1101", "Show folders and files filtered by wildcards:"},
    {"1102", "Show files created in a period"},
    {"1103", "Between:"},
    {"1104", "and:"},
    {"1105", "Compare times of day only"},
};
constexpr BuiltInSectionEntry kFiltersFileTypes[] = {
    {"0", "File Types"},
    {"1110", "Show all files"},
    {"1111", "Show only known file types"},
    {"1112", "Custom:"},
};
// The object and volume information dialogs.
constexpr BuiltInSectionEntry kFileInformation[] = {
    {"0", "File Information"},   {"1", "OK"},
    {"1200", "General"},         {"1201", "Id:"},
    {"1202", "Parent Id:"},      {"1203", "Offset:"},
    {"1204", "Size:"},           {"1205", "Size on disk:"},
    {"1206", "Type:"},           {"1207", "Signature:"},
    {"1208", "Status:"},         {"1209", "Location:"},
    {"1210", "Created time:"},   {"1211", "Modified time:"},
    {"1212", "Accessed time:"},  {"1213", "Sectors List"},
    {"1214", "Clusters List"},   {"1215", "Description"},
    {"1216", "Signature"},       {"1217", "Technical Info"},
};
constexpr BuiltInSectionEntry kVolumeInformation[] = {
    {"0", "Volume Information"},
    {"1", "OK"},
    {"1300", "General"},
    {"1301", "Capabilities"},
    {"1302", "Information"},
    {"1303", "FileSystem:"},
    {"1304", "Status:"},
    {"1305", "Label:"},
    {"1306", "OEM ID:"},
    {"1307", "S/N:"},
    {"1308", "Total Space:"},
    {"1309", "Free Space:"},
    {"1310", "Named streams:"},
    {"1311", "Read only:"},
    {"1312", "Object identifiers:"},
    {"1313", "Reparse points:"},
    {"1314", "Sparse files:"},
    {"1315", "File-based compression:"},
    {"1316", "Case-sensitive file names:"},
    {"1317", "Preserves the case of file names:"},
    {"1318", "Disk quotas:"},
    {"1319", "Encrypted file system (EFS):"},
    {"1320", "Preserves and enforces ACLs:"},
    {"1321", "Unicode in filenames as they appear on disk:"},
    {"1322", "Compressed volume:"},
    {"1330", "Device:"},
    {"1331", "Kind:"},
    {"1332", "Media type:"},
    {"1333", "Product:"},
    {"1334", "Mount point:"},
    {"1335", "UUID:"},
    {"1336", "Bytes per sector:"},
    {"1337", "Sectors per cluster:"},
    {"1338", "Total sectors:"},
    {"1339", "Total clusters:"},
    {"1340", "Cylinders:"},
    {"1341", "Tracks per cylinder:"},
    {"1342", "Sectors per track:"},
    {"1343", "Partition start:"},
    {"1344", "Partition type:"},
};

constexpr BuiltInSection kSections[] = {
    {"MainMenu", kMainMenu},
    {"MainToolBar", kMainToolBar},
    {"MyComputerView.menu", kDrivesMenu},
    {"FindBar", kFindBar},
    {"RecoverDialog", kRecoverDialog},
    {"RecoveryProgressDialog", kRecoveryProgressDialog},
    {"ProbableFileSize", kProbableFileSize},
    {"TryOpen", kTryOpen},
    {"CreateImageDialog", kCreateImageDialog},
    {"ProgrammSettings", kSettingsSheet},
    {"ProgrammSettings.Common", kSettingsCommon},
    {"ProgrammSettings.Confirms", kSettingsConfirms},
    {"ProgrammSettings.DriveAccess", kSettingsDriveAccess},
    {"ProgrammSettings.Languages", kSettingsLanguages},
    {"ProgrammSettings.Logging", kSettingsLogging},
    {"ProgrammSettings.SearchFileTypes", kSettingsFileTypes},
    {"ProgrammSettings.Temporary", kSettingsTemporary},
    {"FileTypeTree.menu", kFileTypeTreeMenu},
    {"FiltersView", kFiltersSheet},
    {"FiltersView.General", kFiltersGeneral},
    {"FiltersView.FileTypes", kFiltersFileTypes},
    {"FileInformation", kFileInformation},
    {"VolumeInformation", kVolumeInformation},
};

constexpr bool SortedByNumber() {
  for (size_t i = 1; i < std::size(kStrings); ++i)
    if (kStrings[i - 1].Number >= kStrings[i].Number) return false;
  return true;
}
static_assert(SortedByNumber(), "the string table must stay sorted by number, without repeats");

}  // namespace

std::span<const BuiltInString> BuiltInStrings() { return kStrings; }

std::span<const BuiltInSection> BuiltInSections() { return kSections; }

const char* FindBuiltInSectionText(std::string_view section, std::string_view key) {
  for (const auto& s : kSections) {
    if (section != s.Name) continue;
    for (const auto& e : s.Entries)
      if (key == e.Key) return e.Text;
  }
  return nullptr;
}

const char* FindBuiltInString(uint32_t number) {
  auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), number,
                             [](const BuiltInString& s, uint32_t n) { return s.Number < n; });
  return it != std::end(kStrings) && it->Number == number ? it->Text : nullptr;
}

std::string GetString(uint32_t number) { return theApp().Languages.GetString(number); }
