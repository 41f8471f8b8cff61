// What every fuzz target shares: a quiet program state set up once (no
// retries, no log file, a throw-away settings folder) and a volume over an
// in-memory device holding the input, so that the real parsing code runs
// through the real sector reader.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/app.h"
#include "services/log.h"

namespace qmfuzz {

inline void Setup() {
  static const bool done = [] {
    char dir[] = "/tmp/qm-fuzz.XXXXXX";
    if (::mkdtemp(dir)) ::setenv("QUILLMORE_CONFIG_DIR", dir, 1);
    theApp().Settings.SetDefaults();
    theApp().Settings.LogToFile = 0;
    theApp().Settings.RetryCount = 0;
    theApp().Settings.RetryPauseMs = 0;
    return true;
  }();
  (void)done;
}

// The log keeps every line; each input starts with an empty one, so that a
// long run does not grow without bound.
inline void EndInput() { theLog().ClearLines(); }

// A volume over the input, padded with zeros to whole sectors.
inline std::unique_ptr<CVolume> VolumeOver(const uint8_t* data, size_t size, VolumeKind kind = VolumeImage) {
  std::vector<uint8_t> bytes(data, data + size);
  bytes.resize((size + 511) / 512 * 512);
  auto device = std::make_shared<CMemoryDevice>(std::move(bytes));
  device->SetCompleteAtOnce(true);
  auto volume = std::make_unique<CVolume>(kind);
  volume->Size = device->SizeBytes();
  volume->TotalSectors = volume->Size / 512;
  volume->AttachDevice(device);
  volume->State = StateReady;
  return volume;
}

// Boot detection and the walk of whichever file system the boot sector
// names, then each catalogued object's path and data runs (what listing
// and recovery ask of the catalog).
inline void WalkFileSystem(const uint8_t* data, size_t size) {
  Setup();
  auto volume = VolumeOver(data, size);
  volume->Analyse_Boot();
  volume->AnalyseFileSystem();
  CFoundObjectTree& catalog = volume->Catalog();
  std::vector<FoundObjectRun> runs;
  for (const CFoundObject* object : catalog.CopyObjects()) {
    catalog.GetFullPath(object);
    runs.clear();
    volume->FileSystem().GetRuns(*object, runs);
  }
  volume.reset();
  EndInput();
}

}  // namespace qmfuzz
