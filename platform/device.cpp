#include "platform/device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/large_buffer.h"

namespace {

// The descriptor outlives the device object while an abandoned read still
// runs on it.
struct FdHolder {
  explicit FdHolder(int f) : fd(f) {}
  ~FdHolder() {
    if (fd >= 0) ::close(fd);
  }
  FdHolder(const FdHolder&) = delete;
  FdHolder& operator=(const FdHolder&) = delete;
  int fd;
};

// Reads `bytes` at `offset`, looping over partial reads and EINTR. Returns
// the bytes read (fewer at the end of the data), or -1 with errno set.
ssize_t ReadFully(int fd, void* buffer, size_t bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes) {
    ssize_t r = ::pread(fd, static_cast<char*>(buffer) + done, bytes - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

// One reading thread with its own bounce buffer. The caller's buffer is
// only ever written by the caller's thread (in WaitRead), so a cancelled or
// abandoned read can never write into memory the caller has reused: a read
// stuck in the kernel keeps its worker and its buffer until it returns.
class Worker {
public:
  explicit Worker(std::shared_ptr<FdHolder> fd) : fd_(std::move(fd)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Start(size_t bytes, uint64_t offset) {
    std::lock_guard lock(mutex_);
    if (!buffer_ || buffer_->size() < bytes) buffer_ = std::make_unique<LargeBuffer>(bytes);
    bytes_ = bytes;
    offset_ = offset;
    done_ = false;
    pending_ = true;
    cv_.notify_all();
  }
  // True when the read finished within the time-out.
  bool Wait(uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    return doneCv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return done_; });
  }
  bool Busy() {
    std::lock_guard lock(mutex_);
    return pending_ && !done_;
  }
  // Valid after Wait returned true.
  ssize_t Result() const { return result_; }
  int Error() const { return error_; }
  const uint8_t* Data() const { return buffer_->data(); }

private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return quit_ || (pending_ && !done_); });
      if (pending_ && !done_) {
        const size_t bytes = bytes_;
        const uint64_t offset = offset_;
        uint8_t* data = buffer_->data();
        lock.unlock();
        ssize_t r = ReadFully(fd_->fd, data, bytes, offset);
        int err = r < 0 ? errno : 0;
        lock.lock();
        result_ = r;
        error_ = err;
        done_ = true;
        pending_ = false;
        doneCv_.notify_all();
        continue;
      }
      if (quit_) return;
    }
  }

  std::shared_ptr<FdHolder> fd_;
  std::mutex mutex_;
  std::condition_variable cv_, doneCv_;
  std::unique_ptr<LargeBuffer> buffer_;
  size_t bytes_ = 0;
  uint64_t offset_ = 0;
  bool pending_ = false, done_ = false, quit_ = false;
  ssize_t result_ = 0;
  int error_ = 0;
  std::thread thread_;
};

class FileDevice : public IDevice {
public:
  FileDevice(std::string path, int fd, bool threaded)
      : path_(std::move(path)), fd_(std::make_shared<FdHolder>(fd)), threaded_(threaded) {}
  ~FileDevice() override { AbandonWorkerIfBusy(); }

  IoResult StartRead(void* buffer, size_t bytes, uint64_t offset) override {
    bytes_ = 0;
    error_ = 0;
    caller_ = nullptr;
    if (!threaded_) {
      ssize_t r = ReadFully(fd_->fd, buffer, bytes, offset);
      if (r < 0) {
        error_ = errno;
        return IoResult::Error;
      }
      bytes_ = static_cast<size_t>(r);
      return IoResult::Done;
    }
    AbandonWorkerIfBusy();
    if (!worker_) {
      // Reads stuck in the kernel each hold a thread; past a few of them the
      // device is taken as dead and further reads fail at once.
      if (stuck_->load() >= kMaxStuckReads) {
        error_ = EIO;
        return IoResult::Error;
      }
      worker_ = std::make_unique<Worker>(fd_);
    }
    caller_ = buffer;
    callerBytes_ = bytes;
    worker_->Start(bytes, offset);
    return IoResult::Pending;
  }

  IoResult WaitRead(uint32_t timeout_ms) override {
    if (!threaded_) return error_ ? IoResult::Error : IoResult::Done;
    if (!caller_ || !worker_) {
      error_ = EINVAL;
      return IoResult::Error;
    }
    if (!worker_->Wait(timeout_ms)) return IoResult::TimedOut;
    void* buffer = caller_;
    caller_ = nullptr;
    if (worker_->Result() < 0) {
      error_ = worker_->Error();
      return IoResult::Error;
    }
    bytes_ = std::min(static_cast<size_t>(worker_->Result()), callerBytes_);
    std::memcpy(buffer, worker_->Data(), bytes_);
    return IoResult::Done;
  }

  void CancelRead() override {
    // The worker never writes the caller's buffer; forgetting it is enough.
    caller_ = nullptr;
    AbandonWorkerIfBusy();
  }

  size_t BytesRead() const override { return bytes_; }
  int LastError() const override { return error_; }

  uint64_t SizeBytes() override {
    struct stat st {};
    if (::fstat(fd_->fd, &st) != 0) return 0;
    if (S_ISBLK(st.st_mode)) {
      uint64_t size = 0;
      if (::ioctl(fd_->fd, BLKGETSIZE64, &size) == 0) return size;
      return 0;
    }
    return st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }
  int NativeHandle() const override { return fd_->fd; }

  std::shared_ptr<IDevice> Duplicate() override {
    int err = 0;
    return OpenDeviceReadOnly(path_, &err, threaded_ ? DeviceReadMode::Threaded : DeviceReadMode::Auto);
  }

private:
  // A worker whose read is still in the kernel is left to finish on its own
  // (it holds the descriptor and its buffer); the next read gets a new one.
  void AbandonWorkerIfBusy() {
    if (worker_ && worker_->Busy()) {
      Worker* stuck = worker_.release();
      std::shared_ptr<std::atomic<int>> counter = stuck_;
      ++*counter;
      std::thread([stuck, counter] {
        delete stuck;  // waits for the read to come back from the kernel
        --*counter;
      }).detach();
    }
  }

  std::string path_;
  std::shared_ptr<FdHolder> fd_;
  bool threaded_;
  static constexpr int kMaxStuckReads = 8;
  std::unique_ptr<Worker> worker_;
  std::shared_ptr<std::atomic<int>> stuck_ = std::make_shared<std::atomic<int>>(0);
  void* caller_ = nullptr;
  size_t callerBytes_ = 0;
  size_t bytes_ = 0;
  int error_ = 0;
};

}  // namespace

std::shared_ptr<IDevice> OpenDeviceReadOnly(const std::string& path, int* error, DeviceReadMode mode) {
  if (path.empty()) {
    if (error) *error = ENOENT;
    return nullptr;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    if (error) *error = errno;
    ::close(fd);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    if (error) *error = EISDIR;
    ::close(fd);
    return nullptr;
  }
  bool threaded = mode == DeviceReadMode::Threaded || !S_ISREG(st.st_mode);
  return std::make_shared<FileDevice>(path, fd, threaded);
}
