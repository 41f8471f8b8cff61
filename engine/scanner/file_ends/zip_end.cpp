// ZIP and the formats built on it (office documents, OpenDocument, JAR, APK,
// EPUB): local headers and their data, the central directory, the Zip64
// records and the end-of-central-directory record with its comment. Data
// whose size the local header leaves to a data descriptor is passed over by
// finding the descriptor that gives that very size.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/scanner/file_end.h"
#include "engine/scanner/file_ends/document_title.h"

namespace {

constexpr int kMaxRecords = 2000000;
constexpr uint16_t kDescriptorFlag = 0x0008;

bool KnownMethod(uint16_t m) { return m <= 20 || m == 93 || m == 95 || m == 96 || m == 97 || m == 98 || m == 99; }

// The Zip64 sizes of a local header's extra field; false when absent.
bool Zip64Sizes(const uint8_t* extra, size_t bytes, uint64_t* compressed) {
  for (size_t i = 0; i + 4 <= bytes;) {
    const uint16_t id = Le16(extra + i);
    const uint16_t size = Le16(extra + i + 2);
    if (i + 4 + size > bytes) return false;
    if (id == 0x0001 && size >= 16) {
      *compressed = Le64(extra + i + 4 + 8);
      return true;
    }
    i += 4u + size;
  }
  return false;
}

// The end of a file's data followed by a data descriptor, from the data's
// start: the first descriptor whose compressed size is the distance to it.
uint64_t PastDescriptor(CFileBytes& file, uint64_t data, bool zip64) {
  for (uint64_t from = data;;) {
    const uint64_t at = file.Find(from, file.Limit(), "PK\x07\x08");
    if (at == CFileBytes::kNotFound) return CFileBytes::kNotFound;
    const uint8_t* d = file.At(at, 24);
    if (!d) return CFileBytes::kNotFound;
    const uint64_t size = zip64 ? Le64(d + 8) : Le32(d + 8);
    if (size == at - data) return at + (zip64 ? 24 : 16);
    from = at + 1;
  }
}

// Whether a member is the metadata part that names the document: an office
// document's core properties, an OpenDocument's meta.xml, an EPUB package.
bool MetadataMember(std::string_view name) {
  return name == "docProps/core.xml" || name == "meta.xml" ||
         (name.size() > 4 && name.substr(name.size() - 4) == ".opf");
}

// The first 64 KiB of a member's content, stored or deflated (read from at
// most 256 KiB of its data); empty for other methods or broken data.
std::string MemberText(CFileBytes& file, uint64_t data, uint16_t method, uint64_t compressed) {
  constexpr size_t kMaxText = 64 * 1024;
  constexpr uint64_t kMaxInput = 256 * 1024;
  if (method == 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(compressed, kMaxText));
    const uint8_t* p = file.At(data, n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
  }
  if (method != 8) return {};
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return {};
  std::string out(kMaxText, '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = Z_OK;
  for (uint64_t pos = data; rc == Z_OK && z.avail_out && pos - data < kMaxInput;) {
    const uint8_t* in = nullptr;
    const size_t n = file.Span(pos, static_cast<size_t>(kMaxInput - (pos - data)), &in);
    if (n == 0) break;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(n);
    rc = inflate(&z, Z_NO_FLUSH);
    pos += n - z.avail_in;
    if (rc == Z_BUF_ERROR) break;
  }
  out.resize(out.size() - z.avail_out);
  inflateEnd(&z);
  return rc == Z_OK || rc == Z_STREAM_END ? out : std::string();
}

}  // namespace

FileEnd ZipEnd(CFileBytes& file) {
  uint64_t pos = 0;
  uint64_t record = 0;  // where the record before this one began
  uint64_t central = CFileBytes::kNotFound;  // the central directory's first record
  uint64_t cdEnd = 0;   // and the end of its last
  uint32_t entries = 0;
  std::string title;
  bool metadataRead = false;  // only the first metadata part is read
  for (int step = 0; step < kMaxRecords; ++step) {
    const uint8_t* r = file.At(pos, 4);
    if (!r) return {};
    // A record that is none: the data of the one before may hold the break.
    const uint64_t before = record;
    const auto bad = [&] { return step == 0 ? FileEnd::Bad() : FileEnd::Broken(before, pos); };
    record = pos;
    if (r[0] != 'P' || r[1] != 'K') return bad();
    const uint16_t kind = Be16(r + 2);
    if (kind == 0x0304) {
      const uint8_t* l = file.At(pos, 30);
      if (!l) return {};
      const uint16_t flags = Le16(l + 6);
      const uint16_t method = Le16(l + 8);
      const uint16_t nameBytes = Le16(l + 26);
      const uint16_t extraBytes = Le16(l + 28);
      if (!KnownMethod(method) || nameBytes == 0 || Le16(l + 4) > 100) return bad();
      uint64_t compressed = Le32(l + 18);
      const uint64_t data = pos + 30 + nameBytes + extraBytes;
      bool zip64 = false;
      if (compressed == 0xFFFFFFFFu) {
        const uint8_t* extra = file.At(pos + 30 + nameBytes, extraBytes);
        if (!extra || !Zip64Sizes(extra, extraBytes, &compressed)) return {};
        zip64 = true;
      }
      if (!metadataRead) {
        const uint8_t* name = file.At(pos + 30, nameBytes);
        metadataRead = name && MetadataMember({reinterpret_cast<const char*>(name), nameBytes});
        if (metadataRead) title = XmlTitle(MemberText(file, data, method, compressed));
      }
      if ((flags & kDescriptorFlag) && compressed == 0) {
        pos = PastDescriptor(file, data, zip64);
        if (pos == CFileBytes::kNotFound) return {};
      } else {
        pos = data + compressed;
        // A descriptor may follow even when the header has the sizes.
        if (flags & kDescriptorFlag) {
          const uint8_t* d = file.At(pos, 4);
          if (d && std::memcmp(d, "PK\x07\x08", 4) == 0) pos += zip64 ? 24 : 16;
          else if (d) pos += zip64 ? 20 : 12;
        }
      }
    } else if (kind == 0x0102) {
      const uint8_t* c = file.At(pos, 46);
      if (!c) return {};
      if (central == CFileBytes::kNotFound) central = pos;
      ++entries;
      pos += 46ull + Le16(c + 28) + Le16(c + 30) + Le16(c + 32);
      cdEnd = pos;
    } else if (kind == 0x0505) {  // digital signature
      const uint8_t* s = file.At(pos, 6);
      if (!s) return {};
      pos += 6ull + Le16(s + 4);
    } else if (kind == 0x0606) {  // Zip64 end of central directory
      const uint8_t* z = file.At(pos, 12);
      if (!z) return {};
      const uint64_t size = Le64(z + 4);
      if (size < 44 || size > file.Limit()) return bad();
      pos += 12 + size;
    } else if (kind == 0x0607) {  // Zip64 locator
      pos += 20;
    } else if (kind == 0x0506) {
      const uint8_t* e = file.At(pos, 22);
      if (!e) return {};
      if (step == 0) return FileEnd::Bad();  // an empty archive found alone is no file worth having
      // The end record places the central directory, from the archive's
      // start: one that does not agree belongs to another archive.
      const uint32_t count = Le16(e + 10), size = Le32(e + 12), offset = Le32(e + 16);
      const bool zip64 = offset == 0xFFFFFFFFu || size == 0xFFFFFFFFu || count == 0xFFFF;
      const bool agrees = central != CFileBytes::kNotFound && count == (entries & 0xFFFF) &&
                          (zip64 || (offset == central && size == cdEnd - central));
      if (!agrees) return FileEnd::Broken(0, pos);
      FileEnd end = FileEnd::At(pos + 22 + Le16(e + 20));
      end.Label = title;
      return end;
    } else {
      return bad();
    }
    if (pos > file.Limit()) return {};
  }
  return {};
}
