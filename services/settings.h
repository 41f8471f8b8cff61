// The settings record: one fixed-layout binary record of 95,612 bytes, stored
// whole as the registry value "Settings". Every field keeps its stored offset
// (asserted below), so a record written here is byte-compatible.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#pragma pack(push, 1)
struct CSettings {
  uint32_t Checksum;                // sum of the 23,902 words that follow
  uint8_t Reserved4[24];
  uint32_t Reserved28;
  uint32_t Reserved32;
  uint32_t JustLoaded;
  uint32_t Reserved40;
  int32_t LanguageIndex;
  uint32_t Reserved48;
  uint32_t Reserved52;
  uint32_t ShowLegend;
  uint32_t ShowLog;
  uint32_t ShowStatusBar;
  uint32_t ShowToolBar;
  uint32_t ShowSplash;
  uint32_t ConfirmExit;
  uint32_t ConfirmScanAbort;
  uint32_t ConfirmRecoveryAbort;
  uint32_t ConfirmOverwrite;
  uint32_t NoTryOpenWarning;
  uint32_t CustomTempFolder;
  uint32_t LogToFile;
  uint32_t LogToDebugger;
  uint32_t ClearLogOnStart;
  uint32_t LogTimeStamps;
  uint32_t MaxLogSizeKB;
  uint32_t UpdateIntervalDays;
  uint64_t NextUpdateCheck;
  uint32_t AutoRecover;
  uint32_t KeepFolderStructure;
  uint32_t ExitProcessOnClose;
  uint32_t ShowFoundNames;
  uint32_t AnalyseOnReady;
  uint32_t SelectFirstDrive;
  uint32_t WizardScanChoice;
  uint32_t Reserved160;
  uint32_t Reserved164;
  int32_t RetryCount;
  uint32_t RetryPauseMs;
  uint32_t Reserved176;
  uint32_t Reserved180;
  uint8_t Reserved184[1024];
  uint32_t UiMode;
  uint8_t Reserved1212[136];
  uint8_t WindowPlacementHead[28];
  int32_t WindowLeft;
  int32_t WindowTop;
  int32_t WindowWidth;
  int32_t WindowHeight;
  char16_t DestinationFolder[4096];
  char16_t TempFolder[4096];
  char16_t LogFileName[1024];
  char16_t ReservedText[35840];
  uint8_t Reserved91504[4108];

  // UTF-8 views of the text fields, and setters that cut to the field size.
  static std::string GetText(const char16_t* field, size_t capacity);
  static void SetText(char16_t* field, size_t capacity, std::string_view utf8);
  std::string DestinationFolderText() const { return GetText(DestinationFolder, 4096); }
  std::string TempFolderText() const { return GetText(TempFolder, 4096); }
  std::string LogFileNameText() const { return GetText(LogFileName, 1024); }

  // Wrap-around sum of the 23,902 32-bit words after the first.
  uint32_t ComputeChecksum() const;
  // Every field to its default (Linux defaults for the folders); the
  // checksum is left to the caller.
  void SetDefaults();
  // Keeps user-editable numbers inside the ranges the program works with.
  void ClampValues();
};
#pragma pack(pop)

static_assert(sizeof(CSettings) == 95612);
static_assert(offsetof(CSettings, JustLoaded) == 36);
static_assert(offsetof(CSettings, LanguageIndex) == 44);
static_assert(offsetof(CSettings, ShowLegend) == 56);
static_assert(offsetof(CSettings, ConfirmScanAbort) == 80);
static_assert(offsetof(CSettings, LogToFile) == 100);
static_assert(offsetof(CSettings, MaxLogSizeKB) == 116);
static_assert(offsetof(CSettings, NextUpdateCheck) == 124);
static_assert(offsetof(CSettings, AutoRecover) == 132);
static_assert(offsetof(CSettings, ShowFoundNames) == 144);
static_assert(offsetof(CSettings, AnalyseOnReady) == 148);
static_assert(offsetof(CSettings, RetryCount) == 168);
static_assert(offsetof(CSettings, Reserved184) == 184);
static_assert(offsetof(CSettings, UiMode) == 1208);
static_assert(offsetof(CSettings, WindowPlacementHead) == 1348);
static_assert(offsetof(CSettings, WindowLeft) == 1376);
static_assert(offsetof(CSettings, DestinationFolder) == 1392);
static_assert(offsetof(CSettings, TempFolder) == 9584);
static_assert(offsetof(CSettings, LogFileName) == 17776);
static_assert(offsetof(CSettings, ReservedText) == 19824);
static_assert(offsetof(CSettings, Reserved91504) == 91504);

// The view filter records stored beside the settings, one 728-byte binary
// value each under the sub-key "Filter" (the default filter has an empty
// name). Their fields belong to the catalog's filter code; here they are raw
// bytes.
constexpr size_t FILTER_RECORD_SIZE = 728;
using FilterRecordBytes = std::array<uint8_t, FILTER_RECORD_SIZE>;
struct StoredFilter {
  std::string Name;
  FilterRecordBytes Record{};
};

// The name of the registry value and the default log file name.
constexpr char SETTINGS_VALUE_NAME[] = "Settings";
constexpr char DEFAULT_LOG_FILE_NAME[] = "Professional Quillmore.log";
