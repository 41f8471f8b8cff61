// A volume over an in-memory image with its catalog, and a message target
// that records what the catalog posts.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "platform/message_target.h"
#include "platform/messages.h"
#include "services/app.h"

namespace cattest {

class RecordingTarget : public IMessageTarget {
public:
  struct Post {
    uint32_t message;
    CFoundObject* object;
    intptr_t code;
  };
  void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard lock(mutex);
    posts.push_back({message, reinterpret_cast<CFoundObject*>(wParam), lParam});
  }
  intptr_t SendMessage(uint32_t, uintptr_t, intptr_t) override { return 0; }
  size_t Count(intptr_t code, const CFoundObject* object = nullptr) {
    std::lock_guard lock(mutex);
    size_t n = 0;
    for (const auto& p : posts)
      if (p.message == WM_FOUND_OBJECT && p.code == code && (!object || p.object == object)) ++n;
    return n;
  }
  std::mutex mutex;
  std::vector<Post> posts;
};

inline std::vector<uint8_t> PatternBytes(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i / 512) * 7 + i % 251);
  return data;
}

class CatalogTest : public ::testing::Test {
protected:
  void SetUp() override {
    volume = std::make_unique<CVolume>(VolumeImage);
    volume->ObjectID = theComputer().NextVolumeId();
    device = std::make_shared<CMemoryDevice>(PatternBytes(1 << 20));
    device->SetCompleteAtOnce(true);
    volume->AttachDevice(device);
    volume->Size = 1 << 20;
    volume->TotalSectors = volume->Size / 512;
    catalog().Clear(volume.get());
    theApp().MainWindow = &target;
  }
  void TearDown() override { theApp().MainWindow = nullptr; }

  CFoundObjectTree& catalog() { return volume->Catalog(); }

  // The file-system analysis's start: the volume's record and the root.
  void StartFileSystem(int64_t rootId) {
    catalog().Clear(volume.get());
    catalog().Insert(volume.get(), true);
    catalog().Root().ObjectID = rootId;
    catalog().Root().ParentID = volume->ObjectID;
    catalog().Insert(&catalog().Root(), true);
  }

  static CFoundObject Record(int64_t id, int64_t parent, const char* name, uint16_t flags = 0,
                             uint64_t offset = 0, uint64_t size = 0) {
    CFoundObject r;
    r.ObjectID = id;
    r.ParentID = parent;
    r.Flags = flags;
    r.StartOffset = offset;
    r.Size = size;
    r.SetName(name);
    return r;
  }

  static std::unique_ptr<CFoundObject> ScanObject(uint64_t offset, int16_t type) {
    auto o = std::make_unique<CFoundObject>();
    o->StartOffset = offset;
    o->FileType = type;
    o->Size = SIZE_UNKNOWN;
    o->Flags = FOF_SIGNATURE | FOF_DELETED;
    return o;
  }

  std::unique_ptr<CVolume> volume;
  std::shared_ptr<CMemoryDevice> device;
  RecordingTarget target;
};

}  // namespace cattest
