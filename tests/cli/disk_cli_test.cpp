// Whole-disk images made with sfdisk and the real mkfs tools, end to end:
// `partitions` against Sleuth Kit's mmls, every live and deleted file back
// byte for byte through `recover` on the whole disk, --partition, and the
// search finding what damaged tables and boot sectors hide.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using qmtest::ShellQuote;
const auto& Quote = ShellQuote;

int Cli(const std::string& arguments, std::string* output = nullptr) {
  return qmtest::RunCommand(Quote(qmtest::CliPath()) + " " + arguments + " 2>/dev/null", output);
}

nlohmann::json CliJson(const std::string& arguments) {
  std::string out;
  Cli(arguments + " --json", &out);
  return nlohmann::json::parse(out, nullptr, false);
}

// Writes zeros over `bytes` bytes at `offset` of a copy of `image`.
std::string DamagedCopy(const std::string& image, const std::string& copy, uint64_t offset, size_t bytes) {
  fs::copy_file(image, copy, fs::copy_options::overwrite_existing);
  std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(std::string(bytes, '\0').data(), static_cast<std::streamsize>(bytes));
  return copy;
}

struct Partition {
  uint64_t start = 0, sectors = 0;
  std::string fileSystem, label;
};

class WholeDisks : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"sfdisk", "mkfs.fat", "mcopy", "zstd", "sha256sum"})
      if (!qmtest::HaveTool(tool)) return;
    dir_ = qmtest::RunFixtureScript("make-disk-images.sh", "qm-disks");
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  void SetUp() override {
    if (dir_.empty()) GTEST_SKIP() << "disk images could not be made (sfdisk, mkfs.fat, mtools)";
  }
  static std::string Image(const std::string& name) { return dir_ + "/" + name; }

  // The layout the script wrote: number -> partition, for one image.
  static std::map<uint32_t, Partition> Layout(const std::string& image) {
    std::map<uint32_t, Partition> out;
    std::ifstream in(dir_ + "/layout");
    std::string name;
    uint32_t number;
    Partition p;
    while (in >> name >> number >> p.start >> p.sectors >> p.fileSystem >> p.label)
      if (name == image) out[number] = p;
    return out;
  }

  // Partitions by start sector as mmls lists them: start -> length.
  static std::map<uint64_t, uint64_t> Mmls(const std::string& image) {
    std::string out;
    qmtest::RunCommand("mmls " + Quote(Image(image)), &out);
    std::map<uint64_t, uint64_t> parts;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string index, slot;
      uint64_t start = 0, end = 0, length = 0;
      if (!(words >> index >> slot >> start >> end >> length)) continue;
      if (slot == "Meta" || slot.find("---") == 0) continue;
      parts[start] = length;
    }
    return parts;
  }

  static std::string dir_;
};
std::string WholeDisks::dir_;

