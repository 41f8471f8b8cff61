// A small reader of INI-style text files (the language files): UTF-8 with or
// without a byte-order mark, or UTF-16 with one. The whole file is parsed
// once; look-ups are answered from memory.
//
// Lines: "[Section]" opens a section; "key=value" adds a key to the current
// section; blanks around names and values are dropped, and a value enclosed
// in one pair of double quotes loses them. Section and key names compare
// without regard to ASCII letter case. The first occurrence of a key wins (a
// repeated section adds the keys it brings); lines that are neither are
// ignored, as are keys before the first section. A value is cut to
// kMaxValueChars characters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class CIniFile {
public:
  static constexpr size_t kMaxValueChars = 4096;
  // Larger files are not read at all: a language file is a few hundred KB.
  static constexpr size_t kMaxFileBytes = 32u << 20;

  // Parses a file's bytes in any of the accepted encodings.
  static CIniFile Parse(std::string_view bytes);
  // Reads and parses a file; nullopt when it cannot be read or is too large.
  static std::optional<CIniFile> Load(const std::string& path);

  // The value of `key` in `section`, or nullopt when either is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;
  // Section names and a section's keys with their values, in file order.
  std::vector<std::string> Sections() const;
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;

private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
    std::unordered_map<std::string, size_t> index;  // lower-case key -> entry
  };
  const Section* Find(std::string_view section) const;

  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> sectionIndex_;  // lower-case name -> section
};
