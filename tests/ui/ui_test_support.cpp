#include "tests/ui/ui_test_support.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <cstdlib>
#include <unistd.h>

#include "engine/analysis/analysis_driver.h"
#include "engine/volume/local_computer.h"
#include "platform/registry_store.h"
#include "services/app.h"
#include "services/languages.h"
#include "ui/app_ui.h"
#include "engine/catalog/found_object.h"
#include "ui/files_list_view.h"
#include "ui/files_tree_model.h"
#include "ui/files_tree_view.h"
#include "ui/found_object_list_model.h"
#include "ui/main_frame.h"
#include "ui/ui_texts.h"
#include "ui/my_computer_view.h"
#include "ui/volume_explore_view.h"

namespace uitest {

bool CRecordingPrompts::AskYesNo(QWidget*, const QString& text, const QString& caption) {
  shown.push_back({"question", text, caption});
  if (onAsk) onAsk();
  if (answers.empty()) return false;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

void CRecordingPrompts::ShowError(QWidget*, const QString& text, const QString& caption) {
  shown.push_back({"error", text, caption});
}

void CRecordingPrompts::ShowMessage(QWidget*, const QString& text, const QString& caption) {
  shown.push_back({"message", text, caption});
}

QString CRecordingPrompts::NextPath(const char* kind, const QString& title) {
  shown.push_back({kind, QString(), title});
  if (paths.empty()) return {};
  const QString path = paths.front();
  paths.pop_front();
  return path;
}

QString CRecordingPrompts::ChooseFolder(QWidget*, const QString& title, const QString& start) {
  suggested = start;
  return NextPath("folder", title);
}

QString CRecordingPrompts::ChooseSaveFile(QWidget*, const QString& title, const QString& offered,
                                          const QStringList& offeredFilters, const QString&) {
  suggested = offered;
  filters = offeredFilters;
  return NextPath("save", title);
}

QString CRecordingPrompts::ChooseOpenFile(QWidget*, const QString& title, const QStringList& offeredFilters,
                                          const QString&) {
  filters = offeredFilters;
  return NextPath("open", title);
}

namespace {

std::unique_ptr<CRegistryStore>& Store() {
  static std::unique_ptr<CRegistryStore> store;
  return store;
}

QString TempFolder() {
  static const QString folder = [] {
    QString path = QDir::tempPath() + "/quillmore-ui-test-" + QString::number(::getpid());
    QDir().mkpath(path);
    return path;
  }();
  return folder;
}

}  // namespace

void UseFreshSettings() {
  static int count = 0;
  const QString path = TempFolder() + "/registry-" + QString::number(++count);
  QFile::remove(path);
  theApp().SetRegistry(nullptr);
  Store() = std::make_unique<CRegistryStore>(path.toStdString());
  theApp().SetRegistry(Store().get());
}

void KeepSettings() {
  // A store read again from its file, as the next start reads it.
  const std::string path = Store()->Path();
  theApp().SetRegistry(nullptr);
  Store() = std::make_unique<CRegistryStore>(path);
  Store()->Load();
  theApp().SetRegistry(Store().get());
}

QString SampleImage() {
  const QString image = QString(QM_SOURCE_DIR) + "/data/samples/sample-fat32.img";
  if (!QFileInfo::exists(image)) {
    const std::string command = "zstd -q -d -f '" + image.toStdString() + ".zst' -o '" + image.toStdString() + "'";
    RunCommand(command);
  }
  return image;
}

QString ZeroImage(int megabytes) {
  const QString path = TempFolder() + "/zeros-" + QString::number(megabytes) + ".img";
  if (!QFileInfo::exists(path)) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.resize(static_cast<qint64>(megabytes) << 20);
  }
  return path;
}

CMainFrame* Program::frame() const { return app->MainFrame(); }

std::unique_ptr<Program> StartProgram(const QStringList& arguments, bool withRights) {
  auto program = std::make_unique<Program>();
  program->app = std::make_unique<CAppUi>();
  program->app->SetPrompts(&program->prompts);
  if (!program->app->Start(arguments, [withRights] { return withRights; })) return program;
  // The idle moment (the first Rescan Drives) comes once the posted work is done.
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  if (program->frame()) program->frame()->OnIdle();
  QCoreApplication::processEvents();
  return program;
}

std::unique_ptr<Program> StartAnalysedSample() {
  UseFreshSettings();
  std::unique_ptr<Program> program = StartProgram({SampleImage()});
  if (!program->frame()) return nullptr;
  theApp().Settings.ConfirmExit = 0;
  CMyComputerView& drives = program->frame()->Explorer().Drives();
  if (!drives.SelectedVolume()) return nullptr;
  emit drives.activated(drives.currentIndex());
  if (theApp().AnalysisRunning.load() != 1 || !WaitForAnalysisEnd()) return nullptr;
  return program;
}

bool WaitForAnalysisEnd(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!deadline.hasExpired()) {
    CVolume* current = theComputer().CurrentVolume();
    if (theApp().AnalysisRunning.load() == 0 && (!current || !analysis_threads::IsLive(current))) {
      // The workers' last messages.
      QTest::qWait(50);
      theAppUi().Messages().Flush();
      return true;
    }
    QTest::qWait(20);
  }
  return false;
}