TEST_F(WholeDisks, PartitionsAreFoundWhereSleuthKitFindsThem) {
  for (const std::string image : {"mbr.img", "gpt.img"}) {
    nlohmann::json parts = CliJson("partitions " + Quote(Image(image)));
    ASSERT_TRUE(parts.is_array()) << image;
    const auto layout = Layout(image);
    std::map<uint64_t, uint64_t> ours;
    for (const auto& p : parts) {
      ours[p["start_sector"].get<uint64_t>()] = p["sectors"].get<uint64_t>();
      const uint32_t index = p["index"].get<uint32_t>();
      ASSERT_TRUE(layout.count(index)) << image << " partition " << index;
      const Partition& want = layout.at(index);
      EXPECT_EQ(p["start_sector"].get<uint64_t>(), want.start) << image << " " << index;
      EXPECT_EQ(p["offset"].get<uint64_t>(), want.start * 512) << image << " " << index;
      EXPECT_EQ(p["sectors"].get<uint64_t>(), want.sectors) << image << " " << index;
      EXPECT_EQ(p["file_system"], want.fileSystem) << image << " " << index;
      if (want.label != "-") {
        EXPECT_EQ(p["label"], want.label) << image << " " << index;
      }
      EXPECT_EQ(p["table"], image == "gpt.img" ? "GPT" : index <= 4 ? "MBR primary" : "MBR logical");
    }
    EXPECT_EQ(ours.size(), layout.size()) << image;
    if (qmtest::HaveTool("mmls")) {
      EXPECT_EQ(ours, Mmls(image)) << image;
    }
  }
  nlohmann::json gpt = CliJson("partitions " + Quote(Image("gpt.img")));
  ASSERT_EQ(gpt.size(), 2u);
  EXPECT_EQ(gpt[0]["name"], "EFI-DATA");
  EXPECT_EQ(gpt[1]["volume"], "Partition 2 (NTFS, DATA)");
  EXPECT_EQ(gpt[1]["type_guid"], "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
}

TEST_F(WholeDisks, RecoverGivesBackEveryFileOfEveryPartition) {
  for (const std::string image : {"mbr.img", "gpt.img"}) {
    const std::string out = qmtest::MakeTempDir("qm-disk-recover");
    ASSERT_EQ(Cli("recover " + Quote(Image(image)) + " --to " + Quote(out) + " --allow-same-drive"), 0) << image;
    // One folder per partition, named after it.
    std::map<uint32_t, std::string> folders;
    for (const auto& entry : fs::directory_iterator(out)) {
      const std::string name = entry.path().filename().string();
      ASSERT_EQ(name.rfind("Partition ", 0), 0u) << name;
      folders[static_cast<uint32_t>(std::stoul(name.substr(10)))] = entry.path().string();
    }
    EXPECT_EQ(folders.size(), Layout(image).size()) << image;
    // The content of every file recovered, by folder: sha256 -> paths.
    std::map<uint32_t, std::map<std::string, std::set<std::string>>> hashes;
    for (const auto& [number, folder] : folders) {
      std::string sums;
      qmtest::RunCommand("cd " + Quote(folder) + " && find . -type f -print0 | xargs -0 -r sha256sum", &sums);
      std::istringstream lines(sums);
      std::string line;
      while (std::getline(lines, line))
        if (line.size() > 67) hashes[number][line.substr(0, 64)].insert(line.substr(68));
    }
    std::ifstream manifest(dir_ + "/manifest");
    std::string line;
    int checked = 0;
    while (std::getline(manifest, line)) {
      std::istringstream words(line);
      std::string disk, state, sum, path;
      uint32_t number = 0;
      words >> disk >> number >> state >> sum;
      std::getline(words >> std::ws, path);
      // The recovery skips empty files, saying so.
      if (disk != image || sum == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855") continue;
      ++checked;
      const auto& sums = hashes[number];
      auto it = sums.find(sum);
      ASSERT_NE(it, sums.end()) << image << " partition " << number << ": " << state << " " << path
                                << " not recovered intact";
      // Live files come back under their own path; deleted FAT files lose
      // their first letter, so only their content is compared.
      if (state == "live") {
        EXPECT_TRUE(it->second.count(path)) << image << " " << number << " " << path;
      }
    }
    EXPECT_GT(checked, 20) << image;
    std::error_code ec;
    fs::remove_all(out, ec);
  }
}

TEST_F(WholeDisks, PartitionOptionNarrowsToOneVolume) {
  nlohmann::json list = CliJson("list " + Quote(Image("mbr.img")) + " --partition 5");
  ASSERT_TRUE(list.is_array());
  ASSERT_FALSE(list.empty());
  for (const auto& o : list) EXPECT_EQ(o["volume"], "Partition 5 (FAT32, QMPART5)");
  nlohmann::json all = CliJson("list " + Quote(Image("mbr.img")));
  std::set<std::string> volumes;
  for (const auto& o : all) volumes.insert(o["volume"].get<std::string>());
  EXPECT_EQ(volumes.size(), 4u);
  nlohmann::json info = CliJson("info " + Quote(Image("gpt.img")) + " --partition 2");
  ASSERT_TRUE(info.is_array());
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0]["file_system"], "NTFS");
  EXPECT_EQ(Cli("list " + Quote(Image("mbr.img")) + " --partition 3"), 2);
  EXPECT_EQ(Cli("list " + Quote(Image("mbr.img")) + " --partition x"), 2);
}

TEST_F(WholeDisks, SearchFindsWhatDamageHides) {
  const std::string work = qmtest::MakeTempDir("qm-disk-damage");
  // The first primary entry zeroed: the table no longer names the FAT16
  // partition; the search finds it at its offset.
  const std::string noEntry = DamagedCopy(Image("mbr.img"), work + "/no-entry.img", 0x1BE, 16);
  nlohmann::json parts = CliJson("partitions " + Quote(noEntry));
  EXPECT_EQ(parts.size(), 3u);
  parts = CliJson("partitions " + Quote(noEntry) + " --search");
  bool seen = false;
  for (const auto& p : parts) {
    if (p["start_sector"] != 2048) continue;
    seen = true;
    EXPECT_EQ(p["table"], "found by search");
    EXPECT_EQ(p["file_system"], "FAT16");
    EXPECT_EQ(p["sectors"], 16384);
  }
  EXPECT_TRUE(seen);
  // Every other partition is found once, confirmed by its boot sector.
  EXPECT_EQ(parts.size(), 4u);

  // The FAT32 boot sector zeroed: its backup at sector 6 tells the file
  // system; and the same with the table entry gone as well.
  const std::string noBoot = DamagedCopy(Image("mbr.img"), work + "/no-boot.img", 69632ull * 512, 512);
  for (const auto& p : CliJson("partitions " + Quote(noBoot) + " --search")) {
    if (p["start_sector"] != 69632) continue;
    EXPECT_EQ(p["file_system"], "FAT32");
    EXPECT_EQ(p["label"], "QMPART5");
    EXPECT_EQ(p["backup_boot_sector"], true);
  }
  // The NTFS boot sector and the primary GPT header both zeroed: the
  // backup header names the partitions, the backup boot sector the NTFS.
  const std::string gpt = DamagedCopy(Image("gpt.img"), work + "/gpt.img", 512, 512);
  DamagedCopy(gpt, work + "/gpt2.img", 83968ull * 512, 512);
  parts = CliJson("partitions " + Quote(work + "/gpt2.img") + " --search");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0]["file_system"], "FAT32");
  EXPECT_EQ(parts[1]["start_sector"], 83968);
  EXPECT_EQ(parts[1]["file_system"], "NTFS");
  EXPECT_EQ(parts[1]["backup_boot_sector"], true);
  // The table's size of the partition leads to the backup without a
  // search too: the NTFS volume lists its files.
  nlohmann::json files = CliJson("list " + Quote(work + "/gpt2.img") + " --partition 2");
  EXPECT_GT(files.size(), 100u);
  std::error_code ec;
  fs::remove_all(work, ec);
}

}  // namespace
