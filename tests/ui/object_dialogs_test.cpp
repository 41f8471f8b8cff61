// The dialogs over the found objects of the analysed sample image: the
// filters (applied to the folder tree and the file list at once, kept under
// the Filter sub-key) and the information dialogs of a live, a deleted and
// a lost file and of the volume.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <functional>

#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "services/languages.h"
#include "tests/ui/ui_test_registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/commands.h"
#include "ui/file_information_dialog.h"
#include "ui/file_type_tree.h"
#include "ui/files_list_view.h"
#include "ui/files_tree_model.h"
#include "ui/files_tree_view.h"
#include "ui/filters_dialog.h"
#include "ui/found_object_list_model.h"
#include "ui/main_frame.h"
#include "ui/my_computer_view.h"
#include "ui/qt_translation_targets.h"
#include "ui/ui_texts.h"
#include "ui/volume_explore_view.h"
#include "ui/volume_information_dialog.h"

namespace {

using uitest::ListNames;
using uitest::TreeChild;
template <class D>
using Opened = uitest::OpenedDialog<D>;

int LanguageIndex(const char* name) {
  const std::vector<std::string> list = theApp().Languages.List();
  const auto it = std::find(list.begin(), list.end(), name);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

// Every object of the tree's read branches, depth first.
void ForEachTreeObject(CFilesTreeModel& model, const QModelIndex& parent, const std::function<void(CFoundObject*)>& f) {
  for (int r = 0; r < model.rowCount(parent); ++r) {
    const QModelIndex child = model.index(r, 0, parent);
    f(model.ObjectAt(child));
    ForEachTreeObject(model, child, f);
  }
}

}  // namespace

class TestObjectDialogs : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    program_ = uitest::StartAnalysedSample();
    QVERIFY(program_ && program_->frame());
    volume_ = program_->frame()->Explorer().Drives().SelectedVolume();
    QVERIFY(volume_);
  }

  void cleanupTestCase() { program_.reset(); }

  void cleanup() {
    SetUiLanguage(LanguageIndex("English"));
    program_->frame()->Explorer().ApplyFilter(CViewFilter());
  }

  void deletedOnlyFilterHidesLiveObjectsInTreeAndList() {
    CMainFrame* frame = program_->frame();
    CVolumeExploreView& explorer = frame->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    const QModelIndex root = tree.Model().index(0, 0, tree.Model().index(0, 0));
    tree.setCurrentIndex(root);
    QVERIFY(ListNames(explorer.Files()).contains("README.TXT"));
    // A folder of the root with no deleted object below it.
    QString liveFolder;
    for (int r = 0; r < tree.Model().rowCount(root); ++r) {
      CFoundObject* f = tree.Model().ObjectAt(tree.Model().index(r, 0, root));
      if (!(f->Flags & (FOF_DELETED | FOF_HAS_DELETED))) liveFolder = QString::fromStdString(f->Name);
    }

    Opened<CFiltersView> opened(frame, ID_FILTERS);
    QVERIFY(opened.dialog);
    QCOMPARE(opened.dialog->windowTitle(), QString("Filters"));
    opened.dialog->General->DeletedOnly->setChecked(true);
    for (QPushButton* b : opened.dialog->findChildren<QPushButton*>())
      if (ControlId(b) == 1) b->click();
    QVERIFY(explorer.Filter().DeletedOnly);

    // The list: deleted objects and folders that hold some.
    const QModelIndex newRoot = tree.Model().index(0, 0, tree.Model().index(0, 0));
    QVERIFY(newRoot.isValid());
    QVERIFY(!ListNames(explorer.Files()).contains("README.TXT"));
    QVERIFY(ListNames(explorer.Files()).contains("Documents"));
    for (int r = 0; r < explorer.Files().Model().rowCount(); ++r)
      QVERIFY(explorer.Files().Model().ObjectAt(r)->Flags & (FOF_DELETED | FOF_HAS_DELETED));
    // The tree, at once.
    TreeChild(tree, newRoot, "Documents");
    ForEachTreeObject(tree.Model(), newRoot, [](CFoundObject* o) {
      QVERIFY(IsSyntheticIdentity(o->ObjectID) || (o->Flags & (FOF_DELETED | FOF_HAS_DELETED)));
    });
    if (!liveFolder.isEmpty()) QVERIFY(!TreeChild(tree, newRoot, liveFolder).isValid());
    tree.setCurrentIndex(TreeChild(tree, newRoot, "Documents"));
    QCOMPARE(ListNames(explorer.Files()), QStringList({"old draft.txt"}));

    // Kept as the default filter under the Filter sub-key.
    const std::vector<StoredFilter> stored = theApp().LoadFilters(FilterRecordBytes{});
    QCOMPARE(int(stored.size()), 1);
    QCOMPARE(QString::fromStdString(stored[0].Name), QString());
    CViewFilter read;
    read.ReadRecord(stored[0].Record.data(), stored[0].Record.size());
    QVERIFY(read.DeletedOnly);
  }

  void wildcardAndFileTypeFilters() {
    CMainFrame* frame = program_->frame();
    CVolumeExploreView& explorer = frame->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    // A filter reads the tree again: indexes are taken afresh.
    const auto root = [&tree] { return tree.Model().index(0, 0, tree.Model().index(0, 0)); };
    tree.setCurrentIndex(TreeChild(tree, root(), "Pictures"));
    const QStringList all = ListNames(explorer.Files());
    QVERIFY(all.contains("sunset.jpg"));
    {
      Opened<CFiltersView> opened(frame, ID_FILTERS);
      opened.dialog->General->WildcardOn->setChecked(true);
      opened.dialog->General->Pattern->setText("*.JPG");
      explorer.ApplyFilter(opened.dialog->Edited());
    }
    // Exact case: no name ends in upper-case .JPG; folders stay.
    for (const QString& name : ListNames(explorer.Files()))
      QVERIFY2(name.endsWith(".JPG") || !name.contains('.'), qPrintable(name));
    QVERIFY(!ListNames(explorer.Files()).contains("sunset.jpg"));
    {
      Opened<CFiltersView> opened(frame, ID_FILTERS);
      QVERIFY(opened.dialog->General->WildcardOn->isChecked());
      QCOMPARE(opened.dialog->General->Pattern->text(), QString("*.JPG"));
      opened.dialog->General->Pattern->setText("*.jpg");
      explorer.ApplyFilter(opened.dialog->Edited());
    }
    QVERIFY(ListNames(explorer.Files()).contains("sunset.jpg"));
    QVERIFY(ListNames(explorer.Files()).contains("deleted-photo.jpg"));

    // Custom file types: only the ticked types are shown.
    CFileSignatureDatabase& db = theComputer().Signatures();
    const CFileType* jpeg = db.FindByExtension("jpg");
    QVERIFY(jpeg);
    explorer.ApplyFilter(CViewFilter());
    tree.setCurrentIndex(TreeChild(tree, root(), "Documents"));
    QVERIFY(ListNames(explorer.Files()).contains("Quarterly Report 2024.pdf"));
    {
      Opened<CFiltersView> opened(frame, ID_FILTERS);
      opened.dialog->FileTypes->Custom->setChecked(true);
      QVERIFY(opened.dialog->FileTypes->Tree->isEnabled());
      opened.dialog->FileTypes->Tree->SetAllChecked(false);
      opened.dialog->FileTypes->Tree->SetChecked(jpeg->Id, true);
      for (QPushButton* b : opened.dialog->findChildren<QPushButton*>())
        if (ControlId(b) == 1) b->click();
    }
    QCOMPARE(jpeg->View, 1u);
    QVERIFY(!ListNames(explorer.Files()).contains("Quarterly Report 2024.pdf"));
    tree.setCurrentIndex(TreeChild(tree, root(), "Pictures"));
    QVERIFY(ListNames(explorer.Files()).contains("sunset.jpg"));
    for (const auto& type : db.Types()) type->View = 0;
  }

  void informationOfLiveDeletedAndLostFiles() {
    CMainFrame* frame = program_->frame();
    CVolumeExploreView& explorer = frame->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    const QModelIndex root = tree.Model().index(0, 0, tree.Model().index(0, 0));
    const auto select = [&](const QModelIndex& folder, const QString& name) {
      tree.setCurrentIndex(folder);
      CFilesListView& files = explorer.Files();
      for (int r = 0; r < files.Model().rowCount(); ++r)
        if (QString::fromStdString(files.Model().ObjectAt(r)->Name) == name) {
          files.setCurrentIndex(files.Model().index(r, 0));
          files.selectionModel()->select(files.Model().index(r, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
          return files.Model().ObjectAt(r);
        }
      return static_cast<CFoundObject*>(nullptr);
    };
    using D = CFileInformationViewDlg;

    CFoundObject* live = select(TreeChild(tree, root, "Pictures"), "sunset.jpg");
    QVERIFY(live);
    {
      Opened<D> opened(frame, ID_INFORMATION);
      QVERIFY(opened.dialog);
      D* d = opened.dialog;
      QCOMPARE(d->windowTitle(), QString("File Information"));
      QCOMPARE(d->findChild<QLabel*>("ObjectName")->text(), QString("sunset.jpg"));
      QCOMPARE(d->Value(D::FieldStatus), QString("Live"));
      QCOMPARE(d->Value(D::FieldSize), QLocale().toString(52961));
      QCOMPARE(d->Value(D::FieldId), QString::number(live->ObjectID));
      QCOMPARE(d->Value(D::FieldParentId), QString::number(live->ParentID));
      QVERIFY(d->Value(D::FieldLocation).contains("Pictures"));
      QVERIFY(!d->Value(D::FieldModified).isEmpty());
      QCOMPARE(d->Pages()->count(), 1);
      // 52,961 bytes take whole clusters: at least 104 sectors.
      const QString sectors = d->SectorsListText();
      QVERIFY2(sectors.startsWith("Sector "), qPrintable(sectors));
      uint64_t total = 0;
      for (const QString& line : sectors.split('\n')) total += line.section('(', 1).section(' ', 0, 0).toULongLong();
      QVERIFY(total * 512 >= 52961);
      QCOMPARE(d->Value(D::FieldSizeOnDisk), QLocale().toString(qulonglong(total * 512)));
      const QString clusters = d->ClustersListText();
      QVERIFY2(clusters.startsWith("Cluster "), qPrintable(clusters));
      // The first cluster of the file is the one its entry names.
      QCOMPARE(clusters.section(' ', 1, 1).toULongLong(), qulonglong(live->FirstCluster));
    }

    CFoundObject* deleted = select(TreeChild(tree, root, "Documents"), "old draft.txt");
    QVERIFY(deleted);
    {
      Opened<D> opened(frame, ID_INFORMATION);
      QCOMPARE(opened.dialog->Value(D::FieldStatus), QString("Deleted"));
      QCOMPARE(opened.dialog->Value(D::FieldSize), QLocale().toString(3100));
      QCOMPARE(opened.dialog->Value(D::FieldSignature), QString("-"));
    }

    // A lost file: the pages of its type join the dialog.
    const QModelIndex top = tree.Model().index(0, 0);
    const QModelIndex lostFiles = TreeChild(tree, top, "Lost files");
    QVERIFY(lostFiles.isValid());
    tree.expand(lostFiles);
    if (tree.Model().canFetchMore(lostFiles)) tree.Model().fetchMore(lostFiles);
    QVERIFY(tree.Model().rowCount(lostFiles) > 0);
    const QModelIndex group = tree.Model().index(0, 0, lostFiles);
    tree.setCurrentIndex(group);
    QVERIFY(explorer.Files().Model().rowCount() > 0);
    CFoundObject* lost = explorer.Files().Model().ObjectAt(0);
    QVERIFY(lost->Flags & FOF_SIGNATURE);
    explorer.Files().selectionModel()->select(explorer.Files().Model().index(0, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const CFileType* type = theComputer().Signatures().FindTypeForObject(*lost);
    QVERIFY(type);
    {
      Opened<D> opened(frame, ID_INFORMATION);
      D* d = opened.dialog;
      QCOMPARE(d->Value(D::FieldStatus), QString("Lost"));
      QCOMPARE(d->Value(D::FieldSignature), QString::fromStdString(type->Title));
      QCOMPARE(d->Value(D::FieldOffset), QLocale().toString(qulonglong(lost->StartOffset)));
      QCOMPARE(d->Pages()->count(), 4);
      QCOMPARE(d->Pages()->tabText(1), QString("Description"));
      QCOMPARE(d->Pages()->tabText(2), QString("Signature"));
      QCOMPARE(d->Pages()->tabText(3), QString("Technical Info"));
      // The first sector of a lost file is where its signature was found.
      QCOMPARE(d->SectorsListText().section(' ', 1, 1).toULongLong(), qulonglong(lost->StartOffset / 512));

      const int german = LanguageIndex("Deutsch");
      if (german >= 0) {
        SetUiLanguage(german);
        QCOMPARE(d->windowTitle(), QString("Dateiinformationen"));
        QCOMPARE(d->Pages()->tabText(3), QString("Technische Angaben"));
        bool sizeLabel = false;
        for (QLabel* l : d->findChildren<QLabel*>()) sizeLabel = sizeLabel || l->text() == "Größe:";
        QVERIFY(sizeLabel);
      }
    }
  }

  void volumeInformation() {
    CMainFrame* frame = program_->frame();
    Opened<CVolumeInformationDlg> opened(frame, ID_DRIVE_PROPERTIES);
    CVolumeInformationDlg* d = opened.dialog;
    QVERIFY(d);
    QCOMPARE(d->windowTitle(), QString("Volume Information"));
    QCOMPARE(d->Pages()->count(), 3);
    QCOMPARE(d->Pages()->tabText(0), QString("General"));
    QCOMPARE(d->Pages()->tabText(1), QString("Capabilities"));
    QCOMPARE(d->Pages()->tabText(2), QString("Information"));
    QCOMPARE(d->Value(1303), QString("FAT32"));
    // The boot sector's OEM name and the size as the image file has them.
    QFile image(uitest::SampleImage());
    QVERIFY(image.open(QIODevice::ReadOnly));
    const QByteArray boot = image.read(512);
    QCOMPARE(d->Value(1306), QString::fromLatin1(boot.mid(3, 8)).trimmed());
    QVERIFY(d->Value(1308).startsWith(QLocale().toString(qulonglong(image.size()))));
    if (uitest::HaveTool("blkid")) {
      const std::string path = uitest::SampleImage().toStdString();
      const QString label = QString::fromStdString(uitest::RunCommand("blkid -o value -s LABEL '" + path + "'")).trimmed();
      const QString uuid = QString::fromStdString(uitest::RunCommand("blkid -o value -s UUID '" + path + "'")).trimmed();
      if (!label.isEmpty()) QCOMPARE(d->Value(1305), label);
      if (!uuid.isEmpty()) QCOMPARE(d->Value(1307), uuid.toUpper());
    }
    // An image is not mounted: the system reports none of its capabilities.
    for (int id = 1310; id <= 1322; ++id) QCOMPARE(d->Value(id), QString("Not reported by the file system"));
    QCOMPARE(d->Value(1331), QString(CVolume::KindText(volume_->Kind)));

    const int german = LanguageIndex("Deutsch");
    if (german < 0) return;
    SetUiLanguage(german);
    QCOMPARE(d->windowTitle(), QString("Informationen zum Datenträger"));
    QCOMPARE(d->Pages()->tabText(1), QString("Fähigkeiten"));
  }

  void filtersDialogInGerman() {
    const int german = LanguageIndex("Deutsch");
    if (german < 0) QSKIP("no Deutsch.lng among the language files");
    SetUiLanguage(german);
    Opened<CFiltersView> opened(program_->frame(), ID_FILTERS);
    QCOMPARE(opened.dialog->General->DeletedOnly->text(), QString("Nur gelöschte Dateien anzeigen"));
    QCOMPARE(opened.dialog->FileTypes->KnownOnly->text(), QString("Nur bekannte Dateitypen anzeigen"));
    QCOMPARE(opened.dialog->General->windowTitle(), QString("Allgemein"));
  }

private:
  std::unique_ptr<uitest::Program> program_;
  CVolume* volume_ = nullptr;
};

QM_REGISTER_UI_TEST(TestObjectDialogs, "ObjectDialogs");
#include "object_dialogs_test.moc"
