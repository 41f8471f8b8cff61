#include "engine/catalog/found_object_tree.h"

#include <algorithm>
#include <atomic>
#include <array>
#include <mutex>
#include <new>
#include <unordered_set>

#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "services/app.h"
#include "services/format.h"
#include "services/log.h"
#include "services/strings.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

// Identity -> first and last entry of the chain of entries with that key.
// Open addressing with linear probing: 16 bytes a slot, no node per key, so a
// catalog of millions of objects stays small. Keys are never removed; a chain
// may become empty.
class ChainHeads {
public:
  struct Chain {
    uint32_t head = kNone;
    uint32_t tail = kNone;
  };

  Chain* Find(int64_t key) {
    if (key == kEmptyKey) return haveEmptyKey_ ? &emptyKeyChain_ : nullptr;
    if (slots_.empty()) return nullptr;
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.key == key) return &s.chain;
      if (s.key == kEmptyKey) return nullptr;
    }
  }
  const Chain* Find(int64_t key) const { return const_cast<ChainHeads*>(this)->Find(key); }

  Chain& Get(int64_t key) {
    if (key == kEmptyKey) {
      haveEmptyKey_ = true;
      return emptyKeyChain_;
    }
    if ((used_ + 1) * 4 > slots_.size() * 3) Grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.key == key) return s.chain;
      if (s.key == kEmptyKey) {
        s.key = key;
        ++used_;
        return s.chain;
      }
    }
  }

  void Clear() {
    std::vector<Slot>().swap(slots_);
    used_ = 0;
    haveEmptyKey_ = false;
    emptyKeyChain_ = Chain();
  }
  size_t MemoryBytes() const { return slots_.capacity() * sizeof(Slot); }

private:
  static constexpr int64_t kEmptyKey = INT64_MIN;
  struct Slot {
    int64_t key = kEmptyKey;
    Chain chain;
  };
  static size_t Hash(int64_t key) {
    uint64_t x = static_cast<uint64_t>(key) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return static_cast<size_t>(x ^ (x >> 31));
  }
  void Grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot());
    used_ = 0;
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.key == kEmptyKey) continue;
      size_t i = Hash(s.key) & mask;
      while (slots_[i].key != kEmptyKey) i = (i + 1) & mask;
      slots_[i] = s;
      ++used_;
    }
  }

  std::vector<Slot> slots_;
  size_t used_ = 0;
  bool haveEmptyKey_ = false;
  Chain emptyKeyChain_;
};

// Start offset -> object, ordered, equal offsets in insertion order. A sorted
// sequence cut into chunks: lookups are two binary searches, an insert moves
// at most one chunk, and an entry costs 16 bytes.
class OffsetIndex {
public:
  struct Item {
    uint64_t offset;
    CFoundObject* object;
  };
  struct Pos {
    size_t chunk;
    size_t index;
  };

  void Clear() { std::vector<std::vector<Item>>().swap(chunks_); }
  bool Empty() const { return chunks_.empty(); }

  // Fills from items already sorted by offset.
  void Build(const std::vector<Item>& sorted) {
    Clear();
    for (size_t i = 0; i < sorted.size(); i += kFill) {
      const size_t n = std::min(kFill, sorted.size() - i);
      chunks_.emplace_back(sorted.begin() + i, sorted.begin() + i + n);
    }
  }

  Pos End() const { return {chunks_.size(), 0}; }
  bool IsEnd(Pos p) const { return p.chunk >= chunks_.size(); }
  const Item& At(Pos p) const { return chunks_[p.chunk][p.index]; }
  Pos Next(Pos p) const {
    if (++p.index >= chunks_[p.chunk].size()) return {p.chunk + 1, 0};
    return p;
  }
  // False at the first item.
  bool Prev(Pos& p) const {
    if (p.index > 0) {
      --p.index;
      return true;
    }
    if (p.chunk == 0) return false;
    --p.chunk;
    p.index = chunks_[p.chunk].size() - 1;
    return true;
  }

