#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Names of values compare without regard to ASCII case, as keys do.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> SplitPath(const std::string& key) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : key) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kHeader[] = "Quillmore registry store, version 1";
// What a store the program wrote can hold; anything beyond is damage (or an
// attack) and is refused. The bounds keep the reader's memory and the depth
// of every walk over the keys (export, destruction) small.
constexpr uint64_t kMaxFileBytes = 64ull << 20;
constexpr size_t kMaxKeyDepth = 32;
constexpr size_t kMaxNameBytes = 1024;
constexpr size_t kMaxLineBytes = 4ull << 20;

bool WithinBounds(const std::vector<std::string>& parts) {
  if (parts.size() > kMaxKeyDepth) return false;
  for (const auto& p : parts)
    if (p.size() > kMaxNameBytes) return false;
  return true;
}

std::string Quote(const std::string& text) {
  static const char* hex = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out.push_back(hex[c >> 4]);
          out.push_back(hex[c & 15]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += "\"";
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a quoted string starting at text[pos] == '"'; on success sets pos
// past the closing quote.
bool ParseQuoted(std::string_view text, size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  out.clear();
  for (size_t i = pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case '\\': out.push_back('\\'); break;
      case '"': out.push_back('"'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case '0': out.push_back('\0'); break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return false;  // no closing quote: a cut or garbled line
}

bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(text.size() / 3 + 1);
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == ',') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    int hi = HexDigit(c), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    if (i + 2 < text.size() && text[i + 2] != ',' && text[i + 2] != ' ' && text[i + 2] != '\t') return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}

}  // namespace

struct CRegistryStore::Key {
  std::string name;
  std::map<std::string, std::unique_ptr<Key>> subkeys;  // by lower-case name
  std::vector<std::pair<std::string, Value>> values;

  Key* Find(const std::vector<std::string>& parts) {
    Key* k = this;
    for (const auto& p : parts) {
      auto it = k->subkeys.find(Lower(p));
      if (it == k->subkeys.end()) return nullptr;
      k = it->second.get();
    }
    return k;
  }
  // Null when the path is deeper or its names longer than a store may hold.
  Key* Create(const std::vector<std::string>& parts) {
    if (!WithinBounds(parts)) return nullptr;
    Key* k = this;
    for (const auto& p : parts) {
      auto& slot = k->subkeys[Lower(p)];
      if (!slot) {
        slot = std::make_unique<Key>();
        slot->name = p;
      }
      k = slot.get();
    }
    return k;
  }
  std::pair<std::string, Value>* FindValue(std::string_view valueName) {
    for (auto& v : values)
      if (SameName(v.first, valueName)) return &v;
    return nullptr;
  }
};

CRegistryStore::CRegistryStore(std::string path) : path_(std::move(path)), root_(std::make_unique<Key>()) {}
CRegistryStore::~CRegistryStore() = default;

std::string CRegistryStore::ConfigDir() {
  if (const char* dir = std::getenv("QUILLMORE_CONFIG_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/quillmore";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config/quillmore";
}

CRegistryStore& CRegistryStore::User() {
  static CRegistryStore* store = [] {
    auto* s = new CRegistryStore(ConfigDir() + "/registry");
    s->Load();
    return s;
  }();
  return *store;
}

namespace {
// The lock that keeps two processes from interleaving a save with a load or
// another save. The store file itself is replaced by rename, so the lock
// lives in a file of its own.
class FileLock {
public:
  FileLock(const std::string& path, int operation) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      while (::flock(fd_, operation) != 0 && errno == EINTR) {
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

private:
  int fd_ = -1;
};
}  // namespace

bool CRegistryStore::Load() {
  std::lock_guard lock(mutex_);
  root_ = std::make_unique<Key>();
  loadNote_.clear();
  std::string text;
  {
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path_).parent_path();
    std::unique_ptr<FileLock> fileLock;
    if (std::filesystem::is_directory(parent, ec)) fileLock = std::make_unique<FileLock>(path_ + ".lock", LOCK_SH);
    // Without blocking: a FIFO or a device at the store's place must not hold
    // up the start.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular || static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
      ::close(fd);
      SetAside(regular ? "is too large" : "is not a regular file");
      return false;
    }
    text.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    bool failed = false;
    while (done < text.size()) {
      const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (failed) return false;
    text.resize(done);
  }
  if (Import(text) > 0) SetAside("is damaged");
  return true;
}

void CRegistryStore::SetAside(const char* why) {
  // The file is moved out of the way, so that it does not fail every later
  // start too; what could be read of it stays in the store.
  const std::string aside = path_ + ".damaged";
  if (::rename(path_.c_str(), aside.c_str()) == 0)
    loadNote_ = "The settings store " + path_ + " " + why + "; it was set aside as " + aside;
  else
    loadNote_ = "The settings store " + path_ + " " + why + " and could not be set aside";
}

bool CRegistryStore::Save() {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    text = ExportText();
  }
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(path_).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  FileLock fileLock(path_ + ".lock", LOCK_EX);
  static std::atomic<unsigned> counter{0};
  const std::string temp = path_ + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path_.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

bool CRegistryStore::ImportText(const std::string& input) { return Import(input) >= 0; }

int CRegistryStore::Import(const std::string& input) {
  std::lock_guard lock(mutex_);
  // The text is only looked at: lines and values are views into it.
  std::string_view text = input;
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF && static_cast<unsigned char>(text[1]) == 0xBB &&
      static_cast<unsigned char>(text[2]) == 0xBF)
    text.remove_prefix(3);
  bool parsedAny = false;
  int refused = 0;  // lines beyond the bounds
  Key* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line(Trim(text.substr(pos, end - pos)));
    pos = end + 1;
    // A hex value may run on over lines that end in a backslash.
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos && pos < text.size() &&
           line.size() <= kMaxLineBytes) {
      line.pop_back();
      size_t next = text.find('\n', pos);
      if (next == std::string::npos) next = text.size();
      line += Trim(text.substr(pos, next - pos));
      pos = next + 1;
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.size() > kMaxLineBytes) {
      ++refused;
      if (line[0] == '[') current = nullptr;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') {
        current = nullptr;  // a cut key line: its values have no home
        continue;
      }
      std::string path = line.substr(1, line.size() - 2);
      if (!path.empty() && path[0] == '-') {
        DeleteKey(path.substr(1));
        current = nullptr;
        parsedAny = true;
        continue;
      }
      auto parts = SplitPath(path);
      if (parts.empty()) {
        current = nullptr;
        continue;
      }
      current = root_->Create(parts);
      if (!current) {
        ++refused;
        continue;
      }
      parsedAny = true;
      continue;
    }
    if (!current) continue;
    std::string name;
    size_t p = 0;
    if (line[0] == '@') {
      p = 1;
    } else if (!ParseQuoted(line, p, name)) {
      continue;
    }
    if (p >= line.size() || line[p] != '=') continue;
    if (name.size() > kMaxNameBytes) {
      ++refused;
      continue;
    }
    const std::string_view data = std::string_view(line).substr(p + 1);
    std::optional<Value> value;
    if (data == "-") {
      std::erase_if(current->values, [&](const auto& v) { return SameName(v.first, name); });
      parsedAny = true;
      continue;
    } else if (data.rfind("dword:", 0) == 0) {
      const std::string_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) continue;
      uint32_t v = 0;
      bool ok = true;
      for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) ok = false;
        v = v * 16 + static_cast<uint32_t>(d < 0 ? 0 : d);
      }
      if (ok) value = v;
    } else if (data.rfind("hex:", 0) == 0) {
      std::vector<uint8_t> bytes;
      if (ParseHexBytes(data.substr(4), bytes)) value = std::move(bytes);
    } else if (!data.empty() && data[0] == '"') {
      std::string s;
      size_t q = 0;
      if (ParseQuoted(data, q, s) && q == data.size()) value = std::move(s);
    }
    if (!value) continue;  // a garbled or cut value is left out
    if (auto* existing = current->FindValue(name)) existing->second = std::move(*value);
    else current->values.emplace_back(name, std::move(*value));
    parsedAny = true;
  }
  return parsedAny ? refused : -1;
}

