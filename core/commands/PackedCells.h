#pragma once
// The seven cells of a result row in one string: each cell a 4-byte length,
// then its bytes. The model keeps its rows this way and a scan's queued
// results travel this way: one allocation per row instead of seven strings,
// which keeps 20000 rows, and the reports queued for them, small.

#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"

#include <string>
#include <string_view>

namespace PackedCells {

// A row whose first cell is `first` and the others empty.
std::string WithFirst(std::string_view first);

std::string Of(const HostCells& cells);
// The cells of the host's value (HostCells.h).
std::string Of(const HostRecord& record);

// The cell's text; empty for a column that does not exist.
std::string_view Cell(std::string_view packed, int column);

// The row with one cell replaced.
std::string WithCell(std::string_view packed, int column, std::string_view text);

} // namespace PackedCells
