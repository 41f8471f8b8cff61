// Helpers of the desktop program's tests: answered message boxes, a fresh
// settings store per test, the sample image, and a program started as main()
// starts it.
#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ui/user_prompts.h"

#include <QModelIndex>

class CAppUi;
class CFilesListView;
class CFilesTreeView;
class QDialog;
class CMainFrame;
class CRegistryStore;

namespace uitest {

// Records every message box and answers the Yes/No ones from a list (No
// when the list is empty). `onAsk` runs while a question is open.
class CRecordingPrompts : public IUserPrompts {
public:
  struct Shown {
    QString kind, text, caption;
  };
  bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowError(QWidget* parent, const QString& text, const QString& caption) override;
  void ShowMessage(QWidget* parent, const QString& text, const QString& caption) override;

  std::deque<bool> answers;
  std::vector<Shown> shown;
  std::function<void()> onAsk;
};

// The settings, as a first start sees them: an empty store of their own.
// The store stays the application's until the next call.
void UseFreshSettings();
// The settings as the last program run stored them.
void KeepSettings();

// The sample FAT32 image (unpacked from its .zst when needed).
QString SampleImage();
// An image of `megabytes` MiB of zeros (sparse), made once per process.
QString ZeroImage(int megabytes);

// A started program: the application object with recorded message boxes.
struct Program {
  std::unique_ptr<CAppUi> app;
  CRecordingPrompts prompts;
  CMainFrame* frame() const;
};
// Starts the program as main() does (with rights unless told otherwise);
// the idle moment has passed when it returns.
std::unique_ptr<Program> StartProgram(const QStringList& arguments, bool withRights = true);
// A program started on the sample image with fresh settings, the image
// analysed (file system and sector scan) as a double-click in the drives
// pane starts it.
std::unique_ptr<Program> StartOnAnalysedSample();
// Waits (handling events) until the running analysis has ended.
bool WaitForAnalysisEnd(int timeoutMs = 120000);

// The child row of `parent` in the folder tree named `name`, expanding the
// parent first (which reads its branch); invalid when there is none.
QModelIndex TreeChild(CFilesTreeView& tree, const QModelIndex& parent, const QString& name);
// The names of the file list's rows, in their order.
QStringList ListNames(CFilesListView& list);

// Runs a main-window command and returns the dialog of class `type` it
// opened (null when none), and closes such a dialog again.
QDialog* OpenDialogByCommand(CMainFrame* frame, int command, const QMetaObject& type);
void CloseDialog(QDialog* dialog);
// The dialog a command opened, closed at the end of the scope.
template <class D>
struct OpenedDialog {
  OpenedDialog(CMainFrame* frame, int command)
      : dialog(static_cast<D*>(OpenDialogByCommand(frame, command, D::staticMetaObject))) {}
  ~OpenedDialog() { CloseDialog(dialog); }
  OpenedDialog(const OpenedDialog&) = delete;
  OpenedDialog& operator=(const OpenedDialog&) = delete;
  D* dialog;
};

// Runs a shell command and returns its standard output.
std::string RunCommand(const std::string& command, int* status = nullptr);
bool HaveTool(const char* name);

}  // namespace uitest
