// `make run`'s main job (scripts/run-sample.sh) on the bundled sample image,
// in a folder where ./recovered already holds files of the user's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TEST(RunSample, KeepsWhatTheUserPutIntoRecoveredAndDoesNotPileUpCopies) {
  const std::string sample = qmtest::SampleImage();
  if (sample.empty()) GTEST_SKIP() << "no sample image";
  const std::string work = qmtest::MakeTempDir("qm-run-sample");
  fs::create_directories(work + "/recovered/Pictures");
  { std::ofstream(work + "/recovered/mine.txt") << "mine"; }
  // A file of the user's under a name the recovery also writes.
  { std::ofstream(work + "/recovered/Pictures/sunset.jpg") << "my own sunset"; }
  const std::string run = "cd " + work + " && bash " + qmtest::SourcePath("scripts/run-sample.sh") + " " +
                          fs::path(qmtest::CliPath()).parent_path().string() + " " + sample + " >/dev/null 2>&1";
  ASSERT_EQ(qmtest::RunCommand(run), 0);
  ASSERT_TRUE(fs::exists(work + "/recovered/README.TXT"));
  EXPECT_TRUE(fs::exists(work + "/recovered/Pictures/sunset (2).jpg"));
  // A recovered file the user changed afterwards is the user's now.
  { std::ofstream(work + "/recovered/README.TXT", std::ios::app) << "my note"; }
  ASSERT_EQ(qmtest::RunCommand(run), 0);

  auto text = [](const std::string& path) {
    auto bytes = qmtest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(text(work + "/recovered/mine.txt"), "mine");
  EXPECT_EQ(text(work + "/recovered/Pictures/sunset.jpg"), "my own sunset");
  EXPECT_NE(text(work + "/recovered/README.TXT").find("my note"), std::string::npos);
  EXPECT_TRUE(fs::exists(work + "/recovered/README (2).TXT"));
  // The second run replaced the files of the first: no third copies.
  EXPECT_TRUE(fs::exists(work + "/recovered/Pictures/sunset (2).jpg"));
  EXPECT_FALSE(fs::exists(work + "/recovered/Pictures/sunset (3).jpg"));
  EXPECT_FALSE(fs::exists(work + "/recovered/README (3).TXT"));
  EXPECT_TRUE(fs::exists(work + "/recovered/Lost files/Images/Png_37748736.png"));
  fs::remove_all(work);
}
