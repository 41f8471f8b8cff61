// The signature database: loading from the registry store, groups,
// extensions, look-ups, saving, signature files and the compiled matcher.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "engine/catalog/found_object.h"
#include "engine/scanner/file_signature_database.h"
#include "platform/registry_store.h"
#include "tests/support/test_support.h"

namespace {

const std::string kBase = SIGNATURES_KEY;

std::string TypeKey(const std::string& name) { return kBase + "\\" + name; }

class SignatureDatabase : public ::testing::Test {
protected:
  void SetUp() override {
    dir = qmtest::MakeTempDir("sigdb");
    store = std::make_unique<CRegistryStore>(dir + "/registry");
  }
  void AddType(const std::string& name, const std::string& group, const std::string& exts,
               std::vector<std::pair<int, std::string>> signatures) {
    std::string key = TypeKey(name);
    store->CreateKey(key);
    store->SetString(key, "Title", "Type " + name);
    store->SetString(key, "Group", group);
    store->SetString(key, "FileExtensions", exts);
    for (auto& [n, text] : signatures) {
      char name[32];
      std::snprintf(name, sizeof name, "Signature%.2d", n);
      store->SetString(key, name, text);
    }
  }
  std::string dir;
  std::unique_ptr<CRegistryStore> store;
  CFileSignatureDatabase db;
};

TEST_F(SignatureDatabase, LoadsKeysValuesAndSignatureList) {
  AddType("00101", "Documents", "xls", {{1, "0='AB'"}, {2, "0='CD'"}, {4, "0='EF'"}});
  std::string key = TypeKey("00101");
  store->SetDword(key, "SearchEnable", 0);
  store->SetDword(key, "DefaultSize", 77);
  store->SetDword(key, "View", 1);
  store->SetString(key, "Prefix", "Excel");
  AddType("abc", "", "", {{1, "0='XY'"}});
  AddType("00200", "", "", {{1, "0='ZZ'"}});
  store->SetDword(TypeKey("00200"), "Signature02", 5);  // not text: ends the list
  store->SetString(TypeKey("00200"), "Signature03", "0='QQ'");
  db.Load(*store);

  ASSERT_EQ(db.Types().size(), 3u);
  const CFileType* t = db.FindById(101);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->SearchEnable, 0u);
  EXPECT_EQ(t->DefaultSize, 77u);
  EXPECT_EQ(t->View, 1u);
  EXPECT_EQ(t->ShowFilesThisType, 1u);  // missing values keep their defaults
  EXPECT_EQ(t->SearchOrder, 50u);
  EXPECT_EQ(t->Prefix, "Excel");
  EXPECT_EQ(t->Description, "");
  ASSERT_EQ(t->Signatures.size(), 2u);  // the gap at 03 ends the list
  EXPECT_EQ(t->Signatures[1].Text, "0='CD'");
  // "abc" reads as id 0; list order is key order.
  EXPECT_EQ(db.Types()[1]->Id, 200);
  EXPECT_EQ(db.Types()[2]->Id, 0);
  EXPECT_EQ(db.FindById(200)->Signatures.size(), 1u);
  EXPECT_EQ(db.FindById(12345), nullptr);
}

TEST_F(SignatureDatabase, MissingKeyLoadsNothing) {
  db.Load(*store);
  EXPECT_TRUE(db.Types().empty());
  std::vector<const CFileType*> matches;
  uint8_t sector[512] = {};
  db.MatchSector(sector, matches);
  EXPECT_TRUE(matches.empty());
}

TEST_F(SignatureDatabase, GroupsShareIdentitiesAndEmptyGroupIsNotUnknown) {
  AddType("00030", "Images", "", {});
  AddType("00031", "Images", "", {});
  AddType("00032", "", "", {});
  AddType("00033", "Unknown", "", {});
  AddType("00034", "images", "", {});  // names compare case-sensitively
  AddType("00035", "", "", {});
  db.Load(*store);
  auto id = [&](int t) { return db.FindById(t)->GroupId; };
  EXPECT_EQ(id(30), id(31));
  EXPECT_LT(id(30), -65536);  // identities come from the volume counter
  EXPECT_EQ(id(33), -1);
  EXPECT_NE(id(32), -1);
  EXPECT_EQ(id(32), id(35));
  EXPECT_NE(id(34), id(30));
  ASSERT_NE(db.FindGroup(id(30)), nullptr);
  EXPECT_EQ(db.FindGroup(id(30))->Title, "Images");
  EXPECT_EQ(db.FindGroup(id(32))->Title, "");
}

