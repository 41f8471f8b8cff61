// The LZNT1 decoder NTFS uses for compressed streams. A compression unit is
// a sequence of chunks, each giving 4096 bytes of output; the compressed
// bytes come from the disk, so every chunk header and every back-reference
// is checked against the input and output buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lznt1 {

constexpr size_t kChunkBytes = 4096;

struct Result {
  size_t Produced = 0;   // output bytes up to the end of the last chunk decoded
  bool Damaged = false;  // a chunk header or reference did not hold together
};

// Decodes `inSize` bytes into `out` (`outSize` bytes). Stops at a zero chunk
// header, at the end of the input or when the output is full. A chunk that
// decodes to fewer than 4096 bytes leaves the rest of its 4096 untouched
// (the caller clears the output first). On damage, decoding stops at the bad
// chunk; what came before it stays in `out`.
Result Decompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

}  // namespace lznt1
