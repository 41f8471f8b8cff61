// The file-system phase and the reader of found objects on a medium that
// goes away or stalls, on FAT, exFAT and NTFS images made by the real tools:
// wherever in the walk the medium is taken out, the parser waits at the
// volume's gate and, once the medium is back, lists exactly what an
// uninterrupted phase lists; a device that stalls on every read ends the
// phase and each read within their time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/volume/volume.h"
#include "platform/memory_device.h"
#include "services/app.h"
#include "services/log.h"
#include "tests/engine/filesystems/fat_test_image.h"
#include "tests/engine/filesystems/fs_image_support.h"
#include "tests/support/test_support.h"

namespace {

struct ImageCase {
  const char* name;
  std::string zst;  // under the source tree; empty: the bundled sample
};

std::vector<uint8_t> Unpacked(const ImageCase& c) {
  if (c.zst.empty()) {
    const std::string sample = qmtest::SampleImage();
    return sample.empty() ? std::vector<uint8_t>{} : qmtest::ReadFileBytes(sample);
  }
  const std::string image = qmtest::MakeTempDir("phase-removal") + "/image";
  if (qmtest::RunCommand("zstd -d -q -f " + qmtest::ShellQuote(qmtest::SourcePath(c.zst)) + " -o " +
                         qmtest::ShellQuote(image)) != 0)
    return {};
  return qmtest::ReadFileBytes(image);
}

struct Phase {
  std::shared_ptr<CMemoryDevice> device;
  std::unique_ptr<CVolume> volume;

