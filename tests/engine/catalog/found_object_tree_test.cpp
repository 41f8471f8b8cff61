#include <atomic>
#include <thread>

#include "engine/scanner/file_signature_database.h"
#include "tests/engine/catalog/catalog_fixture.h"

using cattest::CatalogTest;

namespace {

// Types for lost files, added once to the process's signature database.
const CFileType& PictureType() {
  static const CFileType& type = [] () -> const CFileType& {
    CFileType t;
    t.Id = 3101;
    t.Prefix = "picture";
    t.FileExtensions = "qjpg;qjpe";
    t.Group = "Catalog test pictures";
    t.Title = "Catalog test picture";
    return theComputer().Signatures().AddTypeForTest(t);
  }();
  return type;
}
const CFileType& SwitchedOffType() {
  static const CFileType& type = [] () -> const CFileType& {
    CFileType t;
    t.Id = 3102;
    t.Prefix = "off";
    t.FileExtensions = "qoff";
    t.SearchEnable = 0;
    return theComputer().Signatures().AddTypeForTest(t);
  }();
  return type;
}

std::vector<CFoundObject*> Children(CFoundObjectTree& c, int64_t id) {
  std::vector<CFoundObject*> list;
  c.GetChildren(id, list);
  return list;
}

}  // namespace

TEST_F(CatalogTest, SyntheticFoldersHangUnderTheVolume) {
  EXPECT_EQ(catalog().Root().Name, "Filesystem");
  EXPECT_EQ(catalog().Root().Flags & FOF_FOLDER, FOF_FOLDER);
  EXPECT_EQ(catalog().LostFragments().ObjectID, LOST_FRAGMENTS_ID);
  EXPECT_EQ(catalog().LostFragments().Name, "Filesystem (lost fragments)");
  EXPECT_EQ(catalog().LostFragments().Flags, 0x15 | FOF_NAMED | FOF_OWNS_NAME);
  EXPECT_EQ(catalog().LostFiles().ObjectID, LOST_FILES_ID);
  EXPECT_EQ(catalog().LostFiles().Name, "Lost files");
  EXPECT_EQ(catalog().LostFiles().ParentID, volume->ObjectID);
  EXPECT_EQ(catalog().Root().ParentID, volume->ObjectID);
}

TEST_F(CatalogTest, FileBeforeItsFolderWaitsInAPlaceholderThatTheFolderTakesOver) {
  StartFileSystem(2);
  CFoundObject* file = catalog().AddObject(Record(100, 50, "report.txt", 0, 4096, 10));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Volume, volume.get());

  int64_t cursor = -1;
  CFoundObject* placeholder = catalog().FindByID(50, cursor);
  ASSERT_NE(placeholder, nullptr);
  EXPECT_EQ(placeholder->Name, "lost_folder_50");
  EXPECT_EQ(placeholder->ParentID, LOST_FRAGMENTS_ID);
  EXPECT_EQ(placeholder->Flags & 0x215, 0x215);
  EXPECT_EQ(target.Count(FOUND_PLACEHOLDER_CREATED, placeholder), 1u);
  EXPECT_EQ(catalog().GetFullPath(file), "Filesystem (lost fragments)/lost_folder_50/");
  EXPECT_EQ(Children(catalog(), LOST_FRAGMENTS_ID), std::vector<CFoundObject*>{placeholder});
  placeholder->TreeItem = 77;  // the view made a node for it

  // A file that happens to share the identity does not take it over.
  CFoundObject* sameId = catalog().AddObject(Record(50, 2, "old.bin", FOF_DELETED, 8192, 5));
  ASSERT_NE(sameId, placeholder);
  EXPECT_EQ(placeholder->ParentID, LOST_FRAGMENTS_ID);

  // The folder arrives: it becomes the placeholder, in place.
  CFoundObject* folder = catalog().AddObject(Record(50, 2, "Docs", FOF_FOLDER));
  EXPECT_EQ(folder, placeholder);
  EXPECT_EQ(folder->Name, "Docs");
  EXPECT_EQ(folder->ParentID, 2);
  EXPECT_EQ(folder->Flags & FOF_LOST_FOLDER, 0);
  EXPECT_EQ(folder->TreeItem, 77);
  EXPECT_EQ(target.Count(FOUND_PLACEHOLDER_TAKEN_OVER, folder), 1u);
  EXPECT_EQ(target.Count(FOUND_OBJECT_ADDED, folder), 1u);
  EXPECT_TRUE(Children(catalog(), LOST_FRAGMENTS_ID).empty());
  auto rootChildren = Children(catalog(), 2);
  EXPECT_NE(std::find(rootChildren.begin(), rootChildren.end(), folder), rootChildren.end());
  // The file never moved, yet it now lies in the real folder.
  EXPECT_EQ(file->ParentID, 50);
  EXPECT_EQ(catalog().GetFullPath(file), "/Docs/");
  EXPECT_EQ(catalog().GetFullPath(folder), "/");
  EXPECT_EQ(catalog().GetFullPath(&catalog().Root()), "/");
}

