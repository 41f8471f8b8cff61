// The NTFS parser on an image made by mkntfs and written through ntfs-3g
// (scripts/make-ntfs-images.sh; the image and what the forensic tools said
// about it are committed under tests/data/ntfs). The listing must agree with
// `fls -r -p`, live files must read back as `icat` gives them, and deleted
// files whose clusters were not reused as they were written.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system_ntfs.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "tests/engine/filesystems/fs_image_support.h"
#include "tests/support/test_support.h"

namespace {

using fsimage::Lines;
using fsimage::Quote;
using fsimage::ReadObject;
using fsimage::ReadText;
using fsimage::Sha256;

struct Analysed {
  std::string dir, image;
  CVolume* volume = nullptr;
  std::vector<CFoundObject*> objects;
};

// The image is unpacked and analysed once for all tests of this file.
Analysed& Image() {
  static Analysed a = [] {
    Analysed r;
    r.dir = qmtest::MakeTempDir("ntfs-image");
    r.image = r.dir + "/basic.img";
    int rc = qmtest::RunCommand("zstd -d -q -f " + Quote(qmtest::SourcePath("tests/data/ntfs/basic.img.zst")) +
                                " -o " + Quote(r.image));
    if (rc != 0) return r;
    r.volume = theComputer().LoadImage(r.image);
    if (!r.volume) return r;
    r.volume->AnalyseFileSystem();
    for (CFoundObject* o : r.volume->Catalog().CopyObjects()) {
      if (o == r.volume || o == &r.volume->Catalog().Root() || (o->Flags & FOF_LOST_FOLDER)) continue;
      r.objects.push_back(o);
    }
    return r;
  }();
  return a;
}

struct ManifestEntry {
  int64_t inode;
  bool live;
  uint64_t size;
  std::string digest, path;
};

std::vector<ManifestEntry> Manifest() {
  std::vector<ManifestEntry> out;
  for (const auto& l : Lines(ReadText(qmtest::SourcePath("tests/data/ntfs/basic.manifest")))) {
    std::istringstream in(l);
    ManifestEntry e;
    std::string state, size;
    std::getline(in, state, '\t');
    e.inode = std::stoll(state);
    std::getline(in, state, '\t');
    e.live = state == "live";
    std::getline(in, size, '\t');
    e.size = std::stoull(size);
    std::getline(in, e.digest, '\t');
    std::getline(in, e.path);
    out.push_back(e);
  }
  return out;
}

const CFoundObject* ByInode(int64_t inode) {
  for (const CFoundObject* o : Image().objects)
    if (o->ObjectID == inode) return o;
  return nullptr;
}

TEST(NtfsImage, ListingAgreesWithSleuthKit) {
  Analysed& a = Image();
  ASSERT_NE(a.volume, nullptr) << "image not unpacked (zstd) or not opened";
  ASSERT_FALSE(a.objects.empty());

  // The listing of fls: live when the tool is here, else the one recorded
  // when the image was made.
  std::string listing;
  if (qmtest::HaveTool("fls")) {
    ASSERT_EQ(qmtest::RunCommand("fls -r -p " + Quote(a.image), &listing), 0);
  } else {
    std::cout << "fls not installed: comparing with the recorded listing\n";
    listing = ReadText(qmtest::SourcePath("tests/data/ntfs/basic.fls"));
  }
  // (record, path) pairs. Streams of one file ("$Secure:$SDS") are one
  // entry; the tool's virtual orphan folder and "." have no record of their own.
  std::set<std::pair<int64_t, std::string>> expected;
  std::map<std::string, bool> expectedDeleted;
  for (const auto& l : Lines(listing)) {
    size_t tab = l.find('\t');
    ASSERT_NE(tab, std::string::npos) << l;
    std::string head = l.substr(0, tab), path = l.substr(tab + 1);
    if (path.rfind("$OrphanFiles", 0) == 0 || path == ".") continue;
    size_t colon = path.find(':', path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    if (colon != std::string::npos) path.resize(colon);
    size_t digits = head.find_first_of("0123456789", 3);
    int64_t inode = std::stoll(head.substr(digits));
    expected.insert({inode, path});
    expectedDeleted[path] = head.find('*') != std::string::npos;
  }

  std::set<std::string> present;
  for (const auto& l : Lines(ReadText(qmtest::SourcePath("tests/data/ntfs/basic.live")))) present.insert(l);

  std::set<std::pair<int64_t, std::string>> ours;
  for (const CFoundObject* o : a.objects) {
    std::string path = a.volume->Catalog().GetFullPath(o) + o->Name;
    ASSERT_EQ(path[0], '/') << "not under the root: " << path;
    path.erase(0, 1);
    ours.insert({o->ObjectID, path});
    // Deleted exactly when it was gone from the file system at the end.
    bool gone = path[0] != '$' && !present.count(path);
    EXPECT_EQ(o->IsDeleted(), gone) << path;
    if (expectedDeleted.count(path) && expectedDeleted[path]) {
      EXPECT_TRUE(o->IsDeleted()) << path;
    }
  }
  std::vector<std::string> missing, extra;
  for (const auto& e : expected)
    if (!ours.count(e)) missing.push_back(std::to_string(e.first) + " " + e.second);
  for (const auto& e : ours)
    if (!expected.count(e)) extra.push_back(std::to_string(e.first) + " " + e.second);
  EXPECT_TRUE(missing.empty()) << missing.size() << " missing, first: " << missing.front();
  EXPECT_TRUE(extra.empty()) << extra.size() << " extra, first: " << extra.front();
  EXPECT_GT(expected.size(), 1000u);
}

// The content the image script wrote into a file: numbered 64-byte lines
// that start with the file's name (see scripts/make-ntfs-images.sh).
std::string Written(const std::string& path, uint64_t size) {
  if (path == "sparse.bin") return std::string(8192, 'S') + std::string(512 * 1024, '\0') + std::string(4096, 'T');
  const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  std::string out;
  char number[16];
  for (int i = 0; out.size() < size; ++i) {
    std::snprintf(number, sizeof number, "%08d", i);
    std::string line = name + " " + number + " ";
    size_t chars = 0;
    for (unsigned char c : line) chars += (c & 0xC0) != 0x80;
    if (chars < 63) line.append(63 - chars, '.');
    line.resize(63);
    out += line + "\n";
  }
  out.resize(size);
  return out;
}

TEST(NtfsImage, FilesReadBackAsWrittenAndAsIcatGivesThem) {
  Analysed& a = Image();
  ASSERT_NE(a.volume, nullptr);
  int live = 0, deleted = 0;
  std::map<int64_t, std::string> read;
  std::string inodes;
  for (const ManifestEntry& e : Manifest()) {
    const CFoundObject* o = ByInode(e.inode);
    ASSERT_NE(o, nullptr) << e.path;
    EXPECT_EQ(o->Size, e.size) << e.path;
    EXPECT_EQ(o->IsDeleted(), !e.live) << e.path;
    std::string data = ReadObject(*o);
    ASSERT_EQ(data.size(), e.size) << e.path;
    EXPECT_TRUE(data == Written(e.path, e.size)) << e.path;
    if (e.live) {
      ++live;
      // Against icat: the large, fragmented and sparse files and a share of
      // the small resident ones.
      if (e.size > 4096 || e.inode % 10 == 0) {
        read[e.inode] = data;
        inodes += " " + std::to_string(e.inode);
      }
    } else {
      ++deleted;
    }
  }
  EXPECT_GT(live, 150);
  EXPECT_EQ(deleted, 5);
  // The digests recorded when the image was made hold too.
  for (const ManifestEntry& e : Manifest()) {
    if (e.path == "large/very_fragmented.bin") {
      EXPECT_EQ(Sha256(a.dir, read[e.inode]), e.digest);
    }
  }

  ASSERT_TRUE(qmtest::HaveTool("icat")) << "icat (sleuthkit) is needed: scripts/install-deps.sh";
  const std::string out = a.dir + "/icat";
  ASSERT_EQ(qmtest::RunCommand("mkdir -p " + Quote(out) + " && for i in" + inodes + "; do icat " + Quote(a.image) +
                               " $i > " + Quote(out) + "/$i || exit 1; done"),
            0);
  for (const auto& [inode, data] : read) EXPECT_TRUE(ReadText(out + "/" + std::to_string(inode)) == data) << inode;
}

TEST(NtfsImage, FragmentedAndSparseFilesUseTheirRuns) {
  Analysed& a = Image();
  ASSERT_NE(a.volume, nullptr);
  for (const ManifestEntry& e : Manifest()) {
    if (e.path.rfind("large/", 0) != 0 && e.path != "sparse.bin") continue;
    const CFoundObject* o = ByInode(e.inode);
    ASSERT_NE(o, nullptr) << e.path;
    std::vector<FoundObjectRun> runs;
    a.volume->FileSystem().GetRuns(*o, runs);
    if (e.path == "sparse.bin") {
      bool zeros = false;
      for (const auto& r : runs) zeros |= r.Kind == FoundObjectRun::Source::Zeros;
      EXPECT_TRUE(zeros);
    } else {
      EXPECT_GT(runs.size(), 2u) << e.path << " is not fragmented";
    }
  }
  // The used areas come from the cluster bitmap.
  EXPECT_FALSE(a.volume->FileSystem().UsedAreas.empty());
}

}  // namespace