  // First item with offset >= key.
  Pos LowerBound(uint64_t key) const {
    auto c = std::partition_point(chunks_.begin(), chunks_.end(),
                                  [key](const std::vector<Item>& v) { return v.back().offset < key; });
    if (c == chunks_.end()) return End();
    auto i = std::partition_point(c->begin(), c->end(), [key](const Item& it) { return it.offset < key; });
    return {static_cast<size_t>(c - chunks_.begin()), static_cast<size_t>(i - c->begin())};
  }
  // First item with offset > key.
  Pos UpperBound(uint64_t key) const {
    auto c = std::partition_point(chunks_.begin(), chunks_.end(),
                                  [key](const std::vector<Item>& v) { return v.back().offset <= key; });
    if (c == chunks_.end()) return End();
    auto i = std::partition_point(c->begin(), c->end(), [key](const Item& it) { return it.offset <= key; });
    return {static_cast<size_t>(c - chunks_.begin()), static_cast<size_t>(i - c->begin())};
  }

  // Inserts after every item of the same offset; returns where it went.
  Pos Insert(Item item) {
    if (chunks_.empty()) {
      chunks_.emplace_back();
      chunks_.back().reserve(kFill);
      chunks_.back().push_back(item);
      return {0, 0};
    }
    Pos p = UpperBound(item.offset);
    if (IsEnd(p)) p = {chunks_.size() - 1, chunks_.back().size()};
    std::vector<Item>& chunk = chunks_[p.chunk];
    chunk.insert(chunk.begin() + static_cast<ptrdiff_t>(p.index), item);
    if (chunk.size() > kMax) {
      std::vector<Item> upper(chunk.begin() + static_cast<ptrdiff_t>(kFill), chunk.end());
      chunk.resize(kFill);
      chunk.shrink_to_fit();
      chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(p.chunk) + 1, std::move(upper));
      if (p.index >= kFill) p = {p.chunk + 1, p.index - kFill};
    }
    return p;
  }

  // Removes the entry of `object` at `offset`; false when there is none.
  bool Erase(uint64_t offset, const CFoundObject* object) {
    for (Pos p = LowerBound(offset); !IsEnd(p) && At(p).offset == offset; p = Next(p)) {
      if (At(p).object != object) continue;
      std::vector<Item>& chunk = chunks_[p.chunk];
      chunk.erase(chunk.begin() + static_cast<ptrdiff_t>(p.index));
      if (chunk.empty()) chunks_.erase(chunks_.begin() + static_cast<ptrdiff_t>(p.chunk));
      return true;
    }
    return false;
  }

  size_t MemoryBytes() const {
    size_t n = chunks_.capacity() * sizeof(std::vector<Item>);
    for (const auto& c : chunks_) n += c.capacity() * sizeof(Item);
    return n;
  }

private:
  static constexpr size_t kFill = 512;
  static constexpr size_t kMax = 1024;
  std::vector<std::vector<Item>> chunks_;
};

// Remembers the objects a walk has passed, to end it at a loop. Walks are
// short (the depth of a folder tree), so a plain list serves until it grows.
class VisitGuard {
public:
  // False when `object` was visited before.
  bool Visit(const CFoundObject* object) {
    if (set_.empty()) {
      if (std::find(list_.begin(), list_.end(), object) != list_.end()) return false;
      list_.push_back(object);
      if (list_.size() > 64) set_.insert(list_.begin(), list_.end());
      return true;
    }
    return set_.insert(object).second;
  }

private:
  std::vector<const CFoundObject*> list_;
  std::unordered_set<const CFoundObject*> set_;
};

// Notifications gathered under the lock and posted after it is released, so
// a front end that answers at once (and calls back into the catalog) cannot
// deadlock.
struct PendingPosts {
  std::array<std::pair<CFoundObject*, intptr_t>, 4> items{};
  size_t count = 0;
  void Add(CFoundObject* object, intptr_t code) {
    if (count < items.size()) items[count++] = {object, code};
  }
  ~PendingPosts() {
    if (count == 0) return;
    IMessageTarget* target = theApp().MainWindow.load();
    if (!target) return;
    for (size_t i = 0; i < count; ++i)
      target->PostMessage(WM_FOUND_OBJECT, reinterpret_cast<uintptr_t>(items[i].first), items[i].second);
  }
};

}  // namespace

