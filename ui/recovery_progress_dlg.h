// The progress of a running recovery: the list as a whole and the file
// being written, polled every 250 ms. "Abort" stops the worker (after the
// question, when ConfirmRecoveryAbort is on); at the end the dialog shows
// what was recovered, with OK and "Go to Recovered...". The self-closing
// form (Try to open) closes itself when the worker ends.
#pragma once

#include <QDialog>

class CRecovery;
class IUserPrompts;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class CRecoveryProgressDlg : public QDialog {
  Q_OBJECT
public:
  static constexpr const char* kSection = "RecoveryProgressDialog";
  enum ControlId : int {
    IDC_TOTAL_LABEL = 1201,
    IDC_CURRENT_LABEL = 1202,
    IDC_ABORT = 1203,
    IDC_GO_TO_RECOVERED = 1204,
  };
  // Numbered strings of the texts the dialog builds.
  enum StringNumber : uint32_t {
    STR_PROGRESS_COUNT = 61201,
    STR_PROGRESS_FILE = 61202,
    STR_RECOVERY_SUMMARY = 61203,
  };

  CRecoveryProgressDlg(CRecovery& recovery, IUserPrompts& prompts, bool selfClosing, QWidget* parent);

  QLabel* CountText() const { return count_; }
  QLabel* FileText() const { return file_; }
  QLabel* Summary() const { return summary_; }
  QProgressBar* TotalBar() const { return total_; }
  QProgressBar* FileBar() const { return current_; }
  QPushButton* AbortButton() const { return abort_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* GoToButton() const { return goTo_; }
  // True once the worker has ended and the dialog shows the summary.
  bool Finished() const { return finished_; }

  // One timer tick (also called by tests).
  void UpdateProgress();

signals:
  // The user stopped the recovery.
  void Aborted();

protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void Abort();
  void ShowFinished();

  CRecovery& recovery_;
  IUserPrompts& prompts_;
  bool selfClosing_;
  bool finished_ = false;
  QTimer* timer_;
  QLabel* count_;
  QLabel* file_;
  QLabel* summary_;
  QProgressBar* total_;
  QProgressBar* current_;
  QPushButton* abort_;
  QPushButton* ok_;
  QPushButton* goTo_;
};