std::string CRegistryStore::ExportText() const {
  std::lock_guard lock(mutex_);
  std::string out = std::string(kHeader) + "\n";
  auto walk = [&](auto&& self, const Key& key, const std::string& path) -> void {
    if (!path.empty()) {
      out += "\n[" + path + "]\n";
      for (const auto& [name, value] : key.values) {
        out += name.empty() ? "@" : Quote(name);
        out += "=";
        if (const auto* d = std::get_if<uint32_t>(&value)) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "dword:%08x", *d);
          out += buf;
        } else if (const auto* b = std::get_if<std::vector<uint8_t>>(&value)) {
          out += "hex:";
          for (size_t i = 0; i < b->size(); ++i) {
            if (i) out.push_back(',');
            out.push_back(kHexDigits[(*b)[i] >> 4]);
            out.push_back(kHexDigits[(*b)[i] & 15]);
          }
        } else {
          out += Quote(std::get<std::string>(value));
        }
        out += "\n";
      }
    }
    for (const auto& [lower, child] : key.subkeys) self(self, *child, path.empty() ? child->name : path + "\\" + child->name);
  };
  walk(walk, *root_, "");
  return out;
}

bool CRegistryStore::KeyExists(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto parts = SplitPath(key);
  return !parts.empty() && root_->Find(parts) != nullptr;
}

