// quillmore-cli dump on the sample image and on sources that cannot be read.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

std::string Cli() { return "'" + qmtest::CliPath() + "'"; }

TEST(CliDump, ShowsTheFat32BootSectorInTheViewerFormat) {
  const std::string image = qmtest::SampleImage();
  ASSERT_FALSE(image.empty());
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(Cli() + " dump '" + image + "' --sector 0", &out), 0);
  // Header, then 32 lines of 16 bytes.
  EXPECT_EQ(out.substr(0, out.find('\n')), "Offset      0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F");
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, 33u);
  // The jump, the OEM name, 512 bytes per sector, one sector per cluster.
  EXPECT_NE(out.find("\n00000000   EB 58 90 6D 6B 66 73 2E  66 61 74 00 02 01 20 00  .X.mkfs.fat... .\n"),
            std::string::npos)
      << out;
  // "FAT32   " at offset 0x52 and the boot signature 55 AA at 0x1FE.
  EXPECT_NE(out.find("\n00000050   4C 45 46 41 54 33 32 20  20 20"), std::string::npos) << out;
  EXPECT_NE(out.find("\n000001F0   "), std::string::npos);
  EXPECT_NE(out.find(" 55 AA  "), std::string::npos);
  EXPECT_NE(out.find("\n00000010   02 00 00 00 00 F8"), std::string::npos);  // line at offset 16
}

TEST(CliDump, SectorsPastTheBootSectorAndCounts) {
  const std::string image = qmtest::SampleImage();
  ASSERT_FALSE(image.empty());
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(Cli() + " dump '" + image + "' --sector 6 --count 2", &out), 0);
  // The backup boot sector of FAT32 sits at sector 6 (byte 0xC00).
  EXPECT_NE(out.find("\n00000C00   EB 58 90"), std::string::npos) << out.substr(0, 300);
  EXPECT_NE(out.find("\n00000FF0   "), std::string::npos);
  EXPECT_EQ(out.find("\n00001000   "), std::string::npos);
}

TEST(CliDump, UnreadableSourcesGiveOneLineAndStatusOne) {
  std::string out;
  const std::string dir = qmtest::MakeTempDir("qm-dump");
  for (const std::string& source : {std::string("/nonexistent/disk.img"), dir}) {
    EXPECT_EQ(qmtest::RunCommand(Cli() + " dump '" + source + "' 2>&1", &out), 1) << source;
    size_t lines = 0;
    for (char c : out) lines += c == '\n';
    EXPECT_EQ(lines, 1u) << out;
    EXPECT_NE(out.find(source), std::string::npos) << out;
  }
  // Past the end of the volume.
  const std::string image = qmtest::WriteTempFile("tiny.img", std::vector<uint8_t>(1024, 0x41));
  EXPECT_EQ(qmtest::RunCommand(Cli() + " dump '" + image + "' --sector 2 2>&1", &out), 1);
  EXPECT_NE(out.find("past the end"), std::string::npos) << out;
  // Bad usage.
  EXPECT_EQ(qmtest::RunCommand(Cli() + " dump 2>/dev/null"), 2);
  EXPECT_EQ(qmtest::RunCommand(Cli() + " dump '" + image + "' --sector x 2>/dev/null"), 2);
  EXPECT_EQ(qmtest::RunCommand(Cli() + " dump --help", &out), 0);
  EXPECT_NE(out.find("dump SOURCE"), std::string::npos);
}

TEST(CliDump, ATrailingPartialSectorIsNotPartOfTheVolume) {
  const std::string image = qmtest::WriteTempFile("odd.img", std::vector<uint8_t>(700, 0x41));
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(Cli() + " dump '" + image + "' --count 5 2>/dev/null", &out), 0);
  EXPECT_NE(out.find("\n000001F0   41"), std::string::npos);
  EXPECT_EQ(out.find("\n00000200   "), std::string::npos);
}

}  // namespace
