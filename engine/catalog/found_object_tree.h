// The catalog of one volume: every found object, linked only by identity.
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

class CFoundObjectTree {
public:
  explicit CFoundObjectTree(CVolume* volume);
  ~CFoundObjectTree();
  CFoundObjectTree(const CFoundObjectTree&) = delete;
  CFoundObjectTree& operator=(const CFoundObjectTree&) = delete;

  // Adds a copy of a record a file system filled; returns the catalogued object.
  CFoundObject* AddObject(const CFoundObject& record);
  // Takes over an object the sector scan made; returns it, or null when it
  // was not kept. When it merged onto an existing object, returns the
  // existing object... (see the implementation for the exact contract).
  CFoundObject* AddLostFile(std::unique_ptr<CFoundObject> object);
  void Insert(CFoundObject* object, bool owned);

  // Cursor look-ups: cursor starts at -1; null when there is no further match.
  CFoundObject* FindByID(int64_t id, int64_t& cursor) const;
  CFoundObject* FindByParent(int64_t id, int64_t& cursor) const;
  void GetChildren(int64_t id, std::vector<CFoundObject*>& list) const;
  CFoundObject* FindByOffset(uint64_t offset) const;
  CFoundObject* FindNext(uint64_t offset) const;
  CFoundObject* FindNextSameType(const CFoundObject* object) const;
  void MarkDeletedPath(CFoundObject* object);
  void ReIndex();
  void Clear(CVolume* volume);

  std::string GetFullPath(const CFoundObject* object) const;
  std::string GetTypeName(const CFoundObject* object) const;

  // Every object the catalog owns, in the order they were taken in.
  const std::vector<CFoundObject*>& Objects() const;

  CFoundObject& Root();
  CFoundObject& LostFragments();
  CFoundObject& LostFiles();
  CVolume* Volume() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
