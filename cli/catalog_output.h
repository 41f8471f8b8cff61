// How the command line shows found objects: one JSON object per catalog
// entry (`list --json`, `search --json`, ...) and a plain-text table.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

struct CFoundObject;
class CFoundObjectTree;

namespace qmcli {

// FILETIME (100 ns since 1601-01-01 UTC) as ISO 8601 UTC,
// "2024-03-05T14:07:09Z"; empty for 0 or a time past the year 9999.
std::string FileTimeToIso(uint64_t filetime);
// "YYYY-MM-DD HH:MM" (UTC) for the text table; empty for 0.
std::string FileTimeToShort(uint64_t filetime);

// The JSON form of one object:
//   path     the folder path (GetFullPath) followed by the name, "/"-separated
//   name     the object's name
//   size     bytes, or null when unknown
//   deleted  FOF_DELETED
//   folder   FOF_FOLDER
//   lost     found by signature (FOF_SIGNATURE)
//   offset   byte offset of its first byte on the volume
//   type     the type name ("Folder", "JPG File", ...)
//   type_id  the signature-database type id (0 = none)
//   id       ObjectID
//   parent   ParentID
//   modified ModificationTime as ISO 8601 UTC, or null when not set
//   created  CreationTime likewise
nlohmann::json FoundObjectToJson(const CFoundObjectTree& catalog, const CFoundObject& object);

// Prints a JSON array to standard output one element per line as it is
// given, so a catalog of millions of objects is never built a second time
// in memory. Text that is not valid UTF-8 is printed with U+FFFD.
class JsonArrayPrinter {
public:
  JsonArrayPrinter() = default;
  ~JsonArrayPrinter() { Finish(); }
  JsonArrayPrinter(const JsonArrayPrinter&) = delete;
  JsonArrayPrinter& operator=(const JsonArrayPrinter&) = delete;
  void Add(const nlohmann::json& element);
  // Closes the array; "[]" when nothing was added. Later calls do nothing.
  void Finish();

private:
  size_t count_ = 0;
  bool finished_ = false;
};

// The text table: a header line and one line per object with the columns
// Name, Size, Type, Modified and In Folder (no trailing newline).
std::string FoundObjectTableHeader();
std::string FoundObjectTableRow(const CFoundObjectTree& catalog, const CFoundObject& object);
// Size as shown in the table: bytes, "?" when unknown, empty for folders.
std::string FormatSizeColumn(const CFoundObject& object);

}  // namespace qmcli
