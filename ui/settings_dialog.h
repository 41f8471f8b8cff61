// "Program Settings": a property sheet of the seven settings pages, opened
// on the page of the Options command that asked for it. OK and Apply write
// every page into the settings record (the idle moment stores it); Cancel
// leaves the record as it was, except for a language chosen on the
// languages page, which takes effect at once.
#pragma once

#include <QDialog>

#include <vector>

class CSettingsPage;
class CSettingsDlg_Common;
class CSettingsDlg_Confirms;
class CSettingsDlg_DriveAccess;
class CSettingsDlg_Lang;
class CSettingsDlg_Logging;
class CSettingsDlg_SearchFileTypes;
class CSettingsDlg_Temporary;
class IUserPrompts;
class QTabWidget;

class CSettingsDlg : public QDialog {
  Q_OBJECT
public:
  // `command`: the Options command (ID_SETTINGS opens the first page).
  CSettingsDlg(IUserPrompts& prompts, int command, QWidget* parent = nullptr);

  // The page an Options command opens.
  static int PageForCommand(int command);
  // Writes every page into the settings record.
  void ApplyAll();
  QTabWidget* Pages() const { return tabs_; }
  CSettingsPage* CurrentPage() const;

  CSettingsDlg_Common* Common;
  CSettingsDlg_Confirms* Confirms;
  CSettingsDlg_DriveAccess* DriveAccess;
  CSettingsDlg_Lang* Language;
  CSettingsDlg_Logging* Logging;
  CSettingsDlg_SearchFileTypes* FileTypes;
  CSettingsDlg_Temporary* Temporary;

private:
  QTabWidget* tabs_;
  std::vector<CSettingsPage*> pages_;
};
