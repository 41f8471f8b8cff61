// Takes the README's screenshots from the real windows: the program started
// as main() starts it, on the sample image, driven to a few views and the
// recovery dialogs.
//   ui_screenshots OUTPUT_DIR [MANY_FILES_IMAGE]
// Run under an X server (scripts/take-screenshots.sh starts Xvfb).
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/files_list_view.h"
#include "ui/files_tree_model.h"
#include "ui/files_tree_view.h"
#include "ui/found_object_list_model.h"
#include "ui/main_frame.h"
#include "ui/my_computer_view.h"
#include "ui/probable_file_size_dialog.h"
#include "ui/recovery_commands.h"
#include "ui/recovery_dialog.h"
#include "ui/recovery_progress_dlg.h"
#include "ui/search_bar_view.h"
#include "ui/file_type_tree.h"
#include "ui/settings_dialog.h"
#include "ui/settings_pages.h"
#include "ui/volume_explore_view.h"
#include "ui/commands.h"
#include "ui/wizard_mode_main.h"
#include "ui/wizard_mode_scan_page.h"
#include "ui/wizard_session.h"
#include "engine/catalog/found_object_tree.h"

namespace {

QString g_output;

// A dialog as it draws itself (other windows over it are left out).
void DialogShot(QWidget* dialog, const char* name, int settleMs = 300) {
  QTest::qWait(settleMs);
  const QString path = g_output + "/" + name;
  if (!dialog || !dialog->grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

CProbableFileSizeDialog* SizeDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<CProbableFileSizeDialog*>(w); d && d->isVisible()) return d;
  return nullptr;
}

void Shot(QWidget* frame, const char* name, int settleMs = 400) {
  QTest::qWait(settleMs);
  const QString path = g_output + "/" + name;
  // What the X server shows of the window.
  QPixmap pixmap = frame->screen()->grabWindow(0, frame->x(), frame->y(), frame->frameGeometry().width(),
                                               frame->frameGeometry().height());
  if (pixmap.isNull()) pixmap = frame->grab();
  if (!pixmap.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

QModelIndex Child(CFilesTreeView& tree, const QModelIndex& parent, const QString& name) {
  tree.expand(parent);
  CFilesTreeModel& model = tree.Model();
  if (model.canFetchMore(parent)) model.fetchMore(parent);
  for (int r = 0; r < model.rowCount(parent); ++r)
    if (model.data(model.index(r, 0, parent), Qt::DisplayRole).toString() == name) return model.index(r, 0, parent);
  return {};
}

void SelectRow(CFilesListView& list, const QString& name) {
  for (int r = 0; r < list.Model().rowCount(); ++r)
    if (QString::fromStdString(list.Model().ObjectAt(r)->Name) == name) {
      list.setCurrentIndex(list.Model().index(r, 0));
      return;
    }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ui_screenshots OUTPUT_DIR [MANY_FILES_IMAGE]\n");
    return 2;
  }
  const QString config = QDir::tempPath() + "/quillmore-screenshots-config";
  QDir(config).removeRecursively();
  QDir().mkpath(config);
  ::setenv("QUILLMORE_CONFIG_DIR", config.toUtf8().constData(), 1);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationVersion("1.0");
  g_output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(g_output);

  uitest::UseFreshSettings();
  auto program = uitest::StartProgram({uitest::SampleImage()});
  CMainFrame* frame = program->frame();
  if (!frame) return 1;
  theApp().Settings.ConfirmExit = 0;
  const QRect area = frame->screen()->availableGeometry();
  frame->setGeometry(area.x() + 20, area.y() + 20, 1100, 720);
  CVolumeExploreView& explorer = frame->Explorer();

  // The drives pane with the image analysed.
  frame->StartAnalysisOf(explorer.Drives().SelectedVolume());
  uitest::WaitForAnalysisEnd();
  QTest::qWait(300);
  CFilesTreeView& tree = explorer.Tree();
  const QModelIndex top = tree.Model().index(0, 0);
  const QModelIndex root = tree.Model().index(0, 0, top);
  Child(tree, top, "Lost files");
  tree.setCurrentIndex(root);
  Shot(frame, "drives.png");

  // A folder with deleted files.
  const QModelIndex pictures = Child(tree, root, "Pictures");
  Child(tree, root, "Old Stuff");
  tree.setCurrentIndex(pictures);
  SelectRow(explorer.Files(), "deleted-photo.jpg");
  Shot(frame, "deleted-files.png");

  // The data viewer on a JPEG.
  SelectRow(explorer.Files(), "sunset.jpg");
  Shot(frame, "data-viewer.png");

  // The search bar and its results.
  frame->OnCommand(32791);
  explorer.SearchBar().NameEdit()->setText("*.jpg");
  explorer.StartSearch();
  QTest::qWait(500);
  Shot(frame, "search.png");
  explorer.CancelSearch();

  // The Recover dialog, then the progress of recovering the lost files,
  // held at the question about the size of the first.
  QTemporaryDir destination;
  tree.setCurrentIndex(Child(tree, top, "Lost files"));
  explorer.Files().selectAll();
  frame->OnCommand(ID_RESET_SIZE);
  frame->OnCommand(ID_RECOVER);
  if (COnRecoveryDlg* recover = frame->RecoveryCommands().RecoverDialog()) {
    recover->Folder()->setText(QDir::homePath() + "/Recovered Files/");
    DialogShot(recover, "recover-dialog.png");
    recover->Folder()->setText(destination.path());
    recover->OkButton()->click();
  }
  for (int i = 0; i < 250 && !SizeDialog(); ++i) QTest::qWait(20);
  if (CRecoveryProgressDlg* progress = frame->RecoveryCommands().ProgressDialog()) {
    DialogShot(progress, "recovery-progress.png");
    DialogShot(SizeDialog(), "probable-size.png");
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 250 && !SizeDialog(); ++j) QTest::qWait(20);
      if (CProbableFileSizeDialog* size = SizeDialog()) size->OkButton()->click();
    }
    for (int i = 0; i < 500 && !progress->Finished(); ++i) QTest::qWait(20);
    DialogShot(progress, "recovery-done.png");
    progress->OkButton()->click();
  }

