// Programs and databases: ELF (its header, program and section tables and
// every section and segment they place), PE (its headers, sections and the
// certificate table) and SQLite (page size times page count, when the header
// vouches for the count).
#include <cstring>

#include "engine/scanner/file_end.h"

namespace {

constexpr uint32_t kMaxTableEntries = 65535;

}  // namespace

FileEnd ElfEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 64);
  if (!h || std::memcmp(h, "\x7F" "ELF", 4) != 0 || (h[4] != 1 && h[4] != 2) || (h[5] != 1 && h[5] != 2) || h[6] != 1)
    return FileEnd::Bad();
  const bool wide = h[4] == 2;
  const bool little = h[5] == 1;
  auto u16 = [little](const uint8_t* p) { return little ? Le16(p) : Be16(p); };
  auto u32 = [little](const uint8_t* p) { return little ? Le32(p) : Be32(p); };
  auto u64 = [little](const uint8_t* p) { return little ? Le64(p) : Be64(p); };
  auto word = [&](const uint8_t* p) -> uint64_t { return wide ? u64(p) : u32(p); };
  const uint64_t phoff = word(h + (wide ? 32 : 28));
  const uint64_t shoff = word(h + (wide ? 40 : 32));
  const size_t at = wide ? 52 : 40;
  const uint16_t ehsize = u16(h + at), phentsize = u16(h + at + 2), phnum = u16(h + at + 4);
  const uint16_t shentsize = u16(h + at + 6), shnum = u16(h + at + 8);
  if (u32(h + 20) != 1 || ehsize != (wide ? 64 : 52)) return FileEnd::Bad();
  if (phnum && phentsize != (wide ? 56 : 32)) return FileEnd::Bad();
  if (shnum && shentsize != (wide ? 64 : 40)) return FileEnd::Bad();
  uint64_t end = ehsize;
  auto reach = [&end](uint64_t a, uint64_t b) {
    if (a <= ~0ull - b) end = std::max(end, a + b);
  };
  if (phnum) reach(phoff, static_cast<uint64_t>(phnum) * phentsize);
  if (shnum) reach(shoff, static_cast<uint64_t>(shnum) * shentsize);
  if (end > file.Limit()) return {};
  for (uint32_t i = 0; i < phnum && i < kMaxTableEntries; ++i) {
    const uint8_t* p = file.At(phoff + i * phentsize, phentsize);
    if (!p) return {};
    if (wide)
      reach(u64(p + 8), u64(p + 32));
    else
      reach(u32(p + 4), u32(p + 16));
  }
  for (uint32_t i = 0; i < shnum && i < kMaxTableEntries; ++i) {
    const uint8_t* s = file.At(shoff + i * shentsize, shentsize);
    if (!s) return {};
    if (u32(s + 4) == 8) continue;  // SHT_NOBITS takes no room in the file
    if (wide)
      reach(u64(s + 24), u64(s + 32));
    else
      reach(u32(s + 16), u32(s + 20));
  }
  if (end > file.Limit()) return {};
  return FileEnd::At(end);
}

FileEnd PeEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 64);
  if (!h || h[0] != 'M' || h[1] != 'Z') return FileEnd::Bad();
  const uint32_t pe = Le32(h + 0x3C);
  if (pe < 64 || pe > 64 * 1024) return FileEnd::Bad();
  const uint8_t* coff = file.At(pe, 24);
  if (!coff) return {};
  if (std::memcmp(coff, "PE\0\0", 4) != 0) return {};  // a DOS program: no end to tell
  const uint16_t sections = Le16(coff + 6);
  const uint16_t optional = Le16(coff + 20);
  if (sections == 0 || sections > 96) return FileEnd::Bad();
  const uint8_t* opt = file.At(pe + 24, optional);
  if (!opt || optional < 2) return FileEnd::Bad();
  const uint16_t magic = Le16(opt);
  if (magic != 0x10B && magic != 0x20B) return FileEnd::Bad();
  uint64_t end = pe + 24ull + optional + sections * 40ull;
  const uint8_t* table = file.At(pe + 24ull + optional, sections * 40u);
  if (!table) return {};
  for (uint32_t i = 0; i < sections; ++i) {
    const uint8_t* s = table + i * 40;
    const uint32_t raw = Le32(s + 16), pointer = Le32(s + 20);
    if (raw && pointer) end = std::max<uint64_t>(end, static_cast<uint64_t>(pointer) + raw);
  }
  // The certificate table lies past the sections and is addressed by file
  // offset (the fifth data directory).
  const size_t directories = magic == 0x10B ? 96 : 112;
  if (optional >= directories + 5 * 8) {
    const uint32_t count = Le32(opt + directories - 4);
    if (count >= 5) {
      const uint32_t at = Le32(opt + directories + 32), size = Le32(opt + directories + 36);
      if (at && size) end = std::max<uint64_t>(end, static_cast<uint64_t>(at) + size);
    }
  }
  if (end > file.Limit()) return {};
  return FileEnd::At(end);
}

FileEnd SqliteEnd(CFileBytes& file) {
  const uint8_t* h = file.At(0, 100);
  if (!h || std::memcmp(h, "SQLite format 3", 16) != 0) return FileEnd::Bad();
  const uint32_t pageSize = Be16(h + 16) == 1 ? 65536 : Be16(h + 16);
  if (pageSize < 512 || (pageSize & (pageSize - 1)) || h[21] != 64 || h[22] != 32 || h[23] != 32)
    return FileEnd::Bad();
  const uint32_t pages = Be32(h + 28);
  // The page count is trusted only when written by a version that keeps it.
  if (pages == 0 || Be32(h + 92) != Be32(h + 24)) return {};
  const uint64_t end = static_cast<uint64_t>(pageSize) * pages;
  if (end > file.Limit()) return {};
  return FileEnd::At(end);
}
