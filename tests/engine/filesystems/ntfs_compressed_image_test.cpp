// Compressed NTFS files on an image made by mkntfs and written through
// ntfs-3g with compression on (scripts/make-ntfs-compressed-image.sh; the
// image, the digests of what was written and of what `icat` read are
// committed under tests/data/ntfs). Every file, live or deleted, must read
// back as it was written: compressed units decoded, units kept as they are,
// zero units, units of two files interleaved on the volume.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
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

TEST(NtfsCompressedImage, FilesReadBackAsWrittenAndAsIcatGivesThem) {
  const std::string dir = qmtest::MakeTempDir("ntfs-compressed");
  const std::string image = dir + "/compressed.img";
  ASSERT_EQ(qmtest::RunCommand("zstd -d -q -f " +
                               Quote(qmtest::SourcePath("tests/data/ntfs/compressed.img.zst")) + " -o " +
                               Quote(image)),
            0);
  CVolume* volume = theComputer().LoadImage(image);
  ASSERT_NE(volume, nullptr);
  volume->AnalyseFileSystem();
  std::map<int64_t, const CFoundObject*> byInode;
  for (CFoundObject* o : volume->Catalog().CopyObjects())
    if (o != volume && !(o->Flags & FOF_LOST_FOLDER)) byInode[o->ObjectID] = o;

  std::map<int64_t, std::string> icat;
  for (const auto& l : Lines(ReadText(qmtest::SourcePath("tests/data/ntfs/compressed.icat")))) {
    std::istringstream in(l);
    int64_t inode = 0;
    std::string digest;
    in >> inode >> digest;
    icat[inode] = digest;
  }
  int deleted = 0, checked = 0;
  for (const auto& l : Lines(ReadText(qmtest::SourcePath("tests/data/ntfs/compressed.manifest")))) {
    std::istringstream in(l);
    int64_t inode = 0;
    uint64_t size = 0;
    std::string state, digest, name;
    in >> inode >> state >> size >> digest >> name;
    SCOPED_TRACE(name);
    ASSERT_TRUE(byInode.count(inode));
    const CFoundObject* o = byInode[inode];
    EXPECT_EQ(o->Name, name);
    EXPECT_EQ(o->IsDeleted(), state == "deleted");
    deleted += o->IsDeleted();
    EXPECT_EQ(o->Size, size);  // the size before compression
    const std::string data = ReadObject(*o);
    ASSERT_EQ(data.size(), size);
    const std::string got = Sha256(dir, data);
    EXPECT_EQ(got, digest);
    EXPECT_EQ(got, icat[inode]);
    ++checked;
  }
  EXPECT_EQ(checked, 9);
  EXPECT_EQ(deleted, 2);
}

}  // namespace
