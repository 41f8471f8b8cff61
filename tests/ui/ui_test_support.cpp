#include "tests/ui/ui_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <sstream>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "engine/analysis/analysis_driver.h"
#include "engine/volume/local_computer.h"
#include "platform/registry_store.h"
#include "services/app.h"
#include "ui/app_ui.h"
#include "ui/main_frame.h"

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

QByteArray SleuthKitBytes(const QString& image, const QString& path) {
  const std::string listing = RunCommand("fls -r -p '" + image.toStdString() + "'");
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos || line.substr(tab + 1) != path.toStdString()) continue;
    // "r/r 123:" for a live entry, "r/r * 123:" for a deleted one.
    const std::string entry = line.substr(0, tab);
    const auto colon = entry.rfind(':');
    const auto space = entry.rfind(' ', colon);
    if (colon == std::string::npos || space == std::string::npos) continue;
    const std::string inode = entry.substr(space + 1, colon - space - 1);
    return QByteArray::fromStdString(RunCommand("icat -r '" + image.toStdString() + "' " + inode));
  }
  return {};
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
