#include "engine/catalog/search.h"

#include <cstring>
#include <ctime>

#include "engine/scanner/file_signature_database.h"
#include "platform/system.h"
#include "services/text.h"
#include "tests/engine/catalog/catalog_fixture.h"

using cattest::CatalogTest;

namespace {

CFoundObject File(const char* name, uint64_t size = 10, uint16_t flags = 0) {
  CFoundObject o;
  o.ObjectID = 100;
  o.SetName(name);
  o.Size = size;
  o.Flags |= flags;
  return o;
}

// FILETIME of a UTC calendar time.
uint64_t Ft(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<uint64_t>(timegm(&t) + 11644473600ll) * 10000000ull;
}

}  // namespace

TEST(WildcardMatch, StarsQuestionMarksAndCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool ignoreCase;
    bool expected;
  } cases[] = {
      {"*", "", true, true},
      {"*", "anything.txt", false, true},
      {"", "", false, true},
      {"", "a", false, false},
      {"*.DOC", "report.doc", true, true},
      {"*.DOC", "report.doc", false, false},
      {"*.doc", "report.doc", false, true},
      {"*.doc", "report.docx", true, false},
      {"rep?rt.*", "report.doc", false, true},
      {"rep?rt.*", "repot.doc", false, false},
      {"?", "", false, false},
      {"a*b*c", "axxbyyc", false, true},
      {"a*b*c", "axxbyy", false, false},
      {"*ab", "aab", false, true},           // the star has to give a character back
      {"*aab", "aaab", false, true},
      {"a**", "a", false, true},             // a trailing run of stars matches nothing too
      {"**a", "ba", false, true},
      {"abc", "ABC", true, true},
      {"abc", "ABC", false, false},
      {"[", "{", true, false},               // only letters fold
      {"@", "`", true, false},
      {"caf?.txt", "café.txt", false, true}, // "?" is one character, not one byte
      {"CAFÉ", "café", true, true},          // case folds over all of Unicode
      {"CAFÉ", "café", false, false},
      {"*MÜLLER*", "Brief an Müller.txt", true, true},
      {"СНЕГ*", "снег.jpg", true, true},
      {"ΣΟΦΙΑ.TXT", "σοφια.txt", true, true},
      {"straße", "STRASSE", true, true},      // full folding: ß is "ss"
      {"café", "cafe\xCC\x81", true, true},  // decomposed é matches composed
      {"*Ü*", "u", true, false},
      {"*é*", "résumé", false, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WildcardMatch(c.pattern, c.name, c.ignoreCase), c.expected)
        << c.pattern << " / " << c.name << " ignoreCase=" << c.ignoreCase;
  // Broken UTF-8 never crashes and matches itself through "*".
  EXPECT_TRUE(WildcardMatch("*", std::string("\xC3\x28\xFF", 3), false));
  EXPECT_TRUE(WildcardMatch("?", std::string("\xE2\x82", 2), false) ||
              WildcardMatch("??", std::string("\xE2\x82", 2), false));
}

TEST(SearchCriteria, NameFieldAndGroups) {
  SearchCriteria c;
  c.SetNamePattern("");
  EXPECT_EQ(c.NamePattern, "*");
  EXPECT_TRUE(MatchesSearch(c, File("x")));
  CFoundObject folder = File("dir", 0, FOF_FOLDER);
  EXPECT_TRUE(MatchesSearch(c, folder));

  c.SetNamePattern("*.DOC");
  EXPECT_TRUE(MatchesSearch(c, File("report.doc")));
  EXPECT_FALSE(MatchesSearch(c, File("report.txt")));

  c.SetNamePattern("*");
  c.DeletedOnly = true;
  EXPECT_FALSE(MatchesSearch(c, File("live.txt")));
  EXPECT_TRUE(MatchesSearch(c, File("gone.txt", 10, FOF_DELETED)));
  c.DeletedOnly = false;
  c.FilesOnly = true;
  EXPECT_FALSE(MatchesSearch(c, folder));

  c.SetNamePattern(std::string(3000, 'a'));
  EXPECT_EQ(c.NamePattern.size(), 2048u);
}

