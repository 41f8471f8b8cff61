#include "ui/recovery_commands.h"

#include "engine/catalog/found_object.h"
#include "engine/recovery/recovery.h"
#include "engine/scanner/probable_size.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"
#include "ui/app_ui.h"
#include "ui/main_frame.h"
#include "ui/create_image_dialog.h"
#include "ui/files_list_view.h"
#include "ui/files_tree_view.h"
#include "ui/my_computer_view.h"
#include "ui/recovery_dialog.h"
#include "ui/recovery_progress_dlg.h"
#include "ui/try_open_dialog.h"
#include "ui/volume_explore_view.h"
#include "ui/window_message_target.h"

CRecoveryCommands::CRecoveryCommands(CVolumeExploreView& explorer, IUserPrompts& prompts,
                                     CWindowMessageTarget& messages, QWidget* window)
    : QObject(window), explorer_(explorer), prompts_(prompts), messages_(messages), window_(window) {}

namespace {

// A dialog on screen (one that closed may wait for its deletion).
bool Showing(const QPointer<QObject>& dialog) {
  auto* widget = qobject_cast<QWidget*>(dialog.data());
  return widget && widget->isVisible();
}

}  // namespace

COnRecoveryDlg* CRecoveryCommands::RecoverDialog() const {
  return Showing(recoverDialog_) ? qobject_cast<COnRecoveryDlg*>(recoverDialog_) : nullptr;
}
CRecoveryProgressDlg* CRecoveryCommands::ProgressDialog() const {
  return Showing(progress_) ? qobject_cast<CRecoveryProgressDlg*>(progress_) : nullptr;
}
CCreateImageDlg* CRecoveryCommands::ImageDialog() const {
  return Showing(imageDialog_) ? qobject_cast<CCreateImageDlg*>(imageDialog_) : nullptr;
}

std::vector<CFoundObject*> CRecoveryCommands::RecoverySelection(bool& withFolders) const {
  withFolders = true;
  if (explorer_.Tree().hasFocus() && explorer_.CurrentFolder()) {
    withFolders = false;
    return {explorer_.CurrentFolder()};
  }
  return explorer_.Selection();
}

void CRecoveryCommands::Recover() {
  if (Showing(recoverDialog_) || Showing(progress_)) return;
  auto* dialog = new COnRecoveryDlg(explorer_.CurrentVolume(), prompts_, window_);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  recoverDialog_ = dialog;
  connect(dialog, &QDialog::accepted, this, [this] { messages_.PostMessage(WM_START_RECOVERY, 0, 0); });
  dialog->open();
}

void CRecoveryCommands::StartRecovery() {
  CRecovery& recovery = theComputer().Recovery();
  if (recovery.IsWorking() || Showing(progress_)) return;
  bool withFolders = true;
  const std::vector<CFoundObject*> selection = RecoverySelection(withFolders);
  recovery.SourceVolume = explorer_.CurrentVolume();
  recovery.Destination = theApp().Settings.DestinationFolderText();
  if (!recovery.StartRecovery(selection, withFolders)) return;
  ShowProgress(recovery, false);
}

void CRecoveryCommands::TryOpen() {
  CRecovery& recovery = theComputer().TryOpen();
  if (recovery.IsWorking() || Showing(progress_)) return;
  bool withFolders = true;
  recovery.BuildList(RecoverySelection(withFolders), withFolders);
  if (recovery.List().empty()) {
    theLog().AddError("Recovery list is empty!");
    return;
  }
  if (theApp().Settings.NoTryOpenWarning != 0) {
    StartTryOpen();
    return;
  }
  auto* warning = new CDlgTryOpen(window_);
  warning->setAttribute(Qt::WA_DeleteOnClose);
  connect(warning, &QDialog::accepted, this, &CRecoveryCommands::StartTryOpen);
  warning->open();
}

void CRecoveryCommands::StartTryOpen() {
  CRecovery& recovery = theComputer().TryOpen();
  recovery.SourceVolume = explorer_.CurrentVolume();
  if (!recovery.StartTryOpen()) return;
  ShowProgress(recovery, true);
}

void CRecoveryCommands::ShowProgress(CRecovery& recovery, bool selfClosing) {
  auto* dialog = new CRecoveryProgressDlg(recovery, prompts_, selfClosing, window_);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  progress_ = dialog;
  // A size question still open for an aborted run is withdrawn with it.
  connect(dialog, &CRecoveryProgressDlg::Aborted, this, [] { theAppUi().SizeQuestion().CancelOpen(); });
  connect(dialog, &QDialog::finished, this, [this] { explorer_.Files().RefreshVisibleRows(); });
  dialog->open();
}

void CRecoveryCommands::SetNewSize() {
  // The files of the selection, as a recovery would take them.
  std::vector<CFoundObject*> selection = MakeRecoveryList(explorer_.Selection());
  std::erase_if(selection, [](const CFoundObject* o) { return o->IsFolder(); });
  if (selection.empty()) return;
  CVolume* volume = selection.front()->Volume;
  ::SetNewSize(selection, &theAppUi().SizeQuestion(), volume ? &volume->Catalog() : nullptr);
  explorer_.Files().RefreshVisibleRows();
  explorer_.Results().RefreshVisibleRows();
}

void CRecoveryCommands::CreateImage() {
  CVolume* source = explorer_.Drives().SelectedVolume();
  if (!source || Showing(imageDialog_)) return;
  CCreateImageDlg* dialog = CreateDriveImage(*source, prompts_, window_);
  if (!dialog) return;
  imageDialog_ = dialog;
  connect(dialog, &CCreateImageDlg::ImageLoaded, this, [this](CVolume* volume) {
    explorer_.RefreshDrives();
    explorer_.SelectVolume(volume);
  });
}