TEST_F(SignatureDatabase, ExtensionsFirstClaimWinsAndObjectsGetTypes) {
  AddType("00030", "", "jpg", {});
  AddType("00031", "", "JPG; jpeg;*.jpe,, ;.JFIF.", {});
  db.Load(*store);
  EXPECT_EQ(db.FindByExtension("jpg")->Id, 30);
  EXPECT_EQ(db.FindByExtension(".jpeg")->Id, 31);
  EXPECT_EQ(db.FindByExtension("JPE")->Id, 31);
  EXPECT_EQ(db.FindByExtension("jfif")->Id, 31);
  EXPECT_EQ(db.FindByExtension("png"), nullptr);
  EXPECT_EQ(db.FirstExtension(31), "JPG");
  EXPECT_EQ(db.FindById(31)->FirstExtension, "JPG");
  EXPECT_EQ(CFileSignatureDatabase::FirstExtensionOf("*.tar.gz;tgz"), "tar.gz");

  CFoundObject photo;
  photo.Name = "photo.JPG";
  EXPECT_EQ(db.FindTypeForObject(photo)->Id, 30);
  EXPECT_EQ(photo.FileType, 30);  // set when the extension decides
  CFoundObject lost;
  lost.FileType = 31;
  lost.Name = "x.jpg";
  EXPECT_EQ(db.FindTypeForObject(lost)->Id, 31);  // FileType first
  CFoundObject unknownType;
  unknownType.FileType = 999;
  unknownType.Name = "a.b.jpeg";
  EXPECT_EQ(db.FindTypeForObject(unknownType)->Id, 31);
  CFoundObject odd;
  odd.Name = "name.jpg x";  // a blank after the dot: no extension
  EXPECT_EQ(db.FindTypeForObject(odd), nullptr);
  odd.Name = "..jpg";
  EXPECT_EQ(db.FindTypeForObject(odd)->Id, 30);
  odd.Name = "";
  odd.FileType = 0;
  EXPECT_EQ(db.FindTypeForObject(odd), nullptr);
  const CFoundObject constant = photo;
  EXPECT_NE(db.FindTypeForObject(constant), nullptr);
}

TEST_F(SignatureDatabase, SaveAllKeepsSignatureValues) {
  AddType("00040", "Audio", "wav", {{1, "0='RIFF',8='WAVE'"}, {2, "0='RIFX'"}});
  store->SetString(TypeKey("00040"), "Custom", "kept");
  AddType("abc", "", "", {});
  db.Load(*store);
  CFileType* t = db.FindById(40);
  CFileSignatureDatabase::SetSearchEnable(*t, false);
  t->DefaultSize = 321;
  t->Description = "Wave";
  ASSERT_EQ(db.SaveAll(), 1);

  CRegistryStore reread(dir + "/registry");
  ASSERT_TRUE(reread.Load());
  std::string key = TypeKey("00040");
  for (const char* name : {"InternalProcessing", "SearchEnable", "ShowFilesThisType", "Enable", "View",
                           "DefaultSize", "SearchOrder"})
    EXPECT_TRUE(reread.GetDword(key, name).has_value()) << name;
  for (const char* name : {"Title", "Description", "FileExtensions", "Prefix", "Group", "LastUpdate"})
    EXPECT_TRUE(reread.GetString(key, name).has_value()) << name;
  EXPECT_EQ(reread.GetDword(key, "SearchEnable"), 0u);
  EXPECT_EQ(reread.GetDword(key, "DefaultSize"), 321u);
  EXPECT_EQ(reread.GetString(key, "Signature01"), "0='RIFF',8='WAVE'");
  EXPECT_EQ(reread.GetString(key, "Signature02"), "0='RIFX'");
  EXPECT_EQ(reread.GetString(key, "Custom"), "kept");
  // The record loaded from "abc" goes back to "abc", not to a new key 00000.
  EXPECT_TRUE(reread.GetDword(TypeKey("abc"), "SearchEnable").has_value());
  EXPECT_FALSE(reread.KeyExists(TypeKey("00000")));

  CFileSignatureDatabase again;
  again.Load(reread);
  EXPECT_EQ(again.FindById(40)->SearchEnable, 0u);
  EXPECT_EQ(again.FindById(40)->Signatures.size(), 2u);
}

