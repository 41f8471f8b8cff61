// The two wizards on the offscreen platform: the nine-step wizard walked on
// the sample image from the drive to the summary, with a deleted file and a
// lost file recovered and compared with The Sleuth Kit's bytes; its
// questions on the explore pages and on going back after a recovery; a
// restart that stops a running scan; the four-step wizard walked once; and
// the switches between the wizards and the main window.
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "engine/analysis/analysis_driver.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/recovery/recovery.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "tests/ui/ui_test_registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/files_list_view.h"
#include "ui/found_object_list_model.h"
#include "ui/main_frame.h"
#include "ui/my_computer_view.h"
#include "ui/volume_explore_view.h"
#include "ui/wizard_mode_analysing.h"
#include "ui/wizard_mode_explore_page.h"
#include "ui/wizard_mode_finish.h"
#include "ui/wizard_mode_left_bar.h"
#include "ui/wizard_mode_main.h"
#include "ui/wizard_mode_main2.h"
#include "ui/wizard_mode_scan_page.h"
#include "ui/wizard_mode_steps.h"
#include "ui/wizard_session.h"

namespace {

constexpr uint64_t kLostPngOffset = 36ull * 2048 * 512;  // where the sample's lost PNG lies

// Waits (handling events and the wizard's ticks) until `done` holds.
template <class F>
bool WaitUntil(CWizardMode_Window& wizard, F done, int timeoutMs = 120000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!deadline.hasExpired()) {
    theAppUi().Messages().Flush();
    wizard.OnTimer();
    if (done()) return true;
    QTest::qWait(20);
  }
  return false;
}

CFoundObject* FindObject(CVolume& volume, const std::function<bool(const CFoundObject&)>& match) {
  for (CFoundObject* o : volume.Catalog().CopyObjects())
    if (match(*o)) return o;
  return nullptr;
}

// Shows the object's folder in the page's list and selects it there.
bool SelectInList(CVolumeExploreView& explorer, CVolume& volume, CFoundObject* object) {
  int64_t cursor = -1;
  CFoundObject* folder = volume.Catalog().FindByID(object->ParentID, cursor);
  if (!folder) return false;
  explorer.ShowFolder(folder);
  CFilesListView& list = explorer.Files();
  for (int r = 0; r < list.Model().rowCount(); ++r)
    if (list.Model().ObjectAt(r) == object) {
      list.setCurrentIndex(list.Model().index(r, 0));
      return explorer.Selection() == std::vector<CFoundObject*>{object};
    }
  return false;
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The one file below `folder` whose name contains `part` (recovered paths
// keep the folder path of the object).
QString FindRecovered(const QString& folder, const QString& part) {
  QStringList found;
  QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    if (QFileInfo(path).fileName().contains(part)) found << path;
  }
  return found.size() == 1 ? found.front() : QString();
}

}  // namespace

class TestWizard : public QObject {
  Q_OBJECT
private slots:
  void init() {
    uitest::UseFreshSettings();
    program_ = uitest::StartProgram({uitest::SampleImage()});
    QVERIFY(program_->frame());
    theApp().Settings.ConfirmExit = 0;
    theApp().Settings.ConfirmScanAbort = 0;
    QVERIFY(destination_.isValid());
    QDir(destination_.path()).removeRecursively();
    QDir().mkpath(destination_.path());
  }

  void cleanup() {
    if (auto* wizard = Wizard()) wizard->Session().Restart();
    program_.reset();
  }

