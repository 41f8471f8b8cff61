// The per-user registry store: values of every type, keys, the text form,
// and files that were cut short or garbled.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/registry_store.h"
#include "tests/support/test_support.h"

namespace {

const std::string kKey = "Software\\Quillmore\\Professional\\1.0";

class RegistryStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir = qmtest::MakeTempDir("qm-reg");
    path = dir + "/sub/registry";
    std::filesystem::create_directories(dir + "/sub");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  void Fill(CRegistryStore& s) {
    s.SetDword(kKey + "\\Signatures\\00101", "Enable", 10);
    s.SetBinary(kKey + "\\Signatures\\00101", "Signature", {0x00, 0x01, 0xFF, 0x7F});
    s.SetString(kKey + "\\Signatures\\00101", "Title", "JPEG \"photo\" C:\\x\nline two\t✓");
    s.SetBinary(kKey, "Empty", {});
    s.SetBinary(kKey + "\\Filter", "", std::vector<uint8_t>(728, 0xAB));
    s.SetString(kKey + "\\Signatures\\00020", "Title", "Zip");
    s.CreateKey(kKey + "\\Signatures\\Groups");
  }
  std::string dir, path;
};

TEST_F(RegistryStoreTest, EverythingSurvivesASaveAndLoad) {
  {
    CRegistryStore s(path);
    EXPECT_FALSE(s.Load());  // no file yet
    Fill(s);
    ASSERT_TRUE(s.Save());
  }
  CRegistryStore s(path);
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.GetDword(kKey + "\\Signatures\\00101", "enable"), 10u);  // names ignore case
  EXPECT_EQ(s.GetBinary(kKey + "\\SIGNATURES\\00101", "Signature"), (std::vector<uint8_t>{0x00, 0x01, 0xFF, 0x7F}));
  EXPECT_EQ(s.GetString(kKey + "\\Signatures\\00101", "Title"), "JPEG \"photo\" C:\\x\nline two\t✓");
  EXPECT_EQ(s.GetBinary(kKey, "Empty"), std::vector<uint8_t>{});
  EXPECT_EQ(s.GetBinary(kKey + "\\Filter", ""), std::vector<uint8_t>(728, 0xAB));
  EXPECT_EQ(s.SubKeys(kKey + "\\Signatures"), (std::vector<std::string>{"00020", "00101", "Groups"}));
  EXPECT_EQ(s.ValueNames(kKey + "\\Signatures\\00101"), (std::vector<std::string>{"Enable", "Signature", "Title"}));
  EXPECT_TRUE(s.KeyExists(kKey + "\\Signatures\\Groups"));
  EXPECT_FALSE(s.GetString(kKey + "\\Signatures\\00101", "Enable"));  // wrong type
  EXPECT_FALSE(s.Get(kKey, "missing"));
  // Nothing but the store and its lock remain in the folder.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/sub")) {
    ++files;
    EXPECT_TRUE(e.path().filename() == "registry" || e.path().filename() == "registry.lock") << e.path();
  }
  EXPECT_EQ(files, 2u);
}

TEST_F(RegistryStoreTest, ImportMergesAndDeletes) {
  CRegistryStore s(path);
  Fill(s);
  EXPECT_TRUE(s.ImportText("[" + kKey + "\\Signatures\\00101]\r\n\"Enable\"=dword:00000000\r\n\"Title\"=-\r\n"
                           "\"Long\"=hex:01,02,\\\r\n  03,04\r\n[-" + kKey + "\\Signatures\\00020]\r\n"));
  EXPECT_EQ(s.GetDword(kKey + "\\Signatures\\00101", "Enable"), 0u);
  EXPECT_FALSE(s.GetString(kKey + "\\Signatures\\00101", "Title"));
  EXPECT_EQ(s.GetBinary(kKey + "\\Signatures\\00101", "Long"), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_FALSE(s.KeyExists(kKey + "\\Signatures\\00020"));
  EXPECT_FALSE(s.ImportText("not a registry at all"));
  s.DeleteKey(kKey + "\\Signatures");
  EXPECT_TRUE(s.SubKeys(kKey + "\\Signatures").empty());
  EXPECT_TRUE(s.KeyExists(kKey));
}

TEST_F(RegistryStoreTest, ATruncatedFileLoadsAsFarAsItParses) {
  std::string full;
  {
    CRegistryStore s(path);
    Fill(s);
    ASSERT_TRUE(s.Save());
    full = s.ExportText();
  }
  const size_t titleEnd = full.find("\"Title\"=\"JPEG");
  ASSERT_NE(titleEnd, std::string::npos);
  for (size_t cut = 0; cut < full.size(); cut += 13) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << full.substr(0, cut);
    }
    CRegistryStore s(path);
    EXPECT_TRUE(s.Load());
    // A value is either whole or absent, never a wrong cut version...
    if (auto title = s.GetString(kKey + "\\Signatures\\00101", "Title")) {
      EXPECT_EQ(*title, "JPEG \"photo\" C:\\x\nline two\t✓");
    }
    // ... except binary values cut at a byte boundary, which come out shorter.
    if (auto filter = s.GetBinary(kKey + "\\Filter", "")) {
      EXPECT_LE(filter->size(), 728u);
    }
  }
}

