// quillmore-cli recover, end to end on images made with the real tools.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const auto& Quote = qmtest::ShellQuote;

struct CliResult {
  int status = -1;
  std::string output;
};

CliResult RunCli(const std::string& arguments) {
  CliResult r;
  r.status = qmtest::RunCommand(Quote(qmtest::CliPath()) + " " + arguments + " 2>&1", &r.output);
  return r;
}

// Every regular file below a folder: relative path -> absolute path.
std::map<std::string, std::string> FilesBelow(const std::string& root) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) out[fs::relative(it->path(), root).string()] = it->path().string();
  return out;
}

// The first file below `root` with exactly these bytes; empty when none.
std::string FindByContent(const std::string& root, const std::vector<uint8_t>& bytes) {
  for (const auto& [rel, path] : FilesBelow(root))
    if (fs::file_size(path) == bytes.size() && qmtest::ReadFileBytes(path) == bytes) return rel;
  return {};
}

int64_t MTime(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

// The FAT images of scripts/make-fat-images.sh, made once for all tests.
class FatImages : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy")) return;
    dir_ = qmtest::RunFixtureScript("make-fat-images.sh", "qm-recover-fat");
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  void SetUp() override {
    if (dir_.empty()) GTEST_SKIP() << "FAT images could not be made (mkfs.fat, mtools)";
    work_ = qmtest::MakeTempDir("qm-recover-out");
  }
  void TearDown() override {
    std::error_code ec;
    if (!work_.empty()) fs::remove_all(work_, ec);
  }
  static std::string dir_;
  std::string work_;
};
std::string FatImages::dir_;

}  // namespace

TEST_F(FatImages, LiveAndDeletedFilesComeBackByteIdenticalWithPathsAndTimes) {
  for (const std::string type : {"fat12", "fat16", "fat32"}) {
    SCOPED_TRACE(type);
    const std::string image = dir_ + "/" + type + ".img";
    const std::string expected = work_ + "/" + type + "-expected";
    const std::string out = work_ + "/" + type + "-recovered";
    fs::create_directories(expected);
    // The live tree as mtools reads it, with the times the entries hold.
    ASSERT_EQ(qmtest::RunCommand("cd " + Quote(expected) +
                                 " && TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy -s -m -n -i " + Quote(image) +
                                 " '::*' . >/dev/null 2>&1"),
              0);
    CliResult r = RunCli("recover " + Quote(image) + " --to " + Quote(out) + " --allow-same-drive");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Recovered "), std::string::npos) << r.output;

    auto live = FilesBelow(expected);
    auto recovered = FilesBelow(out);
    ASSERT_GT(live.size(), 40u);
    for (const auto& [rel, path] : live) {
      if (fs::file_size(path) == 0) continue;  // empty files hold nothing to recover
      auto it = recovered.find(rel);
      ASSERT_NE(it, recovered.end()) << rel << "\n" << r.output;
      EXPECT_EQ(qmtest::ReadFileBytes(it->second), qmtest::ReadFileBytes(path)) << rel;
      EXPECT_EQ(MTime(it->second), MTime(path)) << rel;
    }
    // Deleted files whose clusters were not reused, one in a deleted folder.
    std::string frag = FindByContent(out, qmtest::ReadFileBytes(dir_ + "/src/deleted_frag-" + type + ".bin"));
    EXPECT_FALSE(frag.empty());
    std::string trash = FindByContent(out, qmtest::ReadFileBytes(dir_ + "/src/trash1-" + type + ".txt"));
    ASSERT_FALSE(trash.empty());
    EXPECT_NE(fs::path(trash).parent_path().string().find("RASH"), std::string::npos) << trash;

    // --deleted-only leaves the live files out; a second run into the same
    // folder keeps the first run's files and writes beside them.
    const std::string deletedOut = work_ + "/" + type + "-deleted";
    r = RunCli("recover " + Quote(image) + " --to " + Quote(deletedOut) + " --allow-same-drive --deleted-only");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(FilesBelow(deletedOut).count("readme.txt"), 0u);
    EXPECT_FALSE(FindByContent(deletedOut, qmtest::ReadFileBytes(dir_ + "/src/trash1-" + type + ".txt")).empty());
    r = RunCli("recover " + Quote(image) + " --to " + Quote(out) + " --allow-same-drive --name 'readme*'");
    EXPECT_EQ(r.status, 0) << r.output;
    auto again = FilesBelow(out);
    EXPECT_EQ(again.count("readme (2).txt"), 1u);
    EXPECT_EQ(qmtest::ReadFileBytes(again["readme.txt"]), qmtest::ReadFileBytes(expected + "/readme.txt"));
  }
}

