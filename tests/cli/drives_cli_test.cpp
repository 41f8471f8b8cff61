// quillmore-cli drives: the same disks and partitions as lsblk on this
// machine, a loop device attached to a FAT image listed with its file
// system, and the list of a fake tree in order.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/block_devices.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/test_support.h"

namespace {

std::string Cli() { return "'" + qmtest::CliPath() + "'"; }

nlohmann::json Drives(const std::string& environment = "") {
  std::string out;
  EXPECT_EQ(qmtest::RunCommand(environment + " " + Cli() + " drives --json 2>/dev/null", &out), 0);
  return nlohmann::json::parse(out, nullptr, false);
}

// lsblk's disks and partitions by name, those of the families we list.
std::map<std::string, nlohmann::json> Lsblk() {
  std::map<std::string, nlohmann::json> out;
  std::string text;
  if (qmtest::RunCommand("lsblk -b -J -o NAME,SIZE,TYPE,FSTYPE,LABEL,RM,MOUNTPOINT 2>/dev/null", &text) != 0)
    return out;
  auto all = nlohmann::json::parse(text, nullptr, false);
  if (all.is_discarded()) return out;
  std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& list) {
    for (const auto& d : list) {
      const std::string name = d.value("name", "");
      if (qm::IsListedDiskName(name)) out[name] = d;
      if (d.contains("children")) walk(d["children"]);
    }
  };
  walk(all["blockdevices"]);
  return out;
}

}  // namespace

TEST(CliDrives, ListsWhatLsblkListsWithTheSameSizesAndMountPoints) {
  if (!qmtest::HaveTool("lsblk")) GTEST_SKIP() << "lsblk is needed";
  const auto expected = Lsblk();
  const auto list = Drives();
  ASSERT_TRUE(list.contains("drives"));
  std::map<std::string, nlohmann::json> ours;
  for (const auto& d : list["drives"])
    if (d["name"].is_string()) ours[d["name"].get<std::string>()] = d;
  for (const auto& [name, d] : expected) {
    // A loop device detached meanwhile by someone else is no fault.
    if (!ours.count(name)) {
      EXPECT_EQ(name.rfind("loop", 0), 0u) << name << " is missing";
      continue;
    }
    EXPECT_EQ(ours[name]["size"], d["size"]) << name;
    EXPECT_EQ(ours[name]["category"], d["type"] == "part" ? "Logical" : "Physical") << name;
    if (d["mountpoint"].is_string()) {
      EXPECT_EQ(ours[name]["mount_point"], d["mountpoint"]) << name;
    }
    // lsblk learns file systems from the udev database, which a machine
    // without udev lacks; where it knows one, ours agrees.
    if (d["fstype"].is_string()) {
      EXPECT_EQ(ours[name]["file_system"], d["fstype"]) << name;
    }
    if (d["label"].is_string()) {
      EXPECT_EQ(ours[name]["label"], d["label"]) << name;
    }
  }
  for (const auto& [name, d] : ours)
    if (name.rfind("loop", 0) != 0) {
      EXPECT_TRUE(expected.count(name)) << name << " is not in lsblk's list";
    }
}

TEST(CliDrives, LoopDeviceOfAFatImageIsADiskWithItsFileSystemAndLabel) {
  if (!qmtest::HaveTool("losetup") || !qmtest::HaveTool("mkfs.fat")) GTEST_SKIP() << "losetup and mkfs.fat needed";
  const std::string dir = qmtest::MakeTempDir("drivescli");
  ASSERT_EQ(qmtest::RunCommand("mkfs.fat -C -n LOOPCARD " + dir + "/card.img 4096 >/dev/null"), 0);
  std::string device;
  if (qmtest::RunCommand("losetup -f --show " + dir + "/card.img 2>/dev/null", &device) != 0 || device.empty())
    GTEST_SKIP() << "the machine does not let us attach a loop device";
  while (!device.empty() && device.back() == '\n') device.pop_back();
  const auto list = Drives();
  qmtest::RunCommand("losetup -d " + device);
  nlohmann::json found;
  for (const auto& d : list["drives"])
    if (d["device_path"] == device) found = d;
  ASSERT_FALSE(found.is_null()) << list.dump();
  EXPECT_EQ(found["category"], "Physical");
  EXPECT_EQ(found["file_system"], "vfat");
  EXPECT_EQ(found["label"], "LOOPCARD");
  EXPECT_EQ(found["size"], 4096ull * 1024);
  EXPECT_EQ(found["state"], "Ready");
}

TEST(CliDrives, FakeTreeInListOrderInTextAndJson) {
  qmtest::FakeBlockTree tree;
  tree.AddDisk("sdb", 2048, true, "Acme", "Stick");
  tree.AddPartition("sdb", "sdb1", 1, 2048, 1024);
  tree.AddDisk("nvme0n1", 4096);
  const std::string env = "QUILLMORE_SYSFS_ROOT='" + tree.SysRoot() + "' QUILLMORE_DEV_ROOT='" + tree.DevRoot() + "'";
  const auto list = Drives(env);
  ASSERT_EQ(list["drives"].size(), 3u) << list.dump();
  EXPECT_EQ(list["drives"][0]["name"], "nvme0n1");
  EXPECT_EQ(list["drives"][1]["name"], "sdb");
  EXPECT_EQ(list["drives"][1]["display_name"], "Acme, Stick");
  EXPECT_EQ(list["drives"][1]["media_type"], "Removable");
  EXPECT_EQ(list["drives"][1]["removable"], true);
  EXPECT_EQ(list["drives"][2]["name"], "sdb1");
  EXPECT_EQ(list["drives"][2]["parent"], "sdb");
  EXPECT_EQ(list["drives"][2]["size"], 1024 * 512);

  std::string text;
  ASSERT_EQ(qmtest::RunCommand(env + " " + Cli() + " drives", &text), 0);
  EXPECT_LT(text.find("\nnvme0n1 "), text.find("\nsdb "));
  EXPECT_LT(text.find("\nsdb "), text.find("\nsdb1 "));
  EXPECT_EQ(qmtest::RunCommand(Cli() + " drives --bogus 2>/dev/null"), 2);
}
