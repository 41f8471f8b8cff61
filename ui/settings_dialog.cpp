#include "ui/settings_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/commands.h"
#include "ui/dialog_texts.h"
#include "ui/settings_pages.h"

namespace {
constexpr const char* kSection = "ProgrammSettings";
}

CSettingsDlg::CSettingsDlg(IUserPrompts& prompts, int command, QWidget* parent)
    : QDialog(parent),
      Common(new CSettingsDlg_Common),
      Confirms(new CSettingsDlg_Confirms),
      DriveAccess(new CSettingsDlg_DriveAccess),
      Language(new CSettingsDlg_Lang),
      Logging(new CSettingsDlg_Logging),
      FileTypes(new CSettingsDlg_SearchFileTypes(prompts)),
      Temporary(new CSettingsDlg_Temporary),
      tabs_(new QTabWidget(this)) {
  setObjectName("SettingsDialog");
  pages_ = {Common, Confirms, DriveAccess, Language, Logging, FileTypes, Temporary};
  for (CSettingsPage* page : pages_) {
    page->Load();
    tabs_->addTab(page, QString());
  }
  QDialogButtonBox* buttons = LayOutTabbedDialog(this, tabs_);
  QPushButton* ok = AddDialogButton(buttons, kSection, IDC_OK);
  QPushButton* cancel = AddDialogButton(buttons, kSection, IDC_CANCEL);
  QPushButton* apply = AddDialogButton(buttons, kSection, IDC_APPLY);
  connect(ok, &QPushButton::clicked, this, [this] {
    ApplyAll();
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(apply, &QPushButton::clicked, this, &CSettingsDlg::ApplyAll);
  tabs_->setCurrentIndex(PageForCommand(command));
  resize(560, 460);
  RegisterDialog(kSection, this);
}

int CSettingsDlg::PageForCommand(int command) {
  switch (command) {
    case ID_SETTINGS_CONFIRMATIONS: return 1;
    case ID_SETTINGS_DRIVE_ACCESS: return 2;
    case ID_SETTINGS_LANGUAGE: return 3;
    case ID_SETTINGS_LOGGING: return 4;
    case ID_SETTINGS_FILE_TYPES: return 5;
    case ID_SETTINGS_TEMP_FOLDER: return 6;
    case ID_SETTINGS_COMMON:
    case ID_SETTINGS:
    default: return 0;
  }
}

void CSettingsDlg::ApplyAll() {
  for (CSettingsPage* page : pages_) page->Apply();
}

CSettingsPage* CSettingsDlg::CurrentPage() const { return static_cast<CSettingsPage*>(tabs_->currentWidget()); }
