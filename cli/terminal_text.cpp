#include "cli/terminal_text.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <unistr.h>
#include <uniwidth.h>

#include <cstdio>

namespace qmcli {
namespace {

// Characters that reorder the text after them on a bidi-aware terminal:
// LRE, RLE, PDF, LRO, RLO and the isolates LRI, RLI, FSI, PDI.
bool IsBidiControl(ucs4_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

std::string Hex(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Steps over one character of `text` at `i`; false (and a length of 1) for
// a byte that starts no valid UTF-8 sequence.
bool NextChar(std::string_view text, size_t i, ucs4_t& c, size_t& length) {
  int n = u8_mbtoucr(&c, reinterpret_cast<const uint8_t*>(text.data()) + i, text.size() - i);
  if (n <= 0) {
    length = 1;
    return false;
  }
  length = static_cast<size_t>(n);
  return true;
}

}  // namespace

std::string TerminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    ucs4_t c = 0;
    size_t length = 0;
    if (!NextChar(text, i, c, length)) {
      out += Hex("\\x%02x", static_cast<uint8_t>(text[i]));
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == 0x1B) {
      out += "\\e";
    } else if (c < 0x20 || c == 0x7F) {
      out += Hex("\\x%02x", c);
    } else if ((c >= 0x80 && c < 0xA0) || IsBidiControl(c)) {
      out += Hex("\\u%04x", c);
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string Quoted(std::string_view text) { return "'" + TerminalSafe(text) + "'"; }

size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    ucs4_t c = 0;
    size_t length = 0;
    int w = NextChar(text, i, c, length) ? uc_width(c, "UTF-8") : 1;
    if (w > 0) width += static_cast<size_t>(w);
    i += length;
  }
  return width;
}

std::string FitWidth(std::string_view text, size_t width) {
  if (DisplayWidth(text) <= width) return std::string(text);
  if (width == 0) return {};
  // Room for the ellipsis, one cell.
  size_t used = 0, end = 0;
  for (size_t i = 0; i < text.size();) {
    ucs4_t c = 0;
    size_t length = 0;
    int w = NextChar(text, i, c, length) ? uc_width(c, "UTF-8") : 1;
    const size_t cells = w > 0 ? static_cast<size_t>(w) : 0;
    if (used + cells > width - 1) break;
    used += cells;
    i += length;
    end = i;
  }
  return std::string(text.substr(0, end)) + "\u2026";
}

std::string PadRight(std::string_view text, size_t width) {
  std::string out(text);
  const size_t w = DisplayWidth(text);
  if (w < width) out.append(width - w, ' ');
  return out;
}

std::string PadLeft(std::string_view text, size_t width) {
  const size_t w = DisplayWidth(text);
  std::string out = w < width ? std::string(width - w, ' ') : std::string();
  out.append(text);
  return out;
}

size_t TerminalColumns(int fd) {
  if (::isatty(fd) != 1) return 0;
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace qmcli
