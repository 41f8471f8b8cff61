// gzip: the member header, the deflate stream inflated to its last block,
// and the eight-byte trailer, whose length field must match what the stream
// inflated to.
#include <zlib.h>

#include <vector>

#include "engine/scanner/file_end.h"

namespace {

constexpr size_t kMaxHeaderText = 64 * 1024;

// Passes over a zero-terminated header field; kNotFound when it never ends.
uint64_t PastText(CFileBytes& file, uint64_t pos) {
  const uint64_t zero = file.Find(pos, kMaxHeaderText, std::string_view("\0", 1));
  return zero == CFileBytes::kNotFound ? zero : zero + 1;
}

}  // namespace

FileEnd GzipEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 10);
  if (!h || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (h[3] & 0xE0)) return FileEnd::Bad();
  const uint8_t flags = h[3];
  uint64_t pos = 10;
  if (flags & 4) {
    const uint8_t* x = file.At(pos, 2);
    if (!x) return {};
    pos += 2 + Le16(x);
  }
  if (flags & 8 && (pos = PastText(file, pos)) == CFileBytes::kNotFound) return {};
  if (flags & 16 && (pos = PastText(file, pos)) == CFileBytes::kNotFound) return {};
  if (flags & 2) pos += 2;

  const uint64_t header = pos;
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return {};
  std::vector<uint8_t> out(64 * 1024);
  uint64_t inflated = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    const uint8_t* in = nullptr;
    const size_t n = file.Span(pos, CScanBytes::kWindowBytes, &in);
    if (n == 0) break;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = inflate(&z, Z_NO_FLUSH);
      inflated += out.size() - z.avail_out;
    } while (rc == Z_OK && z.avail_in != 0);
    pos += n - z.avail_in;
    if (rc == Z_BUF_ERROR) rc = Z_OK;  // wants more input
  }
  inflateEnd(&z);
  if (rc == Z_DATA_ERROR) return pos > 512 ? FileEnd::Broken(header, pos) : FileEnd::Bad();
  if (rc != Z_STREAM_END) return {};
  const uint8_t* t = file.At(pos, 8);
  if (!t) return {};
  if (Le32(t + 4) != static_cast<uint32_t>(inflated)) return FileEnd::Broken(header, pos);
  return FileEnd::At(pos + 8);
}
