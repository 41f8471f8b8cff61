// The NTFS parser on small volumes built byte by byte: record and run-list
// decoding, the MFT mirror, names, what reaches the catalog, and records
// built to mislead the parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system_ntfs.h"
#include "engine/filesystems/mft_record.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/log.h"
#include "services/text.h"

namespace {

constexpr uint32_t kClusterBytes = 4096;
constexpr uint32_t kRecordBytes = 1024;
constexpr uint64_t kVolumeBytes = 1 << 20;  // 256 clusters
constexpr uint64_t kMftCluster = 4;
constexpr uint64_t kMirrorCluster = 2;
constexpr uint32_t kMftRecords = 32;  // 8 clusters

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// One attribute as bytes.
std::vector<uint8_t> Resident(uint32_t type, const std::vector<uint8_t>& content, const std::string& name = {}) {
  std::u16string wide = qm::Utf8ToUtf16(name);
  size_t nameBytes = wide.size() * 2;
  size_t contentAt = (0x18 + nameBytes + 7) & ~size_t{7};
  size_t length = (contentAt + content.size() + 7) & ~size_t{7};
  std::vector<uint8_t> a(length, 0);
  Put32(a, 0, type);
  Put32(a, 4, static_cast<uint32_t>(length));
  a[9] = static_cast<uint8_t>(wide.size());
  Put16(a, 10, 0x18);
  for (size_t i = 0; i < wide.size(); ++i) Put16(a, 0x18 + 2 * i, wide[i]);
  Put32(a, 0x10, static_cast<uint32_t>(content.size()));
  Put16(a, 0x14, static_cast<uint16_t>(contentAt));
  std::copy(content.begin(), content.end(), a.begin() + contentAt);
  return a;
}

std::vector<uint8_t> NonResident(uint32_t type, const std::vector<uint8_t>& runList, uint64_t realSize,
                                 uint64_t firstVcn = 0, const std::string& name = {}) {
  std::u16string wide = qm::Utf8ToUtf16(name);
  size_t runsAt = (0x40 + wide.size() * 2 + 7) & ~size_t{7};
  size_t length = (runsAt + runList.size() + 1 + 7) & ~size_t{7};
  std::vector<uint8_t> a(length, 0);
  Put32(a, 0, type);
  Put32(a, 4, static_cast<uint32_t>(length));
  a[8] = 1;
  a[9] = static_cast<uint8_t>(wide.size());
  Put16(a, 10, 0x40);
  for (size_t i = 0; i < wide.size(); ++i) Put16(a, 0x40 + 2 * i, wide[i]);
  Put64(a, 0x10, firstVcn);
  Put16(a, 0x20, static_cast<uint16_t>(runsAt));
  uint64_t alloc = (realSize + kClusterBytes - 1) / kClusterBytes * kClusterBytes;
  Put64(a, 0x28, alloc);
  Put64(a, 0x30, realSize);
  Put64(a, 0x38, realSize);
  std::copy(runList.begin(), runList.end(), a.begin() + runsAt);
  return a;
}

std::vector<uint8_t> StandardInformation(uint64_t created, uint64_t modified, uint64_t accessed) {
  std::vector<uint8_t> c(0x48, 0);
  Put64(c, 0, created);
  Put64(c, 8, modified);
  Put64(c, 0x10, modified);
  Put64(c, 0x18, accessed);
  return Resident(0x10, c);
}

std::vector<uint8_t> FileName(uint64_t parent, const std::string& name, uint8_t nameSpace, uint64_t size = 0) {
  std::u16string wide = qm::Utf8ToUtf16(name);
  std::vector<uint8_t> c(0x42 + wide.size() * 2, 0);
  Put64(c, 0, parent >> 48 ? parent : parent | (1ull << 48));  // sequence 1 unless given
  Put64(c, 0x28, size);
  Put64(c, 0x30, size);
  c[0x40] = static_cast<uint8_t>(wide.size());
  c[0x41] = nameSpace;
  for (size_t i = 0; i < wide.size(); ++i) Put16(c, 0x42 + 2 * i, wide[i]);
  return Resident(0x30, c);
}

// A whole record, update sequence applied as a disk holds it.
std::vector<uint8_t> Record(uint32_t number, uint16_t flags, const std::vector<std::vector<uint8_t>>& attributes,
                            uint64_t baseReference = 0) {
  std::vector<uint8_t> r(kRecordBytes, 0);
  std::memcpy(r.data(), "FILE", 4);
  Put16(r, 4, 0x30);  // update sequence array
  Put16(r, 6, 3);     // sequence number + 2 blocks
  Put16(r, 0x10, 1);
  Put16(r, 0x14, 0x38);
  Put16(r, 0x16, flags);
  Put32(r, 0x1C, kRecordBytes);
  Put64(r, 0x20, baseReference);
  Put32(r, 0x2C, number);
  size_t at = 0x38;
  for (const auto& a : attributes) {
    std::copy(a.begin(), a.end(), r.begin() + at);
    at += a.size();
  }
  Put32(r, at, 0xFFFFFFFF);
  Put32(r, 0x18, static_cast<uint32_t>(at + 8));
  // Protect the last two bytes of each block with the sequence number.
  const uint16_t usn = 0x0007;
  Put16(r, 0x30, usn);
  for (int i = 1; i <= 2; ++i) {
    size_t end = i * 512 - 2;
    r[0x30 + 2 * i] = r[end];
    r[0x30 + 2 * i + 1] = r[end + 1];
    Put16(r, end, usn);
  }
  return r;
}

// A run list of (length, absolute cluster) pairs; cluster -1 is sparse.
std::vector<uint8_t> Runs(const std::vector<std::pair<uint64_t, int64_t>>& runs) {
  std::vector<uint8_t> out;
  int64_t previous = 0;
  for (auto [length, cluster] : runs) {
    std::vector<uint8_t> len, off;
    for (uint64_t v = length; v; v >>= 8) len.push_back(v & 0xFF);
    if (cluster >= 0) {
      int64_t delta = cluster - previous;
      previous = cluster;
      // Shortest signed little-endian form.
      do {
        off.push_back(static_cast<uint8_t>(delta & 0xFF));
        delta >>= 8;
      } while (!((delta == 0 && !(off.back() & 0x80)) || (delta == -1 && (off.back() & 0x80))));
    }
    out.push_back(static_cast<uint8_t>(len.size() | (off.size() << 4)));
    out.insert(out.end(), len.begin(), len.end());
    out.insert(out.end(), off.begin(), off.end());
  }
  out.push_back(0);
  return out;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A small NTFS volume in memory.
struct Image {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kVolumeBytes, 0);
  std::map<uint32_t, std::vector<uint8_t>> records;

  Image() {
    auto& b = bytes;
    std::memcpy(&b[3], "NTFS    ", 8);
    Put16(b, 0x0B, 512);
    b[0x0D] = kClusterBytes / 512;
    Put64(b, 0x28, kVolumeBytes / 512 - 1);
    Put64(b, 0x30, kMftCluster);
    Put64(b, 0x38, kMirrorCluster);
    b[0x40] = 0xF6;
    Put64(b, 0x48, 0x1122334455667788ull);
    b[510] = 0x55;
    b[511] = 0xAA;
    const uint64_t mftBytes = uint64_t{kMftRecords} * kRecordBytes;
    records[0] = Record(0, 1, {StandardInformation(1, 2, 3), FileName(5, "$MFT", 3, mftBytes),
                               NonResident(0x80, Runs({{mftBytes / kClusterBytes, kMftCluster}}), mftBytes)});
    // $Bitmap: clusters 0-15 and 40-41 in use.
    std::vector<uint8_t> bitmap(32, 0);
    bitmap[0] = 0xFF;
    bitmap[1] = 0xFF;
    bitmap[5] = 0x03;
    records[6] = Record(6, 1, {FileName(5, "$Bitmap", 3), Resident(0x80, bitmap)});
    records[5] = Record(5, 3, {FileName(5, ".", 3)});
  }
  void Write(uint32_t n, std::vector<uint8_t> r) { records[n] = std::move(r); }
  void Fill(uint64_t cluster, uint64_t clusters, char c) {
    std::fill_n(bytes.begin() + cluster * kClusterBytes, clusters * kClusterBytes, static_cast<uint8_t>(c));
  }
  std::vector<uint8_t> Finish(bool mirror = true) {
    for (auto& [n, r] : records) std::copy(r.begin(), r.end(), bytes.begin() + kMftCluster * kClusterBytes + n * kRecordBytes);
    if (mirror)
      for (uint32_t n = 0; n < 4; ++n)
        std::copy_n(bytes.begin() + kMftCluster * kClusterBytes + n * kRecordBytes, kRecordBytes,
                    bytes.begin() + kMirrorCluster * kClusterBytes + n * kRecordBytes);
    return bytes;
  }
};

struct Parsed {
  std::unique_ptr<CVolume> volume;
  CFileSystem_NTFS* fs = nullptr;