struct CFoundObjectTree::Impl {
  CVolume* volume = nullptr;
  mutable std::mutex mutex;
  std::atomic<uint64_t> generation{0};

  std::vector<CFoundObject*> owned;
  // Group folders of "Lost files": indexed but not in the owned array (the
  // search does not list them); freed at Clear.
  std::vector<std::unique_ptr<CFoundObject>> groupFolders;

  // One entry per Insert; the identity and parent chains link entries by
  // index. A cursor is the index of the entry last returned.
  std::vector<CFoundObject*> entryObject;
  std::vector<uint32_t> nextById;
  std::vector<uint32_t> nextByParent;
  std::vector<uint32_t> prevByParent;
  std::vector<int64_t> entryParentKey;  // the key the entry is filed under in the parent index
  ChainHeads byId;
  ChainHeads byParent;
  OffsetIndex byOffset;
  bool indexing = false;

  CFoundObject root, lostFragments, lostFiles;

  bool IsKept(const CFoundObject* o) const {
    return o == &root || o == &lostFragments || o == &lostFiles ||
           (volume && o == static_cast<const CFoundObject*>(volume));
  }

  int64_t VolumeId() const { return volume ? volume->ObjectID : 0; }

  void MakeSynthetic() {
    root.Initialize();
    root.SetName("Filesystem");
    root.Flags |= FOF_FOLDER;
    root.ObjectID = ROOT_ID;
    root.ParentID = VolumeId();
    root.Volume = volume;
    lostFragments.Initialize();
    lostFragments.SetName(GetString(4301));
    lostFragments.Flags |= FOF_DELETED | FOF_FOLDER | FOF_HAS_DELETED;
    lostFragments.ObjectID = LOST_FRAGMENTS_ID;
    lostFragments.ParentID = VolumeId();
    lostFragments.Volume = volume;
    lostFiles.Initialize();
    lostFiles.SetName(GetString(5200));
    lostFiles.Flags |= FOF_DELETED | FOF_FOLDER | FOF_HAS_DELETED;
    lostFiles.ObjectID = LOST_FILES_ID;
    lostFiles.ParentID = VolumeId();
    lostFiles.Volume = volume;
  }

  // --- Index primitives (the caller holds the mutex) ---

  void LinkParent(uint32_t e, int64_t key) {
    ChainHeads::Chain& c = byParent.Get(key);
    entryParentKey[e] = key;
    nextByParent[e] = kNone;
    prevByParent[e] = c.tail;
    if (c.tail == kNone)
      c.head = e;
    else
      nextByParent[c.tail] = e;
    c.tail = e;
  }

  void UnlinkParent(uint32_t e) {
    ChainHeads::Chain* c = byParent.Find(entryParentKey[e]);
    if (!c) return;
    const uint32_t prev = prevByParent[e], next = nextByParent[e];
    if (prev == kNone) {
      if (c->head != e) return;  // not linked
      c->head = next;
    } else {
      nextByParent[prev] = next;
    }
    if (next == kNone)
      c->tail = prev;
    else
      prevByParent[next] = prev;
    nextByParent[e] = prevByParent[e] = kNone;
  }

  void InsertLocked(CFoundObject* object, bool own) {
    if (!object) return;
    if (entryObject.size() >= kNone - 1) return;  // the entry numbers are 32-bit
    if (own) owned.push_back(object);
    const auto e = static_cast<uint32_t>(entryObject.size());
    entryObject.push_back(object);
    nextById.push_back(kNone);
    nextByParent.push_back(kNone);
    prevByParent.push_back(kNone);
    entryParentKey.push_back(object->ParentID);
    ChainHeads::Chain& c = byId.Get(object->ObjectID);
    if (c.tail == kNone)
      c.head = e;
    else
      nextById[c.tail] = e;
    c.tail = e;
    LinkParent(e, object->ParentID);
    if (indexing) AddToOffsetIndex(object);
  }

