// 7z: the signature header gives where the archive's header lies and how
// long it is; the archive ends with it. The header's own checksum must hold.
#include <zlib.h>

#include <cstring>

#include "engine/scanner/file_end.h"

FileEnd SevenZipEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 32);
  if (!h || std::memcmp(h, "7z\xBC\xAF\x27\x1C", 6) != 0 || h[6] != 0) return FileEnd::Bad();
  if (crc32(0, h + 12, 20) != Le32(h + 8)) return FileEnd::Bad();
  const uint64_t offset = Le64(h + 12);
  const uint64_t size = Le64(h + 20);
  if (offset > file.Limit() || size > file.Limit() || 32 + offset + size > file.Limit()) return {};
  if (size == 0) return FileEnd::At(32);  // an archive still being written
  return FileEnd::At(32 + offset + size);
}