TEST_F(CatalogTest, NoPlaceholderForChildrenOfTheRootOrOfAKnownFolder) {
  StartFileSystem(5);
  catalog().AddObject(Record(10, 5, "a", FOF_FOLDER));
  catalog().AddObject(Record(11, 10, "b.txt"));
  catalog().AddObject(Record(12, 0, "c.txt"));
  EXPECT_EQ(target.Count(FOUND_PLACEHOLDER_CREATED), 0u);
  EXPECT_TRUE(Children(catalog(), LOST_FRAGMENTS_ID).empty());
}

TEST_F(CatalogTest, EntriesSharingAnIdentityAreAllKeptInInsertionOrder) {
  StartFileSystem(2);
  CFoundObject* first = catalog().AddObject(Record(33, 2, "A.TXT", FOF_DELETED, 0x8000, 100));
  CFoundObject* second = catalog().AddObject(Record(33, 2, "B.TXT", FOF_DELETED, 0x8000, 200));
  ASSERT_NE(first, second);
  int64_t cursor = -1;
  EXPECT_EQ(catalog().FindByID(33, cursor), first);
  EXPECT_EQ(catalog().FindByID(33, cursor), second);
  EXPECT_EQ(catalog().FindByID(33, cursor), nullptr);
  cursor = -1;
  EXPECT_EQ(catalog().FindByID(34, cursor), nullptr);
  EXPECT_EQ(cursor, -1);
  // A stale or foreign cursor never reads out of bounds.
  cursor = 1 << 30;
  EXPECT_EQ(catalog().FindByID(33, cursor), nullptr);
  cursor = -1;
  int found = 0;
  while (catalog().FindByParent(2, cursor)) ++found;
  EXPECT_EQ(found, 2);
}

TEST_F(CatalogTest, LostFileAtTheStartOfAFileSystemFileConfirmsIt) {
  const CFileType& type = PictureType();
  StartFileSystem(2);
  CFoundObject* fsFile = catalog().AddObject(Record(40, 2, "holiday.dat", 0, 0x10000, 5000));
  CFoundObject* emptyFile = catalog().AddObject(Record(41, 2, "empty.dat", 0, 0x20000, 0));

  // Before ReIndex there is no offset index: nothing to merge with.
  LostFileResult result;
  CFoundObject* early = catalog().AddLostFile(ScanObject(0x30000, static_cast<int16_t>(type.Id)), &result);
  EXPECT_EQ(result, LostFileResult::Added);
  ASSERT_NE(early, nullptr);

  catalog().ReIndex();
  const size_t count = catalog().ObjectCount();
  CFoundObject* merged = catalog().AddLostFile(ScanObject(0x10000, static_cast<int16_t>(type.Id)), &result);
  EXPECT_EQ(result, LostFileResult::Merged);
  EXPECT_EQ(merged, fsFile);
  EXPECT_TRUE(fsFile->Flags & FOF_CONFIRMED);
  EXPECT_EQ(fsFile->FileType, type.Id);
  EXPECT_EQ(catalog().ObjectCount(), count);
  EXPECT_EQ(target.Count(FOUND_TYPE_SET, fsFile), 1u);

  // An empty file (or the volume's own record at 0) holds no data to confirm.
  CFoundObject* kept = catalog().AddLostFile(ScanObject(0x20000, static_cast<int16_t>(type.Id)), &result);
  EXPECT_EQ(result, LostFileResult::Added);
  EXPECT_NE(kept, emptyFile);
  catalog().AddLostFile(ScanObject(0, static_cast<int16_t>(type.Id)), &result);
  EXPECT_EQ(result, LostFileResult::Added);
  EXPECT_EQ(volume->Flags & FOF_CONFIRMED, 0);
}

