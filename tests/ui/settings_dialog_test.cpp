// "Program Settings": each Options command opens its page; every page
// stores its fields in the settings record and shows them again at the next
// start; the enabling rules; the file-type tree with signature files; the
// language page switching the language at once.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <memory>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "platform/registry_store.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/languages.h"
#include "tests/ui/ui_test_registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/file_type_tree.h"
#include "ui/main_frame.h"
#include "ui/settings_dialog.h"
#include "ui/qt_translation_targets.h"
#include "ui/settings_pages.h"
#include "ui/ui_texts.h"

namespace {

int LanguageIndex(const char* name) {
  const std::vector<std::string> list = theApp().Languages.List();
  const auto it = std::find(list.begin(), list.end(), name);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

using OpenedDialog = uitest::OpenedDialog<CSettingsDlg>;

QStringList TabTitles(QTabWidget* tabs) {
  QStringList titles;
  for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
  return titles;
}

}  // namespace

class TestSettingsDialog : public QObject {
  Q_OBJECT
private slots:
  void init() { uitest::UseFreshSettings(); }
  void cleanup() { SetUiLanguage(LanguageIndex("English")); }

  void eachOptionsCommandOpensItsPage() {
    auto program = uitest::StartProgram({});
    CMainFrame* frame = program->frame();
    const std::pair<int, const char*> pages[] = {
        {ID_SETTINGS, "ProgrammSettings.Common"},
        {ID_SETTINGS_COMMON, "ProgrammSettings.Common"},
        {ID_SETTINGS_CONFIRMATIONS, "ProgrammSettings.Confirms"},
        {ID_SETTINGS_DRIVE_ACCESS, "ProgrammSettings.DriveAccess"},
        {ID_SETTINGS_LANGUAGE, "ProgrammSettings.Languages"},
        {ID_SETTINGS_LOGGING, "ProgrammSettings.Logging"},
        {ID_SETTINGS_FILE_TYPES, "ProgrammSettings.SearchFileTypes"},
        {ID_SETTINGS_TEMP_FOLDER, "ProgrammSettings.Temporary"},
    };
    for (const auto& [command, page] : pages) {
      QVERIFY(frame->Action(command)->isEnabled());
      OpenedDialog opened(frame, command);
      QVERIFY(opened.dialog);
      QVERIFY(opened.dialog->isVisible());
      QCOMPARE(opened.dialog->windowTitle(), QString("Program Settings"));
      QCOMPARE(QString(opened.dialog->CurrentPage()->Section()), QString(page));
    }
    OpenedDialog opened(frame, ID_SETTINGS);
    // The titles as the pages show them, spelled right.
    QCOMPARE(TabTitles(opened.dialog->Pages()),
             QStringList({"Common Settings", "Confirmations", "Drive Access", "Interface Languages", "Logging",
                          "File Types", "Temporary Folder"}));
    // Each page shows its 48 x 48 icon.
    for (int i = 0; i < opened.dialog->Pages()->count(); ++i) {
      bool icon = false;
      for (QLabel* label : opened.dialog->Pages()->widget(i)->findChildren<QLabel*>())
        icon = icon || label->pixmap().size() == QSize(48, 48) || label->pixmap().deviceIndependentSize() == QSizeF(48, 48);
      QVERIFY2(icon, qPrintable(opened.dialog->Pages()->tabText(i)));
    }
    // Ranges of the numbers.
    QCOMPARE(opened.dialog->DriveAccess->RetryCount->maximum(), 1000000);
    QCOMPARE(opened.dialog->DriveAccess->RetryPause->minimum(), 0);
    QCOMPARE(opened.dialog->Logging->MaxSize->minimum(), 1);
    QCOMPARE(opened.dialog->Logging->MaxSize->maximum(), 102400);
    // The overwrite confirmation is kept but not shown.
    QVERIFY(!opened.dialog->Confirms->ConfirmOverwrite->isVisible());
  }