  // What the parser reported (not the volume, the root or placeholders).
  std::vector<CFoundObject*> Objects() {
    std::vector<CFoundObject*> out;
    for (auto* o : volume->Catalog().CopyObjects())
      if (o != volume.get() && o != &volume->Catalog().Root() && !(o->Flags & FOF_LOST_FOLDER)) out.push_back(o);
    return out;
  }
  const CFoundObject* Find(int64_t id) {
    for (auto* o : Objects())
      if (o->ObjectID == id) return o;
    return nullptr;
  }
  // Reads an object's data along the runs the parser gives.
  std::string Read(const CFoundObject& o) {
    std::vector<FoundObjectRun> runs;
    fs->GetRuns(o, runs);
    std::string data;
    for (const auto& r : runs) {
      std::vector<uint8_t> buf(r.SectorCount * 512, 0);
      if (r.Kind == FoundObjectRun::Source::Volume) {
        volume->ReadSectors(buf.data(), r.StartSector, r.SectorCount);
      } else if (r.Kind == FoundObjectRun::Source::Inline) {
        EXPECT_EQ(r.Inline->size(), buf.size());
        buf = *r.Inline;
      }
      data.append(buf.begin(), buf.end());
    }
    if (o.SizeKnown() && data.size() > o.Size) data.resize(o.Size);
    return data;
  }
};

Parsed Parse(const std::vector<uint8_t>& bytes) {
  Parsed p;
  p.volume = std::make_unique<CVolume>(VolumeImage);
  p.volume->AttachDevice(std::make_shared<CMemoryDevice>(bytes));
  p.volume->TotalSectors = bytes.size() / 512;
  p.volume->Size = bytes.size();
  p.volume->FileSystem().FileSystemType = 7;
  p.volume->AnalyseFileSystem();
  p.fs = dynamic_cast<CFileSystem_NTFS*>(&p.volume->FileSystem());
  EXPECT_NE(p.fs, nullptr);
  return p;
}

bool LogHas(const std::string& text) {
  for (const auto& l : theLog().Lines())
    if (l.find(text) != std::string::npos) return true;
  return false;
}

TEST(NtfsCrafted, WalkReportsFilesFoldersAndDeletedRecordsButNeverRootOrOrphans) {
  Image img;
  img.Write(16, Record(16, 3, {StandardInformation(100, 200, 300), FileName(5, "Folder", 1)}));
  img.Write(17, Record(17, 1, {FileName(16, "a.txt", 1, 5), Resident(0x80, Bytes("hello"))}));
  img.Write(18, Record(18, 0, {FileName(16, "gone.txt", 1, 3), Resident(0x80, Bytes("bye"))}));
  img.Write(19, Record(19, 1, {FileName(0, "no parent", 1)}));
  Parsed p = Parse(img.Finish());

  EXPECT_EQ(p.fs->RecordSize, kRecordBytes);
  EXPECT_EQ(p.fs->RecordCount, kMftRecords);
  EXPECT_EQ(p.volume->SerialNumber, 0x1122334455667788ull);
  EXPECT_EQ(p.volume->BytesPerCluster, kClusterBytes);
  EXPECT_EQ(p.Find(5), nullptr);
  EXPECT_EQ(p.Find(19), nullptr);
  for (auto* o : p.Objects()) EXPECT_NE(o->ParentID, 0);

  const CFoundObject* folder = p.Find(16);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->Name, "Folder");
  EXPECT_TRUE(folder->Flags & FOF_FOLDER);
  EXPECT_FALSE(folder->Flags & FOF_DELETED);
  EXPECT_EQ(folder->CreationTime, 100u);
  EXPECT_EQ(folder->ModificationTime, 200u);
  EXPECT_EQ(folder->AccessTime, 300u);
  EXPECT_EQ(folder->ParentID, 5);

