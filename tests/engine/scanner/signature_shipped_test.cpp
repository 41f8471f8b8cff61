// The shipped signature database (data/signatures.reg) against real files of
// every format, real file-system images, random data and a text log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "engine/catalog/found_object.h"
#include "engine/scanner/compound_document.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/scanner/signature_matcher.h"
#include "platform/registry_store.h"
#include "tests/support/test_support.h"

namespace {

struct Sample {
  int id;
  std::string file;
  uint64_t offset;
  std::string how;
};

class ShippedSignatures : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(qmtest::MakeTempDir("shipped-signatures"));
    store_ = new CRegistryStore(*dir_ + "/registry");
    db_ = new CFileSignatureDatabase;
    ASSERT_TRUE(InstallShippedSignatures(*store_, qmtest::SourcePath("data/signatures.reg")));
    db_->Load(*store_);
  }
  static void TearDownTestSuite() {
    delete db_;
    delete store_;
    delete dir_;
  }
  static std::vector<int> Matches(const uint8_t* sector) {
    std::vector<const CFileType*> m;
    db_->MatchSector(sector, m);
    std::vector<int> ids;
    for (auto* t : m) ids.push_back(t->Id);
    return ids;
  }
  // The compiled matcher gives what testing every enabled type in list
  // order gives.
  static void ExpectMatcherAgrees(const uint8_t* sector) {
    std::vector<int> plain;
    for (const auto& t : db_->Types())
      if (t->SearchEnable && CFileSignatureDatabase::MatchSector(*t, sector, 512)) plain.push_back(t->Id);
    EXPECT_EQ(Matches(sector), plain);
  }
  // The same on the sector and on copies of it with one of its first bytes
  // changed, which the matcher must turn down (or accept) like the plain test.
  static void ExpectMatcherAgreesAround(std::vector<uint8_t> sector) {
    ExpectMatcherAgrees(sector.data());
    for (size_t at : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 28, 30, 36, 40, 64, 257, 510}) {
      const uint8_t old = sector[at];
      sector[at] = static_cast<uint8_t>(old ^ 0x20);
      ExpectMatcherAgrees(sector.data());
      sector[at] = old;
    }
  }
  static std::vector<Sample> MakeSamples() {
    std::string out = *dir_ + "/samples";
    std::string cmd = "python3 '" + qmtest::SourcePath("scripts/make-signature-samples.py") + "' '" + out + "' 2>&1";
    std::string log;
    EXPECT_EQ(qmtest::RunCommand(cmd, &log), 0) << log;
    std::vector<Sample> samples;
    std::ifstream manifest(out + "/manifest.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
      std::istringstream fields(line);
      Sample s;
      std::getline(fields, line, '\t');
      s.id = std::stoi(line);
      std::getline(fields, s.file, '\t');
      s.file = out + "/" + s.file;
      std::getline(fields, line, '\t');
      s.offset = std::stoull(line);
      std::getline(fields, s.how, '\t');
      samples.push_back(s);
    }
    return samples;
  }

  static std::string* dir_;
  static CRegistryStore* store_;
  static CFileSignatureDatabase* db_;
};
std::string* ShippedSignatures::dir_;
CRegistryStore* ShippedSignatures::store_;
CFileSignatureDatabase* ShippedSignatures::db_;

TEST_F(ShippedSignatures, ContentIsCompleteAndWellFormed) {
  const auto& types = db_->Types();
  size_t lost = 0;
  std::set<int> ids;
  for (const auto& t : types) {
    ids.insert(t->Id);
    SCOPED_TRACE(t->Id);
    EXPECT_FALSE(t->Title.empty());
    EXPECT_FALSE(t->Description.empty());
    EXPECT_FALSE(t->Prefix.empty());
    EXPECT_FALSE(t->Group.empty());
    EXPECT_GT(t->DefaultSize, 0u);
    EXPECT_EQ(t->SearchEnable, 1u);
    if (t->Id < 30) continue;
    EXPECT_FALSE(t->FirstExtension.empty());
    if (!t->Signatures.empty()) ++lost;
    // Every signature fixes at least four bytes.
    for (const auto& s : t->Signatures) {
      const auto& c = s.Conditions.at(0);
      EXPECT_GE(std::count_if(c.Mask(), c.Mask() + 512, [](uint8_t m) { return m != 0; }), 4) << s.Text;
    }
  }
  EXPECT_GE(lost, 100u);
  for (int id : {1, 4, 7, 11, 24, 25, 100, 101, 104, 105, 106, 107, 109, 500, 501, 520, 521, 503, 504})
    EXPECT_TRUE(ids.count(id)) << id;
  EXPECT_FALSE(ids.count(502));  // no shipped format follows that size rule
  // The refinements are reached only through the compound-document
  // analysis, never matched by themselves.
  for (int id : {101, 104, 105, 106, 107, 109, 500, 501, 520, 521}) EXPECT_TRUE(db_->FindById(id)->Signatures.empty());
  // A sector is dispatched on a few offsets whatever the number of types.
  std::vector<CFileType*> list;
  for (const auto& t : types) list.push_back(t.get());
  CSignatureMatcher matcher(list);
  EXPECT_LE(matcher.DispatchOffsetCount(), 16u);
  std::printf("dispatch offsets for %zu types: %zu\n", types.size(), matcher.DispatchOffsetCount());
  // Extensions of the common formats resolve to their types.
  EXPECT_EQ(db_->FindByExtension("jpg")->Id, 30);
  EXPECT_EQ(db_->FindByExtension("DOC")->Id, 109);
  EXPECT_EQ(db_->FindByExtension("mp3")->Id, 182);
  EXPECT_EQ(db_->FindByExtension("bmp")->Id, 503);
}

