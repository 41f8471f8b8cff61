// The per-user registry store: hierarchical keys holding DWORD, binary and
// string values, kept in one text file in the registry-export form
//   [Software\Quillmore\Professional\1.0\Signatures\00101]
//   "Name"=dword:0000000a
//   "Name"=hex:00,01,...
//   "Name"="text"
// in $QUILLMORE_CONFIG_DIR (else $XDG_CONFIG_HOME/quillmore, else
// ~/.config/quillmore), file "registry". Key paths are backslash-separated and
// compared without regard to ASCII case. Saves are atomic (temporary file,
// flush, rename) under an flock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class CRegistryStore {
public:
  using Value = std::variant<uint32_t, std::vector<uint8_t>, std::string>;

  // A store backed by `path`; nothing is read until Load().
  explicit CRegistryStore(std::string path);
  ~CRegistryStore();
  CRegistryStore(const CRegistryStore&) = delete;
  CRegistryStore& operator=(const CRegistryStore&) = delete;
  // The current user's store (path from the environment as above), loaded.
  static CRegistryStore& User();
  // The folder the user's store lives in.
  static std::string ConfigDir();

  // Reads the file; a damaged file is read as far as it parses. False when
  // the file is missing or unreadable (the store is then empty). Keys deeper
  // than 32 levels, names over 1 KiB, lines over 4 MiB and files over 64 MiB
  // are refused; a file with such parts, or that is not a regular file (a
  // FIFO is never waited on), is renamed to "registry.damaged" and LoadNote
  // says so.
  bool Load();
  // The line for the log about the last Load (empty when all was well).
  const std::string& LoadNote() const { return loadNote_; }
  // Writes the whole store atomically. False on failure.
  bool Save();
  // Merges text in the registry-export form into the store (used for the
  // shipped signature database); false when nothing could be parsed.
  bool ImportText(const std::string& text);
  std::string ExportText() const;

  bool KeyExists(const std::string& key) const;
  void CreateKey(const std::string& key);
  void DeleteKey(const std::string& key);  // with its sub-keys
  // Names of the direct sub-keys, in sorted order.
  std::vector<std::string> SubKeys(const std::string& key) const;
  // Names of the values of a key, in stored order.
  std::vector<std::string> ValueNames(const std::string& key) const;
  // The names and values of a key, in stored order (one look-up for a key
  // whose values are all wanted).
  std::vector<std::pair<std::string, Value>> Values(const std::string& key) const;

  std::optional<Value> Get(const std::string& key, const std::string& name) const;
  std::optional<uint32_t> GetDword(const std::string& key, const std::string& name) const;
  std::optional<std::string> GetString(const std::string& key, const std::string& name) const;
  std::optional<std::vector<uint8_t>> GetBinary(const std::string& key, const std::string& name) const;
  void Set(const std::string& key, const std::string& name, Value value);  // creates the key
  void SetDword(const std::string& key, const std::string& name, uint32_t v) { Set(key, name, v); }
  void SetString(const std::string& key, const std::string& name, std::string v) { Set(key, name, std::move(v)); }
  void SetBinary(const std::string& key, const std::string& name, std::vector<uint8_t> v) { Set(key, name, std::move(v)); }
  void DeleteValue(const std::string& key, const std::string& name);

  const std::string& Path() const { return path_; }

private:
  struct Key;
  // Merges text; the number of lines refused for their size or depth, -1
  // when nothing could be parsed.
  int Import(const std::string& text);
  void SetAside(const char* why);
  std::string path_;
  std::string loadNote_;
  mutable std::recursive_mutex mutex_;
  std::unique_ptr<Key> root_;
};
