// The partition-table walk and the found-volume check over tables crafted
// byte by byte: the extended-partition layout, entries past the disk,
// hostile chains, repeated discoveries, mounted partitions, tables inside
// found volumes, and the backup copies of boot sectors.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/partition/boot_search.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "tests/engine/partition/disk_bytes.h"

namespace {

using namespace qmtest;


// A disk in memory; sectors are 512 bytes.
struct Disk {
  explicit Disk(size_t sectors) : bytes(sectors * 512, 0) {}
  uint8_t* Sector(uint64_t s) { return bytes.data() + s * 512; }
  void Sign(uint64_t s) {
    Sector(s)[0x1FE] = 0x55;
    Sector(s)[0x1FF] = 0xAA;
  }
  void Entry(uint64_t table, int slot, uint8_t type, uint32_t start, uint32_t sectors) {
    uint8_t* e = Sector(table) + 0x1BE + 16 * slot;
    e[4] = type;
    Put32(e + 8, start);
    Put32(e + 12, sectors);
    Sign(table);
  }
  // A FAT16 boot sector (what detection looks at, and a size).
  void Fat16Boot(uint64_t s, uint32_t sectors) {
    uint8_t* b = Sector(s);
    Put16(b + 0x0B, 512);
    b[0x0D] = 4;
    Put16(b + 0x13, sectors < 0x10000 ? sectors : 0);
    if (sectors >= 0x10000) Put32(b + 0x20, sectors);
    std::memcpy(b + 0x36, "FAT16   ", 8);
    Sign(s);
  }
  std::vector<uint8_t> bytes;
};


class WalkTest : public ::testing::Test {
protected:
  CVolume* Load(const Disk& disk, uint64_t totalSectors = 0, VolumeKind kind = VolumeImage) {
    return ListDisk(disk.bytes, totalSectors, kind);
  }
  void SetUp() override { mark = theLog().LineCount(); }
  size_t mark = 0;
};

std::vector<CVolume*> Found(CVolume* parent) {
  std::vector<CVolume*> out;
  for (CVolume* v : parent->ChildVolumes())
    if (v->Kind == VolumeFound) out.push_back(v);
  return out;
}

TEST_F(WalkTest, ExtendedChainFollowsTheLogicalAndLinkLayout) {
  Disk d(4096);
  d.Entry(0, 0, 0x06, 64, 500);    // primary FAT16
  d.Entry(0, 1, 0x83, 600, 100);   // a Linux partition: no name in the log line
  d.Entry(0, 2, 0x05, 1000, 3000); // the extended partition
  // First extended table at 1000: a logical at 1000+10, a link to 1000+500.
  d.Entry(1000, 0, 0x06, 10, 400);
  d.Entry(1000, 1, 0x05, 500, 600);
  // Second table at 1500: a logical at 1500+20; a link to 1000+1200.
  d.Entry(1500, 0, 0x07, 20, 300);
  d.Entry(1500, 1, 0x05, 1200, 600);
  // Third table at 2200: a logical at 2200+30, no link.
  d.Entry(2200, 0, 0x0B, 30, 200);
  d.Fat16Boot(64, 500);
  d.Fat16Boot(1010, 400);
  CVolume* disk = Load(d);
  disk->Analyse_Boot();

  auto found = Found(disk);
  ASSERT_EQ(found.size(), 5u);
  const uint64_t starts[] = {64, 600, 1010, 1520, 2230};
  const uint32_t numbers[] = {1, 2, 5, 6, 7};
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i]->StartOffset, starts[i] * 512) << i;
    EXPECT_EQ(found[i]->VolumeStartOffset, starts[i] * 512) << i;
    EXPECT_EQ(found[i]->Origin.EntryNumber, numbers[i]) << i;
    EXPECT_EQ(found[i]->Kind, VolumeFound);
    EXPECT_EQ(found[i]->Flags, FOF_FOUND_VOLUME);
    EXPECT_EQ(found[i]->ParentID, disk->ObjectID);
    EXPECT_EQ(found[i]->Parent, disk);
    EXPECT_LT(found[i]->ObjectID, -0x10000);
  }
  EXPECT_EQ(found[0]->Origin.Scheme, PartitionScheme::MbrPrimary);
  EXPECT_EQ(found[2]->Origin.Scheme, PartitionScheme::MbrLogical);
  EXPECT_EQ(found[0]->FileSystem().FileSystemType, 4u);
  EXPECT_EQ(found[2]->FileSystem().FileSystemType, 4u);
  EXPECT_EQ(found[0]->TotalSectors, 500u);
  EXPECT_EQ(found[2]->Size, 400u * 512);
  EXPECT_EQ(LogCount(mark, "Found FAT16 volume at: 32768"), 1);
  EXPECT_EQ(LogCount(mark, "Found  volume at: 307200"), 1);
  EXPECT_EQ(LogCount(mark, "Found NTFS volume at: 778240"), 1);
  // Each found volume is an object of the disk's catalog (not the
  // catalog's to free), and stays one after the catalog is cleared.
  std::vector<CFoundObject*> objects;
  disk->Catalog().GetChildren(disk->ObjectID, objects);
  EXPECT_EQ(std::count(objects.begin(), objects.end(), found[3]), 1);
  disk->AnalyseFileSystem();
  objects.clear();
  disk->Catalog().GetChildren(disk->ObjectID, objects);
  EXPECT_EQ(std::count(objects.begin(), objects.end(), found[3]), 1);

  // A second walk (a later analysis) finds the same volumes: confirmed,
  // none made again.
  const size_t listed = theComputer().Volumes.GetCount();
  disk->Analyse_Boot();
  EXPECT_EQ(theComputer().Volumes.GetCount(), listed);
  EXPECT_EQ(Found(disk).size(), 5u);
  for (CVolume* v : Found(disk)) EXPECT_TRUE(v->Flags & FOF_CONFIRMED);
}

