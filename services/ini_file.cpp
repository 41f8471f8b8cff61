#include "services/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "services/text.h"

namespace {

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\v\f";
  size_t b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

// The text as valid UTF-8: the byte-order mark tells UTF-16LE and UTF-8 apart;
// invalid sequences become U+FFFD.
std::string DecodeText(std::string_view bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE)
    return qm::Utf16LeBytesToUtf8(data + 2, (bytes.size() - 2) / 2);
  if (bytes.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) bytes.remove_prefix(3);
  return qm::Utf16ToUtf8(qm::Utf8ToUtf16(bytes));
}

// At most `limit` code points of valid UTF-8 text.
std::string_view CutChars(std::string_view s, size_t limit) {
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<uint8_t>(s[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (chars++ == limit) return s.substr(0, i);
  }
  return s;
}

}  // namespace

CIniFile CIniFile::Parse(std::string_view bytes) {
  CIniFile file;
  const std::string text = DecodeText(bytes);
  Section* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    // A NUL ends the line's text, as it ends a C string.
    line = line.substr(0, line.find('\0'));
    if (line.empty() || line[0] == ';') continue;

    if (line[0] == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) continue;  // damaged header: ignored
      std::string name(Trim(line.substr(1, close - 1)));
      auto [it, added] = file.sectionIndex_.try_emplace(qm::AsciiLower(name), file.sections_.size());
      if (added) file.sections_.push_back(Section{name, {}, {}});
      current = &file.sections_[it->second];
      continue;
    }

    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !current) continue;  // garbage, or a key outside any section
    std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    auto [it, added] = current->index.try_emplace(qm::AsciiLower(key), current->entries.size());
    if (added) current->entries.emplace_back(std::string(key), std::string(CutChars(value, kMaxValueChars)));
  }
  return file;
}

std::optional<CIniFile> CIniFile::Load(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
    ok = bytes.size() <= kMaxFileBytes;
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return Parse(bytes);
}

const CIniFile::Section* CIniFile::Find(std::string_view section) const {
  auto it = sectionIndex_.find(qm::AsciiLower(section));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::optional<std::string> CIniFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = Find(section);
  if (!s) return std::nullopt;
  auto it = s->index.find(qm::AsciiLower(key));
  if (it == s->index.end()) return std::nullopt;
  return s->entries[it->second].second;
}

bool CIniFile::HasSection(std::string_view section) const { return Find(section) != nullptr; }

std::vector<std::string> CIniFile::Sections() const {
  std::vector<std::string> names;
  for (const auto& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::pair<std::string, std::string>> CIniFile::Entries(std::string_view section) const {
  const Section* s = Find(section);
  return s ? s->entries : std::vector<std::pair<std::string, std::string>>{};
}