  // Files the object by its start and bounds the signature-found objects
  // around it, so that none of them reaches past the start of the next;
  // those whose content told their size keep it (what starts inside them is
  // part of them, such as a thumbnail or a movie's index).
  void AddToOffsetIndex(CFoundObject* object) {
    const uint64_t start = object->StartOffset;
    const OffsetIndex::Pos at = byOffset.Insert({start, object});
    if ((object->Flags & FOF_SIGNATURE) && !(object->Flags & FOF_SIZED)) {
      for (OffsetIndex::Pos p = byOffset.Next(at); !byOffset.IsEnd(p); p = byOffset.Next(p)) {
        const uint64_t next = byOffset.At(p).offset;
        if (next == start) continue;
        const uint64_t distance = next - start;
        if (!object->SizeKnown() || object->Size > distance) object->Size = distance;
        break;
      }
    }
    OffsetIndex::Pos p = at;
    uint64_t previousStart = 0;
    bool found = false;
    while (byOffset.Prev(p)) {
      const OffsetIndex::Item& item = byOffset.At(p);
      if (item.offset == start) continue;
      if (found && item.offset != previousStart) break;
      found = true;
      previousStart = item.offset;
      CFoundObject* previous = item.object;
      if ((previous->Flags & FOF_SIGNATURE) && !(previous->Flags & FOF_SIZED)) {
        const uint64_t distance = start - item.offset;
        if (!previous->SizeKnown() || previous->Size > distance) previous->Size = distance;
      }
    }
  }

  CFoundObject* FindByIdLocked(int64_t id, int64_t& cursor) const {
    uint32_t e;
    if (cursor == -1) {
      const ChainHeads::Chain* c = byId.Find(id);
      e = c ? c->head : kNone;
    } else {
      if (cursor < 0 || static_cast<uint64_t>(cursor) >= nextById.size()) return nullptr;
      e = nextById[static_cast<size_t>(cursor)];
    }
    if (e == kNone) return nullptr;
    cursor = e;
    return entryObject[e];
  }

  CFoundObject* FindByParentLocked(int64_t id, int64_t& cursor) const {
    uint32_t e;
    if (cursor == -1) {
      const ChainHeads::Chain* c = byParent.Find(id);
      e = c ? c->head : kNone;
    } else {
      if (cursor < 0 || static_cast<uint64_t>(cursor) >= nextByParent.size()) return nullptr;
      e = nextByParent[static_cast<size_t>(cursor)];
    }
    if (e == kNone) return nullptr;
    cursor = e;
    return entryObject[e];
  }

  CFoundObject* FirstById(int64_t id) const {
    int64_t cursor = -1;
    return FindByIdLocked(id, cursor);
  }

  // The folder an identity names: the first folder among the objects with
  // that identity (a deleted file may share the first cluster of a folder),
  // else the first object.
  CFoundObject* ParentOf(int64_t id) const {
    int64_t cursor = -1;
    CFoundObject* first = nullptr;
    while (CFoundObject* o = FindByIdLocked(id, cursor)) {
      if (o->IsFolder()) return o;
      if (!first) first = o;
    }
    return first;
  }

  bool IsRoot(const CFoundObject* o) const { return o == &root || o->ObjectID == root.ObjectID; }

  CFoundObject* MakeLostFolderLocked(const CFoundObject& object, PendingPosts& posts) {
    auto folder = std::make_unique<CFoundObject>();
    folder->Flags = FOF_LOST_FOLDER | FOF_HAS_DELETED | FOF_FOLDER | FOF_DELETED;
    folder->ObjectID = object.ParentID;
    folder->ParentID = LOST_FRAGMENTS_ID;
    folder->Volume = volume;
    folder->SetName(qm::Format(GetString(5300), static_cast<int32_t>(object.ParentID)));
    CFoundObject* raw = folder.release();
    InsertLocked(raw, true);
    posts.Add(raw, FOUND_PLACEHOLDER_CREATED);
    return raw;
  }

