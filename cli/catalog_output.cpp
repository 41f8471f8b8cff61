#include "cli/catalog_output.h"

#include <cstdio>

#include "engine/catalog/found_object.h"
#include "engine/catalog/found_object_tree.h"

namespace qmcli {
namespace {

struct CivilTime {
  int64_t year;
  unsigned month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

bool ToCivil(uint64_t filetime, CivilTime& out) {
  if (filetime == 0) return false;
  // Seconds since 1601-01-01, then relative to 1970.
  const int64_t seconds = static_cast<int64_t>(filetime / 10000000ull) - 11644473600ll;
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  CivilFromDays(days, out.year, out.month, out.day);
  if (out.year > 9999) return false;
  out.hour = static_cast<unsigned>(rest / 3600);
  out.minute = static_cast<unsigned>(rest % 3600 / 60);
  out.second = static_cast<unsigned>(rest % 60);
  return true;
}

std::string TypeColumn(const CFoundObjectTree& catalog, const CFoundObject& object) {
  return catalog.GetTypeName(&object);
}

}  // namespace

std::string FileTimeToIso(uint64_t filetime) {
  CivilTime t{};
  if (!ToCivil(filetime, t)) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(t.year), t.month,
                t.day, t.hour, t.minute, t.second);
  return text;
}

std::string FileTimeToShort(uint64_t filetime) {
  CivilTime t{};
  if (!ToCivil(filetime, t)) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u", static_cast<long long>(t.year), t.month, t.day,
                t.hour, t.minute);
  return text;
}

nlohmann::json FoundObjectToJson(const CFoundObjectTree& catalog, const CFoundObject& object) {
  nlohmann::json j;
  const std::string folder = catalog.GetFullPath(&object);
  j["path"] = folder + object.Name;
  j["name"] = object.Name;
  if (object.SizeKnown())
    j["size"] = object.Size;
  else
    j["size"] = nullptr;
  j["deleted"] = object.IsDeleted();
  j["folder"] = object.IsFolder();
  j["lost"] = (object.Flags & FOF_SIGNATURE) != 0;
  j["possibly_incomplete"] = (object.Flags & FOF_CUT) != 0;
  j["encrypted"] = (object.Flags & FOF_ENCRYPTED) != 0;
  j["offset"] = object.StartOffset;
  j["type"] = TypeColumn(catalog, object);
  j["type_id"] = object.FileType;
  j["id"] = object.ObjectID;
  j["parent"] = object.ParentID;
  const std::string modified = FileTimeToIso(object.ModificationTime);
  if (modified.empty())
    j["modified"] = nullptr;
  else
    j["modified"] = modified;
  const std::string created = FileTimeToIso(object.CreationTime);
  if (created.empty())
    j["created"] = nullptr;
  else
    j["created"] = created;
  return j;
}

std::string FormatSizeColumn(const CFoundObject& object) {
  if (object.IsFolder()) return {};
  if (!object.SizeKnown()) return "?";
  return std::to_string(object.Size);
}

std::string FoundObjectTableHeader() {
  char line[256];
  std::snprintf(line, sizeof line, "%-40s %14s  %-20s %-16s  %s", "Name", "Size", "Type", "Modified", "In Folder");
  return line;
}

std::string FoundObjectTableRow(const CFoundObjectTree& catalog, const CFoundObject& object) {
  std::string name = object.Name;
  if (object.IsDeleted()) name += " (deleted)";
  if (object.Flags & FOF_ENCRYPTED) name += " (encrypted)";
  // Names may be long; the columns after them simply move right.
  std::string row = name;
  if (row.size() < 40) row.append(40 - row.size(), ' ');
  char rest[512];
  std::snprintf(rest, sizeof rest, " %14s  %-20s %-16s  ", FormatSizeColumn(object).c_str(),
                TypeColumn(catalog, object).c_str(), FileTimeToShort(object.ModificationTime).c_str());
  row += rest;
  row += catalog.GetFullPath(&object);
  return row;
}

void JsonArrayPrinter::Add(const nlohmann::json& element) {
  if (finished_) return;
  std::string text = element.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fputs(count_++ == 0 ? "[\n" : ",\n", stdout);
  std::fputs(text.c_str(), stdout);
}

void JsonArrayPrinter::Finish() {
  if (finished_) return;
  finished_ = true;
  std::fputs(count_ == 0 ? "[]\n" : "\n]\n", stdout);
}

}  // namespace qmcli