  // The walk of the nine steps on the sample image, with the first
  // question answered No once and the second question asked on a page
  // where nothing was recovered yet.
  void nineStepWizardRecoversADeletedAndALostFile() {
    QVERIFY(uitest::HaveTool("icat"));
    auto* wizard = SwitchTo<CWizardMode_Main>(ID_MODE_WIZARD);
    QVERIFY(wizard);
    QCOMPARE(theApp().Settings.AnalyseOnReady, 0u);
    QCOMPARE(theApp().Settings.LogTimeStamps, 0u);
    QCOMPARE(wizard->windowTitle(), QString("Professional Quillmore"));
    QCOMPARE(wizard->LeftBar().count(), 10);
    QCOMPARE(wizard->TitleLabel()->text(), QString("Welcome!"));
    QVERIFY(!wizard->BackButton()->isEnabled());
    Next(*wizard);

    // Step 1: the sample image, chosen in the main window, is selected.
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::Drive));
    QCOMPARE(wizard->TitleLabel()->text(), QString("Step 1 of 9: Select drive"));
    CVolume* volume = wizard->Session().Volume();
    QVERIFY(volume);
    QCOMPARE(QString::fromStdString(volume->DisplayNameText()), QString("sample-fat32.img"));
    Next(*wizard);
    Next(*wizard);  // file types as they are

    auto* mode = static_cast<CWizardMode_Step3*>(wizard->Page(CWizardMode_Main::ScanMode));
    QVERIFY(mode->FreeSpaceOnly()->isChecked());  // the default choice
    mode->EntireDrive()->click();
    QCOMPARE(theApp().Settings.WizardScanChoice, 0u);
    Next(*wizard);

    auto* destination = static_cast<CWizardMode_Step4*>(wizard->Page(CWizardMode_Main::Destination));
    destination->Destination().Folder()->setText(destination_.path());
    QCOMPARE(QString::fromStdString(theApp().Settings.DestinationFolderText()), destination_.path());
    Next(*wizard);

    // Step 5: the file-system phase.
    auto* fsScan = static_cast<CWizardMode_ScanPage*>(wizard->Page(CWizardMode_Main::FileSystemScan));
    QCOMPARE(fsScan->StatusLabel()->text(), QString("Idle"));
    QTest::mouseClick(fsScan->StartButton(), Qt::LeftButton);
    QCOMPARE(theApp().Settings.SelectFirstDrive, 0u);
    QVERIFY(WaitUntil(*wizard, [&] { return !wizard->Session().Busy(); }));
    QCOMPARE(fsScan->StatusLabel()->text(), QString("Idle"));
    QVERIFY(fsScan->FilesFoundLabel()->text().toInt() > 0);
    QVERIFY(fsScan->ProgressLog()->count() > 0);
    Next(*wizard);

    // Step 6: Next before any recovery asks, and No keeps the page.
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::FileSystemFiles));
    program_->prompts.answers = {false};
    QTest::mouseClick(wizard->NextButton(), Qt::LeftButton);
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::FileSystemFiles));
    QCOMPARE(LastQuestion(), QString(CWizardMode_Main::kNotRecoveredQuestion));

    auto* fsFiles = static_cast<CWizardMode_ExplorePage*>(wizard->Page(CWizardMode_Main::FileSystemFiles));
    CFoundObject* draft = FindObject(*volume, [](const CFoundObject& o) {
      return o.Name == "old draft.txt" && (o.Flags & FOF_DELETED) && !(o.Flags & FOF_SIGNATURE);
    });
    QVERIFY(draft);
    QVERIFY(SelectInList(fsFiles->Explorer(), *volume, draft));
    QTest::mouseClick(fsFiles->RecoverButton(), Qt::LeftButton);
    QVERIFY(WaitUntil(*wizard, [&] { return !wizard->Session().RecoveryRunning(); }));
    QCOMPARE(wizard->Session().RecoveredCount(), 1);
    const QString draftPath = FindRecovered(destination_.path(), "old draft");
    QVERIFY2(!draftPath.isEmpty(), qPrintable(destination_.path()));
    const QByteArray draftBytes = uitest::SleuthKitBytes(uitest::SampleImage(), "Documents/old draft.txt");
    QVERIFY(!draftBytes.isEmpty());
    QCOMPARE(FileBytes(draftPath), draftBytes);
    // Information and Filters open the main window's dialogs on the page.
    for (int id : {int(ID_INFORMATION), int(ID_FILTERS)}) {
      fsFiles->RunCommand(id);
      QDialog* dialog = nullptr;
      for (QDialog* d : wizard->findChildren<QDialog*>())
        if (d->isVisible()) dialog = d;
      QVERIFY2(dialog, qPrintable(QString::number(id)));
      dialog->reject();
      QTest::qWait(1);
    }
    const size_t asked = program_->prompts.shown.size();
    Next(*wizard);  // a file was recovered: no question
    QCOMPARE(program_->prompts.shown.size(), asked);

    // Step 7: the sector scan of the entire drive.
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::SectorScan));
    auto* sectorScan = static_cast<CWizardMode_ScanPage*>(wizard->Page(CWizardMode_Main::SectorScan));
    QTest::mouseClick(sectorScan->StartButton(), Qt::LeftButton);
    QVERIFY(WaitUntil(*wizard, [&] { return !wizard->Session().Busy(); }));
    QVERIFY(!volume->ScanFreeSpaceOnly.load());
    QCOMPARE(volume->EndPositionValue.load(), volume->Size / 512);
    QVERIFY(sectorScan->FilesFoundLabel()->text().toInt() > 0);
    Next(*wizard);

    // Step 8: the count has not grown on this page: the second question.
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::SectorFiles));
    program_->prompts.answers = {false};
    QTest::mouseClick(wizard->NextButton(), Qt::LeftButton);
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::SectorFiles));
    QCOMPARE(LastQuestion(), QString(CWizardMode_Main::kNotRecoveredAfterScanQuestion));

    auto* sectorFiles = static_cast<CWizardMode_ExplorePage*>(wizard->Page(CWizardMode_Main::SectorFiles));
    CFoundObject* lostPng = FindObject(*volume, [](const CFoundObject& o) {
      return (o.Flags & FOF_SIGNATURE) && o.StartOffset == kLostPngOffset;
    });
    QVERIFY(lostPng);
    QVERIFY(SelectInList(sectorFiles->Explorer(), *volume, lostPng));
    QTest::mouseClick(sectorFiles->RecoverButton(), Qt::LeftButton);
    QVERIFY(WaitUntil(*wizard, [&] { return !wizard->Session().RecoveryRunning(); }));
    QCOMPARE(wizard->Session().RecoveredCount(), 2);
    const QString pngPath = FindRecovered(destination_.path(), ".png");
    QVERIFY2(!pngPath.isEmpty(), qPrintable(destination_.path()));
    // The lost file is a copy of the live picture.
    const QByteArray pngBytes =
        uitest::SleuthKitBytes(uitest::SampleImage(), "Pictures/Holiday photo with a rather long name.png");
    QVERIFY(!pngBytes.isEmpty());
    QCOMPARE(FileBytes(pngPath), pngBytes);
    const size_t asked8 = program_->prompts.shown.size();
    Next(*wizard);  // one file recovered on this page: no question
    QCOMPARE(program_->prompts.shown.size(), asked8);

    // The summary.
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::Finished));
    QCOMPARE(wizard->TitleLabel()->text(), QString("Step 9 of 9: Recovery completed"));
    auto* finish = static_cast<CWizardMode_Finish*>(wizard->Page(CWizardMode_Main::Finished));
    QCOMPARE(finish->FilesFoundLabel()->text().toUInt(), volume->FilesFound.load() + volume->ScanFilesFound.load());
    QVERIFY(finish->FilesFoundLabel()->text().toUInt() > 2);
    QCOMPARE(finish->FilesRecoveredLabel()->text(), QString("2"));
    QVERIFY(!wizard->NextButton()->isEnabled());
  }

  // Going back to the options after a recovery asks; No stays, Yes starts
  // again at the scanning mode with clean counters.
  void goingBackAfterARecoveryRestartsClean() {
    auto* wizard = SwitchTo<CWizardMode_Main>(ID_MODE_WIZARD);
    QVERIFY(wizard);
    for (int i = 0; i < 4; ++i) Next(*wizard);
    static_cast<CWizardMode_Step4*>(wizard->Page(CWizardMode_Main::Destination))
        ->Destination()
        .Folder()
        ->setText(destination_.path());
    Next(*wizard);
    auto* fsScan = static_cast<CWizardMode_ScanPage*>(wizard->Page(CWizardMode_Main::FileSystemScan));
    QTest::mouseClick(fsScan->StartButton(), Qt::LeftButton);
    QVERIFY(WaitUntil(*wizard, [&] { return !wizard->Session().Busy(); }));
    Next(*wizard);
    CVolume* volume = wizard->Session().Volume();
    auto* files = static_cast<CWizardMode_ExplorePage*>(wizard->Page(CWizardMode_Main::FileSystemFiles));
    CFoundObject* readme = FindObject(*volume, [](const CFoundObject& o) { return o.Name == "README.TXT"; });
    QVERIFY(readme);
    QVERIFY(SelectInList(files->Explorer(), *volume, readme));
    files->StartRecovery();
    QVERIFY(WaitUntil(*wizard, [&] { return !wizard->Session().RecoveryRunning(); }));
    QCOMPARE(wizard->Session().RecoveredCount(), 1);

    // Back to the scanning step asks nothing; on to the options it asks.
    Back(*wizard);
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::FileSystemScan));
    program_->prompts.answers = {false};
    QTest::mouseClick(wizard->BackButton(), Qt::LeftButton);
    QCOMPARE(LastQuestion(), QString(CWizardMode_Main::kRestartQuestion));
    QVERIFY(!LastQuestion().contains("begining"));
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::FileSystemScan));
    QCOMPARE(wizard->Session().RecoveredCount(), 1);

    program_->prompts.answers = {true};
    QTest::mouseClick(wizard->BackButton(), Qt::LeftButton);
    QCOMPARE(wizard->CurrentStep(), int(CWizardMode_Main::ScanMode));
    QCOMPARE(wizard->Session().RecoveredCount(), 0);
    QVERIFY(!wizard->Session().RecoveryStarted());
    QCOMPARE(volume->FilesFound.load(), 0u);
    QCOMPARE(fsScan->FilesFoundLabel()->text(), QString("0"));
    QCOMPARE(fsScan->ProgressLog()->count(), 0);
    // Forward again: no question until a recovery starts anew.
    const size_t asked = program_->prompts.shown.size();
    Next(*wizard);
    Back(*wizard);
    QCOMPARE(program_->prompts.shown.size(), asked);
  }

  // A restart while a sector scan and a recovery still run stops both and
  // waits for them, so nothing of the earlier pass goes on behind the new one.
  void restartStopsTheScanAndTheRecoveryOfTheEarlierPass() {
    auto* wizard = SwitchTo<CWizardMode_Main>(ID_MODE_WIZARD);
    QVERIFY(wizard);
    CVolume* zeros = theComputer().LoadImage(uitest::ZeroImage(1024).toStdString());
    QVERIFY(zeros);
    CWizardSession& session = wizard->Session();
    session.SetVolume(zeros);
    wizard->GoTo(CWizardMode_Main::SectorScan);
    auto* scan = static_cast<CWizardMode_ScanPage*>(wizard->Page(CWizardMode_Main::SectorScan));
    QTest::mouseClick(scan->StartButton(), Qt::LeftButton);
    QVERIFY(session.Busy());
    wizard->OnTimer();
    QCOMPARE(scan->StatusLabel()->text(), QString("Busy"));
    QVERIFY(!wizard->BackButton()->isEnabled());
    QVERIFY(!wizard->NextButton()->isEnabled());

    session.Restart();
    QVERIFY(!session.Busy());
    QVERIFY(!analysis_threads::IsLive(zeros));
    QCOMPARE(theApp().AnalysisRunning.load(), 0u);
    QCOMPARE(zeros->ScanFilesFound.load(), 0u);
    QCOMPARE(zeros->PositionValue.load(), 0u);
    wizard->OnTimer();
    QCOMPARE(scan->StatusLabel()->text(), QString("Idle"));
    QVERIFY(!theComputer().Recovery().IsWorking());
  }

  void fourStepWizardWalksToTheSummary() {
    auto* wizard = SwitchTo<CWizardMode_Main2>(ID_MODE_WIZARD2);
    QVERIFY(wizard);
    QCOMPARE(wizard->LeftBar().count(), 5);
    QCOMPARE(wizard->TitleLabel()->text(), QString("Step 1 of 4: Select drive"));
    CVolume* volume = wizard->Session().Volume();
    QVERIFY(volume);
    Next(*wizard);
    QCOMPARE(wizard->TitleLabel()->text(), QString("Step 2 of 4: Select path to recovery and Search file types"));
    static_cast<CWizardMode_ScanParam*>(wizard->Page(CWizardMode_Main2::Parameters))
        ->Destination()
        .Folder()
        ->setText(destination_.path());
    Next(*wizard);

    // Both phases run one after the other; Next opens when they ended.
    auto* analysing = static_cast<CWizardMode_Analysing*>(wizard->Page(CWizardMode_Main2::Analysing));
    QVERIFY(analysing->CurrentPhase() != CWizardMode_Analysing::Phase::NotStarted);
    QVERIFY(WaitUntil(*wizard, [&] { return analysing->CurrentPhase() == CWizardMode_Analysing::Phase::Done; }));
    QCOMPARE(analysing->StatusLabel()->text(), QString("Idle"));
    QVERIFY(volume->FilesFound.load() > 0);
    QVERIFY(volume->ScanFilesFound.load() > 0);
    Next(*wizard);

    auto* explore = static_cast<CWizardMode_ExplorePage*>(wizard->Page(CWizardMode_Main2::Explore));
    CFoundObject* photo = FindObject(*volume, [](const CFoundObject& o) {
      return o.Name == "deleted-photo.jpg" && !(o.Flags & FOF_SIGNATURE);
    });
    QVERIFY(photo);
    QVERIFY(SelectInList(explore->Explorer(), *volume, photo));
    QTest::mouseClick(explore->RecoverButton(), Qt::LeftButton);
    QVERIFY(WaitUntil(*wizard, [&] { return !wizard->Session().RecoveryRunning(); }));
    const QString path = FindRecovered(destination_.path(), "deleted-photo");
    QVERIFY(!path.isEmpty());
    QCOMPARE(FileBytes(path), uitest::SleuthKitBytes(uitest::SampleImage(), "Pictures/deleted-photo.jpg"));
    Next(*wizard);
    QCOMPARE(wizard->TitleLabel()->text(), QString("Finish: Recovery completed"));
    auto* finish = static_cast<CWizardMode_Finish*>(wizard->Page(CWizardMode_Main2::Finished));
    QCOMPARE(finish->FilesRecoveredLabel()->text(), QString("1"));
  }

  // The Skip button ends the file-system phase and starts the sector scan.
  void skipMovesOnToTheSectorScan() {
    auto* wizard = SwitchTo<CWizardMode_Main2>(ID_MODE_WIZARD2);
    QVERIFY(wizard);
    CVolume* zeros = theComputer().LoadImage(uitest::ZeroImage(1024).toStdString());
    QVERIFY(zeros);
    wizard->Session().SetVolume(zeros);
    wizard->GoTo(CWizardMode_Main2::Analysing);
    auto* analysing = static_cast<CWizardMode_Analysing*>(wizard->Page(CWizardMode_Main2::Analysing));
    // No event handled in between: the file-system phase has just started.
    QCOMPARE(analysing->CurrentPhase(), CWizardMode_Analysing::Phase::FileSystem);
    QVERIFY(analysing->SkipButton()->isEnabled());
    analysing->SkipButton()->click();
    QCOMPARE(analysing->CurrentPhase(), CWizardMode_Analysing::Phase::Sectors);
    QVERIFY(wizard->Session().Busy());
    QVERIFY(!wizard->NextButton()->isEnabled());
    analysing->StopButton()->click();
    QCOMPARE(analysing->CurrentPhase(), CWizardMode_Analysing::Phase::Done);
    QVERIFY(!wizard->Session().Busy());
    QVERIFY(wizard->NextButton()->isEnabled());
  }

  // Main window -> wizard -> four-step wizard -> main window, all in one program.
  void modesSwitchWithoutEndingTheProgram() {
    CMainFrame* frame = program_->frame();
    QVERIFY(frame->Action(ID_MODE_WIZARD)->isEnabled());
    frame->Action(ID_MODE_WIZARD)->trigger();
    QTRY_VERIFY(qobject_cast<CWizardMode_Main*>(program_->app->Window()));
    QVERIFY(!program_->app->MainFrame());
    auto* wizard = qobject_cast<CWizardMode_Window*>(program_->app->Window());
    QCOMPARE(theApp().Settings.UiMode, uint32_t(ID_MODE_WIZARD));
    TriggerViewAction(*wizard, ID_MODE_WIZARD2);
    QTRY_VERIFY(qobject_cast<CWizardMode_Main2*>(program_->app->Window()));
    wizard = qobject_cast<CWizardMode_Window*>(program_->app->Window());
    TriggerViewAction(*wizard, ID_MODE_MAIN);
    QTRY_VERIFY(program_->app->MainFrame());
    QCOMPARE(program_->app->Mode(), int(ID_MODE_MAIN));
    QVERIFY(!program_->app->ExitRequested());
    QVERIFY(program_->prompts.shown.empty());
  }

