// Times the FAT file-system phase on an image and the part of it that
// searches the free clusters for lost folders' entries. The phase without
// that search is the phase as it was before it: the search runs last, after
// the walk, and nothing else changed. Prints the median of RUNS runs of each
// and the objects found under placeholder folders (ghosts, on a volume with
// no lost folders).
//
//   bench_fat_orphan_scan IMAGE [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/fat_orphan_entries.h"
#include "engine/filesystems/file_system_fat.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_fat_orphan_scan IMAGE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  CVolume* volume = theComputer().LoadImage(argv[1]);
  if (!volume) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  volume->Analyse_Boot();
  std::vector<double> phase, scan;
  size_t ghosts = 0;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    volume->AnalyseFileSystem();
    phase.push_back(Seconds(start));

    // Files and folders of the file system outside its tree.
    ghosts = 0;
    for (CFoundObject* o : volume->Catalog().CopyObjects())
      if (o != volume && !IsSyntheticIdentity(o->ObjectID) && (o->Flags & FOF_LOST_FOLDER) == 0 &&
          volume->Catalog().GetFullPath(o).rfind('/', 0) != 0)
        ++ghosts;

    // The search alone, over the same free clusters (the few that the walk
    // read as deleted folders are read again here: a little more than the
    // phase reads).
    auto* fat = dynamic_cast<CFileSystem_FAT*>(&volume->FileSystem());
    if (!fat) {
      std::fprintf(stderr, "not a FAT volume\n");
      return 1;
    }
    theApp().AnalysisRunning = 1;
    start = std::chrono::steady_clock::now();
    CFatOrphanEntries::Scan(*fat, std::vector<bool>());
    scan.push_back(Seconds(start));
    theApp().AnalysisRunning = 0;
  }
  // The phase without the search: run by run, so that a slow run of one
  // does not meet a fast run of the other.
  std::vector<double> before;
  for (size_t i = 0; i < phase.size(); ++i) before.push_back(std::max(0.0, phase[i] - scan[i]));
  const double p = Median(phase), s = Median(scan), b = Median(before);
  std::printf("file-system phase, with the search: %.4f s\n", p);
  std::printf("the search alone:                   %.4f s\n", s);
  std::printf("phase without it (before):          %.4f s\n", b);
  if (b > 0) std::printf("increase:                           %.1f %%\n", 100.0 * (p - b) / b);
  std::printf("objects under placeholder folders:  %zu\n", ghosts);
  return 0;
}
