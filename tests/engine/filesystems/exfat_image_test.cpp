// The exFAT parser on an image made by mkfs.exfat and written through the
// FUSE driver (scripts/make-exfat-images.sh; the image and what the forensic
// tools said about it are committed under tests/data/exfat), and on copies of
// it damaged byte by byte in memory. Live entries must list by path as
// `fls -r -p` lists them and deleted ones by name; live files and deleted
// contiguous files must read back as they were written.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system_exfat.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/app.h"
#include "services/log.h"
#include "tests/engine/filesystems/fs_image_support.h"
#include "tests/support/test_support.h"

namespace {

using fsimage::Lines;
using fsimage::Quote;
using fsimage::ReadObject;
using fsimage::ReadText;
using fsimage::Sha256;

// The image's bytes, unpacked once.
const std::vector<uint8_t>& ImageBytes() {
  static std::vector<uint8_t> bytes = [] {
    const std::string dir = qmtest::MakeTempDir("exfat-image");
    const std::string image = dir + "/tree.img";
    if (qmtest::RunCommand("zstd -d -q -f " + Quote(qmtest::SourcePath("tests/data/exfat/tree.img.zst")) + " -o " +
                           Quote(image)) != 0)
      return std::vector<uint8_t>{};
    const std::string text = ReadText(image);
    return std::vector<uint8_t>(text.begin(), text.end());
  }();
  return bytes;
}

std::string ImagePath() {
  static std::string path = [] {
    const std::string dir = qmtest::MakeTempDir("exfat-image-file");
    const std::vector<uint8_t>& bytes = ImageBytes();
    std::ofstream(dir + "/tree.img", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return dir + "/tree.img";
  }();
  return path;
}

struct Parsed {
  std::unique_ptr<CVolume> volume;
  std::vector<CFoundObject*> objects;
  CFileSystem_exFAT* fs = nullptr;

  std::string PathOf(const CFoundObject* o) const { return volume->Catalog().GetFullPath(o) + o->Name; }
  const CFoundObject* Find(const std::string& path) const {
    for (const CFoundObject* o : objects)
      if (PathOf(o) == "/" + path) return o;
    return nullptr;
  }
};

// A volume over the bytes in memory, its boot area and file system analysed.
Parsed Analyse(const std::vector<uint8_t>& bytes) {
  Parsed p;
  p.volume = std::make_unique<CVolume>(VolumeImage);
  auto device = std::make_shared<CMemoryDevice>(bytes);
  device->SetCompleteAtOnce(true);
  p.volume->AttachDevice(device);
  p.volume->ObjectID = -70000;
  p.volume->TotalSectors = bytes.size() / 512;
  p.volume->Size = bytes.size();
  p.volume->State = StateReady;
  p.volume->Analyse_Boot();
  p.volume->AnalyseFileSystem();
  p.fs = dynamic_cast<CFileSystem_exFAT*>(&p.volume->FileSystem());
  for (CFoundObject* o : p.volume->Catalog().CopyObjects()) {
    if (o == p.volume.get() || o == &p.volume->Catalog().Root() || (o->Flags & FOF_LOST_FOLDER)) continue;
    p.objects.push_back(o);
  }
  return p;
}

const Parsed& Clean() {
  static Parsed p = Analyse(ImageBytes());
  return p;
}

struct ManifestEntry {
  bool live;
  uint64_t size;
  std::string digest, path;
};

std::vector<ManifestEntry> Manifest() {
  std::vector<ManifestEntry> out;
  for (const auto& l : Lines(ReadText(qmtest::SourcePath("tests/data/exfat/tree.manifest")))) {
    const std::vector<std::string> f = fsimage::TabFields(l);
    if (f.size() != 4) continue;
    out.push_back({f[0] == "live", std::stoull(f[1]), f[2], f[3]});
  }
  return out;
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

TEST(ExfatImage, DetectedWithItsGeometryLabelAndSerial) {
  ASSERT_FALSE(ImageBytes().empty()) << "image not unpacked (zstd)";
  const Parsed& p = Clean();
  ASSERT_NE(p.fs, nullptr);
  EXPECT_EQ(p.volume->FileSystem().FileSystemType, EXFAT_FILE_SYSTEM_ID);
  EXPECT_EQ(p.volume->FileSystem().FileSystemName, "exFAT");
  EXPECT_EQ(p.volume->BytesPerCluster, 4096u);
  EXPECT_EQ(p.fs->VolumeLabel, "QM exFAT");
  EXPECT_EQ(CFileSystem_exFAT::ReadVolumeLabel(*p.volume), "QM exFAT");
  EXPECT_NE(p.volume->SerialNumber, 0u);
  EXPECT_FALSE(p.fs->UsedAreas.empty());
}

TEST(ExfatImage, ListingAgreesWithSleuthKit) {
  const Parsed& p = Clean();
  ASSERT_FALSE(p.objects.empty());
  std::string listing;
  if (qmtest::HaveTool("fls")) {
    ASSERT_EQ(qmtest::RunCommand("fls -r -p " + Quote(ImagePath()), &listing), 0);
  } else {
    std::cout << "fls not installed: comparing with the recorded listing\n";
    listing = ReadText(qmtest::SourcePath("tests/data/exfat/tree.fls"));
  }
  // Live entries by path, deleted ones by name; the tool's own entries
  // (metadata files, the label, its orphan folder) have no entry set.
  std::set<std::string> expectedLive, ourLive;
  std::multiset<std::string> expectedDeleted, ourDeleted;
  for (const auto& l : Lines(listing)) {
    const size_t tab = l.find('\t');
    ASSERT_NE(tab, std::string::npos) << l;
    const std::string head = l.substr(0, tab), path = l.substr(tab + 1);
    if (path[0] == '$' || path.find("(Volume Label Entry)") != std::string::npos) continue;
    if (head.find('*') != std::string::npos) {
      expectedDeleted.insert(NameOf(path));
    } else {
      expectedLive.insert(path);
    }
  }
  std::set<std::string> present;
  for (const auto& l : Lines(ReadText(qmtest::SourcePath("tests/data/exfat/tree.live")))) present.insert(l);
  for (const CFoundObject* o : p.objects) {
    const std::string path = p.PathOf(o);
    ASSERT_EQ(path[0], '/') << "not under the root: " << path;
    if (o->IsDeleted()) {
      ourDeleted.insert(o->Name);
    } else {
      ourLive.insert(path.substr(1));
      EXPECT_TRUE(present.count(path.substr(1))) << path;
    }
  }
  EXPECT_EQ(ourLive, expectedLive);
  EXPECT_EQ(ourDeleted, expectedDeleted);
  EXPECT_EQ(ourLive.size(), present.size());
}

TEST(ExfatImage, LiveAndContiguousDeletedFilesReadBackAsWritten) {
  const Parsed& p = Clean();
  ASSERT_NE(p.fs, nullptr);
  const std::string dir = qmtest::MakeTempDir("exfat-read");
  int live = 0, deleted = 0, fragmented = 0;
  for (const ManifestEntry& e : Manifest()) {
    const CFoundObject* o = p.Find(e.path);
    ASSERT_NE(o, nullptr) << e.path;
    EXPECT_EQ(o->Size, e.size) << e.path;
    EXPECT_EQ(o->IsDeleted(), !e.live) << e.path;
    if (!e.live && (o->Flags & FOF_POSSIBLY_INCOMPLETE)) continue;
    EXPECT_EQ(Sha256(dir, ReadObject(*o)), e.digest) << e.path;
    (e.live ? live : deleted) += 1;
    std::vector<FoundObjectRun> runs;
    p.volume->FileSystem().GetRuns(*o, runs);
    fragmented += runs.size() > 2;
  }
  EXPECT_GT(live, 40);
  EXPECT_GE(deleted, 4);
  EXPECT_GE(fragmented, 2);
}

// Byte offset of the first file entry set whose name is `name`.
size_t EntrySetOf(const std::vector<uint8_t>& bytes, const std::u16string& name) {
  for (size_t at = 0; at + 96 <= bytes.size(); at += 32) {
    if ((bytes[at] & 0x7F) != 0x05 || (bytes[at + 32] & 0x7F) != 0x40 || bytes[at + 32 + 3] != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && i < 15 && same; ++i)
      same = (bytes[at + 66 + 2 * i] | (bytes[at + 67 + 2 * i] << 8)) == name[i];
    if (same) return at;
  }
  return SIZE_MAX;
}

int LogCount(size_t mark, const std::string& text) {
  auto lines = theLog().Lines();
  int n = 0;
  for (size_t i = mark; i < lines.size(); ++i) n += lines[i].find(text) != std::string::npos;
  return n;
}

TEST(ExfatDamage, BackupBootRegionServesWhenTheMainFailsItsChecksum) {
  std::vector<uint8_t> bytes = ImageBytes();
  ASSERT_FALSE(bytes.empty());
  // A byte of the main boot region's boot code changed: its checksum fails,
  // the backup region (sectors 12 to 23) still holds.
  bytes[0x100] ^= 0x5A;
  size_t mark = theLog().Lines().size();
  Parsed p = Analyse(bytes);
  EXPECT_EQ(LogCount(mark, "main boot region fails its checksum"), 1);
  EXPECT_EQ(p.objects.size(), Clean().objects.size());
  // Both regions damaged: the boot sector alone still describes the volume.
  bytes[12 * 512 + 0x100] ^= 0x5A;
  mark = theLog().Lines().size();
  Parsed q = Analyse(bytes);
  EXPECT_EQ(LogCount(mark, "backup boot region fails its checksum"), 1);
  EXPECT_EQ(q.objects.size(), Clean().objects.size());
}

TEST(ExfatDamage, EntrySetWithAWrongChecksumIsRefused) {
  std::vector<uint8_t> bytes = ImageBytes();
  const size_t at = EntrySetOf(bytes, u"deep.txt");
  ASSERT_NE(at, SIZE_MAX);
  bytes[at + 32 + 0x18] ^= 1;  // its size, behind the checksum's back
  const size_t mark = theLog().Lines().size();
  Parsed p = Analyse(bytes);
  EXPECT_EQ(p.Find("a/b/c/d/deep.txt"), nullptr);
  EXPECT_NE(p.Find("a/b/c/d"), nullptr);
  EXPECT_EQ(LogCount(mark, "fails its checksum"), 1);
  EXPECT_EQ(p.objects.size() + 1, Clean().objects.size());
}

// The stored name hash of the entry set of `name`.
uint16_t StoredHash(const std::vector<uint8_t>& bytes, const std::u16string& name) {
  const size_t at = EntrySetOf(bytes, name);
  return at == SIZE_MAX ? 0 : static_cast<uint16_t>(bytes[at + 32 + 4] | (bytes[at + 32 + 5] << 8));
}

TEST(ExfatNames, NameHashesAreCheckedThroughTheVolumesUpcaseTable) {
  ASSERT_FALSE(ImageBytes().empty());
  const size_t mark = theLog().Lines().size();
  Parsed p = Analyse(ImageBytes());
  ASSERT_TRUE(p.fs->HasUpcaseTable());
  EXPECT_EQ(LogCount(mark, "name hash"), 0);
  EXPECT_EQ(LogCount(mark, "up-case table"), 0);
  EXPECT_EQ(p.fs->UpCase(u'z'), u'Z');
  EXPECT_EQ(p.fs->UpCase(u'\u00E4'), u'\u00C4');  // ä
  EXPECT_EQ(p.fs->UpCase(u'\u03B1'), u'\u0391');  // α
  EXPECT_EQ(p.fs->UpCase(u'\u00DF'), u'\u00DF');  // ß has no single upper case
  // Names beyond ASCII need the table: folding a to z alone gives other hashes.
  const std::u16string greek = u"\u03B1\u03C1\u03C7\u03B5\u03AF\u03BF.txt";  // αρχείο.txt
  const std::u16string german = u"\u00DCberweisung M\u00E4rz.txt";
  EXPECT_EQ(p.fs->NameHash(greek), StoredHash(ImageBytes(), greek));
  EXPECT_EQ(p.fs->NameHash(german), StoredHash(ImageBytes(), german));
  CFileSystem_exFAT asciiOnly(nullptr);
  const uint8_t table[] = {0xFF, 0xFF, 0x61, 0x00,  // 0 to 0x60 unchanged
                           'A', 0, 'B', 0, 'C', 0, 'D', 0, 'E', 0, 'F', 0, 'G', 0, 'H', 0, 'I', 0, 'J', 0, 'K', 0,
                           'L', 0, 'M', 0, 'N', 0, 'O', 0, 'P', 0, 'Q', 0, 'R', 0, 'S', 0, 'T', 0, 'U', 0, 'V', 0,
                           'W', 0, 'X', 0, 'Y', 0, 'Z', 0};
  ASSERT_TRUE(asciiOnly.SetUpcaseTable(table, sizeof(table)));
  EXPECT_EQ(asciiOnly.UpCase(u'q'), u'Q');
  EXPECT_EQ(asciiOnly.UpCase(u'\u03B1'), u'\u03B1');
  EXPECT_NE(asciiOnly.NameHash(greek), StoredHash(ImageBytes(), greek));
  EXPECT_NE(asciiOnly.NameHash(german), StoredHash(ImageBytes(), german));
  EXPECT_EQ(asciiOnly.NameHash(u"deep.txt"), StoredHash(ImageBytes(), u"deep.txt"));
  // A table that maps past the last character is refused.
  const uint8_t tooLong[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 'A', 0};
  EXPECT_FALSE(asciiOnly.SetUpcaseTable(tooLong, sizeof(tooLong)));
}

TEST(ExfatDamage, WrongNameHashIsLoggedAndTheFileKept) {
  std::vector<uint8_t> bytes = ImageBytes();
  const size_t at = EntrySetOf(bytes, u"deep.txt");
  ASSERT_NE(at, SIZE_MAX);
  bytes[at + 32 + 4] ^= 1;  // the hash, with the set's checksum made to match
  const uint16_t sum = CFileSystem_exFAT::EntrySetChecksum(&bytes[at], bytes[at + 1] + 1u, false);
  bytes[at + 2] = static_cast<uint8_t>(sum);
  bytes[at + 3] = static_cast<uint8_t>(sum >> 8);
  const size_t mark = theLog().Lines().size();
  Parsed p = Analyse(bytes);
  EXPECT_EQ(LogCount(mark, "its name hash does not match its name"), 1);
  EXPECT_NE(p.Find("a/b/c/d/deep.txt"), nullptr);
  EXPECT_EQ(p.objects.size(), Clean().objects.size());
}

TEST(ExfatDamage, UpcaseTableFailingItsChecksumIsNotUsed) {
  std::vector<uint8_t> bytes = ImageBytes();
  size_t entry = SIZE_MAX;
  for (size_t at = 0; at + 32 <= bytes.size() && entry == SIZE_MAX; at += 32)
    if (bytes[at] == 0x82 && bytes[at + 0x18] != 0) entry = at;
  ASSERT_NE(entry, SIZE_MAX);
  bytes[entry + 4] ^= 0x10;
  const size_t mark = theLog().Lines().size();
  Parsed p = Analyse(bytes);
  EXPECT_FALSE(p.fs->HasUpcaseTable());
  EXPECT_EQ(LogCount(mark, "up-case table fails its checksum"), 1);
  EXPECT_EQ(LogCount(mark, "does not match its name"), 0);
  EXPECT_EQ(p.objects.size(), Clean().objects.size());
}

TEST(ExfatDamage, LoopsInTheFatAndEntriesOutsideTheHeapStayBounded) {
  std::vector<uint8_t> bytes = ImageBytes();
  const Parsed& clean = Clean();
  const CFoundObject* fragmented = clean.Find("large/fragmented_1.bin");
  ASSERT_NE(fragmented, nullptr);
  // Its second cluster points back at its first.
  const uint32_t first = static_cast<uint32_t>(fragmented->FirstCluster);
  const size_t fat = clean.fs->FatSector * 512;
  const uint32_t second = bytes[fat + first * 4] | (bytes[fat + first * 4 + 1] << 8) |
                          (bytes[fat + first * 4 + 2] << 16) | (static_cast<uint32_t>(bytes[fat + first * 4 + 3]) << 24);
  ASSERT_GE(second, 2u);
  for (int i = 0; i < 4; ++i) bytes[fat + second * 4 + i] = static_cast<uint8_t>(first >> (8 * i));
  // The root directory's chain loops on itself too.
  const uint32_t root = clean.fs->RootCluster;
  for (int i = 0; i < 4; ++i) bytes[fat + root * 4 + i] = static_cast<uint8_t>(root >> (8 * i));
  const size_t mark = theLog().Lines().size();
  Parsed p = Analyse(bytes);
  const CFoundObject* o = p.Find("large/fragmented_1.bin");
  ASSERT_NE(o, nullptr);
  EXPECT_LT(ReadObject(*o).size(), o->Size);
  EXPECT_GE(LogCount(mark, "loops at"), 1);
}

TEST(ExfatDamage, RandomlyDamagedMetadataIsWalkedSafely) {
  const std::vector<uint8_t>& clean = ImageBytes();
  ASSERT_FALSE(clean.empty());
  const size_t heap = Clean().fs->HeapSector * 512;
  // The boot region, the FAT and the first clusters of the heap (bitmap,
  // up-case table, root and the first folders).
  const size_t span = std::min(clean.size(), heap + 64 * 4096);
  std::mt19937 random(18);
  for (int round = 0; round < 10; ++round) {
    std::vector<uint8_t> bytes = clean;
    for (int k = 0; k < 200; ++k) bytes[random() % span] = static_cast<uint8_t>(random());
    Parsed p = Analyse(bytes);
    for (const CFoundObject* o : p.objects) {
      std::vector<FoundObjectRun> runs;
      p.volume->FileSystem().GetRuns(*o, runs);
      uint64_t sectors = 0;
      for (const auto& r : runs) {
        EXPECT_LE(r.StartSector + r.SectorCount, clean.size() / 512);
        sectors += r.SectorCount;
      }
      if (o->SizeKnown()) {
        EXPECT_LE(sectors, (o->Size + 511) / 512);
      }
    }
  }
}

TEST(ExfatTimes, TenMillisecondsAndUtcOffset) {
  // 2020-01-01 12:30:10 as written, with 1.5 s more and an offset of +2:00
  // (eight steps of 15 minutes, valid): 10:30:11.5 UTC.
  const uint32_t stamp = (40u << 25) | (1u << 21) | (1u << 16) | (12u << 11) | (30u << 5) | 5u;
  const uint64_t asWritten = CFileSystem_exFAT::TimestampToFileTime(stamp, 0, 0);
  ASSERT_NE(asWritten, 0u);
  EXPECT_EQ(CFileSystem_exFAT::TimestampToFileTime(stamp, 150, 0x80 | 8), asWritten + 15000000ull - 2 * 36000000000ull);
  // West of UTC: -5:00 is -20 steps.
  EXPECT_EQ(CFileSystem_exFAT::TimestampToFileTime(stamp, 0, 0x80 | (0x80 - 20)), asWritten + 5 * 36000000000ull);
  // Offset not valid: as written; a 10 ms part beyond 1.99 s is ignored.
  EXPECT_EQ(CFileSystem_exFAT::TimestampToFileTime(stamp, 250, 8), asWritten);
  EXPECT_EQ(CFileSystem_exFAT::TimestampToFileTime(0, 0, 0), 0u);
}

}  // namespace
