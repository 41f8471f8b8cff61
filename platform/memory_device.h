// An in-memory device for tests: reads bytes from a buffer and, on request,
// misbehaves the way real disks do — failing reads, short reads, reads that
// never finish, reads that finish late, and reads that scribble into the
// buffer before failing. It records every read and every wait it was asked
// for, so time-out paths can be tested without real waiting.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/device.h"

// What one read does. Reads with no scripted behaviour left succeed at once.
struct MemoryReadBehaviour {
  enum class Kind {
    Succeed,       // all bytes (or up to the end of the data)
    FailAtStart,   // StartRead reports Error with `error`
    FailOnWait,    // StartRead is Pending, the wait reports Error with `error`
    Short,         // completes with only `bytes` bytes
    Hang,          // the first `waits` waits time out, then it completes
    Delay,         // completes after `delay_ms` of real time
  };
  Kind kind = Kind::Succeed;
  int error = 5;          // EIO
  size_t bytes = 0;       // for Short
  uint32_t waits = ~0u;   // for Hang: how many waits time out (all by default)
  uint32_t delay_ms = 0;  // for Delay
  bool pending = true;    // Succeed/Short: complete through a wait (else at once)
  bool scribble = false;  // fill the buffer with 0xEE before failing or timing out

  static MemoryReadBehaviour Fail(int err = 5) { return {Kind::FailAtStart, err}; }
  static MemoryReadBehaviour FailWait(int err = 5) { return {Kind::FailOnWait, err}; }
  static MemoryReadBehaviour ShortRead(size_t n) {
    MemoryReadBehaviour b;
    b.kind = Kind::Short;
    b.bytes = n;
    return b;
  }
  static MemoryReadBehaviour HangFor(uint32_t waits = ~0u) {
    MemoryReadBehaviour b;
    b.kind = Kind::Hang;
    b.waits = waits;
    return b;
  }
  static MemoryReadBehaviour DelayBy(uint32_t ms) {
    MemoryReadBehaviour b;
    b.kind = Kind::Delay;
    b.delay_ms = ms;
    return b;
  }
};

class CMemoryDevice : public IDevice {
public:
  struct ReadRecord {
    uint64_t offset;
    size_t bytes;
  };

  explicit CMemoryDevice(std::vector<uint8_t> data);
  // A memory device over `size` zero bytes.
  explicit CMemoryDevice(size_t size) : CMemoryDevice(std::vector<uint8_t>(size)) {}

  // Queues the behaviour of the next read(s).
  void Push(MemoryReadBehaviour behaviour);
  // Every read touching [offset, offset + bytes) fails with EIO (bad sectors).
  void AddBadRange(uint64_t offset, uint64_t bytes);
  // Every read from now on times out at every wait (a drive that stalls).
  void SetEveryReadHangs(bool hangs);
  // After `reads` more reads, every read fails with ENODEV (media removed).
  void VanishAfter(size_t reads);
  // Reads complete at once from StartRead (no wait) while this is set.
  void SetCompleteAtOnce(bool atOnce);

  std::vector<ReadRecord> Reads() const;
  std::vector<uint32_t> WaitTimeouts() const;
  size_t CancelCount() const;
  // The bytes behind the device (tests may change them).
  std::vector<uint8_t>& Data();

  IoResult StartRead(void* buffer, size_t bytes, uint64_t offset) override;
  IoResult WaitRead(uint32_t timeout_ms) override;
  void CancelRead() override;
  size_t BytesRead() const override { return bytesRead_; }
  int LastError() const override { return error_; }
  uint64_t SizeBytes() override;
  std::shared_ptr<IDevice> Duplicate() override;

private:
  // Shared by duplicates: the data, the script and the records.
  struct Core {
    std::mutex mutex;
    std::vector<uint8_t> data;
    std::deque<MemoryReadBehaviour> script;
    std::vector<std::pair<uint64_t, uint64_t>> bad;
    std::vector<ReadRecord> reads;
    std::vector<uint32_t> waits;
    size_t cancels = 0;
    bool atOnce = false;
    bool hangAll = false;
    size_t vanishAt = SIZE_MAX;  // index of the first read that finds no device
  };
  explicit CMemoryDevice(std::shared_ptr<Core> core) : core_(std::move(core)) {}
  size_t Copy(void* buffer, size_t bytes, uint64_t offset);

  std::shared_ptr<Core> core_;
  // The read in flight.
  bool pending_ = false;
  void* buffer_ = nullptr;
  size_t bytes_ = 0;
  uint64_t offset_ = 0;
  MemoryReadBehaviour current_;
  uint32_t waitsLeft_ = 0;
  size_t bytesRead_ = 0;
  int error_ = 0;
};
