// quillmore-cli dump SOURCE [--sector N] [--count K]: sectors of a source in
// the data viewer's line format.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/number_parser.h"
#include "cli/report.h"
#include "cli/source.h"
#include "cli/terminal_text.h"
#include "engine/volume/volume.h"
#include "services/format.h"

namespace {

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
    if (!qmcli::ParseUnsigned(value, name == "--sector" ? sector : count))
      return qmcli::ReportUsage("dump", name + " takes a whole number (decimal, or hexadecimal after 0x), not " +
                                            qmcli::Quoted(value));
  }
  if (count == 0) return EXIT_OK;

  CVolume* volume = StartAndOpenSource(line.source);
  const std::string& source = line.source;
  if (!volume) return EXIT_FAILED;
  const uint64_t total = volume->TotalSectors;
  if (sector >= total) {
    return qmcli::ReportError("sector " + std::to_string(sector) + " is past the end of " + qmcli::Quoted(source) +
                              " (" + std::to_string(total) + " sectors)");
  }
  if (count > total - sector) {
    qmcli::ReportWarning(qmcli::Quoted(source) + " ends after sector " + std::to_string(total - 1) +
                         "; dumping up to there");
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
    if (got == 0)
      return qmcli::ReportError("cannot read sector " + std::to_string(first) + " of " + qmcli::Quoted(source));
    for (uint64_t i = 0; i < got; i += 16)
      std::printf("%s\n", DumpLine(first * 512 + i, buffer.data() + i, std::min<uint64_t>(16, got - i)).c_str());
    if (got < n * 512)
      return qmcli::ReportError("only part of sector " + std::to_string(first + got / 512) + " could be read");
    done += n;
  }
  return EXIT_OK;
}

constexpr const char* kHelpText =
    R"(Prints sectors of SOURCE as the data viewer shows them: the byte offset,
sixteen bytes in hexadecimal, and the same bytes as characters ("." for those
that are not printable ASCII).

Options:
  --sector N   the first sector (512 bytes each), default 0
  --count K    how many sectors, default 1; a count past the end stops there
N and K are whole numbers, decimal or hexadecimal after 0x (0x3F); no signs,
blanks or other text.

Exit status: 0 printed; 1 SOURCE cannot be read or N lies past its end;
2 bad usage.
)";

const CliCommandRegistrar registrar({
    "dump",
    "dump SOURCE [--sector N] [--count K]",
    "print K sectors (default 1) from sector N (default 0) in hex and characters",
    RunDump, kHelpText});

}  // namespace
