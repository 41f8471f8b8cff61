// Opening and reading files through the platform's device, and the small
// system services.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/device.h"
#include "platform/memory_device.h"
#include "platform/system.h"
#include "tests/support/test_support.h"

namespace {

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + 7);
  return v;
}

// Starts a read and waits for it the way the sector reader does.
IoResult Read(IDevice& device, void* buffer, size_t bytes, uint64_t offset) {
  IoResult r = device.StartRead(buffer, bytes, offset);
  if (r == IoResult::Pending) r = device.WaitRead(10000);
  return r;
}

TEST(FileDevice, ReadsImagesAtOnceAndOnTheWorkerThread) {
  const auto data = Bytes(100000);
  const std::string path = qmtest::WriteTempFile("image.dsk", data);
  for (DeviceReadMode mode : {DeviceReadMode::Auto, DeviceReadMode::Threaded}) {
    int error = 0;
    auto device = OpenDeviceReadOnly(path, &error, mode);
    ASSERT_TRUE(device) << error;
    EXPECT_EQ(device->SizeBytes(), data.size());
    EXPECT_GE(device->NativeHandle(), 0);
    std::vector<uint8_t> buffer(4096);
    for (uint64_t offset : {uint64_t{0}, uint64_t{512}, uint64_t{90112}}) {
      ASSERT_EQ(Read(*device, buffer.data(), buffer.size(), offset), IoResult::Done);
      EXPECT_EQ(device->BytesRead(), 4096u);
      EXPECT_EQ(0, std::memcmp(buffer.data(), data.data() + offset, 4096));
    }
    // Past the end: a short read, then nothing.
    ASSERT_EQ(Read(*device, buffer.data(), buffer.size(), 98304), IoResult::Done);
    EXPECT_EQ(device->BytesRead(), 100000u - 98304u);
    ASSERT_EQ(Read(*device, buffer.data(), buffer.size(), 200000), IoResult::Done);
    EXPECT_EQ(device->BytesRead(), 0u);
    // A duplicate reads the same bytes through its own handle.
    auto twin = device->Duplicate();
    ASSERT_TRUE(twin);
    ASSERT_EQ(Read(*twin, buffer.data(), 512, 1024), IoResult::Done);
    EXPECT_EQ(0, std::memcmp(buffer.data(), data.data() + 1024, 512));
  }
}

TEST(FileDevice, ACancelledReadNeverWritesTheCallersBuffer) {
  const auto data = Bytes(1 << 20);
  const std::string path = qmtest::WriteTempFile("image.dsk", data);
  int error = 0;
  auto device = OpenDeviceReadOnly(path, &error, DeviceReadMode::Threaded);
  ASSERT_TRUE(device);
  std::vector<uint8_t> buffer(1 << 20, 0x11);
  for (int i = 0; i < 50; ++i) {
    std::fill(buffer.begin(), buffer.end(), 0x11);
    // A device with too many reads still in the kernel refuses new ones
    // until they come back.
    IoResult started = IoResult::Error;
    for (int tries = 0; tries < 2000 && started == IoResult::Error; ++tries) {
      started = device->StartRead(buffer.data(), buffer.size(), 0);
      if (started == IoResult::Error) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(started, IoResult::Pending);
    device->CancelRead();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(buffer.back(), 0x11);
  }
  // The device goes on working after the cancelled reads.
  ASSERT_EQ(Read(*device, buffer.data(), 512, 4096), IoResult::Done);
  EXPECT_EQ(0, std::memcmp(buffer.data(), data.data() + 4096, 512));
}

TEST(FileDevice, OpenFailuresReportTheirReason) {
  int error = 0;
  EXPECT_FALSE(OpenDeviceReadOnly("/nonexistent/quillmore.dsk", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(OpenDeviceReadOnly(qmtest::MakeTempDir("qm-dir"), &error));
  EXPECT_EQ(error, EISDIR);
  EXPECT_FALSE(OpenDeviceReadOnly("", &error));
}

TEST(MemoryDevice, BadRangesFailAndDuplicatesShareTheData) {
  CMemoryDevice device(Bytes(8192));
  device.AddBadRange(4096, 512);
  std::vector<uint8_t> buffer(1024);
  EXPECT_EQ(Read(device, buffer.data(), 1024, 0), IoResult::Done);
  EXPECT_EQ(Read(device, buffer.data(), 1024, 4000), IoResult::Error);
  EXPECT_EQ(device.LastError(), EIO);
  auto twin = device.Duplicate();
  EXPECT_EQ(Read(*twin, buffer.data(), 1024, 1024), IoResult::Done);
  EXPECT_EQ(device.Reads().size(), 3u);  // recorded for both handles
}

TEST(System, EventsReleaseWaiters) {
  qm::CEvent autoReset;
  EXPECT_FALSE(autoReset.Wait(0));
  autoReset.Set();
  EXPECT_TRUE(autoReset.Wait(0));
  EXPECT_FALSE(autoReset.Wait(0));  // reset by the wait
  qm::CEvent manual(true, true);
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.IsSet());
  std::thread setter([&] { manual.Set(); });
  EXPECT_TRUE(manual.Wait(qm::WAIT_FOREVER));
  setter.join();
}

TEST(System, TempPathErrorTextsAndTypeNames) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/var/tmp/", 1);
  EXPECT_EQ(qm::GetTempPath(), "/var/tmp");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(qm::GetTempPath(), "/tmp");
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);

  EXPECT_EQ(qm::SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(qm::GetTypeNameForExtension("pdf"), "PDF File");
  EXPECT_EQ(qm::GetTypeNameForExtension(""), "File");
  qm::SetTypeNameProvider([](const std::string& ext) { return ext == "pdf" ? "PDF document" : ""; });
  EXPECT_EQ(qm::GetTypeNameForExtension("pdf"), "PDF document");
  EXPECT_EQ(qm::GetTypeNameForExtension("xyz"), "XYZ File");
  qm::SetTypeNameProvider(nullptr);
  // The file time of now is past 2020-01-01 (132223104000000000).
  EXPECT_GT(qm::CurrentFileTime(), 132223104000000000ull);
}

}  // namespace

namespace {

TEST(System, LowestPriorityAndDiskRights) {
  int nice = -100;
  std::thread worker([&] {
    qm::SetLowestThreadPriority();
    errno = 0;
    nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
  });
  worker.join();
  EXPECT_EQ(nice, 19);
  // The calling thread keeps its own priority.
  EXPECT_NE(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), 19);
  if (::geteuid() == 0) {
    EXPECT_TRUE(qm::HasDiskAccessRights());
  }
}

}  // namespace
