#include "ui/main_frame.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

#include "engine/recovery/recovery.h"
#include "engine/volume/image_job.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "engine/analysis/analysis_driver.h"
#include "platform/messages.h"
#include "services/app.h"
#include "services/log.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/create_image_dialog.h"
#include "ui/log_pane.h"
#include "ui/my_computer_view.h"
#include "ui/recovery_commands.h"
#include "ui/settings_dialog.h"
#include "ui/ui_texts.h"
#include "ui/user_prompts.h"
#include "ui/volume_explore_view.h"

namespace {

constexpr uint32_t kLayoutMessage = 32878;
constexpr int kFastTimerMs = 250;
constexpr int kSlowTimerMs = 2000;

bool FilesFirst(int mode) { return mode == ID_MODE_MAIN_FILES_FIRST || mode == ID_MODE_MAIN_FILES_FIRST2; }

}  // namespace

CMainFrame::CMainFrame(CAppUi& app, int mode) : app_(app), mode_(mode) {
  setObjectName("MainFrame");
  setAttribute(Qt::WA_DeleteOnClose);
  CSettings& settings = theApp().Settings;
  settings.AnalyseOnReady = 1;

  explorer_ = new CVolumeExploreView(app_.Prompts(), this);
  setCentralWidget(explorer_);
  recoveryCommands_ = new CRecoveryCommands(*explorer_, app_.Prompts(), app_.Messages(), this);
  BuildActions();
  BuildMenu();
  BuildToolBar();
  BuildStatusBar();
  connect(explorer_, &CVolumeExploreView::AnalysisRequested, this, &CMainFrame::StartAnalysisOf);
  connect(explorer_, &CVolumeExploreView::Command, this, &CMainFrame::OnCommand);

  fastTimer_ = new QTimer(this);
  connect(fastTimer_, &QTimer::timeout, this, &CMainFrame::OnFastTimer);
  fastTimer_->start(kFastTimerMs);
  slowTimer_ = new QTimer(this);
  connect(slowTimer_, &QTimer::timeout, this, &CMainFrame::OnSlowTimer);
  slowTimer_->start(kSlowTimerMs);

  explorer_->ShowLegend(settings.ShowLegend != 0);
  // The idle handler: the moment the event loop has nothing left to do.
  idle_ = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                  &CMainFrame::OnIdle);
  app_.Messages().SetReceiver(this);
  theApp().MainWindow = &app_.Messages();
  theApp().LogWindow = &app_.Messages();
  QStringList earlier;
  for (const std::string& line : theLog().Lines()) earlier << QString::fromStdString(line);
  logPane_->AddLines(earlier);

  theLog().AddMessage("Program running.");
  // Message 32878: the panes laid out for the mode once the window has its size.
  QMetaObject::invokeMethod(this, [this] { OnWindowMessage(kLayoutMessage, 0, 0); }, Qt::QueuedConnection);

  // The "&File"-first menu is the designed one reordered: its titles keep
  // the keys of their designed places.
  RegisterMainMenu(menuBar(), FilesFirst(mode_) ? std::vector<int>{1, 0} : std::vector<int>{});
  RegisterToolBar(kSectionToolBar, toolBar_);
  RegisterFrame(kSectionMainFrame, this, [this] { OnLanguageChanged(); });
}

CMainFrame::~CMainFrame() {
  disconnect(idle_);
  if (theApp().MainWindow.load() == &app_.Messages() && app_.MainFrame() == this) app_.Messages().SetReceiver(nullptr);
}

QAction* CMainFrame::AddAction(int id, const char* text, const char* iconName) {
  auto* action = new QAction(QString::fromUtf8(text), this);
  action->setData(id);
  const QString label = action->text();
  const int tab = label.indexOf('\t');
  if (tab >= 0) action->setShortcut(QKeySequence(label.mid(tab + 1)));
  if (iconName) action->setIcon(QIcon::fromTheme(iconName));
  action->setEnabled(CommandAvailable(id));
  connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
  actions_.insert(id, action);
  return action;
}

