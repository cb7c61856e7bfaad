#pragma once
// A host's row as the inventory keeps it: the address as a number, the six
// cells after it, and the names other sources than node status gave, as a
// scan found them.

#include "core/scan/HostCells.h"
#include "core/scan/HostRecord.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A host's row as a scan found it: the address and the cells after it.
struct HostRow {
    std::uint32_t address = 0;
    std::array<std::string, HostRecord::kColumnCount - 1> cells; // 応答 … メッセンジャー
    std::vector<HostRecord::Name> names; // mDNS, LLMNR, DNS, in order of preference

    bool operator==(const HostRow&) const = default;
};

HostRow RowOf(std::uint32_t address, const HostRecord& record);
// The record's names of other sources than node status, in order of
// preference, within a source as it gave them.
std::vector<HostRecord::Name> OtherNamesOf(const HostRecord& record);
// The row as the result list shows it: the address, then its cells.
HostCells CellsOf(const HostRow& row);