// Matching through the compiled matcher gives exactly what testing every
// type's signatures in list order gives.
std::vector<const CFileType*> Reference(const CFileSignatureDatabase& db, const uint8_t* sector) {
  std::vector<const CFileType*> out;
  for (const auto& t : db.Types())
    if (t->SearchEnable && CFileSignatureDatabase::MatchSector(*t, sector, 512)) out.push_back(t.get());
  return out;
}

TEST_F(SignatureDatabase, CompiledMatcherAgreesWithPlainMatching) {
  // Signatures of every shape: text forms on various offsets, zero bytes
  // only, and conditions of the other kinds.
  AddType("00030", "", "", {{1, "0='PK',2=$03,3=$04"}, {2, "0='PK',2=$05"}});
  AddType("00031", "", "", {{1, "0='PK',2=$03,3=$04,30='mimetype'"}});
  AddType("00032", "", "", {{1, "0=$00,1=$00,2=$01"}});
  AddType("00033", "", "", {{1, "257='ustar'"}});
  AddType("00034", "", "", {{1, "4='ftyp'"}, {2, "0=$FF,1=$D8"}});
  AddType("00035", "", "", {{1, "0=$00"}});
  db.Load(*store);
  CFileType extra;
  extra.Id = 36;
  CSignature find;
  CSignatureCondition c;
  c.Kind = SIGCOND_FIND;
  c.Data = {'Q', 'M'};
  c.DataLength = 2;
  find.Conditions.push_back(c);
  extra.Signatures.push_back(find);
  CSignature range;
  CSignatureCondition r;
  r.Kind = SIGCOND_BYTE_RANGE;
  r.Offset = 7;
  r.Repeat = 1;
  r.Data = {'a', 'c'};
  range.Conditions.push_back(r);
  CSignatureCondition w;
  w.Kind = SIGCOND_WORD;
  w.Offset = 0;
  w.Data = {'P', 'K'};
  range.Conditions.push_back(w);
  extra.Signatures.push_back(range);
  db.AddTypeForTest(extra);
  CFileType disabled;
  disabled.Id = 37;
  disabled.SearchEnable = 0;
  disabled.Signatures.push_back(*CompileSignatureText("0='PK'"));
  db.AddTypeForTest(disabled);

  std::mt19937 rng(7);
  std::vector<std::vector<uint8_t>> sectors;
  const char* heads[] = {"PK\x03\x04", "PK\x05", "\x00\x00\x01", "\xFF\xD8", "PKabc", "QM"};
  for (int i = 0; i < 4000; ++i) {
    std::vector<uint8_t> s(512);
    for (auto& b : s) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : "PK\x03\x04QMabc"[rng() % 8]);
    if (i % 3 == 0) {
      const char* h = heads[rng() % 6];
      std::memcpy(s.data(), h, std::strlen(h) + (h[0] == 0 ? 3 : 0));
    }
    if (i % 7 == 0) std::memcpy(s.data() + 30, "mimetype", 8);
    if (i % 11 == 0) std::memcpy(s.data() + 257, "ustar", 5);
    if (i % 13 == 0) std::memcpy(s.data() + 4, "ftyp", 4);
    if (i % 17 == 0) std::fill(s.begin(), s.end(), 0);
    sectors.push_back(std::move(s));
  }
  size_t matched = 0;
  for (const auto& s : sectors) {
    std::vector<const CFileType*> fast;
    db.MatchSector(s.data(), fast);
    ASSERT_EQ(fast, Reference(db, s.data()));
    matched += !fast.empty();
  }
  EXPECT_GT(matched, 1000u);

  // Switching a type off takes effect without a rebuild.
  std::vector<uint8_t> zip = {'P', 'K', 3, 4};
  zip.resize(512);
  std::vector<const CFileType*> before, after;
  db.MatchSector(zip.data(), before);
  CFileSignatureDatabase::SetSearchEnable(*db.FindById(30), false);
  db.MatchSector(zip.data(), after);
  EXPECT_EQ(before.size(), after.size() + 1);
  EXPECT_EQ(before.front()->Id, 30);
}