void CMainFrame::BuildActions() {
  QStyle* s = style();
  AddAction(ID_START_ANALYZING, "Start Analyzing")->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
  AddAction(ID_STOP_ANALYZING, "Stop Analyzing")->setIcon(s->standardIcon(QStyle::SP_MediaStop));
  AddAction(ID_CREATE_IMAGE, "Create Drive Image...");
  AddAction(ID_LOAD_IMAGE, "Load Drive Image...")->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  AddAction(ID_RESCAN_DRIVES, "Rescan Drives")->setShortcut(QKeySequence(Qt::Key_F5));
  AddAction(ID_SEARCH_LOST_DRIVES, "Search Lost Drives");
  AddAction(ID_EXIT, "&Exit");
  AddAction(ID_SELECT_ALL, "Select all\tCtrl+A");
  AddAction(ID_RECOVER, "Recover... \tCtrl+R")->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  AddAction(ID_TRY_OPEN, "Try To Open...");
  AddAction(ID_RESET_SIZE, "R&eset Size");
  AddAction(ID_SET_NEW_SIZE, "Set &New Size...");
  AddAction(ID_INFORMATION, "&Information...\tCtrl+I");
  AddAction(ID_SEARCH, "&Search")->setIcon(s->standardIcon(QStyle::SP_FileDialogContentsView));
  AddAction(ID_FILTERS, "Filters...");
  AddAction(ID_LEGEND, "Legend")->setCheckable(true);
  AddAction(ID_VIEW_TOOLBAR, "&Tool bar")->setCheckable(true);
  AddAction(ID_VIEW_STATUS_BAR, "&Status Bar")->setCheckable(true);
  AddAction(ID_TOGGLE_LOG, "Toggle log")->setCheckable(true);
  AddAction(ID_MODE_MAIN, "Drives first")->setCheckable(true);
  AddAction(ID_MODE_MAIN_FILES_FIRST, "Files first")->setCheckable(true);
  AddAction(ID_MODE_WIZARD, "Wizard");
  AddAction(ID_MODE_WIZARD2, "Short Wizard");
  AddAction(ID_SETTINGS, "Settings...")->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
  AddAction(ID_SETTINGS_COMMON, "Common Settings...");
  AddAction(ID_SETTINGS_CONFIRMATIONS, "Confirmations...");
  AddAction(ID_SETTINGS_TEMP_FOLDER, "Temporary Folder...");
  AddAction(ID_SETTINGS_DRIVE_ACCESS, "Drive Access...");
  AddAction(ID_SETTINGS_LANGUAGE, "Interface Language...");
  AddAction(ID_SETTINGS_LOGGING, "Logging...");
  AddAction(ID_SETTINGS_FILE_TYPES, "File Types...");
  AddAction(ID_HELP_CONTENTS, "Contents\tF1");
  AddAction(ID_HELP_GUIDE, "Recovery Guide");
  AddAction(ID_HELP_SEARCH, "Search for Help on...");
  AddAction(ID_ABOUT, "&About...");
  AddAction(ID_LOG_FILE, "...");
}

void CMainFrame::BuildMenu() {
  auto fill = [this](QMenu* menu, std::initializer_list<int> ids) {
    for (int id : ids) {
      if (id == 0) menu->addSeparator();
      else menu->addAction(actions_.value(id));
    }
  };
  QMenuBar* bar = menuBar();
  auto disk = [&] {
    fill(bar->addMenu("&Disk"), {ID_START_ANALYZING, ID_STOP_ANALYZING, 0, ID_CREATE_IMAGE, ID_LOAD_IMAGE, 0,
                                 ID_RESCAN_DRIVES, ID_SEARCH_LOST_DRIVES, 0, ID_EXIT});
  };
  auto file = [&] {
    fill(bar->addMenu("&File"), {ID_SELECT_ALL, 0, ID_RECOVER, ID_TRY_OPEN, 0, ID_RESET_SIZE, ID_SET_NEW_SIZE, 0,
                                 ID_INFORMATION});
  };
  // The second layout's menu has "&File" first.
  if (FilesFirst(mode_)) {
    file();
    disk();
  } else {
    disk();
    file();
  }
  QMenu* view = bar->addMenu("&View");
  fill(view, {ID_SEARCH, ID_FILTERS, 0, ID_LEGEND, ID_TOGGLE_LOG, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, 0,
              ID_MODE_MAIN, ID_MODE_MAIN_FILES_FIRST, ID_MODE_WIZARD, ID_MODE_WIZARD2});
  fill(bar->addMenu("Options"), {ID_SETTINGS, 0, ID_SETTINGS_COMMON, ID_SETTINGS_CONFIRMATIONS,
                                 ID_SETTINGS_TEMP_FOLDER, ID_SETTINGS_DRIVE_ACCESS, ID_SETTINGS_LANGUAGE,
                                 ID_SETTINGS_LOGGING, ID_SETTINGS_FILE_TYPES});
  fill(bar->addMenu("&Help"), {ID_HELP_CONTENTS, ID_HELP_GUIDE, ID_HELP_SEARCH, 0, ID_ABOUT});
}