TEST_F(WalkTest, TablesThatAreNotTablesAreNotWalked) {
  // A disk formatted without a table: its FAT boot sector also carries
  // 0x55 0xAA, but it is a file system, not a table.
  Disk fat(2048);
  fat.Fat16Boot(0, 2048);
  Put32(fat.Sector(0) + 0x1BE + 8, 100);  // boot code bytes where entries would be
  fat.Sector(0)[0x1BE + 4] = 0x06;
  Put32(fat.Sector(0) + 0x1BE + 12, 100);
  CVolume* a = Load(fat);
  a->Analyse_Boot();
  EXPECT_EQ(a->FileSystem().FileSystemType, 4u);
  EXPECT_TRUE(Found(a).empty());

  // Signature bytes reversed.
  Disk reversed(2048);
  reversed.Entry(0, 0, 0x06, 64, 100);
  reversed.Sector(0)[0x1FE] = 0xAA;
  reversed.Sector(0)[0x1FF] = 0x55;
  CVolume* b = Load(reversed);
  b->Analyse_Boot();
  EXPECT_TRUE(Found(b).empty());
}

TEST_F(WalkTest, LargeStartsAndOversizedEntries) {
  // A start at sector 4294967295 on a disk of 2^33 sectors: the offset is
  // computed in 64 bits.
  Disk d(64);
  d.Entry(0, 0, 0x07, 0xFFFFFFFFu, 100);
  // An entry that claims more sectors than the disk has: used, with its
  // size cut to what the disk holds.
  d.Entry(0, 1, 0x06, 1000, 0xFFFFFFF0u);
  CVolume* disk = Load(d, 1ull << 32);
  disk->Analyse_Boot();
  auto found = Found(disk);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->StartOffset, 4294967295ull * 512);
  EXPECT_EQ(found[0]->TotalSectors, 1u);  // the disk ends one sector later
  EXPECT_EQ(found[1]->StartOffset, 1000u * 512);
  EXPECT_EQ(found[1]->TotalSectors, (1ull << 32) - 1000);
  EXPECT_EQ(found[1]->Size, ((1ull << 32) - 1000) * 512);
  EXPECT_EQ(LogCount(mark, "pPartition->NumberSectors > TotalSectors"), 2);
  EXPECT_EQ(LogCount(mark, "Found NTFS volume at: 2199023255040"), 1);

  // Entries starting at or past the end of the disk: skipped.
  Disk small(64);
  small.Entry(0, 0, 0x06, 64, 10);
  small.Entry(0, 1, 0x06, 1000, 10);
  CVolume* b = Load(small);
  b->Analyse_Boot();
  EXPECT_TRUE(Found(b).empty());
}

