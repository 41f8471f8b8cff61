// The compound-document analysis of a lost file: the header sector, then
// every sector it asks for, read from the input as a volume.
#include <cstring>

#include "engine/scanner/compound_document.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Setup();
  if (size < 512) return 0;
  auto volume = qmfuzz::VolumeOver(data, size);
  SectorReader read = [&volume](void* buffer, uint64_t first, uint32_t count) {
    return volume->ReadSectors(buffer, first, static_cast<uint64_t>(count));
  };
  CFoundObject object;
  object.StartOffset = 0;
  object.FileType = TYPE_COMPOUND_DOCUMENT;
  AnalyseCompoundDocument(object, data, read, volume->Size);
  CompoundTypeFromDirectory(data, size);
  CFoundObject ruled;
  ApplySectorRules(ruled, data);
  volume.reset();
  qmfuzz::EndInput();
  return 0;
}