void CMainFrame::BuildToolBar() {
  toolBar_ = addToolBar("Tool bar");
  toolBar_->setObjectName("ToolBar");
  toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolBar_->setMovable(false);
  for (int id : {ID_START_ANALYZING, ID_STOP_ANALYZING, ID_RECOVER, ID_SEARCH, ID_SETTINGS})
    toolBar_->addAction(actions_.value(id));
  // The tool bar shows the bare command names.
  for (QAction* a : toolBar_->actions())
    a->setIconText(a->text().section('\t', 0, 0).remove("...").remove('&').trimmed());
}

void CMainFrame::BuildStatusBar() {
  status_ = new QLabel(this);
  status_->setFixedWidth(250);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setFixedWidth(200);
  progress_->setVisible(false);
  logPane_ = new CLogPane(this);
  connect(logPane_, &CLogPane::ShowLogFileRequested, this, [this] { OnCommand(ID_LOG_FILE); });
  statusBar()->addWidget(status_);
  statusBar()->addWidget(progress_);
  statusBar()->addWidget(logPane_, 1);
  SetStatus(UiString(kReadyString, "Ready"));
}

void CMainFrame::SetStatus(const QString& text) { status_->setText(text); }

void CMainFrame::ShowProgress(bool show) {
  if (progress_->isVisible() != show) progress_->setVisible(show);
  if (!show) progress_->setValue(0);
}

void CMainFrame::OnFastTimer() {
  // While workers keep the event loop busy it is seldom idle: the command
  // states follow the analysis from here too.
  UpdateCommandStates();
  explorer_->LetGoOfClearedCatalog();
  if (theApp().AnalysisRunning.load() == 1) {
    ShowProgress(true);
    CVolume* v = theComputer().CurrentVolume();
    const uint64_t end = v ? v->EndPositionValue.load() : 0;
    if (end >= 100) progress_->setValue(static_cast<int>(std::min<uint64_t>(v->PositionValue.load() / (end / 100), 100)));
    analysisWasRunning_ = true;
  } else {
    ShowProgress(false);
    SetStatus(UiString(kReadyString, "Ready"));
  }
}

void CMainFrame::OnSlowTimer() {
  // Only what is on screen is refreshed: rows found since the last tick have
  // joined the lists through their models already.
  if (theApp().AnalysisRunning.load() == 1) explorer_->RefreshWhileBusy();
}

