// The log: tags, time stamps, the UTF-16LE log file, its switch-off, the
// pane message, the export file, and lines from many threads at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/log.h"
#include "services/text.h"
#include "tests/support/test_support.h"

namespace {

class RecordingTarget : public IMessageTarget {
public:
  void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex);
    posted.push_back({message, wParam, lParam});
  }
  intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex);
    sent.push_back({message, wParam, lParam});
    return 0;
  }
  struct Msg {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::mutex mutex;
  std::vector<Msg> posted, sent;
};

// The file's bytes as UTF-16 code units (little-endian).
std::u16string ReadUtf16(const std::string& path) {
  auto bytes = qmtest::ReadFileBytes(path);
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return out;
}

class LogTest : public ::testing::Test {
protected:
  void SetUp() override {
    app.Settings.SetDefaults();
    dir = qmtest::MakeTempDir("qm-log");
    logPath = dir + "/test.log";
    CSettings::SetText(app.Settings.LogFileName, 1024, logPath);
  }
  void TearDown() override {
    app.LogWindow = nullptr;
    app.MainWindow = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  CApp app;
  std::string dir, logPath;
};

TEST_F(LogTest, KindsCarryTheirTags) {
  CLog log(app);
  log.AddDebug("a");
  log.AddError("b");
  log.AddMessage("c");
  log.AddLine(LOG_CRITICAL, "d");
  log.AddInternal("e");
  log.AddLine(3, "f");  // any other code: untagged
  log.Error("Volume %s at position %I64d", "x", uint64_t{1} << 40);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"DBG: a", "ERR: b", "c", "CRITICALERR: d", "e", "f",
                                                   "ERR: Volume x at position 1099511627776"}));
}

TEST_F(LogTest, TimeStampedLinesCarryLocalDateAndTime) {
  app.Settings.LogTimeStamps = 1;
  CLog log(app);
  log.AddError("boom");
  log.AddMessage("note");
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u);
  const std::string suffix = " - ERR: boom";
  ASSERT_GT(lines[0].size(), suffix.size());
  EXPECT_EQ(lines[0].substr(lines[0].size() - suffix.size()), suffix);
  const std::string stamp = lines[0].substr(0, lines[0].size() - suffix.size());
  EXPECT_NE(stamp.find(' '), std::string::npos);  // date, blank, time
  EXPECT_EQ(stamp.size(), CLog::FormatTimeStamp(qm::CurrentFileTime()).size());
  EXPECT_NE(lines[1].find(" - note"), std::string::npos);
}

TEST_F(LogTest, FileIsUtf16LeWithCrLfAndNoByteOrderMark) {
  app.Settings.LogToFile = 1;
  {
    CLog log(app);
    EXPECT_TRUE(log.FileOpen());
    log.AddError("Größe 😀");
    log.AddMessage("two");
  }
  auto bytes = qmtest::ReadFileBytes(logPath);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_FALSE(bytes[0] == 0xFF && bytes[1] == 0xFE);
  EXPECT_EQ(ReadUtf16(logPath), u"ERR: Größe 😀\r\ntwo\r\n");
  EXPECT_EQ(bytes[0], 'E');
  EXPECT_EQ(bytes[1], 0);
}

TEST_F(LogTest, ClearLogOnStartTruncatesElseAppends) {
  app.Settings.LogToFile = 1;
  { CLog log(app); log.AddMessage("first run"); }
  app.Settings.ClearLogOnStart = 0;
  { CLog log(app); log.AddMessage("second run"); }
  EXPECT_EQ(ReadUtf16(logPath), u"first run\r\nsecond run\r\n");
  app.Settings.ClearLogOnStart = 1;
  { CLog log(app); }  // emptied at start-up even with no line
  EXPECT_TRUE(qmtest::ReadFileBytes(logPath).empty());
}

TEST_F(LogTest, FileStaysWithinMaxLogSizeKeepingTheNewestWholeLines) {
  app.Settings.LogToFile = 1;
  app.Settings.MaxLogSizeKB = 1;
  {
    CLog log(app);
    for (int i = 0; i < 200; ++i) {
      log.AddMessage("line " + std::to_string(i));
      ASSERT_LE(qmtest::ReadFileBytes(logPath).size(), 1024u) << "after line " << i;
    }
    // Every line stays in memory; only the file is kept short.
    EXPECT_EQ(log.LineCount(), 200u);
  }
  const std::u16string text = ReadUtf16(logPath);
  // Whole lines, the newest last, the oldest ones gone.
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(0, 5), u"line ");
  EXPECT_EQ(text.substr(text.size() - 10), u"line 199\r\n");
  EXPECT_EQ(text.find(u"line 0\r\n"), std::u16string::npos);

  // A file left larger by an earlier run (appended to, not cleared) is cut
  // at the first line written.
  app.Settings.ClearLogOnStart = 0;
  app.Settings.MaxLogSizeKB = 10240;
  {
    CLog log(app);
    for (int i = 0; i < 100; ++i) log.AddMessage(std::string(100, 'x'));
  }
  EXPECT_GT(qmtest::ReadFileBytes(logPath).size(), 2048u);
  app.Settings.MaxLogSizeKB = 2;
  {
    CLog log(app);
    log.AddMessage("after");
  }
  const std::u16string cut = ReadUtf16(logPath);
  EXPECT_LE(cut.size() * 2, 2048u);
  EXPECT_EQ(cut.substr(0, 100), std::u16string(100, u'x'));
  EXPECT_EQ(cut.substr(cut.size() - 7), u"after\r\n");
}

