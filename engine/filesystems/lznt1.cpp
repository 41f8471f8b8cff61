#include "engine/filesystems/lznt1.h"

#include <algorithm>
#include <cstring>

namespace lznt1 {

namespace {

// Decodes one compressed chunk body [in, in + size) into [out, out + room).
// Returns false when a reference points before the chunk's output or the
// body ends inside a token.
bool DecodeChunk(const uint8_t* in, size_t size, uint8_t* out, size_t room) {
  size_t ip = 0;
  size_t op = 0;
  while (ip < size && op < room) {
    const uint8_t flags = in[ip++];
    for (int bit = 0; bit < 8 && ip < size && op < room; ++bit) {
      if (!(flags & (1u << bit))) {
        out[op++] = in[ip++];
        continue;
      }
      if (ip + 2 > size) return false;
      const uint16_t token = static_cast<uint16_t>(in[ip] | (in[ip + 1] << 8));
      ip += 2;
      if (op == 0) return false;
      // The further into the chunk, the more bits go to the displacement.
      unsigned displacementBits = 4;
      for (size_t i = op - 1; i >= 0x10; i >>= 1) ++displacementBits;
      const unsigned lengthBits = 16 - displacementBits;
      const size_t back = (static_cast<size_t>(token) >> lengthBits) + 1;
      size_t length = (static_cast<size_t>(token) & ((1u << lengthBits) - 1)) + 3;
      if (back > op) return false;
      length = std::min(length, room - op);
      // Byte by byte: a reference may overlap the bytes it produces.
      for (size_t k = 0; k < length; ++k, ++op) out[op] = out[op - back];
    }
  }
  return true;
}

}  // namespace

Result Decompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  Result result;
  if (!in || !out) return result;
  size_t ip = 0;
  size_t op = 0;
  while (ip + 2 <= inSize && op < outSize) {
    const uint16_t header = static_cast<uint16_t>(in[ip] | (in[ip + 1] << 8));
    if (header == 0) break;
    const size_t body = static_cast<size_t>(header & 0x0FFF) + 1;
    if (body > inSize - ip - 2) {
      result.Damaged = true;
      break;
    }
    const uint8_t* data = in + ip + 2;
    const size_t room = std::min(kChunkBytes, outSize - op);
    if (header & 0x8000) {
      if (!DecodeChunk(data, body, out + op, room)) {
        result.Damaged = true;
        break;
      }
    } else {
      // Stored as it is: the body is the chunk's output.
      std::memcpy(out + op, data, std::min(body, room));
    }
    op += room;
    ip += 2 + body;
  }
  result.Produced = op;
  return result;
}

}  // namespace lznt1
