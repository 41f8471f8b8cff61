#include "ui/drives_model.h"

#include <QFileIconProvider>
#include <QIcon>
#include <QLocale>

#include <algorithm>

#include "engine/analysis/analysis_driver.h"
#include "engine/filesystems/file_system.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "ui/ui_texts.h"

CDrivesModel::CDrivesModel(QObject* parent) : QAbstractItemModel(parent) {
  headers_ = {"Name", "State", "Size", "File System"};
}

void CDrivesModel::Refresh() {
  beginResetModel();
  rows_.clear();
  top_.clear();
  const std::vector<CVolume*> volumes = theComputer().Volumes.Snapshot();
  for (CVolume* v : volumes) {
    rows_.push_back({v, -1, {}, {}});
    UpdateFileSystem(rows_.back());
  }
  for (size_t i = 0; i < rows_.size(); ++i) {
    CVolume* parent = rows_[i].volume->Parent;
    const int p = parent && parent != rows_[i].volume ? RowIndexOf(parent) : -1;
    // A parent chain that loops back is shown flat rather than not at all.
    bool loops = false;
    for (int a = p, steps = 0; a >= 0 && !loops; a = rows_[static_cast<size_t>(a)].parent, ++steps)
      loops = a == static_cast<int>(i) || steps > static_cast<int>(rows_.size());
    if (p >= 0 && !loops) {
      rows_[i].parent = p;
      rows_[static_cast<size_t>(p)].children.push_back(static_cast<int>(i));
    } else {
      top_.push_back(static_cast<int>(i));
    }
  }
  endResetModel();
}

void CDrivesModel::RefreshStates() {
  for (size_t i = 0; i < rows_.size(); ++i) {
    UpdateFileSystem(rows_[i]);
    const QModelIndex first = IndexOf(rows_[i].volume);
    if (first.isValid()) emit dataChanged(first.siblingAtColumn(StateColumn), first.siblingAtColumn(FileSystemColumn));
  }
}

CVolume* CDrivesModel::VolumeAt(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  const auto row = static_cast<size_t>(index.internalId());
  return row < rows_.size() ? rows_[row].volume : nullptr;
}

int CDrivesModel::RowIndexOf(const CVolume* volume) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].volume == volume) return static_cast<int>(i);
  return -1;
}

const std::vector<int>& CDrivesModel::ChildrenOf(int row) const {
  return row < 0 ? top_ : rows_[static_cast<size_t>(row)].children;
}

void CDrivesModel::UpdateFileSystem(Row& row) {
  if (analysis_threads::IsLive(row.volume)) return;
  const std::string name = row.volume->FileSystem().FileSystemName;
  row.fileSystem = name == "Unknown" ? QString() : QString::fromStdString(name);
}

QModelIndex CDrivesModel::IndexOf(const CVolume* volume) const {
  const int r = RowIndexOf(volume);
  if (r < 0) return {};
  const auto& siblings = ChildrenOf(rows_[static_cast<size_t>(r)].parent);
  const auto it = std::find(siblings.begin(), siblings.end(), r);
  return createIndex(static_cast<int>(it - siblings.begin()), 0, static_cast<quintptr>(r));
}

void CDrivesModel::SetHeaderTexts(const QStringList& texts) {
  for (int i = 0; i < texts.size() && i < headers_.size(); ++i)
    if (!texts[i].isEmpty()) headers_[i] = texts[i];
  emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

QModelIndex CDrivesModel::index(int row, int column, const QModelIndex& parent) const {
  const int p = parent.isValid() ? static_cast<int>(parent.internalId()) : -1;
  const auto& children = ChildrenOf(p);
  if (row < 0 || static_cast<size_t>(row) >= children.size() || column < 0 || column >= ColumnCount) return {};
  return createIndex(row, column, static_cast<quintptr>(children[static_cast<size_t>(row)]));
}

QModelIndex CDrivesModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const int p = rows_[static_cast<size_t>(child.internalId())].parent;
  return p < 0 ? QModelIndex() : IndexOf(rows_[static_cast<size_t>(p)].volume);
}

int CDrivesModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return static_cast<int>(ChildrenOf(parent.isValid() ? static_cast<int>(parent.internalId()) : -1).size());
}

int CDrivesModel::columnCount(const QModelIndex&) const { return ColumnCount; }

QString CDrivesModel::StateText(int32_t state) {
  switch (state) {
    case StateQuerying: return UiString(STR_STATE_QUERYING, "Querying");
    case StateReady: return UiString(57345, "Ready");
    case StateScanningSectors: return UiString(STR_STATE_SCANNING, "Scanning sectors");
    case StateAnalysingFileSystem: return UiString(STR_STATE_ANALYSING, "Analyzing file system");
    default: return UiString(STR_STATE_NOT_READY, "Not ready");
  }
}

QString CDrivesModel::SizeText(uint64_t bytes) {
  if (bytes == 0) return {};
  return QLocale().formattedDataSize(static_cast<qint64>(std::min<uint64_t>(bytes, INT64_MAX)), 1,
                                     QLocale::DataSizeTraditionalFormat);
}

QVariant CDrivesModel::data(const QModelIndex& index, int role) const {
  CVolume* v = VolumeAt(index);
  if (!v) return {};
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case NameColumn: return QString::fromStdString(v->DisplayNameText());
      case StateColumn: return StateText(v->State.load());
      case SizeColumn: return SizeText(v->TotalSectors * 512);
      case FileSystemColumn: return rows_[static_cast<size_t>(index.internalId())].fileSystem;
      default: return {};
    }
  }
  if (role == Qt::DecorationRole && index.column() == NameColumn) {
    QFileIconProvider icons;
    return v->Kind == VolumeImage ? icons.icon(QFileIconProvider::File) : icons.icon(QFileIconProvider::Drive);
  }
  if (role == Qt::TextAlignmentRole && index.column() == SizeColumn) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole) return QString::fromStdString(v->GetDevicePath());
  return {};
}

QVariant CDrivesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headers_.size())
    return headers_[section];
  return {};
}
