// The folder tree of one volume as a model over its catalog: the volume at
// the top, then its root folder, "Filesystem (lost fragments)" and "Lost
// files". A branch's folders are read from the catalog (GetChildren) the
// first time it is expanded, and the branch is then flagged expanded (0x100);
// folders found later join an expanded branch as inserted rows. Each node
// remembers the catalog object it shows, and the object its node
// (`TreeItem`).
#pragma once

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <vector>

#include "ui/catalog_watch.h"

struct CFoundObject;
class CVolume;

class CFilesTreeModel : public QAbstractItemModel {
  Q_OBJECT
public:
  // The flag on a node's data that marks a branch already read.
  static constexpr uint32_t kExpandedFlag = 0x100;

  explicit CFilesTreeModel(QObject* parent = nullptr);
  ~CFilesTreeModel() override;

  // Shows the branch of `volume` (null: an empty tree). Forgets every node,
  // so call it before the volume's catalog is cleared by a new analysis.
  void SetVolume(CVolume* volume);
  CVolume* Volume() const { return volume_; }
  // True once the volume's catalog was cleared under the nodes: they show
  // nothing, hand out no object and read nothing until SetVolume.
  bool Stale() const { return watch_.Stale(); }
  // A folder object the catalog reported: shown when its parent's branch is
  // already read. Returns true when a row was inserted.
  bool AddFolder(CFoundObject* folder);
  // The top-level folders that exist only once something is in them ("Lost
  // files" after the scan's first find) are added when missing.
  void RefreshTopLevel();

  // The view filter's test: folders it hides are left out of the tree.
  // Takes effect for branches read from now on (SetVolume rereads all).
  void SetFilter(std::function<bool(const CFoundObject*)> shows) { shows_ = std::move(shows); }

  // The folders at the top of the volume's branch, as the catalog has them now.
  std::vector<CFoundObject*> TopFolders() const;
  CFoundObject* ObjectAt(const QModelIndex& index) const;
  QModelIndex IndexOf(const CFoundObject* object) const;
  bool IsExpandedBranch(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

private:
  struct Node {
    CFoundObject* object = nullptr;
    Node* parent = nullptr;
    uint32_t flags = 0;
    std::vector<std::unique_ptr<Node>> children;
  };
  Node* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOfNode(const Node* node) const;
  int RowOf(const Node* node) const;
  std::vector<CFoundObject*> FolderChildren(const CFoundObject* object) const;
  bool SurvivesClear(const CFoundObject* object) const;
  void InsertChild(Node* parent, CFoundObject* object);

  CVolume* volume_ = nullptr;
  CCatalogWatch watch_;
  std::function<bool(const CFoundObject*)> shows_;
  Node top_;  // invisible; its one child is the volume
};
