#include "platform/device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
// Placeholder synchronous reader; replaced by the timed asynchronous one.
class FileDevice : public IDevice {
public:
  explicit FileDevice(int fd) : fd_(fd) {}
  ~FileDevice() override { ::close(fd_); }
  IoResult StartRead(void* buffer, size_t bytes, uint64_t offset) override {
    size_t done = 0;
    while (done < bytes) {
      ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, bytes - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return IoResult::Error;
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    bytes_ = done;
    return IoResult::Done;
  }
  IoResult WaitRead(uint32_t) override { return IoResult::Done; }
  void CancelRead() override {}
  size_t BytesRead() const override { return bytes_; }
  int LastError() const override { return error_; }
  uint64_t SizeBytes() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
  }
  int NativeHandle() const override { return fd_; }

private:
  int fd_;
  size_t bytes_ = 0;
  int error_ = 0;
};
}  // namespace

std::shared_ptr<IDevice> OpenDeviceReadOnly(const std::string& path, int* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  return std::make_shared<FileDevice>(fd);
}
