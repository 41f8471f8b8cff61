// GUID partition tables crafted byte by byte, with their CRC32s: the
// partitions they name become Found volumes; a damaged primary header or
// entry array gives way to the backup; 4096-byte sectors are read as such.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>

#include "engine/filesystems/file_system.h"
#include "engine/partition/guid_partition_table.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "tests/engine/partition/disk_bytes.h"

namespace {

using namespace qmtest;

uint32_t Crc(const uint8_t* p, size_t n) { return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n))); }

// "Microsoft basic data" in its on-disk byte order.
const uint8_t kBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

struct GptPart {
  uint64_t first, last;
  const char16_t* name;
};

// A disk of `lbas` sectors of `sectorSize` bytes with a protective MBR, the
// primary header and entries at LBA 1 and 2, and the backup entries and
// header at the end, as partitioning tools write them.
class GptDisk {
public:
  GptDisk(uint32_t sectorSize, uint64_t lbas, std::vector<GptPart> parts)
      : L(sectorSize), lbas(lbas), bytes(sectorSize * lbas, 0) {
    uint8_t* mbr = bytes.data();
    mbr[0x1BE + 4] = 0xEE;
    Put32(mbr + 0x1BE + 8, 1);
    Put32(mbr + 0x1BE + 12, static_cast<uint32_t>(lbas - 1));
    mbr[0x1FE] = 0x55;
    mbr[0x1FF] = 0xAA;
    std::vector<uint8_t> entries(128 * 128, 0);
    for (size_t i = 0; i < parts.size(); ++i) {
      uint8_t* e = entries.data() + 128 * i;
      std::memcpy(e, kBasicData, 16);
      e[16] = static_cast<uint8_t>(i + 1);  // a unique GUID
      Put64(e + 32, parts[i].first);
      Put64(e + 40, parts[i].last);
      for (size_t k = 0; parts[i].name[k]; ++k) Put16(e + 56 + 2 * k, parts[i].name[k]);
    }
    const uint64_t entryLbas = entries.size() / L;
    std::memcpy(At(2), entries.data(), entries.size());
    std::memcpy(At(lbas - 1 - entryLbas), entries.data(), entries.size());
    Header(1, lbas - 1, 2, Crc(entries.data(), entries.size()));
    Header(lbas - 1, 1, lbas - 1 - entryLbas, Crc(entries.data(), entries.size()));
  }
  uint8_t* At(uint64_t lba) { return bytes.data() + lba * L; }
  // Writes the header at `lba` with its CRC.
  void Header(uint64_t lba, uint64_t alternate, uint64_t entriesLba, uint32_t entriesCrc, uint32_t count = 128) {
    uint8_t* h = At(lba);
    std::memset(h, 0, 92);
    std::memcpy(h, "EFI PART", 8);
    Put32(h + 8, 0x00010000);
    Put32(h + 12, 92);
    Put64(h + 24, lba);
    Put64(h + 32, alternate);
    Put64(h + 40, 2 + 128 * 128 / L);
    Put64(h + 48, lbas - 2 - 128 * 128 / L);
    Put64(h + 72, entriesLba);
    Put32(h + 80, count);
    Put32(h + 84, 128);
    Put32(h + 88, entriesCrc);
    Put32(h + 16, Crc(h, 92));
  }
  void Fat16Boot(uint64_t lba) {
    uint8_t* b = At(lba);
    Put16(b + 0x0B, 512);
    b[0x0D] = 4;
    Put16(b + 0x13, 1000);
    std::memcpy(b + 0x36, "FAT16   ", 8);
    b[0x1FE] = 0x55;
    b[0x1FF] = 0xAA;
  }
  uint32_t L;
  uint64_t lbas;
  std::vector<uint8_t> bytes;
};


class GptTest : public ::testing::Test {
protected:
  void SetUp() override { mark = theLog().LineCount(); }
  std::vector<CVolume*> Walk(const GptDisk& disk) {
    CVolume* raw = ListDisk(disk.bytes);
    raw->Analyse_Boot();
    return raw->ChildVolumes();
  }
  size_t mark = 0;
};

