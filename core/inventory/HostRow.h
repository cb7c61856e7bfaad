#pragma once
// A host's row as the inventory keeps it: the address as a number and the
// six cells after it, as a scan found them.

#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"

#include <array>
#include <cstdint>
#include <string>

// A host's row as a scan found it: the address and the cells after it.
struct HostRow {
    std::uint32_t address = 0;
    std::array<std::string, HostRecord::kColumnCount - 1> cells; // 応答 … メッセンジャー

    bool operator==(const HostRow&) const = default;
};

HostRow RowOf(std::uint32_t address, const HostRecord& record);
// The row as the result list shows it: the address, then its cells.
HostCells CellsOf(const HostRow& row);
