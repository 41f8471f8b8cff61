#include "engine/scanner/compound_document.h"

#include "engine/scanner/file_end.h"
#include "engine/scanner/file_ends/document_title.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

char Lower(uint16_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : static_cast<char>(c); }

// Compares the entry's UTF-16 name (zero-terminated, at most 64 characters
// inside the 128-byte entry) with an ASCII name, letter case folded. With
// `prefix` only the first strlen(name) characters must match.
bool NameIs(const uint8_t* entry, const char* name, bool prefix) {
  size_t n = std::strlen(name);
  size_t i = 0;
  for (; i < 64; ++i) {
    uint16_t c = U16(entry + 2 * i);
    if (c == 0) break;
    if (i >= n) return prefix;
    if (c > 0x7F || Lower(c) != Lower(static_cast<uint8_t>(name[i]))) return false;
  }
  return i == n || (prefix && i > n);
}

struct NamedType {
  const char* name;
  bool prefix;
  int16_t type;
};
constexpr NamedType kStreams[] = {
    {"Workbook", false, 101},      {"WordDocument", false, 109}, {"PowerPoint Document", false, 105},
    {"Scene", false, 501},         {"Props", false, 106},        {"VisioDocument", false, 107},
    {"Envelope", false, 104},      {"Symbol ", true, 500},       {"DocumentViewStyles", false, 520},
    {"BodyText", false, 521},
};

constexpr size_t kEntryBytes = 128;
constexpr size_t kEntries = 100;
constexpr uint32_t kDirectorySectors = 25;  // 100 entries of 128 bytes

constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr uint32_t kMaxStreamBytes = 64 * 1024;
constexpr uint32_t kMaxDirectorySectors = 1024;
// The largest directory or mini FAT read (8192 entries, 262144 small sectors).
constexpr uint64_t kMaxTableBytes = 1 << 20;

// Reading streams of a compound document whose FAT sectors are known: chains
// of sectors and of the mini stream's 64-byte sectors, every step checked
// and every chain bounded.
class CompoundStreams {
public:
  CompoundStreams(CFileBytes& file, const uint8_t* header, const std::vector<uint32_t>& fat, uint32_t sectorBytes)
      : file_(file), fat_(fat), S_(sectorBytes) {
    std::memcpy(header_, header, sizeof header_);
  }

  // The title in the SummaryInformation stream, or empty.
  std::string SummaryTitle() {
    std::vector<uint8_t> directory = Chain(U32(header_ + 0x30), uint64_t{kMaxDirectorySectors} * S_);
    const uint8_t* root = nullptr;
    for (size_t e = 0; e + kEntryBytes <= directory.size(); e += kEntryBytes) {
      const uint8_t* entry = directory.data() + e;
      if (e == 0) {
        if (entry[0x42] != 5) return {};  // the first entry is the root
        root = entry;
      } else if (entry[0x42] == 2 && U16(entry + 0x40) == 40 && U16(entry) == 5 && NameIs(entry + 2, "SummaryInformation", false)) {
        const uint32_t start = U32(entry + 0x74);
        const uint32_t size = std::min(U32(entry + 0x78), kMaxStreamBytes);
        std::vector<uint8_t> stream = size < U32(header_ + 0x38) ? Mini(root, start, size) : Chain(start, size);
        return PropertySetTitle(stream.data(), stream.size());
      }
    }
    return {};
  }

private:
  uint32_t Next(uint32_t sector) {
    const uint32_t perSector = S_ / 4;
    if (sector / perSector >= fat_.size()) return kEndOfChain;
    const uint8_t* f = file_.At((fat_[sector / perSector] + 1ull) * S_ + (sector % perSector) * 4ull, 4);
    return f ? U32(f) : kEndOfChain;
  }

  // The sectors of the chain from `sector`, at most `most` of them.
  std::vector<uint32_t> Sectors(uint32_t sector, uint64_t most) {
    std::vector<uint32_t> out;
    const uint64_t entries = uint64_t{fat_.size()} * S_ / 4;
    while (out.size() < most && out.size() <= entries && sector < 0xFFFFFFFAu) {
      out.push_back(sector);
      sector = Next(sector);
    }
    return out;
  }