  const CFoundObject* deleted = p.Find(18);
  ASSERT_NE(deleted, nullptr);
  EXPECT_TRUE(deleted->Flags & FOF_DELETED);
  EXPECT_EQ(deleted->ParentID, 16);

  // System files hang under the root.
  const CFoundObject* mft = p.Find(0);
  ASSERT_NE(mft, nullptr);
  EXPECT_EQ(mft->Name, "$MFT");
  EXPECT_EQ(mft->FirstCluster, kMftCluster);
  EXPECT_EQ(mft->StartOffset, kMftCluster * kClusterBytes);

  EXPECT_TRUE(LogHas("Analyzing MFT table"));
  EXPECT_TRUE(LogHas("Loading clusters bitmap complete"));
}

TEST(NtfsCrafted, ResidentDataReadAsTheirOwnContent) {
  Image img;
  std::string text(700, 'r');
  text += "end";
  img.Write(16, Record(16, 1, {FileName(5, "small.txt", 1, text.size()), Resident(0x80, Bytes(text))}));
  img.Write(17, Record(17, 0, {FileName(5, "deleted small.txt", 1, 3), Resident(0x80, Bytes("xyz"))}));
  img.Write(18, Record(18, 1, {FileName(5, "empty", 1, 0), Resident(0x80, {})}));
  Parsed p = Parse(img.Finish());
  ASSERT_NE(p.Find(16), nullptr);
  EXPECT_EQ(p.Find(16)->StartOffset, 0u);
  EXPECT_TRUE(p.Find(16)->Flags & FOF_FS_RUNS);
  EXPECT_EQ(p.Read(*p.Find(16)), text);
  EXPECT_EQ(p.Read(*p.Find(17)), "xyz");
  ASSERT_NE(p.Find(18), nullptr);
  EXPECT_EQ(p.Find(18)->Size, 0u);
  EXPECT_EQ(p.Read(*p.Find(18)), "");
}

