#include "engine/scanner/scan_bytes.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint64_t kSector = 512;
}

CScanBytes::CScanBytes(const uint8_t* block, uint64_t blockOffset, size_t blockBytes, SectorReader read,
                       uint64_t volumeBytes)
    : block_(block),
      blockOffset_(blockOffset),
      blockBytes_(block ? blockBytes : 0),
      read_(std::move(read)),
      end_(volumeBytes ? volumeBytes : ~0ull) {}

bool CScanBytes::Load(uint64_t offset, size_t need) {
  constexpr size_t kWindowSectors = kWindowBytes / kSector + 1;
  constexpr size_t kSmallBytes = 4096;
  if (!read_) return false;
  if (!window_) window_.reset(new uint8_t[kWindowSectors * kSector]);
  const uint64_t first = offset / kSector;
  const bool walking = offset == blockOffset_ + blockBytes_ || (windowBytes_ && offset == windowOffset_ + windowBytes_);
  uint64_t sectors = kWindowSectors;
  if (!walking) sectors = std::min<uint64_t>(sectors, (offset % kSector + std::max(need, kSmallBytes) + kSector - 1) / kSector);
  if (end_ != ~0ull) {
    const uint64_t endSector = (end_ + kSector - 1) / kSector;
    if (first >= endSector) return false;
    sectors = std::min(sectors, endSector - first);
  }
  uint32_t got = read_(window_.get(), first, static_cast<uint32_t>(sectors));
  windowOffset_ = first * kSector;
  windowBytes_ = std::min<size_t>(got, sectors * kSector);
  if (end_ != ~0ull) windowBytes_ = static_cast<size_t>(std::min<uint64_t>(windowBytes_, end_ - windowOffset_));
  return windowBytes_ > offset - windowOffset_;
}

size_t CScanBytes::Span(uint64_t offset, size_t want, const uint8_t** out) {
  if (offset >= end_ || want == 0) return 0;
  want = static_cast<size_t>(std::min<uint64_t>(want, end_ - offset));
  if (offset >= blockOffset_ && offset - blockOffset_ < blockBytes_) {
    const size_t at = static_cast<size_t>(offset - blockOffset_);
    *out = block_ + at;
    return std::min(want, blockBytes_ - at);
  }
  const bool inWindow = windowBytes_ && offset >= windowOffset_ && offset - windowOffset_ < windowBytes_;
  if (!inWindow && !Load(offset, want)) return 0;
  const size_t at = static_cast<size_t>(offset - windowOffset_);
  *out = window_.get() + at;
  return std::min(want, windowBytes_ - at);
}

const uint8_t* CScanBytes::At(uint64_t offset, size_t n) {
  if (n > kWindowBytes || offset >= end_ || n > end_ - offset) return nullptr;
  const uint8_t* p = nullptr;
  if (Span(offset, n, &p) == n) return p;
  // The run crosses the block's end or the window's: reload the window at
  // the offset itself (it holds kWindowBytes from any sector on).
  if (!Load(offset, n)) return nullptr;
  const size_t at = static_cast<size_t>(offset - windowOffset_);
  return windowBytes_ - at >= n ? window_.get() + at : nullptr;
}

CFileBytes::CFileBytes(CScanBytes& bytes, uint64_t start, uint64_t limit) : bytes_(bytes), start_(start) {
  const uint64_t end = bytes.End();
  const uint64_t room = start < end ? end - start : 0;
  limit_ = std::min(limit, room);
}

const uint8_t* CFileBytes::At(uint64_t offset, size_t n) {
  if (offset > limit_ || n > limit_ - offset) return nullptr;
  return bytes_.At(start_ + offset, n);
}

size_t CFileBytes::Span(uint64_t offset, size_t want, const uint8_t** out) {
  if (offset >= limit_) return 0;
  return bytes_.Span(start_ + offset, static_cast<size_t>(std::min<uint64_t>(want, limit_ - offset)), out);
}

uint64_t CFileBytes::Find(uint64_t offset, uint64_t within, std::string_view needle) {
  if (needle.empty() || needle.size() > 64) return kNotFound;
  const uint64_t stop = offset + std::min(within, limit_ - std::min(limit_, offset));  // last start + 1
  while (offset < stop) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(CScanBytes::kWindowBytes, stop - offset + needle.size() - 1));
    const uint8_t* p = nullptr;
    size_t got = Span(offset, want, &p);
    if (got < needle.size()) {
      // A needle may straddle two spans: look at it whole.
      if (got == 0) return kNotFound;
      const uint8_t* q = At(offset, needle.size());
      if (!q) return kNotFound;
      if (std::memcmp(q, needle.data(), needle.size()) == 0) return offset;
      ++offset;
      continue;
    }
    const size_t starts = std::min<uint64_t>(got - needle.size() + 1, stop - offset);
    const void* hit = memmem(p, starts + needle.size() - 1, needle.data(), needle.size());
    if (hit) return offset + static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
    offset += starts;
  }
  return kNotFound;
}
