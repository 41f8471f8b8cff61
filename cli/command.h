// Subcommands of quillmore-cli register themselves here, one file each.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct CliCommand {
  std::string name;
  std::string usage;    // one line: "dump SOURCE [--sector N] [--count K]"
  std::string summary;  // what it does, one line
  std::function<int(const std::vector<std::string>& args)> run;  // args after the name
  // `quillmore-cli help NAME` and `NAME --help`: what the command does and
  // each option explained, lines of at most 80 columns.
  std::string help = {};
};

std::vector<CliCommand>& CliCommands();

struct CliCommandRegistrar {
  explicit CliCommandRegistrar(CliCommand command) { CliCommands().push_back(std::move(command)); }
};

// Exit statuses.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;  // an error, or nothing found / recovered
constexpr int EXIT_USAGE = 2;