TEST(NtfsCrafted, FragmentedFilesFollowTheirRunsAndNegativeOffsetsGoBackwards) {
  Image img;
  img.Fill(100, 1, 'A');
  img.Fill(60, 2, 'B');  // before the first run: a negative offset
  img.Fill(200, 1, 'C');
  const uint64_t size = 4 * kClusterBytes - 100;
  img.Write(16, Record(16, 1, {FileName(5, "frag.bin", 1, size),
                               NonResident(0x80, Runs({{1, 100}, {2, 60}, {1, 200}}), size)}));
  // A deleted record keeps its runs and is read along them too.
  img.Write(17, Record(17, 0, {FileName(5, "frag deleted.bin", 1, size),
                               NonResident(0x80, Runs({{1, 200}, {1, 100}}), 2 * kClusterBytes)}));
  Parsed p = Parse(img.Finish());

  MftRecord rec(p.fs);
  ASSERT_TRUE(rec.Load(img.records[16].data(), kRecordBytes));
  ASSERT_EQ(rec.Runs.size(), 3u);
  EXPECT_EQ(rec.Runs[1].Cluster, 60);
  EXPECT_EQ(rec.Runs[1].FirstVcn, 1u);
  EXPECT_EQ(rec.Runs[1].LastVcn, 2u);
  EXPECT_EQ(rec.MapVcn(2), 61);
  EXPECT_EQ(rec.MapVcn(3), 200);
  EXPECT_EQ(rec.MapVcn(4), -1);

  const CFoundObject* f = p.Find(16);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->FirstCluster, 100u);
  std::string data = p.Read(*f);
  ASSERT_EQ(data.size(), size);
  EXPECT_EQ(data.substr(0, kClusterBytes), std::string(kClusterBytes, 'A'));
  EXPECT_EQ(data.substr(kClusterBytes, 2 * kClusterBytes), std::string(2 * kClusterBytes, 'B'));
  EXPECT_EQ(data.substr(3 * kClusterBytes), std::string(kClusterBytes - 100, 'C'));

  std::string gone = p.Read(*p.Find(17));
  EXPECT_EQ(gone, std::string(kClusterBytes, 'C') + std::string(kClusterBytes, 'A'));
}

TEST(NtfsCrafted, SparseRunsReadAsZeros) {
  Image img;
  img.Fill(80, 1, 'D');
  img.Fill(81, 1, 'E');
  img.Fill(0x20, 2, 'X');  // what a sparse run would decode to if it were mapped
  const uint64_t size = 4 * kClusterBytes;
  img.Write(16, Record(16, 1, {FileName(5, "sparse.bin", 1, size),
                               NonResident(0x80, Runs({{1, 80}, {2, -1}, {1, 81}}), size)}));
  Parsed p = Parse(img.Finish());
  const CFoundObject* f = p.Find(16);
  ASSERT_NE(f, nullptr);
  std::vector<FoundObjectRun> runs;
  p.fs->GetRuns(*f, runs);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].Kind, FoundObjectRun::Source::Zeros);
  EXPECT_EQ(runs[1].SectorCount, 2 * kClusterBytes / 512);
  EXPECT_EQ(p.Read(*f), std::string(kClusterBytes, 'D') + std::string(2 * kClusterBytes, '\0') +
                            std::string(kClusterBytes, 'E'));
}

TEST(NtfsCrafted, DataPastTheValidLengthReadAsZeros) {
  Image img;
  img.Fill(90, 3, 'V');
  const uint64_t size = 3 * kClusterBytes;
  auto data = NonResident(0x80, Runs({{3, 90}}), size);
  Put64(data, 0x38, kClusterBytes + 1024);  // valid data length
  img.Write(16, Record(16, 1, {FileName(5, "prealloc.bin", 1, size), data}));
  Parsed p = Parse(img.Finish());
  ASSERT_NE(p.Find(16), nullptr);
  EXPECT_EQ(p.Read(*p.Find(16)),
            std::string(kClusterBytes + 1024, 'V') + std::string(2 * kClusterBytes - 1024, '\0'));
}

// Random damage to the MFT: whatever the bytes, the walk and the run
// building end, and every run stays inside the volume.
TEST(NtfsCrafted, RandomlyDamagedMftNeverMisleadsTheReader) {
  Image img;
  img.Fill(100, 4, 'F');
  for (uint32_t n = 16; n < 30; ++n) {
    img.Write(n, Record(n, n % 3 ? 1 : 3, {StandardInformation(n, n, n), FileName(n > 16 ? n - 1 : 5, "f" + std::to_string(n), 1, 9000),
                                          NonResident(0x80, Runs({{1, 100}, {1, 103}, {2, -1}, {1, 101}}), 9000),
                                          Resident(0x80, Bytes("stream"), "ads")}));
  }
  const std::vector<uint8_t> clean = img.Finish();
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int round = 0; round < 150; ++round) {
    std::vector<uint8_t> bytes = clean;
    const size_t mft = kMftCluster * kClusterBytes;
    int flips = 1 + static_cast<int>(next() % 40);
    for (int i = 0; i < flips; ++i) {
      size_t at = mft + (next() % (kMftRecords * kRecordBytes));
      bytes[at] = static_cast<uint8_t>(next());
    }
    Parsed p = Parse(bytes);
    for (const CFoundObject* o : p.Objects()) {
      std::vector<FoundObjectRun> runs;
      p.fs->GetRuns(*o, runs);
      uint64_t total = 0;
      for (const auto& r : runs) {
        total += r.SectorCount;
        if (r.Kind == FoundObjectRun::Source::Volume) {
          EXPECT_LE(r.StartSector + r.SectorCount, kVolumeBytes / 512);
        }
        if (r.Kind == FoundObjectRun::Source::Inline) {
          EXPECT_EQ(r.Inline->size(), r.SectorCount * 512);
        }
      }
      EXPECT_LE(total, kVolumeBytes / 512 + 2 * kRecordBytes) << o->Name;
    }
  }
}

