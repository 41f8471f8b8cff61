// The stored settings record: layout, checksum, defaults, every damaged
// stored form, the change-detecting save, and the filter records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/registry_store.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/text.h"
#include "tests/support/test_support.h"

namespace {

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

class SettingsTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir = qmtest::MakeTempDir("qm-settings");
    path = dir + "/registry";
    store = std::make_unique<CRegistryStore>(path);
    app.SetRegistry(store.get());
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // What a fresh process would find in the store file.
  std::optional<std::vector<uint8_t>> StoredRecord() {
    CRegistryStore reread(path);
    reread.Load();
    return reread.GetBinary(app.RegistryKey, "Settings");
  }
  void Store(CRegistryStore::Value value) {
    store->Set(app.RegistryKey, "Settings", std::move(value));
    ASSERT_TRUE(store->Save());
  }
  // Loading must give the defaults and store them at once.
  void ExpectDefaultsLoadedAndStored() {
    app.Settings.RetryCount = 77;
    EXPECT_EQ(app.LoadSettings(), 0);
    EXPECT_EQ(app.Settings.RetryCount, 3);
    EXPECT_EQ(app.Settings.JustLoaded, 1u);
    auto stored = StoredRecord();
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->size(), sizeof(CSettings));
    EXPECT_EQ(WordAt(*stored, 168), 3u);
    CSettings copy;
    std::memcpy(&copy, stored->data(), sizeof copy);
    EXPECT_EQ(copy.Checksum, copy.ComputeChecksum());
  }

  CApp app;
  std::string dir, path;
  std::unique_ptr<CRegistryStore> store;
};

TEST_F(SettingsTest, ChecksumOfZeroWordsIsZeroAndWrapsAround) {
  CSettings s;
  std::memset(&s, 0, sizeof s);
  s.Checksum = 12345;  // the first word is not part of the sum
  EXPECT_EQ(s.ComputeChecksum(), 0u);
  s.RetryCount = 3;
  s.Reserved91504[4104] = 0xFF;
  s.Reserved91504[4105] = 0xFF;
  s.Reserved91504[4106] = 0xFF;
  s.Reserved91504[4107] = 0xFF;  // the very last word: 0xFFFFFFFF
  EXPECT_EQ(s.ComputeChecksum(), 2u);
}

TEST_F(SettingsTest, DefaultsSitAtTheirOffsets) {
  app.ResetSettings();
  auto stored = StoredRecord();
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 95612u);
  const auto& b = *stored;
  EXPECT_EQ(WordAt(b, 44), 0xFFFFFFFFu);  // LanguageIndex -1
  EXPECT_EQ(WordAt(b, 52), 1u);
  for (size_t off = 56; off <= 88; off += 4) EXPECT_EQ(WordAt(b, off), 1u) << off;
  EXPECT_EQ(WordAt(b, 92), 0u);
  EXPECT_EQ(WordAt(b, 100), 0u);      // LogToFile
  EXPECT_EQ(WordAt(b, 104), 1u);      // LogToDebugger
  EXPECT_EQ(WordAt(b, 108), 1u);      // ClearLogOnStart
  EXPECT_EQ(WordAt(b, 116), 10240u);  // MaxLogSizeKB
  EXPECT_EQ(WordAt(b, 120), 30u);
  uint64_t next;
  std::memcpy(&next, b.data() + 124, 8);
  const uint64_t thirtyDays = 30ull * 24 * 3600 * 10000000;
  EXPECT_NEAR(static_cast<double>(next - qm::CurrentFileTime()), static_cast<double>(thirtyDays), 6e8);
  EXPECT_EQ(WordAt(b, 152), 1u);
  EXPECT_EQ(WordAt(b, 156), 1u);
  EXPECT_EQ(WordAt(b, 164), 1u);
  EXPECT_EQ(WordAt(b, 168), 3u);
  EXPECT_EQ(WordAt(b, 172), 0u);
  EXPECT_EQ(WordAt(b, 176), 10485760u);
  EXPECT_EQ(WordAt(b, 180), 1u);
  EXPECT_EQ(WordAt(b, 1348), 44u);
  EXPECT_EQ(WordAt(b, 1384), 800u);
  EXPECT_EQ(WordAt(b, 1388), 600u);
  EXPECT_EQ(qm::Utf16LeBytesToUtf8(b.data() + 1392, 16 + qm::GetHomePath().size()),
            qm::GetHomePath() + "/Recovered Files");
  EXPECT_EQ(app.Settings.TempFolderText(), qm::GetTempPath());
  EXPECT_EQ(qm::Utf16LeBytesToUtf8(b.data() + 17776, 26), "Professional Quillmore.log");
  EXPECT_EQ(b[19824], '*');
  EXPECT_EQ(b[19825], 0);
  EXPECT_EQ(WordAt(b, 0), app.Settings.ComputeChecksum());
}

