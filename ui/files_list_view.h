// The file list: the objects of the folder chosen in the tree, or the
// search results (with the "In Folder" column), as a view over
// CFoundObjectListModel; sorting by any column, multiple selection.
#pragma once

#include <QTreeView>

#include <vector>

struct CFoundObject;
class CFoundObjectListModel;

class CFilesListView : public QTreeView {
  Q_OBJECT
public:
  CFilesListView(bool searchResults, QWidget* parent = nullptr);
  CFoundObjectListModel& Model() { return *model_; }
  std::vector<CFoundObject*> SelectedObjects() const;
  CFoundObject* CurrentObject() const;
  // Updates the rows on screen only (sizes and types that change while an
  // analysis runs), not the whole list.
  void RefreshVisibleRows();
  void Retranslate();

signals:
  void ObjectSelected(CFoundObject* object);
  // A folder of the list was opened (double click or Enter).
  void FolderOpened(CFoundObject* folder);

private:
  CFoundObjectListModel* model_;
};