TEST_F(CatalogTest, LostFilesAreNamedAndSortedIntoGroupFolders) {
  const CFileType& type = PictureType();
  StartFileSystem(2);
  catalog().ReIndex();
  const uint32_t before = volume->ScanFilesFound;
  LostFileResult result;
  CFoundObject* lost = catalog().AddLostFile(ScanObject(0x40000, static_cast<int16_t>(type.Id)), &result);
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(result, LostFileResult::Added);
  EXPECT_EQ(lost->Name, "picture_262144.qjpg");
  EXPECT_TRUE(lost->Flags & FOF_CONFIRMED);
  EXPECT_EQ(lost->ParentID, type.GroupId);
  EXPECT_EQ(volume->ScanFilesFound, before + 1);
  EXPECT_EQ(target.Count(FOUND_LOST_FILE_ADDED, lost), 1u);
  EXPECT_EQ(catalog().GetFullPath(lost), "Lost files/Catalog test pictures/");

  int64_t cursor = -1;
  CFoundObject* group = catalog().FindByID(type.GroupId, cursor);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->Name, "Catalog test pictures");
  EXPECT_EQ(group->ParentID, LOST_FILES_ID);
  EXPECT_EQ(group->Flags & 0x14, 0x14);
  // One folder per group, however many files it gets.
  catalog().AddLostFile(ScanObject(0x50000, static_cast<int16_t>(type.Id)));
  EXPECT_EQ(Children(catalog(), LOST_FILES_ID).size(), 1u);
  EXPECT_EQ(Children(catalog(), type.GroupId).size(), 2u);
  // Group folders are not owned objects: a search does not list them.
  for (CFoundObject* o : catalog().CopyObjects()) EXPECT_NE(o, group);

  // A type unknown to the database: "lost_file_%I64d" directly in "Lost files".
  CFoundObject* unknown = catalog().AddLostFile(ScanObject(0x60000, 29999));
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->Name, "lost_file_393216");
  EXPECT_EQ(unknown->ParentID, LOST_FILES_ID);
  EXPECT_EQ(catalog().GetFullPath(unknown), "Lost files/");

  // A type switched off for search is not kept.
  const CFileType& off = SwitchedOffType();
  CFoundObject* dropped = catalog().AddLostFile(ScanObject(0x70000, static_cast<int16_t>(off.Id)), &result);
  EXPECT_EQ(dropped, nullptr);
  EXPECT_EQ(result, LostFileResult::NotKept);
}