void CMainFrame::UpdateCommandStates() {
  CSettings& s = theApp().Settings;
  actions_[ID_LEGEND]->setChecked(s.ShowLegend != 0);
  actions_[ID_VIEW_TOOLBAR]->setChecked(s.ShowToolBar != 0);
  actions_[ID_VIEW_STATUS_BAR]->setChecked(s.ShowStatusBar != 0);
  actions_[ID_TOGGLE_LOG]->setChecked(s.ShowLog != 0);
  actions_[ID_MODE_MAIN]->setChecked(!FilesFirst(mode_));
  actions_[ID_MODE_MAIN_FILES_FIRST]->setChecked(FilesFirst(mode_));
  toolBar_->setVisible(s.ShowToolBar != 0);
  statusBar()->setVisible(s.ShowStatusBar != 0);
  logPane_->setVisible(s.ShowLog != 0);
  const bool running = theApp().AnalysisRunning.load() == 1;
  CVolume* selected = explorer_->Drives().SelectedVolume();
  const int32_t state = selected ? selected->State.load() : StateNotReady;
  actions_[ID_START_ANALYZING]->setEnabled(selected != nullptr && state != StateScanningSectors &&
                                           state != StateAnalysingFileSystem);
  actions_[ID_STOP_ANALYZING]->setEnabled(running);
  actions_[ID_SEARCH_LOST_DRIVES]->setEnabled(selected != nullptr && !running);
  // An image is not copied while an analysis reads the drives.
  actions_[ID_CREATE_IMAGE]->setEnabled(selected != nullptr && !running);
  actions_[ID_RESET_SIZE]->setEnabled(!explorer_->Selection().empty());
  actions_[ID_SET_NEW_SIZE]->setEnabled(!explorer_->Selection().empty());
}

void CMainFrame::OnIdle() {
  UpdateCommandStates();
  CSettings& s = theApp().Settings;
  theApp().SaveIfChanged();
  if (s.JustLoaded == 1) {
    s.JustLoaded = 0;
    // The drive list is built at the first idle moment.
    QMetaObject::invokeMethod(this, [this] { OnCommand(ID_RESCAN_DRIVES); }, Qt::QueuedConnection);
  }
}

void CMainFrame::RescanDrives() {
  // The rescan makes disks and partitions anew (images and volumes under
  // analysis stay): the views let go of the one they show before it is
  // destroyed, and show the same device again afterwards.
  CVolume* shown = explorer_->CurrentVolume();
  std::string device;
  const std::vector<CVolume*> queue = theComputer().AnalysisQueue();
  const bool analysed = shown && ((shown == theComputer().CurrentVolume() && theApp().AnalysisRunning.load() == 1) ||
                                  std::find(queue.begin(), queue.end(), shown) != queue.end());
  if (shown && shown->Kind != VolumeImage && shown->Kind != VolumeVirtual && !analysed) {
    device = shown->GetDevicePath();
    explorer_->SelectVolume(nullptr);
  }
  theComputer().Rescan();
  explorer_->RefreshDrives();
  if (!device.empty())
    for (CVolume* v : theComputer().Volumes.Snapshot())
      if (v->GetDevicePath() == device) {
        explorer_->SelectVolume(v);
        break;
      }
  if (!explorer_->CurrentVolume()) {
    const std::vector<CVolume*> volumes = theComputer().Volumes.Snapshot();
    if (!volumes.empty()) explorer_->SelectVolume(volumes.front());
  }
}

bool CMainFrame::OpenImage(const QString& path) {
  CVolume* volume = theComputer().LoadImage(path.toStdString());
  if (!volume) {
    app_.Prompts().ShowError(this, UiString(61054, "The drive image %1 cannot be opened.").arg(path),
                             UiString(61053, "Load Drive Image"));
    return false;
  }
  explorer_->RefreshDrives();
  explorer_->SelectVolume(volume);
  return true;
}

void CMainFrame::LoadDriveImage() {
  const QString path = app_.Prompts().ChooseOpenFile(this, UiString(61053, "Load Drive Image"),
                                                     ImageFileDialogFilters(ImageLoadFilters()), "dsk");
  if (!path.isEmpty()) OpenImage(path);
}

void CMainFrame::SearchLostDrives() {
  if (CVolume* v = explorer_->Drives().SelectedVolume()) {
    app_.Messages().Flush();
    explorer_->PrepareForAnalysis(v);
    theComputer().StartScan(v);
  }
}

void CMainFrame::StartAnalysisOf(CVolume* volume) {
  if (!volume) return;
  explorer_->SelectVolume(volume);
  theApp().Settings.AnalyseOnReady = 1;
  // Notices of the catalog's old objects are handled before it is cleared.
  app_.Messages().Flush();
  const std::vector<CVolume*> queue = theComputer().AnalysisQueue();
  if (theApp().AnalysisRunning.load() == 0 || std::find(queue.begin(), queue.end(), volume) != queue.end())
    explorer_->PrepareForAnalysis(volume);
  theComputer().StartAnalysis(volume);
  if (theApp().AnalysisRunning.load() == 1) ShowProgress(true);
}

