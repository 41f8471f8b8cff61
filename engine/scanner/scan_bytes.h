// Byte access for the end finders: a lost file's bytes read from the block
// the scan holds in memory, and from the volume's own sector reader for the
// few sectors outside it, through one small window. Every access is checked
// against the volume's end and the file's size bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/scanner/compound_document.h"

// The bytes of the volume as the scan sees them.
class CScanBytes {
public:
  // `block` holds `blockBytes` bytes of the volume from byte `blockOffset`
  // (may be null); `read` reads other sectors (may be empty); `volumeBytes`
  // is the volume's size (0: unknown, reads decide).
  CScanBytes(const uint8_t* block, uint64_t blockOffset, size_t blockBytes, SectorReader read, uint64_t volumeBytes);

  // The largest run At() hands out at once.
  static constexpr size_t kWindowBytes = 256 * 1024;

  // `n` bytes at `offset` (n <= kWindowBytes), valid until the next call;
  // null when any of them lies past the volume's end or cannot be read.
  const uint8_t* At(uint64_t offset, size_t n);
  // Up to `want` bytes from `offset`: sets `out` and returns how many (0 at
  // the end or on a failed read).
  size_t Span(uint64_t offset, size_t want, const uint8_t** out);
  // The volume's size, or ~0 when unknown.
  uint64_t End() const { return end_; }

private:
  // Reads the window from the sector holding `offset`: the whole window
  // when the reads go on where the block or the window ended (a walk
  // through a file's data), else only the sectors that hold `need` bytes
  // (a table or a header looked up far from the walk), rounded up to 4 KiB.
  bool Load(uint64_t offset, size_t need);

  const uint8_t* block_;
  uint64_t blockOffset_;
  size_t blockBytes_;
  SectorReader read_;
  uint64_t end_;
  // Not zeroed: only the bytes read are handed out.
  std::unique_ptr<uint8_t[]> window_;
  uint64_t windowOffset_ = 0;
  size_t windowBytes_ = 0;  // valid bytes in the window
};

// One candidate file's bytes: offsets relative to its start, never past its
// size bound (the type's largest size, the volume's end).
class CFileBytes {
public:
  static constexpr uint64_t kNotFound = ~0ull;

  CFileBytes(CScanBytes& bytes, uint64_t start, uint64_t limit);

  const uint8_t* At(uint64_t offset, size_t n);
  size_t Span(uint64_t offset, size_t want, const uint8_t** out);
  // The first `needle` at or after `offset` that starts before `offset +
  // within`; kNotFound when there is none or the bytes end first.
  uint64_t Find(uint64_t offset, uint64_t within, std::string_view needle);
  // The file's size bound.
  uint64_t Limit() const { return limit_; }
  // Its first byte on the volume.
  uint64_t Start() const { return start_; }

private:
  CScanBytes& bytes_;
  uint64_t start_;
  uint64_t limit_;
};

// Little- and big-endian numbers at a pointer.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t Be64(const uint8_t* p) { return (static_cast<uint64_t>(Be32(p)) << 32) | Be32(p + 4); }
