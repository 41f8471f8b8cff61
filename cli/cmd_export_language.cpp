// quillmore-cli export-language: writes the built-in English texts as a
// language file, the starting point of a translation.
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "platform/system.h"
#include "services/language_export.h"

namespace {

constexpr const char* kUsage = "export-language FILE";

int RunExportLanguage(const std::vector<std::string>& args) {
  qmcli::CommandLine line;
  if (!qmcli::ParseCommandLine("export-language", kUsage, args, {}, {}, line)) return EXIT_USAGE;
  const std::string text = BuiltInLanguageFileText();
  std::ofstream out(line.source, std::ios::binary | std::ios::trunc);
  if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out || !out.flush()) {
    std::fprintf(stderr, "quillmore-cli: cannot write '%s': %s\n", line.source.c_str(),
                 qm::SystemErrorText(errno).c_str());
    return EXIT_FAILED;
  }
  return EXIT_OK;
}

CliCommandRegistrar registrar({"export-language", kUsage,
                               "write the built-in English texts as a language file (English.lng) to translate",
                               RunExportLanguage});

}  // namespace