bool CMainFrame::StopAnalysis() {
  CVolume* current = theComputer().CurrentVolume();
  if (theApp().AnalysisRunning.load() != 1 || !current) return true;
  SetStatus(UiString(kAbortingString, "Aborting..."));
  theApp().Settings.AnalyseOnReady = 0;
  if (!theComputer().StopAnalysis(current, 0)) return false;
  theLog().AddMessage("Operation aborted. Incomplete drive analysis!");
  return true;
}

void CMainFrame::OnCommand(int id) {
  if (!CommandAvailable(id)) return;
  CSettings& s = theApp().Settings;
  switch (id) {
    case ID_START_ANALYZING: StartAnalysisOf(explorer_->Drives().SelectedVolume()); break;
    case ID_STOP_ANALYZING: StopAnalysis(); break;
    case ID_RESCAN_DRIVES: RescanDrives(); break;
    case ID_LOAD_IMAGE: LoadDriveImage(); break;
    case ID_SEARCH_LOST_DRIVES: SearchLostDrives(); break;
    case ID_EXIT: close(); break;
    case ID_SELECT_ALL: explorer_->SelectAll(); break;
    case ID_RESET_SIZE: explorer_->ResetSize(); break;
    case ID_RECOVER: recoveryCommands_->Recover(); break;
    case ID_TRY_OPEN: recoveryCommands_->TryOpen(); break;
    case ID_SET_NEW_SIZE: recoveryCommands_->SetNewSize(); break;
    case ID_CREATE_IMAGE: recoveryCommands_->CreateImage(); break;
    case ID_SEARCH: explorer_->ShowSearchBar(!explorer_->SearchBarShown()); break;
    case ID_LEGEND:
      s.ShowLegend = s.ShowLegend ? 0 : 1;
      explorer_->ShowLegend(s.ShowLegend != 0);
      break;
    case ID_VIEW_TOOLBAR: s.ShowToolBar = s.ShowToolBar ? 0 : 1; break;
    case ID_VIEW_STATUS_BAR: s.ShowStatusBar = s.ShowStatusBar ? 0 : 1; break;
    case ID_TOGGLE_LOG: s.ShowLog = s.ShowLog ? 0 : 1; break;
    case ID_LOG_FILE: theLog().ShowLogFile(); break;
    case ID_DRIVE_SELECT:
      if (CVolume* v = explorer_->Drives().SelectedVolume()) {
        theComputer().SetCurrentVolume(v);
        explorer_->SelectVolume(v);
      }
      break;
    case ID_MODE_MAIN:
    case ID_MODE_MAIN_FILES_FIRST:
    case ID_MODE_MAIN_FILES_FIRST2:
    case ID_MODE_WIZARD:
    case ID_MODE_WIZARD2:
      // After this handler returns: the switch closes this window.
      QMetaObject::invokeMethod(&app_, [app = &app_, id] { app->Run(id); }, Qt::QueuedConnection);
      break;
    case ID_HELP_CONTENTS:
    case ID_HELP_GUIDE:
    case ID_HELP_SEARCH: app_.OpenHelp(id); break;
    case ID_ABOUT: app_.ShowAbout(this); break;
    case ID_SETTINGS:
    case ID_SETTINGS_COMMON:
    case ID_SETTINGS_CONFIRMATIONS:
    case ID_SETTINGS_TEMP_FOLDER:
    case ID_SETTINGS_DRIVE_ACCESS:
    case ID_SETTINGS_LANGUAGE:
    case ID_SETTINGS_LOGGING:
    case ID_SETTINGS_FILE_TYPES: OpenModal(new CSettingsDlg(app_.Prompts(), id, this)); break;
    case ID_FILTERS: OpenModal(explorer_->NewFiltersDialog()); break;
    case ID_INFORMATION: OpenModal(explorer_->NewInformationDialog()); break;
    case ID_DRIVE_PROPERTIES: OpenModal(explorer_->NewVolumeInformationDialog()); break;
    default: break;
  }
  OnIdle();
}

