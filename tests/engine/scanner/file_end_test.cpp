// The end finders: on real files written by the real tools, laid on the
// volume with other bytes after them; on files cut short, cut off by another
// file, and damaged; and the byte access they read through.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include <unistd.h>

#include "engine/scanner/file_end.h"
#include "engine/scanner/file_ends/document_title.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Runs a finder over `volume` (held whole in the scan's block) on the file
// at `start`; ZIP archives are the other files a break may run into.
FileEnd Find(EndFinder finder, const std::vector<uint8_t>& volume, uint64_t start = 0, uint64_t limit = 1ull << 40) {
  CScanBytes bytes(volume.data(), 0, volume.size(), {}, volume.size());
  CFileBytes file(bytes, start, limit);
  return FindFileEnd(finder, file, [](const uint8_t* sector) { return std::memcmp(sector, "PK\x03\x04", 4) == 0; });
}

// The finder for a fixture's file name, by its extension.
EndFinder FinderForName(const std::string& name) {
  static const std::map<std::string, EndFinder> byExtension = {
      {".jpg", JpegEnd},        {".png", PngEnd},       {".gif", GifEnd},     {".bmp", BmpEnd},
      {".tif", TiffEnd},        {".pdf", PdfEnd},       {".zip", ZipEnd},     {".docx", ZipEnd},
      {".epub", ZipEnd},        {".odt", ZipEnd},       {".7z", SevenZipEnd},   {".gz", GzipEnd},     {".doc", CompoundDocumentEnd},
      {".xls", CompoundDocumentEnd}, {".wav", RiffEnd}, {".avi", RiffEnd},    {".webp", RiffEnd},
      {".mp4", IsoMediaEnd},    {".mov", IsoMediaEnd},  {".3gp", IsoMediaEnd}, {".m4a", IsoMediaEnd},
      {".mkv", MatroskaEnd},    {".webm", MatroskaEnd}, {".ogg", OggEnd},     {".opus", OggEnd},
      {".ogv", OggEnd},         {".flac", FlacEnd},     {".mp3", Mp3End},     {".elf", ElfEnd},
      {".sqlite", SqliteEnd},
  };
  auto it = byExtension.find(fs::path(name).extension().string());
  return it == byExtension.end() ? nullptr : it->second;
}

// The fixtures of scripts/make-end-fixtures.sh, made once per build folder
// (again when the script changes): name -> bytes of every file with a finder.
std::map<std::string, std::vector<uint8_t>> RealFiles() {
  const std::string script = qmtest::SourcePath("scripts/make-end-fixtures.sh");
  const std::string dir = std::string(QM_BINARY_DIR) + "/end-fixtures";
  const std::string stamp = dir + "/.made";
  std::error_code ec;
  if (!fs::exists(stamp) || fs::last_write_time(stamp, ec) < fs::last_write_time(script, ec)) {
    fs::remove_all(dir, ec);
    const std::string made = dir + ".tmp" + std::to_string(::getpid());
    qmtest::RunCommand(script + " " + made + " 2 >/dev/null 2>&1 && touch " + made + "/.made");
    fs::rename(made, dir, ec);  // another test process may have made it first
    fs::remove_all(made, ec);
  }
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (FinderForName(e.path().filename().string())) files[e.path().filename().string()] = qmtest::ReadFileBytes(e.path());
  return files;
}

}  // namespace

TEST(RealFiles, EveryFileEndsExactlyWhereItsWriterEndedIt) {
  auto files = RealFiles();
  ASSERT_GE(files.size(), 20u) << "the fixture tools are missing";
  for (const auto& [name, data] : files) {
    // The file at a sector boundary past other bytes, random bytes after it.
    std::vector<uint8_t> volume = RandomBytes(4096, 1);
    volume.insert(volume.end(), data.begin(), data.end());
    auto tail = RandomBytes(8192, 2);
    volume.insert(volume.end(), tail.begin(), tail.end());
    FileEnd end = Find(FinderForName(name), volume, 4096);
    EXPECT_EQ(end.Result, FileEnd::Found) << name;
    EXPECT_EQ(end.Size, data.size()) << name;
  }
}

