// The recovery dialogs on the analysed sample image: the Recover dialog and
// its same-drive question, the progress dialog with its abort question and
// summary, Try to open with its warning and the temporary files at exit,
// and the probable-size dialog asked from the recovery worker.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "engine/catalog/found_object.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/recovery/recovery.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "services/languages.h"
#include "services/log.h"
#include "tests/ui/ui_test_registry.h"
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
#include "ui/try_open_dialog.h"
#include "ui/ui_texts.h"
#include "ui/volume_explore_view.h"

using uitest::ListRow;
using uitest::TreeChild;

namespace {

// A folder on another file system than the sample image (the same-drive
// check would ask otherwise): tmpfs when there is one.
QString OtherDriveFolder() {
  const QString shm = "/dev/shm";
  if (QFileInfo(shm).isDir() && QFileInfo(shm).isWritable()) return shm;
  return {};
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The bytes of the image at a lost file's place.
QByteArray ImageBytes(uint64_t offset, uint64_t size) {
  QFile f(uitest::SampleImage());
  if (!f.open(QIODevice::ReadOnly) || !f.seek(static_cast<qint64>(offset))) return {};
  return f.read(static_cast<qint64>(size));
}

CProbableFileSizeDialog* OpenSizeDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<CProbableFileSizeDialog*>(w); d && d->isVisible()) return d;
  return nullptr;
}

bool LogHas(const std::string& text, size_t from = 0) {
  const std::vector<std::string> lines = theLog().Lines();
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i].find(text) != std::string::npos) return true;
  return false;
}

}  // namespace

