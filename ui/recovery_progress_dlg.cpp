#include "ui/recovery_progress_dlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/recovery/recovery.h"
#include "services/app.h"
#include "services/format.h"
#include "services/log.h"
#include "services/strings.h"
#include "ui/app_ui.h"
#include "ui/main_frame.h"
#include "ui/dialog_parts.h"
#include "ui/ui_texts.h"

namespace {

constexpr int kTickMs = 250;

// A numbered format of the active language, with its arguments put in.
template <class... Args>
QString FormatString(uint32_t number, const char* fallback, const Args&... args) {
  std::string format = GetString(number);
  if (format.empty()) format = fallback;
  return QString::fromStdString(qm::Format(format, args...));
}

}  // namespace

CRecoveryProgressDlg::CRecoveryProgressDlg(CRecovery& recovery, IUserPrompts& prompts, bool selfClosing,
                                           QWidget* parent)
    : QDialog(parent),
      recovery_(recovery),
      prompts_(prompts),
      selfClosing_(selfClosing),
      timer_(new QTimer(this)),
      count_(new QLabel(this)),
      file_(new QLabel(this)),
      summary_(new QLabel(this)),
      total_(new QProgressBar(this)),
      current_(new QProgressBar(this)),
      abort_(DialogButton("Abort", IDC_ABORT, this)),
      ok_(DialogButton("OK", IDC_BUTTON_OK, this)),
      goTo_(DialogButton("Go to Recovered...", IDC_GO_TO_RECOVERED, this)) {
  setObjectName("RecoveryProgressDialog");
  setWindowTitle("Recovering files...");
  setModal(true);
  const int count = static_cast<int>(recovery_.List().size());
  total_->setRange(0, count);
  current_->setRange(0, 100);
  file_->setTextFormat(Qt::PlainText);
  file_->setMinimumWidth(420);
  summary_->setWordWrap(true);
  summary_->setVisible(false);

  auto* layout = new QVBoxLayout(this);
  auto* totalRow = new QHBoxLayout;
  totalRow->addWidget(DialogLabel("Total progress:", IDC_TOTAL_LABEL, this), 1);
  totalRow->addWidget(count_);
  layout->addLayout(totalRow);
  layout->addWidget(total_);
  layout->addSpacing(6);
  layout->addWidget(DialogLabel("Current file:", IDC_CURRENT_LABEL, this));
  layout->addWidget(file_);
  layout->addWidget(current_);
  layout->addWidget(summary_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {goTo_, ok_, abort_}) buttons->addWidget(b);
  layout->addLayout(buttons);
  ok_->setVisible(false);
  goTo_->setVisible(false);

  connect(abort_, &QPushButton::clicked, this, &CRecoveryProgressDlg::Abort);
  connect(ok_, &QPushButton::clicked, this, &CRecoveryProgressDlg::accept);
  connect(goTo_, &QPushButton::clicked, this, [this] {
    theAppUi().ExploreDestination();
    accept();
  });
  connect(timer_, &QTimer::timeout, this, &CRecoveryProgressDlg::UpdateProgress);
  RegisterView(kSection, this, 0, [this] {
    if (finished_) ShowFinished();
  });
  timer_->start(kTickMs);
  UpdateProgress();
}

void CRecoveryProgressDlg::UpdateProgress() {
  if (finished_) return;
  const std::vector<CFoundObject*>& list = recovery_.List();
  const int count = static_cast<int>(list.size());
  const int index = std::min(recovery_.CurrentIndex(), count);
  try {
    count_->setText(FormatString(STR_PROGRESS_COUNT, "%d of %d", index, count));
    total_->setValue(index);
  } catch (...) {
    theLog().AddError("RecoveryDlg::UpdateProgress exept1");
  }
  try {
    if (index < count) {
      const CFoundObject* object = list[static_cast<size_t>(index)];
      file_->setText(FormatString(STR_PROGRESS_FILE, "%s [size: %I64d]", object->Name, object->Size));
      current_->setValue(std::clamp(recovery_.CurrentPercent(), 0, 100));
    } else {
      file_->clear();
      current_->setValue(100);
    }
  } catch (...) {
    theLog().AddError("RecoveryDlg::UpdateProgress exept2");
  }
  if (recovery_.IsWorking()) return;
  timer_->stop();
  if (selfClosing_) {
    // Closed from the event loop: work that ended before the dialog was
    // opened (this runs first in the constructor) would otherwise be
    // accepted before the open, which then left the dialog on screen for
    // good.
    QTimer::singleShot(0, this, &CRecoveryProgressDlg::accept);
    return;
  }
  finished_ = true;
  ShowFinished();
}

void CRecoveryProgressDlg::ShowFinished() {
  abort_->setVisible(false);
  ok_->setVisible(true);
  goTo_->setVisible(true);
  ok_->setDefault(true);
  ok_->setFocus();
  total_->setValue(total_->maximum());
  current_->setValue(100);
  file_->clear();
  const std::vector<RecoveryOutcome> outcomes = recovery_.Outcomes();
  uint64_t bytes = 0;
  for (const RecoveryOutcome& o : outcomes) bytes += o.Result == RecoveryOutcome::Recovered ? o.Bytes : 0;
  summary_->setText(FormatString(STR_RECOVERY_SUMMARY,
                                 "Recovered %d file(s), %s bytes, to %s.\nSkipped: %d. Failed: %d. The log tells why.",
                                 recovery_.RecoveredCount(), QLocale().toString(qulonglong(bytes)).toStdString(),
                                 theApp().Settings.DestinationFolderText(), recovery_.SkippedCount(),
                                 recovery_.FailedCount()));
  summary_->setVisible(true);
}

void CRecoveryProgressDlg::Abort() {
  if (finished_ || !recovery_.IsWorking()) {
    UpdateProgress();
    return;
  }
  if (theApp().Settings.ConfirmRecoveryAbort != 0 &&
      !prompts_.AskYesNo(this, QString::fromUtf8(kStopRecoveryQuestion), QString::fromUtf8(kConfirmationCaption)))
    return;
  recovery_.Stop();
  timer_->stop();
  emit Aborted();
  reject();
}

void CRecoveryProgressDlg::closeEvent(QCloseEvent* event) {
  // The window's close button means Abort while the worker runs.
  if (!finished_ && recovery_.IsWorking()) {
    event->ignore();
    Abort();
    return;
  }
  QDialog::closeEvent(event);
}

void CRecoveryProgressDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && !finished_) {
    Abort();
    return;
  }
  QDialog::keyPressEvent(event);
}