TEST(RealFiles, APhotoIsNamedByItsCaptureTime) {
  auto files = RealFiles();
  ASSERT_TRUE(files.count("photo1.jpg"));
  EXPECT_EQ(Find(JpegEnd, files["photo1.jpg"]).Label, "2024-06-02 14-03-21");
  EXPECT_EQ(Find(JpegEnd, files["progressive1.jpg"]).Label, "");
}

TEST(RealFiles, ADocumentIsNamedByItsTitle) {
  auto files = RealFiles();
  const struct {
    const char* file;
    EndFinder finder;
    const char* title;
  } kDocuments[] = {
      {"doc1.pdf", PdfEnd, "Annual Report 1"},          {"report1.docx", ZipEnd, "Budget & Plan 1"},
      {"essay1.odt", ZipEnd, "Gr\u00fc\u00dfe aus K\u00f6ln 1"}, {"book1.epub", ZipEnd, "Le Tour du monde 1"},
      {"letter1.doc", CompoundDocumentEnd, "Letter to the bank 1"}, {"sheet1.xls", CompoundDocumentEnd, ""},
      {"archive1.zip", ZipEnd, ""},
  };
  for (const auto& d : kDocuments) {
    if (!files.count(d.file)) {
      std::printf("%s not made (its tool is missing)\n", d.file);
      continue;
    }
    const FileEnd end = Find(d.finder, files[d.file]);
    EXPECT_EQ(end.Result, FileEnd::Found) << d.file;
    EXPECT_EQ(end.Label, d.title) << d.file;
  }
  // Every word of a real document's tables made a loop, a far sector or a
  // huge count in turn: the walk ends, the title stays short.
  if (files.count("letter1.doc")) {
    const std::vector<uint8_t>& doc = files["letter1.doc"];
    for (uint32_t value : {0u, 1u, 3u, 0x7FFFFFFFu, 0xFFFFFFFDu}) {
      for (size_t at = 0x2C; at + 4 <= doc.size(); at += 4) {
        std::vector<uint8_t> bad = doc;
        std::memcpy(bad.data() + at, &value, 4);
        EXPECT_LE(Find(CompoundDocumentEnd, bad).Label.size(), kMaxTitleBytes);
      }
    }
  }
  // The title of a PDF whose strings are encrypted is not read.
  if (files.count("doc1.pdf")) {
    std::string pdf(files["doc1.pdf"].begin(), files["doc1.pdf"].end());
    const size_t trailer = pdf.rfind("/Info");
    ASSERT_NE(trailer, std::string::npos);
    pdf.replace(trailer, 5, "/Encrypt 9 0 R/Info");
    EXPECT_EQ(Find(PdfEnd, std::vector<uint8_t>(pdf.begin(), pdf.end())).Label, "");
  }
}

TEST(RealFiles, AFileCutShortByTheVolumeEndGetsNoSizeBeyondIt) {
  for (const auto& [name, data] : RealFiles()) {
    for (size_t keep : {size_t{600}, data.size() / 2, data.size() - 1}) {
      // A document's last line end is optional: without it, it still ends.
      if (keep >= data.size() || (keep == data.size() - 1 && name.find(".pdf") != std::string::npos)) continue;
      std::vector<uint8_t> volume(data.begin(), data.begin() + static_cast<long>(keep));
      FileEnd end = Find(FinderForName(name), volume);
      EXPECT_NE(end.Result, FileEnd::Found) << name << " cut at " << keep;
      if (end.Result == FileEnd::Cut) {
        EXPECT_LE(end.Size, keep) << name;
      }
    }
  }
}

