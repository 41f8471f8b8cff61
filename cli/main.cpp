// quillmore-cli: the command-line front end over the recovery engine.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "cli/command.h"

std::vector<CliCommand>& CliCommands() {
  static std::vector<CliCommand> commands;
  return commands;
}

namespace {
void PrintHelp(FILE* out) {
  std::fprintf(out,
               "Quillmore: lists live, deleted and lost files on a disk, partition or disk image,\n"
               "and recovers them to another drive. Sources are only ever read.\n\n"
               "Usage: quillmore-cli COMMAND [OPTIONS]\n\nCommands:\n");
  auto commands = CliCommands();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  for (const auto& c : commands) std::fprintf(out, "  %-58s %s\n", c.usage.c_str(), c.summary.c_str());
  std::fprintf(out,
               "\nSOURCE is an image file or a block device (/dev/sdb, /dev/sdb1).\n"
               "Exit status: 0 success, 1 failure or nothing done, 2 bad usage.\n");
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? EXIT_USAGE : EXIT_OK;
  }
  const std::string name = argv[1];
  for (const auto& command : CliCommands()) {
    if (command.name != name) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
      std::printf("Usage: quillmore-cli %s\n%s\n", command.usage.c_str(), command.summary.c_str());
      return EXIT_OK;
    }
    try {
      return command.run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quillmore-cli: %s\n", e.what());
      return EXIT_FAILED;
    } catch (...) {
      std::fprintf(stderr, "quillmore-cli: unexpected failure\n");
      return EXIT_FAILED;
    }
  }
  std::fprintf(stderr, "quillmore-cli: unknown command '%s' (see quillmore-cli --help)\n", name.c_str());
  return EXIT_USAGE;
}