TEST_F(WalkTest, HostileChainsAreCut) {
  // An extended table that links to itself.
  Disk loop(4096);
  loop.Entry(0, 0, 0x05, 100, 3000);
  loop.Entry(100, 0, 0x06, 10, 20);
  loop.Entry(100, 1, 0x05, 0, 3000);
  CVolume* a = Load(loop);
  a->Analyse_Boot();
  EXPECT_EQ(Found(a).size(), 1u);
  EXPECT_EQ(LogCount(mark, "links back to a table already read"), 1);

  // Two tables linking to each other.
  Disk pair(4096);
  pair.Entry(0, 0, 0x0F, 100, 3000);
  pair.Entry(100, 0, 0x05, 200, 10);
  pair.Entry(300, 0, 0x05, 0, 10);
  CVolume* b = Load(pair);
  b->Analyse_Boot();
  EXPECT_TRUE(Found(b).empty());
  EXPECT_EQ(LogCount(mark, "links back to a table already read"), 2);

  // Tables that each name a partition starting one sector on, which holds
  // the next table: the nesting stops at 8 levels.
  Disk nest(64);
  for (uint32_t s = 0; s < 40; ++s) nest.Entry(s, 0, 0x83, 1, 20);
  CVolume* n = Load(nest);
  n->Analyse_Boot();
  int levels = 0;
  for (CVolume* v = n; !Found(v).empty(); v = Found(v)[0]) ++levels;
  EXPECT_EQ(levels, 9);
  EXPECT_EQ(LogCount(mark, "found volumes nested more than 8 deep"), 1);

  // A chain that runs on: 600 tables, each linking to the next.
  Disk chain(1400);
  chain.Entry(0, 0, 0x05, 100, 1200);
  for (uint32_t i = 0; i < 600; ++i) {
    chain.Entry(100 + 2 * i, 0, 0x06, 1, 1);
    chain.Entry(100 + 2 * i, 1, 0x05, 2 * (i + 1), 2);
  }
  CVolume* c = Load(chain);
  c->Analyse_Boot();
  EXPECT_EQ(Found(c).size(), 256u);
  EXPECT_EQ(LogCount(mark, "more than 256 extended tables"), 1);
}

TEST_F(WalkTest, OneVolumePerStart) {
  // Two entries naming one start make one volume.
  Disk d(2048);
  d.Entry(0, 0, 0x06, 64, 500);
  d.Entry(0, 1, 0x06, 64, 500);
  d.Fat16Boot(64, 500);
  CVolume* disk = Load(d);
  disk->Analyse_Boot();
  ASSERT_EQ(Found(disk).size(), 1u);
  CVolume* part = Found(disk)[0];
  EXPECT_TRUE(part->Flags & FOF_CONFIRMED);

  // The search meeting the boot sector the walk found confirms that volume;
  // meeting the searched volume's own boot sector confirms the volume.
  part->Flags = FOF_FOUND_VOLUME;
  OfferFoundBootSector(*disk, 64 * 512, 4);
  EXPECT_EQ(Found(disk).size(), 1u);
  EXPECT_TRUE(part->Flags & FOF_CONFIRMED);
  OfferFoundBootSector(*part, 0, 4);
  EXPECT_TRUE(Found(part).empty());
  EXPECT_TRUE(part->Flags & FOF_CONFIRMED);
  EXPECT_EQ(LogCount(mark, "Found FAT16 volume at"), 1);
}

