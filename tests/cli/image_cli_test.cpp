// Disk images on the command line: `image` copies exactly what `dd` copies,
// and images in the formats other tools write (E01 in segments, VMDK, VHD,
// VHDX, qcow2) list and recover exactly as the raw image they were made from.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

std::string Cli() { return "'" + qmtest::CliPath() + "'"; }

std::string RunCli(const std::string& args, int* status = nullptr) {
  std::string out;
  int rc = qmtest::RunCommand(Cli() + " " + args + " 2>&1", &out);
  if (status) *status = rc;
  return out;
}

// The files recovered from `source`, each with its checksum, by path.
std::string RecoveredTree(const std::string& source, const std::string& dir) {
  int rc = 0;
  RunCli("recover '" + source + "' --to '" + dir + "' --allow-same-drive", &rc);
  std::string out;
  qmtest::RunCommand("cd '" + dir + "' && find . -type f -print0 | sort -z | xargs -0 md5sum", &out);
  return out;
}

TEST(ImageCommand, CopiesAnImageAndALoopDeviceAsDdDoes) {
  const std::string sample = qmtest::SampleImage();
  ASSERT_FALSE(sample.empty());
  const std::string dir = qmtest::MakeTempDir("qm-image-cli");
  int rc = 0;
  const std::string out = RunCli("image '" + sample + "' --to '" + dir + "/a.dsk'", &rc);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("Image complete"), std::string::npos) << out;
  EXPECT_EQ(qmtest::RunCommand("cmp '" + sample + "' '" + dir + "/a.dsk'"), 0);

  // An existing target is refused without --force, and kept.
  RunCli("image '" + sample + "' --to '" + dir + "/a.dsk'", &rc);
  EXPECT_EQ(rc, 1);

  std::string loop;
  if (qmtest::RunCommand("losetup -r -f --show '" + sample + "' 2>/dev/null", &loop) != 0 || loop.empty())
    GTEST_SKIP() << "no loop devices here";
  loop.erase(loop.find_last_not_of("\n") + 1);
  const std::string fromLoop = RunCli("image " + loop + " --to '" + dir + "/loop.dsk'", &rc);
  std::string dd;
  qmtest::RunCommand("dd if=" + loop + " of='" + dir + "/dd.img' bs=2M status=none");
  qmtest::RunCommand("losetup -d " + loop);
  ASSERT_EQ(rc, 0) << fromLoop;
  EXPECT_EQ(qmtest::RunCommand("cmp '" + dir + "/dd.img' '" + dir + "/loop.dsk'"), 0);
}

TEST(ImageFormats, ListAndRecoverAsTheRawImageDoes) {
  if (!qmtest::HaveTool("qemu-img") || !qmtest::HaveTool("ewfacquire"))
    GTEST_SKIP() << "qemu-img or ewfacquire missing";
  const std::string dir = qmtest::MakeTempDir("qm-formats");
  std::vector<std::string> raws = {qmtest::SampleImage()};
  const std::string ntfs = dir + "/ntfs.img";
  if (qmtest::RunCommand("zstd -q -d -f '" + qmtest::SourcePath("tests/data/ntfs/basic.img.zst") + "' -o '" + ntfs +
                         "'") == 0)
    raws.push_back(ntfs);
  int n = 0;
  for (const std::string& raw : raws) {
    const std::string stem = dir + "/img" + std::to_string(n++);
    const std::string expectList = RunCli("list '" + raw + "'");
    const std::string expectTree = RecoveredTree(raw, stem + "-raw");
    ASSERT_NE(expectList.find("file(s)"), std::string::npos) << expectList;
    std::vector<std::string> converted;
    for (const char* format : {"qcow2", "vmdk", "vpc", "vhdx"}) {
      const std::string path = stem + "." + format;
      ASSERT_EQ(qmtest::RunCommand("qemu-img convert -O " + std::string(format) + " '" + raw + "' '" + path + "'"), 0);
      converted.push_back(path);
    }
    // Expert Witness in 1 MiB segments, named by extension only in part:
    // the content tells the format.
    ASSERT_EQ(qmtest::RunCommand("ewfacquire -u -q -S 1MiB -t '" + stem + "' '" + raw + "' >/dev/null 2>&1"), 0);
    converted.push_back(stem + ".E01");
    ASSERT_EQ(qmtest::RunCommand("mv '" + stem + ".vpc' '" + stem + ".disk'"), 0);
    converted[2] = stem + ".disk";
    for (const std::string& path : converted) {
      EXPECT_EQ(RunCli("list '" + path + "'"), expectList) << path;
      EXPECT_EQ(RecoveredTree(path, path + "-out"), expectTree) << path;
    }
  }
}

}  // namespace