TEST_F(RegistryStoreTest, GarbledFilesNeverCrash) {
  std::mt19937 rng(7);
  std::string good;
  {
    CRegistryStore s(path);
    Fill(s);
    good = s.ExportText();
  }
  for (int round = 0; round < 200; ++round) {
    std::string text = good;
    if (round % 2) {
      for (int i = 0; i < 20; ++i) text[rng() % text.size()] = static_cast<char>(rng());
    } else {
      text.assign(1000 + rng() % 4000, '\0');
      static const char kAlphabet[] = "[]\"=:\\,@-dwordhex0123456789abcdef\n\r \x01\xff";
      for (char& c : text) c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    CRegistryStore s(path);
    s.Load();
    (void)s.ExportText();
  }
  // One garbled line costs only itself.
  std::string text = good;
  text.insert(text.find("\"Enable\""), "\"Broken\"=hex:0G,zz\n\"Cut\"=\"no end\n");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  CRegistryStore s(path);
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.GetDword(kKey + "\\Signatures\\00101", "Enable"), 10u);
  EXPECT_FALSE(s.Get(kKey + "\\Signatures\\00101", "Broken"));
  EXPECT_FALSE(s.Get(kKey + "\\Signatures\\00101", "Cut"));
}

TEST_F(RegistryStoreTest, ConcurrentSavesLeaveAWholeFile) {
  CRegistryStore a(path), b(path);
  Fill(a);
  b.SetString(kKey, "Other", std::string(10000, 'x'));
  std::thread ta([&] {
    for (int i = 0; i < 30; ++i) a.Save();
  });
  std::thread tb([&] {
    for (int i = 0; i < 30; ++i) b.Save();
  });
  ta.join();
  tb.join();
  CRegistryStore s(path);
  ASSERT_TRUE(s.Load());
  const bool isA = s.GetDword(kKey + "\\Signatures\\00101", "Enable").has_value();
  const bool isB = s.GetString(kKey, "Other").has_value();
  EXPECT_NE(isA, isB);
}

TEST_F(RegistryStoreTest, SaveFailsCleanlyWhereNoFolderCanBeMade) {
  std::ofstream(dir + "/file") << "x";
  CRegistryStore s(dir + "/file/registry");
  s.SetDword(kKey, "x", 1);
  EXPECT_FALSE(s.Save());
}

TEST(RegistryStoreUser, LivesInTheConfigFolder) {
  EXPECT_EQ(CRegistryStore::ConfigDir(), std::getenv("QUILLMORE_CONFIG_DIR"));
  EXPECT_EQ(CRegistryStore::User().Path(), CRegistryStore::ConfigDir() + "/registry");
}

}  // namespace

// A hostile store: a key nested 20,000 levels deep is refused (the store's
// walks never go deeper than it allows), the file is set aside so that the
// next start is clean, and what lay within bounds is kept.
TEST_F(RegistryStoreTest, DeeplyNestedKeyIsRefusedAndTheFileSetAside) {
  std::string deep = kKey;
  for (int i = 0; i < 20000; ++i) deep += "\\k";
  {
    std::ofstream out(path);
    out << "[" << kKey << "]\n\"Good\"=dword:00000007\n[" << deep << "]\n\"Bad\"=dword:00000001\n";
    out << "[" << kKey << "\\" << std::string(5000, 'n') << "]\n\"Long\"=dword:00000001\n";
  }
  CRegistryStore s(path);
  EXPECT_TRUE(s.Load());
  EXPECT_EQ(s.GetDword(kKey, "Good"), 7u);
  EXPECT_FALSE(s.GetDword(deep, "Bad"));
  EXPECT_EQ(s.SubKeys(kKey).size(), 0u);
  EXPECT_FALSE(s.ExportText().empty());
  EXPECT_NE(s.LoadNote().find("it was set aside as " + path + ".damaged"), std::string::npos) << s.LoadNote();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::exists(path + ".damaged"));

  // The program's own calls cannot build such a key either.
  s.SetDword(deep, "Bad", 1);
  EXPECT_FALSE(s.KeyExists(deep));
  ASSERT_TRUE(s.Save());
  CRegistryStore again(path);
  EXPECT_TRUE(again.Load());
  EXPECT_TRUE(again.LoadNote().empty());
  EXPECT_EQ(again.GetDword(kKey, "Good"), 7u);
}

// A FIFO at the store's place neither blocks the start nor stays there.
TEST_F(RegistryStoreTest, FifoStoreDoesNotBlockTheLoad) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  CRegistryStore s(path);
  EXPECT_FALSE(s.Load());
  EXPECT_NE(s.LoadNote().find("is not a regular file"), std::string::npos) << s.LoadNote();
  EXPECT_FALSE(std::filesystem::exists(path));
  s.SetDword(kKey, "Enable", 1);
  EXPECT_TRUE(s.Save());
  CRegistryStore again(path);
  EXPECT_TRUE(again.Load());
  EXPECT_EQ(again.GetDword(kKey, "Enable"), 1u);
}
