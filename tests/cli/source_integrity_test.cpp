// The source is only ever read: every command of quillmore-cli run on an
// image leaves its bytes and times as they were, and never opens it for
// writing (inotify reports a close after writing, a modification or a
// change of attributes).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

struct Times {
  timespec modified{}, changed{};
  off_t size = 0;
};

Times TimesOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return {st.st_mtim, st.st_ctim, st.st_size};
}

bool Same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// The events of the watch that tell of writing, drained without waiting.
std::vector<uint32_t> WriteEvents(int fd) {
  std::vector<uint32_t> found;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & (IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB)) found.push_back(event->mask);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return found;
}

}  // namespace

TEST(SourceIntegrity, NoCommandWritesToTheImage) {
  if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
  const std::string dir = qmtest::MakeTempDir("qm-integrity");
  ASSERT_EQ(qmtest::RunCommand(qmtest::SourcePath("scripts/make-scan-fixtures.sh") + " " + dir + " >/dev/null 2>&1"), 0);
  const std::string image = dir + "/fat.img";
  // The access time is the mount's business (reading moves it under
  // "strictatime"); the modification and change times are the program's.
  const std::vector<uint8_t> before = qmtest::ReadFileBytes(image);
  const timespec stamps[2] = {{0, UTIME_NOW}, {1600000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, image.c_str(), stamps, 0), 0);
  const Times then = TimesOf(image);

  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, image.c_str(), IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_OPEN), 0);

  const std::string out = dir + "/out";
  const std::vector<std::string> commands = {
      "info " + image,
      "info --json " + image,
      "list " + image,
      "list --json --scan " + image,
      "search " + image + " --name '*'",
      "search --scan --json " + image,
      "scan " + image,
      "dump " + image + " --sector 0 --count 4",
      "recover " + image + " --to " + out + " --scan --lost-size default --allow-same-drive",
      "recover " + image + " --to " + out + "/deleted --deleted-only --allow-same-drive",
  };
  for (const std::string& command : commands) {
    std::string text;
    const int status = qmtest::RunCommand(qmtest::CliPath() + " " + command + " >/dev/null 2>&1", &text);
    EXPECT_TRUE(status == 0 || status == 1) << command << ": " << status;
    EXPECT_TRUE(WriteEvents(watch).empty()) << command << " wrote to the image";
  }
  ::close(watch);

  const Times now = TimesOf(image);
  EXPECT_TRUE(Same(now.modified, then.modified));
  EXPECT_TRUE(Same(now.changed, then.changed));
  EXPECT_EQ(now.size, then.size);
  EXPECT_TRUE(qmtest::ReadFileBytes(image) == before);
}
