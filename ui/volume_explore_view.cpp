#include "ui/volume_explore_view.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "engine/catalog/found_object_tree.h"
#include "engine/recovery/recovery.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/system.h"
#include "services/app.h"
#include "ui/drives_model.h"
#include "ui/file_information_dialog.h"
#include "ui/files_list_view.h"
#include "ui/filters_dialog.h"
#include "ui/files_tree_model.h"
#include "ui/files_tree_view.h"
#include "ui/found_object_list_model.h"
#include "ui/hex_viewer_pane.h"
#include "ui/legend_view.h"
#include "ui/my_computer_view.h"
#include "ui/search_bar_view.h"
#include "ui/ui_texts.h"
#include "ui/user_prompts.h"
#include "ui/volume_information_dialog.h"

CVolumeExploreView::CVolumeExploreView(IUserPrompts& prompts, QWidget* parent)
    : QWidget(parent),
      prompts_(prompts),
      drives_(new CMyComputerView),
      tree_(new CFilesTreeView),
      files_(new CFilesListView(false)),
      results_(new CFilesListView(true)),
      searchBar_(new CSearchBarView),
      hex_(new CHexViewer_Pane),
      legend_(new CLegendView),
      main_(new QSplitter(Qt::Horizontal, this)),
      left_(new QSplitter(Qt::Vertical)),
      right_(new QSplitter(Qt::Vertical)),
      leftStack_(new QStackedWidget),
      listStack_(new QStackedWidget),
      bottom_(new QTabWidget) {
  setObjectName("ExplorerView");
  left_->addWidget(drives_);
  left_->addWidget(tree_);
  leftStack_->addWidget(left_);
  leftStack_->addWidget(searchBar_);
  listStack_->addWidget(files_);
  listStack_->addWidget(results_);
  bottom_->addTab(hex_, "Data viewer");
  bottom_->addTab(legend_, "Legend");
  right_->addWidget(listStack_);
  right_->addWidget(bottom_);
  main_->addWidget(leftStack_);
  main_->addWidget(right_);
  main_->setStretchFactor(0, 2);
  main_->setStretchFactor(1, 3);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(main_);

  // The view filter the lists apply: the stored default filter.
  const std::vector<uint8_t> defaults = filter_.WriteRecord();
  FilterRecordBytes record{};
  std::copy_n(defaults.begin(), std::min(defaults.size(), record.size()), record.begin());
  const std::vector<StoredFilter> stored = theApp().LoadFilters(record);
  if (!stored.empty()) filter_.ReadRecord(stored.front().Record.data(), stored.front().Record.size());
  filter_.Prepare();
  tree_->Model().SetFilter([this](const CFoundObject* o) { return !filter_.IsFilteredOut(o); });

  connect(drives_, &CMyComputerView::VolumeChosen, this, &CVolumeExploreView::AnalysisRequested);
  connect(drives_, &CMyComputerView::VolumeSelected, this, [this](CVolume* v) {
    if (v && v != volume_) SelectVolume(v);
  });
  connect(drives_, &CMyComputerView::Command, this, &CVolumeExploreView::Command);
  connect(tree_, &CFilesTreeView::FolderSelected, this, [this](CFoundObject* folder) {
    listStack_->setCurrentWidget(files_);
    ShowFolder(folder);
  });
  connect(files_, &CFilesListView::ObjectSelected, this, &CVolumeExploreView::ShowObjectData);
  connect(results_, &CFilesListView::ObjectSelected, this, &CVolumeExploreView::ShowObjectData);
  connect(files_, &CFilesListView::FolderOpened, this, [this](CFoundObject* f) { tree_->SelectFolder(f); });
  connect(searchBar_, &CSearchBarView::SearchRequested, this, &CVolumeExploreView::StartSearch);
  connect(searchBar_, &CSearchBarView::CancelRequested, this, &CVolumeExploreView::CancelSearch);

  RegisterView(kSectionDrives, drives_, 0, [this] { drives_->Retranslate(); });
  RegisterView(kSectionFiles, files_, 0, [this] { Retranslate(); });
  ApplyLayout(false);
}

