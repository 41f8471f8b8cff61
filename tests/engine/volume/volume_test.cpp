// Volumes and the drive list: loading images, names, sizes and the list.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "tests/support/test_support.h"

namespace {

TEST(LoadImage, MakesAReadyImageVolumeWithTheFilesSizes) {
  const std::string image = qmtest::SampleImage();
  ASSERT_FALSE(image.empty());
  const size_t before = theComputer().Volumes.GetCount();
  CVolume* a = theComputer().LoadImage(image);
  CVolume* b = theComputer().LoadImage(image);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(theComputer().Volumes.GetCount(), before + 2);
  EXPECT_EQ(theComputer().Volumes.GetAt(before), a);
  EXPECT_LE(a->ObjectID, -65537);
  EXPECT_EQ(b->ObjectID, a->ObjectID - 1);
  EXPECT_EQ(a->Kind, VolumeImage);
  EXPECT_EQ(a->MediaType, 7u);
  EXPECT_EQ(a->Flags & FOF_FOUND_VOLUME, FOF_FOUND_VOLUME);
  EXPECT_EQ(a->ParentID, VIEW_TOP_ID);
  EXPECT_EQ(a->Volume, a);
  EXPECT_EQ(a->Parent, a);
  EXPECT_EQ(a->State.load(), StateReady);
  EXPECT_EQ(a->Size, 40u << 20);
  EXPECT_EQ(a->TotalSectors, 81920u);
  EXPECT_EQ(a->BytesPerSector, 512u);
  EXPECT_EQ(a->GetDisplayName(), "sample-fat32.img");
  EXPECT_EQ(a->GetDevicePath(), image);
  EXPECT_FALSE(a->IsBlockDevice);
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  EXPECT_EQ(a->SourceDeviceId, st.st_dev);
  // Closed, the volume reopens its file on the next read.
  uint8_t sector[512];
  a->Close();
  EXPECT_EQ(a->ReadSectors(sector, 0, uint64_t{1}), 512u);
  EXPECT_EQ(sector[510], 0x55);
  EXPECT_EQ(sector[511], 0xAA);
}

TEST(LoadImage, TakesTheClusterSizeFromTheBootSector) {
  if (!qmtest::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
  const std::string dir = qmtest::MakeTempDir("qm-vol");
  const std::string image = dir + "/fat16.img";
  ASSERT_EQ(qmtest::RunCommand("mkfs.fat -F 16 -s 8 -C '" + image + "' 16384 >/dev/null 2>&1"), 0);
  CVolume* v = theComputer().LoadImage(image);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->SectorsPerCluster, 8u);
  EXPECT_EQ(v->BytesPerCluster, 4096u);
  EXPECT_EQ(v->TotalSectors, 32768u);
  EXPECT_EQ(v->TotalClusters, 4096u);
}

TEST(LoadImage, OddSizesAndMissingFiles) {
  const size_t lines = theLog().LineCount();
  EXPECT_EQ(theComputer().LoadImage("/nonexistent/quillmore.dsk"), nullptr);
  EXPECT_EQ(theLog().LineCount(), lines);  // nothing logged
  CVolume* v = theComputer().LoadImage(qmtest::WriteTempFile("odd.dsk", std::vector<uint8_t>(1000, 0x41)));
  ASSERT_TRUE(v);
  EXPECT_EQ(v->Size, 1000u);
  EXPECT_EQ(v->TotalSectors, 1u);  // the trailing part is not a sector
}

TEST(Volume, DisplayNamesByKind) {
  CVolume logical(VolumeLogical);
  logical.DevicePath = "/dev/sdb1";
  EXPECT_EQ(logical.GetDisplayName(), "sdb1");
  logical.Label = "  BACKUP DISK ";
  EXPECT_EQ(logical.GetDisplayName(), "sdb1 (BACKUP DISK)");
  EXPECT_EQ(logical.DisplayName, "sdb1 (BACKUP DISK)");

  CVolume physical(VolumePhysical);
  physical.Description = "Drive 1";
  EXPECT_EQ(physical.GetDisplayName(), "Drive 1");

  CVolume found(VolumeFound);
  found.Parent = &logical;
  found.VolumeStartOffset = 32256;
  EXPECT_EQ(found.GetDisplayName(), "Volume at: 32256");
  EXPECT_EQ(found.GetDevicePath(), "/dev/sdb1");
  CVolume orphan(VolumeVirtual);
  orphan.DevicePath = "/dev/keep";
  EXPECT_EQ(orphan.GetDevicePath(), "/dev/keep");  // no parent: unchanged

  EXPECT_STREQ(CVolume::KindText(VolumeImage), "Volume Image");
  EXPECT_STREQ(CVolume::MediaTypeText(2), "Removable");
  EXPECT_STREQ(CVolume::MediaTypeText(7), "OS File");
  EXPECT_STREQ(CVolume::MediaTypeText(9), "unknown");
}

TEST(Volume, InitialValuesPositionsAndConversions) {
  CVolume v(VolumeImage);
  EXPECT_EQ(v.State.load(), StateNotReady);
  EXPECT_EQ(v.SectorsPerCluster, 1u);
  EXPECT_EQ(v.BytesPerSector, 512u);
  EXPECT_EQ(v.BytesPerCluster, 512u);
  EXPECT_EQ(v.DeviceNumber.DeviceNumber, 0xFFFFFFFFu);
  EXPECT_FALSE(v.IsOpen());

  EXPECT_EQ(v.Position(), 0u);
  EXPECT_EQ(v.Position(77), 77u);
  EXPECT_EQ(v.Position(~0ull), 77u);  // all ones reads without storing
  EXPECT_EQ(v.EndPosition(1000), 1000u);
  EXPECT_EQ(v.EndPosition(), 1000u);

  v.SectorsPerCluster = 8;
  EXPECT_EQ(v.SectorsToClusters(17), 2u);
  EXPECT_EQ(v.ClustersToSectors(3), 24u);
  EXPECT_EQ(v.SectorsToClusters(0), ~0ull);
  EXPECT_EQ(v.ClustersToSectors(0), ~0ull);
  v.SectorsPerCluster = 0;
  EXPECT_EQ(v.SectorsToClusters(8), ~0ull);
  EXPECT_EQ(v.ClustersToSectors(8), ~0ull);
}

TEST(Volume, QueryInformationOfAnInMemoryImage) {
  CVolume v(VolumeImage);
  v.AttachDevice(std::make_shared<CMemoryDevice>(size_t{1} << 20));
  v.QueryInformation();
  EXPECT_EQ(v.State.load(), StateReady);
  EXPECT_EQ(v.Size, 1u << 20);
  EXPECT_EQ(v.TotalSectors, 2048u);
  EXPECT_EQ(v.TotalClusters, 2048u);
}

TEST(VolumesList, IdsCountDownAndTheListTakesConcurrentAppends) {
  const int64_t first = theComputer().NextVolumeId();
  EXPECT_LE(first, -65537);
  EXPECT_EQ(theComputer().NextVolumeId(), first - 1);

  CVolumesList list;
  EXPECT_EQ(list.GetAt(0), nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) list.Append(std::make_unique<CVolume>(VolumeFound));
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(list.GetCount(), 200u);
  EXPECT_EQ(list.Snapshot().size(), 200u);
  EXPECT_EQ(list.GetAt(200), nullptr);
}

}  // namespace
