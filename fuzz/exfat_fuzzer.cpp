// The exFAT walk (boot region and checksum sector, allocation bitmap,
// up-case table, FAT chains, directory entry sets live and deleted) over an
// image, seeded with volumes made by mkfs.exfat and filled through FUSE.
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::WalkFileSystem(data, size);
  return 0;
}
