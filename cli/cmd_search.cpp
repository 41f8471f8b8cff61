// quillmore-cli search SOURCE: analyses the source's file system and lists
// the found objects that match the search criteria (name pattern, deleted
// only, files only, size, modification date).
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/catalog_output.h"
#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/partition_list.h"
#include "cli/progress.h"
#include "cli/scan_run.h"
#include "cli/source.h"
#include "engine/analysis/analysis_driver.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/catalog/search.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/strings.h"
#include "services/text.h"

namespace qmcli {
namespace {

constexpr const char* kUsage =
    "search SOURCE [--name PATTERN] [--deleted-only] [--files-only] "
    "[--size small|medium|large|lt:KB|eq:KB|gt:KB] [--modified week|month|year|FROM..TO] [--scan] [--partition N] [--json]";

int Usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "quillmore-cli search: %s\n", why.c_str());
  std::fprintf(stderr, "Usage: quillmore-cli %s\n", kUsage);
  return EXIT_USAGE;
}

// "small", "medium", "large", or a comparison and a value: "lt:100",
// "eq:4", "gt:2048" (kilobytes; "MB" after the number for megabytes).
bool ParseSize(const std::string& text, SearchCriteria& criteria) {
  const std::string t = qm::AsciiLower(text);
  if (t == "small") {
    criteria.SetSizeOption(SearchCriteria::SizeSmall);
    return true;
  }
  if (t == "medium") {
    criteria.SetSizeOption(SearchCriteria::SizeMedium);
    return true;
  }
  if (t == "large") {
    criteria.SetSizeOption(SearchCriteria::SizeLarge);
    return true;
  }
  if (t.size() < 4 || t[2] != ':') return false;
  int comparison;
  const std::string op = t.substr(0, 2);
  if (op == "lt")
    comparison = 0;
  else if (op == "eq")
    comparison = 1;
  else if (op == "gt")
    comparison = 2;
  else
    return false;
  std::string number = t.substr(3);
  int unit = SearchCriteria::UnitKB;
  if (number.size() > 2 && number.compare(number.size() - 2, 2, "mb") == 0) {
    unit = SearchCriteria::UnitMB;
    number.resize(number.size() - 2);
  } else if (number.size() > 2 && number.compare(number.size() - 2, 2, "kb") == 0) {
    number.resize(number.size() - 2);
  }
  if (number.empty() || number.size() > 10 || number.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long long value = std::strtoll(number.c_str(), nullptr, 10);
  if (value > 0x7FFFFFFF) return false;
  criteria.SetSizeOption(SearchCriteria::SizeSpecified, static_cast<int32_t>(value), unit, comparison);
  return true;
}

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM[:SS]" (UTC) to FILETIME. A date alone
// means the start of that day, or its last moment when `endOfDay` is set.
bool ParseTime(const std::string& text, bool endOfDay, uint64_t& out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  bool dateOnly = false;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail) == 3) {
    dateOnly = true;
  } else if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) == 6 ||
             (s = 0, std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d%c", &y, &mo, &d, &h, &mi, &tail) == 5)) {
  } else {
    return false;
  }
  if (y < 1601 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
  struct tm t {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  const time_t seconds = timegm(&t);
  if (seconds < -11644473600ll) return false;
  out = static_cast<uint64_t>(seconds + 11644473600ll) * 10000000ull;
  if (dateOnly && endOfDay) out += kFileTimeDay - 1;
  return true;
}

bool ParseModified(const std::string& text, SearchCriteria& criteria) {
  const uint64_t now = qm::CurrentFileTime();
  criteria.DateSource = DateField::Modification;
  if (text == "week") {
    criteria.SetDateOption(SearchCriteria::DatePastWeek, now);
    return true;
  }
  if (text == "month") {
    criteria.SetDateOption(SearchCriteria::DatePastMonth, now);
    return true;
  }
  if (text == "year") {
    criteria.SetDateOption(SearchCriteria::DatePastYear, now);
    return true;
  }
  const size_t dots = text.find("..");
  if (dots == std::string::npos) return false;
  const std::string fromText = text.substr(0, dots);
  const std::string toText = text.substr(dots + 2);
  uint64_t from = 1, to = 0x7FFFFFFFFFFFFFFFull;  // an open end reaches as far as times go
  if (!fromText.empty() && !ParseTime(fromText, false, from)) return false;
  if (!toText.empty() && !ParseTime(toText, true, to)) return false;
  if (from > to) return false;
  criteria.SetDateOption(SearchCriteria::DateSpecified, now, from, to);
  return true;
}

int RunSearch(const std::vector<std::string>& args) {
  CommandLine line;
  if (!ParseCommandLine("search", kUsage, args, {"--json", "--scan", "--deleted-only", "--files-only"},
                        {"--name", "--size", "--modified", "--partition"}, line))
    return EXIT_USAGE;
  const bool json = line.Has("--json"), scan = line.Has("--scan");
  SearchCriteria criteria;
  criteria.DeletedOnly = line.Has("--deleted-only");
  criteria.FilesOnly = line.Has("--files-only");
  if (const std::string* v = line.Value("--name")) criteria.SetNamePattern(*v);
  if (const std::string* v = line.Value("--size"); v && !ParseSize(*v, criteria))
    return Usage("--size takes small, medium, large, lt:KB, eq:KB or gt:KB");
  if (const std::string* v = line.Value("--modified"); v && !ParseModified(*v, criteria))
    return Usage("--modified takes week, month, year or FROM..TO (YYYY-MM-DD[THH:MM[:SS]], UTC)");

  CVolume* source = StartAndOpenSource(line.source);
  if (!source) return EXIT_FAILED;
  std::vector<SourcePart> parts;
  if (!SelectWorkVolumes(source, line, parts)) return EXIT_USAGE;

  // One array (or table) for every volume of a whole disk; each match names
  // its volume.
  std::optional<JsonArrayPrinter> list;
  if (json) list.emplace();
  size_t total = 0;
  bool header = false;
  for (const SourcePart& part : parts) {
    CVolume* volume = part.volume;
    const bool complete = scan ? RunFullAnalysis(volume) : RunFileSystemAnalysis(volume);
    if (!complete) std::fprintf(stderr, "quillmore-cli search: analysis stopped; searching what was found so far\n");
    CFoundObjectTree& catalog = volume->Catalog();
    std::vector<CFoundObject*> matches = CFindInFound::Run(catalog, criteria, nullptr);
    total += matches.size();
    if (json) {
      for (const CFoundObject* o : matches) {
        nlohmann::json j = FoundObjectToJson(catalog, *o);
        TagWithVolume(j, part);
        list->Add(j);
      }
      continue;
    }
    if (matches.empty()) continue;
    if (!part.title.empty()) std::printf("== %s ==\n", part.title.c_str());
    if (!header || !part.title.empty()) std::printf("%s\n", FoundObjectTableHeader().c_str());
    header = true;
    for (const CFoundObject* o : matches) std::printf("%s\n", FoundObjectTableRow(catalog, *o).c_str());
  }
  if (!json && total == 0) {
    std::printf("%s\n", GetString(182).c_str());
  } else if (!json) {
    std::printf("%zu object(s) found.\n", total);
  }
  return total == 0 ? EXIT_FAILED : EXIT_OK;
}

const CliCommandRegistrar kRegistrar({"search", kUsage,
                                      "list the found files and folders that match name, size, date and deleted state "
                                      "(exit 1 when nothing matches)",
                                      RunSearch});

}  // namespace
}  // namespace qmcli
