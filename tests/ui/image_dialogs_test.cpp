// The drive image commands: Create Drive Image (suggested name, filters,
// the overwrite question, the copy, its cancel, the loading of a finished
// image) and Load Drive Image.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "services/languages.h"
#include "tests/ui/ui_test_registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/create_image_dialog.h"
#include "ui/main_frame.h"
#include "ui/my_computer_view.h"
#include "ui/recovery_commands.h"
#include "ui/ui_texts.h"
#include "ui/volume_explore_view.h"

namespace {

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestImageDialogs : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    uitest::UseFreshSettings();
    program_ = uitest::StartProgram({uitest::SampleImage()});
    QVERIFY(program_->frame());
    theApp().Settings.ConfirmExit = 0;
    QVERIFY(dir_.isValid());
  }

  void cleanupTestCase() { program_.reset(); }

  void createdImageIsTheVolumeAndIsLoaded() {
    CMainFrame* frame = program_->frame();
    CMyComputerView& drives = frame->Explorer().Drives();
    CVolume* source = drives.SelectedVolume();
    QVERIFY(source);
    const QString target = dir_.path() + "/copy.dsk";
    program_->prompts.paths = {target};
    frame->OnCommand(ID_CREATE_IMAGE);
    QCOMPARE(program_->prompts.shown.back().kind, QString("save"));
    QVERIFY2(QFileInfo(program_->prompts.suggested).fileName().startsWith("Image from drive "),
             qPrintable(program_->prompts.suggested));
    QVERIFY(program_->prompts.suggested.endsWith(".dsk"));
    QCOMPARE(program_->prompts.filters, QStringList({"Drive Image Files ( *.dsk ) (*.dsk)", "All Files ( *.* ) (*)"}));
    CCreateImageDlg* dialog = frame->RecoveryCommands().ImageDialog();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(!dialog->ContinueOnErrors()->isChecked());
    QVERIFY(dialog->StartButton()->isVisible());
    const int volumesBefore = int(theComputer().Volumes.Snapshot().size());
    dialog->StartButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->OkButton()->isVisible(), 60000);
    QVERIFY(!dialog->CancelButton()->isVisible());
    QCOMPARE(dialog->Bar()->value(), 100);
    QVERIFY2(dialog->Summary()->text().startsWith("Image complete"), qPrintable(dialog->Summary()->text()));
    QVERIFY(ReadFile(target) == ReadFile(uitest::SampleImage()));
    // Closing after a completed copy loads the image and selects it.
    dialog->OkButton()->click();
    QCOMPARE(int(theComputer().Volumes.Snapshot().size()), volumesBefore + 1);
    CVolume* loaded = drives.SelectedVolume();
    QVERIFY(loaded && loaded != source);
    QCOMPARE(QString::fromStdString(loaded->DevicePath), target);
    QCOMPARE(loaded->TotalSectors, source->TotalSectors);
  }

  void anExistingFileIsReplacedOnlyAfterTheQuestion() {
    CMainFrame* frame = program_->frame();
    const QString target = dir_.path() + "/copy.dsk";
    QVERIFY(QFileInfo::exists(target));
    program_->prompts.paths = {target};
    program_->prompts.answers = {false};
    frame->OnCommand(ID_CREATE_IMAGE);
    QCOMPARE(program_->prompts.shown.back().caption, QString("Confirm Save As"));
    QVERIFY(program_->prompts.shown.back().text.startsWith("copy.dsk already exists."));
    QVERIFY(!frame->RecoveryCommands().ImageDialog());
  }

  void cancelledImageKeepsWhatWasCopiedAndIsNotLoaded() {
    CMainFrame* frame = program_->frame();
    // A volume large enough that the cancel comes while it is copied.
    QVERIFY(frame->OpenImage(uitest::ZeroImage(256)));
    const QString target = dir_.path() + "/cancelled.dsk";
    program_->prompts.paths = {target};
    frame->OnCommand(ID_CREATE_IMAGE);
    QPointer<CCreateImageDlg> dialog = frame->RecoveryCommands().ImageDialog();
    QVERIFY(dialog);
    dialog->ContinueOnErrors()->setChecked(true);
    const int volumesBefore = int(theComputer().Volumes.Snapshot().size());
    dialog->StartButton()->click();
    QVERIFY(dialog->Job().ContinueOnErrors);
    dialog->CancelButton()->click();
    // The copy stops after its block; the dialog stays to say so.
    QVERIFY(dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->OkButton()->isVisible(), 60000);
    QCOMPARE(dialog->Job().Outcome.load(), ImageOutcome::Cancelled);
    QVERIFY2(dialog->Summary()->text().startsWith("Image cancelled"), qPrintable(dialog->Summary()->text()));
    QVERIFY(dialog->Bar()->value() < 100);
    QVERIFY(QFileInfo::exists(target + ".map"));  // the map of a go-on copy, to resume from
    dialog->OkButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog, uitest::kWorkerWaitMs);
    QCOMPARE(int(theComputer().Volumes.Snapshot().size()), volumesBefore);
  }

  void loadDriveImageSelectsTheNewVolume() {
    CMainFrame* frame = program_->frame();
    const QString image = dir_.path() + "/copy.dsk";
    program_->prompts.paths = {image};
    frame->OnCommand(ID_LOAD_IMAGE);
    QCOMPARE(program_->prompts.shown.back().kind, QString("open"));
    QVERIFY(program_->prompts.filters.size() >= 3);
    QVERIFY(program_->prompts.filters[1].contains("*.E01") && program_->prompts.filters[1].contains("*.qcow2"));
    CVolume* loaded = frame->Explorer().Drives().SelectedVolume();
    QVERIFY(loaded);
    QCOMPARE(QString::fromStdString(loaded->DevicePath), image);
    QCOMPARE(frame->Explorer().CurrentVolume(), loaded);
  }

  void createImageDialogSpeaksGerman() {
    if (!uitest::SetLanguage("Deutsch")) QSKIP("no language files beside the program");
    auto job = std::make_unique<ImageJob>();
    job->Source = program_->frame()->Explorer().Drives().SelectedVolume();
    CCreateImageDlg dialog(std::move(job), program_->prompts, program_->frame());
    QCOMPARE(dialog.windowTitle(), QString("Laufwerksabbild erstellen"));
    QCOMPARE(dialog.StartButton()->text(), QString("Starten"));
    QCOMPARE(dialog.CancelButton()->text(), QString("Abbrechen"));
    QVERIFY(dialog.ContinueOnErrors()->text().startsWith("Über unlesbare Sektoren"));
    QVERIFY(uitest::SetLanguage("English"));
    QCOMPARE(dialog.StartButton()->text(), QString("Start"));
  }

private:
  std::unique_ptr<uitest::Program> program_;
  QTemporaryDir dir_;
};

QM_REGISTER_UI_TEST(TestImageDialogs, "ImageDialogs");

#include "image_dialogs_test.moc"
