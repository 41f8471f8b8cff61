// The folder tree of the current volume (a view over CFilesTreeModel).
#pragma once

#include <QTreeView>

struct CFoundObject;
class CFilesTreeModel;

class CFilesTreeView : public QTreeView {
  Q_OBJECT
public:
  explicit CFilesTreeView(QWidget* parent = nullptr);
  CFilesTreeModel& Model() { return *model_; }
  CFoundObject* SelectedFolder() const;
  // Selects the node of `object`, expanding the branches above it when
  // they are read already.
  void SelectFolder(const CFoundObject* object);

signals:
  void FolderSelected(CFoundObject* folder);

private:
  CFilesTreeModel* model_;
};