// The child row of `parent` in the folder tree named `name`, expanding the
// parent first (which reads its branch).
QModelIndex TreeChild(CFilesTreeView& tree, const QModelIndex& parent, const QString& name) {
  tree.expand(parent);
  CFilesTreeModel& model = tree.Model();
  if (model.canFetchMore(parent)) model.fetchMore(parent);
  for (int r = 0; r < model.rowCount(parent); ++r) {
    const QModelIndex child = model.index(r, 0, parent);
    if (model.data(child, Qt::DisplayRole).toString() == name) return child;
  }
  return {};
}

int ListRow(CFilesListView& list, const QString& name) {
  for (int r = 0; r < list.Model().rowCount(); ++r)
    if (QString::fromStdString(list.Model().ObjectAt(r)->Name) == name) return r;
  return -1;
}

QByteArray SleuthKitBytes(const QString& image, const QString& path) {
  const std::string listing = uitest::RunCommand("fls -r -p '" + image.toStdString() + "'");
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos || line.substr(tab + 1) != path.toStdString()) continue;
    // "r/r 4:" for a live file, "r/r * 27:" for a deleted one.
    const auto blank = line.rfind(' ', line.find(':'));
    const std::string inode = line.substr(blank + 1, line.find(':') - blank - 1);
    return QByteArray::fromStdString(uitest::RunCommand("icat -r '" + image.toStdString() + "' " + inode));
  }
  return {};
}

bool SetLanguage(const std::string& name) {
  const std::vector<std::string> list = theApp().Languages.List();
  const auto found = std::find(list.begin(), list.end(), name);
  if (found == list.end()) return false;
  SetUiLanguage(static_cast<int>(found - list.begin()));
  return true;
}

QStringList ListNames(CFilesListView& list) {
  QStringList names;
  for (int r = 0; r < list.Model().rowCount(); ++r) names << QString::fromStdString(list.Model().ObjectAt(r)->Name);
  return names;
}

QDialog* OpenDialogByCommand(CMainFrame* frame, int command, const QMetaObject& type) {
  frame->OnCommand(command);
  for (QDialog* dialog : frame->findChildren<QDialog*>())
    if (dialog->isVisible() && dialog->metaObject()->inherits(&type)) return dialog;
  return nullptr;
}

void CloseDialog(QDialog* dialog) {
  if (dialog) dialog->reject();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status) *status = rc;
  return output;
}

bool HaveTool(const char* name) {
  int status = 0;
  RunCommand(std::string("command -v ") + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

}  // namespace uitest

#include "tests/ui/ui_test_registry.h"

namespace uitest {
std::vector<std::pair<const char*, TestFactory>>& TestClasses() {
  static std::vector<std::pair<const char*, TestFactory>> classes;
  return classes;
}
}  // namespace uitest