TEST(SearchCriteria, EverySizeOption) {
  SearchCriteria c;
  c.SetSizeOption(SearchCriteria::SizeSmall);
  EXPECT_TRUE(c.FilesOnly);
  EXPECT_TRUE(MatchesSearch(c, File("a", 102399)));
  EXPECT_FALSE(MatchesSearch(c, File("a", 102400)));
  EXPECT_FALSE(MatchesSearch(c, File("dir", 0, FOF_FOLDER)));  // folders never, once a size is chosen
  EXPECT_TRUE(MatchesSearch(c, File("a", SIZE_UNKNOWN)));     // unknown sizes pass

  c.SetSizeOption(SearchCriteria::SizeMedium);
  EXPECT_TRUE(MatchesSearch(c, File("a", 1048575)));
  EXPECT_FALSE(MatchesSearch(c, File("a", 1048576)));

  c.SetSizeOption(SearchCriteria::SizeLarge);
  EXPECT_FALSE(MatchesSearch(c, File("a", 1048576)));
  EXPECT_TRUE(MatchesSearch(c, File("a", 1048577)));

  // Custom: value, unit (KB, MB) and comparison (less, equal, greater).
  c.SetSizeOption(SearchCriteria::SizeSpecified, 10, SearchCriteria::UnitKB, 0);
  EXPECT_EQ(c.SizeLimit, 10240u);
  EXPECT_EQ(c.SizeComparison, -1);
  EXPECT_TRUE(MatchesSearch(c, File("a", 10239)));
  EXPECT_FALSE(MatchesSearch(c, File("a", 10240)));
  c.SetSizeOption(SearchCriteria::SizeSpecified, 10, SearchCriteria::UnitKB, 1);
  EXPECT_TRUE(MatchesSearch(c, File("a", 10240)));
  EXPECT_FALSE(MatchesSearch(c, File("a", 10241)));
  c.SetSizeOption(SearchCriteria::SizeSpecified, 2, SearchCriteria::UnitMB, 2);
  EXPECT_EQ(c.SizeLimit, 2097152u);
  EXPECT_FALSE(MatchesSearch(c, File("a", 2097152)));
  EXPECT_TRUE(MatchesSearch(c, File("a", 2097153)));

  c.SetSizeOption(SearchCriteria::SizeAny);
  EXPECT_FALSE(c.SizeTestOn());
  EXPECT_TRUE(MatchesSearch(c, File("a", 5000000)));
}

TEST(SearchCriteria, EveryDateOption) {
  const uint64_t now = Ft(2024, 6, 30, 12);
  const uint64_t hour = 36000000000ull;
  SearchCriteria c;
  auto created = [](uint64_t t) {
    CFoundObject o = File("a");
    o.CreationTime = t;
    return o;
  };

  c.SetDateOption(SearchCriteria::DatePastWeek, now);
  EXPECT_EQ(c.DateTo, now);
  EXPECT_EQ(c.DateFrom, now - 7 * kFileTimeDay);
  EXPECT_TRUE(MatchesSearch(c, created(now - 7 * kFileTimeDay + hour)));
  EXPECT_FALSE(MatchesSearch(c, created(now - 7 * kFileTimeDay - hour)));
  EXPECT_FALSE(MatchesSearch(c, created(now + hour)));
  EXPECT_TRUE(MatchesSearch(c, created(now)));

  c.SetDateOption(SearchCriteria::DatePastMonth, now);
  EXPECT_EQ(c.DateFrom, now - 28 * kFileTimeDay);
  EXPECT_TRUE(MatchesSearch(c, created(now - 27 * kFileTimeDay)));
  EXPECT_FALSE(MatchesSearch(c, created(now - 29 * kFileTimeDay)));

  c.SetDateOption(SearchCriteria::DatePastYear, now);
  EXPECT_EQ(c.DateFrom, now - 365 * kFileTimeDay);
  EXPECT_TRUE(MatchesSearch(c, created(now - 364 * kFileTimeDay)));
  EXPECT_FALSE(MatchesSearch(c, created(now - 366 * kFileTimeDay)));

  c.SetDateOption(SearchCriteria::DateSpecified, now, Ft(2020, 1, 1), Ft(2020, 12, 31));
  EXPECT_TRUE(MatchesSearch(c, created(Ft(2020, 5, 5))));
  EXPECT_FALSE(MatchesSearch(c, created(Ft(2021, 1, 1, 0, 0, 1))));
  EXPECT_FALSE(MatchesSearch(c, created(0)));  // no time recorded: outside every range

  // The search compares the creation time unless told otherwise.
  CFoundObject o = created(Ft(2019, 1, 1));
  o.ModificationTime = Ft(2020, 6, 1);
  EXPECT_FALSE(MatchesSearch(c, o));
  c.DateSource = DateField::Modification;
  EXPECT_TRUE(MatchesSearch(c, o));

  c.SetDateOption(SearchCriteria::DateAny, now);
  EXPECT_FALSE(c.DateTestOn());
  EXPECT_TRUE(MatchesSearch(c, created(0)));

  // "In the past week" from the real clock.
  c.DateSource = DateField::Creation;
  c.SetDateOption(SearchCriteria::DatePastWeek, qm::CurrentFileTime());
  EXPECT_TRUE(MatchesSearch(c, created(qm::CurrentFileTime() - kFileTimeDay)));
}

