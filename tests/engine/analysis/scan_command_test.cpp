// The command line's scans, end to end: `scan` and `list --scan` on images
// of real files, and a clean stop on Ctrl-C that still prints what was found.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace {

// An image of random bytes with real files at known sectors.
struct Image {
  std::string path;
  std::vector<std::pair<std::string, uint64_t>> files;  // name, byte offset
};

Image MakeImage(const std::string& dir, const std::string& fixtures, size_t bytes) {
  Image image;
  image.path = dir + "/image.dd";
  std::vector<uint8_t> data(bytes);
  std::mt19937 random(77);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  uint64_t sector = 16;
  for (const char* name : {"photo.jpg", "picture.png", "sheet.xls", "letter.doc", "slides.ppt", "bundle.zip"}) {
    auto file = qmtest::ReadFileBytes(fixtures + "/files/" + name);
    if (file.empty()) continue;
    std::memcpy(data.data() + sector * 512, file.data(), file.size());
    image.files.push_back({name, sector * 512});
    sector += (file.size() + 511) / 512 + 5;
  }
  std::ofstream(image.path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                     static_cast<std::streamsize>(data.size()));
  return image;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct ScanCommandTest : ::testing::Test {
  static void SetUpTestSuite() {
    fixtures = qmtest::MakeTempDir("scan-cli-fx");
    ASSERT_EQ(qmtest::RunCommand(qmtest::SourcePath("scripts/make-scan-fixtures.sh") + " " + fixtures + " >/dev/null 2>&1"), 0);
  }
  static std::string fixtures;
};
std::string ScanCommandTest::fixtures;

}  // namespace

TEST_F(ScanCommandTest, ScanListsLostFilesByGroupAtTheirOffsets) {
  std::string dir = qmtest::MakeTempDir("scan-cli");
  Image image = MakeImage(dir, fixtures, 4 << 20);
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(Quote(qmtest::CliPath()) + " scan " + Quote(image.path) + " --json 2>/dev/null", &out), 0);
  auto json = nlohmann::json::parse(out);
  ASSERT_TRUE(json.is_array());
  for (const auto& [name, offset] : image.files) {
    std::string ext = name.substr(name.rfind('.') + 1);
    bool found = false;
    for (const auto& o : json) {
      if (o["offset"].get<uint64_t>() != offset) continue;
      found = true;
      std::string path = o["path"].get<std::string>();
      EXPECT_EQ(path.rfind("Lost files/", 0), 0u) << path;
      EXPECT_NE(path.find("." + ext), std::string::npos) << path << " for " << name;
      EXPECT_TRUE(o["lost"].get<bool>());
    }
    EXPECT_TRUE(found) << name << " at " << offset;
  }
  // The text form lists the same files.
  ASSERT_EQ(qmtest::RunCommand(Quote(qmtest::CliPath()) + " scan " + Quote(image.path) + " 2>/dev/null", &out), 0);
  EXPECT_NE(out.find("Png_"), std::string::npos);
  EXPECT_EQ(qmtest::RunCommand(Quote(qmtest::CliPath()) + " scan >/dev/null 2>&1"), 2);
}

TEST_F(ScanCommandTest, ListWithScanShowsTheFileSystemAndLostFilesOnce) {
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(Quote(qmtest::CliPath()) + " list " + Quote(fixtures + "/fat.img") + " --scan --json 2>/dev/null", &out), 0);
  auto json = nlohmann::json::parse(out);
  int live = 0;
  for (const auto& o : json) {
    std::string name = o["name"].get<std::string>();
    if (name == "photo.jpg" || name == "picture.png" || name == "bundle.zip") {
      ++live;
      // No lost file stands at a live file's start.
      for (const auto& other : json)
        if (other["lost"].get<bool>()) {
          EXPECT_NE(other["offset"], o["offset"]) << name;
        }
    }
  }
  EXPECT_EQ(live, 3);
  ASSERT_EQ(qmtest::RunCommand(Quote(qmtest::CliPath()) + " list " + Quote(fixtures + "/fat.img") + " --scan 2>/dev/null", &out), 0);
  EXPECT_NE(out.find("photo.jpg"), std::string::npos);
  EXPECT_NE(out.find("lost file(s)"), std::string::npos);
}

