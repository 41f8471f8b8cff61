#include "platform/memory_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

CMemoryDevice::CMemoryDevice(std::vector<uint8_t> data) : core_(std::make_shared<Core>()) {
  core_->data = std::move(data);
}

void CMemoryDevice::Push(MemoryReadBehaviour behaviour) {
  std::lock_guard lock(core_->mutex);
  core_->script.push_back(behaviour);
}

void CMemoryDevice::AddBadRange(uint64_t offset, uint64_t bytes) {
  std::lock_guard lock(core_->mutex);
  core_->bad.emplace_back(offset, bytes);
}

void CMemoryDevice::SetEveryReadHangs(bool hangs) {
  std::lock_guard lock(core_->mutex);
  core_->hangAll = hangs;
}

void CMemoryDevice::VanishAfter(size_t reads) {
  std::lock_guard lock(core_->mutex);
  core_->vanishAt = core_->reads.size() + reads;
}

void CMemoryDevice::SetCompleteAtOnce(bool atOnce) {
  std::lock_guard lock(core_->mutex);
  core_->atOnce = atOnce;
}

std::vector<CMemoryDevice::ReadRecord> CMemoryDevice::Reads() const {
  std::lock_guard lock(core_->mutex);
  return core_->reads;
}

std::vector<uint32_t> CMemoryDevice::WaitTimeouts() const {
  std::lock_guard lock(core_->mutex);
  return core_->waits;
}

size_t CMemoryDevice::CancelCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->cancels;
}

std::vector<uint8_t>& CMemoryDevice::Data() { return core_->data; }

uint64_t CMemoryDevice::SizeBytes() {
  std::lock_guard lock(core_->mutex);
  return core_->data.size();
}

std::shared_ptr<IDevice> CMemoryDevice::Duplicate() {
  return std::shared_ptr<IDevice>(new CMemoryDevice(core_));
}

size_t CMemoryDevice::Copy(void* buffer, size_t bytes, uint64_t offset) {
  std::lock_guard lock(core_->mutex);
  const uint64_t size = core_->data.size();
  if (offset >= size) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, size - offset));
  std::memcpy(buffer, core_->data.data() + offset, n);
  return n;
}

IoResult CMemoryDevice::StartRead(void* buffer, size_t bytes, uint64_t offset) {
  bool atOnce = false;
  bool bad = false;
  bool gone = false;
  bool hang = false;
  {
    std::lock_guard lock(core_->mutex);
    gone = core_->reads.size() >= core_->vanishAt;
    hang = core_->hangAll;
    core_->reads.push_back({offset, bytes});
    if (!core_->script.empty()) {
      current_ = core_->script.front();
      core_->script.pop_front();
    } else {
      current_ = MemoryReadBehaviour();
    }
    atOnce = core_->atOnce;
    for (const auto& [start, length] : core_->bad)
      if (offset < start + length && start < offset + bytes) bad = true;
  }
  if (bad && current_.kind == MemoryReadBehaviour::Kind::Succeed) current_ = MemoryReadBehaviour::Fail(5);
  if (hang) current_ = MemoryReadBehaviour::HangFor();
  if (gone) current_ = MemoryReadBehaviour::Fail(19);  // ENODEV
  buffer_ = buffer;
  bytes_ = bytes;
  offset_ = offset;
  bytesRead_ = 0;
  error_ = 0;
  pending_ = false;
  using Kind = MemoryReadBehaviour::Kind;
  switch (current_.kind) {
    case Kind::FailAtStart:
      if (current_.scribble) std::memset(buffer, 0xEE, bytes);
      error_ = current_.error;
      return IoResult::Error;
    case Kind::Succeed:
    case Kind::Short:
      if (atOnce || !current_.pending) {
        bytesRead_ = Copy(buffer, current_.kind == Kind::Short ? std::min(bytes, current_.bytes) : bytes, offset);
        return IoResult::Done;
      }
      break;
    default:
      break;
  }
  pending_ = true;
  waitsLeft_ = current_.waits;
  return IoResult::Pending;
}

IoResult CMemoryDevice::WaitRead(uint32_t timeout_ms) {
  {
    std::lock_guard lock(core_->mutex);
    core_->waits.push_back(timeout_ms);
  }
  if (!pending_) {
    error_ = 22;  // EINVAL: nothing to wait for
    return IoResult::Error;
  }
  using Kind = MemoryReadBehaviour::Kind;
  switch (current_.kind) {
    case Kind::FailOnWait:
      if (current_.scribble) std::memset(buffer_, 0xEE, bytes_);
      pending_ = false;
      error_ = current_.error;
      return IoResult::Error;
    case Kind::Hang:
      if (waitsLeft_ > 0) {
        if (waitsLeft_ != ~0u) --waitsLeft_;
        // A device that wrote part of the transfer before stalling.
        if (current_.scribble) std::memset(buffer_, 0xEE, bytes_);
        return IoResult::TimedOut;
      }
      break;
    case Kind::Delay:
      if (current_.delay_ms > timeout_ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        current_.delay_ms -= timeout_ms;
        return IoResult::TimedOut;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(current_.delay_ms));
      break;
    default:
      break;
  }
  pending_ = false;
  bytesRead_ = Copy(buffer_, current_.kind == Kind::Short ? std::min(bytes_, current_.bytes) : bytes_, offset_);
  return IoResult::Done;
}

void CMemoryDevice::CancelRead() {
  std::lock_guard lock(core_->mutex);
  ++core_->cancels;
  pending_ = false;
}
