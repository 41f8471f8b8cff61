// quillmore-cli types: the file types of the signature database, their
// search switches, and the import of signature files.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/json_output.h"
#include "cli/report.h"
#include "cli/source.h"
#include "cli/terminal_text.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The types an ID or a group name selects (a number is an id; otherwise the
// group, exactly or else ignoring letter case).
std::vector<CFileType*> Select(CFileSignatureDatabase& db, const std::string& what) {
  std::vector<CFileType*> out;
  bool numeric = !what.empty() && what.find_first_not_of("0123456789") == std::string::npos && what.size() < 10;
  if (numeric) {
    if (CFileType* t = db.FindById(std::stoi(what))) out.push_back(t);
    return out;
  }
  for (const auto& t : db.Types())
    if (t->Group == what) out.push_back(t.get());
  if (out.empty())
    for (const auto& t : db.Types())
      if (Lower(t->Group) == Lower(what)) out.push_back(t.get());
  return out;
}

int RunTypes(const std::vector<std::string>& args) {
  bool json = false;
  std::vector<std::pair<bool, std::string>> switches;
  std::vector<std::string> imports;
  std::vector<std::pair<std::string, std::string>> exports;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      json = true;
    } else if (a == "--export" && i + 2 < args.size()) {
      exports.emplace_back(args[i + 1], args[i + 2]);
      i += 2;
    } else if ((a == "--enable" || a == "--disable" || a == "--import") && i + 1 < args.size()) {
      if (a == "--import") imports.push_back(args[++i]);
      else switches.emplace_back(a == "--enable", args[++i]);
    } else {
      return qmcli::ReportUsage("types", "unexpected argument " + qmcli::Quoted(a));
    }
  }

  CliStartup();
  CFileSignatureDatabase& db = theComputer().Signatures();
  int status = EXIT_OK;

  for (const auto& path : imports) {
    std::string message;
    CFileType* type = db.ImportSignatureFile(path, &message);
    if (type)
      std::printf("%s\n", message.c_str());
    else
      status = qmcli::ReportError(message);
  }

  if (!switches.empty()) {
    for (const auto& [enable, what] : switches) {
      std::vector<CFileType*> selected = Select(db, what);
      if (selected.empty()) {
        status = qmcli::ReportError("no file type or group " + qmcli::Quoted(what));
        continue;
      }
      for (CFileType* t : selected) CFileSignatureDatabase::SetSearchEnable(*t, enable);
      std::printf("Search %s for %zu file type(s) (%s).\n", enable ? "switched on" : "switched off", selected.size(),
                  what.c_str());
    }
    if (!db.SaveAll()) {
      status = qmcli::ReportError("the registry store could not be written");
    }
  }

  for (const auto& [what, path] : exports) {
    bool numeric = !what.empty() && what.find_first_not_of("0123456789") == std::string::npos && what.size() < 10;
    const CFileType* type = numeric ? db.FindById(std::stoi(what)) : nullptr;
    if (!type) {
      status = qmcli::ReportError("no file type " + qmcli::Quoted(what));
    } else if (!CFileSignatureDatabase::ExportSignatureFile(*type, path)) {
      status = qmcli::ReportError("cannot write " + qmcli::Quoted(path));
    } else {
      std::printf("File type %d written to '%s'.\n", type->Id, path.c_str());
    }
  }

  if (!imports.empty() || !switches.empty() || !exports.empty()) {
    if (!json) return status;
  }

  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& t : db.Types()) {
      list.push_back({{"id", t->Id},
                      {"group", t->Group},
                      {"title", t->Title},
                      {"extensions", t->FileExtensions},
                      {"search", CFileSignatureDatabase::GetSearchEnable(*t) != 0}});
    }
    qmcli::PrintJson(list);
    return status;
  }
  auto row = [](const std::string& id, const std::string& group, const std::string& title, const std::string& ext,
                const std::string& search) {
    std::printf("%6s  %s  %s  %s  %s\n", id.c_str(), qmcli::PadRight(qmcli::FitWidth(group, 12), 12).c_str(),
                qmcli::PadRight(qmcli::FitWidth(title, 36), 36).c_str(),
                qmcli::PadRight(qmcli::FitWidth(ext, 28), 28).c_str(), search.c_str());
  };
  row("ID", "GROUP", "TITLE", "EXTENSIONS", "SEARCH");
  for (const auto& t : db.Types())
    row(std::to_string(t->Id), qmcli::TerminalSafe(t->Group), qmcli::TerminalSafe(t->Title),
        qmcli::TerminalSafe(t->FileExtensions), CFileSignatureDatabase::GetSearchEnable(*t) ? "on" : "off");
  return status;
}

constexpr const char* kHelpText =
    R"(Lists the file types the sector scan knows (id, group, title, extensions and
whether the scan looks for them), switches types on or off, and imports and
exports signature files (.filesig). Changes are kept in the registry store
(~/.config/quillmore/registry).

Options:
  --json                    print the list as a JSON array
  --enable ID|GROUP         let the scan look for one type (by id) or every
                            type of a group ("Images"; case ignored)
  --disable ID|GROUP        the opposite
  --import FILE.filesig     add the type a signature file describes
  --export ID FILE.filesig  write one type to a signature file
Options may be repeated.

Exit status: 0 done; 1 a type or group was not found or a file could not be
read or written; 2 bad usage.
)";

CliCommandRegistrar registrar({"types", "types [--json] [--enable ID|GROUP] [--disable ID|GROUP] [--import FILE.filesig] [--export ID FILE.filesig]",
                               "list the file types the sector scan knows, switch their search on or off, import "
                               "signature files",
                               RunTypes, kHelpText});

}  // namespace