  // Up to `bytes` bytes (at most kMaxTableBytes) of the chain from `sector`.
  std::vector<uint8_t> Chain(uint32_t sector, uint64_t bytes) {
    bytes = std::min<uint64_t>(bytes, kMaxTableBytes);
    std::vector<uint8_t> out;
    for (uint32_t s : Sectors(sector, (bytes + S_ - 1) / S_)) {
      const uint8_t* p = file_.At((s + 1ull) * S_, S_);
      if (!p) break;
      out.insert(out.end(), p, p + std::min<uint64_t>(S_, bytes - out.size()));
    }
    return out;
  }

  // `bytes` bytes of a stream in the mini stream: the root entry's data,
  // cut in small sectors that the mini FAT chains. Only the small sectors
  // of the stream are read.
  std::vector<uint8_t> Mini(const uint8_t* root, uint32_t sector, uint32_t bytes) {
    const uint32_t small = 1u << std::min<uint16_t>(U16(header_ + 0x20), 12);
    const std::vector<uint8_t> miniFat = Chain(U32(header_ + 0x3C), uint64_t{U32(header_ + 0x40)} * S_);
    const uint64_t smallSectors = miniFat.size() / 4;
    const std::vector<uint32_t> container = Sectors(U32(root + 0x74), (smallSectors * small + S_ - 1) / S_);
    std::vector<uint8_t> out;
    for (uint64_t hops = 0; out.size() < bytes && sector < smallSectors && hops < smallSectors; ++hops) {
      const uint64_t at = uint64_t{sector} * small;
      if (at / S_ >= container.size() || at % S_ + small > S_) break;
      const uint8_t* p = file_.At((container[at / S_] + 1ull) * S_ + at % S_, small);
      if (!p) break;
      out.insert(out.end(), p, p + std::min<uint64_t>(small, bytes - out.size()));
      sector = U32(miniFat.data() + 4ull * sector);
    }
    return out;
  }

  CFileBytes& file_;
  uint8_t header_[512];
  const std::vector<uint32_t>& fat_;
  uint32_t S_;
};

}  // namespace

int16_t CompoundTypeFromDirectory(const uint8_t* directory, size_t bytes) {
  if (bytes < kEntryBytes || !NameIs(directory, "Root Entry", false)) return TYPE_COMPOUND_DOCUMENT;
  size_t entries = std::min(bytes / kEntryBytes, kEntries);
  for (size_t e = 0; e < entries; ++e) {
    const uint8_t* entry = directory + e * kEntryBytes;
    for (const auto& s : kStreams)
      if (NameIs(entry, s.name, s.prefix)) return s.type;
  }
  return TYPE_COMPOUND_DOCUMENT;
}

int16_t AnalyseCompoundDocument(CFoundObject& object, const uint8_t* sector, const SectorReader& read,
                                uint64_t volumeBytes) {
  try {
    uint16_t shift = U16(sector + 0x1E);
    // Real documents use 512- or 4096-byte sectors; anything outside 128 B
    // to 64 KiB cannot be a sector size and gives no directory.
    if (shift < 7 || shift > 16) return TYPE_COMPOUND_DOCUMENT;
    const uint64_t S = 1ull << shift;
    const uint64_t firstDirectory = U32(sector + 0x30);
    const uint64_t d = object.StartOffset + firstDirectory * S + S;
    if (d < object.StartOffset) return TYPE_COMPOUND_DOCUMENT;
    if (volumeBytes && d >= volumeBytes) return TYPE_COMPOUND_DOCUMENT;
    const uint64_t firstSector = d / 512;
    const size_t skip = static_cast<size_t>(d % 512);
    uint32_t count = kDirectorySectors + (skip ? 1 : 0);
    if (volumeBytes) {
      uint64_t available = volumeBytes / 512 - firstSector;
      if (available < count) count = static_cast<uint32_t>(available);
    }
    if (count == 0 || !read) return TYPE_COMPOUND_DOCUMENT;
    std::vector<uint8_t> buffer(65536, 0);
    uint32_t got = read(buffer.data(), firstSector, count);
    if (got == 0 || got > buffer.size() || got <= skip) return TYPE_COMPOUND_DOCUMENT;
    return CompoundTypeFromDirectory(buffer.data() + skip, std::min<size_t>(got - skip, kEntries * kEntryBytes));
  } catch (...) {
    return TYPE_COMPOUND_DOCUMENT;
  }
}