TEST_F(SettingsTest, ASavedRecordReadsBackFieldForField) {
  app.ResetSettings();
  app.Settings.RetryCount = 9;
  app.Settings.LogToFile = 1;
  app.Settings.WindowLeft = -20;
  app.Settings.Reserved184[100] = 0x5A;  // reserved bytes survive too
  CSettings::SetText(app.Settings.DestinationFolder, 4096, "/mnt/usb/Gerettete Dateien ✓");
  ASSERT_EQ(app.SaveSettings(), 1);

  CApp other;
  CRegistryStore otherStore(path);
  otherStore.Load();
  other.SetRegistry(&otherStore);
  EXPECT_EQ(other.LoadSettings(), 1);
  app.Settings.JustLoaded = 1;
  EXPECT_EQ(0, std::memcmp(&other.Settings, &app.Settings, sizeof(CSettings)));
  EXPECT_EQ(other.Settings.DestinationFolderText(), "/mnt/usb/Gerettete Dateien ✓");
}

TEST_F(SettingsTest, MissingValueGivesStoredDefaults) { ExpectDefaultsLoadedAndStored(); }

TEST_F(SettingsTest, WrongLengthGivesStoredDefaults) {
  app.ResetSettings();
  auto record = *StoredRecord();
  for (size_t size : {size_t{95611}, size_t{95613}, size_t{0}}) {
    auto bytes = record;
    bytes.resize(size);
    Store(bytes);
    ExpectDefaultsLoadedAndStored();
  }
}

TEST_F(SettingsTest, WrongTypeGivesStoredDefaults) {
  Store(uint32_t{5});
  ExpectDefaultsLoadedAndStored();
  Store(std::string("settings"));
  ExpectDefaultsLoadedAndStored();
}

TEST_F(SettingsTest, ChecksumMismatchGivesStoredDefaults) {
  app.ResetSettings();
  app.Settings.RetryCount = 42;
  app.SaveSettings();
  auto bytes = *StoredRecord();
  bytes[5000] ^= 0x01;  // one flipped bit in the stored copy
  Store(bytes);
  ExpectDefaultsLoadedAndStored();
}

TEST_F(SettingsTest, OutOfRangeValuesAreBroughtIntoRange) {
  app.ResetSettings();
  app.Settings.RetryCount = -5;
  app.Settings.RetryPauseMs = 0xFFFFFFFF;
  app.SaveSettings();
  EXPECT_EQ(app.LoadSettings(), 1);
  EXPECT_EQ(app.Settings.RetryCount, 0);
  EXPECT_EQ(app.Settings.RetryPauseMs, 1000000u);
}

TEST_F(SettingsTest, SaveIfChangedWritesOnlyAfterAChange) {
  app.LoadSettings();
  app.SaveIfChanged();  // JustLoaded changed the sum: saved once
  ASSERT_TRUE(std::filesystem::remove(path));
  app.SaveIfChanged();  // nothing changed since
  EXPECT_FALSE(std::filesystem::exists(path));
  app.Settings.ConfirmExit = 0;
  app.SaveIfChanged();
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(WordAt(*StoredRecord(), 76), 0u);
}

TEST_F(SettingsTest, FiltersAreStoredAsRawRecords) {
  FilterRecordBytes defaults{};
  defaults[8] = 1;
  defaults[120] = '*';
  auto filters = app.LoadFilters(defaults);
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0].Name, "");
  EXPECT_EQ(filters[0].Record, defaults);
  // The default went into the store at once.
  CRegistryStore reread(path);
  reread.Load();
  ASSERT_TRUE(reread.GetBinary(app.FilterKey(), ""));

  FilterRecordBytes mine = defaults;
  mine[20] = 1;
  ASSERT_TRUE(app.SaveFilter("Deleted only", mine));
  store->SetBinary(app.FilterKey(), "broken", std::vector<uint8_t>(100, 1));  // wrong size: skipped
  filters = app.LoadFilters(FilterRecordBytes{});
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].Record, defaults);
  EXPECT_EQ(filters[1].Name, "Deleted only");
  EXPECT_EQ(filters[1].Record, mine);
}

}  // namespace
