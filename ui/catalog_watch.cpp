#include "ui/catalog_watch.h"

#include "engine/catalog/found_object_tree.h"
#include "engine/volume/volume.h"

void CCatalogWatch::Follow(CVolume* volume) {
  volume_ = volume;
  generation_ = volume ? volume->Catalog().Generation() : 0;
}

bool CCatalogWatch::Stale() const { return volume_ && volume_->Catalog().Generation() != generation_; }
