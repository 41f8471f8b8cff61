#include <QGuiApplication>
#include <QLabel>
#include <QCheckBox>
#include <QMenuBar>
#include <QPushButton>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <algorithm>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "services/languages.h"
#include "ui/search_bar_view.h"
#include "ui/ui_texts.h"
#include "ui/files_list_view.h"
#include "tests/ui/ui_test_registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/drives_model.h"
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
    QVERIFY(!frame->Action(ID_RECOVER)->isEnabled());
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

  void languageSwitchRetranslatesMenuAndPanes() {
    auto program = StartProgram({uitest::SampleImage()});
    CMainFrame* frame = program->frame();
    CLanguages& languages = theApp().Languages;
    const std::vector<std::string> list = languages.List();
    const auto german = std::find(list.begin(), list.end(), "Deutsch");
    const auto english = std::find(list.begin(), list.end(), "English");
    if (german == list.end() || english == list.end()) QSKIP("no language files beside the program");
    SetUiLanguage(static_cast<int>(german - list.begin()));
    QCoreApplication::processEvents();  // the views' own texts follow the change
    QCOMPARE(frame->menuBar()->actions().first()->text(), QString("&Laufwerk"));
    QCOMPARE(frame->Action(ID_START_ANALYZING)->text(), QString("Analyse starten"));
    CVolumeExploreView& explorer = frame->Explorer();
    QCOMPARE(explorer.Files().model()->headerData(1, Qt::Horizontal).toString(), QString("Größe"));
    QCOMPARE(explorer.Results().model()->headerData(4, Qt::Horizontal).toString(), QString("Im Ordner"));
    QCOMPARE(explorer.Drives().model()->headerData(3, Qt::Horizontal).toString(), QString("Dateisystem"));
    QCOMPARE(frame->StatusText()->text(), QString("Bereit"));
    // And back: the texts the views build themselves are English again.
    SetUiLanguage(static_cast<int>(english - list.begin()));
    QCoreApplication::processEvents();
    QCOMPARE(explorer.Files().model()->headerData(1, Qt::Horizontal).toString(), QString("Size"));
    QCOMPARE(frame->StatusText()->text(), QString("Ready"));
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
