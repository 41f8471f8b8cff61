// The shape every subcommand's arguments share: one SOURCE, switches, and
// options that take a value ("--to DIR").
#pragma once

#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qmcli {

struct CommandLine {
  std::string source;
  std::set<std::string> switches;
  std::map<std::string, std::string> values;

  bool Has(const std::string& name) const { return switches.count(name) || values.count(name); }
  // The value of an option, or null when it was not given.
  const std::string* Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

// Parses `args` of `command`: options may come in any order around the
// SOURCE, a valued option as "--to DIR" or "--to=DIR", and after a lone "--"
// everything is taken as it stands (a SOURCE that starts with "-"). A missing
// SOURCE, a second SOURCE, an unknown option or an option without its value
// is reported as a usage error and gives false: the caller then exits with
// EXIT_USAGE. A later option of the same name replaces an earlier.
bool ParseCommandLine(const std::string& command, const std::string& usage, const std::vector<std::string>& args,
                      std::initializer_list<const char*> switches, std::initializer_list<const char*> valued,
                      CommandLine& out);

}  // namespace qmcli
