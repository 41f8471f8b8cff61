#include "engine/catalog/search.h"

#include <unicase.h>
#include <uninorm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "services/log.h"
#include "services/text.h"

namespace {

// UTF-8 to code points; a broken sequence counts as one U+FFFD.
std::u32string Decode(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<uint8_t>(text[i]);
    int extra = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      cp = b & 0x07;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    // A sequence cut short by the end of the text.
    bool ok = i + static_cast<size_t>(extra) < text.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const auto c = static_cast<uint8_t>(text[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += 1 + static_cast<size_t>(extra);
  }
  return out;
}

bool IsAscii(std::u32string_view text) {
  return std::all_of(text.begin(), text.end(), [](char32_t c) { return c < 0x80; });
}

// Unicode case folding (U+00DC and U+00FC, "STRASSE" and "straße" compare
// equal), composed into NFC so that a name stored decomposed matches a
// pattern typed composed. ASCII text takes the short way.
std::u32string FoldCase(std::u32string text) {
  if (IsAscii(text)) {
    for (char32_t& c : text)
      if (c >= 'A' && c <= 'Z') c |= 0x20;
    return text;
  }
  static_assert(sizeof(char32_t) == sizeof(uint32_t));
  size_t length = 0;
  uint32_t* folded = u32_casefold(reinterpret_cast<const uint32_t*>(text.data()), text.size(), nullptr,
                                  UNINORM_NFC, nullptr, &length);
  if (!folded) return text;  // out of memory: compare as given
  std::unique_ptr<uint32_t, decltype(&std::free)> owner(folded, &std::free);
  return std::u32string(reinterpret_cast<const char32_t*>(folded), length);
}

constexpr uint64_t kTicksPerSecond = 10000000ull;
// Seconds from 1601-01-01 to 9999-12-31: later times are left as they are.
constexpr uint64_t kLastSecond = 265046774399ull;

}  // namespace

bool WildcardMatch(std::string_view patternText, std::string_view nameText, bool ignoreCase) {
  const std::u32string pattern = ignoreCase ? FoldCase(Decode(patternText)) : Decode(patternText);
  const std::u32string name = ignoreCase ? FoldCase(Decode(nameText)) : Decode(nameText);
  size_t p = 0, n = 0;
  size_t star = std::u32string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      mark = n;
    } else if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::u32string::npos) {
      // Back to just after the last star, one character further on.
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

uint64_t ObjectTime(const CFoundObject& object, DateField field) {
  switch (field) {
    case DateField::Modification:
      return object.ModificationTime;
    case DateField::Access:
      return object.AccessTime;
    case DateField::Creation:
    default:
      return object.CreationTime;
  }
}

uint64_t ReduceLocalFileTime(uint64_t filetime, bool keepDate, bool keepTime) {
  const uint64_t seconds = filetime / kTicksPerSecond;
  if (seconds > kLastSecond) return filetime;
  const auto unixTime = static_cast<time_t>(static_cast<int64_t>(seconds) - 11644473600ll);
  struct tm local {};
  int64_t offset = 0;
  if (localtime_r(&unixTime, &local)) offset = local.tm_gmtoff;
  int64_t localSeconds = static_cast<int64_t>(seconds) + offset;
  if (localSeconds < 0) localSeconds = 0;
  const auto s = static_cast<uint64_t>(localSeconds);
  if (keepDate && keepTime) return s * kTicksPerSecond;
  if (keepDate) return s / 86400 * 86400 * kTicksPerSecond;
  if (keepTime) return s % 86400 * kTicksPerSecond;
  return 0;
}

// ---------------------------------------------------------------------------
// Search

void SearchCriteria::SetNamePattern(std::string_view text) {
  if (text.empty()) {
    NamePattern.assign(1, '*');  // GCC 12 at -O3 warns falsely (-Wrestrict) on = "*"
    return;
  }
  const std::u32string points = Decode(text);
  if (points.size() <= 2048) {
    NamePattern.assign(text);
    return;
  }
  // Cut at 2048 characters, on a character boundary.
  size_t i = 0, count = 0;
  while (i < text.size() && count < 2048) {
    ++i;
    while (i < text.size() && (static_cast<uint8_t>(text[i]) & 0xC0) == 0x80) ++i;
    ++count;
  }
  NamePattern.assign(text.substr(0, i));
}

void SearchCriteria::SetDateOption(int32_t option, uint64_t now, uint64_t from, uint64_t to) {
  Date = option;
  switch (option) {
    case DatePastWeek:
    case DatePastMonth:
    case DatePastYear: {
      const uint64_t days = option == DatePastWeek ? 7 : option == DatePastMonth ? 28 : 365;
      DateTo = now;
      DateFrom = now > days * kFileTimeDay ? now - days * kFileTimeDay : 0;
      break;
    }
    case DateSpecified:
      DateFrom = from;
      DateTo = to;
      break;
    default:
      Date = DateAny;
      DateFrom = DateTo = 0;
      break;
  }
}

void SearchCriteria::SetSizeOption(int32_t option, int32_t customValue, int32_t unitChoice,
                                   int32_t comparisonChoice) {
  Size = option;
  switch (option) {
    case SizeSmall:
      SizeLimit = 102400;
      SizeComparison = LessThan;
      break;
    case SizeMedium:
      SizeLimit = 1048576;
      SizeComparison = LessThan;
      break;
    case SizeLarge:
      SizeLimit = 1048576;
      SizeComparison = GreaterThan;
      break;
    case SizeSpecified: {
      CustomSizeValue = customValue;
      CustomSizeUnit = unitChoice;
      SizeComparison = std::clamp(comparisonChoice - 1, -1, 1);
      const uint64_t value = customValue > 0 ? static_cast<uint64_t>(customValue) : 0;
      SizeLimit = value * (unitChoice == UnitMB ? 1048576ull : 1024ull);
      break;
    }
    default:
      Size = SizeAny;
      SizeLimit = 0;
      return;
  }
  FilesOnly = true;
}

bool MatchesSearch(const SearchCriteria& c, const CFoundObject& object) {
  bool result = false;
  try {
    if (c.DeletedOnly && !object.IsDeleted()) return false;
    if (c.FilesOnly && object.IsFolder()) return false;
  } catch (...) {
    theLog().AddInternal("Filter.Except1");
  }
  try {
    if (!WildcardMatch(c.NamePattern, object.Name, true)) return false;
    result = true;
  } catch (...) {
    theLog().AddInternal("Filter.Except2");
  }
  try {
    if (c.DateTestOn()) {
      const auto time = static_cast<int64_t>(ObjectTime(object, c.DateSource));
      if (time < static_cast<int64_t>(c.DateFrom) || time > static_cast<int64_t>(c.DateTo)) return false;
      result = true;
    }
  } catch (...) {
    theLog().AddInternal("Filter.Except3");
  }
  try {
    if (c.SizeTestOn() && !object.IsFolder() && object.SizeKnown()) {
      bool pass;
      if (c.SizeComparison < 0)
        pass = object.Size < c.SizeLimit;
      else if (c.SizeComparison > 0)
        pass = object.Size > c.SizeLimit;
      else
        pass = object.Size == c.SizeLimit;
      if (!pass) return false;
      result = true;
    }
  } catch (...) {
    theLog().AddInternal("Filter.Except4");
  }
  return result;
}

CFindInFound::~CFindInFound() {
  Stop();
  Wait();
}

std::vector<CFoundObject*> CFindInFound::Run(const CFoundObjectTree& catalog, const SearchCriteria& criteria,
                                             const std::atomic<bool>* stop) {
  std::vector<CFoundObject*> matches;
  // The root folder record is the catalog's own, not something found.
  const CFoundObject* root = &const_cast<CFoundObjectTree&>(catalog).Root();
  for (CFoundObject* object : catalog.CopyObjects()) {
    if (stop && stop->load(std::memory_order_relaxed)) break;
    if (!object || IsSyntheticIdentity(object->ObjectID) || object == root) continue;
    if (MatchesSearch(criteria, *object)) matches.push_back(object);
  }
  return matches;
}

void CFindInFound::Start(CFoundObjectTree& catalog, const SearchCriteria& criteria,
                         std::function<void(const std::vector<CFoundObject*>&)> finished) {
  Stop();
  Wait();
  stop_ = false;
  running_ = true;
  {
    std::lock_guard lock(mutex_);
    results_.clear();
  }
  thread_ = std::thread([this, &catalog, criteria, finished = std::move(finished)] {
    std::vector<CFoundObject*> matches;
    try {
      matches = Run(catalog, criteria, &stop_);
    } catch (...) {
      theLog().AddInternal("CFindInFound::Search except");
    }
    {
      std::lock_guard lock(mutex_);
      results_ = matches;
    }
    if (finished) {
      try {
        finished(matches);
      } catch (...) {
      }
    }
    running_ = false;
  });
}

void CFindInFound::Stop() { stop_ = true; }

void CFindInFound::Wait() {
  if (thread_.joinable()) thread_.join();
}

std::vector<CFoundObject*> CFindInFound::Results() const {
  std::lock_guard lock(mutex_);
  return results_;
}

// ---------------------------------------------------------------------------
// View filter

namespace {

constexpr size_t kOffDeletedOnly = 20;
constexpr size_t kOffWildcardOn = 52;
constexpr size_t kOffDateOn = 56;
constexpr size_t kOffTimeOfDay = 60;
constexpr size_t kOffFileTypes = 80;
constexpr size_t kOffPattern = 120;
constexpr size_t kPatternUnits = (632 - 120) / 2;  // including the terminating zero
constexpr size_t kOffDateFrom = 632;
constexpr size_t kOffDateTo = 640;

uint32_t Get32(const std::vector<uint8_t>& r, size_t off) {
  return static_cast<uint32_t>(r[off]) | static_cast<uint32_t>(r[off + 1]) << 8 |
         static_cast<uint32_t>(r[off + 2]) << 16 | static_cast<uint32_t>(r[off + 3]) << 24;
}
uint64_t Get64(const std::vector<uint8_t>& r, size_t off) {
  return static_cast<uint64_t>(Get32(r, off)) | static_cast<uint64_t>(Get32(r, off + 4)) << 32;
}
void Put32(std::vector<uint8_t>& r, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) r[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& r, size_t off, uint64_t v) {
  for (int i = 0; i < 8; ++i) r[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

CViewFilter::CViewFilter() : raw_(kRecordSize, 0) {
  Put32(raw_, 8, 1);
  Put32(raw_, 48, 1);
  Put64(raw_, 656, ~0ull);
  Put64(raw_, 672, ~0ull);
}

void CViewFilter::ReadRecord(const uint8_t* bytes, size_t size) {
  raw_.assign(kRecordSize, 0);
  if (bytes) std::memcpy(raw_.data(), bytes, std::min(size, kRecordSize));
  DeletedOnly = Get32(raw_, kOffDeletedOnly) == 1;
  WildcardOn = Get32(raw_, kOffWildcardOn) == 1;
  DateOn = Get32(raw_, kOffDateOn) == 1;
  TimeOfDayMode = Get32(raw_, kOffTimeOfDay) == 1;
  FileTypes = static_cast<int32_t>(Get32(raw_, kOffFileTypes));
  size_t units = 0;
  while (units < kPatternUnits - 1 &&
         (raw_[kOffPattern + 2 * units] != 0 || raw_[kOffPattern + 2 * units + 1] != 0))
    ++units;
  Pattern = qm::Utf16LeBytesToUtf8(raw_.data() + kOffPattern, units);
  DateFrom = Get64(raw_, kOffDateFrom);
  DateTo = Get64(raw_, kOffDateTo);
  prepared_ = false;
}

std::vector<uint8_t> CViewFilter::WriteRecord() const {
  std::vector<uint8_t> r = raw_;
  Put32(r, kOffDeletedOnly, DeletedOnly ? 1 : 0);
  Put32(r, kOffWildcardOn, WildcardOn ? 1 : 0);
  Put32(r, kOffDateOn, DateOn ? 1 : 0);
  Put32(r, kOffTimeOfDay, TimeOfDayMode ? 1 : 0);
  Put32(r, kOffFileTypes, static_cast<uint32_t>(FileTypes));
  std::u16string text = qm::Utf8ToUtf16(Pattern);
  if (text.size() > kPatternUnits - 1) {
    text.resize(kPatternUnits - 1);
    // Never leave half a surrogate pair at the end.
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
  }
  std::memset(r.data() + kOffPattern, 0, kPatternUnits * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    r[kOffPattern + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    r[kOffPattern + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  Put64(r, kOffDateFrom, DateFrom);
  Put64(r, kOffDateTo, DateTo);
  return r;
}

CViewFilter::TimeMode CViewFilter::Mode() const {
  if (DateOn && TimeOfDayMode) return TimeMode::DateAndTime;
  if (DateOn) return TimeMode::DateOnly;
  if (TimeOfDayMode) return TimeMode::TimeOnly;
  return TimeMode::None;
}

namespace {
uint64_t Reduce(uint64_t t, int mode) {
  // mode: 1 date and time, 2 date only, 3 time of day only
  return ReduceLocalFileTime(t, mode != 3, mode != 2);
}
}  // namespace

void CViewFilter::Prepare() {
  const TimeMode mode = Mode();
  preparedFrom_ = DateFrom;
  preparedTo_ = DateTo;
  if (mode != TimeMode::None) {
    const int m = mode == TimeMode::DateAndTime ? 1 : mode == TimeMode::DateOnly ? 2 : 3;
    preparedFrom_ = Reduce(DateFrom, m);
    preparedTo_ = Reduce(DateTo, m);
  }
  prepared_ = true;
}

bool CViewFilter::IsFilteredOut(const CFoundObject* object) const {
  if (!object) return true;
  if (IsSyntheticIdentity(object->ObjectID)) return false;
  if (DeletedOnly && !(object->Flags & (FOF_DELETED | FOF_HAS_DELETED))) return true;
  bool failed = false;
  if (WildcardOn && !object->Name.empty() && !object->IsFolder())
    failed = !WildcardMatch(Pattern, object->Name, false);

  const TimeMode mode = Mode();
  const uint64_t time = ObjectTime(*object, DateSource);
  if (!failed && mode != TimeMode::None && time > 0) {
    uint64_t from = DateFrom, to = DateTo;
    const int m = mode == TimeMode::DateAndTime ? 1 : mode == TimeMode::DateOnly ? 2 : 3;
    if (prepared_) {
      from = preparedFrom_;
      to = preparedTo_;
    } else {
      from = Reduce(from, m);
      to = Reduce(to, m);
    }
    // The object's time is seen the same way as the bounds, so a file made
    // on the last day of a date range is inside it.
    const uint64_t t = Reduce(time, m);
    if (t > to || t < from) failed = true;
  }

  if (!failed && !object->IsFolder() && FileTypes != AllFiles) {
    const CFileType* type = theComputer().Signatures().FindTypeForObject(*object);
    if (FileTypes == KnownTypesOnly && !type) failed = true;
    if (FileTypes == CustomTypes && type && type->View == 0) failed = true;
  }
  return failed;
}
