#include "ui/app_ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QThread>

#include <cstdlib>

#include "engine/recovery/recovery.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "platform/block_device_monitor.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/log.h"
#include "ui/commands.h"
#include "ui/desktop_type_names.h"
#include "ui/help_window.h"
#include "ui/main_frame.h"
#include "ui/recovery_questions.h"
#include "ui/ui_texts.h"
#include "ui/wizard_mode_main.h"
#include "ui/wizard_mode_main2.h"

namespace {

CAppUi* g_appUi = nullptr;

constexpr const char* kTitle = "Professional Quillmore";

}  // namespace

CAppUi& theAppUi() { return *g_appUi; }

CAppUi::CAppUi() : messages_(std::make_unique<CWindowMessageTarget>()) { g_appUi = this; }

CAppUi::~CAppUi() {
  // No device event reaches the drive list or the windows from here on.
  if (deviceMonitor_) deviceMonitor_->Stop();
  // A recovery still at work is stopped; its questions are withdrawn first,
  // so that the wait cannot hang on one.
  sizeQuestion_.Close();
  for (CRecovery* recovery : {&theComputer().Recovery(), &theComputer().TryOpen()}) {
    if (recovery->SizeDialog != &sizeQuestion_) continue;
    recovery->Stop();
    recovery->Wait();
    recovery->SizeDialog = nullptr;
  }
  // Workers that outlive the interface post into nothing.
  theApp().MainWindow = nullptr;
  theApp().LogWindow = nullptr;
  theComputer().SetScanAbortQuestion(nullptr);
  if (window_) delete window_.data();
  if (help_) delete help_.data();
  if (g_appUi == this) g_appUi = nullptr;
}

CMainFrame* CAppUi::MainFrame() const { return frame_; }
QWidget* CAppUi::Window() const { return window_; }

void CAppUi::SetPrompts(IUserPrompts* prompts) { prompts_ = prompts ? prompts : &messageBoxes_; }

bool CAppUi::Start(const QStringList& arguments, const std::function<bool()>& hasRights) {
  firstStart_ = theApp().LoadSettings() == 0;
  theComputer();  // the drive list and the log, its file opened as the settings say
  if (!hasRights()) {
    prompts_->ShowError(nullptr,
                        "Administrator access necessary. Please run the program using an administrator's account "
                        "on your computer.",
                        "Error: Administrator access necessary");
    return false;
  }
  InstallDesktopTypeNames();
  theComputer().SetScanAbortQuestion(this);
  StartDeviceMonitor();
  theComputer().Recovery().SizeDialog = &sizeQuestion_;
  theComputer().TryOpen().SizeDialog = &sizeQuestion_;
  // The stored language (at a first start the desktop's), stored back; the
  // windows are translated as they register.
  theApp().Settings.LanguageIndex = theApp().Languages.StartUp(theApp().Settings.LanguageIndex);
  LoadSignatureDatabase();
  if (Run(kStartMode) != 0) return false;
  for (const QString& argument : arguments) {
    if (argument.startsWith('-')) continue;
    if (argument.endsWith(".filesig", Qt::CaseInsensitive)) {
      // A signature file opened from the desktop: imported into the database.
      std::string message;
      theComputer().Signatures().ImportSignatureFile(argument.toStdString(), &message);
      if (!message.empty()) prompts_->ShowMessage(frame_, QString::fromStdString(message), "Quillmore");
    } else {
      frame_->OpenImage(argument);
    }
    break;
  }
  return true;
}

int CAppUi::Run(int mode) {
  if (mode == -1) return mode_;
  if (mode == 0) mode = mode_;
  if (mode == ID_MODE_NONE) return 0;
  if (!CommandAvailable(mode)) return -1;
  if (QWidget* old = window_) {
    window_ = nullptr;
    frame_ = nullptr;
    if (auto* main = qobject_cast<CMainFrame*>(old)) main->CloseForModeSwitch();
    if (auto* wizard = qobject_cast<CWizardMode_Window*>(old)) wizard->CloseForModeSwitch();
  }
  mode_ = mode;
  theApp().Settings.UiMode = static_cast<uint32_t>(mode);
  QWidget* frame = nullptr;
  if (mode == ID_MODE_WIZARD) {
    frame = new CWizardMode_Main(*this);
  } else if (mode == ID_MODE_WIZARD2) {
    frame = new CWizardMode_Main2(*this);
  } else {
    frame_ = new CMainFrame(*this, mode);
    frame = frame_;
  }
  window_ = frame;
  const CSettings& s = theApp().Settings;
  QRect rect(s.WindowLeft, s.WindowTop, s.WindowWidth, s.WindowHeight);
  if (firstStart_) {
    // First start: 800 x 600, centred in the work area.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    rect = QRect(area.center().x() - 400 + 1, area.center().y() - 300 + 1, 800, 600);
    firstStart_ = false;
  }
  frame->resize(rect.size());
  frame->move(rect.topLeft());
  frame->setWindowTitle(kTitle);
  frame->show();
  frame->raise();
  frame->activateWindow();
  return 0;
}

