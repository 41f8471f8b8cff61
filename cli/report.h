// Every message quillmore-cli gives about what went wrong has one form:
// "quillmore-cli: TEXT" on standard error. When the command was asked for
// --json, an error is also written as a JSON object on standard output,
//   {"error": "TEXT", "exit_status": N}
// so that a script reading the JSON sees why there is no result.
#pragma once

#include <string>

namespace qmcli {

// Whether errors also go out as JSON (set once from the arguments).
void SetJsonErrors(bool on);

// Prints the error and returns `status` (EXIT_FAILED unless told).
int ReportError(const std::string& text, int status = 1);
// A usage error: the text, then "Try 'quillmore-cli help COMMAND'."; returns
// EXIT_USAGE.
int ReportUsage(const std::string& command, const std::string& text);
// "quillmore-cli: warning: TEXT" on standard error; never JSON.
void ReportWarning(const std::string& text);
// "Nothing found" the same way for every command: the note on standard
// error ("quillmore-cli: no file matched"), the command's output stays as
// it is (an empty JSON array, a table without rows); returns EXIT_FAILED.
int ReportNothingFound(const std::string& text);
// A plain note about the run on standard error, "quillmore-cli: TEXT" (a
// stop asked for, a choice taken); never JSON.
void ReportNote(const std::string& text);

}  // namespace qmcli
