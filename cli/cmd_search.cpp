// quillmore-cli search SOURCE: analyses the source's file system and lists
// the found objects that match the search criteria (name pattern, deleted
// only, files only, size, modification date).
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "cli/arguments.h"
#include "cli/catalog_output.h"
#include "cli/command.h"
#include "cli/number_parser.h"
#include "cli/partition_list.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/scan_run.h"
#include "cli/source.h"
#include "cli/terminal_text.h"
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
  static const char* const kComparisons[] = {"lt", "eq", "gt"};
  int comparison = 0;
  while (comparison < 3 && t.compare(0, 2, kComparisons[comparison]) != 0) ++comparison;
  if (comparison == 3) return false;
  uint64_t value = 0;
  bool megabytes = false;
  if (!ParseKilobytes(std::string_view(t).substr(3), value, megabytes) || value > 0x7FFFFFFF) return false;
  criteria.SetSizeOption(SearchCriteria::SizeSpecified, static_cast<int32_t>(value),
                         megabytes ? SearchCriteria::UnitMB : SearchCriteria::UnitKB, comparison);
  return true;
}

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS" (UTC) to FILETIME,
// written exactly so (no blanks, no signs). A date alone means the start of
// that day, or its last moment when `endOfDay` is set. False for any other
// text and for a date or time that does not exist ("2023-02-30", "25:00").
bool ParseTime(const std::string& text, bool endOfDay, uint64_t& out) {
  static const std::string kShape = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  auto field = [&](size_t at, size_t digits) {
    return at + digits <= text.size() ? std::stoi(text.substr(at, digits)) : 0;
  };
  const int y = field(0, 4), mo = field(5, 2), d = field(8, 2), h = field(11, 2), mi = field(14, 2), s = field(17, 2);
  if (y < 1601 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
  struct tm t {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  const time_t seconds = timegm(&t);
  // timegm moves an impossible date on ("2023-02-30" to March 2nd): such a
  // date is refused, not taken for another.
  if (t.tm_mday != d || t.tm_mon != mo - 1 || seconds < -11644473600ll) return false;
  out = static_cast<uint64_t>(seconds + 11644473600ll) * 10000000ull;
  if (text.size() == 10 && endOfDay) out += kFileTimeDay - 1;
  return true;
}

// Sets the date criteria from --modified; on a fault returns why.
std::string ParseModified(const std::string& text, SearchCriteria& criteria) {
  const uint64_t now = qm::CurrentFileTime();
  criteria.DateSource = DateField::Modification;
  static const std::pair<const char*, int> kRecent[] = {
      {"week", SearchCriteria::DatePastWeek}, {"month", SearchCriteria::DatePastMonth}, {"year", SearchCriteria::DatePastYear}};
  for (const auto& [word, option] : kRecent) {
    if (text != word) continue;
    criteria.SetDateOption(option, now);
    return {};
  }
  const std::string kForm = "--modified takes week, month, year or FROM..TO (YYYY-MM-DD[THH:MM[:SS]], UTC; "
                            "either end may be left out)";
  const size_t dots = text.find("..");
  if (dots == std::string::npos) return kForm + ", not " + Quoted(text);
  const std::string fromText = text.substr(0, dots);
  const std::string toText = text.substr(dots + 2);
  uint64_t from = 1, to = 0x7FFFFFFFFFFFFFFFull;  // an open end reaches as far as times go
  for (const auto& [part, endOfDay, value] : {std::tuple(fromText, false, &from), std::tuple(toText, true, &to)}) {
    if (!part.empty() && !ParseTime(part, endOfDay, *value))
      return "--modified: " + Quoted(part) + " is no date (YYYY-MM-DD[THH:MM[:SS]]) or a date that does not exist";
  }
  if (from > to) return "--modified: the range " + Quoted(text) + " ends before it starts";
  criteria.SetDateOption(SearchCriteria::DateSpecified, now, from, to);
  return {};
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
    return ReportUsage("search", "--size takes small, medium, large, lt:KB, eq:KB or gt:KB (KB or MB after the "
                                 "number), not " + Quoted(*v));
  if (const std::string* v = line.Value("--modified")) {
    const std::string why = ParseModified(*v, criteria);
    if (!why.empty()) return ReportUsage("search", why);
  }

  CVolume* source = StartAndOpenSource(line.source);
  if (!source) return EXIT_FAILED;
  std::vector<SourcePart> parts;
  if (!SelectWorkVolumes(source, line, parts)) return EXIT_USAGE;

  // One array (or table) for every volume of a whole disk; each match names
  // its volume.
  FoundObjectOutput out(json);
  for (const SourcePart& part : parts) {
    CVolume* volume = part.volume;
    const bool complete = scan ? RunFullAnalysis(volume) : RunFileSystemAnalysis(volume);
    if (!complete) ReportNote("analysis stopped: searching what was found so far");
    CFoundObjectTree& catalog = volume->Catalog();
    out.Add(catalog, CFindInFound::Run(catalog, criteria, nullptr), part.title.empty() ? line.source : part.title,
            part.title);
  }
  out.Finish("object(s) found.");
  if (out.Count() == 0) {
    const std::string text = GetString(182);
    return ReportNothingFound(text.empty() ? "No files found" : text);
  }
  return EXIT_OK;
}

constexpr const char* kHelpText =
    R"(Reads the file system of SOURCE and lists the files and folders that match
every criterion given, as a table (Name, Size, Type, Modified, In Folder).
On a terminal long names are cut with "..."; piped, they are printed whole.

Options:
  --name PATTERN    the file name matches PATTERN: "*" stands for any run of
                    characters, "?" for one; case is ignored for every
                    alphabet ('*.JPG', '*müller*', 'снег*'). Quote it.
  --deleted-only    deleted objects only
  --files-only      files only, no folders
  --size SIZE       small: under 100 KB;  medium: under 1 MB;  large: over
                    1 MB;  lt:N under N KB;  gt:N over N KB;  eq:N exactly
                    N KB (N x 1024 bytes, so eq:4 matches a 4096-byte file).
                    Put MB after N for megabytes (gt:20MB). Folders and
                    files of unknown size are left out by a size criterion.
  --modified WHEN   modified in the past week (7 days), month (28 days) or
                    year (365 days), or in FROM..TO, each end YYYY-MM-DD or
                    YYYY-MM-DDTHH:MM[:SS] in UTC; a date alone as TO means
                    the end of that day. Either end may be left out:
                    2024-01-01.. (from then on), ..2023-12-31 (up to then).
                    Dates that do not exist and ranges that end before they
                    start are refused.
  --scan            also scan every sector for lost files, and search them
  --json            print a JSON array of the matches
  --partition N     only partition N of a whole disk, as `quillmore-cli
                    partitions` numbers them (without it, every volume in turn)

Exit status: 0 something matched; 1 nothing matched, or an error; 2 bad
usage.
)";

const CliCommandRegistrar kRegistrar({"search", kUsage,
                                      "list the found files and folders that match name, size, date and deleted state "
                                      "(exit 1 when nothing matches)",
                                      RunSearch, kHelpText});

}  // namespace
}  // namespace qmcli
