// Times the file-system phase on an NTFS image: open, walk the MFT, catalog
// every record. Prints "<seconds> <objects>".
//
//   bench_ntfs_walk IMAGE
#include <chrono>
#include <cstdio>

#include "engine/catalog/found_object_tree.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_ntfs_walk IMAGE\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  CVolume* volume = theComputer().LoadImage(argv[1]);
  if (!volume) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  volume->AnalyseFileSystem();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f %zu\n", seconds, volume->Catalog().ObjectCount());
  return 0;
}