TEST_F(SignatureDatabase, ConcurrentMatchingWhileSwitchesChange) {
  AddType("00030", "", "", {{1, "0='PK',2=$03,3=$04"}});
  AddType("00031", "", "", {{1, "0='PK'"}});
  db.Load(*store);
  std::vector<uint8_t> zip = {'P', 'K', 3, 4};
  zip.resize(512);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r)
    readers.emplace_back([&] {
      std::vector<const CFileType*> m;
      while (!stop) {
        m.clear();
        db.MatchSector(zip.data(), m);
        // Type 31 is never switched off; type 30 comes first when present.
        if (m.empty() || m.back()->Id != 31 || m.size() > 2) ++bad;
      }
    });
  CFileType* t = db.FindById(30);
  for (int i = 0; i < 20000; ++i) CFileSignatureDatabase::SetSearchEnable(*t, i % 2);
  stop = true;
  for (auto& th : readers) th.join();
  EXPECT_EQ(bad, 0);
}

TEST_F(SignatureDatabase, SignatureFileRoundTripMatchesTheSameSectors) {
  AddType("00150", "Archives", "zip", {{1, "0='PK',2=$03,3=$04,5=$00"}, {2, "510=$55,511=$AA"}});
  db.Load(*store);
  CFileType& original = *db.FindById(150);
  // Add conditions of every kind, with repeats and a pattern whose mask
  // selects bits only.
  CSignature mixed;
  auto add = [&](uint32_t kind, int32_t offset, std::vector<uint8_t> data, uint16_t repeat) {
    CSignatureCondition c;
    c.Kind = kind;
    c.Offset = offset;
    c.Repeat = repeat;
    c.DataLength = static_cast<uint16_t>(data.size());
    c.Data = std::move(data);
    mixed.Conditions.push_back(std::move(c));
  };
  add(SIGCOND_BYTE, 0, {'P'}, 0);
  add(SIGCOND_WORD, 8, {0, 0}, 3);
  add(SIGCOND_BYTE_RANGE, 20, {'0', '9'}, 1);
  add(SIGCOND_FIND_NOCASE, 0, {'m', 'a', 'g'}, 0);
  add(0x77, 5, {1, 2, 3}, 0);
  uint8_t pattern[512] = {}, mask[512] = {};
  pattern[40] = 0x80;
  mask[40] = 0x80;
  mixed.Conditions.push_back(CSignatureCondition::Masked(SIGCOND_MASKED_CLEAR, 0, pattern, mask, 41));
  original.Signatures.push_back(mixed);
  original.DefaultSize = 999;
  db.Rebuild();

  std::string path = dir + "/zip.filesig";
  ASSERT_EQ(CFileSignatureDatabase::ExportSignatureFile(original, path), 1);
  auto image = qmtest::ReadFileBytes(path);
  ASSERT_GE(image.size(), FILETYPE_PACKED_BYTES);
  EXPECT_EQ(image[1432], 3);  // element count
  auto copy = CFileSignatureDatabase::UnpackType(image);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Id, 150);
  EXPECT_EQ(copy->DefaultSize, 999u);
  ASSERT_EQ(copy->Signatures.size(), 3u);
  EXPECT_EQ(CFileSignatureDatabase::PackType(*copy), image);

  std::mt19937 rng(3);
  int both = 0;
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> s(512);
    for (auto& b : s) b = static_cast<uint8_t>(rng());
    if (i % 2) std::memcpy(s.data(), "PK\x03\x04\x14\x00", 6);
    if (i % 3 == 0) { s[510] = 0x55; s[511] = 0xAA; }
    if (i % 5 == 0) { std::fill(s.begin() + 8, s.begin() + 12, 0); s[20] = '4'; s[21] = '2'; std::memcpy(s.data() + 100, "MaG", 3); }
    bool a = CFileSignatureDatabase::MatchSector(original, s.data(), 512);
    bool b = CFileSignatureDatabase::MatchSector(*copy, s.data(), 512);
    ASSERT_EQ(a, b) << i;
    both += a;
  }
  EXPECT_GT(both, 100);

  // Importing into a database that lacks the type adds it (in the empty
  // group) and saves; importing it again updates it.
  CRegistryStore other(dir + "/other");
  CFileSignatureDatabase target;
  target.Load(other);
  std::string message;
  CFileType* added = target.ImportSignatureFile("\"" + path + "\"", &message);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(message, "Signature file '" + path + "' added!");
  EXPECT_EQ(added->Signatures.size(), 3u);
  std::vector<const CFileType*> m;
  std::vector<uint8_t> zip = {'P', 'K', 3, 4, 0x14, 0};
  zip.resize(512);
  target.MatchSector(zip.data(), m);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(target.ImportSignatureFile(path, &message), added);
  EXPECT_EQ(message, "Signature file '" + path + "' updated!");
  EXPECT_EQ(target.Types().size(), 1u);
  // The file's signatures that the text form can carry were written to the
  // key; the mixed one cannot, so none is.
  CRegistryStore reread(dir + "/other");
  reread.Load();
  EXPECT_TRUE(reread.KeyExists(kBase + "\\00150"));

  EXPECT_EQ(target.ImportSignatureFile(dir + "/missing.filesig", &message), nullptr);
  EXPECT_EQ(message, "Signature file '" + dir + "/missing.filesig' can't open!");
}

