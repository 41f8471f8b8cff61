#include "ui/wizard_mode_explore_page.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/recovery/recovery.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/files_list_view.h"
#include "ui/my_computer_view.h"
#include "ui/recovery_commands.h"
#include "ui/volume_explore_view.h"
#include "ui/wizard_session.h"

CWizardMode_ExplorePage::CWizardMode_ExplorePage(CWizardSession& session, IUserPrompts& prompts, bool allCommands,
                                                 uint32_t titleString, const char* title, QWidget* parent)
    : CWizardMode_Page(titleString, title, parent),
      session_(session),
      explorer_(new CVolumeExploreView(prompts)),
      commands_(new CRecoveryCommands(*explorer_, prompts, theAppUi().Messages(), this)),
      recover_(new QPushButton("&Recover...")),
      recoveryText_(new QLabel),
      recoveryProgress_(new QProgressBar) {
  recover_->setObjectName("Recover");
  // The drive was chosen on an earlier page: only the found files show.
  explorer_->Drives().hide();
  explorer_->ShowLegend(false);
  AddText("Found files:");
  Layout()->addWidget(explorer_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(recover_);
  if (allCommands) {
    const std::pair<int, const char*> more[] = {
        {ID_TRY_OPEN, "&Try to Open..."}, {ID_INFORMATION, "&Information..."}, {ID_FILTERS, "Filters"}};
    for (const auto& [id, text] : more) {
      auto* button = new QPushButton(text);
      button->setObjectName(QString("Command%1").arg(id));
      connect(button, &QPushButton::clicked, this, [this, id = id] { RunCommand(id); });
      buttons->addWidget(button);
      commandButtons_.push_back(button);
    }
  }
  buttons->addStretch(1);
  Layout()->addLayout(buttons);
  recoveryProgress_->setRange(0, 100);
  recoveryProgress_->setVisible(false);
  recoveryText_->setObjectName("RecoveryText");
  auto* progress = new QHBoxLayout;
  progress->addWidget(recoveryText_, 1);
  progress->addWidget(recoveryProgress_);
  Layout()->addLayout(progress);
  connect(recover_, &QPushButton::clicked, this, &CWizardMode_ExplorePage::StartRecovery);
  connect(&session_, &CWizardSession::CatalogClearing, explorer_, &CVolumeExploreView::PrepareForAnalysis);
}

void CWizardMode_ExplorePage::AddHint(const char* text) { AddText(text); }

void CWizardMode_ExplorePage::OnEnter() {
  recoveredOnEnter_ = session_.RecoveredCount();
  CVolume* volume = session_.Volume();
  // Shown afresh: the folder tree as the analysis left it.
  explorer_->PrepareForAnalysis(volume);
  explorer_->SelectVolume(volume);
  explorer_->OnFileSystemDone(volume);
  OnTimer();
}

void CWizardMode_ExplorePage::StartRecovery() {
  std::vector<CFoundObject*> selection = explorer_->Selection();
  if (selection.empty())
    if (CFoundObject* folder = explorer_->CurrentFolder(); folder && folder != session_.Volume())
      selection.push_back(folder);
  if (session_.Recover(selection)) recoveryText_->setText("Recovery started.");
  OnTimer();
}

void CWizardMode_ExplorePage::OnTimer() {
  const bool running = session_.RecoveryRunning();
  const int recovered = session_.RecoveredCount();
  recover_->setEnabled(!running && !session_.Busy());
  for (QPushButton* button : commandButtons_) button->setEnabled(!running);
  recoveryProgress_->setVisible(running);
  if (running) {
    CRecovery& recovery = theComputer().Recovery();
    const uint64_t total = recovery.TotalBytes();
    recoveryProgress_->setValue(total ? static_cast<int>(recovery.BytesWritten() * 100 / total) : 0);
    recoveryText_->setText(QString("Recovering file %1 of %2...")
                               .arg(recovery.CurrentIndex() + 1)
                               .arg(static_cast<qulonglong>(recovery.List().size())));
  } else if (session_.RecoveryStarted()) {
    recoveryText_->setText(QString("Files Recovered: %1").arg(recovered));
  } else {
    recoveryText_->clear();
  }
}

void CWizardMode_ExplorePage::RunCommand(int id) {
  QDialog* dialog = nullptr;
  switch (id) {
    case ID_TRY_OPEN: commands_->TryOpen(); return;
    case ID_INFORMATION: dialog = explorer_->NewInformationDialog(); break;
    case ID_FILTERS: dialog = explorer_->NewFiltersDialog(); break;
    default: return;
  }
  if (!dialog) return;
  // Modal to the wizard, without a nested event loop.
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
}

bool CWizardMode_ExplorePage::MayMoveOn() const { return !session_.RecoveryRunning(); }

CWizardMode_Step6::CWizardMode_Step6(CWizardSession& session, IUserPrompts& prompts, QWidget* parent)
    : CWizardMode_ExplorePage(session, prompts, true, 149, "Step 6 of 9: View and recover after file system scan",
                              parent) {
  setObjectName("WizardStep6");
  AddHint("If you can't see the file(s) you were looking for, press Next to carry out the deep scan. The program "
          "will scan every sector on your drive (it may take some time).");
}

CWizardMode_Step8::CWizardMode_Step8(CWizardSession& session, IUserPrompts& prompts, QWidget* parent)
    : CWizardMode_ExplorePage(session, prompts, true, 151, "Step 8 of 9: View and recover after sectors scan",
                              parent) {
  setObjectName("WizardStep8");
  AddHint("Click Next to view recovery summary...");
}

CWizardMode_ExploreFoundFiles::CWizardMode_ExploreFoundFiles(CWizardSession& session, IUserPrompts& prompts,
                                                             QWidget* parent)
    : CWizardMode_ExplorePage(session, prompts, false, 406, "Step 4 of 4: View and recover", parent) {
  setObjectName("WizardExploreFoundFiles");
}