void CAppUi::CloseModeWindow(QWidget& window, QCloseEvent* event, bool modeSwitch,
                             const std::function<void()>& stopWork) {
  if (modeSwitch) {
    // The next window takes over; nothing is stopped or asked.
    StoreWindowRect(window);
    theApp().SaveIfChanged();
    event->accept();
    return;
  }
  // Asked before anything is stopped: a No leaves the work running.
  if (!ConfirmExit(&window)) {
    event->ignore();
    return;
  }
  // The exit was confirmed: the work is stopped without asking again.
  if (stopWork) stopWork();
  DeleteTemporaryFiles(&window);
  StoreWindowRect(window);
  event->accept();
  Exit();
}

bool CAppUi::ConfirmExit(QWidget* parent) {
  if (theApp().Settings.ConfirmExit == 0) return true;
  return prompts_->AskYesNo(parent, "Are you sure you want to exit the application?", "Confirmation");
}

void CAppUi::DeleteTemporaryFiles(QWidget* parent) {
  CPromptRecoveryQuestions questions(*prompts_, parent);
  theComputer().TryOpen().DeleteTemporaryFiles(&questions);
}

void CAppUi::StoreWindowRect(const QWidget& window) {
  CSettings& s = theApp().Settings;
  const QRect frame = window.frameGeometry();
  s.WindowLeft = frame.left();
  s.WindowTop = frame.top();
  s.WindowWidth = window.width();
  s.WindowHeight = window.height();
}

void CAppUi::Exit() {
  exitRequested_ = true;
  theApp().SaveIfChanged();
  if (theApp().Settings.ExitProcessOnClose) {
    theApp().MainWindow = nullptr;
    theApp().LogWindow = nullptr;
    std::_Exit(0);
  }
  QCoreApplication::quit();
}

void CAppUi::OpenHelp(int command) {
  CHelpWindow* help = qobject_cast<CHelpWindow*>(help_.data());
  if (!help) {
    help = new CHelpWindow;
    help_ = help;
  }
  switch (command) {
    case ID_HELP_GUIDE: help->ShowTopic("files/basics.quickstart.html"); break;
    case ID_HELP_SEARCH: help->ShowSearch(); break;
    default: help->ShowTopic("index.html"); break;
  }
}

void CAppUi::ShowAbout(QWidget* parent) {
  const QString version = UiString(61051, "Version %1").arg(QCoreApplication::applicationVersion());
  QMessageBox::about(parent, UiString(61050, "About Quillmore"),
                     QString("<b>%1</b><p>%2</p><p>%3</p>")
                         .arg(kTitle, version.toHtmlEscaped(),
                              UiString(61052, "Recovers deleted and lost files from FAT, exFAT and NTFS drives and "
                                              "drive images.")
                                  .toHtmlEscaped()));
}

void CAppUi::ExploreDestination() { qm::ShellOpen(theApp().Settings.DestinationFolderText()); }

void CAppUi::StartDeviceMonitor() {
  auto monitor = std::make_unique<qm::CBlockDeviceMonitor>();
  int error = 0;
  if (!monitor->Start([this](const qm::BlockDeviceEvent& event) { OnBlockDeviceEvent(event); }, &error)) {
    // The program works on without it: Rescan Drives (F5) finds new media.
    theLog().AddMessage("Device monitor not started: " + qm::SystemErrorText(error));
    return;
  }
  deviceMonitor_ = std::move(monitor);
}

void CAppUi::OnBlockDeviceEvent(const qm::BlockDeviceEvent& event) { theComputer().OnDeviceChange(event); }

std::string CAppUi::DeviceEventSource() const { return deviceMonitor_ ? deviceMonitor_->Source() : std::string(); }

bool CAppUi::ConfirmScanAbort(const std::string& question, const std::string& caption) {
  // A worker ending its own analysis is no stop the user asked for; asking
  // there could wait on an interface thread that waits on the worker.
  if (QThread::currentThread() != thread()) return true;
  return prompts_->AskYesNo(window_, QString::fromStdString(question), QString::fromStdString(caption));
}