TEST_F(CatalogTest, SignatureObjectsAreBoundedByTheirNextNeighbour) {
  StartFileSystem(2);
  // Before ReIndex nothing is bounded.
  catalog().AddLostFile(ScanObject(0x1000, 29999));
  CFoundObject* fsFile = catalog().AddObject(Record(60, 2, "x.bin", 0, 0x3000, 100));
  int64_t cursor = -1;
  CFoundObject* a = catalog().FindByID(0, cursor);  // the lost file (identity 0)
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->SizeKnown());

  // ReIndex itself bounds nothing either.
  catalog().ReIndex();
  EXPECT_FALSE(a->SizeKnown());

  CFoundObject* b = catalog().AddLostFile(ScanObject(0x10000, 29999));
  ASSERT_NE(b, nullptr);
  CFoundObject* c = catalog().AddLostFile(ScanObject(0x10000 + 4096, 29999));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(b->Size, 4096u);
  EXPECT_FALSE(c->SizeKnown());  // nothing follows it
  // A third object in between shrinks the first again.
  CFoundObject* d = catalog().AddLostFile(ScanObject(0x10000 + 1024, 29999));
  EXPECT_EQ(b->Size, 1024u);
  EXPECT_EQ(d->Size, 3072u);
  // A file-system object bounds the signature object before it, and is
  // never bounded itself.
  catalog().AddObject(Record(61, 2, "y.bin", 0, 0x10000 + 2048, 100000));
  EXPECT_EQ(d->Size, 1024u);
  EXPECT_EQ(fsFile->Size, 100u);
  // An object at the same offset does not shrink it to nothing.
  catalog().AddObject(Record(62, 2, "z.bin", 0, 0x10000 + 1024, 10));
  EXPECT_EQ(d->Size, 1024u);
}

TEST_F(CatalogTest, NeighbourLookupsWorkOnlyAfterReIndex) {
  StartFileSystem(2);
  CFoundObject* a = catalog().AddObject(Record(70, 2, "a.qjpg", 0, 0x1000, 10));
  CFoundObject* b = catalog().AddObject(Record(71, 2, "b.txt", 0, 0x2000, 10));
  CFoundObject* c = catalog().AddObject(Record(72, 2, "c.qjpg", 0, 0x3000, 10));
  a->FileType = c->FileType = 3101;
  b->FileType = 7;
  EXPECT_EQ(catalog().FindByOffset(0x1000), nullptr);
  EXPECT_EQ(catalog().FindNext(0x1000), nullptr);
  EXPECT_EQ(catalog().FindNextSameType(a), nullptr);

  catalog().ReIndex();
  EXPECT_EQ(catalog().FindByOffset(0x1000), a);
  EXPECT_EQ(catalog().FindNext(0x1000), b);
  EXPECT_EQ(catalog().FindNext(0x2000), c);
  EXPECT_EQ(catalog().FindNext(0x3000), nullptr);
  EXPECT_EQ(catalog().FindNext(0x1800), nullptr);  // nothing starts there
  EXPECT_EQ(catalog().FindNextSameType(a), c);
  EXPECT_EQ(catalog().FindNextSameType(c), nullptr);
  // Objects added after ReIndex go straight into the offset index.
  CFoundObject* e = catalog().AddObject(Record(73, 2, "e.qjpg", 0, 0x1800, 10));
  e->FileType = 3101;
  EXPECT_EQ(catalog().FindNext(0x1000), e);
  EXPECT_EQ(catalog().FindNextSameType(a), e);
  // A second object at the same start is not "the next one".
  catalog().AddObject(Record(74, 2, "twin.bin", 0, 0x1000, 10));
  EXPECT_EQ(catalog().FindNext(0x1000), e);
  EXPECT_EQ(catalog().FindByOffset(0x1000), a);
}

TEST_F(CatalogTest, LoopInParentIdentitiesEndsTheWalks) {
  StartFileSystem(2);
  CFoundObject* a = catalog().AddObject(Record(200, 201, "A", FOF_FOLDER));
  CFoundObject* b = catalog().AddObject(Record(201, 200, "B", FOF_FOLDER));
  CFoundObject* self = catalog().AddObject(Record(202, 202, "Self", FOF_FOLDER));
  CFoundObject* file = catalog().AddObject(Record(300, 200, "f.txt", FOF_DELETED));
  // A's parent was missing when A arrived; B took the placeholder over.
  EXPECT_EQ(a->ParentID, 201);
  EXPECT_EQ(b->ParentID, 200);
  const std::string path = catalog().GetFullPath(file);
  EXPECT_EQ(path, "B/A/");
  EXPECT_EQ(catalog().GetFullPath(self), "");
  catalog().MarkDeletedPath(file);
  catalog().MarkDeletedPath(a);
  EXPECT_TRUE(a->HasDeleted());
  EXPECT_TRUE(b->HasDeleted());
  catalog().MarkDeletedPath(self);
  EXPECT_TRUE(self->HasDeleted());
}

