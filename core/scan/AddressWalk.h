#pragma once
// The walk of a scan's ranges, address by address, as both engines take it:
// the range table's order, every address drawn counted, and the addresses
// that get no row marked as skipped: any octet 255 or a last octet 0, or,
// under the last-octet rule, a last octet 0 or 255 only.

#include "core/ranges/AddressRange.h"
#include "core/ranges/AddressRangeTable.h"

#include <cstdint>
#include <vector>

class AddressWalk {
public:
    explicit AddressWalk(const std::vector<AddressRange>& ranges, bool lastOctetRule = false);

    // The next address and whether it is skipped; false once the walk has ended.
    bool Next(std::uint32_t& address, bool& skipped);

    // Addresses drawn so far, skipped ones included.
    unsigned Drawn() const { return m_drawn; }

    static bool IsSkipped(std::uint32_t address, bool lastOctetRule = false);

private:
    AddressRangeTable m_table;
    bool m_lastOctetRule;
    unsigned m_drawn = 0;
};
