// The built-in English texts written as a language file, the starting point
// of every translation.
#pragma once

#include <string>

// A complete "English.lng": section "LanguageInfo", every built-in numbered
// string in "StringsTable", then the designed texts of the sections (the
// main menu), with line feeds, tabs and carriage returns escaped. UTF-8 with
// a byte-order mark, lines ending in CR LF.
std::string BuiltInLanguageFileText();
