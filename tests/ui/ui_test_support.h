// Helpers of the desktop program's tests: answered message boxes, a fresh
// settings store per test, the sample image, and a program started as main()
// starts it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ui/user_prompts.h"

class CAppUi;
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
// Waits (handling events) until the running analysis has ended.
bool WaitForAnalysisEnd(int timeoutMs = 120000);

// The bytes of a file, live or deleted, as The Sleuth Kit reads them from
// the image (the oracle); `path` as fls prints it ("Documents/old draft.txt").
QByteArray SleuthKitBytes(const QString& image, const QString& path);

// Runs a shell command and returns its standard output.
std::string RunCommand(const std::string& command, int* status = nullptr);
bool HaveTool(const char* name);

}  // namespace uitest