TEST_F(SignatureDatabase, ImportedTextFormSignaturesSurviveARestart) {
  CFileType t;
  t.Id = 321;
  t.Signatures.push_back(*CompileSignatureText("0='QMSIG',9=$01"));
  std::string path = dir + "/t.filesig";
  ASSERT_EQ(CFileSignatureDatabase::ExportSignatureFile(t, path), 1);
  db.Load(*store);
  ASSERT_NE(db.ImportSignatureFile(path), nullptr);
  CRegistryStore reread(dir + "/registry");
  reread.Load();
  CFileSignatureDatabase again;
  again.Load(reread);
  ASSERT_NE(again.FindById(321), nullptr);
  ASSERT_EQ(again.FindById(321)->Signatures.size(), 1u);
  uint8_t sector[512] = {'Q', 'M', 'S', 'I', 'G', 0, 0, 0, 0, 1};
  EXPECT_TRUE(CFileSignatureDatabase::MatchSector(*again.FindById(321), sector, 512));
  sector[9] = 2;
  EXPECT_FALSE(CFileSignatureDatabase::MatchSector(*again.FindById(321), sector, 512));
}

TEST_F(SignatureDatabase, DamagedSignatureFilesAreReadSafely) {
  CFileType t;
  t.Id = 77;
  t.Signatures.push_back(*CompileSignatureText("0='AB'"));
  t.Signatures.push_back(*CompileSignatureText("0='CD'"));
  auto image = CFileSignatureDatabase::PackType(t);
  EXPECT_EQ(CFileSignatureDatabase::UnpackType(std::vector<uint8_t>(image.begin(), image.begin() + 1000)), nullptr);
  // Cut inside the second signature: the first stays.
  auto cut = CFileSignatureDatabase::UnpackType(std::vector<uint8_t>(image.begin(), image.end() - 10));
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(cut->Signatures.size(), 1u);
  // Absurd counts and sizes.
  auto bad = image;
  bad[1432] = 0xFF; bad[1433] = 0xFF; bad[1434] = 0xFF; bad[1435] = 0x7F;
  bad[FILETYPE_PACKED_BYTES + 16] = 0xFF;  // condition count
  bad[FILETYPE_PACKED_BYTES + 20 + 4] = 0xF0;  // condition size
  auto parsed = CFileSignatureDatabase::UnpackType(bad);
  ASSERT_NE(parsed, nullptr);
  EXPECT_LE(parsed->Signatures.size(), 2u);
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    auto fuzz = image;
    for (int k = 0; k < 8; ++k) fuzz[FILETYPE_PACKED_BYTES + rng() % (fuzz.size() - FILETYPE_PACKED_BYTES)] = uint8_t(rng());
    fuzz.resize(FILETYPE_PACKED_BYTES + rng() % (fuzz.size() - FILETYPE_PACKED_BYTES + 1));
    auto p = CFileSignatureDatabase::UnpackType(fuzz);
    ASSERT_NE(p, nullptr);
    uint8_t sector[512] = {};
    for (const auto& s : p->Signatures) SignatureHolds(s, sector, 512);
  }
}

