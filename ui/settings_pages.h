// The seven pages of the settings dialog. Each page translates itself
// through its own language section, shows a 48 x 48 icon, reads its fields
// from the settings record when it opens (Load) and writes them back when
// the dialog is applied (Apply).
#pragma once

#include <QWidget>

class CFileTypeTree;
class IUserPrompts;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStyle;

class CSettingsPage : public QWidget {
  Q_OBJECT
public:
  // `section`: the page's language section; `icon`: the style's icon shown
  // at the page's top.
  CSettingsPage(const char* section, int icon, QWidget* parent = nullptr);
  const char* Section() const { return section_; }
  // Registers the page with the languages object (once its controls exist).
  void Register();
  virtual void Load() = 0;
  virtual void Apply() = 0;

protected:
  // The layout below the page's icon and title.
  class QVBoxLayout* Body() const { return body_; }

private:
  const char* section_;
  class QVBoxLayout* body_;
};

class CSettingsDlg_Common : public CSettingsPage {
  Q_OBJECT
public:
  explicit CSettingsDlg_Common(QWidget* parent = nullptr);
  void Load() override;
  void Apply() override;
  QCheckBox* ShowSplash;
};

class CSettingsDlg_Confirms : public CSettingsPage {
  Q_OBJECT
public:
  explicit CSettingsDlg_Confirms(QWidget* parent = nullptr);
  void Load() override;
  void Apply() override;
  QCheckBox *ConfirmExit, *ConfirmScanAbort, *ConfirmRecoveryAbort, *ConfirmOverwrite, *TryOpenWarning;
};

class CSettingsDlg_DriveAccess : public CSettingsPage {
  Q_OBJECT
public:
  explicit CSettingsDlg_DriveAccess(QWidget* parent = nullptr);
  void Load() override;
  void Apply() override;
  QSpinBox *RetryCount, *RetryPause;
};

class CSettingsDlg_Lang : public CSettingsPage {
  Q_OBJECT
public:
  explicit CSettingsDlg_Lang(QWidget* parent = nullptr);
  void Load() override;
  // The language was set when it was chosen.
  void Apply() override {}
  QComboBox* Languages;

private:
  bool loading_ = false;
};

class CSettingsDlg_Logging : public CSettingsPage {
  Q_OBJECT
public:
  explicit CSettingsDlg_Logging(QWidget* parent = nullptr);
  void Load() override;
  void Apply() override;
  QCheckBox* LogToFile;
  QLineEdit* FileName;
  QPushButton* Browse;
  QSpinBox* MaxSize;
  QCheckBox *ClearOnStart, *ToDebugger;

private:
  void UpdateEnabling();
};

class CSettingsDlg_SearchFileTypes : public CSettingsPage {
  Q_OBJECT
public:
  CSettingsDlg_SearchFileTypes(IUserPrompts& prompts, QWidget* parent = nullptr);
  void Load() override;
  // Writes the check marks into the types and saves the database.
  void Apply() override;
  // The signature-file operations behind the Import and Export buttons
  // (which ask for the file first); messages go through the prompts.
  void ImportFile(const QString& path);
  bool ExportFile(const QString& path);
  CFileTypeTree* Tree;
  QPushButton *CheckAll, *UncheckAll, *Properties, *Import, *Export;

private:
  IUserPrompts& prompts_;
};

class CSettingsDlg_Temporary : public CSettingsPage {
  Q_OBJECT
public:
  explicit CSettingsDlg_Temporary(QWidget* parent = nullptr);
  void Load() override;
  void Apply() override;
  QRadioButton *SystemFolder, *CustomFolder;
  QLineEdit* Folder;
  QPushButton* Browse;

private:
  void UpdateEnabling();
};
