#include "ui/wizard_mode_scan_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "engine/filesystems/file_system.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "ui/wizard_session.h"

namespace {
// Log lines the log marks as errors (failed reads among them).
bool IsErrorLine(const QString& line) { return line.contains("ERR: "); }
}  // namespace

CWizardMode_ScanPage::CWizardMode_ScanPage(CWizardSession& session, bool sectors, uint32_t titleString,
                                           const char* title, QWidget* parent)
    : CWizardMode_Page(titleString, title, parent),
      session_(session),
      sectors_(sectors),
      volume_(new QLabel),
      progress_(new QProgressBar),
      start_(new QPushButton("Start")),
      stop_(new QPushButton("Stop")),
      log_(new QListWidget),
      showNames_(new QCheckBox("Show filenames (this will decrease scanning speed)")) {
  start_->setObjectName("Start");
  stop_->setObjectName("Stop");
  log_->setObjectName("ProgressLog");
  showNames_->setObjectName("ShowFoundNames");
  progress_->setRange(0, 100);
  progress_->setValue(0);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Selected volume:"), 0, 0);
  grid->addWidget(volume_, 0, 1, 1, 3);
  grid->addWidget(new QLabel("Total progress:"), 1, 0);
  grid->addWidget(progress_, 1, 1, 1, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  grid->addLayout(buttons, 2, 1, 1, 3);
  filesFound_ = AddRow(grid, 3, "Files found:");
  readErrorsLabel_ = AddRow(grid, 4, "Read errors:");
  status_ = AddRow(grid, 5, "Status:");
  status_->setObjectName("Status");
  current_ = AddRow(grid, 6, sectors_ ? "Current sector:" : "Current record:");
  total_ = AddRow(grid, 7, sectors_ ? "Total sectors:" : "Total records:");
  if (sectors_) freeSectors_ = AddRow(grid, 8, "Free sectors:");
  grid->setColumnStretch(3, 1);
  Layout()->addLayout(grid);
  AddText("Progress Log:");
  Layout()->addWidget(log_, 1);
  Layout()->addWidget(showNames_);
  AddText("Click Start and wait. Then click Next to preview found files...");

  connect(start_, &QPushButton::clicked, this, &CWizardMode_ScanPage::Start);
  connect(stop_, &QPushButton::clicked, this, &CWizardMode_ScanPage::Stop);
  connect(showNames_, &QCheckBox::toggled, this, [](bool on) { theApp().Settings.ShowFoundNames = on ? 1 : 0; });
}

QLabel* CWizardMode_ScanPage::AddRow(QGridLayout* grid, int row, const char* caption) {
  grid->addWidget(new QLabel(caption), row, 0);
  auto* value = new QLabel("0");
  grid->addWidget(value, row, 1);
  return value;
}

void CWizardMode_ScanPage::OnEnter() {
  CVolume* v = session_.Volume();
  volume_->setText(v ? QString::fromStdString(v->DisplayNameText()) : QString());
  showNames_->setChecked(theApp().Settings.ShowFoundNames != 0);
  OnTimer();
}

void CWizardMode_ScanPage::Start() {
  started_ = true;
  readErrors_ = 0;
  log_->clear();
  progress_->setValue(0);
  if (sectors_)
    session_.StartSectorScan(theApp().Settings.WizardScanChoice == 1);
  else
    session_.StartFileSystemPhase();
  OnTimer();
}

void CWizardMode_ScanPage::Stop() {
  session_.StopPhase();
  OnTimer();
}

void CWizardMode_ScanPage::Reset() {
  started_ = false;
  readErrors_ = 0;
  wasBusy_ = false;
  log_->clear();
  progress_->setValue(0);
  OnTimer();
}

void CWizardMode_ScanPage::OnTimer() {
  CVolume* v = session_.Volume();
  const bool busy = session_.Busy();
  start_->setEnabled(v && !busy);
  stop_->setEnabled(busy);
  status_->setText(busy ? "Busy" : "Idle");
  if (!v) return;
  const uint64_t position = v->PositionValue.load();
  const uint64_t end = v->EndPositionValue.load();
  if (busy && end >= 100) progress_->setValue(static_cast<int>(std::min<uint64_t>(position / (end / 100), 100)));
  if (!busy && wasBusy_) progress_->setValue(100);
  filesFound_->setText(QString::number(sectors_ ? v->ScanFilesFound.load() : v->FilesFound.load()));
  readErrorsLabel_->setText(QString::number(readErrors_));
  if (busy || wasBusy_) {
    current_->setText(QString::number(position));
    total_->setText(QString::number(end));
  }
  if (freeSectors_ && !busy) {
    // The file system's parser is only read while no phase may replace it.
    uint64_t free = 0;
    for (const auto& area : v->FileSystem().FreeAreas(v->Size / 512)) free += area.second;
    freeSectors_->setText(QString::number(free));
  }
  if (busy != wasBusy_) {
    wasBusy_ = busy;
    emit StateChanged();
  }
}

void CWizardMode_ScanPage::OnLogLine(const QString& line) {
  // The lines of this page's phase, the last of which come after its end.
  if (!started_) return;
  if (IsErrorLine(line)) ++readErrors_;
  log_->addItem(line);
  // The log keeps its last lines: a scan can log a line per file.
  while (log_->count() > 5000) delete log_->takeItem(0);
  log_->scrollToBottom();
}

bool CWizardMode_ScanPage::MayMoveOn() const { return !session_.Busy(); }

CWizardMode_Step5::CWizardMode_Step5(CWizardSession& session, QWidget* parent)
    : CWizardMode_ScanPage(session, false, 148, "Step 5 of 9: Scanning the file system...", parent) {
  setObjectName("WizardStep5");
}

CWizardMode_Step7::CWizardMode_Step7(CWizardSession& session, QWidget* parent)
    : CWizardMode_ScanPage(session, true, 150, "Step 7 of 9: Scanning drive sectors...", parent) {
  setObjectName("WizardStep7");
}
