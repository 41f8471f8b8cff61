// quillmore-cli as a user meets it, on an NTFS image made through ntfs-3g
// whose names hold an escape sequence, a newline, non-ASCII letters and an
// empty file: what reaches the terminal, what the summaries say, and the
// checks made before a recovery starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string& OddImage() {
  static const std::string image = [] {
    std::string dir = qmtest::MakeTempDir("qm-odd-names");
    if (qmtest::RunCommand(qmtest::SourcePath("scripts/make-odd-names-image.sh") + " " + dir + " >/dev/null 2>&1") != 0)
      return std::string();
    return dir + "/odd-names.img";
  }();
  return image;
}

struct CliRun {
  int status = -1;
  std::string out;  // standard output
  std::string all;  // standard output and error
};

// Runs quillmore-cli once with `arguments` (shell words).
CliRun Cli(const std::string& arguments) {
  static const std::string errors = qmtest::MakeTempDir("qm-odd-stderr") + "/stderr";
  CliRun r;
  r.status = qmtest::RunCommand(qmtest::CliPath() + " " + arguments + " 2>" + errors, &r.out);
  const std::vector<uint8_t> bytes = qmtest::ReadFileBytes(errors);
  r.all = r.out + std::string(bytes.begin(), bytes.end());
  return r;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

#define NEED_IMAGE() \
  if (OddImage().empty()) GTEST_SKIP() << "mkntfs, ntfs-3g or root missing"

}  // namespace

TEST(OddNamesCli, ControlCharactersInNamesAreEscapedInTextAndKeptInJson) {
  NEED_IMAGE();
  for (const std::string command : {"list", "search", "list --scan"}) {
    CliRun r = Cli(command + " " + OddImage());
    EXPECT_FALSE(Has(r.all, "\x1b")) << command;
    EXPECT_TRUE(Has(r.out, "esc\\e[31mred.txt")) << command << "\n" << r.out;
    EXPECT_TRUE(Has(r.out, "two\\nlines.txt")) << command;
    // No output line starts with the second half of the name.
    EXPECT_FALSE(Has(r.out, "\nlines.txt")) << command;
  }
  CliRun json = Cli("list --json " + OddImage());
  ASSERT_EQ(json.status, 0);
  const auto list = nlohmann::json::parse(json.out);
  bool esc = false, newline = false;
  for (const auto& o : list) {
    esc = esc || o["name"] == "esc\x1b[31mred.txt";
    newline = newline || o["name"] == "two\nlines.txt";
  }
  EXPECT_TRUE(esc && newline);
}

TEST(OddNamesCli, JsonObjectsHaveDistinctIdsTheirParentAndVolume) {
  NEED_IMAGE();
  CliRun r = Cli("list --json --scan " + OddImage());
  ASSERT_EQ(r.status, 0) << r.all;
  const auto list = nlohmann::json::parse(r.out);
  std::set<uint64_t> ids;
  std::map<uint64_t, std::string> paths;
  for (const auto& o : list) {
    ASSERT_TRUE(o["id"].is_number()) << o.dump();
    EXPECT_TRUE(ids.insert(o["id"].get<uint64_t>()).second) << o.dump();
    EXPECT_EQ(o["volume"], OddImage());
    paths[o["id"].get<uint64_t>()] = o["path"].get<std::string>();
  }
  // A parent is a listed folder, and the child's path continues it.
  for (const auto& o : list) {
    if (o["name"] != "снег.jpg") continue;
    ASSERT_TRUE(o["parent"].is_number());
    EXPECT_EQ(paths[o["parent"].get<uint64_t>()], "/Зима");
  }
}

TEST(OddNamesCli, NamePatternsFoldCaseForEveryAlphabet) {
  NEED_IMAGE();
  CliRun r = Cli("search --json --name '*MÜLLER*' " + OddImage());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(nlohmann::json::parse(r.out).at(0)["name"], "Brief an Müller.txt");
  std::string dest = qmtest::MakeTempDir("qm-odd-fold");
  r = Cli("recover " + OddImage() + " --to " + dest + " --allow-same-drive --name 'СНЕГ*'");
  EXPECT_EQ(r.status, 0) << r.all;
  EXPECT_EQ(fs::file_size(dest + "/Зима/снег.jpg"), 3000u);
  fs::remove_all(dest);
}

