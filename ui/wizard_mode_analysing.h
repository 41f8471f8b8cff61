// The four-step wizard's third step: the file-system phase and then the
// sector scan of the chosen volume, started when the page is first entered.
// "Skip" stops the file-system phase (what it found so far stays) and goes
// on with the sector scan at once; "Stop" ends the sector scan. Next is
// open once both phases have ended.
#pragma once

#include "ui/wizard_mode_page.h"

class CWizardSession;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

class CWizardMode_Analysing : public CWizardMode_Page {
  Q_OBJECT
public:
  enum class Phase { NotStarted, FileSystem, Sectors, Done };

  CWizardMode_Analysing(CWizardSession& session, QWidget* parent = nullptr);
  void OnEnter() override;
  void OnTimer() override;
  void OnLogLine(const QString& line) override;
  bool MayMoveOn() const override { return phase_ == Phase::Done; }
  // Back to the state before the first start (a restart of the wizard).
  void Reset();

  Phase CurrentPhase() const { return phase_; }
  QPushButton* SkipButton() const { return skip_; }
  QPushButton* StopButton() const { return stop_; }
  QLabel* StatusLabel() const { return status_; }

private:
  void StartSectorScan();

  CWizardSession& session_;
  Phase phase_ = Phase::NotStarted;
  int readErrors_ = 0;
  QProgressBar* fileSystemProgress_;
  QPushButton* skip_;
  QProgressBar* sectorProgress_;
  QPushButton* stop_;
  QLabel* sector_;
  QLabel* sectors_;
  QLabel* filesFound_;
  QLabel* readErrorsLabel_;
  QLabel* status_;
  QListWidget* log_;
};
