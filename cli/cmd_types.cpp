// quillmore-cli types: the file types of the signature database, their
// search switches, and the import of signature files.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/source.h"
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
      std::fprintf(stderr, "quillmore-cli types: unexpected argument '%s'\n", a.c_str());
      return EXIT_USAGE;
    }
  }

  CliStartup();
  CFileSignatureDatabase& db = theComputer().Signatures();
  int status = EXIT_OK;

  for (const auto& path : imports) {
    std::string message;
    CFileType* type = db.ImportSignatureFile(path, &message);
    std::fprintf(type ? stdout : stderr, "%s\n", message.c_str());
    if (!type) status = EXIT_FAILED;
  }

  if (!switches.empty()) {
    for (const auto& [enable, what] : switches) {
      std::vector<CFileType*> selected = Select(db, what);
      if (selected.empty()) {
        std::fprintf(stderr, "quillmore-cli types: no file type or group '%s'\n", what.c_str());
        status = EXIT_FAILED;
        continue;
      }
      for (CFileType* t : selected) CFileSignatureDatabase::SetSearchEnable(*t, enable);
      std::printf("Search %s for %zu file type(s) (%s).\n", enable ? "switched on" : "switched off", selected.size(),
                  what.c_str());
    }
    if (!db.SaveAll()) {
      std::fprintf(stderr, "quillmore-cli types: the registry store could not be written\n");
      status = EXIT_FAILED;
    }
  }

  for (const auto& [what, path] : exports) {
    bool numeric = !what.empty() && what.find_first_not_of("0123456789") == std::string::npos && what.size() < 10;
    const CFileType* type = numeric ? db.FindById(std::stoi(what)) : nullptr;
    if (!type) {
      std::fprintf(stderr, "quillmore-cli types: no file type '%s'\n", what.c_str());
      status = EXIT_FAILED;
    } else if (!CFileSignatureDatabase::ExportSignatureFile(*type, path)) {
      std::fprintf(stderr, "quillmore-cli types: cannot write '%s'\n", path.c_str());
      status = EXIT_FAILED;
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
    std::printf("%s\n", list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return status;
  }
  std::printf("%6s  %-12s  %-36s  %-28s  %s\n", "ID", "GROUP", "TITLE", "EXTENSIONS", "SEARCH");
  for (const auto& t : db.Types()) {
    std::string title = t->Title.size() > 36 ? t->Title.substr(0, 35) + "~" : t->Title;
    std::string ext = t->FileExtensions.size() > 28 ? t->FileExtensions.substr(0, 27) + "~" : t->FileExtensions;
    std::printf("%6d  %-12s  %-36s  %-28s  %s\n", t->Id, t->Group.c_str(), title.c_str(), ext.c_str(),
                CFileSignatureDatabase::GetSearchEnable(*t) ? "on" : "off");
  }
  return status;
}

CliCommandRegistrar registrar({"types", "types [--json] [--enable ID|GROUP] [--disable ID|GROUP] [--import FILE.filesig] [--export ID FILE.filesig]",
                               "list the file types the sector scan knows, switch their search on or off, import "
                               "signature files",
                               RunTypes});

}  // namespace
