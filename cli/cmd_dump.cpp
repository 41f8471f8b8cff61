// quillmore-cli dump SOURCE [--sector N] [--count K]: sectors of a source in
// the data viewer's line format.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/source.h"
#include "engine/volume/volume.h"
#include "services/format.h"

namespace {

// Decimal or 0x-prefixed hexadecimal, no sign, no trailing text.
bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || !end || *end != '\0') return false;
  *value = v;
  return true;
}

// One line of the data viewer: "%08X  " offset, 16 bytes " %02X" with one
// extra blank after the eighth, then the bytes as characters.
std::string DumpLine(uint64_t offset, const uint8_t* bytes, size_t count) {
  std::string line = qm::Format("%08I64X  ", offset);
  for (size_t i = 0; i < 16; ++i) {
    if (i == 8) line += " ";
    line += i < count ? qm::Format(" %02X", bytes[i]) : std::string("   ");
  }
  line += "  ";
  for (size_t i = 0; i < count; ++i) line.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.');
  return line;
}

int RunDump(const std::vector<std::string>& args) {
  qmcli::CommandLine line;
  if (!qmcli::ParseCommandLine("dump", "dump SOURCE [--sector N] [--count K]", args, {}, {"--sector", "--count"}, line))
    return EXIT_USAGE;
  uint64_t sector = 0, count = 1;
  for (const auto& [name, value] : line.values) {
    if (!ParseNumber(value, name == "--sector" ? &sector : &count)) {
      std::fprintf(stderr, "quillmore-cli dump: %s needs a number\n", name.c_str());
      return EXIT_USAGE;
    }
  }
  if (count == 0) return EXIT_OK;

  CVolume* volume = StartAndOpenSource(line.source);
  const std::string& source = line.source;
  if (!volume) return EXIT_FAILED;
  const uint64_t total = volume->TotalSectors;
  if (sector >= total) {
    std::fprintf(stderr, "quillmore-cli: sector %llu is past the end of '%s' (%llu sectors)\n",
                 static_cast<unsigned long long>(sector), source.c_str(), static_cast<unsigned long long>(total));
    return EXIT_FAILED;
  }
  if (count > total - sector) {
    std::fprintf(stderr, "quillmore-cli: '%s' ends after sector %llu; dumping up to there\n", source.c_str(),
                 static_cast<unsigned long long>(total - 1));
    count = total - sector;
  }

  std::printf("Offset      0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F\n");
  // Read in blocks so that a large count never needs a large buffer.
  constexpr uint64_t kBlockSectors = 2048;
  std::vector<uint8_t> buffer(kBlockSectors * 512);
  for (uint64_t done = 0; done < count;) {
    const uint64_t n = std::min(kBlockSectors, count - done);
    const uint64_t first = sector + done;
    const uint32_t got = volume->ReadSectors(buffer.data(), first, n);
    if (got == 0) {
      std::fprintf(stderr, "quillmore-cli: cannot read sector %llu of '%s'\n", static_cast<unsigned long long>(first),
                   source.c_str());
      return EXIT_FAILED;
    }
    for (uint64_t i = 0; i < got; i += 16)
      std::printf("%s\n", DumpLine(first * 512 + i, buffer.data() + i, std::min<uint64_t>(16, got - i)).c_str());
    if (got < n * 512) {
      std::fprintf(stderr, "quillmore-cli: only part of sector %llu could be read\n",
                   static_cast<unsigned long long>(first + got / 512));
      return EXIT_FAILED;
    }
    done += n;
  }
  return EXIT_OK;
}

const CliCommandRegistrar registrar({
    "dump",
    "dump SOURCE [--sector N] [--count K]",
    "print K sectors (default 1) from sector N (default 0) in hex and characters",
    RunDump,
});

}  // namespace