  void pagesStoreTheirFieldsAndRestoreThemAtTheNextStart() {
    const QString customTemp = QDir::tempPath() + "/qm-custom-temp";
    const QString logName = QDir::tempPath() + "/qm-settings-test.log";
    {
      auto program = uitest::StartProgram({});
      CMainFrame* frame = program->frame();
      OpenedDialog opened(frame, ID_SETTINGS);
      CSettingsDlg* d = opened.dialog;
      // The defaults, as the pages show them.
      QVERIFY(d->Common->ShowSplash->isChecked());
      QVERIFY(d->Confirms->ConfirmExit->isChecked());
      QVERIFY(d->Confirms->TryOpenWarning->isChecked());
      QCOMPARE(d->DriveAccess->RetryCount->value(), 3);
      QCOMPARE(d->Logging->MaxSize->value(), 10240);
      QVERIFY(d->Temporary->SystemFolder->isChecked());

      d->Common->ShowSplash->setChecked(false);
      d->Confirms->ConfirmExit->setChecked(false);
      d->Confirms->ConfirmScanAbort->setChecked(false);
      d->Confirms->ConfirmRecoveryAbort->setChecked(false);
      d->Confirms->TryOpenWarning->setChecked(false);
      d->DriveAccess->RetryCount->setValue(7);
      d->DriveAccess->RetryPause->setValue(250);
      d->Logging->LogToFile->setChecked(true);
      d->Logging->FileName->setText(logName);
      d->Logging->MaxSize->setValue(64);
      d->Logging->ClearOnStart->setChecked(false);
      d->Logging->ToDebugger->setChecked(false);
      d->Temporary->CustomFolder->setChecked(true);
      d->Temporary->Folder->setText(customTemp);
      // Nothing reaches the record before OK.
      QCOMPARE(theApp().Settings.RetryCount, 3);
      for (QPushButton* b : d->findChildren<QPushButton*>())
        if (ControlId(b) == 1) b->click();
      QVERIFY(!d->isVisible());
      // The idle moment stores the record.
      frame->OnIdle();
      theApp().Settings.ConfirmExit = 0;
    }
    uitest::KeepSettings();
    QCOMPARE(theApp().LoadSettings(), 1);
    const CSettings& s = theApp().Settings;
    QCOMPARE(s.ShowSplash, 0u);
    QCOMPARE(s.ConfirmScanAbort, 0u);
    QCOMPARE(s.ConfirmRecoveryAbort, 0u);
    QCOMPARE(s.NoTryOpenWarning, 1u);
    QCOMPARE(s.RetryCount, 7);
    QCOMPARE(s.RetryPauseMs, 250u);
    QCOMPARE(s.LogToFile, 1u);
    QCOMPARE(QString::fromStdString(s.LogFileNameText()), logName);
    QCOMPARE(s.MaxLogSizeKB, 64u);
    QCOMPARE(s.ClearLogOnStart, 0u);
    QCOMPARE(s.LogToDebugger, 0u);
    QCOMPARE(s.CustomTempFolder, 1u);
    QCOMPARE(QString::fromStdString(s.TempFolderText()), customTemp);

    // The next start's dialog shows them.
    auto program = uitest::StartProgram({});
    OpenedDialog opened(program->frame(), ID_SETTINGS);
    CSettingsDlg* d = opened.dialog;
    QVERIFY(!d->Common->ShowSplash->isChecked());
    QVERIFY(!d->Confirms->ConfirmScanAbort->isChecked());
    QVERIFY(!d->Confirms->TryOpenWarning->isChecked());
    QCOMPARE(d->DriveAccess->RetryCount->value(), 7);
    QCOMPARE(d->DriveAccess->RetryPause->value(), 250);
    QVERIFY(d->Logging->LogToFile->isChecked());
    QCOMPARE(d->Logging->FileName->text(), logName);
    QCOMPARE(d->Logging->MaxSize->value(), 64);
    QVERIFY(!d->Logging->ClearOnStart->isChecked());
    QVERIFY(d->Temporary->CustomFolder->isChecked());
    QCOMPARE(d->Temporary->Folder->text(), customTemp);
    theApp().Settings.LogToFile = 0;
    QFile::remove(logName);
  }

