#include "ui/found_object_list_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "engine/catalog/found_object.h"
#include "engine/catalog/found_object_tree.h"
#include "engine/volume/volume.h"
#include "ui/desktop_type_names.h"
#include "ui/ui_texts.h"

QString SizeText(const CFoundObject& object) {
  if (object.IsFolder()) return {};
  if (!object.SizeKnown()) return QStringLiteral("?");
  return QLocale().toString(static_cast<qulonglong>(object.Size));
}

QString FileTimeText(uint64_t fileTime) {
  if (fileTime == 0) return {};
  // 100-ns units since 1601 to milliseconds since 1970.
  const int64_t ms = static_cast<int64_t>(fileTime / 10000) - 11644473600000ll;
  const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms);
  if (!time.isValid() || time.date().year() > 9999) return {};
  return time.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QColor CFoundObjectListModel::DeletedColour() { return QColor(0xC0, 0x20, 0x20); }
QColor CFoundObjectListModel::LostColour() { return QColor(0x20, 0x50, 0xC0); }

namespace {

QString TypeText(const CFoundObject& object) {
  if (!object.Volume) return {};
  return QString::fromStdString(object.Volume->Catalog().GetTypeName(&object));
}

QString FolderText(const CFoundObject& object) {
  if (!object.Volume) return {};
  return QString::fromStdString(object.Volume->Catalog().GetFullPath(&object));
}

}  // namespace

CFoundObjectListModel::CFoundObjectListModel(bool withFolderColumn, QObject* parent)
    : QAbstractTableModel(parent), withFolder_(withFolderColumn) {
  headers_ = {"Name", "Size", "Type", "Date Modified", "In Folder"};
}

void CFoundObjectListModel::SetObjects(std::vector<CFoundObject*> objects, CVolume* source) {
  beginResetModel();
  rows_ = std::move(objects);
  watch_.Follow(source ? source : rows_.empty() ? nullptr : rows_.front()->Volume);
  SortRows();
  endResetModel();
}

void CFoundObjectListModel::AppendObjects(const std::vector<CFoundObject*>& objects) {
  if (objects.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(objects.size()) - 1);
  rows_.insert(rows_.end(), objects.begin(), objects.end());
  endInsertRows();
}

void CFoundObjectListModel::Clear() { SetObjects({}); }

CFoundObject* CFoundObjectListModel::ObjectAt(int row) const {
  return row >= 0 && !watch_.Stale() && static_cast<size_t>(row) < rows_.size() ? rows_[static_cast<size_t>(row)] : nullptr;
}

int CFoundObjectListModel::RowOf(const CFoundObject* object) const {
  auto it = std::find(rows_.begin(), rows_.end(), object);
  return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

void CFoundObjectListModel::RowsChanged(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, rowCount() - 1);
  if (first > last) return;
  emit dataChanged(index(first, 0), index(last, columnCount() - 1));
}

void CFoundObjectListModel::SetHeaderTexts(const QStringList& texts) {
  for (int i = 0; i < texts.size() && i < headers_.size(); ++i)
    if (!texts[i].isEmpty()) headers_[i] = texts[i];
  emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int CFoundObjectListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CFoundObjectListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : (withFolder_ ? 5 : 4);
}

QVariant CFoundObjectListModel::data(const QModelIndex& index, int role) const {
  const CFoundObject* o = ObjectAt(index.row());
  if (!o) return {};
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case NameColumn: return QString::fromStdString(o->Name);
        case SizeColumn: return SizeText(*o);
        case TypeColumn: return TypeText(*o);
        case DateColumn: return FileTimeText(o->ModificationTime);
        case FolderColumn: return FolderText(*o);
        default: return {};
      }
    case Qt::DecorationRole:
      if (index.column() == NameColumn) return ObjectIcon(*o);
      return {};
    case Qt::ForegroundRole:
      if (o->Flags & FOF_SIGNATURE) return QBrush(LostColour());
      if (o->IsDeleted()) return QBrush(DeletedColour());
      return {};
    case Qt::TextAlignmentRole:
      return index.column() == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                          : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
      if (o->Flags & FOF_SIGNATURE) return UiString(STR_TIP_LOST_FILE, "Lost file (found by its signature)");
      if (o->IsDeleted()) return UiString(STR_DELETED, "Deleted");
      return {};
    default: return {};
  }
}

QVariant CFoundObjectListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) return {};
  if (role == Qt::DisplayRole) return headers_[section];
  if (role == Qt::TextAlignmentRole)
    return section == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

void CFoundObjectListModel::sort(int column, Qt::SortOrder order) {
  sortColumn_ = column;
  sortOrder_ = order;
  if (watch_.Stale()) return;  // nothing to read the keys from
  emit layoutAboutToBeChanged();
  SortRows();
  emit layoutChanged();
}

void CFoundObjectListModel::SortRows() {
  // Keys are made once per row: a type name or a path per comparison would
  // cost a catalog look-up each time on a million rows.
  struct Keyed {
    CFoundObject* object;
    std::string text;
    uint64_t number;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(rows_.size());
  for (CFoundObject* o : rows_) {
    Keyed k{o, {}, 0};
    switch (sortColumn_) {
      case SizeColumn: k.number = o->IsFolder() ? 0 : o->Size; break;
      case TypeColumn: k.text = TypeText(*o).toStdString(); break;
      case DateColumn: k.number = o->ModificationTime; break;
      case FolderColumn: k.text = FolderText(*o).toStdString(); break;
      default: break;
    }
    keyed.push_back(std::move(k));
  }
  const bool ascending = sortOrder_ == Qt::AscendingOrder;
  const int column = sortColumn_;
  std::stable_sort(keyed.begin(), keyed.end(), [ascending, column](const Keyed& a, const Keyed& b) {
    // Folders stay above files in either order, as in a file manager.
    if (a.object->IsFolder() != b.object->IsFolder()) return a.object->IsFolder();
    int c = 0;
    if (column == SizeColumn || column == DateColumn)
      c = a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
    else if (column == TypeColumn || column == FolderColumn)
      c = strcasecmp(a.text.c_str(), b.text.c_str());
    if (c == 0) c = strcasecmp(a.object->Name.c_str(), b.object->Name.c_str());
    return ascending ? c < 0 : c > 0;
  });
  for (size_t i = 0; i < keyed.size(); ++i) rows_[i] = keyed[i].object;
}
