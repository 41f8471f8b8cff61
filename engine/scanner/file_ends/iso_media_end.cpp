// ISO base media (MP4, MOV, 3GP, M4A, HEIC, AVIF, CR3): the walk over the
// top-level boxes. The file ends where the next bytes are not a top-level
// box (only the box types real files put at the top are followed, so the
// bytes after the file are never taken for one).
#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/scanner/file_end.h"

namespace {

constexpr int kMaxBoxes = 1000000;

constexpr std::string_view kTopLevel[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta",
                                          "pdin", "moof", "mfra", "styp", "sidx", "ssix", "prft", "emsg",
                                          "pnot", "junk", "udta", "jumb", "PICT", "mvhd", "idat", "iinf"};

bool TopLevel(const uint8_t* type) {
  const std::string_view t(reinterpret_cast<const char*>(type), 4);
  return std::find(std::begin(kTopLevel), std::end(kTopLevel), t) != std::end(kTopLevel);
}

}  // namespace

FileEnd IsoMediaEnd(CFileBytes& file) {
  uint64_t pos = 0;
  bool movie = false;  // a box that makes this a media file seen
  for (int step = 0; step < kMaxBoxes; ++step) {
    const uint8_t* b = file.At(pos, 16);
    if (!b) b = file.At(pos, 8);
    if (!b) {
      // The bytes end exactly after a box (the end of the volume).
      if (pos > 0 && pos == file.Limit() && movie) return FileEnd::At(pos);
      return {};
    }
    if (!TopLevel(b + 4)) {
      if (step == 0) return FileEnd::Bad();
      return movie ? FileEnd::At(pos) : FileEnd::Bad();
    }
    uint64_t size = Be32(b);
    if (size == 1) {
      const uint8_t* large = file.At(pos + 8, 8);
      if (!large) return {};
      size = Be64(large);
      if (size < 16) return FileEnd::BreakAt(pos);
    } else if (size == 0) {
      return {};  // the last box runs to the end of a file whose size it does not tell
    } else if (size < 8) {
      return step == 0 ? FileEnd::Bad() : FileEnd::BreakAt(pos);
    }
    if (step == 0 && std::memcmp(b + 4, "ftyp", 4) == 0 && (size < 16 || size > 4096)) return FileEnd::Bad();
    if (std::memcmp(b + 4, "moov", 4) == 0 || std::memcmp(b + 4, "mdat", 4) == 0 ||
        std::memcmp(b + 4, "meta", 4) == 0 || std::memcmp(b + 4, "moof", 4) == 0)
      movie = true;
    if (size > file.Limit() - pos) return {};
    pos += size;
  }
  return {};
}
