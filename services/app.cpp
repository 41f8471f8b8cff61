#include "services/app.h"

#include <cstring>

#include "platform/registry_store.h"

CApp::CApp() {
  std::memset(&Settings, 0, sizeof Settings);
  Settings.WindowPlacementHead[0] = 44;
}

CApp& theApp() {
  static CApp app;
  return app;
}

CRegistryStore& CApp::Registry() { return registry_ ? *registry_ : CRegistryStore::User(); }

int CApp::LoadSettings() {
  int loaded = 0;
  try {
    auto stored = Registry().GetBinary(RegistryKey, SETTINGS_VALUE_NAME);
    // The value must be binary, exactly one record long, and its checksum
    // must match; anything else gives the defaults.
    if (stored && stored->size() == sizeof(CSettings)) {
      uint32_t checksum;
      std::memcpy(&checksum, stored->data(), 4);
      CSettings candidate;
      std::memcpy(&candidate, stored->data(), sizeof candidate);
      if (candidate.ComputeChecksum() == checksum) {
        std::memcpy(&Settings, &candidate, sizeof Settings);
        loaded = 1;
      }
    }
  } catch (...) {
    loaded = 0;
  }
  if (!loaded) ResetSettings();
  Settings.ClampValues();
  Settings.JustLoaded = 1;
  return loaded;
}

void CApp::LoadLanguage() {
  Settings.LanguageIndex = Languages.StartUp(Settings.LanguageIndex);
  SaveIfChanged();
}

void CApp::ResetSettings() {
  Settings.SetDefaults();
  SaveSettings();
}

int CApp::SaveSettings() {
  try {
    // Stored with a checksum that matches, or the next start would throw the
    // record away.
    Settings.Checksum = Settings.ComputeChecksum();
    const auto* bytes = reinterpret_cast<const uint8_t*>(&Settings);
    CRegistryStore& store = Registry();
    store.SetBinary(RegistryKey, SETTINGS_VALUE_NAME, std::vector<uint8_t>(bytes, bytes + sizeof Settings));
    return store.Save() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void CApp::SaveIfChanged() {
  const uint32_t sum = Settings.ComputeChecksum();
  if (sum == Settings.Checksum) return;
  Settings.Checksum = sum;
  SaveSettings();
}

std::vector<StoredFilter> CApp::LoadFilters(const FilterRecordBytes& defaultFilter) {
  std::vector<StoredFilter> filters;
  try {
    CRegistryStore& store = Registry();
    const std::string key = FilterKey();
    if (!store.KeyExists(key)) {
      SaveDefaultFilter(defaultFilter);
      filters.push_back({"", defaultFilter});
      return filters;
    }
    const auto names = store.ValueNames(key);
    for (size_t i = 0; i < names.size() && i < 32767; ++i) {
      auto bytes = store.GetBinary(key, names[i]);
      if (!bytes || bytes->size() != FILTER_RECORD_SIZE) continue;
      StoredFilter filter;
      filter.Name = names[i].substr(0, 264);
      std::memcpy(filter.Record.data(), bytes->data(), FILTER_RECORD_SIZE);
      filters.push_back(std::move(filter));
    }
  } catch (...) {
  }
  return filters;
}

bool CApp::SaveFilter(const std::string& name, const FilterRecordBytes& record) {
  try {
    CRegistryStore& store = Registry();
    store.SetBinary(FilterKey(), name, std::vector<uint8_t>(record.begin(), record.end()));
    return store.Save();
  } catch (...) {
    return false;
  }
}

bool CApp::SaveDefaultFilter(const FilterRecordBytes& record) { return SaveFilter("", record); }