TEST_F(ShippedSignatures, EveryTypeMatchesItsRealSamples) {
  std::vector<Sample> samples = MakeSamples();
  std::set<int> covered;
  for (const auto& s : samples) {
    SCOPED_TRACE(s.file + " (" + s.how + ")");
    std::vector<uint8_t> data = qmtest::ReadFileBytes(s.file);
    ASSERT_GT(data.size(), s.offset);
    std::vector<uint8_t> sector(data.begin() + static_cast<std::ptrdiff_t>(s.offset),
                                data.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(data.size(), s.offset + 512)));
    sector.resize(512, 0);
    std::vector<int> ids = Matches(sector.data());
    if (s.how == "compound") {
      // Matched as a compound document, refined by its directory.
      ASSERT_NE(std::find(ids.begin(), ids.end(), 100), ids.end());
      CFoundObject object;
      auto read = [&](void* buffer, uint64_t first, uint32_t count) -> uint32_t {
        uint64_t at = first * 512, bytes = uint64_t(count) * 512;
        if (at >= data.size()) return 0;
        bytes = std::min<uint64_t>(bytes, data.size() - at);
        std::memset(buffer, 0, size_t(count) * 512);
        std::memcpy(buffer, data.data() + at, bytes);
        return count * 512;
      };
      EXPECT_EQ(AnalyseCompoundDocument(object, sector.data(), read, data.size()), s.id);
      covered.insert(s.id);
      covered.insert(100);
      continue;
    }
    EXPECT_NE(std::find(ids.begin(), ids.end(), s.id), ids.end()) << "matched " << ids.size() << " types";
    covered.insert(s.id);
    // The plain test of the type agrees with the compiled matcher.
    EXPECT_TRUE(CFileSignatureDatabase::MatchSector(*db_->FindById(s.id), sector.data(), 512));
    ExpectMatcherAgreesAround(sector);
  }
  // Also with a few types switched off.
  for (int id : {30, 110, 150, 182}) CFileSignatureDatabase::SetSearchEnable(*db_->FindById(id), false);
  for (const auto& s : samples) {
    std::vector<uint8_t> data = qmtest::ReadFileBytes(s.file);
    data.resize(std::max<size_t>(data.size(), s.offset + 512), 0);
    ExpectMatcherAgrees(data.data() + s.offset);
  }
  for (int id : {30, 110, 150, 182}) CFileSignatureDatabase::SetSearchEnable(*db_->FindById(id), true);
  for (const auto& t : db_->Types()) {
    if (t->Id >= 30 && (!t->Signatures.empty() || t->Id > 100)) {
      EXPECT_TRUE(covered.count(t->Id)) << "no sample of type " << t->Id << " " << t->Title;
    }
  }
}

