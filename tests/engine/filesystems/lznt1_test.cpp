// The LZNT1 decoder on chunks built byte by byte: literals, references whose
// displacement and length split moves with the position in the chunk,
// stored chunks, several chunks in a unit, and input built to make it read
// or write outside its buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/filesystems/lznt1.h"

namespace {

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

// A compressed chunk around `body`.
std::vector<uint8_t> Compressed(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> chunk(body.size() + 2);
  const uint16_t header = static_cast<uint16_t>(0xB000 | (body.size() - 1));
  chunk[0] = static_cast<uint8_t>(header);
  chunk[1] = static_cast<uint8_t>(header >> 8);
  std::copy(body.begin(), body.end(), chunk.begin() + 2);
  return chunk;
}

std::string Decode(const std::vector<uint8_t>& in, size_t outSize, lznt1::Result* result = nullptr) {
  std::vector<uint8_t> out(outSize, 0);
  lznt1::Result r = lznt1::Decompress(in.data(), in.size(), out.data(), out.size());
  if (result) *result = r;
  return std::string(out.begin(), out.end());
}

TEST(Lznt1, LiteralsAndOverlappingReference) {
  // "abc", then 9 bytes from 3 back: the reference reads what it writes.
  std::vector<uint8_t> body = {0x08, 'a', 'b', 'c'};
  Put16(body, (2 << 12) | (9 - 3));
  lznt1::Result r;
  std::string out = Decode(Compressed(body), 4096, &r);
  EXPECT_FALSE(r.Damaged);
  EXPECT_EQ(r.Produced, 4096u);
  EXPECT_EQ(out.substr(0, 13), std::string("abcabcabcabc") + '\0');
}

TEST(Lznt1, DisplacementWidensWithThePosition) {
  // After 17 bytes the displacement takes 5 bits and the length 11.
  std::vector<uint8_t> body = {0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H',
                               0x00, 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
                               0x02, 'Q'};
  Put16(body, static_cast<uint16_t>((16 << 11) | 1));  // 17 back, 4 bytes
  std::string out = Decode(Compressed(body), 4096);
  EXPECT_EQ(out.substr(0, 21), "ABCDEFGHIJKLMNOPQABCD");
}

TEST(Lznt1, StoredChunkThenCompressedChunkAtTheNext4096) {
  std::vector<uint8_t> in;
  Put16(in, 0x3FFF);
  for (int i = 0; i < 4096; ++i) in.push_back(static_cast<uint8_t>(i * 7));
  std::vector<uint8_t> body = {0x00, 'x', 'y'};
  std::vector<uint8_t> second = Compressed(body);
  in.insert(in.end(), second.begin(), second.end());
  Put16(in, 0);  // end of the unit
  lznt1::Result r;
  std::string out = Decode(in, 16384, &r);
  EXPECT_FALSE(r.Damaged);
  EXPECT_EQ(r.Produced, 8192u);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(static_cast<uint8_t>(out[i]), static_cast<uint8_t>(i * 7)) << i;
  EXPECT_EQ(out.substr(4096, 3), std::string("xy") + '\0');
  EXPECT_EQ(out.substr(8192), std::string(8192, '\0'));
}

TEST(Lznt1, HostileChunksStopWithoutLeavingTheBuffers) {
  {  // a reference before the start of the chunk's output
    std::vector<uint8_t> body = {0x02, 'a'};
    Put16(body, (5 << 12) | 0);
    lznt1::Result r;
    Decode(Compressed(body), 4096, &r);
    EXPECT_TRUE(r.Damaged);
  }
  {  // a reference as the first token: nothing to copy from
    std::vector<uint8_t> body = {0x01};
    Put16(body, 0);
    lznt1::Result r;
    Decode(Compressed(body), 4096, &r);
    EXPECT_TRUE(r.Damaged);
  }
  {  // a token cut by the end of the chunk
    std::vector<uint8_t> body = {0x02, 'a', 0x00};
    lznt1::Result r;
    Decode(Compressed(body), 4096, &r);
    EXPECT_TRUE(r.Damaged);
  }
  {  // a header claiming more bytes than the input holds
    std::vector<uint8_t> in;
    Put16(in, 0xBFFF);
    in.push_back(0);
    in.push_back('a');
    lznt1::Result r;
    Decode(in, 4096, &r);
    EXPECT_TRUE(r.Damaged);
    EXPECT_EQ(r.Produced, 0u);
  }
  {  // a long reference at the end of a short output is cut at the output's end
    std::vector<uint8_t> body = {0x02, 'z'};
    Put16(body, (0 << 12) | 0x0FFF);
    lznt1::Result r;
    std::string out = Decode(Compressed(body), 100, &r);
    EXPECT_FALSE(r.Damaged);
    EXPECT_EQ(out, std::string(100, 'z'));
  }
  {  // a stored chunk larger than the output, and a lone header byte
    std::vector<uint8_t> in;
    Put16(in, 0x3FFF);
    in.resize(2 + 4096, 'q');
    in.push_back(0x05);
    lznt1::Result r;
    std::string out = Decode(in, 10, &r);
    EXPECT_EQ(out, std::string(10, 'q'));
    EXPECT_EQ(r.Produced, 10u);
  }
}

}  // namespace
