#include "ui/files_tree_view.h"

#include <QHeaderView>

#include "ui/files_tree_model.h"

CFilesTreeView::CFilesTreeView(QWidget* parent) : QTreeView(parent), model_(new CFilesTreeModel(this)) {
  setObjectName("FolderTree");
  setModel(model_);
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { emit FolderSelected(model_->ObjectAt(current)); });
}

CFoundObject* CFilesTreeView::SelectedFolder() const { return model_->ObjectAt(currentIndex()); }

void CFilesTreeView::SelectFolder(const CFoundObject* object) {
  const QModelIndex index = model_->IndexOf(object);
  if (!index.isValid()) return;
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) expand(p);
  setCurrentIndex(index);
  scrollTo(index);
}
