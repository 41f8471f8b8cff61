#include "engine/volume/rescue_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

bool KnownStatus(char c) { return c == '?' || c == '*' || c == '/' || c == '-' || c == '+'; }

// Numbers in a mapfile are hexadecimal with 0x, or decimal.
bool ParseNumber(const std::string& text, uint64_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  out = value;
  return true;
}

}  // namespace

CRescueMap::CRescueMap(uint64_t bytes) : size_(bytes) {
  if (bytes) ranges_.push_back({0, bytes, kNotTried});
}

void CRescueMap::Mark(uint64_t pos, uint64_t size, char status) {
  if (pos >= size_) return;
  size = std::min(size, size_ - pos);
  if (size == 0) return;
  const uint64_t end = pos + size;
  std::vector<Range> out;
  out.reserve(ranges_.size() + 2);
  auto push = [&](Range r) {
    if (r.size == 0) return;
    if (!out.empty() && out.back().status == r.status && out.back().pos + out.back().size == r.pos)
      out.back().size += r.size;
    else
      out.push_back(r);
  };
  bool placed = false;
  for (const Range& r : ranges_) {
    const uint64_t rEnd = r.pos + r.size;
    if (rEnd <= pos || r.pos >= end) {
      if (!placed && r.pos >= end) {
        push({pos, size, status});
        placed = true;
      }
      push(r);
      continue;
    }
    if (r.pos < pos) push({r.pos, pos - r.pos, r.status});
    if (!placed) {
      push({pos, size, status});
      placed = true;
    }
    if (rEnd > end) push({end, rEnd - end, r.status});
  }
  if (!placed) push({pos, size, status});
  ranges_ = std::move(out);
}

uint64_t CRescueMap::Count(char status) const {
  uint64_t total = 0;
  for (const Range& r : ranges_)
    if (r.status == status) total += r.size;
  return total;
}

bool CRescueMap::NextRange(uint64_t pos, char status, Range& out) const {
  for (const Range& r : ranges_) {
    if (r.status != status || r.pos + r.size <= pos) continue;
    out = r;
    if (r.pos < pos) {
      out.pos = pos;
      out.size = r.pos + r.size - pos;
    }
    return true;
  }
  return false;
}

std::string CRescueMap::Text(uint64_t currentPos, bool finished) const {
  std::string text =
      "# Mapfile. Created by Quillmore\n"
      "# current_pos  current_status  current_pass\n";
  char line[96];
  std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               1\n", currentPos, finished ? '+' : '?');
  text += line;
  text += "#      pos        size  status\n";
  for (const Range& r : ranges_) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", r.pos, r.size, r.status);
    text += line;
  }
  return text;
}

bool CRescueMap::Parse(const std::string& text, uint64_t bytes, CRescueMap& out, std::string* reason) {
  auto fail = [&](const std::string& why) {
    if (reason) *reason = why;
    return false;
  };
  std::istringstream in(text);
  std::string line;
  bool sawStatusLine = false;
  CRescueMap map;
  map.size_ = bytes;
  uint64_t expected = 0;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    std::istringstream fields(line);
    std::string a, b, c;
    fields >> a >> b >> c;
    if (!sawStatusLine) {
      // current_pos, current_status and (from newer versions) current_pass.
      uint64_t ignored = 0;
      if (!ParseNumber(a, ignored) || b.size() != 1) return fail("line " + std::to_string(lineNumber) + " is not a mapfile status line");
      sawStatusLine = true;
      continue;
    }
    uint64_t pos = 0, size = 0;
    if (!ParseNumber(a, pos) || !ParseNumber(b, size) || c.size() != 1 || !KnownStatus(c[0]))
      return fail("line " + std::to_string(lineNumber) + " is not a mapfile range");
    if (pos != expected) return fail("the ranges leave a gap or overlap at " + std::to_string(pos));
    if (size == 0 || size > bytes - pos) return fail("a range runs past the end of the image");
    char status = (c[0] == kFinished || c[0] == kBad) ? c[0] : kNotTried;
    if (!map.ranges_.empty() && map.ranges_.back().status == status)
      map.ranges_.back().size += size;
    else
      map.ranges_.push_back({pos, size, status});
    expected = pos + size;
    if (map.ranges_.size() > 10'000'000) return fail("the map holds too many ranges");
  }
  if (!sawStatusLine) return fail("no mapfile status line");
  if (expected != bytes) return fail("the map does not cover the whole image");
  out = std::move(map);
  return true;
}

bool CRescueMap::Save(const std::string& path, uint64_t currentPos, bool finished) const {
  const std::string text = Text(currentPos, finished);
  const std::string temporary = path + ".new";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool CRescueMap::Load(const std::string& path, uint64_t bytes, CRescueMap& out, std::string* reason) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (reason) *reason = "the map file " + path + " cannot be read";
    return false;
  }
  std::string text;
  // A map of a damaged disk may hold many ranges, but not gigabytes.
  constexpr size_t kMaxMapBytes = 512u << 20;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxMapBytes) {
      if (reason) *reason = "the map file is too large";
      return false;
    }
  }
  return Parse(text, bytes, out, reason);
}
