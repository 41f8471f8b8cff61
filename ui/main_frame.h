// The main window: menu, tool bar, the explorer view, the status bar with
// its progress bar and log pane, the timers that poll a running analysis,
// the handling of the workers' messages, and the closing steps.
#pragma once

#include <QMainWindow>
#include <QMap>

#include "ui/window_message_target.h"

class CAppUi;
class CLogPane;
class CRecoveryCommands;
class CVolume;
class CVolumeExploreView;
class QAction;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;

class CMainFrame : public QMainWindow, public IWindowMessageReceiver {
  Q_OBJECT
public:
  // Status texts and their numbers.
  static constexpr uint32_t kReadyString = 57345;
  static constexpr uint32_t kAbortingString = 57112;

  // `mode`: the interface mode (32839 the first layout; 32841 and 32842
  // the second, with the file pane first and "&File" first in the menu).
  CMainFrame(CAppUi& app, int mode);
  ~CMainFrame() override;

  int Mode() const { return mode_; }
  // Runs a command of the menu, tool bar or a context menu.
  void OnCommand(int id);
  QAction* Action(int id) const { return actions_.value(id); }
  CVolumeExploreView& Explorer() { return *explorer_; }
  QLabel* StatusText() const { return status_; }
  QProgressBar* Progress() const { return progress_; }
  CLogPane* LogPane() const { return logPane_; }
  QToolBar* ToolBar() const { return toolBar_; }
  CRecoveryCommands& RecoveryCommands() { return *recoveryCommands_; }

  // Loads an image file as a volume and selects it; false (with a message)
  // when it cannot be opened.
  bool OpenImage(const QString& path);
  // Starts the analysis of the volume: the views let go of its catalog
  // first, then the volume is queued or started.
  void StartAnalysisOf(CVolume* volume);
  // Stops a running analysis as the Stop command does; false when the
  // user declined.
  bool StopAnalysis();
  // Closes the window for a mode switch: the window's place and the
  // settings are kept, nothing is asked and the program goes on.
  void CloseForModeSwitch();
  // What the message loop's idle moment does (also called by tests).
  void OnIdle();

  intptr_t OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  void OnFoundObjects(const std::vector<FoundObjectNotice>& notices) override;
  void OnLogLines(const std::vector<const std::string*>& lines) override;

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void BuildActions();
  void BuildMenu();
  void BuildToolBar();
  void BuildStatusBar();
  QAction* AddAction(int id, const char* text, const char* iconName = nullptr);
  // Check marks, visibility and enabled states from the settings and the
  // analysis.
  void UpdateCommandStates();
  void OnFastTimer();
  void OnSlowTimer();
  void SetStatus(const QString& text);
  void ShowProgress(bool show);
  void RescanDrives();
  void LoadDriveImage();
  void SearchLostDrives();
  void OnLanguageChanged();
  // Shows a dialog of the menu's commands (null: nothing to show).
  void OpenModal(QDialog* dialog);

  CAppUi& app_;
  int mode_;
  bool modeSwitchClose_ = false;
  bool analysisWasRunning_ = false;
  QMap<int, QAction*> actions_;
  CVolumeExploreView* explorer_ = nullptr;
  CRecoveryCommands* recoveryCommands_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  CLogPane* logPane_ = nullptr;
  QTimer* fastTimer_ = nullptr;
  QTimer* slowTimer_ = nullptr;
  QMetaObject::Connection idle_;
};