TEST(NtfsCrafted, LaterWin32NameReplacesDosNameAndFirstNameStaysOtherwise) {
  Image img;
  img.Write(16, Record(16, 1, {FileName(5, "LONGFI~1.TXT", 2), FileName(5, "Long file name.txt", 1)}));
  img.Write(17, Record(17, 1, {FileName(5, "posix name", 0), FileName(5, "POSIXN~1", 2)}));
  img.Write(18, Record(18, 1, {FileName(5, "", 1), FileName(5, "Ünïcödé 名前.txt", 1)}));
  Parsed p = Parse(img.Finish());
  ASSERT_NE(p.Find(16), nullptr);
  EXPECT_EQ(p.Find(16)->Name, "Long file name.txt");
  EXPECT_EQ(p.Find(17)->Name, "posix name");
  EXPECT_EQ(p.Find(18)->Name, "Ünïcödé 名前.txt");
  EXPECT_TRUE(p.Find(18)->Flags & FOF_NAMED);
}

TEST(NtfsCrafted, MirrorIsUsedWhenTheFirstCopyOfRecordZeroIsDamaged) {
  Image img;
  img.Write(16, Record(16, 1, {FileName(5, "still here.txt", 1)}));
  std::vector<uint8_t> bytes = img.Finish();
  std::memcpy(&bytes[kMftCluster * kClusterBytes], "BAAD", 4);
  Parsed p = Parse(bytes);
  ASSERT_NE(p.Find(16), nullptr);
  EXPECT_EQ(p.Find(16)->Name, "still here.txt");

  // Neither copy: the analysis ends with its error line.
  std::memcpy(&bytes[kMirrorCluster * kClusterBytes], "BAAD", 4);
  Parsed q = Parse(bytes);
  EXPECT_TRUE(q.Objects().empty());
  EXPECT_TRUE(LogHas("CFileSystem_NTFS: Load MFT failed."));
}

TEST(NtfsCrafted, AttributeListMergesExtensionRunsAndSurvivesLoops) {
  Image img;
  img.Fill(120, 1, 'P');
  img.Fill(130, 1, 'Q');
  img.Fill(140, 1, 'R');
  const uint64_t size = 3 * kClusterBytes;
  // Attribute list: the base record (naming itself), extension 21 (VCN 1),
  // extension 22 (VCN 2), 22 again, and 23 which belongs to another file.
  auto entry = [](uint32_t type, uint64_t vcn, uint64_t record) {
    std::vector<uint8_t> e(0x20, 0);
    Put32(e, 0, type);
    Put16(e, 4, 0x20);
    Put64(e, 8, vcn);
    Put64(e, 0x10, record | (1ull << 48));
    return e;
  };
  std::vector<uint8_t> list;
  for (auto e : {entry(0x80, 0, 20), entry(0x80, 1, 21), entry(0x80, 2, 22), entry(0x80, 2, 22), entry(0x80, 3, 23)})
    list.insert(list.end(), e.begin(), e.end());
  img.Write(20, Record(20, 1, {FileName(5, "listed.bin", 1, 0), Resident(0x20, list),
                               NonResident(0x80, Runs({{1, 120}}), size)}));
  img.Write(21, Record(21, 1, {NonResident(0x80, Runs({{1, 130}}), 0, 1)}, 20));
  img.Write(22, Record(22, 1, {NonResident(0x80, Runs({{1, 140}}), 0, 2)}, 20));
  img.Write(23, Record(23, 1, {NonResident(0x80, Runs({{1, 150}}), 0, 3)}, 99));
  // Two records whose lists name each other (and themselves).
  std::vector<uint8_t> loopA, loopB;
  for (auto e : {entry(0x80, 0, 24), entry(0x80, 1, 25)}) loopA.insert(loopA.end(), e.begin(), e.end());
  for (auto e : {entry(0x80, 0, 25), entry(0x80, 1, 24)}) loopB.insert(loopB.end(), e.begin(), e.end());
  img.Write(24, Record(24, 1, {FileName(5, "loop a", 1), Resident(0x20, loopA), NonResident(0x80, Runs({{1, 120}}), 4096)}, 25));
  img.Write(25, Record(25, 1, {FileName(5, "loop b", 1), Resident(0x20, loopB), NonResident(0x80, Runs({{1, 130}}), 4096)}, 24));
  Parsed p = Parse(img.Finish());

  const CFoundObject* f = p.Find(20);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(p.Read(*f), std::string(kClusterBytes, 'P') + std::string(kClusterBytes, 'Q') +
                            std::string(kClusterBytes, 'R'));
  ASSERT_NE(p.Find(24), nullptr);
  ASSERT_NE(p.Find(25), nullptr);
  EXPECT_EQ(p.Read(*p.Find(24)), std::string(kClusterBytes, 'P'));
  EXPECT_EQ(p.Read(*p.Find(25)), std::string(kClusterBytes, 'Q'));
}

