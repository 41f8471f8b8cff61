// The drives pane's model: the volumes of the drive list as a tree (disks
// with their partitions and the volumes found inside them, images, found
// volumes), with their state, size and file system. A few dozen rows: the
// tree is rebuilt from the list when it changes; the state column is
// refreshed in place.
#pragma once

#include <QAbstractItemModel>
#include <QStringList>

#include <vector>

class CVolume;

class CDrivesModel : public QAbstractItemModel {
  Q_OBJECT
public:
  enum Column { NameColumn = 0, StateColumn, SizeColumn, FileSystemColumn, ColumnCount };

  explicit CDrivesModel(QObject* parent = nullptr);

  // Reads the drive list again (rows for new volumes, gone ones removed).
  void Refresh();
  // Updates the state, size and file-system texts of every row in place.
  void RefreshStates();
  CVolume* VolumeAt(const QModelIndex& index) const;
  QModelIndex IndexOf(const CVolume* volume) const;
  void SetHeaderTexts(const QStringList& texts);

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  static QString StateText(int32_t state);
  static QString SizeText(uint64_t bytes);

private:
  struct Row {
    CVolume* volume;
    int parent;  // index into rows_, -1 at the top
    std::vector<int> children;
    QString fileSystem;
  };
  // Reads the volume's file-system name, only while no analysis thread may
  // be replacing its parser.
  static void UpdateFileSystem(Row& row);
  int RowIndexOf(const CVolume* volume) const;
  const std::vector<int>& ChildrenOf(int row) const;

  std::vector<Row> rows_;
  std::vector<int> top_;
  QStringList headers_;
};