TEST_F(FatImages, UnderSelectsOneFolderAndSameDriveIsRefusedWithoutTheOption) {
  const std::string image = dir_ + "/fat16.img";
  const std::string out = work_ + "/under";
  // The images and the output share the temporary folder's file system.
  CliResult refused = RunCli("recover " + Quote(image) + " --to " + Quote(out));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("same drive"), std::string::npos) << refused.output;
  EXPECT_FALSE(fs::exists(out));

  CliResult r = RunCli("recover " + Quote(image) + " --to " + Quote(out) + " --allow-same-drive --under /DOCS/");
  EXPECT_EQ(r.status, 0) << r.output;
  auto files = FilesBelow(out);
  ASSERT_FALSE(files.empty());
  for (const auto& [rel, path] : files) EXPECT_EQ(rel.rfind("DOCS/", 0), 0u) << rel;
  EXPECT_EQ(files.count("DOCS/Sub Folder Long Name/deep/nested.dat"), 1u);

  CliResult none = RunCli("recover " + Quote(image) + " --to " + Quote(out) + " --allow-same-drive --name 'nomatch*'");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(RunCli("recover " + Quote(image)).status, 2);
  EXPECT_EQ(RunCli("recover " + Quote(image) + " --to x --lost-size huge").status, 2);
}

namespace {

// Writes the long-name characters of the entry set that holds `marker` (a
// long name the image was made with) so that it reads `name` instead; the
// short name and the checksum stay as they were.
bool RenameLongName(std::vector<uint8_t>& image, const std::u16string& marker, const std::u16string& name) {
  static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  auto charAt = [&](size_t entry, int k) {
    return static_cast<char16_t>(image[entry + kOffsets[k]] | (image[entry + kOffsets[k] + 1] << 8));
  };
  for (size_t e = 0; e + 32 <= image.size(); e += 32) {
    if (image[e + 11] != 0x0F || (image[e] & 0x1F) != 1) continue;
    // The first piece of a long name: does the name start like the marker?
    bool match = true;
    for (int k = 0; k < 13 && k < static_cast<int>(marker.size()) && match; ++k) match = charAt(e, k) == marker[k];
    if (!match) continue;
    // The pieces lie before the first one, last piece first.
    size_t count = (marker.size() + 12) / 13;
    if (e < 32 * (count - 1) || name.size() > count * 13) return false;
    for (size_t piece = 0; piece < count; ++piece) {
      size_t entry = e - 32 * piece;
      for (int k = 0; k < 13; ++k) {
        size_t i = piece * 13 + static_cast<size_t>(k);
        char16_t c = i < name.size() ? name[i] : (i == name.size() ? u'\0' : u'\xFFFF');
        image[entry + kOffsets[k]] = static_cast<uint8_t>(c & 0xFF);
        image[entry + kOffsets[k] + 1] = static_cast<uint8_t>(c >> 8);
      }
    }
    return true;
  }
  return false;
}

}  // namespace