bool ApplySectorRules(CFoundObject& object, const uint8_t* sector) {
  switch (object.FileType) {
    case TYPE_SIZE_AT_2:
      object.Size = U32(sector + 2);
      object.Flags |= FOF_SIZED;
      return true;
    case TYPE_SIZE_AT_4_PLUS_2048:
      object.Size = static_cast<uint64_t>(U32(sector + 4)) + 2048;
      object.Flags |= FOF_SIZED;
      return true;
    case TYPE_START_32K_BEFORE:
      // The signature sits 32 KiB into the file; a match nearer the volume's
      // start than that cannot be such a file.
      if (object.StartOffset < 32768) return false;
      object.StartOffset -= 32768;
      return true;
    default:
      return true;
  }
}

FileEnd CompoundDocumentEnd(CFileBytes& file) {
  const uint8_t* at = file.At(0, 512);
  if (!at) return FileEnd::Bad();
  // A copy: the bytes At hands out last only until its next call.
  uint8_t h[512];
  std::memcpy(h, at, sizeof h);
  if ( std::memcmp(h, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) != 0 || U16(h + 0x1C) != 0xFFFE)
    return FileEnd::Bad();
  const uint16_t shift = U16(h + 0x1E);
  if (shift < 7 || shift > 16) return FileEnd::Bad();
  const uint32_t S = 1u << shift;
  const uint32_t perSector = S / 4;
  const uint64_t fatSectors = U32(h + 0x2C);
  // Every FAT sector is a sector of the file: no more of them than fit.
  if (fatSectors == 0 || fatSectors > file.Limit() / S) return FileEnd::Bad();

  // Where the FAT's sectors are: 109 in the header, the rest in the chain of
  // DIFAT sectors.
  std::vector<uint32_t> fat;
  for (uint32_t i = 0; i < 109 && fat.size() < fatSectors; ++i) fat.push_back(U32(h + 0x4C + 4 * i));
  uint32_t difat = U32(h + 0x44);
  for (uint64_t hops = 0; fat.size() < fatSectors; ++hops) {
    if (difat >= 0xFFFFFFFAu || hops > fatSectors) return {};
    const uint8_t* d = file.At((difat + 1ull) * S, S);
    if (!d) return {};
    for (uint32_t i = 0; i + 1 < perSector && fat.size() < fatSectors; ++i) fat.push_back(U32(d + 4 * i));
    difat = U32(d + S - 4);
  }

  // The file ends after the last sector the FAT does not mark free.
  uint64_t last = 0;
  bool used = false;
  for (size_t j = 0; j < fat.size(); ++j) {
    if (fat[j] >= 0xFFFFFFFAu) return {};
    const uint8_t* f = file.At((fat[j] + 1ull) * S, S);
    if (!f) return {};
    for (uint32_t i = perSector; i-- > 0;) {
      if (U32(f + 4 * i) == 0xFFFFFFFFu) continue;
      last = std::max<uint64_t>(last, j * perSector + i);
      used = true;
      break;
    }
  }
  if (!used) return FileEnd::Bad();
  const uint64_t end = (last + 2) * S;
  if (end > file.Limit()) return {};
  FileEnd found = FileEnd::At(end);
  found.Label = CompoundStreams(file, h, fat, S).SummaryTitle();
  return found;
}
