// How the catalog behaves at the size of a large disk: 1,000,000 files under
// 10,000 folders. Prints the time of each phase and the memory the catalog
// holds per object (heap in use, names and indexes included).
//
//   build-*/bench/bench_catalog_scale [files] [folders]
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/catalog/search.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/format.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

size_t HeapInUse() {
  malloc_trim(0);
  return mallinfo2().uordblks;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t files = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const size_t folders = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 10000;
  theComputer();  // the signature database and the log exist before measuring

  auto volume = std::make_unique<CVolume>(VolumeImage);
  volume->ObjectID = theComputer().NextVolumeId();
  volume->Size = 1ull << 40;
  CFoundObjectTree& catalog = volume->Catalog();
  catalog.Clear(volume.get());

  const size_t heapBefore = HeapInUse();
  auto start = Clock::now();
  catalog.Insert(volume.get(), true);
  catalog.Root().ObjectID = 2;
  catalog.Root().ParentID = volume->ObjectID;
  catalog.Insert(&catalog.Root(), true);

  CFoundObject record;
  // A tenth of the files arrive before their folder (as in a damaged
  // directory tree) and wait in placeholders.
  const size_t early = files / 10;
  auto addFile = [&](size_t i) {
    record.Initialize();
    record.ObjectID = static_cast<int64_t>(folders + 100 + i);
    record.ParentID = static_cast<int64_t>(100 + i % folders);
    record.StartOffset = (i * 37 % files) * 4096 + 1048576;
    record.FirstCluster = record.StartOffset / 4096;
    record.Size = (i * 7919) % 4000000;
    record.Flags = (i % 5 == 0) ? FOF_DELETED : 0;
    record.ModificationTime = record.CreationTime = 130000000000000000ull + i * 10000000ull;
    // Half the names fit the string's inline buffer, half need their own.
    record.SetName(i % 2 ? qm::Format("IMG_%07d.JPG", static_cast<int64_t>(i))
                         : qm::Format("Quarterly report %07d final.docx", static_cast<int64_t>(i)));
    catalog.AddObject(record);
  };
  for (size_t i = 0; i < early; ++i) addFile(i);
  for (size_t f = 0; f < folders; ++f) {
    record.Initialize();
    record.ObjectID = static_cast<int64_t>(100 + f);
    record.ParentID = 2;
    record.Flags = FOF_FOLDER;
    record.SetName(qm::Format("Folder %05d", static_cast<int64_t>(f)));
    catalog.AddObject(record);
  }
  for (size_t i = early; i < files; ++i) addFile(i);
  const double addTime = Seconds(start);
  const size_t objects = catalog.ObjectCount();

  start = Clock::now();
  catalog.ReIndex();
  const double reindexTime = Seconds(start);
  const size_t heapAfter = HeapInUse();

  start = Clock::now();
  size_t children = 0;
  for (size_t f = 0; f < folders; ++f) {
    std::vector<CFoundObject*> list;
    catalog.GetChildren(static_cast<int64_t>(100 + f), list);
    children += list.size();
  }
  const double childrenAll = Seconds(start);

  start = Clock::now();
  std::vector<CFoundObject*> one;
  catalog.GetChildren(100 + static_cast<int64_t>(folders / 2), one);
  const double childrenOne = Seconds(start);

  start = Clock::now();
  SearchCriteria criteria;
  criteria.SetNamePattern("*report*5*.DOCX");
  criteria.DeletedOnly = true;
  criteria.SetSizeOption(SearchCriteria::SizeLarge);
  const size_t matches = CFindInFound::Run(catalog, criteria, nullptr).size();
  const double searchTime = Seconds(start);

  start = Clock::now();
  size_t pathBytes = 0;
  for (size_t i = 0; i < 100000; ++i) {
    int64_t cursor = -1;
    if (CFoundObject* o = catalog.FindByID(static_cast<int64_t>(folders + 100 + i * 7 % files), cursor))
      pathBytes += catalog.GetFullPath(o).size();
  }
  const double pathTime = Seconds(start);

  start = Clock::now();
  size_t nexts = 0;
  for (size_t i = 0; i < 100000; ++i)
    if (catalog.FindNext((i * 37 % files) * 4096 + 1048576)) ++nexts;
  const double nextTime = Seconds(start);

  // The sector scan adds lost files between the files (offset index inserts
  // with bounding).
  start = Clock::now();
  const size_t lost = files / 10;
  for (size_t i = 0; i < lost; ++i) {
    auto o = std::make_unique<CFoundObject>();
    o->StartOffset = (i * 7 % files) * 4096 + 1048576 + 512;
    o->FileType = 29999;
    o->Flags = FOF_SIGNATURE | FOF_DELETED;
    catalog.AddLostFile(std::move(o));
  }
  const double lostTime = Seconds(start);

  const double perObject = static_cast<double>(heapAfter - heapBefore) / static_cast<double>(objects);
  std::printf("catalog scale: %zu files under %zu folders (%zu catalogued objects)\n", files, folders, objects);
  std::printf("  add (AddObject, %zu waiting in placeholders first) %8.3f s\n", early, addTime);
  std::printf("  ReIndex                                       %8.3f s\n", reindexTime);
  std::printf("  GetChildren of one folder (%zu children)       %8.6f s\n", one.size(), childrenOne);
  std::printf("  GetChildren of every folder (%zu in all)   %8.3f s\n", children, childrenAll);
  std::printf("  full search (%zu matches)                       %8.3f s\n", matches, searchTime);
  std::printf("  GetFullPath x 100000                          %8.3f s\n", pathTime);
  std::printf("  FindNext x 100000 (%zu found)              %8.3f s\n", nexts, nextTime);
  std::printf("  AddLostFile x %zu after ReIndex            %8.3f s\n", lost, lostTime);
  std::printf("  heap held by the catalog: %.1f MiB, %.1f bytes per object\n",
              static_cast<double>(heapAfter - heapBefore) / 1048576.0, perObject);
  (void)pathBytes;
  return 0;
}
