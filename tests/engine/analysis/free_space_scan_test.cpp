// "Scan free drive space only": the sector scan of a volume whose file
// system was read visits only the clusters its allocation marks free. On a
// mostly full FAT volume made by mkfs.fat and mtools the free-space scan
// covers exactly what mtools counts as free, finds the files left in free
// clusters, and leaves a file inside a live file to the scan of every sector.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "engine/catalog/found_object_tree.h"
#include "engine/filesystems/file_system.h"
#include "engine/scanner/analyser.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/app.h"
#include "tests/support/test_support.h"

namespace {

using Areas = std::vector<std::pair<uint64_t, uint64_t>>;

uint64_t Sum(const Areas& areas) {
  uint64_t total = 0;
  for (const auto& a : areas) total += a.second;
  return total;
}

bool Covers(const Areas& areas, uint64_t sector) {
  for (const auto& [first, count] : areas)
    if (sector >= first && sector < first + count) return true;
  return false;
}

// Objects the sector scan added as lost files, by start offset.
std::map<uint64_t, const CFoundObject*> LostByOffset(CVolume& v) {
  std::map<uint64_t, const CFoundObject*> lost;
  for (const CFoundObject* o : v.Catalog().CopyObjects())
    if (o->Flags & FOF_SIGNATURE) lost[o->StartOffset] = o;
  return lost;
}

// An offset the scan met: a lost file there, or the deleted file it
// confirmed.
bool ScanMet(CVolume& v, uint64_t offset) {
  for (const CFoundObject* o : v.Catalog().CopyObjects())
    if (o->StartOffset == offset && (o->Flags & (FOF_SIGNATURE | FOF_CONFIRMED))) return true;
  return false;
}

}  // namespace

TEST(FreeAreas, AreTheAllocationAreaLessTheUsedAreasClippedToTheVolume) {
  CFileSystem fs;
  EXPECT_TRUE(fs.FreeAreas(1000).empty()) << "no allocation read: nothing is known to be free";
  fs.AllocationArea = {100, 800};  // sectors 100..899
  fs.UsedAreas = {{100, 50}, {200, 100}, {250, 10}, {880, 100}};
  EXPECT_EQ(fs.FreeAreas(1000), (Areas{{150, 50}, {300, 580}}));
  // A volume shorter than the allocation claims: the free areas stop at its end.
  EXPECT_EQ(fs.FreeAreas(400), (Areas{{150, 50}, {300, 100}}));
  fs.UsedAreas.clear();
  EXPECT_EQ(fs.FreeAreas(1000), (Areas{{100, 800}}));
}

TEST(FreeSpaceScan, VisitsOnlyTheFreeClustersOfAMostlyFullFatVolume) {
  if (!qmtest::HaveTool("mkfs.fat") || !qmtest::HaveTool("mcopy") || !qmtest::HaveTool("convert"))
    GTEST_SKIP() << "dosfstools, mtools or ImageMagick missing";
  const std::string dir = qmtest::MakeTempDir("full-fat");
  ASSERT_EQ(qmtest::RunCommand("bash " + qmtest::ShellQuote(qmtest::SourcePath("scripts/make-full-fat-image.sh")) + " " +
                               qmtest::ShellQuote(dir) + " >/dev/null 2>&1"),
            0);
  std::map<std::string, uint64_t> planted;
  {
    std::ifstream in(dir + "/full-fat.offsets");
    std::string name;
    uint64_t offset = 0;
    while (in >> name >> offset) planted[name] = offset;
  }
  ASSERT_EQ(planted.size(), 3u);
  uint64_t freeBytes = 0;
  std::ifstream(dir + "/full-fat.free") >> freeBytes;
  ASSERT_GT(freeBytes, 0u);

  LoadSignatureDatabase();
  CVolume* v = theComputer().LoadImage(dir + "/full-fat.img");
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(v->Analyse_Boot(), 1u);
  v->AnalyseFileSystem();
  const uint64_t volumeSectors = v->Size / 512;
  ASSERT_LT(freeBytes, volumeSectors * 512 / 4) << "the volume should be mostly full";

  // Without the choice: every sector.
  EXPECT_EQ(v->SectorScanAreas(), (Areas{{0, volumeSectors}}));

  v->ScanFreeSpaceOnly = true;
  const Areas areas = v->SectorScanAreas();
  // Exactly the free clusters mtools counts, in order and apart.
  EXPECT_EQ(Sum(areas) * 512, freeBytes);
  for (size_t i = 1; i < areas.size(); ++i) EXPECT_GT(areas[i].first, areas[i - 1].first + areas[i - 1].second - 1);
  EXPECT_FALSE(Covers(areas, 0)) << "the boot sector is no free cluster";
  EXPECT_FALSE(Covers(areas, planted["inside.png"] / 512)) << "a live file's clusters are in use";
  EXPECT_TRUE(Covers(areas, planted["deleted.jpg"] / 512));
  EXPECT_TRUE(Covers(areas, planted["lost.png"] / 512));

  v->AnalyseSectors();
  EXPECT_EQ(v->Analyser().Ranges.size(), areas.size());
  EXPECT_EQ(v->PositionValue.load(), Sum(areas)) << "the progress counts the free sectors only";
  EXPECT_EQ(v->EndPositionValue.load(), Sum(areas));
  auto lost = LostByOffset(*v);
  ASSERT_TRUE(lost.count(planted["lost.png"])) << "the PNG in free clusters";
  EXPECT_NE(lost[planted["lost.png"]]->Name.find(".png"), std::string::npos);
  EXPECT_TRUE(ScanMet(*v, planted["deleted.jpg"])) << "the deleted JPEG's free clusters";
  EXPECT_FALSE(lost.count(planted["inside.png"])) << "the sectors of a live file were scanned";

  // The scan of every sector finds the file inside the live one too.
  v->ScanFreeSpaceOnly = false;
  v->AnalyseSectors();
  EXPECT_EQ(v->Analyser().Ranges.size(), 1u);
  lost = LostByOffset(*v);
  EXPECT_TRUE(lost.count(planted["inside.png"]));
  EXPECT_TRUE(lost.count(planted["lost.png"]));
}
