// Device events: recorded uevents turned into arrivals and removals, the
// pause gate, and (where the machine lets us attach loop devices) the live
// kernel events of a loop device.
#include "platform/block_device_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/pause_gate.h"
#include "tests/support/test_support.h"

namespace {

// Feeds recorded events and writes what came out: "+sdb", "-sdb1".
std::vector<std::string> Play(qm::CMediaEventFilter& filter, const std::vector<qm::RawBlockEvent>& events) {
  std::vector<std::string> out;
  for (const auto& raw : events)
    if (auto e = filter.Interpret(raw))
      out.push_back((e->Change == qm::MediaChange::Arrival ? "+" : "-") + e->Name + (e->IsPartition ? "p" : ""));
  return out;
}

}  // namespace

TEST(MediaEvents, RecordedLoopCardReaderAndStickEvents) {
  qm::CMediaEventFilter filter;
  filter.Seed({"vda", "sda"});
  // losetup -P of an image with one partition, then losetup -d.
  EXPECT_EQ(Play(filter, {{"change", "loop3", "disk", 16384},
                          {"add", "loop3p1", "partition", 16000},
                          {"remove", "loop3p1", "partition", 0},
                          {"change", "loop3", "disk", 0}}),
            (std::vector<std::string>{"+loop3", "+loop3p1p", "-loop3p1p", "-loop3"}));
  // A card reader: plugged in empty, a card put in, its partition read,
  // the card taken out.
  EXPECT_EQ(Play(filter, {{"add", "sdb", "disk", 0},
                          {"change", "sdb", "disk", 31116288},
                          {"add", "sdb1", "partition", 31108096},
                          {"change", "sdb", "disk", 31116288},  // partition table re-read
                          {"remove", "sdb1", "partition", 0},
                          {"change", "sdb", "disk", 0}}),
            (std::vector<std::string>{"+sdb", "+sdb1p", "-sdb1p", "-sdb"}));
  // A stick pulled out: partitions go first, then the disk.
  EXPECT_EQ(Play(filter, {{"add", "sdc", "disk", 1000}, {"remove", "sdc", "disk", 0}, {"remove", "sdc", "disk", 0}}),
            (std::vector<std::string>{"+sdc", "-sdc"}));
  // A disk present when listening started changes without going away;
  // devices the list does not show and other actions are ignored.
  EXPECT_EQ(Play(filter, {{"change", "sda", "disk", 2048},
                          {"add", "sr0", "disk", 100},
                          {"add", "dm-0", "disk", 100},
                          {"bind", "sdd", "disk", 100},
                          {"change", "loop4", "disk", 0}}),
            std::vector<std::string>{});
}

TEST(PauseGate, WaitersPassWhenOpenedAndGiveUpWhenTold) {
  qm::CPauseGate gate;
  EXPECT_TRUE(gate.WaitOpen(nullptr));  // open: passes at once
  EXPECT_TRUE(gate.Close());
  EXPECT_FALSE(gate.Close());

  std::atomic<bool> passed{false};
  std::thread reader([&] { passed = gate.WaitOpen([] { return true; }, 10); });
  while (gate.Waiters() == 0) std::this_thread::yield();
  EXPECT_FALSE(passed.load());
  EXPECT_TRUE(gate.Open());
  reader.join();
  EXPECT_TRUE(passed.load());

  gate.Close();
  std::atomic<bool> keepWaiting{true};
  std::thread stopped([&] { passed = gate.WaitOpen([&] { return keepWaiting.load(); }, 10); });
  while (gate.Waiters() == 0) std::this_thread::yield();
  keepWaiting = false;
  stopped.join();
  EXPECT_FALSE(passed.load());
  EXPECT_FALSE(gate.IsOpen());

  // A poll that finds the medium back opens the gate.
  int polls = 0;
  EXPECT_TRUE(gate.WaitOpen([] { return true; }, 1, [&] { return ++polls == 3; }));
  EXPECT_TRUE(gate.IsOpen());
}

TEST(MediaEvents, LoopDeviceAttachAndDetachAreHeard) {
  if (!qmtest::HaveTool("losetup")) GTEST_SKIP() << "losetup is needed";
  const std::string image = qmtest::WriteTempFile("hotplug.img", std::vector<uint8_t>(1 << 20));
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<qm::BlockDeviceEvent> events;
  qm::CBlockDeviceMonitor monitor;
  int error = 0;
  if (!monitor.Start(
          [&](const qm::BlockDeviceEvent& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
            cv.notify_all();
          },
          &error))
    GTEST_SKIP() << "no device monitor here: " << error;
  std::string device;
  if (qmtest::RunCommand("losetup -f --show " + image + " 2>/dev/null", &device) != 0 || device.empty())
    GTEST_SKIP() << "the machine does not let us attach a loop device";
  while (!device.empty() && device.back() == '\n') device.pop_back();
  const std::string name = device.substr(device.find_last_of('/') + 1);
  auto heard = [&](qm::MediaChange change) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] {
      for (const auto& e : events)
        if (e.Name == name && e.Change == change) return true;
      return false;
    });
  };
  const bool arrived = heard(qm::MediaChange::Arrival);
  qmtest::RunCommand("losetup -d " + device);
  EXPECT_TRUE(arrived) << name;
  EXPECT_TRUE(heard(qm::MediaChange::Removal)) << name;
  monitor.Stop();
}
