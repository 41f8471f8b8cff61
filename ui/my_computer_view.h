// The drives pane: disks, partitions, images and found volumes as a tree
// with their state, size and file system, and its context menu (Select,
// Properties, Create/Load Drive Image, Rescan Drives).
#pragma once

#include <QTreeView>

class CDrivesModel;
class QMenu;
class CVolume;

class CMyComputerView : public QTreeView {
  Q_OBJECT
public:
  explicit CMyComputerView(QWidget* parent = nullptr);

  CDrivesModel& Model() { return *model_; }
  // Rebuilds the rows from the drive list, keeping the selection.
  void RefreshDrives();
  CVolume* SelectedVolume() const;
  void SelectVolume(const CVolume* volume);
  // The column titles and context menu in the active language.
  void Retranslate();

signals:
  // The user chose the volume for analysis (double click or Enter).
  void VolumeChosen(CVolume* volume);
  // The selected row changed.
  void VolumeSelected(CVolume* volume);
  // A command of the context menu.
  void Command(int id);

protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  CDrivesModel* model_;
  QMenu* menu_;
};
