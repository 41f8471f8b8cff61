// The desktop program's half of the application object: the start-up
// sequence, the interface mode and its window (Run), the exit, help and
// About, and the message target the engine's workers post to.
#pragma once

#include <QCloseEvent>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

#include "engine/analysis/analysis_driver.h"
#include "ui/probable_file_size_dialog.h"
#include "ui/user_prompts.h"
#include "ui/window_message_target.h"

class CMainFrame;
class QWidget;
namespace qm {
class CBlockDeviceMonitor;
struct BlockDeviceEvent;
}  // namespace qm

class CAppUi : public QObject, public IScanAbortQuestion {
  Q_OBJECT
public:
  static constexpr int kStartMode = 32839;

  CAppUi();
  ~CAppUi() override;

  // Start-up after the toolkit: settings, the drive list with the log, the
  // rights check, then Run(32839) and the image given as argument. False
  // when the program must end at once (no rights: the error was shown).
  bool Start(const QStringList& arguments, const std::function<bool()>& hasRights);

  // Creates the window of `mode` in place of the current one (whose close is
  // marked as a switch, so the program goes on). -1 returns the current
  // mode; 0 re-creates it. Returns 0, or -1 when no window was created.
  int Run(int mode);
  int Mode() const { return mode_; }
  // The main window, while the mode is one of its layouts.
  CMainFrame* MainFrame() const;
  // The window of the current mode: the main window or a wizard.
  QWidget* Window() const;

  // The close of the window of a mode (the main window or a wizard). A mode
  // switch hands over to the next window: only the window's place and the
  // settings are kept. Otherwise the exit is confirmed first (a No ignores
  // the close and leaves everything running), then `stopWork` ends what the
  // window runs, the temporary files of Try to open are offered for deletion
  // and the program ends.
  void CloseModeWindow(QWidget& window, QCloseEvent* event, bool modeSwitch, const std::function<void()>& stopWork);

  // The closing steps.
  // Asks "Are you sure you want to exit the application?" when ConfirmExit
  // is on; true to go on.
  bool ConfirmExit(QWidget* parent);
  // Offers to delete the temporary files of Try to open.
  void DeleteTemporaryFiles(QWidget* parent);
  // Keeps the window's place and size in the settings for the next window.
  void StoreWindowRect(const QWidget& window);
  // Saves the settings when they changed and ends the message loop (or the
  // process at once with ExitProcessOnClose).
  void Exit();
  // True once Exit ended the message loop.
  bool ExitRequested() const { return exitRequested_; }

  void OpenHelp(int command);
  void ShowAbout(QWidget* parent);
  void ExploreDestination();

  IUserPrompts& Prompts() { return *prompts_; }
  // Tests answer the message boxes themselves (null: the real ones).
  void SetPrompts(IUserPrompts* prompts);
  CWindowMessageTarget& Messages() { return *messages_; }
  // True when no stored settings were found at start-up.
  bool FirstStart() const { return firstStart_; }

  bool ConfirmScanAbort(const std::string& question, const std::string& caption) override;
  // Answers the recovery engines' probable-size questions.
  CProbableSizeQuestion& SizeQuestion() { return sizeQuestion_; }

  // A disk or partition arrived or went away: runs on the device monitor's
  // thread; the drive list changes the volumes' states and tells the main
  // window (WM_MEDIA_CHANGED), whose drives pane refreshes.
  void OnBlockDeviceEvent(const qm::BlockDeviceEvent& event);
  // Whose device events are heard ("udev", "kernel"); empty when no monitor
  // could be started.
  std::string DeviceEventSource() const;

private:
  void StartDeviceMonitor();

  CProbableSizeQuestion sizeQuestion_;
  std::unique_ptr<CWindowMessageTarget> messages_;
  std::unique_ptr<qm::CBlockDeviceMonitor> deviceMonitor_;
  CMessageBoxPrompts messageBoxes_;
  IUserPrompts* prompts_ = &messageBoxes_;
  QPointer<CMainFrame> frame_;
  QPointer<QWidget> window_;
  QPointer<QWidget> help_;
  int mode_ = kStartMode;
  bool firstStart_ = false;
  bool exitRequested_ = false;
};

// The desktop program's application object (made in main).
CAppUi& theAppUi();
