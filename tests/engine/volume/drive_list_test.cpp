// The drive list over a fake sysfs tree and a fake /dev of image files: the
// order of the list, identities across rescans, parents and children, the
// facts gathered, a device that hangs, and media arriving and going away.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <mutex>
#include <thread>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/block_device_monitor.h"
#include "platform/messages.h"
#include "services/app.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/test_support.h"

namespace {

struct RecordingTarget : IMessageTarget {
  std::mutex mutex;
  std::vector<std::pair<uint32_t, uintptr_t>> posted;
  void PostMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
    std::lock_guard lock(mutex);
    posted.emplace_back(message, wParam);
  }
  intptr_t SendMessage(uint32_t, uintptr_t, intptr_t) override { return 0; }
};

bool LogHas(const std::string& text) {
  for (const auto& line : theLog().Lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// The drive list of theComputer() pointed at a fake tree; back to an empty
// tree afterwards so that no other test sees these volumes.
class DriveList : public ::testing::Test {
protected:
  void SetUp() override { theComputer().SetDeviceRoots(tree.SysRoot(), tree.DevRoot()); }
  void TearDown() override {
    qmtest::FakeBlockTree empty;
    theComputer().SetDeviceRoots(empty.SysRoot(), empty.DevRoot());
    theComputer().Rescan();
    theComputer().SetDeviceRoots("/sys", "/dev");
  }
  CVolume* Find(const std::string& name) {
    for (CVolume* v : theComputer().Volumes.Snapshot())
      if (v->KernelName == name) return v;
    return nullptr;
  }
  qmtest::FakeBlockTree tree;
};

}  // namespace

TEST_F(DriveList, DisksThenPartitionsThenKeptImagesWhoKeepTheirIdentities) {
  tree.AddDisk("sdb", 4096, true, "Generic", "Card Reader");
  tree.AddPartition("sdb", "sdb1", 1, 2048, 2048);
  tree.AddPartition("sdb", "sdb2", 2, 100, 50, false);  // no device file: it cannot be opened
  tree.AddDisk("sda", 2048);
  tree.AddDisk("sr0", 2048);
  if (qmtest::HaveTool("mkfs.fat")) {
    std::filesystem::remove(tree.DevicePath("sdb1"));
    ASSERT_EQ(qmtest::RunCommand("mkfs.fat -C -n CARD -i 12345678 " + tree.DevicePath("sdb1") + " 1024 >/dev/null"), 0);
  }

  CLocalComputer& computer = theComputer();
  computer.Rescan();  // the images below come after every earlier volume
  const std::string imagePath = qmtest::WriteTempFile("kept.dsk", std::vector<uint8_t>(64 * 512));
  CVolume* image = computer.LoadImage(imagePath);
  ASSERT_NE(image, nullptr);
  const int64_t imageId = image->ObjectID;

  EXPECT_EQ(computer.Rescan(), 5u);
  auto volumes = computer.Volumes.Snapshot();
  ASSERT_EQ(volumes.size(), 5u);
  std::vector<std::string> order;
  for (CVolume* v : volumes) order.push_back(v->KernelName.empty() ? "image" : v->KernelName);
  EXPECT_EQ(order, (std::vector<std::string>{"sda", "sdb", "sdb1", "sdb2", "image"}));
  EXPECT_EQ(volumes[4], image);
  EXPECT_EQ(image->ObjectID, imageId);
  for (int i = 0; i < 4; ++i) EXPECT_LT(volumes[i]->ObjectID, imageId);
  for (int i = 1; i < 4; ++i) EXPECT_LT(volumes[i]->ObjectID, volumes[i - 1]->ObjectID);  // counted down

  CVolume* sda = volumes[0];
  CVolume* sdb = volumes[1];
  CVolume* sdb1 = volumes[2];
  CVolume* sdb2 = volumes[3];
  EXPECT_EQ(sda->Kind, VolumePhysical);
  EXPECT_EQ(sda->Description, "Drive 0");
  EXPECT_EQ(sdb->Description, "Generic, Card Reader");
  EXPECT_EQ(sdb->MediaType, 2u);
  EXPECT_EQ(sda->MediaType, 3u);
  EXPECT_EQ(sdb->DeviceNumber.DeviceNumber, 1u);
  EXPECT_EQ(sdb1->Kind, VolumeLogical);
  EXPECT_EQ(sdb1->Parent, sdb);
  EXPECT_EQ(sdb2->Parent, sdb);
  EXPECT_EQ(sdb->Children, (std::vector<CVolume*>{sdb1, sdb2}));
  EXPECT_EQ(sdb1->DeviceNumber.DeviceNumber, 1u);
  EXPECT_EQ(sdb1->Layout.Entries[0].StartingOffset, 2048 * 512);
  EXPECT_EQ(sdb1->DevicePath, tree.DevicePath("sdb1"));

  // The information threads have ended: facts in, states settled.
  EXPECT_EQ(sda->State.load(), StateReady);
  EXPECT_EQ(sda->Size, 2048u * 512);
  EXPECT_EQ(sdb1->State.load(), StateReady);
  EXPECT_EQ(sdb2->State.load(), StateNotReady);
  EXPECT_EQ(sdb2->OpenError.load(), ENOENT);
  if (qmtest::HaveTool("mkfs.fat")) {
    EXPECT_EQ(sdb1->FileSystemText, "vfat");
    EXPECT_EQ(sdb1->Label, "CARD");
    EXPECT_EQ(sdb1->SerialNumber, 0x12345678u);
    EXPECT_EQ(sdb1->DisplayNameText(), "sdb1 (CARD)");
  }
  EXPECT_EQ(sdb2->DisplayNameText(), "sdb2");

  // A second rescan: new, lower identities for disks and partitions.
  const int64_t lowest = sdb2->ObjectID;
  computer.Rescan();
  volumes = computer.Volumes.Snapshot();
  ASSERT_EQ(volumes.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_LT(volumes[i]->ObjectID, lowest);
  EXPECT_EQ(volumes[4], image);
  EXPECT_EQ(image->ObjectID, imageId);
  EXPECT_EQ(computer.Volumes.GetAt(5), nullptr);
}

TEST_F(DriveList, MediaRemovedAndConnectedChangeStateLogAndTellTheWindow) {
  tree.AddDisk("sdc", 1024, true);
  tree.AddPartition("sdc", "sdc1", 1, 0, 1024);
  theComputer().Rescan();
  CVolume* sdc1 = Find("sdc1");
  ASSERT_NE(sdc1, nullptr);
  ASSERT_EQ(sdc1->State.load(), StateReady);

  RecordingTarget window;
  theApp().MainWindow = &window;
  theComputer().OnDeviceChange({qm::MediaChange::Removal, "sdc1", true});
  EXPECT_EQ(sdc1->State.load(), StateNotReady);
  EXPECT_FALSE(sdc1->MediaGate().IsOpen());
  EXPECT_TRUE(LogHas("Drive sdc1: Medium removed!"));
  theComputer().OnDeviceChange({qm::MediaChange::Arrival, "sdc1", true});
  EXPECT_EQ(sdc1->State.load(), StateReady);
  EXPECT_TRUE(sdc1->MediaGate().IsOpen());
  EXPECT_TRUE(LogHas("Volume sdc1: Medium connected!"));
  theApp().MainWindow = nullptr;
  ASSERT_EQ(window.posted.size(), 2u);
  EXPECT_EQ(window.posted[0], std::make_pair(WM_MEDIA_CHANGED, uintptr_t{0x8004}));
  EXPECT_EQ(window.posted[1], std::make_pair(WM_MEDIA_CHANGED, uintptr_t{0x8000}));
}

TEST_F(DriveList, RescanReturnsWhileADeviceHangsAndTheListIsSafeToReadMeanwhile) {
  tree.AddDisk("sda", 64);
  tree.AddDisk("sdd", 64, false, "", "", false);
  // A device whose open never returns (a FIFO without a writer).
  ASSERT_EQ(::mkfifo(tree.DevicePath("sdd").c_str(), 0600), 0);

  std::atomic<bool> scanning{true};
  std::thread reader([&] {
    // The interface thread reads the list while the scan rebuilds it.
    while (scanning.load())
      for (size_t i = 0, n = theComputer().Volumes.GetCount(); i < n; ++i)
        if (CVolume* v = theComputer().Volumes.GetAt(i)) (void)v->ObjectID;
  });
  const size_t count = theComputer().Rescan();
  scanning = false;
  reader.join();
  EXPECT_EQ(count, 2u);
  CVolume* sdd = Find("sdd");
  ASSERT_NE(sdd, nullptr);
  EXPECT_EQ(sdd->State.load(), StateQuerying);  // not waited for beyond the bound
  EXPECT_EQ(Find("sda")->State.load(), StateReady);

  // Let the hung open finish so the volume can go.
  const int fd = ::open(tree.DevicePath("sdd").c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) ::close(fd);
}
