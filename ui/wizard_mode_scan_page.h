// The scanning pages of the nine-step wizard: step 5 runs the file-system
// phase of the chosen volume, step 7 its sector scan. Start and Stop, the
// volume's counters and progress every timer tick, "Busy" or "Idle", and the
// progress log.
#pragma once

#include "ui/wizard_mode_page.h"

class CWizardSession;
class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

class CWizardMode_ScanPage : public CWizardMode_Page {
  Q_OBJECT
public:
  void OnEnter() override;
  void OnTimer() override;
  void OnLogLine(const QString& line) override;
  bool MayMoveOn() const override;

  QPushButton* StartButton() const { return start_; }
  QPushButton* StopButton() const { return stop_; }
  QLabel* StatusLabel() const { return status_; }
  QLabel* FilesFoundLabel() const { return filesFound_; }
  QLabel* FreeSectorsLabel() const { return freeSectors_; }
  QProgressBar* Progress() const { return progress_; }
  QListWidget* ProgressLog() const { return log_; }
  // Empties the counters and the log (a restart of the wizard).
  void Reset();

protected:
  // `sectors`: the sector scan (step 7), else the file-system phase.
  CWizardMode_ScanPage(CWizardSession& session, bool sectors, uint32_t titleString, const char* title,
                       QWidget* parent);

private:
  void Start();
  void Stop();
  QLabel* AddRow(class QGridLayout* grid, int row, const char* caption);

  CWizardSession& session_;
  bool sectors_;
  bool started_ = false;  // the page's phase was started
  bool wasBusy_ = false;
  int readErrors_ = 0;
  QLabel* volume_;
  QProgressBar* progress_;
  QPushButton* start_;
  QPushButton* stop_;
  QLabel* filesFound_;
  QLabel* readErrorsLabel_;
  QLabel* status_;
  QLabel* current_;
  QLabel* total_;
  QLabel* freeSectors_ = nullptr;
  QListWidget* log_;
  QCheckBox* showNames_;
};

class CWizardMode_Step5 : public CWizardMode_ScanPage {
  Q_OBJECT
public:
  CWizardMode_Step5(CWizardSession& session, QWidget* parent = nullptr);
};

class CWizardMode_Step7 : public CWizardMode_ScanPage {
  Q_OBJECT
public:
  CWizardMode_Step7(CWizardSession& session, QWidget* parent = nullptr);
};