// One signature of 5,000 conditions (each would hold on a zero sector): the
// import leaves it out whole and keeps the well-formed one after it, and the
// matcher never tests such a signature, however the type got into the
// database.
TEST_F(SignatureDatabase, OversizedSignaturesAreNeitherImportedNorTested) {
  CSignature huge;
  CSignatureCondition zero;
  zero.Kind = SIGCOND_BYTE;
  zero.Offset = -1;
  zero.Data = {0};
  huge.Conditions.assign(5000, zero);
  CFileType t;
  t.Id = 78;
  t.Signatures.push_back(huge);
  t.Signatures.push_back(*CompileSignatureText("0='CD'"));
  auto parsed = CFileSignatureDatabase::UnpackType(CFileSignatureDatabase::PackType(t));
  ASSERT_NE(parsed, nullptr);
  ASSERT_EQ(parsed->Signatures.size(), 1u);
  EXPECT_EQ(parsed->Signatures[0].Conditions.size(), 1u);

  CSignature wide;  // a repeat that reaches past the sector
  zero.Offset = 0;
  zero.Repeat = 600;
  wide.Conditions.push_back(zero);
  EXPECT_FALSE(SignatureWithinBounds(huge));
  EXPECT_FALSE(SignatureWithinBounds(wide));
  huge.Conditions.resize(SIG_MAX_CONDITIONS);
  EXPECT_TRUE(SignatureWithinBounds(huge));

  CFileSignatureDatabase db;
  CFileType direct;
  direct.Id = 79;
  direct.Signatures.push_back(t.Signatures[0]);
  db.AddTypeForTest(direct);
  uint8_t sector[512] = {};
  std::vector<const CFileType*> matches;
  db.MatchSector(sector, matches);
  EXPECT_TRUE(matches.empty());
}

}  // namespace

namespace {

// A signature file kept from a fuzz run, unpacked; null when it is missing
// or is not read as a type.
std::unique_ptr<CFileType> UnpackFuzzInput(const std::string& name) {
  const auto image = qmtest::ReadFileBytes(qmtest::SourcePath("tests/data/fuzz/" + name));
  return image.empty() ? nullptr : CFileSignatureDatabase::UnpackType(image);
}

}  // namespace

// Found by the signature-file fuzz target: a pattern/mask condition of
// length 0 with no data (a null copy under the sanitizers).
TEST(SignatureFileRegression, EmptyMaskedConditionIsReadSafely) {
  auto type = UnpackFuzzInput("signature_file-empty-mask.filesig");
  ASSERT_NE(type, nullptr);
  uint8_t sector[512] = {};
  CFileSignatureDatabase::MatchSector(*type, sector, 512);
}

// Found by the signature-file fuzz target: a string condition of length 0
// with no data (a null comparison under the sanitizers). Such a condition
// holds anywhere.
TEST(SignatureFileRegression, EmptyStringConditionHoldsAnywhere) {
  auto type = UnpackFuzzInput("signature_file-empty-string.filesig");
  ASSERT_NE(type, nullptr);
  ASSERT_FALSE(type->Signatures.empty());
  ASSERT_EQ(type->Signatures[0].Conditions.size(), 2u);
  CFileType emptyString = *type;
  emptyString.Signatures.resize(1);
  emptyString.Signatures[0].Conditions.erase(emptyString.Signatures[0].Conditions.begin());
  ASSERT_EQ(emptyString.Signatures[0].Conditions[0].DataLength, 0u);
  uint8_t sector[512] = {};
  EXPECT_TRUE(CFileSignatureDatabase::MatchSector(emptyString, sector, 512));
  for (size_t i = 0; i < sizeof sector; ++i) sector[i] = static_cast<uint8_t>(i * 7);
  EXPECT_TRUE(CFileSignatureDatabase::MatchSector(emptyString, sector, 512));
}

// Found by the signature-file fuzz target: a pattern/mask condition whose
// pattern is empty and absent (a null copy under the sanitizers).
TEST(SignatureFileRegression, EmptyAbsentMaskedPatternIsReadSafely) {
  auto type = UnpackFuzzInput("signature_file-empty-masked-pattern.filesig");
  ASSERT_NE(type, nullptr);
  uint8_t sector[512] = {};
  CFileSignatureDatabase::MatchSector(*type, sector, 512);
  auto again = CFileSignatureDatabase::UnpackType(CFileSignatureDatabase::PackType(*type));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Signatures.size(), type->Signatures.size());
}