TEST(RecoverHostile, NamesWithSlashesAndDotsStayInsideTheDestination) {
  if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy")) GTEST_SKIP() << "needs mkfs.fat and mtools";
  std::string work = qmtest::MakeTempDir("qm-hostile");
  std::string image = work + "/hostile.img";
  std::string src = work + "/src";
  fs::create_directories(src + "/Hostile Folder Aa");
  { std::ofstream(src + "/Hostile File Number One.txt") << "escape attempt one\n"; }
  { std::ofstream(src + "/Hostile File Number Two.txt") << "slashes in the name\n"; }
  { std::ofstream(src + "/Hostile Folder Aa/inner.txt") << "inside a dot-dot folder\n"; }
  ASSERT_EQ(qmtest::RunCommand("mkfs.fat -F 16 -s 4 -C " + Quote(image) + " 16384 >/dev/null 2>&1 && cd " + Quote(src) +
                               " && MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 mcopy -s -i " + Quote(image) +
                               " 'Hostile File Number One.txt' 'Hostile File Number Two.txt' 'Hostile Folder Aa' ::"),
            0);
  std::vector<uint8_t> bytes = qmtest::ReadFileBytes(image);
  ASSERT_TRUE(RenameLongName(bytes, u"Hostile File Number One.txt", u"../../../../escape.txt"));
  ASSERT_TRUE(RenameLongName(bytes, u"Hostile File Number Two.txt", u"a/../../b/c.txt"));
  ASSERT_TRUE(RenameLongName(bytes, u"Hostile Folder Aa", u".."));
  {
    std::ofstream outImage(image, std::ios::binary | std::ios::trunc);
    outImage.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::string outer = work + "/outer";
  std::string dest = outer + "/dest";
  CliResult r = RunCli("recover " + Quote(image) + " --to " + Quote(dest) + " --allow-same-drive");
  EXPECT_EQ(r.status, 0) << r.output;
  // Nothing but the destination appeared next to it or above it.
  std::vector<std::string> outerEntries;
  for (const auto& e : fs::directory_iterator(outer)) outerEntries.push_back(e.path().filename().string());
  EXPECT_EQ(outerEntries, std::vector<std::string>{"dest"});
  std::vector<std::string> workEntries;
  for (const auto& e : fs::directory_iterator(work)) workEntries.push_back(e.path().filename().string());
  std::sort(workEntries.begin(), workEntries.end());
  EXPECT_EQ(workEntries, (std::vector<std::string>{"hostile.img", "outer", "src"}));

  const std::string canonicalDest = fs::canonical(dest).string() + "/";
  auto files = FilesBelow(dest);
  for (const auto& [rel, path] : files) EXPECT_EQ(fs::canonical(path).string().rfind(canonicalDest, 0), 0u) << rel;
  auto content = [](const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); };
  std::string one = FindByContent(dest, content("escape attempt one\n"));
  std::string two = FindByContent(dest, content("slashes in the name\n"));
  std::string inner = FindByContent(dest, content("inside a dot-dot folder\n"));
  EXPECT_FALSE(one.empty()) << r.output;
  EXPECT_FALSE(two.empty()) << r.output;
  EXPECT_FALSE(inner.empty()) << r.output;
  EXPECT_EQ(fs::path(one).filename().string().find('/'), std::string::npos);
  std::error_code ec;
  fs::remove_all(work, ec);
}

TEST(RecoverLost, ScanRecoversLostFilesIntoTheirGroupFoldersWithTheirContentAtTheStart) {
  if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy") || !qmtest::HaveTool("python3"))
    GTEST_SKIP() << "needs mkfs.fat, mtools and python3";
  std::string work = qmtest::MakeTempDir("qm-lost");
  std::string src = work + "/src";
  fs::create_directories(src);
  // Files of three known formats with content that differs everywhere.
  std::string script = work + "/make.py";
  {
    std::ofstream py(script);
    py << R"PY(
import random, struct, sys, zlib, zipfile, io
random.seed(7)
d = sys.argv[1]
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
w, h = 120, 90
raw = b"".join(b"\0" + bytes(random.getrandbits(8) for _ in range(w * 3)) for _ in range(h))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + \
      chunk(b"IDAT", zlib.compress(raw, 0)) + chunk(b"IEND", b"")
open(d + "/picture.png", "wb").write(png)
pdf = b"%PDF-1.4\n" + b"".join(b"%% line %06d %s\n" % (i, bytes(random.choice(b"abcdefgh") for _ in range(40))) for i in range(600)) + b"%%EOF\n"
open(d + "/paper.pdf", "wb").write(pdf)
buf = io.BytesIO()
with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
    z.writestr("data.bin", bytes(random.getrandbits(8) for _ in range(20000)))
open(d + "/archive.zip", "wb").write(buf.getvalue())
)PY";
  }
  ASSERT_EQ(qmtest::RunCommand("python3 " + Quote(script) + " " + Quote(src)), 0);
  std::string image = work + "/lost.img";
  // Files written, then the volume formatted again: its folders are gone,
  // the data are not.
  ASSERT_EQ(qmtest::RunCommand("mkfs.fat -F 16 -s 4 -C " + Quote(image) + " 16384 >/dev/null 2>&1 && cd " + Quote(src) +
                               " && MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(image) +
                               " picture.png paper.pdf archive.zip :: && mkfs.fat -F 16 -s 4 " + Quote(image) +
                               " >/dev/null 2>&1"),
            0);
  std::string dest = work + "/dest";
  // Their structure tells their sizes: without a size rule each comes back
  // exactly as it was written.
  CliResult withoutSize =
      RunCli("recover " + Quote(image) + " --to " + Quote(work + "/nosize") + " --allow-same-drive --scan");
  EXPECT_EQ(withoutSize.status, 0) << withoutSize.output;
  auto exact = FilesBelow(work + "/nosize");
  for (const char* name : {"picture.png", "paper.pdf", "archive.zip"}) {
    std::vector<uint8_t> original = qmtest::ReadFileBytes(src + "/" + name);
    bool found = false;
    for (const auto& [rel, path] : exact) found = found || qmtest::ReadFileBytes(path) == original;
    EXPECT_TRUE(found) << name << "\n" << withoutSize.output;
  }

  CliResult r = RunCli("recover " + Quote(image) + " --to " + Quote(dest) + " --allow-same-drive --scan --lost-size next");
  EXPECT_EQ(r.status, 0) << r.output;
  auto files = FilesBelow(dest);
  for (const char* name : {"picture.png", "paper.pdf", "archive.zip"}) {
    std::vector<uint8_t> original = qmtest::ReadFileBytes(src + "/" + name);
    bool found = false;
    for (const auto& [rel, path] : files) {
      std::vector<uint8_t> got = qmtest::ReadFileBytes(path);
      if (got.size() < original.size() || !std::equal(original.begin(), original.end(), got.begin())) continue;
      found = true;
      // In its group's folder.
      std::string group = fs::path(rel).parent_path().filename().string();
      EXPECT_TRUE(group == "Images" || group == "Documents" || group == "Archives") << rel;
    }
    EXPECT_TRUE(found) << name << "\n" << r.output;
  }
  std::error_code ec;
  fs::remove_all(work, ec);
}