CVolumeExploreView::~CVolumeExploreView() {
  find_.Stop();
  find_.Wait();
}

void CVolumeExploreView::ApplyLayout(bool filesFirst) {
  // The first layout gives the drives pane two thirds of the left column,
  // the second gives it one third and starts in the file list.
  const int h = std::max(300, height());
  left_->setSizes(filesFirst ? QList<int>{h / 3, 2 * h / 3} : QList<int>{2 * h / 3, h / 3});
  right_->setSizes({h * 3 / 5, h * 2 / 5});
  if (filesFirst) files_->setFocus();
  else drives_->setFocus();
}

void CVolumeExploreView::ShowLegend(bool show) {
  const int index = bottom_->indexOf(legend_);
  bottom_->setTabVisible(index, show);
}

void CVolumeExploreView::ShowSearchBar(bool show) {
  leftStack_->setCurrentWidget(show ? static_cast<QWidget*>(searchBar_) : left_);
  if (show) searchBar_->NameEdit()->setFocus();
}

bool CVolumeExploreView::SearchBarShown() const { return leftStack_->currentWidget() == searchBar_; }

bool CVolumeExploreView::ResultsShown() const { return listStack_->currentWidget() == results_; }

void CVolumeExploreView::RefreshDrives() { drives_->RefreshDrives(); }

void CVolumeExploreView::SelectVolume(CVolume* volume) {
  if (volume && volume == volume_ && tree_->Model().Volume() == volume) return;
  PrepareForAnalysis(volume_);
  volume_ = volume;
  theComputer().SetSelectedVolume(volume);
  tree_->Model().SetVolume(volume);
  knownGroups_.clear();
  drives_->SelectVolume(volume);
  if (!volume) return;
  const QModelIndex top = tree_->Model().index(0, 0);
  tree_->expand(top);
  // The root folder, when the file system was read, else the volume.
  const QModelIndex root = tree_->Model().index(0, 0, top);
  tree_->setCurrentIndex(root.isValid() ? root : top);
}

void CVolumeExploreView::PrepareForAnalysis(CVolume* volume) {
  if (!volume) return;
  if (searchVolume_ == volume) DropSearchResults();
  if (tree_->Model().Volume() == volume) DropVolumeObjects();
}

void CVolumeExploreView::DropSearchResults() {
  find_.Stop();
  find_.Wait();
  results_->Model().Clear();
  searchVolume_ = nullptr;
  searchBar_->SetSearching(false);
}

void CVolumeExploreView::DropVolumeObjects() {
  folder_ = nullptr;
  listed_.clear();
  knownGroups_.clear();
  files_->Model().Clear();
  hex_->ShowObject(nullptr);
  tree_->Model().SetVolume(tree_->Model().Volume());
}

bool CVolumeExploreView::Shows(const CFoundObject* object) const {
  return object != volume_ && !filter_.IsFilteredOut(object);
}

std::vector<CFoundObject*> CVolumeExploreView::VisibleChildren(CFoundObject* folder) const {
  std::vector<CFoundObject*> shown;
  if (!folder || !volume_) return shown;
  if (folder == volume_) return tree_->Model().TopFolders();
  std::vector<CFoundObject*> children;
  volume_->Catalog().GetChildren(folder->ObjectID, children);
  for (CFoundObject* c : children)
    if (c != folder && Shows(c)) shown.push_back(c);
  return shown;
}

void CVolumeExploreView::ShowFolder(CFoundObject* folder) {
  folder_ = folder;
  std::vector<CFoundObject*> children = VisibleChildren(folder);
  listed_.clear();
  listed_.insert(children.begin(), children.end());
  files_->Model().SetObjects(std::move(children), volume_);
  hex_->ShowObject(nullptr);
}

void CVolumeExploreView::ShowObjectData(CFoundObject* object) { hex_->ShowObject(object); }

bool CVolumeExploreView::LetGoOfClearedCatalog() {
  bool dropped = false;
  if (results_->Model().Stale()) {
    DropSearchResults();
    dropped = true;
  }
  if (volume_ && (tree_->Model().Stale() || files_->Model().Stale())) {
    DropVolumeObjects();
    // The volume's branch as the catalog has it now.
    const QModelIndex top = tree_->Model().index(0, 0);
    tree_->expand(top);
    tree_->setCurrentIndex(top);
    dropped = true;
  }
  return dropped;
}

