#include "engine/recovery/safe_name.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::recovery {

namespace {

// An extension worth keeping when a name is cut: a dot that is not the
// first character, followed by a few bytes.
constexpr size_t kMaxKeptExtension = 32;

size_t ExtensionStart(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name.size();
  if (name.size() - dot > kMaxKeptExtension) return name.size();
  return dot;
}

// The longest prefix of `text` of at most `bytes` bytes that ends on a
// character boundary.
std::string_view CutUtf8(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

bool IsUnsafeByte(unsigned char c) { return c == '/' || c < 0x20 || c == 0x7F; }

}  // namespace

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

std::string FitName(std::string_view name, size_t maxBytes) {
  if (name.size() <= maxBytes) return std::string(name);
  size_t ext = ExtensionStart(name);
  std::string_view extension = name.substr(ext);
  if (extension.size() + 1 > maxBytes) return std::string(CutUtf8(name, maxBytes));
  std::string out(CutUtf8(name.substr(0, ext), maxBytes - extension.size()));
  out.append(extension);
  return out;
}

std::string SafeComponent(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) out.push_back(IsUnsafeByte(static_cast<unsigned char>(c)) ? '_' : c);
  if (out.empty()) return "_";
  if (out == "." || out == "..") out.insert(0, "_");
  return FitName(out);
}

std::string SuffixedName(std::string_view name, std::string_view suffix) {
  size_t ext = ExtensionStart(name);
  std::string_view extension = name.substr(ext);
  if (extension.size() + suffix.size() + 1 > kMaxNameBytes) extension = {};
  std::string_view stem = name.substr(0, name.size() - extension.size());
  std::string out(CutUtf8(stem, kMaxNameBytes - extension.size() - suffix.size()));
  out += suffix;
  out.append(extension);
  return out;
}

std::string NumberedName(std::string_view name, unsigned n) {
  return SuffixedName(name, " (" + std::to_string(n) + ")");
}

std::vector<std::string> SafeFolderComponents(std::string_view path) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string_view::npos) next = path.size();
    if (next > pos) out.push_back(SafeComponent(path.substr(pos, next - pos)));
    pos = next + 1;
  }
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

UniqueFd OpenRoot(const std::string& root, std::string* failed) {
  // One level at a time from the left, as far as the folders are missing.
  std::string prefix;
  size_t pos = 0;
  while (pos < root.size()) {
    size_t next = root.find('/', pos);
    if (next == std::string::npos) next = root.size();
    prefix.assign(root, 0, next);
    pos = next + 1;
    if (prefix.empty() || prefix.back() == '/') continue;
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      int saved = errno;
      struct stat st {};
      if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;  // exists but not ours to create
      if (failed) *failed = prefix;
      errno = saved;
      return UniqueFd();
    }
  }
  int fd = ::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && failed) *failed = root;
  return UniqueFd(fd);
}

UniqueFd OpenFolderChain(int parent, const std::string& parentPath, const std::vector<std::string>& components,
                         std::string* failed) {
  UniqueFd current(::fcntl(parent, F_DUPFD_CLOEXEC, 0));
  std::string currentPath = parentPath;
  if (!current.Valid()) {
    if (failed) *failed = parentPath;
    return UniqueFd();
  }
  for (const std::string& component : components) {
    // A name taken by a file or a symbolic link gives way to "name (2)" and
    // so on, so the folder always ends up a real folder below the parent.
    UniqueFd next;
    std::string used;
    int lastError = 0;
    for (unsigned n = 1; n <= 100 && !next.Valid(); ++n) {
      used = n == 1 ? component : NumberedName(component, n);
      if (::mkdirat(current.Get(), used.c_str(), 0777) != 0 && errno != EEXIST) {
        lastError = errno;
        break;
      }
      int fd = ::openat(current.Get(), used.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd >= 0) {
        next.Reset(fd);
      } else {
        lastError = errno;
        if (lastError != ENOTDIR && lastError != ELOOP) break;
      }
    }
    if (!next.Valid()) {
      if (failed) *failed = JoinPath(currentPath, used);
      errno = lastError;
      return UniqueFd();
    }
    current = std::move(next);
    currentPath = JoinPath(currentPath, used);
  }
  return current;
}

NameNumbers::Key NameNumbers::MakeKey(int dir, const std::string& name) {
  struct stat st {};
  if (::fstat(dir, &st) != 0) return {0, 0, name};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), name};
}

unsigned NameNumbers::First(int dir, const std::string& name) const {
  if (next_.empty()) return 1;
  auto it = next_.find(MakeKey(dir, name));
  return it == next_.end() ? 1 : it->second;
}

void NameNumbers::Taken(int dir, const std::string& name, unsigned used) { next_[MakeKey(dir, name)] = used + 1; }

int CreateNewFile(int dir, const std::string& name, std::string* chosen, bool* existed, NameNumbers* numbers) {
  constexpr unsigned kLastNumber = 100000;
  const unsigned first = numbers ? numbers->First(dir, name) : 1;
  if (existed) *existed = first > 1;
  for (unsigned n = first; n <= kLastNumber; ++n) {
    std::string candidate = n == 1 ? name : NumberedName(name, n);
    int fd = ::openat(dir, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (chosen) *chosen = candidate;
      if (numbers && n > 1) numbers->Taken(dir, name, n);
      return fd;
    }
    if (errno != EEXIST) return -1;
    if (existed) *existed = true;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace qm::recovery