TEST_F(WalkTest, MountedPartitionsAreSkipped) {
  Disk d(2048);
  d.Entry(0, 0, 0x06, 64, 500);
  d.Entry(0, 1, 0x06, 600, 500);
  CVolume* disk = Load(d, 0, VolumePhysical);
  // The system mounted the first partition: a logical child starting there.
  auto mounted = std::make_unique<CVolume>(VolumeLogical);
  mounted->ObjectID = theComputer().NextVolumeId();
  mounted->ParentID = disk->ObjectID;
  mounted->Layout.PartitionCount = 1;
  mounted->Layout.Entries[0].StartingOffset = 64 * 512;
  disk->AddChildVolume(mounted.get());
  CVolume* logical = mounted.get();
  theComputer().Volumes.Append(std::move(mounted));

  disk->Analyse_Boot();
  auto found = Found(disk);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->StartOffset, 600u * 512);
  EXPECT_EQ(LogCount(mark, "Found FAT16 volume at: 32768"), 0);
  // The search meeting the mounted partition's boot sector confirms it.
  OfferFoundBootSector(*disk, 64 * 512, 4);
  EXPECT_TRUE(logical->Flags & FOF_CONFIRMED);
  EXPECT_EQ(Found(disk).size(), 1u);
}

TEST_F(WalkTest, TablesInsideFoundVolumesReadAtTheirPlace) {
  // A partition at 100 that holds a table of its own, whose entry at 50
  // (counted from the partition) holds a FAT16 boot sector: the inner
  // volume reads at 150 on the disk, the partition's offset added once.
  Disk d(2048);
  d.Entry(0, 0, 0x83, 100, 1000);
  d.Entry(100, 0, 0x06, 50, 200);
  d.Fat16Boot(150, 200);
  CVolume* disk = Load(d);
  disk->Analyse_Boot();
  ASSERT_EQ(Found(disk).size(), 1u);
  CVolume* outer = Found(disk)[0];
  auto inner = Found(outer);
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner[0]->StartOffset, 50u * 512);
  EXPECT_EQ(inner[0]->VolumeStartOffset, 150u * 512);
  EXPECT_EQ(inner[0]->FileSystem().FileSystemType, 4u);
  EXPECT_EQ(inner[0]->ParentID, outer->ObjectID);
}

TEST_F(WalkTest, RecordsWithoutAParentInTheListDoNothing) {
  CFoundObject record;
  record.ParentID = 12345;
  record.StartOffset = 4096;
  const size_t listed = theComputer().Volumes.GetCount();
  EXPECT_EQ(theComputer().AddFoundVolume(record), nullptr);
  EXPECT_EQ(theComputer().Volumes.GetCount(), listed);
}