TEST(NtfsCrafted, HostileRecordsAreSkippedWithoutHarm) {
  Image img;
  img.Write(16, Record(16, 1, {FileName(5, "good.txt", 1, 4), Resident(0x80, Bytes("good"))}));
  // Attribute length beyond the record.
  auto r17 = Record(17, 1, {FileName(5, "long attr", 1)});
  Put32(r17, 0x38 + 4, 0x10000);
  img.Write(17, r17);
  // Resident content beyond its attribute.
  auto fn = FileName(5, "content", 1);
  Put32(fn, 0x10, 0x4000);
  img.Write(18, Record(18, 1, {fn}));
  // Name length beyond the attribute.
  auto fn2 = FileName(5, "name", 1);
  fn2[0x18 + 0x40] = 200;
  img.Write(19, Record(19, 1, {fn2}));
  // Fix-up count beyond the record.
  auto r20 = Record(20, 1, {FileName(5, "fixups", 1)});
  Put16(r20, 6, 40);
  img.Write(20, r20);
  // A run list that runs off its attribute (no end marker, then a header
  // announcing more bytes than are left), and one pointing past the volume.
  auto runs = NonResident(0x80, Runs({{1, 100}}), 4096);
  std::fill(runs.begin() + 0x40, runs.end(), 0x44);
  img.Write(21, Record(21, 1, {FileName(5, "runs off", 1, 4096), runs}));
  img.Write(22, Record(22, 1, {FileName(5, "far runs", 1, 4096), NonResident(0x80, Runs({{1, 1ll << 40}}), 4096)}));
  // First attribute offset beyond the record; a zero-length attribute.
  auto r23 = Record(23, 1, {FileName(5, "first attr", 1)});
  Put16(r23, 0x14, 0xFFF0);
  img.Write(23, r23);
  auto r24 = Record(24, 1, {FileName(5, "zero length", 1)});
  Put32(r24, 0x38 + 4, 0);
  img.Write(24, r24);
  // A run-list offset outside the attribute.
  auto bad = NonResident(0x80, Runs({{1, 100}}), 4096);
  Put16(bad, 0x20, 0x7000);
  img.Write(25, Record(25, 1, {FileName(5, "run offset", 1, 4096), bad}));
  Parsed p = Parse(img.Finish());

  ASSERT_NE(p.Find(16), nullptr);
  EXPECT_EQ(p.Read(*p.Find(16)), "good");
  EXPECT_EQ(p.Find(17), nullptr);
  EXPECT_EQ(p.Find(18), nullptr);
  EXPECT_EQ(p.Find(19), nullptr);
  EXPECT_EQ(p.Find(20), nullptr);
  EXPECT_EQ(p.Find(23), nullptr);
  EXPECT_EQ(p.Find(24), nullptr);
  // Records with damaged runs keep their names but read nothing wrong.
  for (int64_t id : {21, 22, 25}) {
    const CFoundObject* o = p.Find(id);
    if (!o) continue;
    std::vector<FoundObjectRun> r;
    p.fs->GetRuns(*o, r);
    for (const auto& run : r) EXPECT_LE(run.StartSector + run.SectorCount, kVolumeBytes / 512);
  }
}

TEST(NtfsCrafted, AbsurdSizesAreRefused) {
  // The MFT claims far more records than the volume holds.
  Image img;
  img.Write(16, Record(16, 1, {FileName(5, "x", 1)}));
  std::vector<uint64_t> claims = {1ull << 40, ~0ull};
  for (uint64_t claim : claims) {
    Image big = img;
    big.records[0] = Record(0, 1, {FileName(5, "$MFT", 3), NonResident(0x80, Runs({{8, kMftCluster}}), claim)});
    Parsed p = Parse(big.Finish());
    EXPECT_EQ(p.fs->RecordCount, kMftRecords);
    EXPECT_NE(p.Find(16), nullptr);
  }
  // A record size of 0 or absurd in the MFT record keeps the boot sector's size.
  for (uint32_t allocated : {0u, 3u, 1u << 30}) {
    Image odd = img;
    Put32(odd.records[0], 0x1C, allocated);
    Parsed p = Parse(odd.Finish(false));
    EXPECT_EQ(p.fs->RecordSize, kRecordBytes);
    EXPECT_NE(p.Find(16), nullptr);
  }
  // Clusters-per-record byte: 2 clusters of 4096 bytes.
  Image two = img;
  two.bytes[0x40] = 2;
  Parsed p = Parse(two.Finish());
  EXPECT_EQ(p.fs->RecordSize, kRecordBytes);  // the MFT record's own size decides
}