TEST_F(CatalogTest, MarkDeletedPathFlagsEveryFolderUpToTheRoot) {
  StartFileSystem(2);
  CFoundObject* a = catalog().AddObject(Record(10, 2, "a", FOF_FOLDER));
  CFoundObject* b = catalog().AddObject(Record(11, 10, "b", FOF_FOLDER));
  CFoundObject* f = catalog().AddObject(Record(12, 11, "gone.txt", FOF_DELETED));
  CFoundObject* other = catalog().AddObject(Record(13, 2, "other", FOF_FOLDER));
  EXPECT_EQ(catalog().GetFullPath(f), "/a/b/");
  catalog().MarkDeletedPath(f);
  EXPECT_TRUE(b->HasDeleted());
  EXPECT_TRUE(a->HasDeleted());
  EXPECT_TRUE(catalog().Root().HasDeleted());
  EXPECT_FALSE(other->HasDeleted());
  EXPECT_FALSE(f->HasDeleted());  // a file gets no folder flag
  // The volume's record above the root is no folder and stays untouched.
  EXPECT_EQ(volume->Flags & FOF_HAS_DELETED, 0);
}

TEST_F(CatalogTest, ClearFreesWhatWasTakenInAndKeepsTheFixedRecords) {
  StartFileSystem(2);
  catalog().AddObject(Record(10, 99, "x.txt"));  // with a placeholder
  catalog().ReIndex();
  catalog().AddLostFile(ScanObject(0x9000, 3101));
  EXPECT_GT(catalog().ObjectCount(), 3u);
  const uint64_t generation = catalog().Generation();
  catalog().Clear(nullptr);
  EXPECT_EQ(catalog().ObjectCount(), 0u);
  // Holders of old pointers can tell.
  EXPECT_EQ(catalog().Generation(), generation + 1);
  EXPECT_FALSE(catalog().Indexing());
  int64_t cursor = -1;
  EXPECT_EQ(catalog().FindByID(10, cursor), nullptr);
  EXPECT_EQ(catalog().FindByOffset(0x9000), nullptr);
  EXPECT_EQ(catalog().Root().Name, "Filesystem");
  EXPECT_EQ(catalog().Volume(), volume.get());
  // The volume record survived (it was inserted as owned).
  EXPECT_EQ(volume->ObjectID, volume->ObjectID);
  StartFileSystem(2);
  EXPECT_EQ(catalog().ObjectCount(), 2u);
}

TEST_F(CatalogTest, TypeNamesAndObjectHelpers) {
  PictureType();  // the database must know .qjpg even when this test runs alone
  StartFileSystem(2);
  CFoundObject* folder = catalog().AddObject(Record(10, 2, "dir.qjpg", FOF_FOLDER));
  CFoundObject* file = catalog().AddObject(Record(11, 2, "photo.qjpg"));
  CFoundObject* bare = catalog().AddObject(Record(12, 2, "README"));
  EXPECT_EQ(catalog().GetTypeName(folder), "Folder");
  EXPECT_EQ(catalog().GetTypeName(file), "QJPG File");
  EXPECT_EQ(catalog().GetTypeName(bare), "File");
  // The type comes from the extension when the database knows it.
  EXPECT_EQ(file->FileType, 3101);
  EXPECT_EQ(file->GetFullPath(), "/");

  CFoundObject o;
  o.Volume = volume.get();
  o.Size = 1 << 20;
  o.StartOffset = 0;
  EXPECT_EQ(o.CheckBounds(), 0u);
  o.Size = (1 << 20) + 1;
  EXPECT_EQ(o.CheckBounds(), 0x80004005u);
  o.Size = 10;
  o.StartOffset = (1 << 20) + 512;
  EXPECT_EQ(o.CheckBounds(), 0x80004005u);
  o.Volume = nullptr;
  EXPECT_EQ(o.CheckBounds(), 0x80004005u);

  CFoundObject named;
  named.SetName("");
  EXPECT_EQ(named.Flags & FOF_NAMED, 0);
  named.SetName("kept");
  named.MakeLostFileName();  // has a name: unchanged
  EXPECT_EQ(named.Name, "kept");
  EXPECT_EQ(named.Flags & (FOF_NAMED | FOF_OWNS_NAME), FOF_NAMED | FOF_OWNS_NAME);
}

