#include "ui/file_type_tree.h"

#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <map>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "ui/commands.h"
#include "ui/dialog_texts.h"
#include "ui/ui_texts.h"

namespace {

constexpr int kTypeIdRole = Qt::UserRole + 1;

uint32_t SwitchOf(const CFileType& type, CFileTypeTree::Switch which) {
  return which == CFileTypeTree::Switch::View ? type.View : CFileSignatureDatabase::GetSearchEnable(type);
}

QString TypeTitle(const CFileType& type) {
  QString title = QString::fromStdString(type.Title);
  if (title.isEmpty()) title = QString::fromStdString(type.FirstExtension).toUpper();
  if (!type.FirstExtension.empty()) title += QString(" (*.%1)").arg(QString::fromStdString(type.FirstExtension));
  return title;
}

}  // namespace

CFileTypeTree::CFileTypeTree(Switch which, QWidget* parent) : QTreeWidget(parent), switch_(which) {
  setObjectName("FileTypeTree");
  setHeaderHidden(true);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  // The context menu's items carry their command identifiers. A menu's
  // first level is translated by position (the titles of a menu bar), so
  // the menu is registered as the one pop-up of a holder menu: its items
  // are then translated by identifier.
  auto* holder = new QMenu(this);
  menu_ = holder->addMenu(QString());
  const auto add = [this](int id, auto slot) {
    QAction* action = menu_->addAction(DesignedText(kSectionFileTypeMenu, id));
    action->setData(id);
    connect(action, &QAction::triggered, this, slot);
  };
  add(ID_CHECK_ALL, [this] { SetAllChecked(true); });
  add(ID_UNCHECK_ALL, [this] { SetAllChecked(false); });
  menu_->addSeparator();
  add(ID_TYPE_PROPERTIES, [this] { ShowProperties(); });
  RegisterMenu(kSectionFileTypeMenu, holder);
}

