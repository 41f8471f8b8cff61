// A flat list of found objects for the file list and the search results: a
// model over catalog pointers (no copy of the objects), read when a row is
// painted. Columns "Name", "Size", "Type", "Date Modified" and, for the
// search results, "In Folder".
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "ui/catalog_watch.h"

struct CFoundObject;
class CVolume;

class CFoundObjectListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column { NameColumn = 0, SizeColumn, TypeColumn, DateColumn, FolderColumn };
  // Colours that tell objects apart (the legend explains them).
  static QColor DeletedColour();
  static QColor LostColour();

  CFoundObjectListModel(bool withFolderColumn, QObject* parent = nullptr);

  // Replaces the rows (folders first in the file list's usual order, then
  // the current sort applies). The rows are objects of the catalog of
  // `source` (null: the first object's volume); once that catalog is cleared
  // the rows show nothing and hand out no object until they are replaced.
  void SetObjects(std::vector<CFoundObject*> objects, CVolume* source = nullptr);
  // Adds rows at the end (objects found while the folder is shown).
  void AppendObjects(const std::vector<CFoundObject*>& objects);
  void Clear();
  // Null past the end and once the rows' catalog was cleared.
  CFoundObject* ObjectAt(int row) const;
  // True once the catalog the rows come from was cleared.
  bool Stale() const { return watch_.Stale(); }
  int RowOf(const CFoundObject* object) const;
  const std::vector<CFoundObject*>& Objects() const { return rows_; }
  // Tells the views that the given rows' fields may have changed (sizes and
  // types set while an analysis runs).
  void RowsChanged(int first, int last);
  // The column titles in the active language.
  void SetHeaderTexts(const QStringList& texts);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

private:
  void SortRows();

  bool withFolder_;
  std::vector<CFoundObject*> rows_;
  CCatalogWatch watch_;
  QStringList headers_;
  int sortColumn_ = NameColumn;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

// Size and date texts shared by the list and the tree.
QString SizeText(const CFoundObject& object);
QString FileTimeText(uint64_t fileTime);