  CFoundObject* GroupFolderLocked(const CFoundObject& object) {
    const CFileSignatureDatabase& db = theComputer().Signatures();
    const CFileType* type = object.FileType ? db.FindById(object.FileType) : nullptr;
    if (!type || type->GroupId == 0) return nullptr;
    const int64_t group = type->GroupId;
    int64_t cursor = -1;
    while (CFoundObject* o = FindByIdLocked(group, cursor))
      if (o->IsFolder() && o->ParentID == LOST_FILES_ID) return o;
    std::string title;
    if (const CFileTypeGroup* g = db.FindGroup(group))
      title = g->Title;
    else
      title = type->Group;
    if (title.empty()) title = "Unknown";
    auto folder = std::make_unique<CFoundObject>();
    folder->Flags = FOF_FOLDER | FOF_HAS_DELETED;
    folder->ObjectID = group;
    folder->ParentID = LOST_FILES_ID;
    folder->Volume = volume;
    folder->SetName(title);
    CFoundObject* raw = folder.get();
    groupFolders.push_back(std::move(folder));
    InsertLocked(raw, false);
    return raw;
  }

  void ClearLocked() {
    std::vector<CFoundObject*> doomed;
    doomed.swap(owned);
    std::sort(doomed.begin(), doomed.end());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    for (CFoundObject* o : doomed)
      if (!IsKept(o)) delete o;
    groupFolders.clear();
    std::vector<CFoundObject*>().swap(entryObject);
    std::vector<uint32_t>().swap(nextById);
    std::vector<uint32_t>().swap(nextByParent);
    std::vector<uint32_t>().swap(prevByParent);
    std::vector<int64_t>().swap(entryParentKey);
    byId.Clear();
    byParent.Clear();
    byOffset.Clear();
    indexing = false;
  }
};

CFoundObjectTree::CFoundObjectTree(CVolume* volume) : impl_(std::make_unique<Impl>()) {
  impl_->volume = volume;
  impl_->MakeSynthetic();
}

CFoundObjectTree::~CFoundObjectTree() {
  std::lock_guard lock(impl_->mutex);
  impl_->ClearLocked();
}