TEST(NtfsCrafted, FoundRecordsAreExaminedTenAtATimeOutsideTheMft) {
  Image img;
  std::vector<uint8_t> bytes = img.Finish();
  // Twelve records of an older MFT at cluster 200, outside the live MFT.
  for (uint32_t i = 0; i < 12; ++i) {
    auto r = Record(100 + i, 1, {FileName(5, "old " + std::to_string(i), 1, 3), Resident(0x80, Bytes("old"))});
    std::copy(r.begin(), r.end(), bytes.begin() + 200 * kClusterBytes + i * kRecordBytes);
  }
  Parsed p = Parse(bytes);
  size_t before = p.Objects().size();
  CFoundObject found;
  found.StartOffset = 200 * kClusterBytes;
  p.fs->ExamineFoundRecord(&found);
  EXPECT_EQ(p.Objects().size(), before + 10);
  const CFoundObject* o = p.Find(100);
  ASSERT_NE(o, nullptr);
  EXPECT_TRUE(o->Flags & FOF_FS_RUNS);
  EXPECT_TRUE(o->Flags & FOF_FILE);
  EXPECT_EQ(p.Find(110), nullptr);
  // The same find again adds nothing; finds inside the live MFT or its
  // mirror (copies of catalogued records) add nothing.
  p.fs->ExamineFoundRecord(&found);
  found.StartOffset = kMftCluster * kClusterBytes;
  p.fs->ExamineFoundRecord(&found);
  found.StartOffset = kMirrorCluster * kClusterBytes;
  p.fs->ExamineFoundRecord(&found);
  EXPECT_EQ(p.Objects().size(), before + 10);
  // Near the end of the volume fewer records are examined.
  found.StartOffset = kVolumeBytes - 2 * kRecordBytes;
  p.fs->ExamineFoundRecord(&found);
}

}  // namespace

TEST(NtfsCrafted, TornRecordIsRefusedAndItsSiblingsStay) {
  Image img;
  img.Write(16, Record(16, 1, {FileName(5, "whole.txt", 1, 5), Resident(0x80, Bytes("whole"))}));
  auto torn = Record(17, 1, {FileName(5, "torn.txt", 1, 4), Resident(0x80, Bytes("torn"))});
  // The second block was written by another update than the first.
  Put16(torn, 1022, 0x0008);
  img.Write(17, torn);
  Parsed p = Parse(img.Finish());
  ASSERT_NE(p.Find(16), nullptr);
  EXPECT_EQ(p.Find(17), nullptr);
  MftRecord record;
  EXPECT_FALSE(record.Load(torn.data(), torn.size()));
}

TEST(NtfsCrafted, FileWhoseFolderRecordWasReusedGoesAmongTheOrphans) {
  auto withSequence = [](std::vector<uint8_t> r, uint16_t sequence) {
    Put16(r, 0x10, sequence);
    return r;
  };
  const uint64_t seq1 = uint64_t{1} << 48, seq2 = uint64_t{2} << 48;
  Image img;
  // Record 16 is a folder now, with sequence 2; record 20 a deleted folder
  // whose sequence was raised when it was freed.
  img.Write(16, withSequence(Record(16, 3, {FileName(5, "New folder", 1)}), 2));
  img.Write(17, Record(17, 0, {FileName(16 | seq1, "old child.txt", 1, 1), Resident(0x80, Bytes("o"))}));
  img.Write(18, Record(18, 1, {FileName(16 | seq2, "new child.txt", 1, 1), Resident(0x80, Bytes("n"))}));
  img.Write(20, withSequence(Record(20, 2, {FileName(5, "Deleted folder", 1)}), 2));
  img.Write(21, Record(21, 0, {FileName(20 | seq1, "in deleted.txt", 1, 1), Resident(0x80, Bytes("d"))}));
  // Record 22 was a file in use once (sequence 5); a deleted file names it
  // with sequence 3.
  img.Write(22, withSequence(Record(22, 0, {FileName(5, "file now", 1)}), 5));
  img.Write(23, Record(23, 0, {FileName(22 | (uint64_t{3} << 48), "lost.txt", 1, 1), Resident(0x80, Bytes("l"))}));
  Parsed p = Parse(img.Finish());
  ASSERT_NE(p.Find(17), nullptr);
  EXPECT_EQ(p.Find(17)->ParentID, ORPHAN_FILES_ID);
  EXPECT_EQ(p.Find(18)->ParentID, 16);
  EXPECT_EQ(p.Find(21)->ParentID, 20);
  EXPECT_EQ(p.Find(23)->ParentID, ORPHAN_FILES_ID);
}