  // The settings dialog, on its page of file types.
  frame->OnCommand(ID_SETTINGS_FILE_TYPES);
  if (auto* settings = frame->findChild<CSettingsDlg*>()) {
    settings->move(frame->x() + 120, frame->y() + 80);
    // One group opened to show its types.
    CFileTypeTree* types = settings->FileTypes->Tree;
    for (int i = 0; i < types->topLevelItemCount(); ++i)
      if (types->topLevelItem(i)->text(0) == "Images") types->expandItem(types->topLevelItem(i));
    Shot(settings, "settings.png");
    settings->reject();
  }

  CVolume* sample = explorer.Drives().SelectedVolume();
  // A running scan of an image with tens of thousands of files.
  if (argc > 2) {
    frame->OpenImage(QString::fromLocal8Bit(argv[2]));
    frame->StartAnalysisOf(explorer.Drives().SelectedVolume());
    // The folder of the first lost files, shown as soon as it exists.
    QModelIndex group;
    for (int i = 0; i < 200 && !group.isValid(); ++i) {
      QTest::qWait(20);
      const QModelIndex lost = Child(tree, tree.Model().index(0, 0), "Lost files");
      if (!lost.isValid()) continue;
      tree.expand(lost);
      if (tree.Model().canFetchMore(lost)) tree.Model().fetchMore(lost);
      group = tree.Model().index(0, 0, lost);
    }
    if (group.isValid()) tree.setCurrentIndex(group);
    QTest::qWait(150);
    explorer.Files().scrollToBottom();
    Shot(frame, "scan.png", 50);
    frame->StopAnalysis();
    uitest::WaitForAnalysisEnd();
  }
  // The nine-step wizard: its welcome page, a sector scan under way and the
  // summary after a recovery.
  if (program->app->Run(ID_MODE_WIZARD) == 0) {
    auto* wizard = qobject_cast<CWizardMode_Window*>(program->app->Window());
    wizard->setGeometry(area.x() + 20, area.y() + 20, 1000, 700);
    Shot(wizard, "wizard-welcome.png");
    if (argc > 2) {
      const std::vector<CVolume*> volumes = theComputer().Volumes.Snapshot();
      wizard->Session().SetVolume(volumes.back());
      wizard->GoTo(CWizardMode_Main::SectorScan);
      auto* scan = static_cast<CWizardMode_ScanPage*>(wizard->Page(CWizardMode_Main::SectorScan));
      scan->StartButton()->click();
      // A fifth of the way through.
      CVolume* scanned = volumes.back();
      for (int i = 0; i < 1000 && wizard->Session().Busy(); ++i) {
        QTest::qWait(10);
        wizard->OnTimer();
        if (scanned->PositionValue.load() * 5 >= scanned->EndPositionValue.load()) break;
      }
      Shot(wizard, "wizard-scanning.png", 0);
      wizard->Session().StopPhase(true);
    }
    wizard->Session().SetVolume(sample);
    const QString destination = QDir::tempPath() + "/quillmore-screenshots-recovered";
    QDir(destination).removeRecursively();
    CSettings::SetText(theApp().Settings.DestinationFolder, 4096, destination.toStdString());
    std::vector<CFoundObject*> pictures;
    for (CFoundObject* o : sample->Catalog().CopyObjects())
      if (o->Name.size() > 4 && o->Name.compare(o->Name.size() - 4, 4, ".jpg") == 0 && !o->IsFolder())
        pictures.push_back(o);
    wizard->Session().Recover(pictures);
    while (wizard->Session().RecoveryRunning()) QTest::qWait(50);
    wizard->GoTo(CWizardMode_Main::Finished);
    Shot(wizard, "wizard-finish.png");
    QDir(destination).removeRecursively();
  }
  program.reset();
  QDir(config).removeRecursively();
  return 0;
}
