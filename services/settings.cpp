#include "services/settings.h"

#include <cstring>

#include "platform/system.h"
#include "services/text.h"

std::string CSettings::GetText(const char16_t* field, size_t capacity) {
  size_t n = 0;
  while (n < capacity && field[n] != 0) ++n;
  return qm::Utf16ToUtf8(field, n);
}

void CSettings::SetText(char16_t* field, size_t capacity, std::string_view utf8) {
  std::u16string wide = qm::Utf8ToUtf16(utf8);
  if (wide.size() > capacity - 1) wide.resize(capacity - 1);
  for (size_t i = 0; i < capacity; ++i) field[i] = i < wide.size() ? wide[i] : 0;
}

uint32_t CSettings::ComputeChecksum() const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(this);
  uint32_t sum = 0;
  for (size_t offset = 4; offset + 4 <= sizeof(CSettings); offset += 4) {
    uint32_t word;
    std::memcpy(&word, bytes + offset, 4);
    sum += word;  // wraps around
  }
  return sum;
}

void CSettings::SetDefaults() {
  std::memset(this, 0, sizeof *this);
  LanguageIndex = -1;
  Reserved52 = 1;
  ShowLegend = 1;
  ShowLog = 1;
  ShowStatusBar = 1;
  ShowToolBar = 1;
  ShowSplash = 1;
  ConfirmExit = 1;
  ConfirmScanAbort = 1;
  ConfirmRecoveryAbort = 1;
  ConfirmOverwrite = 1;
  NoTryOpenWarning = 0;
  CustomTempFolder = 0;
  LogToFile = 0;
  LogToDebugger = 1;
  ClearLogOnStart = 1;
  LogTimeStamps = 0;
  MaxLogSizeKB = 10240;
  UpdateIntervalDays = 30;
  NextUpdateCheck = qm::CurrentFileTime() + uint64_t(UpdateIntervalDays) * 24 * 60 * 60 * 1000 * 10000;
  SelectFirstDrive = 1;
  WizardScanChoice = 1;
  Reserved164 = 1;
  RetryCount = 3;
  RetryPauseMs = 0;
  Reserved176 = 10485760;
  Reserved180 = 1;
  WindowPlacementHead[0] = 44;
  // 800 x 600 centred in a 1920 x 1080 work area; the desktop program moves
  // the window onto the real screen.
  WindowLeft = 1920 / 2 - 400;
  WindowTop = 1080 / 2 - 300;
  WindowWidth = 800;
  WindowHeight = 600;
  SetText(DestinationFolder, 4096, qm::GetHomePath() + "/Recovered Files");
  SetText(TempFolder, 4096, qm::GetTempPath());
  SetText(LogFileName, 1024, DEFAULT_LOG_FILE_NAME);
  ReservedText[0] = u'*';
}

void CSettings::ClampValues() {
  // A retry count or pause out of the dialog's range would make one bad
  // sector stall the program for days.
  if (RetryCount < 0) RetryCount = 0;
  if (RetryCount > 1000000) RetryCount = 1000000;
  if (RetryPauseMs > 1000000) RetryPauseMs = 1000000;
  if (MaxLogSizeKB < 1) MaxLogSizeKB = 1;
}
