// The four-step wizard (interface mode 32874): drive, file types and
// destination, the analysis (file system, then sectors), the found files,
// and the summary.
#pragma once

#include "ui/wizard_mode_window.h"

class CWizardMode_Main2 : public CWizardMode_Window {
  Q_OBJECT
public:
  enum Step { Drive = 0, Parameters, Analysing, Explore, Finished };

  explicit CWizardMode_Main2(CAppUi& app);

protected:
  bool MayGoBack(int from) override;
};
