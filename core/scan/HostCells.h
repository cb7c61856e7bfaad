#pragma once
// The seven cells of a host's row, made from its value in one place: the
// exact texts the result list shows, the export writes and the inventory
// keeps. And back: a row's texts taken into a value, for the rows that come
// as text (a list's rows set by hand, a scan document read back).

#include "core/scan/HostRecord.h"

#include <array>
#include <string>
#include <string_view>

using HostCells = std::array<std::string, HostRecord::kColumnCount>;

HostCells CellsOf(const HostRecord& host);

// One of them; empty for a column that does not exist.
std::string CellOf(const HostRecord& host, int column);

// Whether CellOf(host, column) would be `text`, without making it (the
// inventory compares every host of a scan with its last row this way).
bool CellIs(const HostRecord& host, int column, std::string_view text);

// Takes one cell's text into the value, so that CellOf gives that text back
// for every text CellOf makes: a dotted address, "○" or "×" (any other
// response text is no response yet), a name (empty: none), twelve hex digits
// (either case; other text is no MAC), the vendor, the messenger names joined
// by "/" (empty pieces kept, so that they join again to the same text).
void TakeCell(HostRecord& host, int column, std::string_view text);

// A value from a whole row of texts.
HostRecord RecordOfCells(const HostCells& cells);
