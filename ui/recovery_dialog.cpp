#include "ui/recovery_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/recovery/destination_check.h"
#include "engine/recovery/recovery.h"
#include "services/app.h"
#include "ui/app_ui.h"
#include "ui/main_frame.h"
#include "ui/commands.h"
#include "ui/dialog_parts.h"
#include "ui/recovery_questions.h"
#include "ui/ui_texts.h"

namespace {

// A folder as the dialog stores it: with one trailing separator.
QString WithOneTrailingSlash(QString folder) {
  while (folder.size() > 1 && folder.endsWith('/')) folder.chop(1);
  if (!folder.endsWith('/')) folder += '/';
  return folder;
}

}  // namespace

COnRecoveryDlg::COnRecoveryDlg(CVolume* source, IUserPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      source_(source),
      prompts_(prompts),
      folder_(new QLineEdit(this)),
      keep_(DialogCheckBox("Keep folder structure", IDC_KEEP_STRUCTURE, this)),
      browse_(DialogButton("Browse...", IDC_BROWSE, this)),
      ok_(DialogButton("OK", IDC_BUTTON_OK, this)) {
  setObjectName("RecoverDialog");
  setWindowTitle("Recover files");
  const CSettings& s = theApp().Settings;
  folder_->setText(QString::fromStdString(s.DestinationFolderText()));
  keep_->setChecked(s.KeepFolderStructure != 0);

  QLabel* heading = DialogLabel("Recover files", IDC_HEADING, this);
  QFont bold = heading->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  heading->setFont(bold);
  QLabel* warning = DialogLabel(
      "Warning: Never try to save recovered files to the same logical disk where they are located, or you may "
      "obtain unpredictable results and lose all your data!",
      IDC_WARNING, this);
  warning->setStyleSheet("color: #a00000;");

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  layout->addSpacing(8);
  layout->addWidget(DialogLabel("The target folder where the recovered files will be saved:", IDC_FOLDER_LABEL, this));
  auto* row = new QHBoxLayout;
  row->addWidget(folder_, 1);
  row->addWidget(browse_);
  layout->addLayout(row);
  layout->addWidget(keep_);
  layout->addSpacing(8);
  layout->addWidget(warning);
  layout->addStretch(1);
  auto* buttons = new QHBoxLayout;
  QPushButton* cancel = DialogButton("Cancel", IDC_BUTTON_CANCEL, this);
  QPushButton* help = DialogButton("Help", IDC_BUTTON_HELP, this);
  buttons->addStretch(1);
  for (QPushButton* b : {ok_, cancel, help}) buttons->addWidget(b);
  layout->addLayout(buttons);
  ok_->setDefault(true);
  resize(520, sizeHint().height());

  connect(browse_, &QPushButton::clicked, this, &COnRecoveryDlg::Browse);
  connect(ok_, &QPushButton::clicked, this, &COnRecoveryDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &COnRecoveryDlg::reject);
  connect(help, &QPushButton::clicked, this, [] { theAppUi().OpenHelp(ID_HELP_CONTENTS); });
  RegisterView(kSection, this, 0, {});
}

void COnRecoveryDlg::Browse() {
  const QString chosen = prompts_.ChooseFolder(this, QString::fromUtf8(kSelectDestinationTitle), folder_->text());
  if (!chosen.isEmpty()) folder_->setText(WithOneTrailingSlash(chosen));
}

void COnRecoveryDlg::accept() {
  QString folder = folder_->text().trimmed();
  if (folder.isEmpty()) {
    prompts_.ShowError(this, "Choose the folder for the recovered files.", "Recover files");
    return;
  }
  std::string destination = folder.toStdString();
  if (source_) {
    CPromptRecoveryQuestions questions(prompts_, this);
    destination = CheckDestinationDrive(*source_, destination, questions);
    folder_->setText(QString::fromStdString(destination));
  }
  // Whether files can be written there at all is learnt now, not file by file.
  const std::string problem = DestinationProblem(destination);
  if (!problem.empty()) {
    prompts_.ShowError(this, QString::fromStdString(problem), "Recover files");
    return;
  }
  CSettings& s = theApp().Settings;
  CSettings::SetText(s.DestinationFolder, 4096, destination);
  s.KeepFolderStructure = keep_->isChecked() ? 1 : 0;
  QDialog::accept();
}
