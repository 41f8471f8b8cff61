// A buffer for large reads (blocks of megabytes), mapped straight from the
// kernel and asked for in huge pages where the system allows them. That
// saves a page fault per 4 KiB the first time it is filled and most TLB
// misses each time a block is copied into it and read back. Its bytes are
// not initialised: whoever fills it says how much it filled.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

class LargeBuffer {
public:
  explicit LargeBuffer(size_t bytes) : size_(bytes ? bytes : 1) {
    void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(p);
    ::madvise(p, size_, MADV_HUGEPAGE);  // a hint: without huge pages it works all the same
  }
  ~LargeBuffer() { ::munmap(data_, size_); }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