intptr_t CMainFrame::OnWindowMessage(uint32_t message, uintptr_t wParam, intptr_t) {
  switch (message) {
    case WM_LOG_LINE:
      if (const auto* line = reinterpret_cast<const std::string*>(wParam))
        logPane_->AddLine(QString::fromStdString(*line));
      break;
    case WM_STATUS_TEXT: SetStatus(UiString(static_cast<uint32_t>(wParam), "")); break;
    case WM_FS_ANALYSIS_DONE:
      explorer_->OnFileSystemDone(theComputer().CurrentVolume());
      ShowProgress(false);
      break;
    case WM_SCAN_FINISHED: {
      CVolume* volume = wParam ? reinterpret_cast<CVolume*>(wParam) : theComputer().CurrentVolume();
      explorer_->OnScanFinished(volume);
      ShowProgress(false);
      // A late message of an analysis that ended must not stop the next one.
      CVolume* current = theComputer().CurrentVolume();
      if (!current || !analysis_threads::IsLive(current)) theApp().AnalysisRunning = 0;
      SetStatus(UiString(kReadyString, "Ready"));
      break;
    }
    case WM_ANALYSIS_DONE: {
      explorer_->OnScanFinished(reinterpret_cast<CVolume*>(wParam));
      const std::vector<CVolume*> queue = theComputer().AnalysisQueue();
      if (!queue.empty() && theApp().Settings.SelectFirstDrive == 1) {
        app_.Messages().Flush();
        explorer_->PrepareForAnalysis(queue.front());
        theComputer().StartNextQueued();
      }
      break;
    }
    case WM_SCAN_STARTED:
      explorer_->OnScanStarted(reinterpret_cast<CVolume*>(wParam));
      ShowProgress(true);
      progress_->setRange(0, 100);
      progress_->setValue(0);
      break;
    case WM_MEDIA_CHANGED:
    case WM_VOLUME_FOUND: explorer_->RefreshDrives(); break;
    case kLayoutMessage: explorer_->ApplyLayout(FilesFirst(mode_)); break;
    case WM_START_RECOVERY: recoveryCommands_->StartRecovery(); break;
    default: break;
  }
  return 0;
}

void CMainFrame::OnFoundObjects(const std::vector<FoundObjectNotice>& notices) { explorer_->OnFoundObjects(notices); }

void CMainFrame::OnLogLines(const std::vector<const std::string*>& lines) {
  QStringList texts;
  for (const std::string* line : lines)
    if (line) texts << QString::fromStdString(*line);
  logPane_->AddLines(texts);
}

void CMainFrame::CloseForModeSwitch() {
  modeSwitchClose_ = true;
  close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  app_.CloseModeWindow(*this, event, modeSwitchClose_, [this] {
    if (theApp().AnalysisRunning.load() != 1) return;
    SetStatus(UiString(kAbortingString, "Aborting..."));
    theApp().Settings.AnalyseOnReady = 0;
    theComputer().StopAnalysis(theComputer().CurrentVolume(), 1);
    theLog().AddMessage("Operation aborted. Incomplete drive analysis!");
  });
}

void CMainFrame::OpenModal(QDialog* dialog) {
  if (!dialog) return;
  // Modal to the window, without a nested event loop: the dialog goes when
  // it is closed.
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
}

void CMainFrame::OnLanguageChanged() {
  // The log command's prompt and tool-tip: "prompt\ntool-tip".
  const QString logTexts = UiString(ID_TOGGLE_LOG, "Show or hide log\nToggle log");
  actions_[ID_TOGGLE_LOG]->setStatusTip(logTexts.section('\n', 0, 0));
  actions_[ID_TOGGLE_LOG]->setToolTip(logTexts.section('\n', 1));
  explorer_->Retranslate();
  explorer_->Drives().Retranslate();
  if (theApp().AnalysisRunning.load() != 1) SetStatus(UiString(kReadyString, "Ready"));
}