  void cancelLeavesTheRecordAndApplyWritesIt() {
    auto program = uitest::StartProgram({});
    OpenedDialog opened(program->frame(), ID_SETTINGS_DRIVE_ACCESS);
    CSettingsDlg* d = opened.dialog;
    d->DriveAccess->RetryCount->setValue(11);
    d->ApplyAll();
    QCOMPARE(theApp().Settings.RetryCount, 11);
    d->DriveAccess->RetryCount->setValue(12);
    d->reject();
    QCOMPARE(theApp().Settings.RetryCount, 11);
  }

  void enablingRules() {
    auto program = uitest::StartProgram({});
    OpenedDialog opened(program->frame(), ID_SETTINGS_LOGGING);
    CSettingsDlg* d = opened.dialog;
    d->Logging->LogToFile->setChecked(false);
    QVERIFY(!d->Logging->FileName->isEnabled());
    QVERIFY(!d->Logging->MaxSize->isEnabled());
    QVERIFY(!d->Logging->Browse->isEnabled());
    QVERIFY(d->Logging->ToDebugger->isEnabled());
    d->Logging->LogToFile->setChecked(true);
    QVERIFY(d->Logging->FileName->isEnabled());
    QVERIFY(d->Logging->MaxSize->isEnabled());

    d->Temporary->SystemFolder->setChecked(true);
    QVERIFY(!d->Temporary->Folder->isEnabled());
    QVERIFY(!d->Temporary->Browse->isEnabled());
    d->Temporary->CustomFolder->setChecked(true);
    QVERIFY(d->Temporary->Folder->isEnabled());
    QVERIFY(d->Temporary->Browse->isEnabled());
    // The system folder chosen again: the record holds the system's path.
    d->Temporary->SystemFolder->setChecked(true);
    d->ApplyAll();
    QCOMPARE(theApp().Settings.CustomTempFolder, 0u);
    QCOMPARE(theApp().Settings.TempFolderText(), qm::GetTempPath());
  }

