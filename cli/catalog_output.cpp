#include "cli/catalog_output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/terminal_text.h"

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

FoundObjectJson::FoundObjectJson(const CFoundObjectTree& catalog, std::string volumeName)
    : catalog_(catalog), volume_(std::move(volumeName)) {
  const std::vector<CFoundObject*> objects = catalog.CopyObjects();
  // One sorted array rather than a node per object: a listing of millions
  // of objects does not allocate millions of times to number them.
  ids_.reserve(objects.size());
  for (size_t i = 0; i < objects.size(); ++i) {
    ids_.emplace_back(objects[i], i + 1);
    if (objects[i]->IsFolder()) folderIds_.emplace(objects[i]->ObjectID, i + 1);
  }
  std::sort(ids_.begin(), ids_.end());
}

// A file's folder path depends on its folder alone, and its type name on
// its extension: both are worked out once per folder and extension.
const std::string& FoundObjectJson::FolderPath(const CFoundObject& object) const {
  if (object.IsFolder()) return scratch_ = catalog_.GetFullPath(&object);
  auto [at, added] = folderPaths_.try_emplace(object.ParentID);
  if (added) at->second = catalog_.GetFullPath(&object);
  return at->second;
}

const std::string& FoundObjectJson::TypeName(const CFoundObject& object) const {
  if (object.IsFolder()) return scratch_ = catalog_.GetTypeName(&object);
  const size_t dot = object.Name.find_last_of('.');
  auto [at, added] = typeNames_.try_emplace(dot == std::string::npos ? std::string() : object.Name.substr(dot + 1));
  if (added) at->second = catalog_.GetTypeName(&object);
  return at->second;
}

std::optional<size_t> FoundObjectJson::IdOf(const CFoundObject& object) const {
  auto at = std::lower_bound(ids_.begin(), ids_.end(), std::pair<const CFoundObject*, size_t>(&object, 0));
  if (at == ids_.end() || at->first != &object) return std::nullopt;
  return at->second;
}

std::string FoundObjectJson::operator()(const CFoundObject& object) const {
  std::string text;
  AppendTo(object, text);
  return text;
}

void FoundObjectJson::AppendTo(const CFoundObject& object, std::string& out) const {
  const std::optional<size_t> id = IdOf(object);
  auto parent = folderIds_.find(object.ParentID);
  const bool noParent = parent == folderIds_.end() || (id && parent->second == *id);
  const bool lost = (object.Flags & FOF_SIGNATURE) != 0;
  // The keys in order, as a sorted document would print them.
  JsonObjectText j(out);
  j.StringOrNull("created", FileTimeToIso(object.CreationTime));
  j.Bool("deleted", object.IsDeleted());
  j.Bool("encrypted", (object.Flags & FOF_ENCRYPTED) != 0);
  j.Bool("folder", object.IsFolder());
  if (!id) j.Null("id");
  else j.Unsigned("id", *id);
  j.Bool("lost", lost);
  j.StringOrNull("modified", FileTimeToIso(object.ModificationTime));
  j.String("name", object.Name);
  j.Unsigned("offset", object.StartOffset);
  if (noParent) j.Null("parent");
  else j.Unsigned("parent", parent->second);
  j.String("path", FolderPath(object), object.Name);
  j.Bool("possibly_incomplete", (object.Flags & FOF_CUT) != 0);
  if (lost) j.Null("record");
  else j.Number("record", object.ObjectID);
  if (object.SizeKnown()) j.Unsigned("size", object.Size);
  else j.Null("size");
  j.String("type", TypeName(object));
  j.Number("type_id", object.FileType);
  j.String("volume", volume_);
  j.End();
}

std::string FormatSizeColumn(const CFoundObject& object) {
  if (object.IsFolder()) return {};
  if (!object.SizeKnown()) return "?";
  return std::to_string(object.Size);
}

namespace {
// Column widths in terminal cells; the name gets what the terminal has left
// over, at least kNameWidth.
constexpr size_t kNameWidth = 40, kSizeWidth = 14, kTypeWidth = 20, kTimeWidth = 16;
constexpr size_t kFixedWidth = 1 + kSizeWidth + 2 + kTypeWidth + 1 + kTimeWidth + 2;
}  // namespace

FoundObjectTable::FoundObjectTable(const CFoundObjectTree& catalog, size_t terminalWidth)
    : catalog_(catalog), width_(terminalWidth) {}

std::string FoundObjectTable::Line(const std::string& name, const std::string& size, const std::string& type,
                                   const std::string& modified, const std::string& folder) const {
  std::string line;
  if (width_ == 0) {
    line = PadRight(name, kNameWidth) + " " + PadLeft(size, kSizeWidth) + "  " + PadRight(type, kTypeWidth) + " " +
           PadRight(modified, kTimeWidth) + "  " + folder;
  } else {
    // On a terminal every row fits one line: the folder takes what is left
    // beside a name column of fixed width.
    const size_t rest = width_ > kNameWidth + kFixedWidth + 12 ? width_ - kNameWidth - kFixedWidth - 1 : 12;
    line = PadRight(FitWidth(name, kNameWidth), kNameWidth) + " " + PadLeft(size, kSizeWidth) + "  " +
           PadRight(FitWidth(type, kTypeWidth), kTypeWidth) + " " + PadRight(modified, kTimeWidth) + "  " +
           FitWidth(folder, rest);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string FoundObjectTable::Header() const { return Line("Name", "Size", "Type", "Modified", "In Folder"); }

std::string FoundObjectTable::Row(const CFoundObject& object) const {
  std::string name = TerminalSafe(object.Name);
  if (object.IsDeleted()) {
    // The mark stays whole when a long name is cut.
    if (width_ != 0) name = FitWidth(name, kNameWidth - 10);
    name += " (deleted)";
  }
  if (object.Flags & FOF_ENCRYPTED) name += " (encrypted)";
  return Line(name, FormatSizeColumn(object), TerminalSafe(catalog_.GetTypeName(&object)),
              FileTimeToShort(object.ModificationTime), TerminalSafe(catalog_.GetFullPath(&object)));
}

FoundObjectOutput::FoundObjectOutput(bool json) {
  if (json) json_.emplace();
}

void FoundObjectOutput::Add(const CFoundObjectTree& catalog, const std::vector<CFoundObject*>& objects,
                            const std::string& volumeName, const std::string& title) {
  count_ += objects.size();
  if (json_) {
    FoundObjectJson toJson(catalog, volumeName);
    std::string text;  // one buffer for every object's text
    for (const CFoundObject* o : objects) {
      text.clear();
      toJson.AppendTo(*o, text);
      json_->AddText(text);
    }
    return;
  }
  if (objects.empty()) return;
  FoundObjectTable table(catalog, TerminalColumns(STDOUT_FILENO));
  if (!title.empty()) std::printf("== %s ==\n", TerminalSafe(title).c_str());
  if (!header_ || !title.empty()) std::printf("%s\n", table.Header().c_str());
  header_ = true;
  for (const CFoundObject* o : objects) std::printf("%s\n", table.Row(*o).c_str());
}

void FoundObjectOutput::Finish(const std::string& counted) {
  if (json_)
    json_->Finish();
  else if (count_ != 0)
    std::printf("%zu %s\n", count_, counted.c_str());
}

}  // namespace qmcli
