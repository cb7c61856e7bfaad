#pragma once
// The rows of a scan as a table for a person at a terminal: the address,
// the response mark, the host's best name with where it came from, the
// workgroup, the MAC and its vendor, in columns aligned by the terminal's
// widths (a Japanese character takes two). Not a file format: a script
// reads the export layout or JSON Lines.

#include "core/scan/HostRecord.h"

#include <string>
#include <vector>

inline constexpr int kHostTableColumnCount = 6;
// "IPアドレス", "応答", "名前 (取得元)", "ドメイン名", "MACアドレス", "NICベンダー名".
extern const char* const kHostTableTitles[kHostTableColumnCount];

// The widest a column's cells are printed, wider ones cut with "…" (the
// address, mark and MAC columns are never that wide).
inline constexpr std::size_t kHostTableCellWidths[kHostTableColumnCount] = {15, 4, 40, 16, 12, 30};

// One host's cells as the table prints them, before padding: the name as
// "keiri.local (mdns)", cut before its source so that the source shows;
// "-" for an empty cell; every cell plain text (see TerminalCell).
std::vector<std::string> HostTableCells(const HostRecord& host);

// The title line, then one line per host, in their order; columns two
// blanks apart, each as wide as its widest cell; LF line ends, no blanks at
// a line's end.
std::string FormatHostTable(const std::vector<HostRecord>& hosts);
