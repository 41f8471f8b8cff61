#include "engine/recovery/safe_name.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace qm::recovery;

TEST(SafeName, DiskNamesBecomeSingleHarmlessComponents) {
  EXPECT_EQ(SafeComponent("report.doc"), "report.doc");
  EXPECT_EQ(SafeComponent("a/b"), "a_b");
  EXPECT_EQ(SafeComponent("../../etc/passwd"), ".._.._etc_passwd");
  EXPECT_EQ(SafeComponent("."), "_.");
  EXPECT_EQ(SafeComponent(".."), "_..");
  EXPECT_EQ(SafeComponent("..."), "...");
  EXPECT_EQ(SafeComponent(""), "_");
  EXPECT_EQ(SafeComponent(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeComponent("tab\there\x7f\n"), "tab_here__");
  EXPECT_EQ(SafeComponent("Grüße €.txt"), "Grüße €.txt");
}

TEST(SafeName, LongNamesAreCutKeepingTheExtensionAndWholeCharacters) {
  std::string longName(300, 'x');
  EXPECT_EQ(SafeComponent(longName).size(), kMaxNameBytes);

  std::string withExt = std::string(300, 'a') + ".jpeg";
  std::string cut = SafeComponent(withExt);
  EXPECT_EQ(cut.size(), kMaxNameBytes);
  EXPECT_EQ(cut.substr(cut.size() - 5), ".jpeg");

  // 200 two-byte characters: a cut never leaves half a character.
  std::string umlauts;
  for (int i = 0; i < 200; ++i) umlauts += "ü";
  umlauts += ".txt";
  cut = SafeComponent(umlauts);
  EXPECT_LE(cut.size(), kMaxNameBytes);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
  EXPECT_EQ((cut.size() - 4) % 2, 0u);

  // An "extension" too long to be one is cut like the rest.
  std::string hugeExt = "a." + std::string(300, 'e');
  EXPECT_EQ(SafeComponent(hugeExt).size(), kMaxNameBytes);
}

TEST(SafeName, NumberedNamesGoBeforeTheExtensionAndStayWithinTheLimit) {
  EXPECT_EQ(NumberedName("photo.jpg", 2), "photo (2).jpg");
  EXPECT_EQ(NumberedName("README", 3), "README (3)");
  EXPECT_EQ(NumberedName(".bashrc", 2), ".bashrc (2)");
  std::string longName = std::string(kMaxNameBytes - 4, 'n') + ".txt";
  std::string numbered = NumberedName(longName, 12);
  EXPECT_EQ(numbered.size(), kMaxNameBytes);
  EXPECT_EQ(numbered.substr(numbered.size() - 9), " (12).txt");
}

TEST(SafeName, FolderPathsSplitIntoSafeComponents) {
  auto parts = SafeFolderComponents("/docs/../x//./y/");
  std::vector<std::string> expected{"docs", "_..", "x", "_.", "y"};
  EXPECT_EQ(parts, expected);
  EXPECT_TRUE(SafeFolderComponents("/").empty());
  EXPECT_TRUE(SafeFolderComponents("").empty());
}

TEST(SafeName, NewFilesNeverReplaceOrFollowWhatIsThere) {
  std::string dir = qmtest::MakeTempDir("qm-safe");
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
  ASSERT_TRUE(dirFd.Valid());
  { std::ofstream(dir + "/a.txt") << "first"; }
  // A symbolic link that points outside, under the next candidate name.
  std::string outside = qmtest::MakeTempDir("qm-outside");
  ASSERT_EQ(::symlink((outside + "/stolen").c_str(), (dir + "/a (2).txt").c_str()), 0);

  std::string chosen;
  bool existed = false;
  int fd = CreateNewFile(dirFd.Get(), "a.txt", &chosen, &existed);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "new", 3), 3);
  ::close(fd);
  EXPECT_TRUE(existed);
  EXPECT_EQ(chosen, "a (3).txt");
  EXPECT_EQ(qmtest::ReadFileBytes(dir + "/a.txt"), std::vector<uint8_t>({'f', 'i', 'r', 's', 't'}));
  EXPECT_FALSE(fs::exists(outside + "/stolen"));

  fd = CreateNewFile(dirFd.Get(), "b.txt", &chosen, &existed);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(existed);
  EXPECT_EQ(chosen, "b.txt");
  fs::remove_all(dir);
  fs::remove_all(outside);
}

// Many files of one name in one folder: each takes the next free number, a
// number taken meanwhile by someone else is still skipped, and another folder
// keeps its own numbers.
TEST(SafeName, RememberedNumbersGiveEachDuplicateTheNextFreeName) {
  std::string dir = qmtest::MakeTempDir("qm-dups");
  ASSERT_EQ(::mkdir((dir + "/other").c_str(), 0700), 0);
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  UniqueFd otherFd(::open((dir + "/other").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  NameNumbers numbers;
  std::string chosen;
  bool existed = false;
  for (int i = 1; i <= 1000; ++i) {
    if (i == 500) ::close(::open((dir + "/same (501).txt").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    int fd = CreateNewFile(dirFd.Get(), "same.txt", &chosen, &existed, &numbers);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(existed, i > 1);
    const int expected = i < 501 ? i : i + 1;
    ASSERT_EQ(chosen, expected == 1 ? "same.txt" : "same (" + std::to_string(expected) + ").txt");
  }
  int fd = CreateNewFile(otherFd.Get(), "same.txt", &chosen, &existed, &numbers);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(chosen, "same.txt");
  EXPECT_FALSE(existed);
  fs::remove_all(dir);
}

TEST(SafeName, FolderChainsStayBelowTheParent) {
  std::string dir = qmtest::MakeTempDir("qm-chain");
  std::string outside = qmtest::MakeTempDir("qm-outside");
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
  // "docs" is a symbolic link to a folder outside; "notes" is a file.
  ASSERT_EQ(::symlink(outside.c_str(), (dir + "/docs").c_str()), 0);
  { std::ofstream(dir + "/notes") << "x"; }

  std::string failed;
  UniqueFd chain = OpenFolderChain(dirFd.Get(), dir, {"docs", "notes", "deep"}, &failed);
  ASSERT_TRUE(chain.Valid()) << failed;
  EXPECT_TRUE(fs::is_directory(dir + "/docs (2)/notes/deep"));
  EXPECT_TRUE(fs::is_empty(outside));

  // A second walk finds the same folders again.
  UniqueFd again = OpenFolderChain(dirFd.Get(), dir, {"notes", "x"}, &failed);
  ASSERT_TRUE(again.Valid());
  EXPECT_TRUE(fs::is_directory(dir + "/notes (2)/x"));
  fs::remove_all(dir);
  fs::remove_all(outside);
}

TEST(SafeName, MissingRootFoldersAreCreatedAndFailuresNamed) {
  std::string base = qmtest::MakeTempDir("qm-root");
  std::string failed;
  UniqueFd root = OpenRoot(base + "/one/two/three", &failed);
  EXPECT_TRUE(root.Valid());
  EXPECT_TRUE(fs::is_directory(base + "/one/two/three"));

  { std::ofstream(base + "/file") << "x"; }
  UniqueFd bad = OpenRoot(base + "/file/sub", &failed);
  EXPECT_FALSE(bad.Valid());
  EXPECT_EQ(failed, base + "/file/sub");
  fs::remove_all(base);
}
