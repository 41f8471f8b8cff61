#include "ui/wizard_mode_analysing.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "engine/volume/volume.h"
#include "ui/wizard_session.h"

namespace {
int Percent(const CVolume& v) {
  const uint64_t end = v.EndPositionValue.load();
  return end >= 100 ? static_cast<int>(std::min<uint64_t>(v.PositionValue.load() / (end / 100), 100)) : 0;
}
}  // namespace

CWizardMode_Analysing::CWizardMode_Analysing(CWizardSession& session, QWidget* parent)
    : CWizardMode_Page(405, "Step 3 of 4: Analysing drive", parent),
      session_(session),
      fileSystemProgress_(new QProgressBar),
      skip_(new QPushButton("Skip")),
      sectorProgress_(new QProgressBar),
      stop_(new QPushButton("Stop")),
      sector_(new QLabel("0")),
      sectors_(new QLabel("0")),
      filesFound_(new QLabel("0")),
      readErrorsLabel_(new QLabel("0")),
      status_(new QLabel("Idle")),
      log_(new QListWidget) {
  setObjectName("WizardAnalysing");
  skip_->setObjectName("Skip");
  stop_->setObjectName("Stop");
  status_->setObjectName("Status");
  log_->setObjectName("ProgressLog");
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Analysing file system progress:"), 0, 0, 1, 4);
  grid->addWidget(fileSystemProgress_, 1, 0, 1, 3);
  grid->addWidget(skip_, 1, 3);
  grid->addWidget(new QLabel("Analysing drive sectors progress:"), 2, 0, 1, 4);
  grid->addWidget(sectorProgress_, 3, 0, 1, 3);
  grid->addWidget(stop_, 3, 3);
  grid->addWidget(new QLabel("Sector:"), 4, 0);
  grid->addWidget(sector_, 4, 1);
  grid->addWidget(new QLabel("of:"), 4, 2);
  grid->addWidget(sectors_, 4, 3);
  grid->addWidget(new QLabel("Files found:"), 5, 0);
  grid->addWidget(filesFound_, 5, 1);
  grid->addWidget(new QLabel("Read errors:"), 6, 0);
  grid->addWidget(readErrorsLabel_, 6, 1);
  grid->addWidget(new QLabel("Status:"), 7, 0);
  grid->addWidget(status_, 7, 1);
  Layout()->addLayout(grid);
  AddText("Progress Log:");
  Layout()->addWidget(log_, 1);
  for (QProgressBar* bar : {fileSystemProgress_, sectorProgress_}) {
    bar->setRange(0, 100);
    bar->setValue(0);
  }
  connect(skip_, &QPushButton::clicked, this, [this] {
    if (phase_ != Phase::FileSystem) return;
    // What the file-system phase found so far stays in the catalog.
    session_.StopPhase(true);
    StartSectorScan();
    OnTimer();
  });
  connect(stop_, &QPushButton::clicked, this, [this] {
    if (phase_ == Phase::Sectors && session_.StopPhase()) phase_ = Phase::Done;
    OnTimer();
  });
}

void CWizardMode_Analysing::OnEnter() {
  // The analysis starts once; coming back to the page shows how it ended.
  if (phase_ == Phase::NotStarted && session_.Volume()) {
    phase_ = Phase::FileSystem;
    session_.StartFileSystemPhase();
  }
  OnTimer();
}

void CWizardMode_Analysing::StartSectorScan() {
  fileSystemProgress_->setValue(100);
  // Set first: starting handles the messages of the phase that ended.
  phase_ = Phase::Sectors;
  session_.StartSectorScan(false);
}

void CWizardMode_Analysing::Reset() {
  phase_ = Phase::NotStarted;
  readErrors_ = 0;
  log_->clear();
  fileSystemProgress_->setValue(0);
  sectorProgress_->setValue(0);
  OnTimer();
}

void CWizardMode_Analysing::OnTimer() {
  const bool busy = session_.Busy();
  // The phases follow each other: the file-system phase ended, so the scan starts.
  if (!busy && phase_ == Phase::FileSystem) StartSectorScan();
  else if (!busy && phase_ == Phase::Sectors) phase_ = Phase::Done;
  const bool running = session_.Busy();
  status_->setText(running ? "Busy" : "Idle");
  skip_->setEnabled(phase_ == Phase::FileSystem && running);
  stop_->setEnabled(phase_ == Phase::Sectors && running);
  readErrorsLabel_->setText(QString::number(readErrors_));
  if (CVolume* v = session_.Volume()) {
    filesFound_->setText(QString::number(session_.FilesFound()));
    if (phase_ == Phase::FileSystem) fileSystemProgress_->setValue(Percent(*v));
    if (phase_ == Phase::Sectors) {
      sectorProgress_->setValue(Percent(*v));
      sector_->setText(QString::number(v->PositionValue.load()));
      sectors_->setText(QString::number(v->EndPositionValue.load()));
    }
    if (phase_ == Phase::Done && sectorProgress_->value() != 0) sectorProgress_->setValue(100);
  }
  emit StateChanged();
}

void CWizardMode_Analysing::OnLogLine(const QString& line) {
  if (phase_ == Phase::NotStarted) return;
  if (line.contains("ERR: ")) ++readErrors_;
  log_->addItem(line);
  while (log_->count() > 5000) delete log_->takeItem(0);
  log_->scrollToBottom();
}
