// The Recover dialog: where the recovered files go, whether their folders
// are kept, and the warning about writing to the drive being recovered.
// OK stores the fields in the settings, runs the same-drive check and is
// then accepted; the caller starts the recovery.
#pragma once

#include <QDialog>

class CVolume;
class IUserPrompts;
class QCheckBox;
class QLineEdit;
class QPushButton;

class COnRecoveryDlg : public QDialog {
  Q_OBJECT
public:
  static constexpr const char* kSection = "RecoverDialog";
  enum ControlId : int {
    IDC_HEADING = 1101,
    IDC_FOLDER_LABEL = 1102,
    IDC_BROWSE = 1103,
    IDC_KEEP_STRUCTURE = 1104,
    IDC_WARNING = 1105,
  };

  // `source`: the volume being recovered from (null: no same-drive check).
  COnRecoveryDlg(CVolume* source, IUserPrompts& prompts, QWidget* parent);

  QLineEdit* Folder() const { return folder_; }
  QCheckBox* KeepStructure() const { return keep_; }
  QPushButton* BrowseButton() const { return browse_; }
  QPushButton* OkButton() const { return ok_; }

  void accept() override;

private:
  void Browse();

  CVolume* source_;
  IUserPrompts& prompts_;
  QLineEdit* folder_;
  QCheckBox* keep_;
  QPushButton* browse_;
  QPushButton* ok_;
};