TEST_F(LogTest, SwitchingLogToFileOnLaterOpensAtTheNextLine) {
  CLog log(app);
  log.AddMessage("before");
  EXPECT_FALSE(std::filesystem::exists(logPath));
  app.Settings.LogToFile = 1;
  log.AddMessage("after");
  app.Settings.LogToFile = 0;  // once open, the file stays in use
  log.AddMessage("still");
  EXPECT_EQ(ReadUtf16(logPath), u"after\r\nstill\r\n");
}

TEST_F(LogTest, AnUnopenableFileSwitchesLogToFileOffAndTheLineStillArrives) {
  CSettings::SetText(app.Settings.LogFileName, 1024, dir + "/no/such/folder/x.log");
  app.Settings.LogToFile = 1;
  RecordingTarget pane;
  app.LogWindow = &pane;
  CLog log(app);
  EXPECT_EQ(app.Settings.LogToFile, 0u);
  app.Settings.LogToFile = 1;
  log.AddError("lost file");
  EXPECT_EQ(app.Settings.LogToFile, 0u);
  EXPECT_FALSE(log.FileOpen());
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERR: lost file"});
  ASSERT_EQ(pane.posted.size(), 1u);
  EXPECT_EQ(pane.posted[0].message, WM_LOG_LINE);
  EXPECT_EQ(*reinterpret_cast<const std::string*>(pane.posted[0].wParam), "ERR: lost file");
  EXPECT_EQ(pane.posted[0].lParam, 0);
}

TEST_F(LogTest, StatusTextIsSentToTheMainWindow) {
  CLog log(app);
  EXPECT_EQ(log.SendStatusText(57211, 0), 1);  // no window: nothing, still 1
  RecordingTarget main;
  app.MainWindow = &main;
  EXPECT_EQ(log.SendStatusText(57211, 7), 1);
  ASSERT_EQ(main.sent.size(), 1u);
  EXPECT_EQ(main.sent[0].message, WM_STATUS_TEXT);
  EXPECT_EQ(main.sent[0].wParam, 57211u);
  EXPECT_EQ(main.sent[0].lParam, 7);
}

TEST_F(LogTest, ShowLogFileWritesEveryLineAndOpensTheFile) {
  const char* oldTmp = std::getenv("TMPDIR");
  std::string saved = oldTmp ? oldTmp : "";
  ::setenv("TMPDIR", dir.c_str(), 1);
  std::vector<std::string> opened;
  qm::SetShellOpenHook([&](const std::string& path) {
    opened.push_back(path);
    return true;
  });
  // Someone who can write to the temporary folder lays links at the
  // predictable names; the user's file behind them stays as it is.
  const std::string victim = dir + "/victim";
  {
    std::ofstream(victim) << "keep";
  }
  ASSERT_EQ(::symlink(victim.c_str(), (dir + "/Recovery log file.txt").c_str()), 0);

  CLog log(app);
  EXPECT_EQ(log.ShowLogFile(), 1);  // no line yet: an empty file
  ASSERT_EQ(opened.size(), 1u);
  const std::string exported = opened[0];
  EXPECT_EQ(exported.rfind(dir + "/quillmore-", 0), 0u) << exported;
  EXPECT_EQ(exported.substr(exported.size() - 22), "/Recovery log file.txt");
  struct stat st {};
  ASSERT_EQ(::lstat(exported.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u);
  const std::string folder = exported.substr(0, exported.rfind('/'));
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(qmtest::ReadFileBytes(exported).empty());

  log.AddMessage("one");
  log.AddDebug("two");
  EXPECT_EQ(log.ShowLogFile(), 1);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1], exported);  // the same private folder again
  EXPECT_EQ(ReadUtf16(exported), u"one\r\nDBG: two\r\n");
  EXPECT_EQ(qmtest::ReadFileBytes(victim).size(), 4u);

  // A link laid inside a folder that is no longer private is not followed
  // either: a new private folder is made.
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  ASSERT_EQ(::unlink(exported.c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), exported.c_str()), 0);
  EXPECT_EQ(log.ShowLogFile(), 1);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_NE(opened[2], exported);
  EXPECT_EQ(qmtest::ReadFileBytes(victim).size(), 4u);

  // A folder that can be neither kept nor made: an error, nothing opened.
  ::setenv("TMPDIR", (dir + "/missing").c_str(), 1);
  ASSERT_EQ(::chmod(opened[2].substr(0, opened[2].rfind('/')).c_str(), 0777), 0);
  EXPECT_EQ(log.ShowLogFile(), 0);
  EXPECT_EQ(log.Lines().back(), "ERR: Can't create temporary file");
  EXPECT_EQ(opened.size(), 3u);

  qm::SetShellOpenHook(nullptr);
  if (oldTmp) ::setenv("TMPDIR", saved.c_str(), 1);
  else ::unsetenv("TMPDIR");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave) {
  app.Settings.LogToFile = 1;
  RecordingTarget pane;
  app.LogWindow = &pane;
  constexpr int kThreads = 8, kLines = 400;
  {
    CLog log(app);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&log, t] {
        for (int i = 0; i < kLines; ++i) log.Error("thread %d line %d with some padding text", t, i);
      });
    for (auto& th : threads) th.join();
    EXPECT_EQ(log.LineCount(), size_t{kThreads * kLines});
    EXPECT_EQ(pane.posted.size(), size_t{kThreads * kLines});
  }
  // Every line arrives whole in the file, exactly once.
  std::string text = qm::Utf16ToUtf8(ReadUtf16(logPath));
  std::set<std::string> seen;
  size_t start = 0, count = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    seen.insert(text.substr(start, end - start));
    ++count;
    start = end + 2;
  }
  EXPECT_EQ(count, size_t{kThreads * kLines});
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kLines; i += 37)
      EXPECT_TRUE(seen.count(qm::Format("ERR: thread %d line %d with some padding text", t, i))) << t << " " << i;
  EXPECT_EQ(seen.size(), count);
}

}  // namespace
