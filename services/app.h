// The one application object: the settings record and the process-wide
// state that is not stored.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_target.h"
#include "services/languages.h"
#include "services/settings.h"

class CRegistryStore;

class CApp {
public:
  CApp();
  CApp(const CApp&) = delete;
  CApp& operator=(const CApp&) = delete;

  CSettings Settings;
  // The interface languages: created with the application object, before
  // the settings are loaded.
  CLanguages Languages;
  // 1 while an analysis may run; clearing it asks the parsers and the scanner
  // to stop at their next test.
  std::atomic<uint32_t> AnalysisRunning{0};
  // Targets of the workers' messages; null while no front end listens.
  std::atomic<IMessageTarget*> MainWindow{nullptr};
  std::atomic<IMessageTarget*> LogWindow{nullptr};
  const std::string RegistryKey = "Software\\Quillmore\\Professional\\1.0";

  // --- The stored settings record ---
  // 1 when a valid stored record was loaded; else 0 (defaults set and
  // stored). Sets JustLoaded in every case.
  int LoadSettings();
  // The interface language of this run, after LoadSettings: the stored
  // LanguageIndex, or at a first start the desktop's language (else
  // English), whose index is then stored.
  void LoadLanguage();
  // Every field to its default, stored at once.
  void ResetSettings();
  // Stores the record (with its checksum brought up to date); 1 on success.
  int SaveSettings();
  // Stores the record when its checksum shows a change.
  void SaveIfChanged();
  // The saved view filters: when the "Filter" sub-key is missing, stores
  // `defaultFilter` as its default value and returns it alone; else every
  // 728-byte value of the key (values of another size are skipped).
  std::vector<StoredFilter> LoadFilters(const FilterRecordBytes& defaultFilter);
  bool SaveDefaultFilter(const FilterRecordBytes& record);
  bool SaveFilter(const std::string& name, const FilterRecordBytes& record);
  std::string FilterKey() const { return RegistryKey + "\\Filter"; }

  // The registry store the settings live in: the user's store unless one
  // was set (tests).
  CRegistryStore& Registry();
  void SetRegistry(CRegistryStore* store) { registry_ = store; }

private:
  CRegistryStore* registry_ = nullptr;
};

CApp& theApp();
