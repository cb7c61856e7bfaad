#pragma once
// Text laid out in the columns of a terminal: how many columns a UTF-8 text
// takes (a wide character, Japanese among them, two; a combining mark none),
// and a cell made safe to print and fitted to a width.

#include <cstddef>
#include <string>
#include <string_view>

// The columns the text takes on a terminal, as glibc's wcwidth counts them
// in a UTF-8 locale (ambiguous characters such as "○" and "…" count one). A
// character TerminalCell would replace counts as its replacement does.
std::size_t TerminalWidth(std::string_view text);

// The bytes as one cell of a terminal table: a control character (C0, DEL,
// C1) and a direction control, which would move what follows, become '.';
// a byte that starts no valid UTF-8 sequence, and a character the terminal
// could not print, become U+FFFD. A cell wider than maxWidth is cut at a
// character and ends in "…" within maxWidth.
std::string TerminalCell(std::string_view bytes, std::size_t maxWidth);
