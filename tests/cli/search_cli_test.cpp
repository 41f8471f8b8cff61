// quillmore-cli search over a FAT12 image made with mkfs.fat and mtools.
#include <gtest/gtest.h>

#include <cctype>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace {

const std::string& SearchImage() {
  static const std::string image = [] {
    if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy")) return std::string();
    std::string dir = qmtest::MakeTempDir("qm-cli-search");
    if (qmtest::RunCommand(qmtest::SourcePath("scripts/make-fat-images.sh") + " " + dir + " fat12") != 0)
      return std::string();
    return dir + "/fat12.img";
  }();
  return image;
}

int Search(const std::string& args, std::string* out) {
  return qmtest::RunCommand(qmtest::CliPath() + " search " + SearchImage() + " " + args + " 2>/dev/null", out);
}

nlohmann::json SearchJson(const std::string& args, int* status = nullptr) {
  std::string out;
  const int rc = Search(args + " --json", &out);
  if (status) *status = rc;
  return nlohmann::json::parse(out, nullptr, false);
}

bool HasName(const nlohmann::json& list, const std::string& name) {
  for (const auto& o : list)
    if (o["name"] == name) return true;
  return false;
}

}  // namespace

TEST(SearchCli, NamePatternIgnoresCaseAndGivesFullPaths) {
  if (SearchImage().empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  int rc = -1;
  const nlohmann::json list = SearchJson("--name '*.TXT'", &rc);
  EXPECT_EQ(rc, 0);
  ASSERT_TRUE(list.is_array());
  EXPECT_TRUE(HasName(list, "readme.txt"));
  EXPECT_TRUE(HasName(list, "EMPTY2.TXT"));
  for (const auto& o : list) {
    const std::string name = o["name"];
    ASSERT_GE(name.size(), 4u);
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(ext, ".txt") << name;
    const std::string path = o["path"];
    EXPECT_EQ(path.back(), name.back());
    if (name == "EMPTY2.TXT") {
      EXPECT_EQ(path, "/DOCS/EMPTY2.TXT");
    }
    if (name == "readme.txt") {
      EXPECT_EQ(path, "/readme.txt");
      EXPECT_EQ(o["size"], 8);
      EXPECT_EQ(o["deleted"], false);
      EXPECT_EQ(o["folder"], false);
      EXPECT_TRUE(o["modified"].is_string());
      EXPECT_EQ(o["type"], "TXT File");
    }
  }
}

TEST(SearchCli, DeletedOnlyFilesOnlyAndSize) {
  if (SearchImage().empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  const nlohmann::json deleted = SearchJson("--deleted-only");
  ASSERT_TRUE(deleted.is_array());
  EXPECT_FALSE(deleted.empty());
  for (const auto& o : deleted) EXPECT_EQ(o["deleted"], true) << o["name"];

  const nlohmann::json files = SearchJson("--files-only");
  ASSERT_TRUE(files.is_array());
  for (const auto& o : files) EXPECT_EQ(o["folder"], false) << o["name"];
  EXPECT_TRUE(HasName(files, "readme.txt"));

  const nlohmann::json small = SearchJson("--size lt:1");
  ASSERT_TRUE(small.is_array());
  EXPECT_TRUE(HasName(small, "readme.txt"));
  for (const auto& o : small) {
    EXPECT_EQ(o["folder"], false);
    if (o["size"].is_number()) {
      EXPECT_LT(o["size"].get<uint64_t>(), 1024u);
    }
  }
  const nlohmann::json exact = SearchJson("--size eq:0 --name 'empty*'");
  ASSERT_TRUE(exact.is_array());
  EXPECT_TRUE(HasName(exact, "empty.txt"));
}

TEST(SearchCli, DatesTextOutputAndUsage) {
  if (SearchImage().empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  std::string out;
  // Nothing found: said on standard error, exit status 1.
  EXPECT_EQ(qmtest::RunCommand(qmtest::CliPath() + " search " + SearchImage() +
                                   " --modified 1990-01-01..1990-12-31 2>&1", &out), 1);
  EXPECT_EQ(out, "quillmore-cli: No files found\n");
  // The image was written a moment ago.
  const nlohmann::json recent = SearchJson("--modified 2000-01-01..");
  ASSERT_TRUE(recent.is_array());
  EXPECT_TRUE(HasName(recent, "readme.txt"));

  EXPECT_EQ(Search("--name readme.txt", &out), 0);
  EXPECT_NE(out.find("In Folder"), std::string::npos);
  EXPECT_NE(out.find("readme.txt"), std::string::npos);
  EXPECT_NE(out.find("1 object(s) found."), std::string::npos);

  EXPECT_EQ(Search("--size huge", &out), 2);
  EXPECT_EQ(Search("--modified yesterday", &out), 2);
  // Dates that do not exist, odd spellings and reversed ranges are refused.
  for (const char* bad : {"2023-02-29..", "..2024-13-01", "2024-04-31..", "2024-1-01..", " 2024-01-01..",
                          "+2024-01-01..", "2024-01-01T24:00..", "2024-02-01..2024-01-01"})
    EXPECT_EQ(Search(std::string("--modified '") + bad + "'", &out), 2) << bad;
  EXPECT_EQ(Search("--modified 2024-02-29..", &out), 0);  // a leap day exists
  EXPECT_EQ(Search("--size eq:4KB", &out), 1);
  EXPECT_EQ(Search("--size 'lt: 4'", &out), 2);
  EXPECT_EQ(Search("--size lt:", &out), 2);
  EXPECT_EQ(Search("--bogus", &out), 2);
  EXPECT_EQ(qmtest::RunCommand(qmtest::CliPath() + " search /nonexistent/image.img 2>/dev/null", &out), 1);
}
