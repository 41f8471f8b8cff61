#include "cli/arguments.h"

#include <algorithm>

#include "cli/report.h"
#include "cli/terminal_text.h"

namespace qmcli {

bool ParseCommandLine(const std::string& command, const std::string& usage, const std::vector<std::string>& args,
                      std::initializer_list<const char*> switches, std::initializer_list<const char*> valued,
                      CommandLine& out) {
  auto listed = [](std::initializer_list<const char*> names, const std::string& a) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return a == n; });
  };
  auto fail = [&](const std::string& why) {
    ReportUsage(command, why);
    return false;
  };
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    const bool option = !optionsEnded && a.size() > 1 && a[0] == '-';
    if (option && a == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" is "--name value".
    const size_t equals = a.find('=');
    if (option && a.rfind("--", 0) == 0 && equals != std::string::npos && listed(valued, a.substr(0, equals))) {
      out.values[a.substr(0, equals)] = a.substr(equals + 1);
    } else if (option && listed(switches, a)) {
      out.switches.insert(a);
    } else if (option && listed(valued, a)) {
      if (i + 1 >= args.size()) return fail(a + " needs a value");
      out.values[a] = args[++i];
    } else if (option) {
      return fail("unknown option " + Quoted(a));
    } else if (out.source.empty()) {
      out.source = a;
    } else {
      return fail("only one SOURCE may be given (" + Quoted(out.source) + " and " + Quoted(a) + ")");
    }
  }
  if (out.source.empty()) return fail("no SOURCE given\nUsage: quillmore-cli " + usage);
  return true;
}

}  // namespace qmcli