private:
  template <class W>
  W* SwitchTo(int mode) {
    if (program_->app->Run(mode) != 0) return nullptr;
    QCoreApplication::processEvents();
    return Wizard<W>();
  }

  template <class W = CWizardMode_Window>
  W* Wizard() const {
    return program_ && program_->app ? qobject_cast<W*>(program_->app->Window()) : nullptr;
  }

  void Next(CWizardMode_Window& wizard) {
    const int from = wizard.CurrentStep();
    QVERIFY2(wizard.NextButton()->isEnabled(), qPrintable(wizard.TitleLabel()->text()));
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    QCOMPARE(wizard.CurrentStep(), from + 1);
  }

  void Back(CWizardMode_Window& wizard) {
    const int from = wizard.CurrentStep();
    QTest::mouseClick(wizard.BackButton(), Qt::LeftButton);
    QCOMPARE(wizard.CurrentStep(), from - 1);
  }

  QString LastQuestion() const {
    return program_->prompts.shown.empty() ? QString() : program_->prompts.shown.back().text;
  }

  static void TriggerViewAction(CWizardMode_Window& wizard, int id) {
    for (QAction* action : wizard.findChildren<QAction*>())
      if (action->data().toInt() == id) {
        action->trigger();
        return;
      }
    QFAIL("no such mode in the View menu");
  }

  std::unique_ptr<uitest::Program> program_;
  QTemporaryDir destination_;
};

QM_REGISTER_UI_TEST(TestWizard, "Wizard");

#include "wizard_test.moc"
