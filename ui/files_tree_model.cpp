#include "ui/files_tree_model.h"

#include <QBrush>
#include <QFileIconProvider>
#include <QIcon>

#include <algorithm>
#include <strings.h>

#include "engine/catalog/found_object_tree.h"
#include "engine/volume/volume.h"
#include "ui/desktop_type_names.h"
#include "ui/found_object_list_model.h"

CFilesTreeModel::CFilesTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

CFilesTreeModel::~CFilesTreeModel() { SetVolume(nullptr); }

void CFilesTreeModel::SetVolume(CVolume* volume) {
  beginResetModel();
  // The objects forget their nodes, so a stale TreeItem never names a freed
  // node. After a clear only the records a clear keeps are still there.
  const bool cleared = watch_.Stale();
  std::vector<Node*> stack = {&top_};
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    if (n->object && (!cleared || SurvivesClear(n->object))) n->object->TreeItem = -1;
    for (auto& c : n->children) stack.push_back(c.get());
  }
  top_.children.clear();
  volume_ = volume;
  watch_.Follow(volume);
  if (volume_) {
    auto node = std::make_unique<Node>();
    node->object = volume_;
    node->parent = &top_;
    volume_->TreeItem = reinterpret_cast<intptr_t>(node.get());
    top_.children.push_back(std::move(node));
  }
  endResetModel();
}

bool CFilesTreeModel::SurvivesClear(const CFoundObject* object) const {
  CVolume* volume = watch_.Volume();
  if (!volume) return false;
  CFoundObjectTree& catalog = volume->Catalog();
  return object == volume || object == &catalog.Root() || object == &catalog.LostFragments() ||
         object == &catalog.LostFiles();
}

std::vector<CFoundObject*> CFilesTreeModel::FolderChildren(const CFoundObject* object) const {
  std::vector<CFoundObject*> folders;
  if (!volume_ || !object) return folders;
  CFoundObjectTree& catalog = volume_->Catalog();
  if (object == volume_) {
    // The volume's own branch: its root folder when the file system was
    // read, then the two folders of what lies outside the file system.
    std::vector<CFoundObject*> children;
    catalog.GetChildren(volume_->ObjectID, children);
    for (CFoundObject* c : children)
      if (c->IsFolder() && c != volume_) folders.push_back(c);
    for (CFoundObject* outside : {&catalog.LostFragments(), &catalog.LostFiles()}) {
      std::vector<CFoundObject*> inside;
      catalog.GetChildren(outside->ObjectID, inside);
      if (!inside.empty()) folders.push_back(outside);
    }
    return folders;
  }
  std::vector<CFoundObject*> children;
  catalog.GetChildren(object->ObjectID, children);
  for (CFoundObject* c : children)
    if (c->IsFolder() && c != object && c->TreeItem == -1 && (!shows_ || shows_(c))) folders.push_back(c);
  std::stable_sort(folders.begin(), folders.end(),
                   [](const CFoundObject* a, const CFoundObject* b) { return strcasecmp(a->Name.c_str(), b->Name.c_str()) < 0; });
  // A damaged file system can list a folder under itself or twice.
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  return folders;
}

void CFilesTreeModel::InsertChild(Node* parent, CFoundObject* object) {
  auto node = std::make_unique<Node>();
  node->object = object;
  node->parent = parent;
  object->TreeItem = reinterpret_cast<intptr_t>(node.get());
  parent->children.push_back(std::move(node));
}

bool CFilesTreeModel::AddFolder(CFoundObject* folder) {
  if (!volume_ || Stale() || !folder || !folder->IsFolder() || folder->Volume != volume_ || folder->TreeItem != -1) return false;
  if (shows_ && !shows_(folder)) return false;
  CFoundObjectTree& catalog = volume_->Catalog();
  CFoundObject* parentObject = nullptr;
  if (folder->ParentID == volume_->ObjectID) {
    parentObject = volume_;
  } else {
    int64_t cursor = -1;
    while (CFoundObject* p = catalog.FindByID(folder->ParentID, cursor))
      if (p->IsFolder() && p != folder) {
        parentObject = p;
        break;
      }
  }
  if (!parentObject || parentObject->TreeItem == -1) return false;
  Node* parent = reinterpret_cast<Node*>(parentObject->TreeItem);
  if (!(parent->flags & kExpandedFlag)) return false;
  const int row = static_cast<int>(parent->children.size());
  beginInsertRows(IndexOfNode(parent), row, row);
  InsertChild(parent, folder);
  endInsertRows();
  return true;
}

