// "Create Drive Image...": the progress of copying a volume into an image
// file. The dialog opens ready to start, with the choice to go on past
// unreadable sectors; "Start" begins the copy, the bar and the elapsed time
// follow it every 250 ms, Cancel stops it, and at the end the button reads
// OK and the summary says what was written. A completed image is loaded as
// a volume when the dialog closes (ImageLoaded).
#pragma once

#include <QDialog>

#include <memory>

#include "engine/volume/image_job.h"

class CVolume;
class IUserPrompts;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class CCreateImageDlg : public QDialog {
  Q_OBJECT
public:
  static constexpr const char* kSection = "CreateImageDialog";
  enum ControlId : int {
    IDC_SOURCE_LABEL = 1501,
    IDC_TARGET_LABEL = 1502,
    IDC_CONTINUE_ON_ERRORS = 1503,
    IDC_START = 1504,
    IDC_ELAPSED_LABEL = 1505,
  };

  // The job's source and target are set; the overwrite question was asked.
  CCreateImageDlg(std::unique_ptr<ImageJob> job, IUserPrompts& prompts, QWidget* parent);
  ~CCreateImageDlg() override;

  ImageJob& Job() { return *job_; }
  QCheckBox* ContinueOnErrors() const { return continueOnErrors_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* OkButton() const { return ok_; }
  QProgressBar* Bar() const { return bar_; }
  QLabel* Elapsed() const { return elapsed_; }
  QLabel* Summary() const { return summary_; }
  // Starts the copy; false (with a message) when it cannot start.
  bool Start();
  // One timer tick (also called by tests).
  void UpdateProgress();

signals:
  void ImageLoaded(CVolume* volume);

protected:
  void done(int result) override;

private:
  std::unique_ptr<ImageJob> job_;
  IUserPrompts& prompts_;
  QTimer* timer_;
  QCheckBox* continueOnErrors_;
  QPushButton* start_;
  QPushButton* cancel_;
  QPushButton* ok_;
  QProgressBar* bar_;
  QLabel* elapsed_;
  QLabel* summary_;
};

// The command: suggests a file name for the volume, asks where to save
// (and whether to replace an existing file), then opens the dialog. Null
// when the user cancelled.
CCreateImageDlg* CreateDriveImage(CVolume& source, IUserPrompts& prompts, QWidget* parent);

// The filters of the image file dialogs, as the toolkit writes them.
QStringList ImageFileDialogFilters(const std::vector<FileDialogFilter>& filters);
