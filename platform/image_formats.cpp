#include "platform/image_formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <dlfcn.h>

#include <libewf.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

namespace {

// Reads up to `bytes` at `offset`; the count read, 0 on failure.
size_t ReadAt(int fd, void* buffer, size_t bytes, off_t offset) {
  ssize_t got = ::pread(fd, buffer, bytes, offset);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t magicSize) {
  return size >= magicSize && std::memcmp(data, magic, magicSize) == 0;
}

// The calls one of the image libraries offers; they all share this shape.
template <class Handle, class Error>
struct LibraryCalls {
  int (*initialize)(Handle**, Error**);
  int (*free)(Handle**, Error**);
  int (*close)(Handle*, Error**);
  ssize_t (*read)(Handle*, void*, size_t, off64_t, Error**);
  int (*mediaSize)(Handle*, size64_t*, Error**);
  void (*errorFree)(Error**);
  // Opens the image at the path on an initialised handle; 1 on success.
  int (*open)(Handle*, const char*, Error**);
};

// The image libraries are opened when an image of their format is first
// read: a run that reads none of them does not map them, and their
// relocations alone cost every start of the program some milliseconds.
class LoadedLibrary {
public:
  explicit LoadedLibrary(const char* soname) : handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  // Null when the library or the call is missing; `complete` then goes false.
  template <class Function>
  Function Find(const char* name) {
    void* symbol = handle_ ? ::dlsym(handle_, name) : nullptr;
    if (!symbol) complete = false;
    return reinterpret_cast<Function>(symbol);
  }
  bool complete = true;

private:
  void* handle_;  // kept open for the life of the program
};

#define QM_FIND(library, function) library.Find<decltype(&function)>(#function)

struct EwfLibrary {
  LibraryCalls<libewf_handle_t, libewf_error_t> calls{};
  decltype(&libewf_glob) glob = nullptr;
  decltype(&libewf_glob_free) globFree = nullptr;
  decltype(&libewf_handle_open) open = nullptr;
};
struct VmdkLibrary {
  LibraryCalls<libvmdk_handle_t, libvmdk_error_t> calls{};
  decltype(&libvmdk_handle_open) open = nullptr;
  decltype(&libvmdk_handle_open_extent_data_files) openExtents = nullptr;
};
struct VhdiLibrary {
  LibraryCalls<libvhdi_file_t, libvhdi_error_t> calls{};
  decltype(&libvhdi_file_open) open = nullptr;
};
struct QcowLibrary {
  LibraryCalls<libqcow_file_t, libqcow_error_t> calls{};
  decltype(&libqcow_file_open) open = nullptr;
};

// Each library's calls, loaded at the first call; null when the library
// cannot be loaded.
const EwfLibrary* Ewf();
const VmdkLibrary* Vmdk();
const VhdiLibrary* Vhdi();
const QcowLibrary* Qcow();

int OpenEwf(libewf_handle_t* handle, const char* path, libewf_error_t** error) {
  // An image may be split into segments (.E01, .E02, ...): the library finds
  // them all from the first one's name.
  const EwfLibrary& ewf = *Ewf();
  char** names = nullptr;
  int count = 0;
  if (ewf.glob(path, std::strlen(path), LIBEWF_FORMAT_UNKNOWN, &names, &count, error) != 1) return -1;
  int result = ewf.open(handle, names, count, LIBEWF_OPEN_READ, error);
  ewf.globFree(names, count, nullptr);
  return result;
}

int OpenVmdk(libvmdk_handle_t* handle, const char* path, libvmdk_error_t** error) {
  // The descriptor names the extent files that hold the data; they are
  // looked for beside it.
  if (Vmdk()->open(handle, path, LIBVMDK_OPEN_READ, error) != 1) return -1;
  return Vmdk()->openExtents(handle, error);
}

int OpenVhdi(libvhdi_file_t* file, const char* path, libvhdi_error_t** error) {
  return Vhdi()->open(file, path, LIBVHDI_OPEN_READ, error);
}

int OpenQcow(libqcow_file_t* file, const char* path, libqcow_error_t** error) {
  return Qcow()->open(file, path, LIBQCOW_OPEN_READ, error);
}

// A library's calls, found once: `find` fills them from the loaded library.
template <class Library>
const Library* LoadOnce(const char* soname, void (*find)(LoadedLibrary&, Library&)) {
  static const Library* loaded = [soname, find] {
    static LoadedLibrary library(soname);
    static Library calls;
    find(library, calls);
    return library.complete ? &calls : nullptr;
  }();
  return loaded;
}

const EwfLibrary* Ewf() {
  return LoadOnce<EwfLibrary>(QM_EWF_SONAME, [](LoadedLibrary& library, EwfLibrary& ewf) {
    ewf.calls = {QM_FIND(library, libewf_handle_initialize), QM_FIND(library, libewf_handle_free),
                 QM_FIND(library, libewf_handle_close), QM_FIND(library, libewf_handle_read_random),
                 QM_FIND(library, libewf_handle_get_media_size), QM_FIND(library, libewf_error_free), OpenEwf};
    ewf.glob = QM_FIND(library, libewf_glob);
    ewf.globFree = QM_FIND(library, libewf_glob_free);
    ewf.open = QM_FIND(library, libewf_handle_open);
  });
}

const VmdkLibrary* Vmdk() {
  return LoadOnce<VmdkLibrary>(QM_VMDK_SONAME, [](LoadedLibrary& library, VmdkLibrary& vmdk) {
    vmdk.calls = {QM_FIND(library, libvmdk_handle_initialize), QM_FIND(library, libvmdk_handle_free),
                  QM_FIND(library, libvmdk_handle_close), QM_FIND(library, libvmdk_handle_read_buffer_at_offset),
                  QM_FIND(library, libvmdk_handle_get_media_size), QM_FIND(library, libvmdk_error_free), OpenVmdk};
    vmdk.open = QM_FIND(library, libvmdk_handle_open);
    vmdk.openExtents = QM_FIND(library, libvmdk_handle_open_extent_data_files);
  });
}

const VhdiLibrary* Vhdi() {
  return LoadOnce<VhdiLibrary>(QM_VHDI_SONAME, [](LoadedLibrary& library, VhdiLibrary& vhdi) {
    vhdi.calls = {QM_FIND(library, libvhdi_file_initialize), QM_FIND(library, libvhdi_file_free),
                  QM_FIND(library, libvhdi_file_close), QM_FIND(library, libvhdi_file_read_buffer_at_offset),
                  QM_FIND(library, libvhdi_file_get_media_size), QM_FIND(library, libvhdi_error_free), OpenVhdi};
    vhdi.open = QM_FIND(library, libvhdi_file_open);
  });
}

const QcowLibrary* Qcow() {
  return LoadOnce<QcowLibrary>(QM_QCOW_SONAME, [](LoadedLibrary& library, QcowLibrary& qcow) {
    qcow.calls = {QM_FIND(library, libqcow_file_initialize), QM_FIND(library, libqcow_file_free),
                  QM_FIND(library, libqcow_file_close), QM_FIND(library, libqcow_file_read_buffer_at_offset),
                  QM_FIND(library, libqcow_file_get_media_size), QM_FIND(library, libqcow_error_free), OpenQcow};
    qcow.open = QM_FIND(library, libqcow_file_open);
  });
}

// One open image of a library, read as a device. The libraries read at
// once (there is no read in flight to wait for or cancel), one read at a
// time per handle; a duplicate opens the image again.
template <class Handle, class Error>
class CLibraryImageDevice : public IDevice {
public:
  using Calls = LibraryCalls<Handle, Error>;

