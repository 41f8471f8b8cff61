// Notices when a volume's catalog is emptied under a view that keeps
// pointers into it. An analysis may start from anywhere (the queue, a
// wizard, another front end's path) and its first step clears the catalog,
// freeing every object; a view compares the catalog's clear count with the
// one it saw and shows nothing from the old objects after that.
#pragma once

#include <cstdint>

class CFoundObjectTree;
class CVolume;

class CCatalogWatch {
public:
  // Watches the catalog of `volume` from now on (null: none).
  void Follow(CVolume* volume);
  // True when the catalog was cleared since Follow.
  bool Stale() const;
  CVolume* Volume() const { return volume_; }

private:
  CVolume* volume_ = nullptr;
  uint64_t generation_ = 0;
};
