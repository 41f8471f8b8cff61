#include "ui/wizard_mode_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/my_computer_view.h"
#include "ui/ui_texts.h"
#include "ui/volume_explore_view.h"
#include "ui/wizard_mode_analysing.h"
#include "ui/wizard_mode_explore_page.h"
#include "ui/wizard_mode_finish.h"
#include "ui/wizard_mode_left_bar.h"
#include "ui/wizard_mode_page.h"
#include "ui/wizard_mode_scan_page.h"
#include "ui/wizard_mode_steps.h"
#include "ui/wizard_session.h"

CWizardMode_Window::CWizardMode_Window(CAppUi& app, int mode, const char* section)
    : app_(app),
      mode_(mode),
      session_(new CWizardSession(this)),
      leftBar_(new CWizardMode_LeftBar),
      title_(new QLabel),
      stack_(new QStackedWidget),
      back_(new QPushButton("< &Back")),
      next_(new QPushButton("&Next >")),
      timer_(new QTimer(this)) {
  setObjectName(section);
  setAttribute(Qt::WA_DeleteOnClose);
  // A wizard runs one phase at a time, and its log shows plain lines.
  CSettings& settings = theApp().Settings;
  settings.AnalyseOnReady = 0;
  settings.LogTimeStamps = 0;

  auto* menuBar = new QMenuBar(this);
  QMenu* view = menuBar->addMenu("&View");
  const std::pair<int, const char*> modes[] = {{ID_MODE_MAIN, "Drives first"},
                                               {ID_MODE_MAIN_FILES_FIRST, "Files first"},
                                               {ID_MODE_WIZARD, "Wizard"},
                                               {ID_MODE_WIZARD2, "Short Wizard"}};
  for (const auto& [id, text] : modes) {
    QAction* action = view->addAction(text);
    action->setData(id);
    action->setCheckable(true);
    action->setChecked(id == mode);
    connect(action, &QAction::triggered, this, [this, id = id] {
      // After this handler returns: the switch closes this window.
      QMetaObject::invokeMethod(&app_, [app = &app_, id] { app->Run(id); }, Qt::QueuedConnection);
    });
  }

  back_->setObjectName("Back");
  next_->setObjectName("Next");
  title_->setObjectName("StepTitle");
  QFont font = title_->font();
  font.setPointSizeF(font.pointSizeF() * 1.3);
  font.setBold(true);
  title_->setFont(font);
  title_->setWordWrap(true);

  auto* right = new QVBoxLayout;
  right->setContentsMargins(8, 8, 8, 8);
  right->addWidget(title_);
  right->addWidget(stack_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  right->addLayout(buttons);
  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  body->addWidget(leftBar_);
  body->addLayout(right, 1);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setMenuBar(menuBar);
  outer->addLayout(body, 1);

  connect(back_, &QPushButton::clicked, this, &CWizardMode_Window::Back);
  connect(next_, &QPushButton::clicked, this, &CWizardMode_Window::Next);
  connect(timer_, &QTimer::timeout, this, &CWizardMode_Window::OnTimer);
  timer_->start(kTimerMs);

  app_.Messages().SetReceiver(this);
  theApp().MainWindow = &app_.Messages();
  theApp().LogWindow = &app_.Messages();
  RegisterFrame(section, this, {});
}

CWizardMode_Window::~CWizardMode_Window() {
  if (app_.Window() == this || app_.Window() == nullptr) app_.Messages().SetReceiver(nullptr);
}

IUserPrompts& CWizardMode_Window::Prompts() { return app_.Prompts(); }

void CWizardMode_Window::AddPage(CWizardMode_Page* page, const char* section) {
  pages_.push_back(page);
  stack_->addWidget(page);
  connect(page, &CWizardMode_Page::StateChanged, this, &CWizardMode_Window::UpdateButtons);
  if (auto* drive = qobject_cast<CWizardMode_Step1*>(page))
    connect(drive, &CWizardMode_Step1::DriveChosen, this, &CWizardMode_Window::Next);
  if (auto* finish = qobject_cast<CWizardMode_Finish*>(page)) {
    const int driveStep = firstDriveStep_;
    connect(finish, &CWizardMode_Finish::ProcessAnotherDrive, this, [this, driveStep] {
      RestartSession();
      GoTo(driveStep);
    });
  }
  if (qobject_cast<CWizardMode_Step1*>(page) && firstDriveStep_ < 0) firstDriveStep_ = StepCount() - 1;
  RegisterView(section, page, 0, {});
}

void CWizardMode_Window::PagesAdded() {
  QStringList titles;
  for (CWizardMode_Page* page : pages_) titles << page->Title();
  leftBar_->SetSteps(titles);
  GoTo(0);
}

int CWizardMode_Window::CurrentStep() const {
  for (size_t i = 0; i < pages_.size(); ++i)
    if (stack_->currentWidget() == pages_[i]) return static_cast<int>(i);
  return -1;
}

CWizardMode_Page* CWizardMode_Window::Page(int index) const {
  return index >= 0 && index < StepCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

void CWizardMode_Window::GoTo(int index) {
  CWizardMode_Page* page = Page(index);
  if (!page) return;
  if (CWizardMode_Page* current = Page(CurrentStep()); current && current != page) current->OnLeave();
  stack_->setCurrentWidget(page);
  title_->setText(page->Title());
  leftBar_->SetCurrentStep(index);
  page->OnEnter();
  UpdateButtons();
}

void CWizardMode_Window::Back() {
  const int from = CurrentStep();
  if (from <= 0 || !back_->isEnabled() || !MayGoBack(from)) return;
  // A rule may have moved the wizard already.
  if (CurrentStep() == from) GoTo(from - 1);
}

void CWizardMode_Window::Next() {
  const int from = CurrentStep();
  if (from + 1 >= StepCount() || !next_->isEnabled() || !MayGoNext(from)) return;
  if (CurrentStep() == from) GoTo(from + 1);
}

void CWizardMode_Window::UpdateButtons() {
  const int step = CurrentStep();
  CWizardMode_Page* page = Page(step);
  const bool mayMove = page && page->MayMoveOn();
  back_->setEnabled(step > 0 && !session_->Busy() && !session_->RecoveryRunning());
  next_->setEnabled(step + 1 < StepCount() && mayMove);
}

void CWizardMode_Window::OnTimer() {
  if (CWizardMode_Page* page = Page(CurrentStep())) page->OnTimer();
  UpdateButtons();
}

void CWizardMode_Window::RestartSession() {
  session_->Restart();
  for (CWizardMode_Page* page : pages_) {
    if (auto* scan = qobject_cast<CWizardMode_ScanPage*>(page)) scan->Reset();
    if (auto* analysing = qobject_cast<CWizardMode_Analysing*>(page)) analysing->Reset();
    if (auto* explore = qobject_cast<CWizardMode_ExplorePage*>(page))
      explore->Explorer().PrepareForAnalysis(session_->Volume());
  }
}

intptr_t CWizardMode_Window::OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t) {
  switch (message) {
    case WM_LOG_LINE:
      if (const auto* line = reinterpret_cast<const std::string*>(wParam))
        if (CWizardMode_Page* page = Page(CurrentStep())) page->OnLogLine(QString::fromStdString(*line));
      break;
    case WM_FS_ANALYSIS_DONE:
    case WM_SCAN_FINISHED:
    case WM_ANALYSIS_DONE:
    case WM_SCAN_STARTED: {
      CVolume* volume = session_->Volume();
      for (CWizardMode_Page* page : pages_)
        if (auto* explore = qobject_cast<CWizardMode_ExplorePage*>(page)) {
          if (message == WM_FS_ANALYSIS_DONE) explore->Explorer().OnFileSystemDone(volume);
          else if (message == WM_SCAN_STARTED) explore->Explorer().OnScanStarted(volume);
          else explore->Explorer().OnScanFinished(volume);
        }
      // A late message of an analysis that ended must not mark the next one stopped.
      if ((message == WM_SCAN_FINISHED || message == WM_ANALYSIS_DONE) && !session_->Busy())
        theApp().AnalysisRunning = 0;
      // The pages see the end at the next tick: a phase started from a tick
      // handles the messages of the earlier one first, and must not be
      // entered again from here.
      break;
    }
    case WM_MEDIA_CHANGED:
    case WM_VOLUME_FOUND:
      for (CWizardMode_Page* page : pages_)
        if (auto* drives = qobject_cast<CWizardMode_Step1*>(page)) drives->Drives().RefreshDrives();
      break;
    default: break;
  }
  return 0;
}

void CWizardMode_Window::OnFoundObjects(const std::vector<FoundObjectNotice>& notices) {
  for (CWizardMode_Page* page : pages_)
    if (auto* explore = qobject_cast<CWizardMode_ExplorePage*>(page)) explore->Explorer().OnFoundObjects(notices);
}

void CWizardMode_Window::CloseForModeSwitch() {
  modeSwitchClose_ = true;
  close();
}

void CWizardMode_Window::closeEvent(QCloseEvent* event) {
  app_.CloseModeWindow(*this, event, modeSwitchClose_, [this] { session_->Restart(); });
}