TEST(OddNamesCli, RecoverySummarySaysWhatBecameOfEveryFile) {
  NEED_IMAGE();
  std::string dest = qmtest::MakeTempDir("qm-odd-recover");
  CliRun first = Cli("recover " + OddImage() + " --to " + dest + " --allow-same-drive");
  EXPECT_EQ(first.status, 0) << first.all;
  // The empty file is there, empty; the system files were left out aloud.
  ASSERT_TRUE(fs::exists(dest + "/empty.txt"));
  EXPECT_EQ(fs::file_size(dest + "/empty.txt"), 0u);
  EXPECT_TRUE(Has(first.out, "Left out ")) << first.out;
  EXPECT_TRUE(Has(first.out, "NTFS system file(s) ($")) << first.out;
  EXPECT_FALSE(Has(first.all, "\x1b"));
  EXPECT_FALSE(Has(first.all, "Failed"));
  EXPECT_TRUE(fs::exists(dest + "/two_lines.txt"));

  // Again into the same folder: every name is taken, and the summary says so.
  CliRun second = Cli("recover " + OddImage() + " --to " + dest + " --allow-same-drive --name '*.txt'");
  EXPECT_TRUE(Has(second.out, "Written under another name, the name being taken")) << second.out;
  EXPECT_TRUE(Has(second.out, "/empty.txt -> " + dest + "/empty (2).txt")) << second.out;
  EXPECT_TRUE(fs::exists(dest + "/empty (2).txt"));
  fs::remove_all(dest);
}

TEST(OddNamesCli, ADestinationThatCannotBeUsedIsRefusedUpFrontWithTheReason) {
  NEED_IMAGE();
  std::string dir = qmtest::MakeTempDir("qm-odd-dest");
  { std::ofstream(dir + "/file") << "x"; }
  CliRun r = Cli("recover " + OddImage() + " --to " + dir + "/file --allow-same-drive");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.all, "is a file, not a folder")) << r.all;
  EXPECT_FALSE(Has(r.all, "folder could not be created"));
  r = Cli("recover " + OddImage() + " --to " + dir + "/file/below --allow-same-drive");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.all, "is a file, not a folder")) << r.all;
  r = Cli("recover " + OddImage() + " --to /proc/quillmore-test");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.all, "quillmore-cli: cannot recover into '/proc/quillmore-test': ")) << r.all;
  EXPECT_FALSE(Has(r.all, "Recovered"));
  fs::remove_all(dir);
}

TEST(OddNamesCli, OutcomesAndOptionsAreReportedHonestly) {
  NEED_IMAGE();
  std::string dir = qmtest::MakeTempDir("qm-odd-honest");
  // A source without a file system.
  std::string blank = dir + "/blank.img";
  { std::ofstream(blank) << std::string(1 << 20, '\0'); }
  CliRun r = Cli("recover " + blank + " --to " + dir + "/out --allow-same-drive");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.all, "quillmore-cli: no file system found on '" + blank + "'")) << r.all;
  EXPECT_FALSE(Has(r.all, "No file matched"));
  // A text file is no disk.
  { std::ofstream(dir + "/notes.txt") << "just some text\n"; }
  EXPECT_EQ(Cli("info " + dir + "/notes.txt").status, 1);
  // Lost-file sizes: an empty value and a value without --scan are refused.
  EXPECT_EQ(Cli("recover " + OddImage() + " --to " + dir + "/out --scan --lost-size ''").status, 2);
  r = Cli("recover " + OddImage() + " --to " + dir + "/out --lost-size next");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.all, "--scan")) << r.all;
  // --deleted-only counts the deleted objects, not the volume.
  r = Cli("list --deleted-only " + OddImage());
  EXPECT_TRUE(Has(r.out, "0 deleted folder(s), 1 deleted file(s)")) << r.out;
  // A source path that is not valid UTF-8 still gives valid JSON.
  std::string odd = dir + "/bad\xff" "name.img";
  fs::copy_file(OddImage(), odd);
  r = Cli("info --json '" + odd + "'");
  ASSERT_EQ(r.status, 0) << r.all;
  EXPECT_EQ(nlohmann::json::parse(r.out)["file_system"], "NTFS");
  r = Cli("list --json '" + odd + "'");
  EXPECT_TRUE(nlohmann::json::parse(r.out, nullptr, false).is_array());
  fs::remove_all(dir);
}

TEST(OddNamesCli, RecoveryFromALoopDeviceOntoItsBackingFilesDriveIsRefused) {
  NEED_IMAGE();
  std::string dir = qmtest::MakeTempDir("qm-odd-loop");
  std::string image = dir + "/disk.img";
  fs::copy_file(OddImage(), image);
  std::string device;
  if (qmtest::RunCommand("losetup -f --show -r " + image + " 2>/dev/null", &device) != 0 || device.empty()) {
    fs::remove_all(dir);
    GTEST_SKIP() << "losetup is not allowed here";
  }
  while (!device.empty() && device.back() == '\n') device.pop_back();
  CliRun r = Cli("recover " + device + " --to " + dir + "/out");
  qmtest::RunCommand("losetup -d " + device);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.all, "is on the same drive as")) << r.all;
  EXPECT_FALSE(fs::exists(dir + "/out"));
  fs::remove_all(dir);
}