// Ctrl-C during a long scan: the scan stops at once (no thread is killed),
// the program ends by itself and still prints valid output.
TEST_F(ScanCommandTest, CtrlCStopsTheScanAndPrintsWhatWasFound) {
  std::string dir = qmtest::MakeTempDir("scan-cli-int");
  std::string image = dir + "/big.dd";
  // A large sparse image: long to scan, nothing to store.
  ASSERT_EQ(qmtest::RunCommand("truncate -s 64G " + Quote(image)), 0);
  std::string outPath = dir + "/out.json";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(126);
    execl(qmtest::CliPath().c_str(), "quillmore-cli", "scan", image.c_str(), "--json", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The stop is asked for once the program has the image open (its Ctrl-C
  // handler is in place by then) and has had time to start scanning.
  bool opened = false;
  for (int i = 0; i < 600 && !opened; ++i) {
    std::string link;
    qmtest::RunCommand("ls -l /proc/" + std::to_string(pid) + "/fd 2>/dev/null", &link);
    opened = link.find(image) != std::string::npos;
    if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(opened);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(pid, SIGINT);
  int status = 0;
  // Bounded wait: a scan that ignored the stop would take many minutes.
  pid_t done = 0;
  for (int i = 0; i < 1200 && done == 0; ++i) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the scan did not stop after Ctrl-C";
  }
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of stopping cleanly";
  EXPECT_EQ(WEXITSTATUS(status), 1);  // stopped before the end
  std::ifstream in(outPath);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(nlohmann::json::parse(text).is_array());
}

TEST_F(ScanCommandTest, LostDocumentsAreNamedByTheirTitles) {
  std::string dir = qmtest::MakeTempDir("scan-cli-titles");
  // An office document as python's zipfile writes it, its title with a
  // separator and a colon in it.
  ASSERT_EQ(qmtest::RunCommand("cd " + Quote(dir) + " && python3 -c \"import zipfile\n"
                               "z = zipfile.ZipFile('t.docx', 'w', zipfile.ZIP_DEFLATED)\n"
                               "z.writestr('[Content_Types].xml', '<Types/>')\n"
                               "z.writestr('word/document.xml', '<w:document>' + 'text ' * 500 + '</w:document>')\n"
                               "z.writestr('docProps/core.xml', '<cp:coreProperties><dc:title>Q3: Sales/Plan</dc:title></cp:coreProperties>')\n"
                               "z.close()\""),
            0);
  std::vector<std::pair<std::string, std::string>> expected = {{"t.docx", "OfficeXml_Q3_ Sales_Plan_"}};
  if (qmtest::RunCommand("command -v gs >/dev/null") == 0) {
    std::ofstream(dir + "/t.ps") << "%!PS\n[ /Title (Minutes \\(draft\\)) /DOCINFO pdfmark\nshowpage\n";
    ASSERT_EQ(qmtest::RunCommand("gs -q -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=" + Quote(dir + "/t.pdf") + " " +
                                 Quote(dir + "/t.ps") + " >/dev/null 2>&1"),
              0);
    expected.push_back({"t.pdf", "Pdf_Minutes _draft_"});
  }
  std::vector<uint8_t> data(2 << 20);
  std::mt19937 random(78);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  std::vector<uint64_t> offsets;
  uint64_t at = 64 * 512;
  for (const auto& [file, prefix] : expected) {
    auto bytes = qmtest::ReadFileBytes(dir + "/" + file);
    ASSERT_FALSE(bytes.empty()) << file;
    std::memcpy(data.data() + at, bytes.data(), bytes.size());
    offsets.push_back(at);
    at += (bytes.size() + 511) / 512 * 512 + 8 * 512;
  }
  std::ofstream(dir + "/image.dd", std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                           static_cast<std::streamsize>(data.size()));
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(Quote(qmtest::CliPath()) + " scan " + Quote(dir + "/image.dd") + " --json 2>/dev/null", &out), 0);
  auto json = nlohmann::json::parse(out);
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::string name = expected[i].second + std::to_string(offsets[i]) + expected[i].first.substr(1);
    bool found = false;
    for (const auto& o : json)
      if (o["offset"].get<uint64_t>() == offsets[i]) {
        found = true;
        EXPECT_EQ(o["name"].get<std::string>(), name);
        const std::string path = o["path"].get<std::string>();
        EXPECT_EQ(path.substr(path.rfind('/') + 1), name);
      }
    EXPECT_TRUE(found) << name;
  }
}