void CFilesTreeModel::RefreshTopLevel() {
  if (!volume_ || Stale() || top_.children.empty()) return;
  Node* volumeNode = top_.children.front().get();
  if (!(volumeNode->flags & kExpandedFlag)) return;
  for (CFoundObject* f : FolderChildren(volume_)) {
    if (f->TreeItem != -1) continue;
    const int row = static_cast<int>(volumeNode->children.size());
    beginInsertRows(IndexOfNode(volumeNode), row, row);
    InsertChild(volumeNode, f);
    endInsertRows();
  }
}

CFoundObject* CFilesTreeModel::ObjectAt(const QModelIndex& index) const {
  Node* n = NodeOf(index);
  return n && !Stale() ? n->object : nullptr;
}

QModelIndex CFilesTreeModel::IndexOf(const CFoundObject* object) const {
  if (!object || object->TreeItem == -1) return {};
  return IndexOfNode(reinterpret_cast<const Node*>(object->TreeItem));
}

bool CFilesTreeModel::IsExpandedBranch(const QModelIndex& index) const {
  Node* n = NodeOf(index);
  return n && (n->flags & kExpandedFlag);
}

CFilesTreeModel::Node* CFilesTreeModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : nullptr;
}

int CFilesTreeModel::RowOf(const Node* node) const {
  const auto& siblings = node->parent->children;
  for (size_t i = 0; i < siblings.size(); ++i)
    if (siblings[i].get() == node) return static_cast<int>(i);
  return -1;
}

QModelIndex CFilesTreeModel::IndexOfNode(const Node* node) const {
  if (!node || node == &top_ || !node->parent) return {};
  return createIndex(RowOf(node), 0, const_cast<Node*>(node));
}

QModelIndex CFilesTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* p = parent.isValid() ? NodeOf(parent) : &top_;
  if (!p || row < 0 || column != 0 || static_cast<size_t>(row) >= p->children.size()) return {};
  return createIndex(row, 0, p->children[static_cast<size_t>(row)].get());
}

QModelIndex CFilesTreeModel::parent(const QModelIndex& child) const {
  Node* n = NodeOf(child);
  if (!n || n->parent == &top_) return {};
  return IndexOfNode(n->parent);
}

int CFilesTreeModel::rowCount(const QModelIndex& parent) const {
  const Node* p = parent.isValid() ? NodeOf(parent) : &top_;
  return p ? static_cast<int>(p->children.size()) : 0;
}

int CFilesTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CFilesTreeModel::hasChildren(const QModelIndex& parent) const {
  const Node* p = parent.isValid() ? NodeOf(parent) : &top_;
  if (!p) return false;
  if (p == &top_ || (p->flags & kExpandedFlag)) return !p->children.empty();
  // Not read yet: offer the expander; reading happens in fetchMore.
  return true;
}

bool CFilesTreeModel::canFetchMore(const QModelIndex& parent) const {
  const Node* p = NodeOf(parent);
  return p && !(p->flags & kExpandedFlag);
}

void CFilesTreeModel::fetchMore(const QModelIndex& parent) {
  Node* p = NodeOf(parent);
  if (!p || (p->flags & kExpandedFlag) || Stale()) return;
  p->flags |= kExpandedFlag;
  const std::vector<CFoundObject*> folders = FolderChildren(p->object);
  if (folders.empty()) {
    // The expander goes away: the branch has no folders.
    emit dataChanged(parent, parent);
    return;
  }
  beginInsertRows(parent, 0, static_cast<int>(folders.size()) - 1);
  for (CFoundObject* f : folders) InsertChild(p, f);
  endInsertRows();
}

QVariant CFilesTreeModel::data(const QModelIndex& index, int role) const {
  const Node* n = NodeOf(index);
  if (!n || !n->object || Stale()) return {};
  const CFoundObject& o = *n->object;
  if (role == Qt::DisplayRole) {
    if (&o == volume_) return QString::fromStdString(volume_->DisplayNameText());
    return QString::fromStdString(o.Name);
  }
  if (role == Qt::DecorationRole) {
    if (&o == volume_) return QFileIconProvider().icon(QFileIconProvider::Drive);
    return ObjectIcon(o);
  }
  if (role == Qt::ForegroundRole && &o != volume_) {
    // "Lost files" and its groups hold what the scan found: the lost colour.
    if (o.ObjectID == LOST_FILES_ID || o.ParentID == LOST_FILES_ID)
      return QBrush(CFoundObjectListModel::LostColour());
    if (o.IsDeleted()) return QBrush(CFoundObjectListModel::DeletedColour());
  }
  return {};
}

std::vector<CFoundObject*> CFilesTreeModel::TopFolders() const { return FolderChildren(volume_); }