// A FAT32 volume's boot sector at `start` with its backup at start + 6 and
// its first FAT at start + 32.
void Fat32Volume(Disk& d, uint64_t start, uint32_t sectors) {
  uint8_t* b = d.Sector(start);
  Put16(b + 0x0B, 512);
  b[0x0D] = 1;
  Put16(b + 0x0E, 32);
  b[0x10] = 2;
  b[0x15] = 0xF8;
  Put32(b + 0x20, sectors);
  Put32(b + 0x24, 100);
  Put32(b + 0x2C, 2);
  Put16(b + 0x32, 6);
  Put32(b + 0x43, 0x12345678);
  std::memcpy(b + 0x52, "FAT32   ", 8);
  d.Sign(start);
  std::memcpy(d.Sector(start + 6), b, 512);
  const uint8_t fat[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  std::memcpy(d.Sector(start + 32), fat, sizeof fat);
}

// An NTFS volume's boot sector at `start`, its MFT at cluster 4 (8 sectors a
// cluster) and its backup boot sector in its last sector.
void NtfsVolume(Disk& d, uint64_t start, uint64_t sectors) {
  uint8_t* b = d.Sector(start);
  std::memcpy(b + 3, "NTFS    ", 8);
  Put16(b + 0x0B, 512);
  b[0x0D] = 8;
  Put64(b + 0x28, sectors - 1);
  Put64(b + 0x30, 4);
  Put64(b + 0x48, 0xABCDEF0123456789ull);
  d.Sign(start);
  std::memcpy(d.Sector(start + sectors - 1), b, 512);
  std::memcpy(d.Sector(start + 32), "FILE0", 5);
}

TEST_F(WalkTest, BackupBootSectorsFindVolumesWhosePrimaryIsGone) {
  Disk d(4096);
  Fat32Volume(d, 100, 1000);
  NtfsVolume(d, 2000, 1000);
  CVolume* disk = Load(d);

  // Intact: each copy names the volume its primary starts, no volume of
  // its own.
  OfferFoundBootSector(*disk, 100 * 512, 11);
  OfferFoundBootSector(*disk, 106 * 512, 11);
  OfferFoundBootSector(*disk, 2000 * 512, 7);
  OfferFoundBootSector(*disk, 2999 * 512, 7);
  auto found = Found(disk);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->StartOffset, 100u * 512);
  EXPECT_EQ(found[0]->TotalSectors, 1000u);
  EXPECT_EQ(found[1]->StartOffset, 2000u * 512);
  EXPECT_EQ(found[1]->TotalSectors, 1000u);
  EXPECT_EQ(LogCount(mark, "is the backup copy"), 0);

  // Primaries zeroed: the copies find the volumes at their true starts,
  // read from the copies.
  Disk z(4096);
  Fat32Volume(z, 100, 1000);
  NtfsVolume(z, 2000, 1000);
  std::memset(z.Sector(100), 0, 512);
  std::memset(z.Sector(2000), 0, 512);
  CVolume* damaged = Load(z);
  OfferFoundBootSector(*damaged, 106 * 512, 11);
  OfferFoundBootSector(*damaged, 2999 * 512, 7);
  found = Found(damaged);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->StartOffset, 100u * 512);
  EXPECT_EQ(found[0]->FileSystem().FileSystemType, 11u);
  EXPECT_TRUE(found[0]->Origin.FromBackupBoot);
  EXPECT_EQ(found[0]->TotalSectors, 1000u);
  EXPECT_EQ(found[1]->StartOffset, 2000u * 512);
  EXPECT_EQ(found[1]->FileSystem().FileSystemType, 7u);
  EXPECT_EQ(found[1]->TotalSectors, 1000u);
  EXPECT_EQ(LogCount(mark, "Boot sector at 54272 is the backup copy of the FAT32 volume at 51200"), 1);
  EXPECT_EQ(LogCount(mark, "Boot sector at 1535488 is the backup copy of the NTFS volume at 1024000"), 1);

  // A table naming the damaged volumes leads to the copies without a search.
  z.Entry(0, 0, 0x0C, 100, 1000);
  z.Entry(0, 1, 0x07, 2000, 1000);
  CVolume* table = Load(z);
  table->Analyse_Boot();
  found = Found(table);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->FileSystem().FileSystemType, 11u);
  EXPECT_EQ(found[0]->Origin.BootSector, 6u);
  EXPECT_EQ(found[1]->FileSystem().FileSystemType, 7u);
  EXPECT_EQ(found[1]->Origin.BootSector, 999u);
  EXPECT_EQ(LogCount(mark, "The boot sector of the NTFS volume at 1024000 is damaged: it is read from its backup copy in sector 999"), 1);
}

}  // namespace
