#include "core/scan/AddressWalk.h"

AddressWalk::AddressWalk(const std::vector<AddressRange>& ranges, bool lastOctetRule)
    : m_lastOctetRule(lastOctetRule) {
    for (const AddressRange& range : ranges)
        if (!m_table.Append(range))
            break;
}

bool AddressWalk::Next(std::uint32_t& address, bool& skipped) {
    address = m_table.NextAddress();
    if (address == AddressRangeTable::kEndValue)
        return false;
    ++m_drawn;
    skipped = IsSkipped(address, m_lastOctetRule);
    return true;
}

bool AddressWalk::IsSkipped(std::uint32_t address, bool lastOctetRule) {
    if (lastOctetRule)
        return (address & 0xFF) == 0 || (address & 0xFF) == 0xFF;
    for (int shift = 0; shift < 32; shift += 8)
        if (((address >> shift) & 0xFF) == 0xFF)
            return true;
    return (address & 0xFF) == 0;
}
