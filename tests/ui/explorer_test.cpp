#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QLineEdit>
#include <QTest>

#include <sstream>

#include "engine/catalog/found_object.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "tests/ui/ui_test_registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/app_ui.h"
#include "ui/files_list_view.h"
#include "ui/files_tree_model.h"
#include "ui/files_tree_view.h"
#include "ui/found_object_list_model.h"
#include "ui/hex_editor_ctrl.h"
#include "ui/hex_viewer_pane.h"
#include "ui/main_frame.h"
#include "ui/my_computer_view.h"
#include "ui/search_bar_view.h"
#include "ui/volume_explore_view.h"

using uitest::ListNames;
using uitest::ListRow;
using uitest::SleuthKitBytes;
using uitest::TreeChild;

class TestExplorer : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() {
    // Analysed once for every test of the class.
    program_ = uitest::StartAnalysedSample();
    QVERIFY(program_ && program_->frame());
    volume_ = program_->frame()->Explorer().Drives().SelectedVolume();
    QVERIFY(volume_);
  }

  void cleanupTestCase() { program_.reset(); }

  void foldersExpandLazilyAndListTheirObjects() {
    CVolumeExploreView& explorer = program_->frame()->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    const QModelIndex top = tree.Model().index(0, 0);
    QCOMPARE(tree.Model().ObjectAt(top), static_cast<CFoundObject*>(volume_));
    QVERIFY(tree.Model().IsExpandedBranch(top));
    const QModelIndex root = tree.Model().index(0, 0, top);
    QVERIFY(root.isValid());
    QVERIFY(!tree.Model().IsExpandedBranch(root) || tree.Model().rowCount(root) > 0);
    const QModelIndex documents = TreeChild(tree, root, "Documents");
    QVERIFY(documents.isValid());
    QVERIFY(tree.Model().IsExpandedBranch(root));
    QVERIFY(TreeChild(tree, documents, "Letters").isValid());
    // The tree holds folders only; the list holds everything in the folder.
    tree.setCurrentIndex(documents);
    CFilesListView& files = explorer.Files();
    QCOMPARE(ListNames(files), QStringList({"Letters", "old draft.txt", "Quarterly Report 2024.pdf"}));
    // Lost files found by the scan have their own top-level folder.
    QVERIFY(TreeChild(tree, top, "Lost files").isValid());
    QVERIFY(TreeChild(tree, top, "Old Stuff").isValid() == false);
    QVERIFY(TreeChild(tree, root, "Old Stuff").isValid());
  }

  void listColumnsSortAndTellDeletedApart() {
    CVolumeExploreView& explorer = program_->frame()->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    const QModelIndex root = tree.Model().index(0, 0, tree.Model().index(0, 0));
    tree.setCurrentIndex(TreeChild(tree, root, "Pictures"));
    CFilesListView& files = explorer.Files();
    CFoundObjectListModel& model = files.Model();
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Name"));
    QCOMPARE(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Date Modified"));
    QCOMPARE(files.columnWidth(0), 150);
    QCOMPARE(files.columnWidth(3), 120);
    const int deleted = ListRow(files, "deleted-photo.jpg");
    const int live = ListRow(files, "sunset.jpg");
    QVERIFY(deleted >= 0 && live >= 0);
    QCOMPARE(model.data(model.index(deleted, 0), Qt::ForegroundRole).value<QBrush>().color(),
             CFoundObjectListModel::DeletedColour());
    QVERIFY(!model.data(model.index(live, 0), Qt::ForegroundRole).isValid());
    QCOMPARE(model.data(model.index(live, 1), Qt::DisplayRole).toString(), QLocale().toString(52961));
    QCOMPARE(model.data(model.index(live, 1), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    // Sorting by size, largest first; the folder stays on top.
    files.sortByColumn(CFoundObjectListModel::SizeColumn, Qt::DescendingOrder);
    QCOMPARE(ListNames(files).first(), QString("Зима"));
    QCOMPARE(ListNames(files).at(1), QString("sunset.jpg"));
    files.sortByColumn(CFoundObjectListModel::NameColumn, Qt::AscendingOrder);
    // Select all, then the selection is what Recover would take.
    program_->frame()->OnCommand(57642);  // File, Select all
    QCOMPARE(int(explorer.Selection().size()), model.rowCount());
  }

  void deletedFileShownInTheDataViewer() {
    if (!uitest::HaveTool("icat")) QSKIP("The Sleuth Kit is not installed");
    CVolumeExploreView& explorer = program_->frame()->Explorer();
    CFilesTreeView& tree = explorer.Tree();
    const QModelIndex root = tree.Model().index(0, 0, tree.Model().index(0, 0));
    tree.setCurrentIndex(TreeChild(tree, root, "Documents"));
    CFilesListView& files = explorer.Files();
    const int row = ListRow(files, "old draft.txt");
    QVERIFY(row >= 0);
    QVERIFY(files.Model().ObjectAt(row)->IsDeleted());
    files.setCurrentIndex(files.Model().index(row, 0));
    CHexEditorCtrl& hex = explorer.DataViewer().Control();
    hex.resize(700, 300);
    QCOMPARE(hex.DataLength(), quint64(3100));
    const QStringList lines = hex.VisibleLines();
    QVERIFY(lines.size() >= 3);
    const QByteArray expected = SleuthKitBytes(uitest::SampleImage(), "Documents/old draft.txt");
    QVERIFY(expected.size() >= 32);
    QString bytes;
    for (int i = 16; i < 32; ++i) bytes += QString(i == 24 ? "  %1" : " %1").arg(quint8(expected[i]), 2, 16, QChar('0')).toUpper();
    QVERIFY2(lines[1].startsWith("00000010  " + bytes + "  "), qPrintable(lines[1] + " / " + bytes));
    // Scrolled to the end, the last line holds the last 12 bytes.
    hex.ScrollToOffset(3100 - 16);
    const QStringList tail = hex.VisibleLines();
    QVERIFY(tail.last().startsWith("00000C10  "));
    QVERIFY(tail.last().endsWith("  " + QString::fromLatin1(expected.right(12)).replace('\n', '.')));
    // A file shorter than the pane: empty lines past its end.
    tree.setCurrentIndex(root);
    files.setCurrentIndex(files.Model().index(ListRow(files, "README.TXT"), 0));
    QCOMPARE(hex.DataLength(), quint64(96));
    const QStringList shortLines = hex.VisibleLines();
    QVERIFY(shortLines[5].startsWith("00000050  "));
    QVERIFY(shortLines[6].isEmpty());
  }

  void searchListsResultsWithTheirFolder() {
    CVolumeExploreView& explorer = program_->frame()->Explorer();
    program_->frame()->OnCommand(32791);  // View, Search
    QVERIFY(explorer.SearchBarShown());
    explorer.SearchBar().NameEdit()->setText("*.jpg");
    explorer.SearchBar().DeletedOnly()->setChecked(true);
    const size_t shownBefore = program_->prompts.shown.size();
    QTest::mouseClick(explorer.SearchBar().SearchButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(explorer.SearchBar().SearchButton()->isEnabled(), uitest::kWorkerWaitMs);
    QVERIFY(explorer.ResultsShown());
    CFilesListView& results = explorer.Results();
    QCOMPARE(results.Model().columnCount(), 5);
    QCOMPARE(results.Model().headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), QString("In Folder"));
    const QStringList names = ListNames(results);
    QVERIFY2(names.contains("deleted-photo.jpg") && names.contains("sunset copy.jpg"), qPrintable(names.join(",")));
    QVERIFY(!names.contains("sunset.jpg"));  // live
    const int row = ListRow(results, "sunset copy.jpg");
    QCOMPARE(results.Model().data(results.Model().index(row, 4), Qt::DisplayRole).toString(),
             QString("/Old Stuff/Nested/"));
    QCOMPARE(program_->prompts.shown.size(), shownBefore);
  }

  void searchWithoutMatchesSaysNoFilesFound() {
    CVolumeExploreView& explorer = program_->frame()->Explorer();
    explorer.ShowSearchBar(true);
    explorer.SearchBar().NameEdit()->setText("no such file *.xyz");
    explorer.SearchBar().DeletedOnly()->setChecked(false);
    explorer.StartSearch();
    QTRY_VERIFY_WITH_TIMEOUT(explorer.SearchBar().SearchButton()->isEnabled(), uitest::kWorkerWaitMs);
    QCOMPARE(explorer.Results().Model().rowCount(), 0);
    QVERIFY(!program_->prompts.shown.empty());
    QCOMPARE(program_->prompts.shown.back().text, QString("No files found"));
    QCOMPARE(program_->prompts.shown.back().caption, QString("Search"));
    explorer.CancelSearch();
    QVERIFY(!explorer.SearchBarShown());
  }

  // Last: an analysis that no view started (the file-system phase run on
  // its own, as another front end runs it) empties the catalog under the
  // views. From that moment they hand out no old object, and at the next
  // tick they show the new catalog.
  void viewsLetGoOfACatalogClearedByAnotherPath() {
    CVolumeExploreView& explorer = program_->frame()->Explorer();
    explorer.ShowSearchBar(true);
    explorer.SearchBar().NameEdit()->setText("*.jpg");
    explorer.StartSearch();
    QTRY_VERIFY_WITH_TIMEOUT(explorer.SearchBar().SearchButton()->isEnabled(), uitest::kWorkerWaitMs);
    QVERIFY(explorer.Results().Model().rowCount() > 0);
    CFilesTreeView& tree = explorer.Tree();
    const QModelIndex root = tree.Model().index(0, 0, tree.Model().index(0, 0));
    tree.setCurrentIndex(TreeChild(tree, root, "Documents"));
    CFilesListView& files = explorer.Files();
    QCOMPARE(files.Model().rowCount(), 3);
    files.setCurrentIndex(files.Model().index(0, 0));

    volume_->AnalyseFileSystem();
    CFoundObjectListModel& list = files.Model();
    QVERIFY(list.Stale());
    QCOMPARE(list.ObjectAt(0), nullptr);
    QVERIFY(!list.data(list.index(0, 0), Qt::DisplayRole).isValid());
    QVERIFY(explorer.Selection().empty());
    QCOMPARE(explorer.Results().Model().ObjectAt(0), nullptr);
    QCOMPARE(tree.Model().ObjectAt(tree.currentIndex()), nullptr);
    QVERIFY(!tree.Model().data(tree.currentIndex(), Qt::DisplayRole).isValid());

    // The window's next tick: everything old let go, the new catalog shown.
    QTRY_VERIFY_WITH_TIMEOUT(!list.Stale() && !tree.Model().Stale() && !explorer.Results().Model().Stale(),
                             uitest::kWorkerWaitMs);
    QCOMPARE(explorer.Results().Model().rowCount(), 0);
    const QModelIndex top = tree.Model().index(0, 0);
    QCOMPARE(tree.Model().ObjectAt(top), static_cast<CFoundObject*>(volume_));
    const QModelIndex newRoot = TreeChild(tree, top, "Filesystem");
    QVERIFY(newRoot.isValid());
    tree.setCurrentIndex(TreeChild(tree, newRoot, "Documents"));
    QCOMPARE(ListNames(files), QStringList({"Letters", "old draft.txt", "Quarterly Report 2024.pdf"}));
  }

private:
  std::unique_ptr<uitest::Program> program_;
  CVolume* volume_ = nullptr;
};

QM_REGISTER_UI_TEST(TestExplorer, "Explorer");

#include "explorer_test.moc"