TEST_F(CatalogTest, SearchThreadWalksTheOwnedObjectsAndStops) {
  StartFileSystem(2);
  catalog().AddObject(Record(10, 2, "docs", FOF_FOLDER));
  catalog().AddObject(Record(11, 10, "a.doc", 0, 0, 100));
  catalog().AddObject(Record(12, 10, "b.DOC", FOF_DELETED, 0, 100));
  catalog().AddObject(Record(13, 10, "c.txt", 0, 0, 100));

  SearchCriteria c;
  c.SetNamePattern("*.doc");
  CFindInFound search;
  std::vector<CFoundObject*> seen;
  search.Start(catalog(), c, [&seen](const std::vector<CFoundObject*>& m) { seen = m; });
  search.Wait();
  EXPECT_FALSE(search.Running());
  ASSERT_EQ(search.Results().size(), 2u);
  EXPECT_EQ(seen, search.Results());

  // Everything: no synthetic records (the volume, the root) in the list, but
  // an empty file of the FAT root directory (identity -1) is a real file.
  catalog().AddObject(Record(-1, 2, "empty.txt", 0, 0, 0));
  c.SetNamePattern("");
  EXPECT_EQ(CFindInFound::Run(catalog(), c, nullptr).size(), 5u);

  // A set stop field ends the walk at once.
  std::atomic<bool> stop{true};
  EXPECT_TRUE(CFindInFound::Run(catalog(), c, &stop).empty());
}

TEST(ViewFilter, RecordLayoutAndDefaults) {
  CViewFilter f;
  std::vector<uint8_t> r = f.WriteRecord();
  ASSERT_EQ(r.size(), 728u);
  EXPECT_EQ(r[8], 1);
  EXPECT_EQ(r[48], 1);
  EXPECT_EQ(r[120], '*');
  EXPECT_EQ(r[121], 0);
  EXPECT_EQ(r[122], 0);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(r[632 + i], 0);
    EXPECT_EQ(r[640 + i], 0xFF);
    EXPECT_EQ(r[656 + i], 0xFF);
    EXPECT_EQ(r[672 + i], 0xFF);
  }

  r[20] = 1;
  r[52] = 1;
  r[56] = 1;
  r[60] = 1;
  r[80] = 2;
  const char16_t pattern[] = u"*.jpg";
  std::memset(r.data() + 120, 0, 512);
  for (int i = 0; i < 5; ++i) r[120 + 2 * i] = static_cast<uint8_t>(pattern[i]);
  r[632] = 0x34;
  r[700] = 0x77;  // a field the test does not use
  CViewFilter g;
  g.ReadRecord(r.data(), r.size());
  EXPECT_TRUE(g.DeletedOnly);
  EXPECT_TRUE(g.WildcardOn);
  EXPECT_TRUE(g.DateOn);
  EXPECT_TRUE(g.TimeOfDayMode);
  EXPECT_EQ(g.FileTypes, 2);
  EXPECT_EQ(g.Pattern, "*.jpg");
  EXPECT_EQ(g.DateFrom, 0x34u);
  EXPECT_EQ(g.DateTo, ~0ull);
  EXPECT_EQ(g.WriteRecord(), r);

  // A pattern without terminator, a short record: read as far as they go.
  std::vector<uint8_t> full(728, 0x41);
  g.ReadRecord(full.data(), full.size());
  EXPECT_EQ(qm::Utf8ToUtf16(g.Pattern).size(), 255u);
  g.ReadRecord(r.data(), 100);
  EXPECT_EQ(g.Pattern, "");
  EXPECT_TRUE(g.WildcardOn);
  EXPECT_EQ(g.DateTo, 0u);
  g.Pattern = std::string(400, 'x');
  EXPECT_EQ(g.WriteRecord().size(), 728u);
}

TEST_F(CatalogTest, DeletedOnlyKeepsFoldersThatHoldDeletedObjects) {
  StartFileSystem(2);
  CFoundObject* live = catalog().AddObject(Record(10, 2, "live", FOF_FOLDER));
  CFoundObject* holder = catalog().AddObject(Record(11, 2, "holder", FOF_FOLDER));
  CFoundObject* gone = catalog().AddObject(Record(12, 11, "gone.txt", FOF_DELETED, 0, 5));
  CFoundObject* kept = catalog().AddObject(Record(13, 11, "kept.txt", 0, 0, 5));
  catalog().MarkDeletedPath(gone);

  CViewFilter f;
  f.DeletedOnly = true;
  f.Prepare();
  EXPECT_TRUE(f.IsFilteredOut(live));
  EXPECT_FALSE(f.IsFilteredOut(holder));
  EXPECT_FALSE(f.IsFilteredOut(gone));
  EXPECT_TRUE(f.IsFilteredOut(kept));
  EXPECT_FALSE(f.IsFilteredOut(&catalog().LostFiles()));  // synthetic folders always show
  CFoundObject* emptyRootFile = catalog().AddObject(Record(-1, 2, "empty.txt", 0, 0, 0));
  EXPECT_TRUE(f.IsFilteredOut(emptyRootFile));
  EXPECT_TRUE(f.IsFilteredOut(nullptr));
}

