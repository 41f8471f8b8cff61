// The nine-step wizard (interface mode 32840): welcome, drive, file types,
// scanning mode, destination, file-system scan, its found files, sector
// scan, its found files, and the summary.
#pragma once

#include "ui/wizard_mode_window.h"

class IUserPrompts;

class CWizardMode_Main : public CWizardMode_Window {
  Q_OBJECT
public:
  enum Step { Welcome = 0, Drive, FileTypes, ScanMode, Destination, FileSystemScan, FileSystemFiles, SectorScan,
              SectorFiles, Finished };

  explicit CWizardMode_Main(CAppUi& app);

  static const char* const kNotRecoveredQuestion;
  static const char* const kNotRecoveredAfterScanQuestion;
  static const char* const kRestartQuestion;

protected:
  bool MayGoNext(int from) override;
  bool MayGoBack(int from) override;
};

// Asked when a wizard goes back to its options after a recovery started:
// true (Yes) when the wizard is to start again.
bool AskRestartAfterRecovery(IUserPrompts& prompts, QWidget* parent);
