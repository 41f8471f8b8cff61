// The explorer's recovery, size and image commands: the Recover dialog and
// the recovery it starts, Try to open, the two size commands and the drive
// image commands. Dialogs are modal but opened without a nested event loop,
// so the interface thread goes on handling events (and tests drive them).
#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

class CCreateImageDlg;
class CFoundObject;
class COnRecoveryDlg;
class CRecovery;
class CRecoveryProgressDlg;
class CVolume;
class CVolumeExploreView;
class CWindowMessageTarget;
class IUserPrompts;
class QWidget;

class CRecoveryCommands : public QObject {
  Q_OBJECT
public:
  CRecoveryCommands(CVolumeExploreView& explorer, IUserPrompts& prompts, CWindowMessageTarget& messages,
                    QWidget* window);

  // "Recover...": the Recover dialog; its OK posts WM_START_RECOVERY.
  void Recover();
  // WM_START_RECOVERY: the list from the selection, the worker and the
  // progress dialog.
  void StartRecovery();
  // "Try To Open...": the warning (unless switched off), then the recovery
  // into the temporary folder with the self-closing progress dialog.
  void TryOpen();
  // "Set New Size...": the probable-size dialog on the first selected
  // object; OK sizes every selected object.
  void SetNewSize();
  // "Create Drive Image..." on the volume selected in the drives pane.
  void CreateImage();

  // The open dialogs (null when closed).
  COnRecoveryDlg* RecoverDialog() const;
  CRecoveryProgressDlg* ProgressDialog() const;
  CCreateImageDlg* ImageDialog() const;

private:
  // The objects a recovery takes: the file list's selection, or with the
  // folder tree focused the files below its folder (`withFolders` false).
  std::vector<CFoundObject*> RecoverySelection(bool& withFolders) const;
  void ShowProgress(CRecovery& recovery, bool selfClosing);
  void StartTryOpen();

  CVolumeExploreView& explorer_;
  IUserPrompts& prompts_;
  CWindowMessageTarget& messages_;
  QWidget* window_;
  QPointer<QObject> recoverDialog_;
  QPointer<QObject> progress_;
  QPointer<QObject> imageDialog_;
};
