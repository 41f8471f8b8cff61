// The catalog of one volume: every found object, linked only by identity.
//
// Objects never point at each other: each carries its own identity
// (ObjectID) and that of its folder (ParentID), and the catalog keeps three
// indexes over them: by identity, by parent, and (after ReIndex) by start
// offset. A file reported before its folder waits under a placeholder folder
// that the real folder later takes over in place.
//
// Threads: the analysis thread adds objects while a view or command-line
// thread may look things up. Every public operation takes the catalog's own
// mutex, so adding and looking up may run at the same time. Objects are
// never freed before Clear, so a pointer handed out stays valid until then;
// the fields of an object may still be changed by the catalog (flags set by
// MarkDeletedPath and AddLostFile, Size by the bounding in Insert), so a
// reader on another thread sees those plain fields as they are at that moment.
// Objects() hands out the owned array itself and is only for callers that
// know no analysis is adding (use CopyObjects() otherwise).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/catalog/found_object.h"

class CVolume;

// Codes of WM_FOUND_OBJECT.
constexpr intptr_t FOUND_OBJECT_ADDED = 1;
constexpr intptr_t FOUND_LOST_FILE_ADDED = 2;
constexpr intptr_t FOUND_TYPE_SET = 4;
constexpr intptr_t FOUND_PLACEHOLDER_CREATED = 16;
constexpr intptr_t FOUND_PLACEHOLDER_TAKEN_OVER = 32;

// What AddLostFile did with the object it was given.
enum class LostFileResult {
  Added,     // catalogued as a lost file; the returned pointer is that object
  Merged,    // an object of the file system starts at the same offset: it was
             // confirmed (FOF_CONFIRMED, and the type), the given object was
             // destroyed, and the returned pointer is the existing object
  NotKept,   // its type is switched off for search (SearchEnable 0): the
             // object was destroyed and null is returned
};

class CFoundObjectTree {
public:
  explicit CFoundObjectTree(CVolume* volume);
  ~CFoundObjectTree();
  CFoundObjectTree(const CFoundObjectTree&) = delete;
  CFoundObjectTree& operator=(const CFoundObjectTree&) = delete;

  // Adds a copy of a record a file system filled (the caller may reuse its
  // record); returns the catalogued object, owned by the catalog, or null
  // when memory ran out. Gives the copy a FileType by its name's extension,
  // takes over a waiting placeholder folder of the same identity (the
  // returned pointer is then the placeholder, now carrying the record), and
  // makes a placeholder for a missing parent.
  CFoundObject* AddObject(const CFoundObject& record);
  // Takes over an object the sector scan made. The catalog always takes
  // ownership of `object`:
  //  - kept as a lost file: returns it (now owned by the catalog), named,
  //    FOF_CONFIRMED set, under its type's group folder in "Lost files";
  //    counted in the volume's ScanFilesFound;
  //  - another object already starts at its offset (after ReIndex): that
  //    object is confirmed and given the type; the given object is destroyed
  //    and the existing object is returned;
  //  - its type has SearchEnable 0: destroyed, returns null.
  // `result`, when given, tells which of these happened.
  CFoundObject* AddLostFile(std::unique_ptr<CFoundObject> object, LostFileResult* result = nullptr);
  // Puts an object into the indexes; with `owned` the catalog also frees it
  // at Clear (the volume's own record and the synthetic folders are never
  // freed, whatever `owned` says). After ReIndex the object also goes into
  // the offset index and bounds its signature-found neighbours.
  void Insert(CFoundObject* object, bool owned);

  // Cursor look-ups: cursor starts at -1; null when there is no further match.
  // Equal identities come back in the order they were inserted.
  CFoundObject* FindByID(int64_t id, int64_t& cursor) const;
  CFoundObject* FindByParent(int64_t id, int64_t& cursor) const;
  void GetChildren(int64_t id, std::vector<CFoundObject*>& list) const;
  // First object (in offset order) starting at exactly `offset`.
  CFoundObject* FindByOffset(uint64_t offset) const;
  // The first object that starts after `offset`, provided an object starts
  // exactly at `offset`; null otherwise. Objects at the same offset are
  // passed over (the next object is one with a larger start).
  CFoundObject* FindNext(uint64_t offset) const;
  // Likewise the first following object with the same FileType.
  CFoundObject* FindNextSameType(const CFoundObject* object) const;
  // Sets FOF_HAS_DELETED on a folder object and on its folders upwards.
  void MarkDeletedPath(CFoundObject* object);
  // Switches the offset index on and fills it with every indexed object.
  void ReIndex();
  // Frees what the catalog owns and empties the indexes; `volume`, when not
  // null, becomes the catalog's volume.
  void Clear(CVolume* volume);
  // How many times the catalog was cleared. A front end that keeps object
  // pointers (a view's rows) notes it and lets them go once it changed:
  // an analysis started by any path clears the catalog first. Read without
  // the lock, from any thread.
  uint64_t Generation() const;

  // The folder path of an object, "/"-separated and ending in "/": "/" for a
  // volume without a drive letter (every volume on Linux), then each folder
  // name from the top down. The object's own name is not part of it. Lost
  // files and objects in placeholder folders lie outside the file system's
  // tree: their paths start with the name of "Lost files" (then the group
  // folder) or of "Filesystem (lost fragments)", without the leading "/"
  // ("Lost files/Pictures/"). A loop in the identities ends the walk.
  std::string GetFullPath(const CFoundObject* object) const;
  // "Folder" for folders, else the type name of the name's extension
  // (qm::GetTypeNameForExtension, "EXT File" unless a front end installed a
  // provider).
  std::string GetTypeName(const CFoundObject* object) const;

  // Every object the catalog owns, in the order they were taken in.
  const std::vector<CFoundObject*>& Objects() const;
  // A copy of that list, safe while objects are being added.
  std::vector<CFoundObject*> CopyObjects() const;
  size_t ObjectCount() const;
  // True once ReIndex switched the offset index on.
  bool Indexing() const;

  // The placeholder for the missing parent of `object` (made and inserted).
  CFoundObject* MakeLostFolder(const CFoundObject& object);
  // The "Lost files" group folder of a lost file's type, made on first use;
  // null when the type has no group.
  CFoundObject* GetGroupFolder(const CFoundObject& object);

  CFoundObject& Root();
  CFoundObject& LostFragments();
  CFoundObject& LostFiles();
  CVolume* Volume() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
