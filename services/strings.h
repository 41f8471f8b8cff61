// Numbered user-visible texts, in the active language or else the built-in
// English, and the built-in English texts themselves: the one place where
// they are written down.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The text of a numbered string in the active interface language, else the
// built-in English; empty for a number without a text. An owned copy, safe
// from any thread.
std::string GetString(uint32_t number);

struct BuiltInString {
  uint32_t Number;
  const char* Text;
};
// Every built-in numbered string, sorted by number.
std::span<const BuiltInString> BuiltInStrings();
// The built-in English text of a number, or null when it has none.
const char* FindBuiltInString(uint32_t number);

// Texts that a language file gives in sections of their own (a menu's items
// by position and command identifier): the designed English, so that an
// exported file lists them for translators.
struct BuiltInSectionEntry {
  const char* Key;
  const char* Text;
};
struct BuiltInSection {
  const char* Name;
  std::span<const BuiltInSectionEntry> Entries;
};
std::span<const BuiltInSection> BuiltInSections();
// The designed English of one entry of a section, or null.
const char* FindBuiltInSectionText(std::string_view section, std::string_view key);