TEST(RealFiles, AFileWhoseDataTurnsIntoAnotherFileIsCutAtTheSector) {
  auto files = RealFiles();
  // Formats whose structure shows the break: the second half of each is
  // replaced, from a sector boundary on, by another file.
  const std::vector<uint8_t>& other = files.at("archive1.zip");
  int cut = 0;
  for (const char* name : {"photo2.jpg", "picture2.png", "voice2.opus", "anim2.gif", "archive2.zip"}) {
    if (!files.count(name)) continue;
    const std::vector<uint8_t>& data = files[name];
    const size_t split = data.size() / 2 / 512 * 512;
    if (split < 1024) continue;
    std::vector<uint8_t> volume(data.begin(), data.begin() + static_cast<long>(split));
    volume.insert(volume.end(), other.begin(), other.end());
    auto tail = RandomBytes(65536, 3);
    volume.insert(volume.end(), tail.begin(), tail.end());
    FileEnd end = Find(FinderForName(name), volume);
    EXPECT_EQ(end.Result, FileEnd::Cut) << name;
    EXPECT_EQ(end.Size, split) << name;
    ++cut;
  }
  EXPECT_GE(cut, 3);
}

TEST(RealFiles, DamagedHeadersGiveNoCrashNoHangAndNoRunawaySize) {
  std::mt19937 rng(7);
  for (const auto& [name, data] : RealFiles()) {
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> volume = data;
      volume.resize(data.size() + 4096);
      // Bytes of the header (and a few further on) replaced by random ones.
      for (int k = 0; k < 4; ++k) {
        const size_t at = round < 20 ? rng() % std::min<size_t>(64, data.size()) : rng() % data.size();
        volume[at] = static_cast<uint8_t>(rng());
      }
      FileEnd end = Find(FinderForName(name), volume, 0, 1 << 20);
      if (end.Result == FileEnd::Found || end.Result == FileEnd::Cut) {
        EXPECT_LE(end.Size, 1u << 20) << name;
      }
    }
  }
}

TEST(FileEndTest, RandomBytesAreNoFileOfAnyType) {
  // Random sectors that happen to carry a type's first bytes: the finder
  // must not take them for a file with a size.
  const std::vector<std::pair<EndFinder, std::string>> heads = {
      {JpegEnd, "\xFF\xD8\xFF\xE0"}, {PngEnd, "\x89PNG\r\n\x1a\n"}, {GifEnd, "GIF89a"},
      {ZipEnd, "PK\x03\x04"},       {OggEnd, "OggS"},               {Mp3End, "ID3\x03"},
      {IsoMediaEnd, std::string("\0\0\0\x18" "ftypisom", 12)}, {FlacEnd, "fLaC"},
      {SevenZipEnd, "7z\xBC\xAF\x27\x1C"}, {RarEnd, "Rar!\x1a\x07\x01"}, {GzipEnd, "\x1F\x8B\x08"},
      {CompoundDocumentEnd, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"}, {PdfEnd, "%PDF-1.4"}};
  for (uint32_t seed = 0; seed < 200; ++seed) {
    for (const auto& [finder, head] : heads) {
      std::vector<uint8_t> volume = RandomBytes(256 * 1024, seed);
      std::copy(head.begin(), head.end(), volume.begin());
      FileEnd end = Find(finder, volume);
      EXPECT_NE(end.Result, FileEnd::Found) << head << " seed " << seed;
    }
  }
}

TEST(FileEndTest, CraftedArchivesEndAtTheirLastBlock) {
  // RAR 5: main header, end-of-archive header, each with its CRC.
  auto block = [](std::vector<uint8_t> body) {
    std::vector<uint8_t> b = {0, 0, 0, 0, static_cast<uint8_t>(body.size())};
    b.insert(b.end(), body.begin(), body.end());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, b.data() + 4, static_cast<unsigned>(b.size() - 4)));
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(crc >> (8 * i));
    return b;
  };
  std::vector<uint8_t> rar = {'R', 'a', 'r', '!', 0x1A, 7, 1, 0};
  for (auto b : {block({1, 0, 0}), block({5, 0, 0})}) rar.insert(rar.end(), b.begin(), b.end());
  const size_t size = rar.size();
  auto tail = RandomBytes(1024, 9);
  rar.insert(rar.end(), tail.begin(), tail.end());
  FileEnd end = Find(RarEnd, rar);
  EXPECT_EQ(end.Result, FileEnd::Found);
  EXPECT_EQ(end.Size, size);
  // A damaged header CRC is no archive.
  rar[8] ^= 1;
  EXPECT_EQ(Find(RarEnd, rar).Result, FileEnd::NotAFile);
}