void CVolumeExploreView::OnFoundObjects(const std::vector<FoundObjectNotice>& notices) {
  LetGoOfClearedCatalog();
  if (!volume_) return;

  CFilesTreeModel& tree = tree_->Model();
  std::vector<CFoundObject*> newRows;
  bool topChecked = false;
  for (const auto& [object, code] : notices) {
    // A deleted object marks the folders above it as holding one, so that
    // "Show deleted files only" keeps the way to it visible.
    if (object && object->Volume && code == FOUND_OBJECT_ADDED && object->IsDeleted())
      object->Volume->Catalog().MarkDeletedPath(object);
    if (!object || object->Volume != volume_) continue;
    if (code != FOUND_OBJECT_ADDED && code != FOUND_LOST_FILE_ADDED && code != FOUND_PLACEHOLDER_CREATED) continue;
    if (object->IsFolder()) tree.AddFolder(object);
    if (code == FOUND_LOST_FILE_ADDED && knownGroups_.insert(object->ParentID).second) {
      // "Lost files" and its group folders appear with their first file.
      // Each group is looked up once: the catalog's lock is shared with
      // the scanner, and the interface thread should rarely wait for it.
      if (!topChecked) {
        tree.RefreshTopLevel();
        topChecked = true;
      }
      int64_t cursor = -1;
      CFoundObject* group = volume_->Catalog().FindByID(object->ParentID, cursor);
      if (group && group->IsFolder() && group->TreeItem == -1) tree.AddFolder(group);
    }
    // A notice can come after the folder was read with its object in it.
    if (folder_ && object->ParentID == folder_->ObjectID && object != folder_ && Shows(object) &&
        listed_.insert(object).second)
      newRows.push_back(object);
  }
  // Rows join the list through the model: no rebuild of what is shown.
  files_->Model().AppendObjects(newRows);
}

void CVolumeExploreView::OnFileSystemDone(CVolume* volume) {
  LetGoOfClearedCatalog();
  drives_->Model().RefreshStates();
  if (volume && volume != volume_) return;
  tree_->Model().RefreshTopLevel();
  if (!folder_ && volume_) SelectVolume(volume_);
  if (!tree_->currentIndex().isValid() || tree_->SelectedFolder() == volume_) {
    const QModelIndex top = tree_->Model().index(0, 0);
    tree_->expand(top);
    const QModelIndex root = tree_->Model().index(0, 0, top);
    if (root.isValid()) tree_->setCurrentIndex(root);
  }
}

void CVolumeExploreView::OnScanStarted(CVolume*) { drives_->Model().RefreshStates(); }

void CVolumeExploreView::OnScanFinished(CVolume* volume) {
  LetGoOfClearedCatalog();
  drives_->Model().RefreshStates();
  if (volume && volume != volume_) return;
  tree_->Model().RefreshTopLevel();
  files_->RefreshVisibleRows();
}

void CVolumeExploreView::RefreshWhileBusy() {
  LetGoOfClearedCatalog();
  drives_->Model().RefreshStates();
  files_->RefreshVisibleRows();
  tree_->viewport()->update();
}

std::vector<CFoundObject*> CVolumeExploreView::Selection() const {
  return ResultsShown() ? results_->SelectedObjects() : files_->SelectedObjects();
}

void CVolumeExploreView::SelectAll() { (ResultsShown() ? results_ : files_)->selectAll(); }

void CVolumeExploreView::ResetSize() {
  // Only lost files have a size the program guessed.
  // A selected folder stands for the files below it, as for a recovery.
  for (CFoundObject* o : MakeRecoveryList(Selection()))
    if (o->Flags & FOF_SIGNATURE) o->Size = SIZE_UNKNOWN;
  (ResultsShown() ? results_ : files_)->RefreshVisibleRows();
}