namespace {

// The committed NTFS image of scripts/make-ntfs-images.sh and its manifest
// (inode, live/deleted, size, sha256, path per line), wherever the tree keeps
// them (QM_NTFS_IMAGE names another one).
std::string FindNtfsImage() {
  if (const char* given = std::getenv("QM_NTFS_IMAGE"); given && *given) return given;
  std::string found;
  qmtest::RunCommand("cd " + Quote(qmtest::SourcePath("")) +
                         " && git ls-files -- '*basic.img.zst' 2>/dev/null | head -n 1",
                     &found);
  while (!found.empty() && (found.back() == '\n' || found.back() == '\r')) found.pop_back();
  return found.empty() ? std::string() : qmtest::SourcePath(found);
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> out;
  size_t pos = 0;
  for (;;) {
    size_t next = line.find(sep, pos);
    out.push_back(line.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
    if (next == std::string::npos) return out;
    pos = next + 1;
  }
}

}  // namespace

TEST(RecoverNtfs, LiveAndDeletedFilesComeBackByteIdenticalWithPathsAndTimes) {
  std::string packed = FindNtfsImage();
  if (packed.empty()) GTEST_SKIP() << "no committed NTFS image (scripts/make-ntfs-images.sh)";
  std::string manifestPath = packed.substr(0, packed.size() - std::string(".img.zst").size()) + ".manifest";
  if (!fs::exists(manifestPath) || !qmtest::HaveTool("zstd") || !qmtest::HaveTool("sha256sum"))
    GTEST_SKIP() << "needs the manifest, zstd and sha256sum";
  std::string work = qmtest::MakeTempDir("qm-recover-ntfs");
  std::string image = work + "/basic.img";
  ASSERT_EQ(qmtest::RunCommand("zstd -q -d -f " + Quote(packed) + " -o " + Quote(image)), 0);
  std::string dest = work + "/out";
  CliResult r = RunCli("recover " + Quote(image) + " --to " + Quote(dest) + " --allow-same-drive");
  EXPECT_EQ(r.status, 0) << r.output;

  // Hashes of what came back, by path below the destination.
  std::string listing;
  ASSERT_EQ(qmtest::RunCommand("cd " + Quote(dest) + " && find . -type f -print0 | xargs -0 -r sha256sum", &listing), 0);
  std::map<std::string, std::string> hashes;
  for (const std::string& line : Split(listing, '\n')) {
    if (line.size() < 68) continue;
    hashes[line.substr(68)] = line.substr(0, 64);  // "HASH  ./path"
  }
  std::ifstream manifest(manifestPath);
  std::string line;
  int live = 0, deleted = 0;
  while (std::getline(manifest, line)) {
    auto f = Split(line, '\t');
    if (f.size() < 5 || f[2] == "0") continue;
    (f[1] == "live" ? live : deleted)++;
    auto it = hashes.find(f[4]);
    ASSERT_NE(it, hashes.end()) << f[1] << " " << f[4];
    EXPECT_EQ(it->second, f[3]) << f[4];
  }
  EXPECT_GT(live, 100);
  EXPECT_GT(deleted, 3);

  // Modification times as Sleuth Kit reads them (body format: field 9).
  if (qmtest::HaveTool("fls")) {
    std::string body;
    qmtest::RunCommand("fls -r -p -m / " + Quote(image), &body);
    int checked = 0;
    for (const std::string& entry : Split(body, '\n')) {
      auto f = Split(entry, '|');
      if (f.size() < 11 || f[1].find(" (") != std::string::npos || f[1].rfind("/$", 0) == 0) continue;
      std::string path = dest + f[1];
      if (!fs::is_regular_file(path) || fs::file_size(path) == 0) continue;
      EXPECT_EQ(MTime(path), std::stoll(f[8])) << f[1];
      ++checked;
    }
    EXPECT_GT(checked, 100);
  }
  std::error_code ec;
  fs::remove_all(work, ec);
}

// The compressed image of scripts/make-ntfs-compressed-image.sh: every file
// decoded, its name on the volume shown by info; then the same image with
// one file marked encrypted, which comes back only under a name saying so.
TEST(RecoverNtfs, CompressedFilesComeBackDecodedAndEncryptedOnesAreNamedSo) {
  if (!qmtest::HaveTool("zstd") || !qmtest::HaveTool("sha256sum")) GTEST_SKIP() << "needs zstd and sha256sum";
  std::string work = qmtest::MakeTempDir("qm-recover-ntfsc");
  std::string image = work + "/compressed.img";
  ASSERT_EQ(qmtest::RunCommand("zstd -q -d -f " + Quote(qmtest::SourcePath("tests/data/ntfs/compressed.img.zst")) +
                               " -o " + Quote(image)),
            0);
  CliResult info = RunCli("info " + Quote(image));
  EXPECT_NE(info.output.find("QMCOMPRESS"), std::string::npos) << info.output;

  std::string dest = work + "/out";
  CliResult r = RunCli("recover " + Quote(image) + " --to " + Quote(dest) + " --allow-same-drive --under packed");
  EXPECT_EQ(r.status, 0) << r.output;
  std::ifstream manifest(qmtest::SourcePath("tests/data/ntfs/compressed.manifest"));
  int checked = 0;
  for (std::string line; std::getline(manifest, line);) {
    auto f = Split(line, ' ');
    ASSERT_EQ(f.size(), 5u) << line;
    std::string sum;
    qmtest::RunCommand("sha256sum " + Quote(dest + "/packed/" + f[4]), &sum);
    EXPECT_EQ(sum.substr(0, 64), f[3]) << f[4];
    ++checked;
  }
  EXPECT_EQ(checked, 9);

  // Record 68 (small.txt): the encrypted bit in its standard information.
  std::vector<uint8_t> bytes = qmtest::ReadFileBytes(image);
  auto le16 = [&](size_t at) { return static_cast<size_t>(bytes[at] | (bytes[at + 1] << 8)); };
  const size_t record = le16(0x0B) * bytes[0x0D] * (bytes[0x30] | (bytes[0x31] << 8)) + 68 * 1024;
  size_t attribute = record + le16(record + 0x14);
  ASSERT_EQ(bytes[attribute], 0x10);
  bytes[attribute + le16(attribute + 0x14) + 0x21] |= 0x40;
  std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  CliResult list = RunCli("list " + Quote(image));
  EXPECT_NE(list.output.find("small.txt  600"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("[encrypted"), std::string::npos) << list.output;
  std::string secret = work + "/secret";
  r = RunCli("recover " + Quote(image) + " --to " + Quote(secret) + " --allow-same-drive --under packed");
  EXPECT_NE(r.output.find("Recovered 8 file(s)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("1 encrypted file(s) NOT decrypted"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::exists(secret + "/packed/small.txt.encrypted"));
  EXPECT_FALSE(fs::exists(secret + "/packed/small.txt"));
  std::error_code ec;
  fs::remove_all(work, ec);
}