TEST(ScanBytesTest, ReadsPastTheBlockThroughTheVolumeAndStopsAtItsEnd) {
  std::vector<uint8_t> volume = RandomBytes(3 * 1024 * 1024 + 100, 5);
  int reads = 0;
  SectorReader read = [&](void* buffer, uint64_t first, uint32_t count) -> uint32_t {
    ++reads;
    const uint64_t from = first * 512;
    if (from >= volume.size()) return 0;
    const size_t n = std::min<uint64_t>(uint64_t{count} * 512, volume.size() - from);
    std::memcpy(buffer, volume.data() + from, n);
    return static_cast<uint32_t>(n);
  };
  // The block holds the first MiB.
  CScanBytes bytes(volume.data(), 0, 1024 * 1024, read, volume.size());
  const uint8_t* p = bytes.At(1024 * 1024 - 10, 20);  // across the block's end
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(std::equal(p, p + 20, volume.begin() + 1024 * 1024 - 10));
  EXPECT_EQ(reads, 1);
  CFileBytes file(bytes, 1000, 1ull << 40);
  EXPECT_EQ(file.Limit(), volume.size() - 1000);
  EXPECT_EQ(file.At(volume.size() - 1000 - 4, 8), nullptr);  // past the volume's end
  // Find goes over spans of both kinds.
  const std::string needle = "needle!";
  std::copy(needle.begin(), needle.end(), volume.begin() + 2 * 1024 * 1024 + 7);
  EXPECT_EQ(file.Find(0, file.Limit(), needle), 2 * 1024 * 1024 + 7 - 1000u);
  EXPECT_EQ(file.Find(0, 1024, needle), CFileBytes::kNotFound);
}

TEST(ScanBytesTest, ALookupFarAwayReadsFewSectorsAWalkReadsWholeWindows) {
  std::vector<uint8_t> volume = RandomBytes(4 * 1024 * 1024, 6);
  std::vector<uint32_t> counts;
  SectorReader read = [&](void* buffer, uint64_t first, uint32_t count) -> uint32_t {
    counts.push_back(count);
    const size_t n = std::min<uint64_t>(uint64_t{count} * 512, volume.size() - first * 512);
    std::memcpy(buffer, volume.data() + first * 512, n);
    return static_cast<uint32_t>(n);
  };
  CScanBytes bytes(volume.data(), 0, 1024 * 1024, read, volume.size());
  // A table looked up 3 MiB on: a few sectors, the right bytes.
  const uint8_t* p = bytes.At(3 * 1024 * 1024 + 300, 5000);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(std::equal(p, p + 5000, volume.begin() + 3 * 1024 * 1024 + 300));
  ASSERT_EQ(counts.size(), 1u);
  EXPECT_LE(counts[0], 11u);
  // A walk on from the block's end, then on from the window's end.
  uint64_t at = 1024 * 1024;
  for (int i = 0; i < 3; ++i) {
    const uint8_t* q = nullptr;
    const size_t n = bytes.Span(at, 1024, &q);
    ASSERT_GT(n, 0u);
    EXPECT_TRUE(std::equal(q, q + n, volume.begin() + static_cast<long>(at)));
    at += n;
  }
  ASSERT_GE(counts.size(), 2u);
  EXPECT_EQ(counts[1], CScanBytes::kWindowBytes / 512 + 1);
}
