#include "cli/report.h"

#include <cstdio>

#include "cli/json_output.h"

namespace qmcli {
namespace {
bool gJsonErrors = false;
}  // namespace

void SetJsonErrors(bool on) { gJsonErrors = on; }

int ReportError(const std::string& text, int status) {
  std::fflush(stdout);
  std::fprintf(stderr, "quillmore-cli: %s\n", text.c_str());
  if (gJsonErrors) PrintJson({{"error", text}, {"exit_status", status}});
  return status;
}

int ReportUsage(const std::string& command, const std::string& text) {
  std::string full = text;
  full += command.empty() ? "\nTry 'quillmore-cli --help'." : "\nTry 'quillmore-cli help " + command + "'.";
  return ReportError(full, 2);
}

// Standard output is flushed first, so that what was printed before a message
// comes before it where both streams go to one place.
void ReportWarning(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "quillmore-cli: warning: %s\n", text.c_str());
}

int ReportNothingFound(const std::string& text) {
  ReportNote(text);
  return 1;
}

void ReportNote(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "quillmore-cli: %s\n", text.c_str());
}

}  // namespace qmcli