CFoundObject* CFoundObjectTree::AddObject(const CFoundObject& record) {
  std::unique_ptr<CFoundObject> copy;
  try {
    copy = std::make_unique<CFoundObject>(record);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (impl_->volume) copy->Volume = impl_->volume;
  try {
    if (const CFileType* type = theComputer().Signatures().FindTypeForObject(*copy))
      copy->FileType = static_cast<int16_t>(type->Id);
  } catch (...) {
  }

  PendingPosts posts;
  std::lock_guard lock(impl_->mutex);
  Impl& m = *impl_;
  try {
    // A placeholder waiting for this folder.
    CFoundObject* placeholder = nullptr;
    uint32_t placeholderEntry = kNone;
    if (copy->IsFolder()) {
      int64_t cursor = -1;
      while (CFoundObject* o = m.FindByIdLocked(copy->ObjectID, cursor)) {
        if (o->ParentID == LOST_FRAGMENTS_ID && (o->Flags & FOF_LOST_FOLDER)) {
          placeholder = o;
          placeholderEntry = static_cast<uint32_t>(cursor);
          m.UnlinkParent(placeholderEntry);
          posts.Add(o, FOUND_PLACEHOLDER_TAKEN_OVER);
          break;
        }
      }
    }

    // Its parent, or a placeholder for it.
    bool haveParent = false;
    {
      int64_t cursor = -1;
      while (CFoundObject* o = m.FindByIdLocked(copy->ParentID, cursor))
        if (o->IsFolder()) {
          haveParent = true;
          break;
        }
    }
    if (!haveParent && copy->ParentID != 0 && copy->ObjectID != 0 && copy->ObjectID != m.root.ObjectID &&
        copy->ParentID != m.root.ObjectID && copy->ParentID != copy->ObjectID)
      m.MakeLostFolderLocked(*copy, posts);

    CFoundObject* result;
    if (placeholder) {
      // The folder takes the placeholder's place: same object, so the view's
      // node and the children filed under the identity stay where they are.
      const intptr_t treeItem = placeholder->TreeItem;
      const uint64_t oldStart = placeholder->StartOffset;
      *placeholder = *copy;
      placeholder->TreeItem = treeItem;
      m.LinkParent(placeholderEntry, placeholder->ParentID);
      if (m.indexing && m.byOffset.Erase(oldStart, placeholder)) m.AddToOffsetIndex(placeholder);
      result = placeholder;
    } else {
      result = copy.release();
      m.InsertLocked(result, true);
    }
    posts.Add(result, FOUND_OBJECT_ADDED);
    return result;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFoundObject* CFoundObjectTree::AddLostFile(std::unique_ptr<CFoundObject> object, LostFileResult* result) {
  LostFileResult dummy;
  LostFileResult& outcome = result ? *result : dummy;
  outcome = LostFileResult::NotKept;
  if (!object) return nullptr;
  const CFileSignatureDatabase& db = theComputer().Signatures();
  const CFileType* type = nullptr;
  try {
    type = object->FileType ? db.FindById(object->FileType) : nullptr;
    if (!type) type = db.FindTypeForObject(*object);
  } catch (...) {
    type = nullptr;
  }

  PendingPosts posts;
  std::lock_guard lock(impl_->mutex);
  Impl& m = *impl_;
  try {
    // A file of the file system that starts here: the signature confirms it.
    if (m.indexing) {
      for (OffsetIndex::Pos p = m.byOffset.LowerBound(object->StartOffset);
           !m.byOffset.IsEnd(p) && m.byOffset.At(p).offset == object->StartOffset; p = m.byOffset.Next(p)) {
        CFoundObject* existing = m.byOffset.At(p).object;
        // Folders, empty files, the volume's own record and the boot object
        // hold no file data that a signature could confirm.
        if (existing->IsFolder() || existing->Size == 0 || IsSyntheticIdentity(existing->ObjectID) || m.IsKept(existing)) continue;
        existing->Flags |= FOF_CONFIRMED;
        if (type) existing->FileType = static_cast<int16_t>(type->Id);
        posts.Add(existing, FOUND_TYPE_SET);
        outcome = LostFileResult::Merged;
        return existing;
      }
    }

    if (type) {
      if (type->SearchEnable == 0) return nullptr;
      object->ParentID = type->GroupId != 0 ? type->GroupId : LOST_FILES_ID;
    } else {
      object->ParentID = LOST_FILES_ID;
    }
    object->Volume = m.volume;
    object->MakeLostFileName();
    object->Flags |= FOF_CONFIRMED;
    CFoundObject* raw = object.release();
    m.InsertLocked(raw, true);
    m.GroupFolderLocked(*raw);
    if (m.volume) ++m.volume->ScanFilesFound;
    posts.Add(raw, FOUND_LOST_FILE_ADDED);
    outcome = LostFileResult::Added;
    return raw;
  } catch (const std::bad_alloc&) {
    outcome = LostFileResult::NotKept;
    return nullptr;
  }
}

void CFoundObjectTree::Insert(CFoundObject* object, bool owned) {
  std::lock_guard lock(impl_->mutex);
  try {
    impl_->InsertLocked(object, owned);
  } catch (const std::bad_alloc&) {
  }
}

CFoundObject* CFoundObjectTree::FindByID(int64_t id, int64_t& cursor) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->FindByIdLocked(id, cursor);
}

CFoundObject* CFoundObjectTree::FindByParent(int64_t id, int64_t& cursor) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->FindByParentLocked(id, cursor);
}

void CFoundObjectTree::GetChildren(int64_t id, std::vector<CFoundObject*>& list) const {
  std::lock_guard lock(impl_->mutex);
  int64_t cursor = -1;
  while (CFoundObject* o = impl_->FindByParentLocked(id, cursor)) list.push_back(o);
}

CFoundObject* CFoundObjectTree::FindByOffset(uint64_t offset) const {
  std::lock_guard lock(impl_->mutex);
  const OffsetIndex& index = impl_->byOffset;
  const OffsetIndex::Pos p = index.LowerBound(offset);
  if (index.IsEnd(p) || index.At(p).offset != offset) return nullptr;
  return index.At(p).object;
}

CFoundObject* CFoundObjectTree::FindNext(uint64_t offset) const {
  std::lock_guard lock(impl_->mutex);
  const OffsetIndex& index = impl_->byOffset;
  OffsetIndex::Pos p = index.LowerBound(offset);
  if (index.IsEnd(p) || index.At(p).offset != offset) return nullptr;
  while (!index.IsEnd(p) && index.At(p).offset == offset) p = index.Next(p);
  return index.IsEnd(p) ? nullptr : index.At(p).object;
}

CFoundObject* CFoundObjectTree::FindNextSameType(const CFoundObject* object) const {
  if (!object) return nullptr;
  std::lock_guard lock(impl_->mutex);
  const OffsetIndex& index = impl_->byOffset;
  const uint64_t offset = object->StartOffset;
  OffsetIndex::Pos p = index.LowerBound(offset);
  if (index.IsEnd(p) || index.At(p).offset != offset) return nullptr;
  while (!index.IsEnd(p) && index.At(p).offset == offset) p = index.Next(p);
  for (; !index.IsEnd(p); p = index.Next(p))
    if (index.At(p).object->FileType == object->FileType) return index.At(p).object;
  return nullptr;
}

void CFoundObjectTree::MarkDeletedPath(CFoundObject* object) {
  if (!object) return;
  std::lock_guard lock(impl_->mutex);
  Impl& m = *impl_;
  if (object->IsFolder()) object->Flags |= FOF_HAS_DELETED;
  VisitGuard guard;
  guard.Visit(object);
  const CFoundObject* current = object;
  while (CFoundObject* parent = m.ParentOf(current->ParentID)) {
    if (!parent->IsFolder() || !guard.Visit(parent)) break;
    if (!parent->HasDeleted())
      parent->Flags |= FOF_HAS_DELETED;
    else if (m.IsRoot(parent))
      break;
    current = parent;
  }
}

void CFoundObjectTree::ReIndex() {
  std::lock_guard lock(impl_->mutex);
  Impl& m = *impl_;
  m.indexing = true;
  try {
    // Offset order; among equal offsets, identity order and then the order
    // of insertion.
    std::vector<uint32_t> order(m.entryObject.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&m](uint32_t a, uint32_t b) {
      const CFoundObject* x = m.entryObject[a];
      const CFoundObject* y = m.entryObject[b];
      if (x->StartOffset != y->StartOffset) return x->StartOffset < y->StartOffset;
      return x->ObjectID < y->ObjectID;
    });
    std::vector<OffsetIndex::Item> items;
    items.reserve(order.size());
    for (uint32_t e : order) items.push_back({m.entryObject[e]->StartOffset, m.entryObject[e]});
    m.byOffset.Build(items);
  } catch (const std::bad_alloc&) {
    m.byOffset.Clear();
  }
}