  static std::shared_ptr<IDevice> Open(const Calls& calls, const std::string& path, int* error) {
    auto device = std::shared_ptr<CLibraryImageDevice>(new CLibraryImageDevice(calls, path));
    Error* failure = nullptr;
    if (calls.initialize(&device->handle_, &failure) != 1 || calls.open(device->handle_, path.c_str(), &failure) != 1) {
      calls.errorFree(&failure);
      if (error) *error = EINVAL;
      return nullptr;
    }
    device->opened_ = true;
    size64_t size = 0;
    if (calls.mediaSize(device->handle_, &size, &failure) == 1) device->size_ = size;
    calls.errorFree(&failure);
    return device;
  }

  ~CLibraryImageDevice() override {
    if (!handle_) return;
    if (opened_) calls_.close(handle_, nullptr);
    calls_.free(&handle_, nullptr);
  }

  IoResult StartRead(void* buffer, size_t bytes, uint64_t offset) override {
    std::lock_guard lock(mutex_);
    bytesRead_ = 0;
    if (offset >= size_) return IoResult::Done;  // past the end: nothing to read
    if (bytes > size_ - offset) bytes = static_cast<size_t>(size_ - offset);
    // Some libraries stop a read at the end of one of their storage units:
    // read on until the whole range is in.
    auto* out = static_cast<uint8_t*>(buffer);
    while (bytesRead_ < bytes) {
      Error* failure = nullptr;
      ssize_t got = calls_.read(handle_, out + bytesRead_, bytes - bytesRead_,
                                static_cast<off64_t>(offset + bytesRead_), &failure);
      calls_.errorFree(&failure);
      if (got < 0) {
        error_ = EIO;
        return IoResult::Error;
      }
      if (got == 0) break;
      bytesRead_ += static_cast<size_t>(got);
    }
    return IoResult::Done;
  }
  IoResult WaitRead(uint32_t) override { return IoResult::Done; }
  void CancelRead() override {}
  size_t BytesRead() const override { return bytesRead_; }
  int LastError() const override { return error_; }
  uint64_t SizeBytes() override { return size_; }
  std::shared_ptr<IDevice> Duplicate() override { return Open(calls_, path_, nullptr); }

private:
  CLibraryImageDevice(const Calls& calls, std::string path) : calls_(calls), path_(std::move(path)) {}