TEST_F(GptTest, EntriesBecomeFoundVolumesInsteadOfTheProtectiveEntry) {
  GptDisk d(512, 4096, {{64, 1063, u"EFI-DATA"}, {2048, 3000, u"Daten \u00fc"}});
  d.Fat16Boot(64);
  auto found = Walk(d);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->StartOffset, 64u * 512);
  EXPECT_EQ(found[0]->TotalSectors, 1000u);
  EXPECT_EQ(found[0]->FileSystem().FileSystemType, 4u);
  EXPECT_EQ(found[0]->Origin.Scheme, PartitionScheme::Gpt);
  EXPECT_EQ(found[0]->Origin.EntryNumber, 1u);
  EXPECT_EQ(found[0]->Origin.Name, "EFI-DATA");
  EXPECT_EQ(found[0]->Origin.TypeGuid, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
  EXPECT_STREQ(GptTypeName(found[0]->Origin.TypeGuid), "Microsoft basic data");
  EXPECT_EQ(found[1]->StartOffset, 2048u * 512);
  EXPECT_EQ(found[1]->TotalSectors, 953u);
  EXPECT_EQ(found[1]->Origin.Name, "Daten \xC3\xBC");
  EXPECT_EQ(LogCount(mark, "Found FAT16 volume at: 32768"), 1);
  EXPECT_EQ(LogCount(mark, "Found  volume at: 1048576"), 1);
  EXPECT_EQ(LogCount(mark, "backup header"), 0);
}

TEST_F(GptTest, DamagedPrimaryGivesWayToTheBackup) {
  // The header's CRC no longer matches.
  GptDisk header(512, 4096, {{64, 1063, u"A"}});
  header.At(1)[60] ^= 1;
  ASSERT_EQ(Walk(header).size(), 1u);
  EXPECT_EQ(LogCount(mark, "GPT primary header damaged (header CRC32 mismatch): using the backup header at LBA 4095"), 1);

  // The entry array's CRC no longer matches.
  GptDisk entries(512, 4096, {{64, 1063, u"A"}});
  entries.At(2)[100] ^= 1;
  ASSERT_EQ(Walk(entries).size(), 1u);
  EXPECT_EQ(LogCount(mark, "GPT primary header damaged (entries CRC32 mismatch)"), 1);

  // A header claiming an entry array of 4 billion entries, with a valid CRC.
  GptDisk hostile(512, 4096, {{64, 1063, u"A"}});
  hostile.Header(1, 4095, 2, 0, 0xFFFFFFFFu);
  ASSERT_EQ(Walk(hostile).size(), 1u);
  EXPECT_EQ(LogCount(mark, "(bad entry count)"), 1);

  // Both copies gone: no volume, not even one for the protective entry.
  GptDisk both(512, 4096, {{64, 1063, u"A"}});
  both.At(1)[0] = 'X';
  both.At(4095)[0] = 'X';
  EXPECT_TRUE(Walk(both).empty());
  EXPECT_EQ(LogCount(mark, "No valid GUID partition table behind the protective MBR entry (no signature)"), 1);
}

TEST_F(GptTest, EntriesOutsideTheDiskAreSkippedOrCut) {
  GptDisk d(512, 4096, {{5000, 6000, u"past"}, {3000, 9000, u"long"}, {900, 100, u"reversed"}});
  auto found = Walk(d);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->StartOffset, 3000u * 512);
  EXPECT_EQ(found[0]->TotalSectors, 1096u);
  EXPECT_EQ(LogCount(mark, "GPT entry 1 skipped"), 1);
  EXPECT_EQ(LogCount(mark, "GPT entry 3 skipped"), 1);
  EXPECT_EQ(LogCount(mark, "pPartition->NumberSectors > TotalSectors"), 1);
}

TEST_F(GptTest, FourKibibyteSectors) {
  // The header at byte 4096; LBAs count 4096-byte sectors.
  GptDisk d(4096, 1024, {{16, 265, u"A"}, {300, 500, u"B"}});
  d.Fat16Boot(16);
  auto found = Walk(d);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->StartOffset, 16u * 4096);
  EXPECT_EQ(found[0]->Size, 250u * 4096);
  EXPECT_EQ(found[0]->FileSystem().FileSystemType, 4u);
  EXPECT_EQ(found[1]->StartOffset, 300u * 4096);
  EXPECT_EQ(found[1]->Size, 201u * 4096);

  // Its backup header in the last 4096-byte sector.
  GptDisk damaged(4096, 1024, {{16, 265, u"A"}});
  damaged.At(1)[0] = 0;
  ASSERT_EQ(Walk(damaged).size(), 1u);
  EXPECT_EQ(LogCount(mark, "using the backup header at LBA 1023"), 1);
}

}  // namespace