// A compressed data attribute: the flag and a unit of 2^4 clusters.
std::vector<uint8_t> Compressed(std::vector<uint8_t> attribute) {
  Put16(attribute, 0x0C, 0x0001);
  attribute[0x22] = 4;
  return attribute;
}

std::string ReadAsRecovery(const CFoundObject& o) {
  CFoundObjectReader reader(o);
  std::string data;
  std::vector<char> buffer(1 << 16);
  while (data.size() < o.Size) {
    uint32_t got = reader.ReadNext(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (got == 0) break;
    data.append(buffer.data(), got);
  }
  if (data.size() > o.Size) data.resize(o.Size);
  return data;
}

TEST(NtfsCrafted, CompressedUnitsAreDecodedAndADamagedOneIsAFailedRead) {
  Image img;
  // Cluster 40: one LZNT1 chunk, "abc" then 9 bytes from 3 back.
  const std::vector<uint8_t> chunk = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20};
  std::copy(chunk.begin(), chunk.end(), img.bytes.begin() + 40 * kClusterBytes);
  // Cluster 41: all 0xFF, a chunk whose first token points before its start.
  img.Fill(41, 1, '\xFF');
  img.Write(20, Record(20, 1, {FileName(5, "packed.txt", 1, 70000),
                               Compressed(NonResident(0x80, Runs({{1, 40}, {31, -1}}), 70000))}));
  img.Write(21, Record(21, 1, {FileName(5, "broken.txt", 1, 100),
                               Compressed(NonResident(0x80, Runs({{1, 41}, {15, -1}}), 100))}));
  Parsed p = Parse(img.Finish());
  const CFoundObject* packed = p.Find(20);
  ASSERT_NE(packed, nullptr);
  EXPECT_EQ(packed->Size, 70000u);
  // The first unit decodes, the second (no clusters at all) is zeros.
  EXPECT_EQ(ReadAsRecovery(*packed), "abcabcabcabc" + std::string(70000 - 12, '\0'));
  const CFoundObject* broken = p.Find(21);
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(ReadAsRecovery(*broken), "");
  EXPECT_TRUE(LogHas("Compressed data damaged"));
}

TEST(NtfsCrafted, EncryptedFilesAreMarkedAndTheVolumeNameIsRead) {
  Image img;
  std::vector<uint8_t> info(0x48, 0);
  Put32(info, 0x20, 0x4000);  // encrypted, in the file attributes
  img.Write(20, Record(20, 1, {Resident(0x10, info), FileName(5, "secret.doc", 1, 5), Resident(0x80, Bytes("xxxxx"))}));
  auto data = NonResident(0x80, Runs({{1, 40}}), 10);
  Put16(data, 0x0C, 0x4000);  // encrypted, on the stream only
  img.Write(21, Record(21, 1, {FileName(5, "stream.doc", 1, 10), data}));
  img.Write(22, Record(22, 1, {StandardInformation(1, 2, 3), FileName(5, "plain.txt", 1, 5), Resident(0x80, Bytes("plain"))}));
  std::vector<uint8_t> name;
  for (char16_t c : std::u16string(u"Archive Ä")) {
    name.push_back(static_cast<uint8_t>(c));
    name.push_back(static_cast<uint8_t>(c >> 8));
  }
  img.Write(3, Record(3, 1, {FileName(5, "$Volume", 3), Resident(0x60, name)}));
  Parsed p = Parse(img.Finish());
  ASSERT_NE(p.Find(20), nullptr);
  ASSERT_NE(p.Find(21), nullptr);
  ASSERT_NE(p.Find(22), nullptr);
  EXPECT_TRUE(p.Find(20)->Flags & FOF_ENCRYPTED);
  EXPECT_TRUE(p.Find(21)->Flags & FOF_ENCRYPTED);
  EXPECT_FALSE(p.Find(22)->Flags & FOF_ENCRYPTED);
  EXPECT_EQ(p.volume->Label, "Archive Ä");
  EXPECT_EQ(p.fs->VolumeLabel(), "Archive Ä");
}

TEST(NtfsCrafted, HugeCompressedStreamOfHolesIsFewRunsOfZeros) {
  Image img;
  // A stream claiming 2^50 bytes: one sparse run of a million clusters, then
  // nothing mapped at all.
  auto attribute = Compressed(NonResident(0x80, Runs({{1 << 20, -1}}), 0));
  Put64(attribute, 0x30, uint64_t{1} << 50);
  img.Write(20, Record(20, 1, {FileName(5, "holes", 1), attribute}));
  Parsed p = Parse(img.Finish());
  CFoundObject object;
  object.ObjectID = 20;
  object.Size = uint64_t{1} << 50;
  object.Volume = p.volume.get();
  std::vector<FoundObjectRun> runs;
  p.fs->GetRuns(object, runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].Kind, FoundObjectRun::Source::Zeros);
  EXPECT_EQ(runs[0].SectorCount, (uint64_t{1} << 50) / 512);
}