TEST_F(ShippedSignatures, FileSystemImagesGiveBootSectorsAndNtfsRecords) {
  struct Fs {
    const char* command;
    int id;
  };
  std::string img = *dir_ + "/fs.img";
  for (Fs fs : {Fs{"mkfs.fat -F 12 -C '%s' 1440", 1}, Fs{"mkfs.fat -F 16 -C '%s' 20480", 4},
                Fs{"mkfs.fat -F 32 -C '%s' 66000", 11}}) {
    if (!qmtest::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    std::remove(img.c_str());
    char cmd[512];
    std::snprintf(cmd, sizeof cmd, fs.command, img.c_str());
    ASSERT_EQ(qmtest::RunCommand(std::string(cmd) + " >/dev/null 2>&1"), 0) << cmd;
    std::ifstream in(img, std::ios::binary);
    uint8_t sector[512];
    in.read(reinterpret_cast<char*>(sector), 512);
    std::vector<int> ids = Matches(sector);
    EXPECT_EQ(ids, std::vector<int>{fs.id}) << cmd;
  }
  if (!qmtest::HaveTool("mkntfs")) GTEST_SKIP() << "mkntfs missing";
  std::remove(img.c_str());
  ASSERT_EQ(qmtest::RunCommand("truncate -s 8M '" + img + "' && mkntfs -q -F -f -s 512 '" + img + "' >/dev/null 2>&1"), 0);
  std::vector<uint8_t> data = qmtest::ReadFileBytes(img);
  std::map<int, int> found;
  for (size_t at = 0; at + 512 <= data.size(); at += 512)
    for (int id : Matches(data.data() + at)) ++found[id];
  EXPECT_EQ(found[7], 2);  // the boot sector and its copy at the end
  EXPECT_GE(found[24], 16);
  EXPECT_GE(found[25], 1);
  found.erase(7);
  found.erase(24);
  found.erase(25);
  for (auto [id, n] : found) ADD_FAILURE() << "type " << id << " matched " << n << " sectors of a fresh NTFS volume";
}

// Random data and the text of a log: no type may fire on more than a
// handful of sectors.
TEST_F(ShippedSignatures, RandomDataAndTextLogGiveNoFalseMatches) {
  std::mt19937_64 rng(20261208);
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  std::map<int, int> random;
  for (int mb = 0; mb < 64; ++mb) {
    for (auto& v : block) v = rng();
    const uint8_t* p = reinterpret_cast<const uint8_t*>(block.data());
    for (size_t at = 0; at < block.size() * 8; at += 512)
      for (int id : Matches(p + at)) ++random[id];
  }
  for (auto [id, n] : random) EXPECT_LE(n, 2) << "type " << id << " on random data";

  const char* words[] = {"connection", "from", "accepted", "user", "session", "opened", "closed", "error", "warning",
                         "GET", "POST", "/index.html", "HTTP/1.1", "200", "404", "kernel:", "usb", "device", "PK",
                         "ID3", "FILE", "BM", "MZ", "From", "<?xml", "%PDF", "Received:", "#!", "{\\rtf", "RIFF"};
  std::string log;
  log.reserve(17 << 20);
  int line = 0;
  while (log.size() < (16u << 20)) {
    char head[96];
    std::snprintf(head, sizeof head, "2026-12-08T%02d:%02d:%02d.%03d host%d service[%d]: ", line / 3600 % 24,
                  line / 60 % 60, line % 60, line % 1000, line % 7, 1000 + line % 977);
    log += head;
    int n = 3 + int(rng() % 12);
    for (int w = 0; w < n; ++w) {
      log += words[rng() % (sizeof words / sizeof *words)];
      log += (rng() % 5 == 0) ? "=" : " ";
    }
    log += "\n";
    ++line;
  }
  std::map<int, int> text;
  for (size_t at = 0; at + 512 <= log.size(); at += 512)
    for (int id : Matches(reinterpret_cast<const uint8_t*>(log.data()) + at)) ++text[id];
  for (auto [id, n] : text) EXPECT_LE(n, 2) << "type " << id << " on a text log";

  // Empty sectors match nothing.
  uint8_t zeros[512] = {}, ones[512];
  std::memset(ones, 0xFF, sizeof ones);
  EXPECT_TRUE(Matches(zeros).empty());
  EXPECT_TRUE(Matches(ones).empty());
}

TEST_F(ShippedSignatures, CommandLineListsSwitchesAndImports) {
  std::string config = qmtest::MakeTempDir("types-cli");
  std::string env = "QUILLMORE_CONFIG_DIR='" + config + "' ";
  std::string cli = "'" + qmtest::CliPath() + "'";
  std::string out;
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --json", &out), 0) << out;
  EXPECT_NE(out.find("\"id\": 30"), std::string::npos) << out.substr(0, 400);
  EXPECT_NE(out.find("\"search\": true"), std::string::npos);
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --disable 30", &out), 0) << out;
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --disable Audio", &out), 0) << out;
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types", &out), 0);
  std::istringstream lines(out);
  std::string row;
  int off = 0;
  while (std::getline(lines, row))
    if (row.find(" off") != std::string::npos) ++off;
  EXPECT_GE(off, 2 + 10);
  EXPECT_NE(qmtest::RunCommand(env + cli + " types --enable NoSuchGroup >/dev/null 2>&1"), 0);
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --enable 30", &out), 0);

  // Import a signature file for a new type.
  CFileType t;
  t.Id = 4242;
  t.Signatures.push_back(*CompileSignatureText("0='QMTEST',6=$00"));
  std::string sig = config + "/new.filesig";
  ASSERT_EQ(CFileSignatureDatabase::ExportSignatureFile(t, sig), 1);
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --import '" + sig + "'", &out), 0) << out;
  EXPECT_NE(out.find("added"), std::string::npos) << out;
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --json", &out), 0);
  EXPECT_NE(out.find("\"id\": 4242"), std::string::npos);
  EXPECT_NE(qmtest::RunCommand(env + cli + " types --import '" + config + "/none.filesig' >/dev/null 2>&1"), 0);
  // Export a shipped type and import it back: the type is updated, not added.
  std::string png = config + "/png.filesig";
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --export 33 '" + png + "'", &out), 0) << out;
  auto copy = CFileSignatureDatabase::UnpackType(qmtest::ReadFileBytes(png));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Id, 33);
  ASSERT_EQ(copy->Signatures.size(), db_->FindById(33)->Signatures.size());
  ASSERT_EQ(qmtest::RunCommand(env + cli + " types --import '" + png + "'", &out), 0) << out;
  EXPECT_NE(out.find("updated"), std::string::npos) << out;
}

}  // namespace
