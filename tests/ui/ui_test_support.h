// Helpers of the desktop program's tests: answered message boxes, a fresh
// settings store per test, the sample image, and a program started as main()
// starts it.
#pragma once

#include <QByteArray>
#include <QModelIndex>
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

// Waits on work done by the program's worker threads (analysis, search,
// recovery, imaging). They run at the lowest priority, so on a machine busy
// with other tests they may get no processor for seconds: the waits end as
// soon as the work is done, long before this.
constexpr int kWorkerWaitMs = 30000;

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
  // The folder and file dialogs answer from `paths` (empty: cancelled) and
  // are recorded as kind "folder", "save" or "open" with their title.
  QString ChooseFolder(QWidget* parent, const QString& title, const QString& start) override;
  QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& suggested, const QStringList& filters,
                         const QString& defaultSuffix) override;
  QString ChooseOpenFile(QWidget* parent, const QString& title, const QStringList& filters,
                         const QString& defaultSuffix) override;

  std::deque<bool> answers;
  std::deque<QString> paths;
  // What the last file dialog offered: the suggested name and the filters.
  QString suggested;
  QStringList filters;
  std::vector<Shown> shown;
  std::function<void()> onAsk;

private:
  QString NextPath(const char* kind, const QString& title);
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
// A program with fresh settings started on the sample image and its
// analysis (file system and sector scan) finished; null when it failed.
std::unique_ptr<Program> StartAnalysedSample();
// Waits (handling events) until the running analysis has ended.
bool WaitForAnalysisEnd(int timeoutMs = 120000);

// The child row of `parent` in the folder tree named `name`, expanding the
// parent first (which reads its branch).
QModelIndex TreeChild(CFilesTreeView& tree, const QModelIndex& parent, const QString& name);
// The row of the file list named `name`, or -1.
int ListRow(CFilesListView& list, const QString& name);
// Bytes of a file of the image as The Sleuth Kit reads them (the oracle);
// `path` as fls prints it ("Documents/old draft.txt").
QByteArray SleuthKitBytes(const QString& image, const QString& path);

// Makes the language file `name` ("Deutsch") the active language; false
// when there is no such file beside the program.
bool SetLanguage(const std::string& name);
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