void CFoundObjectTree::Clear(CVolume* volume) {
  std::lock_guard lock(impl_->mutex);
  // Counted before anything is freed.
  impl_->generation.fetch_add(1);
  if (volume) impl_->volume = volume;
  impl_->ClearLocked();
  // The synthetic folders stay; they hang under the volume's own node.
  const int64_t volumeId = impl_->VolumeId();
  impl_->root.ParentID = volumeId;
  impl_->lostFragments.ParentID = volumeId;
  impl_->lostFiles.ParentID = volumeId;
  impl_->root.Volume = impl_->lostFragments.Volume = impl_->lostFiles.Volume = impl_->volume;
}

std::string CFoundObjectTree::GetFullPath(const CFoundObject* object) const {
  if (!object) return {};
  std::lock_guard lock(impl_->mutex);
  const Impl& m = *impl_;
  const CVolume* volume = m.volume;
  const std::string prefix =
      volume && volume->DriveCharacter ? std::string(1, volume->DriveCharacter) + ":/" : std::string("/");
  // The root itself (a file may share the root's identity: FAT files
  // without a cluster carry 0, so only a folder counts).
  if (object == &m.root || (object->IsFolder() && object->ObjectID == m.root.ObjectID)) return prefix;

  std::vector<const std::string*> names;  // bottom up
  bool reachedRoot = false;
  VisitGuard guard;
  guard.Visit(object);
  const CFoundObject* current = object;
  // The two folders of things outside the file system's tree are not in the
  // indexes; their names still head the paths of what lies in them.
  auto outsideFolder = [&m](int64_t id) -> const CFoundObject* {
    if (id == LOST_FILES_ID) return &m.lostFiles;
    if (id == LOST_FRAGMENTS_ID) return &m.lostFragments;
    return nullptr;
  };
  for (;;) {
    const CFoundObject* parent = m.ParentOf(current->ParentID);
    if (!parent) parent = outsideFolder(current->ParentID);
    if (!parent) {
      // A catalog whose root record is not filed still has its root.
      reachedRoot = current->ParentID == m.root.ObjectID;
      break;
    }
    if (!guard.Visit(parent)) break;
    if (m.IsRoot(parent) || parent->ParentID == parent->ObjectID) {
      reachedRoot = true;
      break;
    }
    if (parent == &m.lostFiles || parent == &m.lostFragments) {
      names.push_back(&parent->Name);
      break;
    }
    // Other synthetic records (volumes, the views' nodes) end the path; the
    // group folders of "Lost files" are part of it.
    const bool groupFolder = parent->IsFolder() && parent->ParentID == LOST_FILES_ID;
    if (IsSyntheticIdentity(parent->ObjectID) && !groupFolder) break;
    names.push_back(&parent->Name);
    current = parent;
  }
  std::string path = reachedRoot ? prefix : std::string();
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += **it;
    path += '/';
  }
  return path;
}

