// MP3: the ID3v2 tag, then MPEG audio frames, each of the length its header
// gives and of the stream's version, layer and sample rate, then the ID3v1
// and APE tags. The file ends after the last frame or tag that follows.
#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxFrames = 10000000;

const uint16_t kBitrates[2][3][16] = {
    // MPEG-1: layer I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    // MPEG-2 and 2.5: layer I, II, III
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
const uint32_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// The length of the frame whose header is `h`, or 0; `key` receives the
// bits every frame of one stream shares.
uint32_t FrameBytes(const uint8_t* h, uint32_t* key) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const uint32_t version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const uint32_t layer = (h[1] >> 1) & 3;    // 1: III, 2: II, 3: I
  const uint32_t bitrate = h[2] >> 4;
  const uint32_t rate = (h[2] >> 2) & 3;
  if (version == 1 || layer == 0 || bitrate == 0 || bitrate == 15 || rate == 3) return 0;
  const uint32_t kbps = kBitrates[version == 3 ? 0 : 1][3 - layer][bitrate];
  const uint32_t hz = kRates[version][rate];
  const uint32_t padding = (h[2] >> 1) & 1;
  *key = (h[1] & 0xFE) << 8 | (h[2] & 0x0C);
  if (layer == 3) return (12 * kbps * 1000 / hz + padding) * 4;
  const uint32_t perFrame = layer == 1 && version != 3 ? 72 : 144;
  return perFrame * kbps * 1000 / hz + padding;
}

}  // namespace

FileEnd Mp3End(CFileBytes& file) {
  uint64_t pos = 0;
  const uint8_t* h = file.At(0, 10);
  if (!h) return {};
  if (std::memcmp(h, "ID3", 3) == 0) {
    if (h[3] < 2 || h[3] > 4 || ((h[6] | h[7] | h[8] | h[9]) & 0x80)) return FileEnd::Bad();
    pos = 10 + ((h[6] << 21) | (h[7] << 14) | (h[8] << 7) | h[9]) + ((h[5] & 0x10) ? 10 : 0);
    // Some writers pad after the tag with zeros.
    for (int i = 0; i < 4096; ++i) {
      const uint8_t* z = file.At(pos, 1);
      if (!z || *z != 0) break;
      ++pos;
    }
  }
  uint32_t stream = 0;
  int frames = 0;
  for (; frames < kMaxFrames; ++frames) {
    const uint8_t* f = file.At(pos, 4);
    if (!f) break;
    uint32_t key = 0;
    const uint32_t bytes = FrameBytes(f, &key);
    if (bytes < 4 || (frames && key != stream)) break;
    stream = key;
    pos += bytes;
  }
  // A handful of frames is what a random match could give; a real stream
  // has many.
  if (frames < 4) return FileEnd::Bad();
  if (const uint8_t* t = file.At(pos, 32); t && std::memcmp(t, "APETAGEX", 8) == 0) pos += 32 + Le32(t + 12);
  if (const uint8_t* t = file.At(pos, 3); t && std::memcmp(t, "TAG", 3) == 0) pos += 128;
  if (pos > file.Limit()) return {};
  return FileEnd::At(pos);
}