void CRegistryStore::CreateKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto parts = SplitPath(key);
  if (!parts.empty()) root_->Create(parts);
}

void CRegistryStore::DeleteKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto parts = SplitPath(key);
  if (parts.empty()) return;
  const std::string last = Lower(parts.back());
  parts.pop_back();
  if (Key* parent = root_->Find(parts)) parent->subkeys.erase(last);
}

std::vector<std::string> CRegistryStore::SubKeys(const std::string& key) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  if (const Key* k = root_->Find(SplitPath(key)))
    for (const auto& [lower, child] : k->subkeys) out.push_back(child->name);
  return out;
}

std::vector<std::string> CRegistryStore::ValueNames(const std::string& key) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  if (const Key* k = root_->Find(SplitPath(key)))
    for (const auto& v : k->values) out.push_back(v.first);
  return out;
}

std::vector<std::pair<std::string, CRegistryStore::Value>> CRegistryStore::Values(const std::string& key) const {
  std::lock_guard lock(mutex_);
  if (const Key* k = root_->Find(SplitPath(key))) return k->values;
  return {};
}

std::optional<CRegistryStore::Value> CRegistryStore::Get(const std::string& key, const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto parts = SplitPath(key);
  if (parts.empty()) return std::nullopt;
  Key* k = root_->Find(parts);
  if (!k) return std::nullopt;
  if (auto* v = k->FindValue(name)) return v->second;
  return std::nullopt;
}

std::optional<uint32_t> CRegistryStore::GetDword(const std::string& key, const std::string& name) const {
  auto v = Get(key, name);
  if (v && std::holds_alternative<uint32_t>(*v)) return std::get<uint32_t>(*v);
  return std::nullopt;
}

std::optional<std::string> CRegistryStore::GetString(const std::string& key, const std::string& name) const {
  auto v = Get(key, name);
  if (v && std::holds_alternative<std::string>(*v)) return std::get<std::string>(std::move(*v));
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> CRegistryStore::GetBinary(const std::string& key, const std::string& name) const {
  auto v = Get(key, name);
  if (v && std::holds_alternative<std::vector<uint8_t>>(*v)) return std::get<std::vector<uint8_t>>(std::move(*v));
  return std::nullopt;
}

void CRegistryStore::Set(const std::string& key, const std::string& name, Value value) {
  std::lock_guard lock(mutex_);
  auto parts = SplitPath(key);
  if (parts.empty() || name.size() > kMaxNameBytes) return;
  Key* k = root_->Create(parts);
  if (!k) return;
  if (auto* v = k->FindValue(name)) v->second = std::move(value);
  else k->values.emplace_back(name, std::move(value));
}

void CRegistryStore::DeleteValue(const std::string& key, const std::string& name) {
  std::lock_guard lock(mutex_);
  Key* k = root_->Find(SplitPath(key));
  if (!k) return;
  const std::string lower = Lower(name);
  std::erase_if(k->values, [&](const auto& v) { return Lower(v.first) == lower; });
}