void CVolumeExploreView::StartSearch() {
  if (!volume_) {
    SearchDone({});
    return;
  }
  find_.Stop();
  find_.Wait();
  searchVolume_ = volume_;
  searchWatch_.Follow(volume_);
  searchBar_->SetSearching(true);
  results_->Model().Clear();
  listStack_->setCurrentWidget(results_);
  QPointer<CVolumeExploreView> self(this);
  find_.Start(volume_->Catalog(), searchBar_->ReadCriteria(qm::CurrentFileTime()),
              [self](const std::vector<CFoundObject*>& found) {
                // On the search thread: the list goes to the interface thread.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [self, found] { if (self) self->SearchDone(found); }, Qt::QueuedConnection);
              });
}

void CVolumeExploreView::CancelSearch() {
  find_.Stop();
  ShowSearchBar(false);
}

void CVolumeExploreView::SearchDone(const std::vector<CFoundObject*>& results) {
  searchBar_->SetSearching(false);
  // Results of a catalog cleared since the search began name freed objects.
  if (searchWatch_.Stale()) return;
  listStack_->setCurrentWidget(results_);
  results_->Model().SetObjects(results, searchVolume_);
  emit SearchFinished(static_cast<int>(results.size()));
  if (results.empty()) prompts_.ShowMessage(this, UiString(182, "No files found"), UiString(163, "Search"));
}

void CVolumeExploreView::Retranslate() {
  files_->Retranslate();
  results_->Retranslate();
  bottom_->setTabText(bottom_->indexOf(hex_), UiString(STR_PANE_DATA_VIEWER, "Data viewer"));
  bottom_->setTabText(bottom_->indexOf(legend_), UiString(STR_PANE_LEGEND, "Legend"));
}

void CVolumeExploreView::ApplyFilter(const CViewFilter& filter) {
  filter_ = filter;
  filter_.Prepare();
  const std::vector<uint8_t> bytes = filter_.WriteRecord();
  FilterRecordBytes record{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
  theApp().SaveDefaultFilter(record);
  // The tree is read again through the filter; the folder shown stays when
  // the filter still shows it.
  CFoundObject* folder = folder_;
  CVolume* volume = volume_;
  if (!volume) return;
  CFilesTreeModel& model = tree_->Model();
  model.SetVolume(volume);
  // A branch is read when it is expanded; a view not yet laid out reads it
  // only later, so it is read here.
  const auto open = [this, &model](const QModelIndex& index) {
    if (model.canFetchMore(index)) model.fetchMore(index);
    tree_->expand(index);
  };
  open(model.index(0, 0));
  // The branches down to the folder shown are read again.
  std::vector<const CFoundObject*> chain;
  for (const CFoundObject* f = folder; f && f != volume && chain.size() < 4096;) {
    chain.push_back(f);
    int64_t cursor = -1;
    const CFoundObject* parent = volume->Catalog().FindByID(f->ParentID, cursor);
    f = parent && parent != f ? parent : nullptr;
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const QModelIndex index = model.IndexOf(*it);
    if (!index.isValid()) break;
    open(index);
  }
  if (folder && model.IndexOf(folder).isValid()) {
    tree_->SelectFolder(folder);
  } else {
    const QModelIndex top = tree_->Model().index(0, 0);
    const QModelIndex root = tree_->Model().index(0, 0, top);
    tree_->setCurrentIndex(root.isValid() ? root : top);
  }
  // The list follows even when the selection did not move.
  ShowFolder(tree_->SelectedFolder());
}

QDialog* CVolumeExploreView::NewFiltersDialog() {
  return new CFiltersView(filter_, [this](const CViewFilter& f) { ApplyFilter(f); }, window());
}

QDialog* CVolumeExploreView::NewInformationDialog() {
  const std::vector<CFoundObject*> selection = Selection();
  CFoundObject* object = !selection.empty() ? selection.front() : folder_;
  if (!object || object == volume_) return NewVolumeInformationDialog();
  return new CFileInformationViewDlg(*object, window());
}

QDialog* CVolumeExploreView::NewVolumeInformationDialog() {
  CVolume* volume = drives_->SelectedVolume();
  if (!volume) volume = volume_;
  return volume ? new CVolumeInformationDlg(*volume, window()) : nullptr;
}