  const Calls& calls_;
  std::string path_;
  Handle* handle_ = nullptr;
  bool opened_ = false;
  uint64_t size_ = 0;
  std::mutex mutex_;
  size_t bytesRead_ = 0;
  int error_ = 0;
};

}  // namespace

ImageFormat DetectImageFormat(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ImageFormat::Raw;
  struct stat st {};
  ImageFormat format = ImageFormat::Raw;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 512) {
    uint8_t head[512] = {};
    const size_t got = ReadAt(fd, head, sizeof head, 0);
    if (StartsWith(head, got, "EVF\x09\x0d\x0a\xff\x00", 8) || StartsWith(head, got, "EVF2\x0d\x0a\x81\x00", 8))
      format = ImageFormat::Ewf;
    else if (StartsWith(head, got, "KDMV", 4) || StartsWith(head, got, "COWD", 4) ||
             StartsWith(head, got, "# Disk DescriptorFile", 21))
      format = ImageFormat::Vmdk;
    else if (StartsWith(head, got, "vhdxfile", 8))
      format = ImageFormat::Vhdx;
    else if (StartsWith(head, got, "QFI\xfb", 4))
      format = ImageFormat::Qcow;
    else if (StartsWith(head, got, "conectix", 8))
      format = ImageFormat::Vhd;  // a dynamic disk's header copy of its footer
    else {
      // A fixed VHD is the raw disk followed by a 512-byte footer.
      uint8_t tail[8] = {};
      if (ReadAt(fd, tail, sizeof tail, st.st_size - 512) == sizeof tail && StartsWith(tail, 8, "conectix", 8))
        format = ImageFormat::Vhd;
    }
  }
  ::close(fd);
  return format;
}

const char* ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::Ewf: return "E01";
    case ImageFormat::Vmdk: return "VMDK";
    case ImageFormat::Vhd: return "VHD";
    case ImageFormat::Vhdx: return "VHDX";
    case ImageFormat::Qcow: return "qcow2";
    case ImageFormat::Raw: break;
  }
  return "raw";
}

namespace {

// A container image through its library; ENOSYS when the library is not
// installed.
template <class Handle, class Error, class Library>
std::shared_ptr<IDevice> OpenThrough(const Library* library, const std::string& path, int* error) {
  if (library) return CLibraryImageDevice<Handle, Error>::Open(library->calls, path, error);
  if (error) *error = ENOSYS;
  return nullptr;
}

}  // namespace

std::shared_ptr<IDevice> OpenSourceReadOnly(const std::string& path, int* error) {
  switch (DetectImageFormat(path)) {
    case ImageFormat::Ewf: return OpenThrough<libewf_handle_t, libewf_error_t>(Ewf(), path, error);
    case ImageFormat::Vmdk: return OpenThrough<libvmdk_handle_t, libvmdk_error_t>(Vmdk(), path, error);
    case ImageFormat::Vhd:
    case ImageFormat::Vhdx: return OpenThrough<libvhdi_file_t, libvhdi_error_t>(Vhdi(), path, error);
    case ImageFormat::Qcow: return OpenThrough<libqcow_file_t, libqcow_error_t>(Qcow(), path, error);
    case ImageFormat::Raw: break;
  }
  return OpenDeviceReadOnly(path, error);
}
