#include "ui/files_list_view.h"

#include <QHeaderView>

#include "engine/catalog/found_object.h"
#include "ui/found_object_list_model.h"
#include "ui/ui_texts.h"

CFilesListView::CFilesListView(bool searchResults, QWidget* parent)
    : QTreeView(parent), model_(new CFoundObjectListModel(searchResults, this)) {
  setObjectName(searchResults ? "SearchResults" : "FileList");
  setModel(model_);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSortingEnabled(true);
  header()->setSortIndicator(CFoundObjectListModel::NameColumn, Qt::AscendingOrder);
  header()->setStretchLastSection(searchResults);
  const int widths[] = {150, 100, 100, 120, 180};
  for (int c = 0; c < model_->columnCount(); ++c) setColumnWidth(c, widths[c]);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { emit ObjectSelected(model_->ObjectAt(current.row())); });
  connect(this, &QTreeView::activated, this, [this](const QModelIndex& index) {
    CFoundObject* o = model_->ObjectAt(index.row());
    if (o && o->IsFolder()) emit FolderOpened(o);
  });
  Retranslate();
}

std::vector<CFoundObject*> CFilesListView::SelectedObjects() const {
  std::vector<CFoundObject*> objects;
  for (const QModelIndex& index : selectionModel()->selectedRows())
    if (CFoundObject* o = model_->ObjectAt(index.row())) objects.push_back(o);
  return objects;
}

CFoundObject* CFilesListView::CurrentObject() const { return model_->ObjectAt(currentIndex().row()); }

void CFilesListView::RefreshVisibleRows() {
  const QModelIndex top = indexAt(QPoint(0, 0));
  if (!top.isValid()) return;
  QModelIndex bottom = indexAt(QPoint(0, viewport()->height() - 1));
  const int last = bottom.isValid() ? bottom.row() : model_->rowCount() - 1;
  model_->RowsChanged(top.row(), last);
}

void CFilesListView::Retranslate() {
  model_->SetHeaderTexts({UiString(STR_COLUMN_NAME, "Name"), UiString(STR_COLUMN_SIZE, "Size"),
                          UiString(STR_COLUMN_TYPE, "Type"), UiString(STR_COLUMN_DATE, "Date Modified"),
                          UiString(STR_COLUMN_FOLDER, "In Folder")});
}
