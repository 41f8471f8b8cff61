// Reading a device or an image file at a byte offset, with a time-out and
// cancellation. Sources are only ever opened for reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class IoResult { Done, Pending, TimedOut, Error };

class IDevice {
public:
  virtual ~IDevice() = default;
  // Starts a read of `bytes` at byte `offset` into `buffer`, which must stay
  // valid until the read is done, failed or cancelled. Done: finished at
  // once (BytesRead() tells how much); Pending: still running; Error: failed
  // (LastError() is the errno).
  virtual IoResult StartRead(void* buffer, size_t bytes, uint64_t offset) = 0;
  // Waits up to `timeout_ms` for the pending read: Done, TimedOut or Error.
  virtual IoResult WaitRead(uint32_t timeout_ms) = 0;
  // Cancels the pending read; on return the buffer is no longer written to.
  virtual void CancelRead() = 0;
  virtual size_t BytesRead() const = 0;
  virtual int LastError() const = 0;
  // Size in bytes (file size or block-device size); 0 when unknown.
  virtual uint64_t SizeBytes() = 0;
  // The file descriptor behind the device, or -1.
  virtual int NativeHandle() const { return -1; }
  // A second handle on the same data with its own read in flight (a found
  // volume reads its parent's device through its own handle); null when the
  // device cannot be duplicated.
  virtual std::shared_ptr<IDevice> Duplicate() { return nullptr; }
};

// How a file device performs its reads.
enum class DeviceReadMode {
  // Block and character devices read on a worker thread, so that a read on
  // a dead device can time out and be abandoned; regular files read at once.
  Auto,
  // Every read on the worker thread (tests of the time-out machinery).
  Threaded,
};

// Opens a path read-only; null with errno in *error on failure.
std::shared_ptr<IDevice> OpenDeviceReadOnly(const std::string& path, int* error,
                                            DeviceReadMode mode = DeviceReadMode::Auto);
