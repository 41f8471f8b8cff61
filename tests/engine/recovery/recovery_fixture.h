// Shared pieces of the recovery engine's tests: an in-memory volume, a
// message target that records what the worker posts, and log helpers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "platform/device.h"
#include "platform/message_target.h"
#include "services/app.h"
#include "services/log.h"

namespace rectest {

class MemoryDevice : public IDevice {
public:
  explicit MemoryDevice(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  IoResult StartRead(void* buffer, size_t bytes, uint64_t offset) override {
    read_ = 0;
    if (offset < bytes_.size()) {
      read_ = std::min<size_t>(bytes, bytes_.size() - offset);
      std::memcpy(buffer, bytes_.data() + offset, read_);
    }
    return IoResult::Done;
  }
  IoResult WaitRead(uint32_t) override { return IoResult::Done; }
  void CancelRead() override {}
  size_t BytesRead() const override { return read_; }
  int LastError() const override { return 0; }
  uint64_t SizeBytes() override { return bytes_.size(); }

private:
  std::vector<uint8_t> bytes_;
  size_t read_ = 0;
};

// A volume over bytes in memory.
inline std::unique_ptr<CVolume> MakeMemoryVolume(std::vector<uint8_t> bytes) {
  auto volume = std::make_unique<CVolume>(VolumeImage);
  volume->Size = bytes.size();
  volume->TotalSectors = bytes.size() / 512;
  volume->AttachDevice(std::make_shared<MemoryDevice>(std::move(bytes)));
  volume->State = StateReady;
  return volume;
}

// Records WM_RECOVERY_PROGRESS and lets a test act on each message.
class RecordingTarget : public IMessageTarget {
public:
  void PostMessage(uint32_t message, uintptr_t, intptr_t lParam) override {
    std::lock_guard lock(mutex);
    if (message != 32979) return;
    percents.push_back(static_cast<int>(lParam));
    if (onProgress) onProgress(static_cast<int>(lParam));
  }
  intptr_t SendMessage(uint32_t, uintptr_t, intptr_t) override { return 0; }
  std::mutex mutex;
  std::vector<int> percents;
  std::function<void(int)> onProgress;
};

// Installs a recording target as the main window for one test.
class ScopedTarget {
public:
  explicit ScopedTarget(RecordingTarget& target) : previous_(theApp().MainWindow.exchange(&target)) {}
  ~ScopedTarget() { theApp().MainWindow = previous_; }

private:
  IMessageTarget* previous_;
};

// The log lines added since a mark.
class LogMark {
public:
  LogMark() : start_(theLog().LineCount()) {}
  std::vector<std::string> Lines() const {
    auto all = theLog().Lines();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(start_, all.size())), all.end());
  }
  // Index of the first line holding `text`, or -1.
  int Find(const std::string& text) const {
    auto lines = Lines();
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
    return -1;
  }
  bool Has(const std::string& text) const { return Find(text) >= 0; }

private:
  size_t start_;
};

// Bytes with a pattern that differs in every 512-byte sector.
inline std::vector<uint8_t> Pattern(size_t bytes, uint32_t seed = 1) {
  std::vector<uint8_t> out(bytes);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < bytes; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<uint8_t>(x >> 16);
  }
  return out;
}

}  // namespace rectest