void CFileTypeTree::Load(const CFileSignatureDatabase& db) {
  clear();
  std::map<int64_t, QTreeWidgetItem*> groups;
  for (const auto& group : db.Groups()) {
    auto* item = new QTreeWidgetItem(this, {group.Title.empty() ? QString("-") : QString::fromStdString(group.Title)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    item->setData(0, kTypeIdRole, QVariant());
    groups[group.Id] = item;
  }
  for (const auto& type : db.Types()) {
    if (type->IsGroup) continue;
    auto it = groups.find(type->GroupId);
    QTreeWidgetItem* parentItem = it != groups.end() ? it->second : invisibleRootItem();
    auto* item = new QTreeWidgetItem(parentItem, {TypeTitle(*type)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setData(0, kTypeIdRole, type->Id);
    item->setCheckState(0, SwitchOf(*type, switch_) ? Qt::Checked : Qt::Unchecked);
  }
  // Groups without a type are of no use in the tree.
  for (auto& group : groups)
    if (group.second->childCount() == 0) delete group.second;
  sortItems(0, Qt::AscendingOrder);
}

QTreeWidgetItem* CFileTypeTree::ItemOf(int32_t typeId) const {
  for (QTreeWidgetItemIterator it(const_cast<CFileTypeTree*>(this)); *it; ++it) {
    const QVariant id = (*it)->data(0, kTypeIdRole);
    if (id.isValid() && id.toInt() == typeId) return *it;
  }
  return nullptr;
}

void CFileTypeTree::Store(CFileSignatureDatabase& db) const {
  for (QTreeWidgetItemIterator it(const_cast<CFileTypeTree*>(this)); *it; ++it) {
    const QVariant id = (*it)->data(0, kTypeIdRole);
    if (!id.isValid()) continue;
    // Every type with this id (the database may hold the id twice).
    const bool on = (*it)->checkState(0) == Qt::Checked;
    for (const auto& type : db.Types()) {
      if (type->Id != id.toInt() || type->IsGroup) continue;
      if (switch_ == Switch::View) type->View = on ? 1 : 0;
      else CFileSignatureDatabase::SetSearchEnable(*type, on);
    }
  }
}

void CFileTypeTree::SetAllChecked(bool checked) {
  for (QTreeWidgetItemIterator it(this); *it; ++it)
    if ((*it)->data(0, kTypeIdRole).isValid()) (*it)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

int32_t CFileTypeTree::CurrentTypeId() const {
  const QTreeWidgetItem* item = currentItem();
  const QVariant id = item ? item->data(0, kTypeIdRole) : QVariant();
  return id.isValid() ? id.toInt() : -1;
}

bool CFileTypeTree::IsChecked(int32_t typeId) const {
  const QTreeWidgetItem* item = ItemOf(typeId);
  return item && item->checkState(0) == Qt::Checked;
}

void CFileTypeTree::SetChecked(int32_t typeId, bool checked) {
  if (QTreeWidgetItem* item = ItemOf(typeId)) item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void CFileTypeTree::ShowProperties() {
  const int32_t id = CurrentTypeId();
  const CFileType* type = id >= 0 ? theComputer().Signatures().FindById(id) : nullptr;
  if (!type) return;
  CFileTypePropertiesDlg dialog(*type, this);
  dialog.exec();
}

void CFileTypeTree::contextMenuEvent(QContextMenuEvent* event) {
  menu_->actions().at(3)->setEnabled(CurrentTypeId() >= 0);
  menu_->exec(event->globalPos());
}

std::vector<std::pair<QString, QString>> FileTypeFacts(const CFileType& type) {
  const QString yes = UiString(61401, "Yes"), no = UiString(61402, "No");
  return {
      {UiString(61422, "Type id:"), QString::number(type.Id)},
      {UiString(61416, "Title:"), QString::fromStdString(type.Title)},
      {UiString(61417, "Extensions:"), QString::fromStdString(type.FileExtensions)},
      {UiString(61418, "Name prefix:"), QString::fromStdString(type.Prefix)},
      {UiString(61419, "Group:"), QString::fromStdString(type.Group)},
      {UiString(61420, "Default size:"), QString("%1 %2").arg(type.DefaultSize).arg(UiString(175, "KBytes"))},
      {UiString(61421, "Searched for:"), CFileSignatureDatabase::GetSearchEnable(type) ? yes : no},
  };
}

QString FileTypeSignatureText(const CFileType& type) {
  QStringList lines;
  for (const CSignature& signature : type.Signatures) {
    if (!signature.Text.empty()) {
      lines << QString::fromStdString(signature.Text);
      continue;
    }
    // A signature from a signature file: its compared bytes, "??" where any
    // byte will do.
    for (const CSignatureCondition& c : signature.Conditions) {
      QStringList bytes;
      if (c.IsMasked()) {
        for (size_t j = 0; j < c.MaskedLength() && j < 64; ++j)
          bytes << (c.Mask()[j] ? QString("%1").arg(c.Pattern()[j], 2, 16, QChar('0')).toUpper() : QString("??"));
      } else {
        for (size_t j = 0; j < c.Data.size() && j < 64; ++j)
          bytes << QString("%1").arg(c.Data[j], 2, 16, QChar('0')).toUpper();
      }
      lines << QString("@%1: %2").arg(c.Offset).arg(bytes.join(' '));
    }
  }
  return lines.join('\n');
}

CFileTypePropertiesDlg::CFileTypePropertiesDlg(const CFileType& type, QWidget* parent) : QDialog(parent) {
  setObjectName("FileTypeProperties");
  setWindowTitle(UiString(61409, "File Type Properties"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  for (const auto& [label, value] : FileTypeFacts(type)) {
    auto* v = new QLabel(value, this);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, v);
  }
  layout->addLayout(form);
  auto* description = new QLabel(QString::fromStdString(type.Description), this);
  description->setWordWrap(true);
  layout->addWidget(description);
  auto* signatures = new QPlainTextEdit(FileTypeSignatureText(type), this);
  signatures->setReadOnly(true);
  layout->addWidget(signatures);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}
