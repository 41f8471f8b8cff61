// The option pages of the wizards: welcome, drive, file types, scanning
// mode and destination (nine steps), and the drive and parameter pages of
// the four-step wizard, which reuse them.
#pragma once

#include "ui/wizard_mode_page.h"

class CFileTypeTree;
class CMyComputerView;
class CWizardSession;
class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

class CWizardMode_Step0 : public CWizardMode_Page {
  Q_OBJECT
public:
  explicit CWizardMode_Step0(QWidget* parent = nullptr);
};

// The drives list; the selected volume becomes the session's.
class CWizardMode_Step1 : public CWizardMode_Page {
  Q_OBJECT
public:
  CWizardMode_Step1(CWizardSession& session, QWidget* parent = nullptr);
  void OnEnter() override;
  bool MayMoveOn() const override;
  CMyComputerView& Drives() { return *drives_; }

signals:
  // A drive was chosen by double click or Enter: the wizard moves on.
  void DriveChosen();

protected:
  CWizardMode_Step1(CWizardSession& session, uint32_t titleString, const char* title, QWidget* parent);

private:
  CWizardSession& session_;
  CMyComputerView* drives_;
};

class CWizardMode_Step2 : public CWizardMode_Page {
  Q_OBJECT
public:
  explicit CWizardMode_Step2(QWidget* parent = nullptr);
  void OnEnter() override;
  void OnLeave() override;
  CFileTypeTree& Types() { return *types_; }

private:
  CFileTypeTree* types_;
};

// "Scan free drive space only" or "Scan entire drive" (WizardScanChoice).
class CWizardMode_Step3 : public CWizardMode_Page {
  Q_OBJECT
public:
  explicit CWizardMode_Step3(QWidget* parent = nullptr);
  void OnEnter() override;
  QRadioButton* FreeSpaceOnly() const { return free_; }
  QRadioButton* EntireDrive() const { return entire_; }

private:
  QRadioButton* free_;
  QRadioButton* entire_;
};

// Fills a file-type tree from the signature database / saves its switches.
void LoadFileTypes(CFileTypeTree& tree);
void SaveFileTypes(const CFileTypeTree& tree);

// The destination folder with Browse..., the warning shown while it lies on
// the drive being recovered, and "Keep the folder structure".
class CWizardDestinationBox : public QWidget {
  Q_OBJECT
public:
  CWizardDestinationBox(CWizardSession& session, QWidget* parent = nullptr);
  // Reads the settings and checks the folder against the session's drive.
  void Reload();
  QLineEdit* Folder() const { return folder_; }
  QLabel* Warning() const { return warning_; }

private:
  void FolderEdited(const QString& text);
  CWizardSession& session_;
  QLineEdit* folder_;
  QLabel* warning_;
  QCheckBox* keepStructure_;
};

class CWizardMode_Step4 : public CWizardMode_Page {
  Q_OBJECT
public:
  CWizardMode_Step4(CWizardSession& session, QWidget* parent = nullptr);
  void OnEnter() override;
  CWizardDestinationBox& Destination() { return *destination_; }

private:
  CWizardDestinationBox* destination_;
};

// The four-step wizard's first step: the drives list.
class CWizardMode_SelectDisk : public CWizardMode_Step1 {
  Q_OBJECT
public:
  CWizardMode_SelectDisk(CWizardSession& session, QWidget* parent = nullptr);
};

// The four-step wizard's second step: file types and destination.
class CWizardMode_ScanParam : public CWizardMode_Page {
  Q_OBJECT
public:
  CWizardMode_ScanParam(CWizardSession& session, QWidget* parent = nullptr);
  void OnEnter() override;
  void OnLeave() override;
  CWizardDestinationBox& Destination() { return *destination_; }

private:
  CFileTypeTree* types_;
  CWizardDestinationBox* destination_;
};
