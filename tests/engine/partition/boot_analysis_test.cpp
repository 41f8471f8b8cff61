// The boot area of a volume: detection, geometry and serial numbers taken
// from the boot sector, the image-size rule and unreadable boot areas.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/filesystems/file_system.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/log.h"
#include "tests/engine/partition/disk_bytes.h"
#include "tests/support/test_support.h"

namespace {

using qmtest::LogCount;
using qmtest::Put16;
using qmtest::Put32;


std::vector<uint8_t> FatBoot(const char* type, size_t bytes = 4096) {
  std::vector<uint8_t> b(bytes, 0);
  Put16(&b[0x0B], 512);
  b[0x0D] = 4;
  if (std::strcmp(type, "FAT32   ") == 0) {
    std::memcpy(&b[0x52], type, 8);
  } else {
    std::memcpy(&b[0x36], type, 8);
  }
  return b;
}

// A volume over bytes whose size the device does not tell: TotalSectors and
// Size start at 0 so the boot sector's values are taken.
std::unique_ptr<CVolume> Volume(const std::vector<uint8_t>& bytes, VolumeKind kind = VolumeLogical) {
  auto v = std::make_unique<CVolume>(kind);
  auto device = std::make_shared<CMemoryDevice>(bytes);
  device->SetCompleteAtOnce(true);
  v->AttachDevice(device);
  v->TotalSectors = 0;
  v->Size = 0;
  return v;
}


TEST(BootDetection, LaterTextFieldsWinInTheirOrder) {
  CFileSystem fs;
  auto b = FatBoot("FAT16   ");
  std::memcpy(&b[3], "NTFS    ", 8);
  EXPECT_EQ(fs.DetectType(b.data()), 4u);
  auto fat32 = FatBoot("FAT32   ");
  fat32[0x59] = 0;  // "FAT32" and two blanks, then a zero
  EXPECT_EQ(fs.DetectType(fat32.data()), 0u);
  auto noSignature = FatBoot("FAT12   ");  // no 0x55AA at 0x1FE
  EXPECT_EQ(fs.DetectType(noSignature.data()), 1u);
}

TEST(BootAnalysis, Fat16TotalSectorsSerialAndClusters) {
  auto b = FatBoot("FAT16   ");
  Put32(&b[0x20], 100000);
  Put32(&b[0x27], 0xA1B2C3D4);
  auto v = Volume(b);
  v->SerialNumber = 0x1111111100000000ull;
  EXPECT_EQ(v->Analyse_Boot(), 1u);
  EXPECT_EQ(v->FileSystem().FileSystemType, 4u);
  EXPECT_EQ(v->FileSystem().FileSystemName, "FAT16");
  EXPECT_EQ(v->TotalSectors, 100000u);
  EXPECT_EQ(v->Size, 100000u * 512);
  EXPECT_EQ(v->SectorsPerCluster, 4u);
  EXPECT_EQ(v->TotalClusters, 25000u);
  EXPECT_EQ(v->BytesPerCluster, 2048u);
  EXPECT_EQ(v->SerialNumber, 0x11111111A1B2C3D4ull);

  auto small = FatBoot("FAT16   ");
  Put16(&small[0x13], 3000);
  auto w = Volume(small);
  w->Analyse_Boot();
  EXPECT_EQ(w->TotalSectors, 3000u);

  // The device's own values win.
  auto x = Volume(b);
  x->TotalSectors = 77;
  x->Analyse_Boot();
  EXPECT_EQ(x->TotalSectors, 77u);
}

TEST(BootAnalysis, MissingTotalSectorsAreLogged) {
  size_t mark = theLog().LineCount();
  auto v = Volume(FatBoot("FAT16   "));
  v->Analyse_Boot();
  EXPECT_EQ(v->TotalSectors, 0u);
  EXPECT_EQ(LogCount(mark, "boot_fat16->BPB.Large_Sectors == 0 && boot_fat16->BPB.Small_Sectors == 0"), 1);
  mark = theLog().LineCount();
  auto w = Volume(FatBoot("FAT32   "));
  w->Analyse_Boot();
  EXPECT_EQ(LogCount(mark, "boot_fat32->BPB.Large_Sectors == 0 && boot_fat32->BPB.Small_Sectors == 0"), 1);
}

TEST(BootAnalysis, Fat32AndNtfsSerialNumbers) {
  auto b = FatBoot("FAT32   ");
  Put32(&b[0x43], 0xDEADBEEF);
  Put32(&b[0x20], 80000);
  auto v = Volume(b);
  v->Analyse_Boot();
  EXPECT_EQ(v->FileSystem().FileSystemType, 11u);
  EXPECT_EQ(v->SerialNumber, 0xDEADBEEFu);
  EXPECT_EQ(v->TotalSectors, 80000u);

  std::vector<uint8_t> ntfs(1024, 0);
  std::memcpy(&ntfs[3], "NTFS    ", 8);
  ntfs[0x0D] = 8;
  Put32(&ntfs[0x48], 0x01020304);  // high half 0
  auto n = Volume(ntfs);
  n->SerialNumber = 42;
  n->Analyse_Boot();
  EXPECT_EQ(n->FileSystem().FileSystemType, 7u);
  EXPECT_EQ(n->SerialNumber, 42u);
  EXPECT_EQ(n->TotalSectors, 0u);
  Put32(&ntfs[0x4C], 0x0A0B0C0D);
  auto m = Volume(ntfs);
  m->Analyse_Boot();
  EXPECT_EQ(m->SerialNumber, 0x0A0B0C0D01020304ull);
  EXPECT_EQ(m->SectorsPerCluster, 8u);
}

TEST(BootAnalysis, FloppyImageTakesItsSizeFromTheFile) {
  auto b = FatBoot("FAT12   ", 2880 * 512);
  b[0x0D] = 1;
  Put16(&b[0x13], 1000);  // the file size wins for an image
  std::string path = qmtest::WriteTempFile("floppy.img", b);
  CVolume* v = theComputer().LoadImage(path);
  ASSERT_NE(v, nullptr);
  v->TotalSectors = 0;
  v->Size = 0;
  EXPECT_EQ(v->Analyse_Boot(), 1u);
  EXPECT_EQ(v->TotalSectors, 2880u);
  EXPECT_EQ(v->Size, 2880u * 512);
  EXPECT_EQ(v->SectorsPerCluster, 1u);
  EXPECT_EQ(v->FileSystem().FileSystemName, "FAT12");
}

TEST(BootAnalysis, OneReadableSectorIsEnoughNoneIsAFailure) {
  auto b = FatBoot("FAT12   ", 512);
  Put16(&b[0x13], 1);
  auto v = Volume(b);
  EXPECT_EQ(v->Analyse_Boot(), 1u);
  EXPECT_EQ(v->FileSystem().FileSystemType, 1u);

  auto bad = std::make_shared<CMemoryDevice>(std::vector<uint8_t>(4096, 0));
  bad->SetCompleteAtOnce(true);
  bad->AddBadRange(0, 4096);
  CVolume w(VolumeLogical);
  w.AttachDevice(bad);
  w.DevicePath = "/dev/quillmore-test";
  w.SectorsPerCluster = 9;
  size_t mark = theLog().LineCount();
  EXPECT_EQ(w.Analyse_Boot(), E_FAIL_CODE);
  EXPECT_EQ(LogCount(mark, "Can't read boot sector on [quillmore-test]"), 1);
  EXPECT_EQ(w.SectorsPerCluster, 9u);
}

TEST(BootAnalysis, UnrecognisedSectorIsLeftToThePartitionWalk) {
  std::vector<uint8_t> mbr(1024, 0);
  mbr[0x1FE] = 0x55, mbr[0x1FF] = 0xAA;
  mbr[0x0D] = 64;  // not taken: no file system was recognised
  auto v = Volume(mbr);
  size_t mark = theLog().LineCount();
  EXPECT_EQ(v->Analyse_Boot(), 1u);
  EXPECT_EQ(v->FileSystem().FileSystemType, 0u);
  EXPECT_EQ(v->SectorsPerCluster, 1u);
  EXPECT_EQ(LogCount(mark, "Unknow filesystem ID"), 0);
}

}  // namespace