TEST_F(CatalogTest, LookupsWhileTheAnalysisAdds) {
  StartFileSystem(2);
  for (int f = 0; f < 50; ++f) catalog().AddObject(Record(1000 + f, 2, "dir", FOF_FOLDER));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) catalog().AddObject(Record(100000 + i, 1000 + i % 50, "file.txt", 0, i * 512ull, 1));
    done = true;
  });
  size_t seen = 0;
  while (!done) {
    std::vector<CFoundObject*> list;
    catalog().GetChildren(1000 + static_cast<int>(seen % 50), list);
    int64_t cursor = -1;
    while (catalog().FindByParent(1001, cursor)) {
    }
    seen += list.size() + catalog().CopyObjects().size() % 2;
  }
  writer.join();
  std::vector<CFoundObject*> list;
  catalog().GetChildren(1000, list);
  EXPECT_EQ(list.size(), 400u);
}

// A front end that answers code 1 at once, inside PostMessage, the way the
// views answer a deleted object: the catalog must not hold its lock then.
TEST_F(CatalogTest, NotificationsArriveAfterTheCatalogLetGo) {
  struct Answering : IMessageTarget {
    CFoundObjectTree* catalog = nullptr;
    int answered = 0;
    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
      auto* object = reinterpret_cast<CFoundObject*>(wParam);
      if (message == WM_FOUND_OBJECT && lParam == FOUND_OBJECT_ADDED && object->IsDeleted()) {
        catalog->MarkDeletedPath(object);
        ++answered;
      }
    }
    intptr_t SendMessage(uint32_t, uintptr_t, intptr_t) override { return 0; }
  } answering;
  answering.catalog = &catalog();
  theApp().MainWindow = &answering;
  StartFileSystem(2);
  CFoundObject* folder = catalog().AddObject(Record(10, 2, "d", FOF_FOLDER));
  catalog().AddObject(Record(11, 10, "x.txt", FOF_DELETED));
  EXPECT_EQ(answering.answered, 1);
  EXPECT_TRUE(folder->HasDeleted());
  theApp().MainWindow = &target;
}

TEST_F(CatalogTest, LostFilesEndAtTheNextUnlessTheirContentToldTheirSize) {
  const CFileType& type = PictureType();
  StartFileSystem(2);
  catalog().ReIndex();
  auto sized = ScanObject(0x10000, static_cast<int16_t>(type.Id));
  sized->Size = 0x8000;
  sized->Flags |= FOF_SIZED;
  CFoundObject* whole = catalog().AddLostFile(std::move(sized));
  CFoundObject* guessed = catalog().AddLostFile(ScanObject(0x20000, static_cast<int16_t>(type.Id)));
  // Objects that start inside the first (its thumbnail, say) and after the second.
  catalog().AddLostFile(ScanObject(0x14000, static_cast<int16_t>(type.Id)));
  catalog().AddLostFile(ScanObject(0x23000, static_cast<int16_t>(type.Id)));
  ASSERT_NE(whole, nullptr);
  ASSERT_NE(guessed, nullptr);
  EXPECT_EQ(whole->Size, 0x8000u);
  EXPECT_EQ(guessed->Size, 0x3000u);
}
