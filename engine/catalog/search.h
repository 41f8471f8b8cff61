// Narrowing the found objects of a volume: the search over a whole catalog
// (criteria, MatchesSearch, the search thread) and the view filter that the
// folder and file views apply to each object they show. Both use the same
// wildcard match, the search ignoring case and the filter in exact case.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/catalog/found_object.h"

class CFoundObjectTree;

// "*" matches any run of characters, "?" any one character (a character is
// one code point of the UTF-8 text); the whole name must match. With
// ignoreCase both sides are case-folded over all of Unicode ("*MÜLLER*"
// finds "Brief an Müller.txt", "СНЕГ*" finds "снег.jpg") and composed to
// NFC first.
bool WildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase);

// Which time of an object the date tests look at. The search pane and the
// view filter compare the creation time; the command line's --modified asks
// for the modification time.
enum class DateField { Creation, Modification, Access };
uint64_t ObjectTime(const CFoundObject& object, DateField field);

constexpr uint64_t kFileTimeDay = 864000000000ull;  // 100-ns units in one day

struct SearchCriteria {
  enum DateOption { DateAny = 0, DatePastWeek = 1, DatePastMonth = 2, DatePastYear = 3, DateSpecified = 4 };
  enum SizeOption { SizeAny = 0, SizeSmall = 1, SizeMedium = 2, SizeLarge = 3, SizeSpecified = 4 };
  enum SizeUnit { UnitKB = 0, UnitMB = 1 };
  enum Comparison { LessThan = -1, EqualTo = 0, GreaterThan = 1 };

  std::string NamePattern = "*";  // at most 2048 characters
  int32_t Date = DateAny;
  uint64_t DateFrom = 0;
  uint64_t DateTo = 0;
  DateField DateSource = DateField::Creation;
  int32_t Size = SizeAny;
  uint64_t SizeLimit = 0;
  int32_t SizeComparison = LessThan;
  int32_t CustomSizeValue = 0;
  int32_t CustomSizeUnit = UnitKB;
  bool DeletedOnly = false;
  bool FilesOnly = false;

  bool DateTestOn() const { return Date != DateAny; }
  bool SizeTestOn() const { return Size != SizeAny; }

  // The name field: empty input searches with "*"; longer than 2048
  // characters is cut.
  void SetNamePattern(std::string_view text);
  // Options 1 to 3 end at `now` (FILETIME) and reach back 7, 28 or 365
  // days; option 4 takes `from` and `to`; 0 switches the date test off.
  void SetDateOption(int32_t option, uint64_t now, uint64_t from = 0, uint64_t to = 0);
  // Options 1 to 3 as their labels say (100 KB, 1 MB); option 4 takes a
  // value, a unit choice (0 KB, 1 MB) and a comparison choice (0 less than,
  // 1 equal to, 2 greater than). Any option but 0 also sets FilesOnly.
  void SetSizeOption(int32_t option, int32_t customValue = 0, int32_t unitChoice = UnitKB,
                     int32_t comparisonChoice = 0);
};

// True when the object belongs in the search's result list.
bool MatchesSearch(const SearchCriteria& criteria, const CFoundObject& object);

// The search of the search pane: walks the owned objects of one catalog on a
// thread of its own and collects the matches. One search at a time; Start
// while one runs stops it first.
class CFindInFound {
public:
  CFindInFound() = default;
  ~CFindInFound();
  CFindInFound(const CFindInFound&) = delete;
  CFindInFound& operator=(const CFindInFound&) = delete;

  // `finished` runs on the search thread at its end with the matches (the
  // pane shows "No files found" when the list is empty and enables its
  // button again).
  void Start(CFoundObjectTree& catalog, const SearchCriteria& criteria,
             std::function<void(const std::vector<CFoundObject*>&)> finished = nullptr);
  // Sets the stop field; the thread ends at its next object.
  void Stop();
  // Waits for the thread to end.
  void Wait();
  bool Running() const { return running_.load(); }
  std::vector<CFoundObject*> Results() const;

  // The search itself, on the calling thread (also used by the thread).
  static std::vector<CFoundObject*> Run(const CFoundObjectTree& catalog, const SearchCriteria& criteria,
                                        const std::atomic<bool>* stop);

private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  mutable std::mutex mutex_;
  std::vector<CFoundObject*> results_;
};

// The view filter: the fields of the 728-byte filter record that decide
// which objects the views show.
class CViewFilter {
public:
  static constexpr size_t kRecordSize = 728;
  enum FileTypeChoice { AllFiles = 0, KnownTypesOnly = 1, CustomTypes = 2 };

  CViewFilter();  // the record's defaults

  // Reads the record (shorter input leaves the rest at zero); unknown
  // fields are kept and written back unchanged.
  void ReadRecord(const uint8_t* bytes, size_t size);
  std::vector<uint8_t> WriteRecord() const;

  // Turns the stored bounds into the compared form once, before the views
  // apply the filter (local time; dates only, or times of day only, as the
  // modes say).
  void Prepare();
  // True to hide the object.
  bool IsFilteredOut(const CFoundObject* object) const;

  bool DeletedOnly = false;
  bool WildcardOn = false;
  bool DateOn = false;
  bool TimeOfDayMode = false;
  int32_t FileTypes = AllFiles;
  std::string Pattern = "*";  // at most 255 UTF-16 units in the record
  uint64_t DateFrom = 0;
  uint64_t DateTo = ~0ull;
  DateField DateSource = DateField::Creation;

private:
  enum class TimeMode { None, DateAndTime, DateOnly, TimeOnly };
  TimeMode Mode() const;
  std::vector<uint8_t> raw_;
  uint64_t preparedFrom_ = 0;
  uint64_t preparedTo_ = ~0ull;
  bool prepared_ = false;
};

// A FILETIME seen in the local time zone with parts cleared, as the view
// filter compares it: milliseconds cleared (keepDate and keepTime), the time
// of day cleared (keepDate only) or the date cleared (keepTime only).
uint64_t ReduceLocalFileTime(uint64_t filetime, bool keepDate, bool keepTime);
