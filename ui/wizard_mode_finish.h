// The last page of both wizards: the counts of files found and recovered,
// "Explore Recovered Files" (the destination folder in the desktop's file
// manager) and "Process Another Drive" (back to the drive step).
#pragma once

#include "ui/wizard_mode_page.h"

class CWizardSession;
class QLabel;

class CWizardMode_Finish : public CWizardMode_Page {
  Q_OBJECT
public:
  CWizardMode_Finish(CWizardSession& session, uint32_t titleString, const char* title, QWidget* parent = nullptr);
  void OnEnter() override;
  QLabel* FilesFoundLabel() const { return found_; }
  QLabel* FilesRecoveredLabel() const { return recovered_; }

signals:
  void ProcessAnotherDrive();

private:
  CWizardSession& session_;
  QLabel* found_;
  QLabel* recovered_;
};
