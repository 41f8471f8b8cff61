#include <QGuiApplication>
#include <QLabel>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <thread>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/block_device_monitor.h"
#include "services/log.h"
#include "services/app.h"
#include "services/languages.h"
#include "ui/search_bar_view.h"
#include "ui/ui_texts.h"
#include "ui/files_list_view.h"
#include "ui/files_tree_model.h"
#include "ui/files_tree_view.h"
#include "tests/ui/ui_test_registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/drives_model.h"
#include "ui/legend_view.h"
#include "ui/main_frame.h"
#include "ui/my_computer_view.h"
#include "ui/volume_explore_view.h"

using uitest::StartProgram;

class TestMainWindow : public QObject {
  Q_OBJECT
private slots:
  void init() { uitest::UseFreshSettings(); }

  void firstStartIsCentredAndListsTheDrives() {
    auto program = StartProgram({uitest::SampleImage()});
    CMainFrame* frame = program->frame();
    QVERIFY(frame);
    QCOMPARE(frame->windowTitle(), QString("Professional Quillmore"));
    QCOMPARE(frame->size(), QSize(800, 600));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(qAbs(frame->frameGeometry().center().x() - area.center().x()) <= 2);
    QVERIFY(qAbs(frame->frameGeometry().center().y() - area.center().y()) <= 2);
    // The idle moment built the drive list; the image argument is selected.
    CMyComputerView& drives = frame->Explorer().Drives();
    QVERIFY(drives.model()->rowCount() >= 1);
    QVERIFY(drives.SelectedVolume());
    QCOMPARE(QString::fromStdString(drives.SelectedVolume()->DisplayNameText()), QString("sample-fat32.img"));
    QCOMPARE(theApp().Settings.JustLoaded, 0u);
    QVERIFY(program->prompts.shown.empty());
    // The device monitor listens with the drive list (or the log says why not).
    bool monitorFailed = false;
    for (const std::string& line : theLog().Lines()) monitorFailed |= line.find("Device monitor not started") != std::string::npos;
    QVERIFY(!program->app->DeviceEventSource().empty() || monitorFailed);
  }

  void menuTextsAndCommands() {
    auto program = StartProgram({});
    CMainFrame* frame = program->frame();
    const QList<QAction*> menus = frame->menuBar()->actions();
    QStringList titles;
    for (QAction* m : menus) titles << m->text();
    QCOMPARE(titles, QStringList({"&Disk", "&File", "&View", "Options", "&Help"}));
    QCOMPARE(frame->Action(ID_RECOVER)->text(), QString("Recover... \tCtrl+R"));
    QCOMPARE(frame->Action(ID_RECOVER)->shortcut(), QKeySequence("Ctrl+R"));
    QCOMPARE(frame->Action(ID_SELECT_ALL)->text(), QString("Select all\tCtrl+A"));
    QCOMPARE(frame->Action(ID_HELP_CONTENTS)->text(), QString("Contents\tF1"));
    QCOMPARE(frame->Action(ID_RESET_SIZE)->text(), QString("R&eset Size"));
    // The dialogs' commands are in place, not yet enabled.
    QVERIFY(frame->Action(ID_RECOVER)->isEnabled());
    QVERIFY(frame->Action(ID_SETTINGS_LOGGING)->isEnabled());
    QStringList buttons;
    for (QAction* a : frame->ToolBar()->actions()) buttons << QString::number(a->data().toInt());
    QCOMPARE(buttons, QStringList({"32774", "32775", "32787", "32791", "32798"}));
    // Toggles go through the settings; the idle handler sets the check marks.
    const uint32_t legend = theApp().Settings.ShowLegend;
    frame->Action(ID_LEGEND)->trigger();
    QCOMPARE(theApp().Settings.ShowLegend, legend ? 0u : 1u);
    QCOMPARE(frame->Action(ID_LEGEND)->isChecked(), !legend);
    frame->Action(ID_VIEW_STATUS_BAR)->trigger();
    QVERIFY(!frame->statusBar()->isVisible());
    frame->Action(ID_VIEW_STATUS_BAR)->trigger();
    QVERIFY(frame->statusBar()->isVisible());
    QVERIFY(!frame->Progress()->isVisible());
    QCOMPARE(frame->StatusText()->text(), QString("Ready"));
  }

