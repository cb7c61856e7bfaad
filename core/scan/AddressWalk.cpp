#include "core/scan/AddressWalk.h"

AddressWalk::AddressWalk(const std::vector<AddressRange>& ranges) {
    for (const AddressRange& range : ranges)
        if (!m_table.Append(range))
            break;
}

bool AddressWalk::Next(std::uint32_t& address, bool& skipped) {
    address = m_table.NextAddress();
    if (address == AddressRangeTable::kEndValue)
        return false;
    ++m_drawn;
    skipped = IsSkipped(address);
    return true;
}

bool AddressWalk::IsSkipped(std::uint32_t address) {
    for (int shift = 0; shift < 32; shift += 8)
        if (((address >> shift) & 0xFF) == 0xFF)
            return true;
    return (address & 0xFF) == 0;
}
