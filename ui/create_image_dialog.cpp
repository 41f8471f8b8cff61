#include "ui/create_image_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "ui/dialog_parts.h"
#include "ui/ui_texts.h"
#include "ui/user_prompts.h"

namespace {

constexpr int kTickMs = 250;
constexpr const char* kCaption = "Create Drive Image";

class CPromptImageQuestions : public IImageQuestions {
public:
  CPromptImageQuestions(IUserPrompts& prompts, QWidget* parent) : prompts_(prompts), parent_(parent) {}
  bool ConfirmOverwrite(const std::string& path) override {
    return prompts_.AskYesNo(parent_,
                             QString("%1 already exists.\nDo you want to replace it?")
                                 .arg(QFileInfo(QString::fromStdString(path)).fileName()),
                             "Confirm Save As");
  }

private:
  IUserPrompts& prompts_;
  QWidget* parent_;
};

QLabel* Value(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  return label;
}

}  // namespace

QStringList ImageFileDialogFilters(const std::vector<FileDialogFilter>& filters) {
  QStringList list;
  for (const FileDialogFilter& f : filters)
    // "*.*" is every file on Windows; here "*" is.
    list << QString("%1(%2)").arg(QString::fromStdString(f.text),
                                  f.patterns == "*.*" ? QString("*") : QString::fromStdString(f.patterns));
  return list;
}

CCreateImageDlg::CCreateImageDlg(std::unique_ptr<ImageJob> job, IUserPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      job_(std::move(job)),
      prompts_(prompts),
      timer_(new QTimer(this)),
      continueOnErrors_(DialogCheckBox(
          "Go on past unreadable sectors (they become zeros in the image; a map beside it lists them)",
          IDC_CONTINUE_ON_ERRORS, this)),
      start_(DialogButton("Start", IDC_START, this)),
      cancel_(DialogButton("Cancel", IDC_BUTTON_CANCEL, this)),
      ok_(DialogButton("OK", IDC_BUTTON_OK, this)),
      bar_(new QProgressBar(this)),
      elapsed_(new QLabel("00:00:00", this)),
      summary_(Value({}, this)) {
  setObjectName("CreateImageDialog");
  setWindowTitle(kCaption);
  setModal(true);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  summary_->setVisible(false);
  ok_->setVisible(false);

  auto* layout = new QVBoxLayout(this);
  auto* facts = new QGridLayout;
  facts->addWidget(DialogLabel("Source:", IDC_SOURCE_LABEL, this), 0, 0);
  facts->addWidget(Value(QString::fromStdString(job_->Source ? job_->Source->DisplayNameText() : ""), this), 0, 1);
  facts->addWidget(DialogLabel("Image file:", IDC_TARGET_LABEL, this), 1, 0);
  facts->addWidget(Value(QString::fromStdString(job_->TargetPath), this), 1, 1);
  facts->addWidget(DialogLabel("Elapsed time:", IDC_ELAPSED_LABEL, this), 2, 0);
  facts->addWidget(elapsed_, 2, 1);
  facts->setColumnStretch(1, 1);
  layout->addLayout(facts);
  layout->addWidget(continueOnErrors_);
  layout->addWidget(bar_);
  layout->addWidget(summary_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {start_, ok_, cancel_}) buttons->addWidget(b);
  layout->addLayout(buttons);
  start_->setDefault(true);
  setMinimumWidth(480);

  connect(start_, &QPushButton::clicked, this, &CCreateImageDlg::Start);
  connect(cancel_, &QPushButton::clicked, this, &CCreateImageDlg::reject);
  connect(ok_, &QPushButton::clicked, this, &CCreateImageDlg::accept);
  connect(timer_, &QTimer::timeout, this, &CCreateImageDlg::UpdateProgress);
  RegisterView(kSection, this, 0, {});
}

CCreateImageDlg::~CCreateImageDlg() {
  job_->Running = 0;
  job_->Wait();
}

bool CCreateImageDlg::Start() {
  job_->ContinueOnErrors = continueOnErrors_->isChecked();
  if (theComputer().CreateImage(*job_) != 0) {
    prompts_.ShowError(this, QString::fromStdString(job_->Reason), "Error");
    reject();
    return false;
  }
  start_->setVisible(false);
  continueOnErrors_->setEnabled(false);
  cancel_->setDefault(true);
  timer_->start(kTickMs);
  return true;
}

void CCreateImageDlg::UpdateProgress() {
  const ImageProgressView view = DescribeImageJob(*job_);
  bar_->setValue(static_cast<int>(view.Percent));
  elapsed_->setText(QTime(0, 0).addSecs(static_cast<int>(view.ElapsedSeconds)).toString("hh:mm:ss"));
  if (!view.Complete) return;
  timer_->stop();
  job_->Wait();
  if (job_->Outcome.load() == ImageOutcome::OpenFailed) {
    // The image file could not be created.
    prompts_.ShowError(this, QString::fromStdString(ImageSummary(*job_)), "Error");
    reject();
    return;
  }
  if (job_->Outcome.load() == ImageOutcome::Complete) bar_->setValue(100);
  summary_->setText(QString::fromStdString(ImageSummary(*job_)));
  summary_->setVisible(true);
  cancel_->setVisible(false);
  ok_->setVisible(true);
  ok_->setDefault(true);
}

void CCreateImageDlg::done(int result) {
  if (job_->Running.load() == 1) {
    // Cancel: the copy stops after its block; the dialog shows the result.
    job_->Running = 0;
    cancel_->setEnabled(false);
    return;
  }
  timer_->stop();
  job_->Wait();
  if (CVolume* volume = LoadCompletedImage(theComputer(), *job_)) emit ImageLoaded(volume);
  QDialog::done(result);
}

CCreateImageDlg* CreateDriveImage(CVolume& source, IUserPrompts& prompts, QWidget* parent) {
  const QString suggested =
      QDir::home().filePath(QString::fromStdString(SuggestedImageFileName(source)));
  const QString path =
      prompts.ChooseSaveFile(parent, kCaption, suggested, ImageFileDialogFilters(ImageSaveFilters()), "dsk");
  if (path.isEmpty()) return nullptr;
  auto job = std::make_unique<ImageJob>();
  job->Source = &source;
  job->TargetPath = path.toStdString();
  job->Computer = &theComputer();
  CPromptImageQuestions questions(prompts, parent);
  if (!ConfirmImageTarget(*job, questions)) return nullptr;
  auto* dialog = new CCreateImageDlg(std::move(job), prompts, parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  return dialog;
}
