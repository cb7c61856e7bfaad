#pragma once
// The walk of a scan's ranges, address by address, as both engines take it:
// the range table's order, every address drawn counted, and the addresses
// that get no row (any octet 255, or a last octet 0) marked as skipped.

#include "core/ranges/AddressRange.h"
#include "core/ranges/AddressRangeTable.h"

#include <cstdint>
#include <vector>

class AddressWalk {
public:
    explicit AddressWalk(const std::vector<AddressRange>& ranges);

    // The next address and whether it is skipped; false once the walk has ended.
    bool Next(std::uint32_t& address, bool& skipped);

    // Addresses drawn so far, skipped ones included.
    unsigned Drawn() const { return m_drawn; }

    static bool IsSkipped(std::uint32_t address);

private:
    AddressRangeTable m_table;
    unsigned m_drawn = 0;
};
