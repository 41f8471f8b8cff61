// Listing disks and partitions from a sysfs tree, and the facts the system
// libraries give: mount points, file-system names, labels and serials.
#include "platform/block_devices.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/fake_sysfs.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> Names(const std::vector<qm::BlockDeviceInfo>& devices) {
  std::vector<std::string> names;
  for (const auto& d : devices) names.push_back(d.Name);
  return names;
}

}  // namespace

TEST(BlockDevices, DisksInCountingOrderEachFollowedByItsPartitions) {
  qmtest::FakeBlockTree tree;
  tree.AddDisk("sdaa", 100);
  tree.AddDisk("sdb", 4096, true, "Generic", "Card Reader");
  tree.AddPartition("sdb", "sdb10", 10, 3000, 10);
  tree.AddPartition("sdb", "sdb2", 2, 2048, 900);
  tree.AddPartition("sdb", "sdb1", 1, 63, 1900);
  tree.AddDisk("sda", 100);
  tree.AddDisk("nvme10n1", 100);
  tree.AddDisk("nvme2n1", 100);
  tree.AddDisk("loop0", 0);       // no file attached: not a disk
  tree.AddDisk("loop1", 8);
  tree.SetAttribute("loop1/loop/backing_file", "/tmp/card.img");
  tree.AddDisk("sr0", 100);       // optical
  tree.AddDisk("zram0", 100);     // RAM disk
  tree.AddDisk("dm-0", 100);      // device-mapper
  const auto devices = qm::EnumerateBlockDevices(tree.SysRoot());
  EXPECT_EQ(Names(devices), (std::vector<std::string>{"loop1", "nvme2n1", "nvme10n1", "sda", "sdb", "sdb1", "sdb2",
                                                      "sdb10", "sdaa"}));

  const auto& sdb = devices[4];
  EXPECT_FALSE(sdb.IsPartition);
  EXPECT_TRUE(sdb.Removable);
  EXPECT_EQ(sdb.Vendor, "Generic");  // trailing blanks of sysfs trimmed
  EXPECT_EQ(sdb.Model, "Card Reader");
  EXPECT_EQ(sdb.SizeSectors, 4096u);
  const auto& sdb2 = devices[6];
  EXPECT_TRUE(sdb2.IsPartition);
  EXPECT_EQ(sdb2.DiskName, "sdb");
  EXPECT_EQ(sdb2.PartitionNumber, 2u);
  EXPECT_EQ(sdb2.StartSector, 2048u);
  EXPECT_EQ(sdb2.SizeSectors, 900u);
  EXPECT_TRUE(sdb2.Removable);  // the disk's flag
  EXPECT_EQ(sdb2.DevicePath, "/dev/sdb2");
  EXPECT_EQ(devices[0].BackingFile, "/tmp/card.img");
  EXPECT_EQ(devices[3].Major, 8u);

  // A tree that is not there lists nothing.
  EXPECT_TRUE(qm::EnumerateBlockDevices(tree.SysRoot() + "/missing").empty());
}

TEST(BlockDevices, KernelNamesCountLikeAPersonCounts) {
  std::vector<std::string> names{"sdaa", "sdz", "sdb", "loop10", "loop2", "vdb", "vda", "xvdab", "xvdc", "mmcblk0"};
  std::sort(names.begin(), names.end(), qm::KernelNameLess);
  EXPECT_EQ(names, (std::vector<std::string>{"loop2", "loop10", "mmcblk0", "sdb", "sdz", "sdaa", "vda", "vdb", "xvdc",
                                             "xvdab"}));
  EXPECT_FALSE(qm::KernelNameLess("sda", "sda"));
  EXPECT_TRUE(qm::IsListedDiskName("mmcblk0"));
  EXPECT_FALSE(qm::IsListedDiskName("sr0"));
  EXPECT_FALSE(qm::IsListedDiskName("sd"));
}

TEST(BlockDevices, MountInfoGivesTheFirstMountOfEachDeviceWithEscapesDecoded) {
  const std::string text =
      "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "40 26 8:17 / /media/user/MY\\040CARD rw,nosuid - vfat /dev/sdb1 rw\n"
      "41 26 8:17 / /mnt/again rw - vfat /dev/sdb1 rw\n"
      "42 26 0:5 / /proc rw - proc proc rw\n"
      "garbage\n";
  const auto mounts = qm::ParseMountInfo(text);
  EXPECT_EQ(mounts.at("254:0"), "/");
  EXPECT_EQ(mounts.at("8:17"), "/media/user/MY CARD");
  EXPECT_EQ(mounts.count("8:18"), 0u);
}

TEST(BlockDevices, SerialNumbersFromFileSystemUuids) {
  EXPECT_EQ(qm::SerialFromUuid("EE7C-1BB6"), 0xEE7C1BB6u);               // FAT
  EXPECT_EQ(qm::SerialFromUuid("01D9A3B4C5E6F708"), 0x01D9A3B4C5E6F708u);  // NTFS
  EXPECT_EQ(qm::SerialFromUuid("1b4e28ba-2fa1-11d2-883f-0016d3cca427"), 0u);  // too long for a serial
  EXPECT_EQ(qm::SerialFromUuid("xyz"), 0u);
  EXPECT_EQ(qm::SerialFromUuid(""), 0u);
}

TEST(BlockDevices, LibblkidNamesTheFileSystemLabelAndSerialOfAnImage) {
  if (!qmtest::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat is needed";
  const std::string dir = qmtest::MakeTempDir("blkid");
  const std::string image = dir + "/card.img";
  ASSERT_EQ(qmtest::RunCommand("mkfs.fat -C -n 'MY CARD' -i 1A2B3C4D " + image + " 2048 >/dev/null"), 0);
  const qm::BlockIdFacts facts = qm::ProbeBlockId(image);
  EXPECT_TRUE(facts.Probed);
  EXPECT_EQ(facts.Type, "vfat");
  EXPECT_EQ(facts.Label, "MY CARD");
  EXPECT_EQ(facts.Uuid, "1A2B-3C4D");
  EXPECT_EQ(facts.Serial, 0x1A2B3C4Du);

  // Zeros hold no file system; a missing device gives its errno.
  const std::string zeros = qmtest::WriteTempFile("zeros.img", std::vector<uint8_t>(64 * 1024));
  EXPECT_EQ(qm::ProbeBlockId(zeros).Type, "");
  const qm::BlockIdFacts missing = qm::ProbeBlockId(dir + "/none");
  EXPECT_FALSE(missing.Probed);
  EXPECT_EQ(missing.Error, ENOENT);
}
