// Placeholder bodies; the catalog implements these fully.
#include "engine/catalog/found_object_tree.h"

struct CFoundObjectTree::Impl {
  CVolume* volume = nullptr;
  std::vector<CFoundObject*> owned;
  CFoundObject root, lostFragments, lostFiles;
};

CFoundObjectTree::CFoundObjectTree(CVolume* volume) : impl_(std::make_unique<Impl>()) { impl_->volume = volume; }
CFoundObjectTree::~CFoundObjectTree() { Clear(nullptr); }
CFoundObject* CFoundObjectTree::AddObject(const CFoundObject& record) {
  auto* o = new CFoundObject(record);
  impl_->owned.push_back(o);
  return o;
}
CFoundObject* CFoundObjectTree::AddLostFile(std::unique_ptr<CFoundObject>) { return nullptr; }
void CFoundObjectTree::Insert(CFoundObject*, bool) {}
CFoundObject* CFoundObjectTree::FindByID(int64_t, int64_t&) const { return nullptr; }
CFoundObject* CFoundObjectTree::FindByParent(int64_t, int64_t&) const { return nullptr; }
void CFoundObjectTree::GetChildren(int64_t, std::vector<CFoundObject*>&) const {}
CFoundObject* CFoundObjectTree::FindByOffset(uint64_t) const { return nullptr; }
CFoundObject* CFoundObjectTree::FindNext(uint64_t) const { return nullptr; }
CFoundObject* CFoundObjectTree::FindNextSameType(const CFoundObject*) const { return nullptr; }
void CFoundObjectTree::MarkDeletedPath(CFoundObject*) {}
void CFoundObjectTree::ReIndex() {}
void CFoundObjectTree::Clear(CVolume* volume) {
  if (volume) impl_->volume = volume;
  for (auto* o : impl_->owned) delete o;
  impl_->owned.clear();
}
std::string CFoundObjectTree::GetFullPath(const CFoundObject*) const { return "/"; }
std::string CFoundObjectTree::GetTypeName(const CFoundObject*) const { return {}; }
const std::vector<CFoundObject*>& CFoundObjectTree::Objects() const { return impl_->owned; }
CFoundObject& CFoundObjectTree::Root() { return impl_->root; }
CFoundObject& CFoundObjectTree::LostFragments() { return impl_->lostFragments; }
CFoundObject& CFoundObjectTree::LostFiles() { return impl_->lostFiles; }
CVolume* CFoundObjectTree::Volume() const { return impl_->volume; }
