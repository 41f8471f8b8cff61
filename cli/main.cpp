// quillmore-cli: the command-line front end over the recovery engine.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include <unistd.h>

#include "cli/command.h"
#include "cli/report.h"
#include "cli/terminal_text.h"

#ifndef QM_VERSION
#define QM_VERSION "unknown"
#endif

std::vector<CliCommand>& CliCommands() {
  static std::vector<CliCommand> commands;
  return commands;
}

namespace {

const CliCommand* FindCommand(const std::string& name) {
  for (const auto& command : CliCommands())
    if (command.name == name) return &command;
  return nullptr;
}

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "Quillmore: lists live, deleted and lost files on a disk, partition or disk image,\n"
               "and recovers them to another drive. Sources are only ever read.\n\n"
               "Usage: quillmore-cli COMMAND [OPTIONS]\n"
               "       quillmore-cli help COMMAND     what COMMAND does, each option explained\n"
               "       quillmore-cli --version\n\nCommands:\n");
  auto commands = CliCommands();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  for (const auto& c : commands) std::fprintf(out, "  %-16s %s\n", c.name.c_str(), c.summary.c_str());
  std::fprintf(out,
               "\nSOURCE is an image file or a block device (/dev/sdb, /dev/sdb1).\n"
               "Exit status: 0 success; 1 an error, or nothing found or recovered; 2 bad usage.\n");
}

void PrintCommandHelp(const CliCommand& command) {
  std::printf("Usage: quillmore-cli %s\n\n%s\n", command.usage.c_str(), command.summary.c_str());
  if (!command.help.empty()) std::printf("\n%s", command.help.c_str());
  if (!command.help.empty() && command.help.back() != '\n') std::printf("\n");
}

bool IsHelp(const std::string& a) { return a == "--help" || a == "-h"; }

}  // namespace

int main(int argc, char** argv) {
  // Listings of many thousands of objects go to files and pipes in large
  // writes; a terminal keeps its line buffering. What must show at once
  // (the drive watch, messages to standard error) is flushed where written.
  static char outputBuffer[1 << 18];
  if (::isatty(STDOUT_FILENO) != 1) std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  if (args.empty()) {
    PrintHelp(stderr);
    return EXIT_USAGE;
  }
  const std::string name = args[0];
  if (IsHelp(name)) {
    PrintHelp(stdout);
    return EXIT_OK;
  }
  if (name == "--version" || name == "-V") {
    std::printf("quillmore-cli %s\n", QM_VERSION);
    return EXIT_OK;
  }
  if (name == "help") {
    if (args.size() < 2) {
      PrintHelp(stdout);
      return EXIT_OK;
    }
    const CliCommand* command = FindCommand(args[1]);
    if (!command) return qmcli::ReportUsage("", "no command " + qmcli::Quoted(args[1]));
    PrintCommandHelp(*command);
    return EXIT_OK;
  }
  const CliCommand* command = FindCommand(name);
  if (!command) return qmcli::ReportUsage("", "unknown command " + qmcli::Quoted(name));
  args.erase(args.begin());
  // Options come before a lone "--"; what follows it is taken as it stands.
  const auto optionsEnd = std::find(args.begin(), args.end(), "--");
  if (std::any_of(args.begin(), optionsEnd, IsHelp)) {
    PrintCommandHelp(*command);
    return EXIT_OK;
  }
  qmcli::SetJsonErrors(std::find(args.begin(), optionsEnd, "--json") != optionsEnd);
  try {
    return command->run(args);
  } catch (const std::exception& e) {
    return qmcli::ReportError(e.what());
  } catch (...) {
    return qmcli::ReportError("unexpected failure");
  }
}
