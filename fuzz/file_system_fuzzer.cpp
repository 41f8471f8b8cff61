// Boot detection and the file-system walk (FAT12/16/32 and NTFS, whichever
// the boot sector names) over an image, then every catalogued object's path.
#include "engine/catalog/found_object_tree.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::Setup();
  auto volume = qmfuzz::VolumeOver(data, size);
  volume->Analyse_Boot();
  volume->AnalyseFileSystem();
  CFoundObjectTree& catalog = volume->Catalog();
  for (const CFoundObject* object : catalog.CopyObjects()) catalog.GetFullPath(object);
  volume.reset();
  qmfuzz::EndInput();
  return 0;
}