  void fileTypesAreCheckedStoredAndTravelAsSignatureFiles() {
    auto program = uitest::StartProgram({});
    OpenedDialog opened(program->frame(), ID_SETTINGS_FILE_TYPES);
    CSettingsDlg_SearchFileTypes* page = opened.dialog->FileTypes;
    CFileSignatureDatabase& db = theComputer().Signatures();
    QVERIFY(db.Types().size() > 10);
    const CFileType* jpeg = db.FindByExtension("jpg");
    QVERIFY(jpeg);
    const int32_t jpegId = jpeg->Id;
    QVERIFY(page->Tree->IsChecked(jpegId));
    // The tree groups the types.
    QVERIFY(page->Tree->topLevelItemCount() >= 2);
    QVERIFY(page->Tree->topLevelItem(0)->childCount() >= 1);

    page->UncheckAll->click();
    QVERIFY(!page->Tree->IsChecked(jpegId));
    page->Tree->SetChecked(jpegId, true);
    opened.dialog->ApplyAll();
    for (const auto& type : db.Types())
      if (!type->IsGroup) QCOMPARE(CFileSignatureDatabase::GetSearchEnable(*type), type->Id == jpegId ? 1u : 0u);
    // Stored: a database read from the store again has the same switches.
    {
      CRegistryStore store(CRegistryStore::User().Path());
      store.Load();
      CFileSignatureDatabase again;
      again.Load(store);
      QCOMPARE(CFileSignatureDatabase::GetSearchEnable(*again.FindById(jpegId)), 1u);
      const CFileType* other = nullptr;
      for (const auto& t : again.Types())
        if (t->Id != jpegId && !t->IsGroup) other = t.get();
      QVERIFY(other);
      QCOMPARE(CFileSignatureDatabase::GetSearchEnable(*other), 0u);
    }
    // The context menu carries the same commands.
    QStringList menu;
    for (QAction* a : page->Tree->ContextMenu()->actions())
      if (!a->isSeparator()) menu << a->text();
    QCOMPARE(menu, QStringList({"Check All", "Uncheck All", "Properties..."}));
    page->Tree->ContextMenu()->actions().first()->trigger();
    QVERIFY(page->Tree->IsChecked(jpegId));
    opened.dialog->ApplyAll();
    for (const auto& type : db.Types())
      if (!type->IsGroup) QCOMPARE(CFileSignatureDatabase::GetSearchEnable(*type), 1u);

    // Export the JPEG type, then import it again: an update of that type.
    page->Tree->setCurrentItem(nullptr);
    for (QTreeWidgetItemIterator it(page->Tree); *it; ++it)
      if ((*it)->text(0).contains("*.jpg")) page->Tree->setCurrentItem(*it);
    QCOMPARE(page->Tree->CurrentTypeId(), jpegId);
    const QString file = QDir::tempPath() + "/qm-settings-jpeg.filesig";
    QVERIFY(page->ExportFile(file));
    QVERIFY(QFileInfo(file).size() >= 1436);
    const size_t types = db.Types().size();
    page->ImportFile(file);
    QCOMPARE(db.Types().size(), types);
    QCOMPARE(program->prompts.shown.back().caption, QString("ok"));
    QCOMPARE(program->prompts.shown.back().text, QString("Signature file '%1' updated!").arg(file));
    page->ImportFile(file + ".missing");
    QCOMPARE(program->prompts.shown.back().caption, QString("Error!"));
    QFile::remove(file);
  }

  void languagePageSwitchesTheLanguageAtOnce() {
    const int german = LanguageIndex("Deutsch");
    if (german < 0) QSKIP("no Deutsch.lng among the language files");
    auto program = uitest::StartProgram({});
    OpenedDialog opened(program->frame(), ID_SETTINGS_LANGUAGE);
    CSettingsDlg* d = opened.dialog;
    QComboBox* list = d->Language->Languages;
    QVERIFY(list->isEnabled());
    QCOMPARE(list->itemText(list->currentIndex()), QString("English"));
    list->setCurrentIndex(german);
    QCoreApplication::processEvents();
    QCOMPARE(theApp().Settings.LanguageIndex, german);
    // The dialog and its pages change now, the main menu too.
    QCOMPARE(d->windowTitle(), QString("Programmeinstellungen"));
    QCOMPARE(d->Pages()->tabText(3), QString("Sprachen der Oberfläche"));
    QCOMPARE(d->Pages()->tabText(6), QString("Temporärer Ordner"));
    QCOMPARE(d->Common->ShowSplash->text(), QString("Startbild beim Programmstart anzeigen"));
    QCOMPARE(d->Logging->LogToFile->text(), QString("Protokoll in Datei speichern"));
    QCOMPARE(program->frame()->Action(ID_SETTINGS)->text(), QString("Einstellungen..."));
    QCOMPARE(d->FileTypes->Tree->ContextMenu()->actions().first()->text(), QString("Alle markieren"));
    list->setCurrentIndex(LanguageIndex("English"));
    QCoreApplication::processEvents();
    QCOMPARE(d->windowTitle(), QString("Program Settings"));
    QCOMPARE(d->Pages()->tabText(3), QString("Interface Languages"));
    QCOMPARE(d->Common->ShowSplash->text(), QString("Show Splash screen at startup"));
  }
};

QM_REGISTER_UI_TEST(TestSettingsDialog, "SettingsDialog");
#include "settings_dialog_test.moc"