uint64_t CFoundObjectTree::Generation() const { return impl_->generation.load(); }

std::string CFoundObjectTree::GetTypeName(const CFoundObject* object) const {
  if (!object) return {};
  if (object->IsFolder()) return GetString(57118);
  const std::string& name = object->Name;
  const size_t dot = name.find_last_of('.');
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  return qm::GetTypeNameForExtension(extension);
}

const std::vector<CFoundObject*>& CFoundObjectTree::Objects() const { return impl_->owned; }

std::vector<CFoundObject*> CFoundObjectTree::CopyObjects() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->owned;
}

size_t CFoundObjectTree::ObjectCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->owned.size();
}

bool CFoundObjectTree::Indexing() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->indexing;
}

CFoundObject* CFoundObjectTree::MakeLostFolder(const CFoundObject& object) {
  PendingPosts posts;
  std::lock_guard lock(impl_->mutex);
  try {
    return impl_->MakeLostFolderLocked(object, posts);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFoundObject* CFoundObjectTree::GetGroupFolder(const CFoundObject& object) {
  std::lock_guard lock(impl_->mutex);
  try {
    return impl_->GroupFolderLocked(object);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFoundObject& CFoundObjectTree::Root() { return impl_->root; }
CFoundObject& CFoundObjectTree::LostFragments() {
  impl_->lostFragments.ParentID = impl_->VolumeId();
  return impl_->lostFragments;
}
CFoundObject& CFoundObjectTree::LostFiles() {
  impl_->lostFiles.ParentID = impl_->VolumeId();
  return impl_->lostFiles;
}
CVolume* CFoundObjectTree::Volume() const { return impl_->volume; }
