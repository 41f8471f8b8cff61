// The explorer view: the container of the drives pane, the folder tree, the
// file list and search results, the search bar, the data viewer and the
// legend. It shows what the catalog of the current volume holds, takes in
// the objects found while an analysis runs, and handles the commands that
// act on the selection.
#pragma once

#include <QWidget>

#include <memory>
#include <unordered_set>
#include <vector>

#include "engine/catalog/search.h"
#include "ui/catalog_watch.h"
#include "ui/window_message_target.h"

class CVolume;
class CMyComputerView;
class CFilesTreeView;
class CFilesListView;
class CSearchBarView;
class CHexViewer_Pane;
class CLegendView;
class IUserPrompts;
class QDialog;
class QSplitter;
class QStackedWidget;
class QTabWidget;

class CVolumeExploreView : public QWidget {
  Q_OBJECT
public:
  // `filesFirst`: the second layout (the file pane first).
  CVolumeExploreView(IUserPrompts& prompts, QWidget* parent = nullptr);
  ~CVolumeExploreView() override;

  // The panes' proportions for the layout (message 32878).
  void ApplyLayout(bool filesFirst);
  void ShowLegend(bool show);
  void ShowSearchBar(bool show);
  bool SearchBarShown() const;

  // --- Volumes ---
  void RefreshDrives();
  CVolume* CurrentVolume() const { return volume_; }
  // Shows the volume's folder tree (command Select, or a click in the
  // drives pane).
  void SelectVolume(CVolume* volume);
  // Forgets every pointer into the volume's catalog: called before an
  // analysis clears it.
  void PrepareForAnalysis(CVolume* volume);

  // --- What the workers report (forwarded by the main window) ---
  void OnFoundObjects(const std::vector<FoundObjectNotice>& notices);
  void OnFileSystemDone(CVolume* volume);
  void OnScanStarted(CVolume* volume);
  void OnScanFinished(CVolume* volume);
  // The 2,000 ms refresh while an analysis runs: only what is on screen.
  void RefreshWhileBusy();
  // An analysis started by any path empties the volume's catalog first:
  // the views that still hold its old objects let them go and show the
  // volume afresh. True when something was dropped.
  bool LetGoOfClearedCatalog();

  // --- Commands ---
  void SelectAll();
  void ResetSize();
  void StartSearch();
  void CancelSearch();
  // Opens the folder in the tree and lists its objects.
  void ShowFolder(CFoundObject* folder);
  std::vector<CFoundObject*> Selection() const;
  CFoundObject* CurrentFolder() const { return folder_; }
  void Retranslate();

  // --- View filter and the dialogs over the selection ---
  const CViewFilter& Filter() const { return filter_; }
  // Applies the filter to the folder tree and the file list at once and
  // stores it as the default filter.
  void ApplyFilter(const CViewFilter& filter);
  // The dialogs of the Filters, Information and Properties commands (null
  // when there is nothing to show them for).
  QDialog* NewFiltersDialog();
  QDialog* NewInformationDialog();
  QDialog* NewVolumeInformationDialog();

  CMyComputerView& Drives() { return *drives_; }
  CFilesTreeView& Tree() { return *tree_; }
  CFilesListView& Files() { return *files_; }
  CFilesListView& Results() { return *results_; }
  CSearchBarView& SearchBar() { return *searchBar_; }
  CHexViewer_Pane& DataViewer() { return *hex_; }
  bool ResultsShown() const;

signals:
  // The user chose a volume for analysis, or a drive-pane command.
  void AnalysisRequested(CVolume* volume);
  void Command(int id);
  // A search ended with this many results.
  void SearchFinished(int results);

private:
  void ShowObjectData(CFoundObject* object);
  // Stops the search and empties its results.
  void DropSearchResults();
  // Empties the list and the data viewer and reads the tree's volume afresh.
  void DropVolumeObjects();
  void SearchDone(const std::vector<CFoundObject*>& results);
  std::vector<CFoundObject*> VisibleChildren(CFoundObject* folder) const;
  bool Shows(const CFoundObject* object) const;

  IUserPrompts& prompts_;
  CMyComputerView* drives_;
  CFilesTreeView* tree_;
  CFilesListView* files_;
  CFilesListView* results_;
  CSearchBarView* searchBar_;
  CHexViewer_Pane* hex_;
  CLegendView* legend_;
  QSplitter* main_;
  QSplitter* left_;
  QSplitter* right_;
  QStackedWidget* leftStack_;
  QStackedWidget* listStack_;
  QTabWidget* bottom_;

  CVolume* volume_ = nullptr;
  CFoundObject* folder_ = nullptr;
  // The objects of the file list, so a late notice never lists one twice.
  std::unordered_set<const CFoundObject*> listed_;
  // The "Lost files" groups whose folder the tree has been given.
  std::unordered_set<int64_t> knownGroups_;
  CViewFilter filter_;
  CFindInFound find_;
  CVolume* searchVolume_ = nullptr;
  CCatalogWatch searchWatch_;
};
