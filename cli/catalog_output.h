// How the command line shows found objects: one JSON object per catalog
// entry (`list --json`, `search --json`, ...) and a plain-text table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/json_output.h"

struct CFoundObject;
class CFoundObjectTree;

namespace qmcli {

// FILETIME (100 ns since 1601-01-01 UTC) as ISO 8601 UTC,
// "2024-03-05T14:07:09Z"; empty for 0 or a time past the year 9999.
std::string FileTimeToIso(uint64_t filetime);
// "YYYY-MM-DD HH:MM" (UTC) for the text table; empty for 0.
std::string FileTimeToShort(uint64_t filetime);

// The JSON form of the objects of one catalog:
//   id       the object's number in this run: unique among the objects of
//            one volume, lost files included (their file-system record is
//            none)
//   parent   the id of the folder it lies in, or null (the top)
//   record   the file system's own number for it (FAT directory-entry
//            position, NTFS MFT record), or null for a lost file
//   volume   the volume it belongs to (the SOURCE, or the volume's name)
//   path     the folder path (GetFullPath) followed by the name, "/"-separated
//   name     the object's name
//   size     bytes, or null when unknown
//   deleted  FOF_DELETED
//   folder   FOF_FOLDER
//   lost     found by signature (FOF_SIGNATURE)
//   offset   byte offset of its first byte on the volume
//   type     the type name ("Folder", "JPG File", ...)
//   type_id  the signature-database type id (0 = none)
//   modified ModificationTime as ISO 8601 UTC, or null when not set
//   created  CreationTime likewise
class FoundObjectJson {
public:
  // Numbers every object the catalog holds now (call after the analysis).
  FoundObjectJson(const CFoundObjectTree& catalog, std::string volumeName);
  // The object's JSON text, on one line.
  std::string operator()(const CFoundObject& object) const;
  // The same, appended to `out`.
  void AppendTo(const CFoundObject& object, std::string& out) const;

private:
  const CFoundObjectTree& catalog_;
  std::string volume_;
  std::optional<size_t> IdOf(const CFoundObject& object) const;
  const std::string& FolderPath(const CFoundObject& object) const;
  const std::string& TypeName(const CFoundObject& object) const;
  mutable std::unordered_map<int64_t, std::string> folderPaths_;     // folder identity -> path
  mutable std::unordered_map<std::string, std::string> typeNames_;   // extension -> type name
  mutable std::string scratch_;
  std::vector<std::pair<const CFoundObject*, size_t>> ids_;  // object -> id, sorted
  std::unordered_map<int64_t, size_t> folderIds_;  // file-system identity -> id
};

// The text table of found objects: columns Name, Size, Type, Modified and In
// Folder, aligned by display width. Names are escaped (TerminalSafe). With a
// terminal width the name and folder columns are cut with "…" to fit it;
// with 0 (output to a pipe or file) they are printed whole.
class FoundObjectTable {
public:
  FoundObjectTable(const CFoundObjectTree& catalog, size_t terminalWidth);
  std::string Header() const;
  std::string Row(const CFoundObject& object) const;

private:
  std::string Line(const std::string& name, const std::string& size, const std::string& type,
                   const std::string& modified, const std::string& folder) const;
  const CFoundObjectTree& catalog_;
  size_t width_;
};

// The found objects of one or more volumes on standard output: one JSON
// array for all of them, or a table per volume (a "== TITLE ==" line before
// each volume of a whole disk) sized to the terminal.
class FoundObjectOutput {
public:
  explicit FoundObjectOutput(bool json);
  // The objects of one volume. `volumeName` goes into each JSON object's
  // "volume"; `title` ("Partition 2 (NTFS, DATA)") is empty for a source
  // worked on as a whole.
  void Add(const CFoundObjectTree& catalog, const std::vector<CFoundObject*>& objects, const std::string& volumeName,
           const std::string& title);
  size_t Count() const { return count_; }
  // Closes the JSON array, or prints "N " + `counted` ("3 object(s) found.")
  // below the tables when there were objects.
  void Finish(const std::string& counted);

private:
  std::optional<JsonArrayPrinter> json_;
  size_t count_ = 0;
  bool header_ = false;
};

// Size as shown in the table: bytes, "?" when unknown, empty for folders.
std::string FormatSizeColumn(const CFoundObject& object);

}  // namespace qmcli
