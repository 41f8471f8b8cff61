// quillmore-cli info and list on FAT images: exit codes, text and JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace {

const std::string& Fat12Image() {
  static const std::string image = [] {
    if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy")) return std::string();
    std::string dir = qmtest::MakeTempDir("qm-cli-fat");
    if (qmtest::RunCommand(qmtest::SourcePath("scripts/make-fat-images.sh") + " " + dir + " fat12") != 0)
      return std::string();
    return dir + "/fat12.img";
  }();
  return image;
}

int Cli(const std::string& args, std::string* out) {
  return qmtest::RunCommand(qmtest::CliPath() + " " + args + " 2>/dev/null", out);
}

TEST(CliInfo, FatImageTextAndJson) {
  if (Fat12Image().empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  std::string out;
  ASSERT_EQ(Cli("info " + Fat12Image(), &out), 0);
  EXPECT_NE(out.find("FAT12 (ID 1)"), std::string::npos) << out;
  EXPECT_NE(out.find("1212-1212"), std::string::npos) << out;
  EXPECT_NE(out.find("QMFAT12"), std::string::npos) << out;
  ASSERT_EQ(Cli("info --json " + Fat12Image(), &out), 0);
  auto j = nlohmann::json::parse(out);
  EXPECT_EQ(j["file_system"], "FAT12");
  EXPECT_EQ(j["total_sectors"], 2880);
  EXPECT_EQ(j["sectors_per_cluster"], 1);
  EXPECT_EQ(j["serial_number"], "1212-1212");
  EXPECT_EQ(j["label"], "QMFAT12");
}

TEST(CliInfo, ExitCodes) {
  std::string out;
  EXPECT_EQ(Cli("info", &out), 2);
  EXPECT_EQ(Cli("info a b", &out), 2);
  EXPECT_EQ(Cli("info --bogus x", &out), 2);
  EXPECT_EQ(Cli("info /nonexistent/quillmore.img", &out), 1);
  // No file system and no partition-table signature: nothing to show, and
  // with --json the error comes as JSON.
  std::vector<uint8_t> sectors(64 * 1024, 0);
  std::string blank = qmtest::WriteTempFile("blank.img", sectors);
  ASSERT_EQ(Cli("info --json " + blank, &out), 1);
  EXPECT_EQ(nlohmann::json::parse(out)["exit_status"], 1);
  EXPECT_NE(nlohmann::json::parse(out)["error"].get<std::string>().find("no file system"), std::string::npos);
  EXPECT_EQ(Cli("info /dev/zero", &out), 1);
  // With the signature the sector is read as a partition table.
  sectors[510] = 0x55;
  sectors[511] = 0xAA;
  std::string table = qmtest::WriteTempFile("table.img", sectors);
  ASSERT_EQ(Cli("info --json " + table, &out), 0);
  EXPECT_TRUE(nlohmann::json::parse(out)["file_system"].is_null());
  EXPECT_EQ(Cli("list " + blank, &out), 1);
  EXPECT_EQ(Cli("list", &out), 2);
  EXPECT_EQ(Cli("list --json --nope " + blank, &out), 2);
}

TEST(CliList, JsonHasOneObjectPerCatalogObject) {
  if (Fat12Image().empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  std::string out;
  ASSERT_EQ(Cli("list --json " + Fat12Image(), &out), 0);
  auto j = nlohmann::json::parse(out);
  ASSERT_TRUE(j.is_array());
  ASSERT_GT(j.size(), 70u);
  bool nested = false, trash = false;
  for (const auto& o : j) {
    for (const char* key : {"path", "name", "size", "deleted", "folder", "lost", "offset", "type", "id", "parent",
                            "modified"})
      ASSERT_TRUE(o.contains(key)) << key << " in " << o.dump();
    EXPECT_TRUE(o["modified"].is_null() || o["modified"].is_string());
    EXPECT_FALSE(o["lost"].get<bool>());
    if (o["path"] == "/DOCS/Sub Folder Long Name/deep/nested.dat") {
      nested = true;
      EXPECT_EQ(o["size"], 3 * 512 + 100);
      EXPECT_FALSE(o["deleted"].get<bool>());
      EXPECT_FALSE(o["folder"].get<bool>());
    }
    if (o["path"] == "/_RASH") {
      trash = true;
      EXPECT_TRUE(o["deleted"].get<bool>());
      EXPECT_TRUE(o["folder"].get<bool>());
    }
  }
  EXPECT_TRUE(nested);
  EXPECT_TRUE(trash);

  ASSERT_EQ(Cli("list --deleted-only --json " + Fat12Image(), &out), 0);
  auto deleted = nlohmann::json::parse(out);
  ASSERT_FALSE(deleted.empty());
  EXPECT_LT(deleted.size(), j.size());
  for (const auto& o : deleted) EXPECT_TRUE(o["deleted"].get<bool>()) << o.dump();
}

TEST(CliList, TextTree) {
  if (Fat12Image().empty()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  std::string out;
  ASSERT_EQ(Cli("list " + Fat12Image(), &out), 0);
  EXPECT_NE(out.find("Filesystem/\n  DOCS/"), std::string::npos) << out;
  EXPECT_NE(out.find("      deep/"), std::string::npos);
  EXPECT_NE(out.find("        nested.dat  1636"), std::string::npos);
  EXPECT_NE(out.find("deleted_frag.bin  1536"), std::string::npos);
  EXPECT_NE(out.find("[deleted]"), std::string::npos);
  ASSERT_EQ(Cli("list --deleted-only " + Fat12Image(), &out), 0);
  EXPECT_EQ(out.find("nested.dat"), std::string::npos);
  EXPECT_NE(out.find("_rash1.txt"), std::string::npos);
  EXPECT_NE(out.find("  DOCS/"), std::string::npos);  // leads to a deleted file
}

}  // namespace
