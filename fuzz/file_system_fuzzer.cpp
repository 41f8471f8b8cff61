// Boot detection and the file-system walk (FAT12/16/32, exFAT or NTFS,
// whichever the boot sector names) over an image, seeded with FAT and NTFS
// volumes.
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::WalkFileSystem(data, size);
  return 0;
}
