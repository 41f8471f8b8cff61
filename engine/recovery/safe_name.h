// Turning names read from a disk into names that are safe to create below the
// destination folder, and creating folders and files there without ever
// leaving it, following a symbolic link, or replacing an existing file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <string_view>
#include <vector>

namespace qm::recovery {

// The longest name, in bytes, that a Linux file system takes for one entry.
constexpr size_t kMaxNameBytes = 255;

// One path component from a disk name: "/", NUL and control characters
// become "_", "." and ".." become "_." and "_..", an empty name becomes "_",
// and a name longer than kMaxNameBytes is cut (keeping its extension, never
// splitting a UTF-8 character).
std::string SafeComponent(std::string_view name);

// Cuts a name to `maxBytes`, keeping the extension when it is short enough to
// keep; never splits a UTF-8 character.
std::string FitName(std::string_view name, size_t maxBytes = kMaxNameBytes);

// "name (n).ext" for the n-th candidate (n >= 2), fitted to kMaxNameBytes.
std::string NumberedName(std::string_view name, unsigned n);
// `suffix` put between the name's stem and its extension ("photo.jpg",
// " (incomplete)": "photo (incomplete).jpg"), fitted to kMaxNameBytes.
std::string SuffixedName(std::string_view name, std::string_view suffix);

// The folders of a "/"-separated folder path as safe components; empty
// components (leading, trailing and doubled separators) are dropped.
std::vector<std::string> SafeFolderComponents(std::string_view path);

// A directory descriptor that closes itself.
class UniqueFd {
public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1);

private:
  int fd_ = -1;
};

// Opens the destination root (a folder the user chose: symbolic links in it
// are followed), creating it and the folders above it when missing.
// On failure returns an invalid descriptor and names the folder that could
// not be created in `failed`.
UniqueFd OpenRoot(const std::string& root, std::string* failed);

// Below `parent`, opens each folder of `components` in turn, creating it when
// missing, never following a symbolic link. On failure returns an invalid
// descriptor, names the failing folder (joined below `parentPath`) in
// `failed` and leaves errno set.
UniqueFd OpenFolderChain(int parent, const std::string& parentPath, const std::vector<std::string>& components,
                         std::string* failed);

// The next number to try for a name that was taken, per folder (by device
// and inode) and name, so that a folder of many files with one name does not
// try "name", "name (2)", ... from the start for each of them. Only names
// that were taken are remembered.
class NameNumbers {
public:
  unsigned First(int dir, const std::string& name) const;
  void Taken(int dir, const std::string& name, unsigned used);

private:
  using Key = std::tuple<uint64_t, uint64_t, std::string>;
  static Key MakeKey(int dir, const std::string& name);
  std::map<Key, unsigned> next_;
};

// Creates a new file `name` in the folder `dir` for writing, never replacing
// or following anything that exists: when the name is taken, tries
// "name (2).ext", "name (3).ext" and so on, from the number `numbers`
// remembers when given. `chosen` receives the name used, `existed` whether
// the first name was taken. Returns the descriptor or -1 (errno set).
int CreateNewFile(int dir, const std::string& name, std::string* chosen, bool* existed,
                  NameNumbers* numbers = nullptr);

// Joins a folder path and a name with one "/".
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace qm::recovery