TEST(ViewFilter, WildcardInExactCaseAndFileTypes) {
  CViewFilter f;
  f.WildcardOn = true;
  f.Pattern = "*.DOC";
  f.Prepare();
  CFoundObject doc = File("report.doc");
  EXPECT_TRUE(f.IsFilteredOut(&doc));
  CFoundObject upper = File("REPORT.DOC");
  EXPECT_FALSE(f.IsFilteredOut(&upper));
  CFoundObject folder = File("folder", 0, FOF_FOLDER);
  EXPECT_FALSE(f.IsFilteredOut(&folder));  // folders are not matched against the pattern

  static const CFileType& viewed = [] () -> const CFileType& {
    CFileType t;
    t.Id = 3201;
    t.FileExtensions = "qview";
    t.View = 1;
    return theComputer().Signatures().AddTypeForTest(t);
  }();
  static const CFileType& hidden = [] () -> const CFileType& {
    CFileType t;
    t.Id = 3202;
    t.FileExtensions = "qhide";
    t.View = 0;
    return theComputer().Signatures().AddTypeForTest(t);
  }();
  (void)viewed;
  (void)hidden;
  CViewFilter types;
  CFoundObject known = File("a.qview");
  CFoundObject off = File("b.qhide");
  CFoundObject unknown = File("c.qnothing");
  types.FileTypes = CViewFilter::KnownTypesOnly;
  EXPECT_FALSE(types.IsFilteredOut(&known));
  EXPECT_FALSE(types.IsFilteredOut(&off));
  EXPECT_TRUE(types.IsFilteredOut(&unknown));
  EXPECT_FALSE(types.IsFilteredOut(&folder));
  types.FileTypes = CViewFilter::CustomTypes;
  EXPECT_FALSE(types.IsFilteredOut(&known));
  EXPECT_TRUE(types.IsFilteredOut(&off));
  EXPECT_FALSE(types.IsFilteredOut(&unknown));
}

TEST(ViewFilter, DateAndTimeOfDayModes) {
  // Local-time arithmetic is checked in a fixed zone.
  const char* old = getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();

  auto created = [](uint64_t t) {
    CFoundObject o = File("a");
    o.CreationTime = t;
    return o;
  };
  CViewFilter f;
  f.DateOn = true;
  f.DateFrom = Ft(2023, 3, 1, 15);
  f.DateTo = Ft(2023, 3, 10, 9);
  f.Prepare();
  CFoundObject lastDay = created(Ft(2023, 3, 10, 18));  // later that day than "to": the day counts
  CFoundObject firstDay = created(Ft(2023, 3, 1, 8));
  CFoundObject after = created(Ft(2023, 3, 11, 0, 0, 1));
  CFoundObject before = created(Ft(2023, 2, 28, 23));
  CFoundObject unknown = created(0);
  EXPECT_FALSE(f.IsFilteredOut(&lastDay));
  EXPECT_FALSE(f.IsFilteredOut(&firstDay));
  EXPECT_TRUE(f.IsFilteredOut(&after));
  EXPECT_TRUE(f.IsFilteredOut(&before));
  EXPECT_FALSE(f.IsFilteredOut(&unknown));

  // Date and time: the bounds keep their time of day.
  f.TimeOfDayMode = true;
  f.Prepare();
  EXPECT_TRUE(f.IsFilteredOut(&lastDay));
  EXPECT_TRUE(f.IsFilteredOut(&firstDay));
  CFoundObject inside = created(Ft(2023, 3, 5, 1));
  EXPECT_FALSE(f.IsFilteredOut(&inside));

  // Times of day only: any date, between 09:00 and 17:00.
  CViewFilter t;
  t.TimeOfDayMode = true;
  t.DateFrom = Ft(2000, 1, 1, 9);
  t.DateTo = Ft(2000, 1, 1, 17);
  t.Prepare();
  CFoundObject morning = created(Ft(2022, 7, 4, 10, 30));
  CFoundObject night = created(Ft(2022, 7, 4, 23));
  EXPECT_FALSE(t.IsFilteredOut(&morning));
  EXPECT_TRUE(t.IsFilteredOut(&night));

  // In another zone the day boundary moves with local time.
  setenv("TZ", "EST5", 1);
  tzset();
  CViewFilter z;
  z.DateOn = true;
  z.DateFrom = Ft(2023, 3, 2, 12);
  z.DateTo = Ft(2023, 3, 2, 12);
  z.Prepare();
  CFoundObject earlyUtc = created(Ft(2023, 3, 3, 3));  // 22:00 on the 2nd in local time
  EXPECT_FALSE(z.IsFilteredOut(&earlyUtc));

  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}
