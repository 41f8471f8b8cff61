#include "cli/arguments.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace qmcli {

bool ParseCommandLine(const std::string& command, const std::string& usage, const std::vector<std::string>& args,
                      std::initializer_list<const char*> switches, std::initializer_list<const char*> valued,
                      CommandLine& out) {
  auto listed = [](std::initializer_list<const char*> names, const std::string& a) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return a == n; });
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (listed(switches, a)) {
      out.switches.insert(a);
    } else if (listed(valued, a)) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "quillmore-cli %s: %s needs a value\n", command.c_str(), a.c_str());
        return false;
      }
      out.values[a] = args[++i];
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "quillmore-cli %s: unknown option '%s'\n", command.c_str(), a.c_str());
      return false;
    } else if (out.source.empty()) {
      out.source = a;
    } else {
      std::fprintf(stderr, "quillmore-cli %s: only one SOURCE may be given\n", command.c_str());
      return false;
    }
  }
  if (out.source.empty()) {
    std::fprintf(stderr, "Usage: quillmore-cli %s\n", usage.c_str());
    return false;
  }
  return true;
}

}  // namespace qmcli
