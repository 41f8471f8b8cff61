#include "ui/my_computer_view.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>

#include "ui/commands.h"
#include "ui/drives_model.h"
#include "ui/ui_texts.h"

CMyComputerView::CMyComputerView(QWidget* parent)
    : QTreeView(parent), model_(new CDrivesModel(this)), menu_(new QMenu(this)) {
  setObjectName("DrivesPane");
  setModel(model_);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  header()->setStretchLastSection(true);
  setColumnWidth(CDrivesModel::NameColumn, 170);
  setColumnWidth(CDrivesModel::StateColumn, 90);
  setColumnWidth(CDrivesModel::SizeColumn, 70);
  connect(this, &QTreeView::activated, this, [this](const QModelIndex& index) {
    if (CVolume* v = model_->VolumeAt(index)) emit VolumeChosen(v);
  });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { emit VolumeSelected(model_->VolumeAt(current)); });
  auto add = [this](int id, const char* text) {
    QAction* a = menu_->addAction(text);
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { emit Command(id); });
  };
  add(ID_DRIVE_SELECT, "Select");
  add(ID_DRIVE_PROPERTIES, "Properties");
  menu_->addSeparator();
  add(ID_CREATE_IMAGE, "Create Drive Image...");
  add(ID_LOAD_IMAGE, "Load Drive Image...");
  menu_->addSeparator();
  add(ID_RESCAN_DRIVES, "Rescan Drives\tF5");
  RegisterMenu(kSectionDrivesMenu, menu_);
}

void CMyComputerView::RefreshDrives() {
  CVolume* selected = SelectedVolume();
  model_->Refresh();
  expandAll();
  if (selected) SelectVolume(selected);
}

CVolume* CMyComputerView::SelectedVolume() const { return model_->VolumeAt(currentIndex()); }

void CMyComputerView::SelectVolume(const CVolume* volume) {
  const QModelIndex index = model_->IndexOf(volume);
  if (index.isValid()) setCurrentIndex(index);
}

void CMyComputerView::Retranslate() {
  model_->SetHeaderTexts({UiString(STR_COLUMN_NAME, "Name"), UiString(STR_DRIVES_STATE, "State"),
                          UiString(STR_COLUMN_SIZE, "Size"), UiString(STR_DRIVES_FILE_SYSTEM, "File System")});
  model_->RefreshStates();  // the state texts
}

void CMyComputerView::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(event->pos());
  if (index.isValid()) setCurrentIndex(index);
  const bool onVolume = model_->VolumeAt(index) != nullptr;
  for (QAction* a : menu_->actions()) {
    const int id = a->data().toInt();
    if (id == 0) continue;
    const bool needsVolume = id == ID_DRIVE_SELECT || id == ID_DRIVE_PROPERTIES || id == ID_CREATE_IMAGE;
    a->setEnabled(CommandAvailable(id) && (onVolume || !needsVolume));
  }
  menu_->exec(event->globalPos());
}