class TestRecoveryDialogs : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    program_ = uitest::StartAnalysedSample();
    QVERIFY(program_ && program_->frame());
    QVERIFY(dest_.isValid());
  }

  void cleanupTestCase() { program_.reset(); }

  void recoverDialogStoresItsFieldsAndAsksAboutTheSameDrive() {
    const QString other = OtherDriveFolder();
    if (other.isEmpty()) QSKIP("no second file system to choose");
    CMainFrame* frame = program_->frame();
    frame->OnCommand(ID_RECOVER);
    COnRecoveryDlg* dialog = frame->RecoveryCommands().RecoverDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QString("Recover files"));
    QCOMPARE(dialog->KeepStructure()->text(), QString("Keep folder structure"));
    // Browse stores the folder with one trailing separator.
    QTemporaryDir beside(QDir::tempPath() + "/qm-same-drive-XXXXXX");
    program_->prompts.paths = {beside.path() + "//"};
    dialog->BrowseButton()->click();
    QCOMPARE(dialog->Folder()->text(), beside.path() + "/");
    QCOMPARE(program_->prompts.shown.back().caption, QString(kSelectDestinationTitle));
    // On the image's own file system: asked; Yes browses to another drive.
    QTemporaryDir elsewhere(other + "/qm-recovered-XXXXXX");
    program_->prompts.answers = {true};
    program_->prompts.paths = {elsewhere.path()};
    dialog->KeepStructure()->setChecked(false);
    const size_t before = program_->prompts.shown.size();
    dialog->OkButton()->click();
    QCOMPARE(program_->prompts.shown[before].text, QString(kSameDriveQuestion));
    QCOMPARE(program_->prompts.shown[before].caption, QString("Warning!"));
    QCOMPARE(program_->prompts.shown.size(), before + 2);  // the question, the browser; no second question
    QVERIFY(!dialog->isVisible());
    QCOMPARE(QString::fromStdString(theApp().Settings.DestinationFolderText()), elsewhere.path());
    QCOMPARE(theApp().Settings.KeepFolderStructure, 0u);
    // The recovery it started (nothing selected): an empty list, no progress.
    QTRY_VERIFY_WITH_TIMEOUT(LogHas("Recovery list is empty!"), uitest::kWorkerWaitMs);
    QVERIFY(!frame->RecoveryCommands().ProgressDialog());
  }

  void recoversLiveDeletedAndLostFilesByteForByte() {
    if (!uitest::HaveTool("icat")) QSKIP("The Sleuth Kit is not installed");
    CMainFrame* frame = program_->frame();
    CVolumeExploreView& explorer = frame->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    const QModelIndex top = tree.Model().index(0, 0);
    const QModelIndex root = tree.Model().index(0, 0, top);
    // A deleted folder and a live file of the file list.
    tree.setCurrentIndex(root);
    CFilesListView& files = explorer.Files();
    files.clearSelection();
    files.selectionModel()->select(files.Model().index(ListRow(files, "Old Stuff"), 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    files.selectionModel()->select(files.Model().index(ListRow(files, "README.TXT"), 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const std::vector<CFoundObject*> liveAndDeleted = explorer.Selection();
    QCOMPARE(int(liveAndDeleted.size()), 2);
    RecoverSelection(dest_.path());
    CRecoveryProgressDlg* progress = frame->RecoveryCommands().ProgressDialog();
    QVERIFY(progress);
    QTRY_VERIFY_WITH_TIMEOUT(progress->Finished(), uitest::kWorkerWaitMs);
    QVERIFY(!progress->AbortButton()->isVisible());
    QVERIFY(progress->OkButton()->isVisible() && progress->GoToButton()->isVisible());
    // The folder's files, depth first, then the folder itself.
    const std::vector<CFoundObject*>& list = theComputer().Recovery().List();
    QCOMPARE(int(list.size()), 5);
    QCOMPARE(QString::fromStdString(list[0]->Name), QString("sunset copy.jpg"));
    QCOMPARE(QString::fromStdString(list[3]->Name), QString("Old Stuff"));
    QCOMPARE(progress->CountText()->text(), QString("5 of 5"));
    QCOMPARE(progress->TotalBar()->value(), progress->TotalBar()->maximum());
    QVERIFY2(progress->Summary()->text().startsWith("Recovered 3 file(s)"), qPrintable(progress->Summary()->text()));
    progress->OkButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!frame->RecoveryCommands().ProgressDialog(), uitest::kWorkerWaitMs);

    const QString image = uitest::SampleImage();
    for (const char* path : {"README.TXT", "Old Stuff/_ld-list.txt", "Old Stuff/Nested/sunset copy.jpg"}) {
      const QByteArray expected = uitest::SleuthKitBytes(image, path);
      QVERIFY2(!expected.isEmpty(), path);
      QVERIFY2(ReadFile(dest_.path() + "/" + path) == expected, path);
    }

    // Lost files: the bytes of the image where the scan found them.
    const QModelIndex lost = TreeChild(tree, top, "Lost files");
    tree.setCurrentIndex(TreeChild(tree, lost, "Documents"));
    const int row = ListRow(files, "Pdf_39845888.pdf");
    QVERIFY(row >= 0);
    CFoundObject* pdf = files.Model().ObjectAt(row);
    files.clearSelection();
    files.selectionModel()->select(files.Model().index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    RecoverSelection(dest_.path());
    progress = frame->RecoveryCommands().ProgressDialog();
    QVERIFY(progress);
    QTRY_VERIFY_WITH_TIMEOUT(progress->Finished(), uitest::kWorkerWaitMs);
    progress->OkButton()->click();
    const QByteArray recovered = ReadFile(dest_.path() + "/Lost files/Documents/Pdf_39845888.pdf");
    QCOMPARE(recovered.size(), qsizetype(pdf->Size));
    QVERIFY(recovered == ImageBytes(pdf->StartOffset, pdf->Size));
    QVERIFY(recovered.startsWith("%PDF"));
  }

  void withTheFolderTreeFocusedItsFolderIsRecovered() {
    CMainFrame* frame = program_->frame();
    CFilesTreeView& tree = frame->Explorer().Tree();
    const QModelIndex root = tree.Model().index(0, 0, tree.Model().index(0, 0));
    tree.setCurrentIndex(TreeChild(tree, root, "Documents"));
    frame->activateWindow();
    QApplication::setActiveWindow(frame);
    tree.setFocus();
    if (!tree.hasFocus()) QSKIP("the platform gives no focus");
    QTemporaryDir dest;
    RecoverSelection(dest.path());
    FinishRecovery();
    // The files below the folder (and the folder below it), not the folder itself.
    QStringList names;
    for (const CFoundObject* o : theComputer().Recovery().List()) names << QString::fromStdString(o->Name);
    names.sort();
    QCOMPARE(names, QStringList({"Brief an Müller.txt", "Letters", "Quarterly Report 2024.pdf", "old draft.txt"}));
    QVERIFY(QFileInfo::exists(dest.path() + "/Documents/Letters/Brief an Müller.txt"));
  }

  void abortAsksAndNoGoesOn() {
    CMainFrame* frame = program_->frame();
    theApp().Settings.ConfirmRecoveryAbort = 1;
    // A lost file of unknown size holds the worker at its size question.
    std::vector<CFoundObject*> lostFiles = SelectLostFiles();
    QCOMPARE(int(lostFiles.size()), 2);
    frame->OnCommand(ID_RESET_SIZE);
    for (CFoundObject* o : lostFiles) QCOMPARE(o->Size, SIZE_UNKNOWN);
    QTemporaryDir dest;
    RecoverSelection(dest.path());
    CRecoveryProgressDlg* progress = frame->RecoveryCommands().ProgressDialog();
    QVERIFY(progress);
    QTRY_VERIFY_WITH_TIMEOUT(OpenSizeDialog(), uitest::kWorkerWaitMs);
    QVERIFY(theComputer().Recovery().IsWorking());
    // Abort, answered No: the recovery goes on.
    program_->prompts.answers = {false};
    progress->AbortButton()->click();
    QCOMPARE(program_->prompts.shown.back().text, QString("Are you sure you want to stop recovery?"));
    QCOMPARE(program_->prompts.shown.back().caption, QString("Confirmation"));
    QVERIFY(progress->isVisible());
    QVERIFY(theComputer().Recovery().IsWorking());
    // This file only: 2 KB; the next lost file is asked again.
    AnswerSize(OpenSizeDialog(), SIZE_OPTION_CUSTOM, SIZE_SCOPE_THIS_FILE, 2, SIZE_UNIT_KB);
    QTRY_VERIFY_WITH_TIMEOUT(OpenSizeDialog(), uitest::kWorkerWaitMs);
    AnswerSize(OpenSizeDialog(), SIZE_OPTION_CUSTOM, SIZE_SCOPE_THIS_FILE, 1, SIZE_UNIT_KB);
    QTRY_VERIFY_WITH_TIMEOUT(progress->Finished(), uitest::kWorkerWaitMs);
    QVERIFY(progress->Summary()->text().startsWith("Recovered 2 file(s)"));
    progress->OkButton()->click();
    QCOMPARE(QFileInfo(dest.path() + "/Lost files/Documents/Pdf_39845888.pdf").size(), 2048);
    QCOMPARE(QFileInfo(dest.path() + "/Lost files/Images/Png_37748736.png").size(), 1024);
  }

  void abortAnsweredYesStopsTheRecovery() {
    CMainFrame* frame = program_->frame();
    theApp().Settings.ConfirmRecoveryAbort = 1;
    SelectLostFiles();
    QTemporaryDir dest;
    const size_t logFrom = theLog().Lines().size();
    RecoverSelection(dest.path());
    QPointer<CRecoveryProgressDlg> progress = frame->RecoveryCommands().ProgressDialog();
    QVERIFY(progress);
    QTRY_VERIFY_WITH_TIMEOUT(OpenSizeDialog(), uitest::kWorkerWaitMs);
    program_->prompts.answers = {true};
    progress->AbortButton()->click();
    // The dialog closes; the open size question is withdrawn with it.
    QTRY_VERIFY_WITH_TIMEOUT(!progress, uitest::kWorkerWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!theComputer().Recovery().IsWorking(), uitest::kWorkerWaitMs);
    QVERIFY(!OpenSizeDialog());
    QVERIFY(LogHas("Recovery aborted.", logFrom));
    QVERIFY(LogHas("Recovery completed.", logFrom));
    QVERIFY(!QFileInfo::exists(dest.path() + "/Lost files/Images/Png_37748736.png"));
    QCOMPARE(theComputer().Recovery().RecoveredCount(), 0);
  }

  void sizeDialogShowsItsValuesAndTheCommandsSetSizes() {
    CMainFrame* frame = program_->frame();
    std::vector<CFoundObject*> lostFiles = SelectLostFiles();
    CFoundObject* pdf = lostFiles.front();
    QCOMPARE(QString::fromStdString(pdf->Name), QString("Pdf_39845888.pdf"));
    pdf->Size = 1500000;
    // Set New Size runs the dialog modally on the interface thread.
    QString offset, condition, unit, explanation;
    int value = 0;
    bool customEnabled = true;
    QTimer::singleShot(0, this, [&] {
      CProbableFileSizeDialog* d = OpenSizeDialog();
      if (!d) return;
      offset = d->OffsetText()->text();
      condition = d->ConditionText()->text();
      explanation = d->Explanation()->text();
      value = d->CustomValue()->value();
      unit = d->CustomUnit()->currentText();
      customEnabled = d->CustomValue()->isEnabled();
      AnswerSize(d, SIZE_OPTION_CUSTOM, SIZE_SCOPE_THIS_FILE, 5, SIZE_UNIT_KB);
    });
    frame->OnCommand(ID_SET_NEW_SIZE);
    QCOMPARE(offset, QString("39845888"));
    QCOMPARE(condition, QString("Deleted"));
    QVERIFY2(explanation.startsWith("The file of the '") && !explanation.contains("%s"), qPrintable(explanation));
    QCOMPARE(value, 1);
    QCOMPARE(unit, QString(" MB"));
    QVERIFY(!customEnabled);  // "Distance to the next file of the same type:" is the first choice
    // Every file of the selection takes the size entered.
    for (CFoundObject* o : lostFiles) QCOMPARE(o->Size, uint64_t(5120));
    frame->OnCommand(ID_RESET_SIZE);
    for (CFoundObject* o : lostFiles) QCOMPARE(o->Size, SIZE_UNKNOWN);
  }

  void rememberedSizeChoicesApplyToTheNextFiles() {
    CMainFrame* frame = program_->frame();
    std::vector<CFoundObject*> lostFiles = SelectLostFiles();
    frame->OnCommand(ID_RESET_SIZE);
    // "All files of this type" for the PDF; the PNG is skipped.
    QTemporaryDir first;
    RecoverSelection(first.path());
    QTRY_VERIFY_WITH_TIMEOUT(OpenSizeDialog(), uitest::kWorkerWaitMs);
    AnswerSize(OpenSizeDialog(), SIZE_OPTION_CUSTOM, SIZE_SCOPE_THIS_TYPE, 3, SIZE_UNIT_KB);
    QTRY_VERIFY_WITH_TIMEOUT(OpenSizeDialog(), uitest::kWorkerWaitMs);
    OpenSizeDialog()->SkipButton()->click();
    FinishRecovery();
    QCOMPARE(QFileInfo(first.path() + "/Lost files/Documents/Pdf_39845888.pdf").size(), 3072);
    QVERIFY(!QFileInfo::exists(first.path() + "/Lost files/Images/Png_37748736.png"));
    // Next run: the PDF is not asked about; the PNG is, and its answer
    // covers every type from now on.
    QTemporaryDir second;
    RecoverSelection(second.path());
    QTRY_VERIFY_WITH_TIMEOUT(OpenSizeDialog(), uitest::kWorkerWaitMs);
    QVERIFY(OpenSizeDialog()->TypeText()->text().contains("png", Qt::CaseInsensitive) ||
            OpenSizeDialog()->Explanation()->text().contains("png", Qt::CaseInsensitive));
    AnswerSize(OpenSizeDialog(), SIZE_OPTION_CUSTOM, SIZE_SCOPE_ANY_TYPE, 1, SIZE_UNIT_KB);
    FinishRecovery();
    QCOMPARE(QFileInfo(second.path() + "/Lost files/Documents/Pdf_39845888.pdf").size(), 3072);
    QCOMPARE(QFileInfo(second.path() + "/Lost files/Images/Png_37748736.png").size(), 1024);
    // Third run: no question at all.
    QTemporaryDir third;
    RecoverSelection(third.path());
    FinishRecovery();
    QCOMPARE(QFileInfo(third.path() + "/Lost files/Images/Png_37748736.png").size(), 1024);
    QCOMPARE(QFileInfo(third.path() + "/Lost files/Documents/Pdf_39845888.pdf").size(), 1024);
  }

  void tryToOpenWarnsOpensAndOffersTheFilesAtExit() {
    CMainFrame* frame = program_->frame();
    CVolumeExploreView& explorer = frame->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    tree.setCurrentIndex(tree.Model().index(0, 0, tree.Model().index(0, 0)));
    CFilesListView& files = explorer.Files();
    files.clearSelection();
    files.selectionModel()->select(files.Model().index(ListRow(files, "README.TXT"), 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTemporaryDir temp;
    CRecovery& tryOpen = theComputer().TryOpen();
    tryOpen.TemporaryFolder = temp.path().toStdString();
    QStringList opened;
    tryOpen.OpenFile = [&opened](const std::string& path, int*) {
      opened << QString::fromStdString(path);
      return OpenResult::Opened;
    };
    theApp().Settings.NoTryOpenWarning = 0;
    frame->OnCommand(ID_TRY_OPEN);
    CDlgTryOpen* warning = frame->findChild<CDlgTryOpen*>();
    QVERIFY(warning && warning->isVisible());
    QCOMPARE(warning->windowTitle(), QString("Try To Open"));
    warning->DontWarnAgain()->setChecked(true);
    warning->OkButton()->click();
    QCOMPARE(theApp().Settings.NoTryOpenWarning, 1u);
    // The self-closing progress dialog.
    QTRY_VERIFY_WITH_TIMEOUT(!frame->RecoveryCommands().ProgressDialog(), uitest::kWorkerWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, uitest::kWorkerWaitMs);
    QVERIFY(opened[0].startsWith(temp.path()) && opened[0].endsWith("README.TXT"));
    QVERIFY(QFileInfo::exists(opened[0]));
    // Without the warning the next time.
    frame->OnCommand(ID_TRY_OPEN);
    QVERIFY(!frame->findChild<CDlgTryOpen*>() || !frame->findChild<CDlgTryOpen*>()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 2, uitest::kWorkerWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!frame->RecoveryCommands().ProgressDialog(), uitest::kWorkerWaitMs);
    // At exit: the question, and Yes deletes them.
    program_->prompts.answers = {true};
    program_->app->DeleteTemporaryFiles(frame);
    QCOMPARE(program_->prompts.shown.back().text, QString("Delete temporary files?"));
    QCOMPARE(program_->prompts.shown.back().caption, QString("Confirmation"));
    QVERIFY(!QFileInfo::exists(opened[0]));
    tryOpen.OpenFile = OpenWithDesktop;
    tryOpen.TemporaryFolder.clear();
  }

  // Work that is over before its self-closing dialog opens (a quick "Try
  // to open" on a busy machine) still closes the dialog.
  void selfClosingProgressClosesWhenTheWorkEndedBeforeItOpened() {
    CRecovery& tryOpen = theComputer().TryOpen();
    QVERIFY(!tryOpen.IsWorking());
    auto* dialog = new CRecoveryProgressDlg(tryOpen, program_->prompts, true, program_->frame());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<CRecoveryProgressDlg> watched(dialog);
    dialog->open();
    QTRY_VERIFY_WITH_TIMEOUT(!watched || !watched->isVisible(), uitest::kWorkerWaitMs);
  }

  void dialogsSpeakGerman() {
    if (!uitest::SetLanguage("Deutsch")) QSKIP("no language files beside the program");
    CMainFrame* frame = program_->frame();

    frame->OnCommand(ID_RECOVER);
    COnRecoveryDlg* recover = frame->RecoveryCommands().RecoverDialog();
    QVERIFY(recover);
    QCOMPARE(recover->windowTitle(), QString("Dateien wiederherstellen"));
    QCOMPARE(recover->KeepStructure()->text(), QString("Ordnerstruktur beibehalten"));
    QCOMPARE(recover->BrowseButton()->text(), QString("Durchsuchen..."));
    recover->reject();

    CRecoveryProgressDlg progress(theComputer().Recovery(), program_->prompts, false, frame);
    QCOMPARE(progress.windowTitle(), QString("Dateien werden wiederhergestellt..."));
    QCOMPARE(progress.AbortButton()->text(), QString("Abbrechen"));
    QCOMPARE(progress.GoToButton()->text(), QString("Zu den wiederhergestellten Dateien..."));
    QVERIFY2(progress.CountText()->text().contains(" von "), qPrintable(progress.CountText()->text()));
    QVERIFY2(progress.Summary()->text().contains("wiederhergestellt"), qPrintable(progress.Summary()->text()));

    ProbableSizeDialogState state;
    state.TypeName = "PDF File";
    CProbableFileSizeDialog size(state, frame);
    QCOMPARE(size.windowTitle(), QString("Wahrscheinliche Dateigröße eingeben"));
    QVERIFY2(size.Explanation()->text().startsWith("Eine Datei vom Typ 'PDF File'"), qPrintable(size.Explanation()->text()));
    QCOMPARE(size.SkipButton()->text(), QString("Datei überspringen"));

    CDlgTryOpen tryOpen(frame);
    QCOMPARE(tryOpen.windowTitle(), QString("Öffnen versuchen"));
    QCOMPARE(tryOpen.DontWarnAgain()->text(), QString("Diese Warnung nicht mehr anzeigen"));

    QVERIFY(uitest::SetLanguage("English"));
    QCOMPARE(tryOpen.windowTitle(), QString("Try To Open"));
    QCOMPARE(size.SkipButton()->text(), QString("Skip File"));
  }

private:
  // Selects the two lost files (their folders in the "Lost files" folder).
  std::vector<CFoundObject*> SelectLostFiles() {
    CVolumeExploreView& explorer = program_->frame()->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    tree.setCurrentIndex(TreeChild(tree, tree.Model().index(0, 0), "Lost files"));
    CFilesListView& files = explorer.Files();
    files.clearSelection();
    for (const char* folder : {"Documents", "Images"})
      files.selectionModel()->select(files.Model().index(ListRow(files, folder), 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    std::vector<CFoundObject*> lostFiles;
    for (CFoundObject* folder : explorer.Selection()) folder->Volume->Catalog().GetChildren(folder->ObjectID, lostFiles);
    return lostFiles;
  }

  // Recover, into `folder`, through the Recover dialog.
  void RecoverSelection(const QString& folder) {
    CMainFrame* frame = program_->frame();
    frame->OnCommand(ID_RECOVER);
    COnRecoveryDlg* dialog = frame->RecoveryCommands().RecoverDialog();
    QVERIFY(dialog);
    dialog->Folder()->setText(folder);
    program_->prompts.answers.push_front(false);  // the same-drive question, if asked: No
    dialog->OkButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(frame->RecoveryCommands().ProgressDialog(), uitest::kWorkerWaitMs);
    program_->prompts.answers.clear();
  }

  void FinishRecovery() {
    CRecoveryProgressDlg* progress = program_->frame()->RecoveryCommands().ProgressDialog();
    QVERIFY(progress);
    QTRY_VERIFY_WITH_TIMEOUT(progress->Finished(), uitest::kWorkerWaitMs);
    progress->OkButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!program_->frame()->RecoveryCommands().ProgressDialog(), uitest::kWorkerWaitMs);
  }

  static void AnswerSize(CProbableFileSizeDialog* dialog, int option, int scope, int value, int unit) {
    QVERIFY(dialog);
    dialog->SetOption(option);
    dialog->SetScope(scope);
    dialog->SetCustom(value, unit);
    QCOMPARE(dialog->CustomValue()->isEnabled(), option == SIZE_OPTION_CUSTOM);
    dialog->OkButton()->click();
  }

  std::unique_ptr<uitest::Program> program_;
  QTemporaryDir dest_{OtherDriveFolder().isEmpty() ? QDir::tempPath() + "/qm-recovered-XXXXXX"
                                                   : OtherDriveFolder() + "/qm-recovered-XXXXXX"};
};

QM_REGISTER_UI_TEST(TestRecoveryDialogs, "RecoveryDialogs");

#include "recovery_dialogs_test.moc"