  explicit Phase(const std::vector<uint8_t>& bytes) : volume(fattest::MakeVolume(bytes, &device)) {
    volume->KernelName = "sdz1";
  }
  // Every object as "path name size flags".
  std::multiset<std::string> Listing() {
    std::multiset<std::string> out;
    for (CFoundObject* o : volume->Catalog().CopyObjects()) {
      if (o == volume.get() || o == &volume->Catalog().Root()) continue;
      out.insert(volume->Catalog().GetFullPath(o) + o->Name + " " + std::to_string(o->Size) + " " +
                 std::to_string(o->Flags));
    }
    return out;
  }
  // Runs the phase on a thread; when the reader waits at the gate, brings
  // the medium back. False when the phase ended without waiting.
  bool RunWithRemoval() {
    std::atomic<bool> done{false};
    std::thread phase([&] {
      volume->AnalyseFileSystem();
      done = true;
    });
    bool waited = false;
    while (!done.load()) {
      if (volume->MediaGate().Waiters() > 0) {
        waited = true;
        volume->MediumArrived();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    phase.join();
    return waited;
  }
};

size_t LogCount(const std::string& text) {
  size_t n = 0;
  for (const auto& line : theLog().Lines()) n += line.find(text) != std::string::npos;
  return n;
}

const ImageCase kImages[] = {
    {"FAT32", ""},
    {"exFAT", "tests/data/exfat/tree.img.zst"},
    {"NTFS", "tests/data/ntfs/basic.img.zst"},
};

}  // namespace

// The medium goes at one read after another of the phase (reads spread over
// the whole walk): each time the phase waits, logs the removal and lists
// what the uninterrupted phase lists.
TEST(PhaseMediumRemoval, EveryReadOfTheWalkWaitsForTheMediumAndTheListingIsUnchanged) {
  for (const ImageCase& image : kImages) {
    SCOPED_TRACE(image.name);
    const std::vector<uint8_t> bytes = Unpacked(image);
    if (bytes.empty()) {
      ADD_FAILURE() << "the image could not be unpacked (zstd)";
      continue;
    }
    Phase plain(bytes);
    const size_t before = plain.device->Reads().size();
    plain.volume->AnalyseFileSystem();
    const size_t reads = plain.device->Reads().size() - before;
    const std::multiset<std::string> expected = plain.Listing();
    ASSERT_GT(expected.size(), 5u);
    ASSERT_GT(reads, 1u);

    const size_t tries = std::min<size_t>(reads, 12);
    for (size_t t = 0; t < tries; ++t) {
      const size_t failing = t * (reads - 1) / (tries - 1);
      SCOPED_TRACE("medium gone at read " + std::to_string(failing) + " of " + std::to_string(reads));
      Phase phase(bytes);
      for (size_t i = 0; i < failing; ++i) phase.device->Push({});
      phase.device->Push(MemoryReadBehaviour::Fail(ENOMEDIUM));
      const size_t removed = LogCount("Drive sdz1: Medium removed!");
      EXPECT_TRUE(phase.RunWithRemoval());
      EXPECT_EQ(LogCount("Drive sdz1: Medium removed!"), removed + 1);
      EXPECT_EQ(phase.Listing(), expected);
      EXPECT_EQ(phase.volume->State.load(), StateReady);
    }
  }
  theApp().AnalysisRunning = 0;
}

// Recovery's reader: a medium that goes in the middle of a file is waited
// for while the reader's condition holds, and the file comes whole.
TEST(PhaseMediumRemoval, TheObjectReaderWaitsForTheMediumAndReadsTheFileWhole) {
  const std::vector<uint8_t> bytes = Unpacked(kImages[2]);
  ASSERT_FALSE(bytes.empty());
  Phase phase(bytes);
  phase.volume->AnalyseFileSystem();
  const CFoundObject* largest = nullptr;
  for (CFoundObject* o : phase.volume->Catalog().CopyObjects())
    if (!o->IsFolder() && o->SizeKnown() && o->Size < (64u << 20) && (!largest || o->Size > largest->Size))
      largest = o;
  ASSERT_NE(largest, nullptr);
  ASSERT_GT(largest->Size, 4096u);
  const std::string whole = fsimage::ReadObject(*largest);

  // The reader's runs come first (their metadata is read here), then the
  // medium goes at the first read of the file's data.
  CFoundObjectReader r(*largest);
  r.KeepWaiting = [] { return true; };
  phase.device->Push(MemoryReadBehaviour::Fail(ENODEV));
  std::atomic<bool> done{false};
  std::string data;
  uint64_t unreadable = 0;
  std::thread reader([&] {
    std::vector<char> buffer(1 << 20);
    while (data.size() < largest->Size) {
      const uint32_t got = r.ReadNext(buffer.data(), static_cast<uint32_t>(buffer.size()));
      if (got == 0) break;
      data.append(buffer.data(), got);
    }
    unreadable = r.UnreadableBytes;
    done = true;
  });
  while (phase.volume->MediaGate().Waiters() == 0 && !done.load()) std::this_thread::yield();
  phase.volume->MediumArrived();
  reader.join();
  data.resize(std::min<size_t>(data.size(), largest->Size));
  EXPECT_EQ(data, whole);
  EXPECT_EQ(unreadable, 0u);
}

// A device that stalls on every read: the phase ends after one read of each
// structure it tries, with the time-outs in the log, and an object's read
// ends at once instead of being split sector by sector.
TEST(PhaseMediumRemoval, ADeviceThatStallsOnEveryReadEndsThePhaseAndEachRead) {
  theApp().Settings.RetryCount = 1;
  for (const ImageCase& image : kImages) {
    SCOPED_TRACE(image.name);
    const std::vector<uint8_t> bytes = Unpacked(image);
    ASSERT_FALSE(bytes.empty());
    Phase phase(bytes);
    phase.device->SetEveryReadHangs(true);
    const size_t timeouts = LogCount("read timeout");
    const size_t before = phase.device->Reads().size();
    phase.volume->AnalyseFileSystem();
    const size_t reads = phase.device->Reads().size() - before;
    EXPECT_GE(reads, 1u);
    EXPECT_LT(reads, 50u);
    EXPECT_GT(LogCount("read timeout"), timeouts);
    EXPECT_EQ(phase.volume->State.load(), StateReady);
    EXPECT_TRUE(phase.volume->MediaGate().IsOpen());

    CFoundObject stretch;
    stretch.Volume = phase.volume.get();
    stretch.StartOffset = 0;
    stretch.Size = 1 << 20;
    std::vector<FoundObjectRun> runs(1);
    runs[0].StartSector = 0;
    runs[0].SectorCount = 2048;
    CFoundObjectReader r(stretch, runs);
    std::vector<uint8_t> buffer(1 << 20);
    const size_t readsBefore = phase.device->Reads().size();
    EXPECT_EQ(r.ReadNext(buffer.data(), static_cast<uint32_t>(buffer.size())), 0u);
    EXPECT_EQ(phase.device->Reads().size(), readsBefore + 1);
  }
  theApp().Settings.RetryCount = 3;
  theApp().AnalysisRunning = 0;
}
