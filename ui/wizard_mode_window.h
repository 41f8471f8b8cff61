// What the two wizards share: a top-level window with the left bar of
// steps, the page area under the step's title, Back and Next, a small View
// menu to switch the interface mode, the engine's messages, the timer that
// refreshes the current page, and the closing steps of the main window.
#pragma once

#include <QPointer>
#include <QWidget>

#include <vector>

#include "ui/window_message_target.h"

class CAppUi;
class CWizardMode_LeftBar;
class CWizardMode_Page;
class CWizardMode_ExplorePage;
class CWizardSession;
class IUserPrompts;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;

class CWizardMode_Window : public QWidget, public IWindowMessageReceiver {
  Q_OBJECT
public:
  static constexpr int kTimerMs = 250;

  ~CWizardMode_Window() override;

  int Mode() const { return mode_; }
  int CurrentStep() const;
  int StepCount() const { return static_cast<int>(pages_.size()); }
  CWizardMode_Page* Page(int index) const;
  CWizardSession& Session() { return *session_; }
  QPushButton* BackButton() const { return back_; }
  QPushButton* NextButton() const { return next_; }
  QLabel* TitleLabel() const { return title_; }
  CWizardMode_LeftBar& LeftBar() { return *leftBar_; }

  // Back and Next with the page rules of the wizard.
  void Back();
  void Next();
  // Shows a page, leaving the current one (no rules asked).
  void GoTo(int index);
  // Closes the window for a mode switch: nothing is asked, the program goes on.
  void CloseForModeSwitch();
  // The timer's tick (tests call it instead of waiting).
  void OnTimer();

  intptr_t OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  void OnFoundObjects(const std::vector<FoundObjectNotice>& notices) override;

protected:
  CWizardMode_Window(CAppUi& app, int mode, const char* section);
  // Adds the next step. A drive page moves on when a drive is chosen
  // there; the finish page's "Process Another Drive" starts again at the
  // drive page.
  void AddPage(CWizardMode_Page* page, const char* section);
  // Called once every page was added: the left bar and the first page.
  void PagesAdded();
  IUserPrompts& Prompts();
  // The page rules: false keeps the current page.
  virtual bool MayGoNext(int from) { (void)from; return true; }
  virtual bool MayGoBack(int from) { (void)from; return true; }
  // The answer to "start recovery from beginning?": stops everything of
  // the earlier pass and empties every page's counters.
  void RestartSession();
  void UpdateButtons();
  void closeEvent(QCloseEvent* event) override;

  CAppUi& app_;

private:
  int mode_;
  int firstDriveStep_ = -1;  // where "Process Another Drive" goes
  bool modeSwitchClose_ = false;
  CWizardSession* session_;
  CWizardMode_LeftBar* leftBar_;
  QLabel* title_;
  QStackedWidget* stack_;
  QPushButton* back_;
  QPushButton* next_;
  QTimer* timer_;
  std::vector<CWizardMode_Page*> pages_;
};