  // Every text of the window in both layouts, to German and back: what the
  // languages object translates and what the views build themselves.
  void languageSwitchRetranslatesEverythingBothWays_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("drives first") << int(ID_MODE_MAIN);
    QTest::newRow("files first") << int(ID_MODE_MAIN_FILES_FIRST);
  }
  void languageSwitchRetranslatesEverythingBothWays() {
    QFETCH(int, mode);
    auto program = StartProgram({uitest::SampleImage()});
    if (mode != program->app->Mode()) {
      program->frame()->OnCommand(mode);
      QTRY_COMPARE(program->app->Mode(), mode);
    }
    CMainFrame* frame = program->frame();
    const std::vector<std::string> list = theApp().Languages.List();
    const auto german = std::find(list.begin(), list.end(), "Deutsch");
    const auto english = std::find(list.begin(), list.end(), "English");
    if (german == list.end() || english == list.end()) QSKIP("no language files beside the program");
    const bool filesFirst = mode == ID_MODE_MAIN_FILES_FIRST;
    CVolumeExploreView& explorer = frame->Explorer();
    CSearchBarView& find = explorer.SearchBar();
    auto texts = [&] {
      QStringList t;
      for (QAction* m : frame->menuBar()->actions()) {
        t << m->text();
        for (QAction* item : m->menu()->actions()) t << item->text();
      }
      for (QAction* a : frame->ToolBar()->actions()) t << a->iconText();
      for (QAction* a : explorer.Drives().findChild<QMenu*>()->actions()) t << a->text();
      for (QWidget* w : find.findChildren<QWidget*>()) {
        if (auto* l = qobject_cast<QLabel*>(w)) t << l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) t << b->text();
        if (auto* c = qobject_cast<QComboBox*>(w))
          for (int i = 0; i < c->count(); ++i) t << c->itemText(i);
      }
      for (CFilesListView* list : {&explorer.Files(), &explorer.Results()})
        for (int c = 0; c < list->model()->columnCount(); ++c)
          t << list->model()->headerData(c, Qt::Horizontal).toString();
      for (int c = 0; c < explorer.Drives().model()->columnCount(); ++c)
        t << explorer.Drives().model()->headerData(c, Qt::Horizontal).toString();
      t << explorer.Drives().model()->index(0, 1).data().toString();
      t << frame->StatusText()->text() << frame->Action(ID_TOGGLE_LOG)->toolTip();
      // The legend page in the language's own version.
      if (auto* legend = frame->findChild<CLegendView*>()) t << legend->toPlainText().section('\n', 0, 0);
      return t;
    };
    const QStringList englishTexts = texts();
    QCOMPARE(frame->menuBar()->actions().first()->text(), QString(filesFirst ? "&File" : "&Disk"));
    QVERIFY(englishTexts.contains("Don't remember"));
    QVERIFY(englishTexts.contains("Rescan Drives\tF5"));

    SetUiLanguage(static_cast<int>(german - list.begin()));
    QCoreApplication::processEvents();  // the views' own texts follow the change
    // A pop-up title keeps its meaning wherever the layout puts it.
    QCOMPARE(frame->menuBar()->actions()[filesFirst ? 1 : 0]->text(), QString("&Laufwerk"));
    QCOMPARE(frame->menuBar()->actions()[filesFirst ? 0 : 1]->text(), QString("&Datei"));
    QCOMPARE(frame->Action(ID_START_ANALYZING)->text(), QString("Analyse starten"));
    QCOMPARE(frame->Action(ID_START_ANALYZING)->iconText(), QString("Analyse starten"));
    QCOMPARE(explorer.Files().model()->headerData(1, Qt::Horizontal).toString(), QString("Größe"));
    QCOMPARE(explorer.Results().model()->headerData(4, Qt::Horizontal).toString(), QString("Im Ordner"));
    QCOMPARE(explorer.Drives().model()->headerData(3, Qt::Horizontal).toString(), QString("Dateisystem"));
    QCOMPARE(find.SearchButton()->text(), QString("Suchen"));
    QCOMPARE(find.DateChoice()->itemText(0), QString("Weiß nicht mehr"));
    QCOMPARE(frame->StatusText()->text(), QString("Bereit"));
    QVERIFY(frame->findChild<CLegendView*>());
    QCOMPARE(frame->findChild<CLegendView*>()->toPlainText().section('\n', 0, 0), QString("Legende"));
    const QStringList germanTexts = texts();
    // Every text changed but the few that read the same in both languages.
    const QStringList same = {"Name"};
    for (int i = 0; i < englishTexts.size(); ++i)
      if (englishTexts[i] == germanTexts[i] && !same.contains(englishTexts[i]) && !englishTexts[i].isEmpty())
        QFAIL(qPrintable("not translated: " + englishTexts[i]));

    // And back: every text is the English one again.
    SetUiLanguage(static_cast<int>(english - list.begin()));
    QCoreApplication::processEvents();
    QCOMPARE(texts(), englishTexts);
  }

  // The device monitor's events, as its thread delivers them, over a fake
  // disk: the drive list changes the disk's state and the drives pane is
  // rebuilt with it.
  void deviceEventsReachTheDriveListAndTheDrivesPane() {
    const QString root = QDir::tempPath() + "/quillmore-ui-devices";
    QDir(root).removeRecursively();
    QDir().mkpath(root + "/sys/block/sdq");
    QDir().mkpath(root + "/dev");
    auto write = [](const QString& path, const QByteArray& text) {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(text);
    };
    write(root + "/sys/block/sdq/size", "2048\n");
    write(root + "/sys/block/sdq/removable", "1\n");
    write(root + "/sys/block/sdq/dev", "8:240\n");
    write(root + "/dev/sdq", QByteArray(2048 * 512, '\0'));
    theComputer().SetDeviceRoots((root + "/sys").toStdString(), (root + "/dev").toStdString());
    auto program = StartProgram({});
    CMyComputerView& drives = program->frame()->Explorer().Drives();
    auto stateOfDisk = [&] {
      for (int r = 0; r < drives.model()->rowCount(); ++r) {
        const QModelIndex name = drives.model()->index(r, 0);
        const CVolume* v = drives.Model().VolumeAt(name);
        if (v && v->KernelName == "sdq") return drives.model()->index(r, 1).data().toString();
      }
      return QString("(not listed)");
    };
    QCOMPARE(stateOfDisk(), QString("Ready"));
    QSignalSpy rebuilt(drives.model(), &QAbstractItemModel::modelReset);
    std::thread monitor([&] { program->app->OnBlockDeviceEvent({qm::MediaChange::Removal, "sdq", false}); });
    monitor.join();
    QTRY_VERIFY(rebuilt.count() >= 1);
    QCOMPARE(stateOfDisk(), QString("Not ready"));
    QVERIFY(theLog().Lines().back().find("Drive sdq: Medium removed!") != std::string::npos);
    const int before = rebuilt.count();
    std::thread([&] { program->app->OnBlockDeviceEvent({qm::MediaChange::Arrival, "sdq", false}); }).join();
    QTRY_VERIFY(rebuilt.count() > before);
    QCOMPARE(stateOfDisk(), QString("Ready"));
    // Rescan Drives makes the disk anew: the views show the new one.
    CVolumeExploreView& explorer = program->frame()->Explorer();
    for (CVolume* v : theComputer().Volumes.Snapshot())
      if (v->KernelName == "sdq") explorer.SelectVolume(v);
    QVERIFY(explorer.CurrentVolume());
    const int64_t oldId = explorer.CurrentVolume()->ObjectID;
    program->frame()->OnCommand(ID_RESCAN_DRIVES);
    QVERIFY(explorer.CurrentVolume());
    QCOMPARE(explorer.CurrentVolume()->KernelName, std::string("sdq"));
    QVERIFY(explorer.CurrentVolume()->ObjectID != oldId);
    QCOMPARE(explorer.Tree().Model().Volume(), explorer.CurrentVolume());
    program.reset();
    theComputer().SetDeviceRoots("/sys", "/dev");
    QDir(root).removeRecursively();
  }

  void positionAndSizeComeBackAtTheNextStart() {
    {
      auto program = StartProgram({});
      program->prompts.answers = {true};
      program->frame()->resize(700, 500);
      program->frame()->move(40, 60);
      QCoreApplication::processEvents();
      QVERIFY(program->frame()->close());
      QVERIFY(program->app->ExitRequested());
    }
    uitest::KeepSettings();
    auto program = StartProgram({});
    QCOMPARE(program->frame()->size(), QSize(700, 500));
    QCOMPARE(program->frame()->frameGeometry().topLeft(), QPoint(40, 60));
  }

  void withoutRightsOnlyTheMessageIsShown() {
    auto program = StartProgram({}, false);
    QVERIFY(!program->frame());
    QCOMPARE(program->prompts.shown.size(), size_t(1));
    QCOMPARE(program->prompts.shown[0].kind, QString("error"));
    QCOMPARE(program->prompts.shown[0].caption, QString("Error: Administrator access necessary"));
    QCOMPARE(program->prompts.shown[0].text,
             QString("Administrator access necessary. Please run the program using an administrator's account on "
                     "your computer."));
  }

  void modeSwitchKeepsTheProgramRunning() {
    auto program = StartProgram({uitest::SampleImage()});
    QPointer<CMainFrame> first = program->frame();
    first->OnCommand(ID_MODE_MAIN_FILES_FIRST);
    QTRY_VERIFY(program->frame() && program->frame() != first.data());
    QTRY_VERIFY(first.isNull());  // the old window is gone
    CMainFrame* second = program->frame();
    QVERIFY(second->isVisible());
    QCOMPARE(program->app->Mode(), int(ID_MODE_MAIN_FILES_FIRST));
    QCOMPARE(second->Action(ID_SELECT_ALL)->associatedObjects().size() > 0, true);
    QVERIFY(!program->app->ExitRequested());
    QVERIFY(program->prompts.shown.empty());  // nothing asked
    // And back.
    second->OnCommand(ID_MODE_MAIN);
    QTRY_VERIFY(program->frame() && program->frame() != second);

    QVERIFY(!program->app->ExitRequested());
  }

  void closingAsksBeforeStoppingTheAnalysis() {
    auto program = StartProgram({uitest::ZeroImage(3072)});
    CMainFrame* frame = program->frame();
    theApp().Settings.ConfirmExit = 1;
    theApp().Settings.ConfirmScanAbort = 0;
    CVolume* volume = frame->Explorer().Drives().SelectedVolume();
    QVERIFY(volume);
    frame->StartAnalysisOf(volume);
    QCOMPARE(theApp().AnalysisRunning.load(), 1u);
    bool runningWhenAsked = false;
    program->prompts.onAsk = [&] { runningWhenAsked = theApp().AnalysisRunning.load() == 1; };
    program->prompts.answers = {false};
    QVERIFY(!frame->close());
    QVERIFY(runningWhenAsked);
    QCOMPARE(program->prompts.shown.back().text, QString("Are you sure you want to exit the application?"));
    QCOMPARE(program->prompts.shown.back().caption, QString("Confirmation"));
    QVERIFY(frame->isVisible());
    QVERIFY(!program->app->ExitRequested());
    // A Yes stops it and ends the program.
    program->prompts.answers = {true};
    QVERIFY(frame->close());
    QCOMPARE(theApp().AnalysisRunning.load(), 0u);
    QVERIFY(program->app->ExitRequested());
    QVERIFY(uitest::WaitForAnalysisEnd());
  }

  void withoutConfirmExitTheCloseStopsAtOnce() {
    auto program = StartProgram({uitest::ZeroImage(3072)});
    theApp().Settings.ConfirmExit = 0;
    program->frame()->StartAnalysisOf(program->frame()->Explorer().Drives().SelectedVolume());
    QVERIFY(program->frame()->close());
    QVERIFY(program->prompts.shown.empty());
    QCOMPARE(theApp().AnalysisRunning.load(), 0u);
    QVERIFY(uitest::WaitForAnalysisEnd());
  }
};

QM_REGISTER_UI_TEST(TestMainWindow, "MainWindow");

#include "main_window_test.moc"
