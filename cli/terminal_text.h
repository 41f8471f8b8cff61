// Text for a terminal: names read from a disk shown so that they can never
// drive the terminal or forge output lines, and columns measured in the
// cells a terminal gives each character (wide and combining characters).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qmcli {

// `text` with every character that would act on a terminal shown escaped:
// "\n", "\r", "\t", "\e" and "\xHH" for the other C0 controls and DEL,
// "\u0085" for C1 controls and for the bidirectional-override and
// isolate controls (which reorder what follows them), "\xHH" for each byte
// of invalid UTF-8; a backslash itself is doubled. Printable text, spaces
// included, passes unchanged.
std::string TerminalSafe(std::string_view text);

// TerminalSafe inside single quotes, for names in messages: 'a\nb'.
std::string Quoted(std::string_view text);

// The number of terminal cells the (escaped, valid UTF-8) text takes.
size_t DisplayWidth(std::string_view text);

// The longest start of `text` that fits in `width` cells, ending in "…"
// when something was cut; never splits a character.
std::string FitWidth(std::string_view text, size_t width);

// `text` followed (PadRight) or preceded (PadLeft) by blanks up to `width`
// cells; text wider than that is returned as it is.
std::string PadRight(std::string_view text, size_t width);
std::string PadLeft(std::string_view text, size_t width);

// The width of the terminal on file descriptor `fd`, or 0 when it is not a
// terminal (output to a pipe or a file).
size_t TerminalColumns(int fd);

}  // namespace qmcli
