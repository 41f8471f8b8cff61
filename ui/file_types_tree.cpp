#include "ui/file_types_tree.h"

#include <QHeaderView>

#include <map>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"

namespace {
constexpr int kTypeIdRole = Qt::UserRole + 1;
}

CFileTypesTree::CFileTypesTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName("FileTypesTree");
  setHeaderHidden(true);
  setColumnCount(1);
  connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int) {
    if (!loading_) changed_ = true;
  });
  Reload();
}

void CFileTypesTree::Reload() {
  loading_ = true;
  clear();
  const CFileSignatureDatabase& db = theComputer().Signatures();
  std::map<int64_t, QTreeWidgetItem*> groups;
  for (const CFileTypeGroup& g : db.Groups()) {
    auto* item = new QTreeWidgetItem(this, {QString::fromStdString(g.Title)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    groups[g.Id] = item;
  }
  for (const auto& type : db.Types()) {
    if (type->IsGroup) continue;
    auto it = groups.find(type->GroupId);
    QTreeWidgetItem* parent = it != groups.end() ? it->second : invisibleRootItem();
    auto* item = new QTreeWidgetItem(parent, {QString::fromStdString(type->Title)});
    item->setData(0, kTypeIdRole, type->Id);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, CFileSignatureDatabase::GetSearchEnable(*type) ? Qt::Checked : Qt::Unchecked);
  }
  // Groups without types stay out of the way.
  for (auto& [id, item] : groups)
    if (item->childCount() == 0) delete item;
  sortItems(0, Qt::AscendingOrder);
  loading_ = false;
  changed_ = false;
}

void CFileTypesTree::Apply() {
  if (!changed_) return;
  CFileSignatureDatabase& db = theComputer().Signatures();
  for (QTreeWidgetItemIterator it(this); *it; ++it) {
    const QVariant id = (*it)->data(0, kTypeIdRole);
    if (!id.isValid()) continue;
    if (CFileType* type = db.FindById(id.toInt()))
      CFileSignatureDatabase::SetSearchEnable(*type, (*it)->checkState(0) == Qt::Checked);
  }
  db.SaveAll();
  changed_ = false;
}
