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
    // Huge pages cover only whole, aligned 2 MiB stretches of a mapping: the
    // mapping is made larger and the buffer starts at the first boundary in
    // it, so that no part of the buffer falls back to 4 KiB pages.
    mapped_ = size_ + kHugePage;
    void* p = ::mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    map_ = static_cast<uint8_t*>(p);
    const uintptr_t at = reinterpret_cast<uintptr_t>(map_);
    data_ = map_ + ((kHugePage - at % kHugePage) % kHugePage);
    ::madvise(data_, size_, MADV_HUGEPAGE);  // a hint: without huge pages it works all the same
  }
  ~LargeBuffer() { ::munmap(map_, mapped_); }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

private:
  static constexpr size_t kHugePage = size_t(2) << 20;
  uint8_t* map_ = nullptr;
  size_t mapped_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
