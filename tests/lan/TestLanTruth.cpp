#include "tests/lan/TestLanTruth.h"

#include "core/commands/ExportFormat.h"
#include "core/scan/NicVendorTable.h"
#include "tests/lan/WideLan.h"

#include <utility>

namespace {

using Role = TestLanHost::Role;

// The addresses a scan walks past without a row.
bool Skipped(std::uint32_t address) {
    for (int shift = 0; shift < 32; shift += 8)
        if (((address >> shift) & 0xFFu) == 0xFFu)
            return true;
    return (address & 0xFFu) == 0;
}

} // namespace

TestLanTruth::TestLanTruth(TestLan lan, bool rejecting)
    : m_lan(std::move(lan)), m_rejecting(rejecting) {}

HostRecord TestLanTruth::AnsweredRow(std::uint32_t address, const std::string& macHex,
                                     const std::vector<TestLanName>& names) {
    HostCells cells;
    cells[HostRecord::kAddress] = AddressToText(address);
    cells[HostRecord::kResponse] = HostRecord::kAnswered;
    if (names.empty())
        return RecordOfCells(cells);
    std::string messengers;
    for (const TestLanName& name : names) {
        if (name.suffix == 0x00) // the last one of each kind wins
            cells[name.group ? HostRecord::kDomain : HostRecord::kComputer] = name.name;
        if (name.suffix == 0x03)
            messengers += (messengers.empty() ? "" : "/") + name.name;
    }
    cells[HostRecord::kMessenger] = messengers;
    cells[HostRecord::kMac] = macHex;
    const char* vendor = FindNicVendor(macHex.substr(0, 6));
    cells[HostRecord::kVendor] = vendor ? vendor : "不明";
    return RecordOfCells(cells);
}

std::optional<HostRecord> TestLanTruth::RowFor(std::uint32_t address, bool keepSilent) const {
    if (Skipped(address))
        return std::nullopt;
    const bool rejected = m_rejecting && m_lan.Rejected(address);
    if (const TestLanHost* wide = m_lan.wide();
        wide && wide->routed.Contains(address) && !rejected)
        return AnsweredRow(address, WideLan::MacHex(address), WideLan::Names(address));
    if (const TestLanHost* host = m_lan.Find(AddressToText(address))) {
        switch (host->role) {
        case Role::Nmbd:
        case Role::Slow:
            return AnsweredRow(address, host->MacHex(), host->RegisteredNames());
        case Role::Client:
        case Role::PingOnly:
        case Role::Wide: // they answer no query
            return AnsweredRow(address, "", {});
        case Role::Silent:
        case Role::NoPing:
        case Role::ArpOnly:
        case Role::Closed:
            break;
        }
    }
    if (!keepSilent)
        return std::nullopt;
    HostCells cells;
    cells[HostRecord::kAddress] = AddressToText(address);
    cells[HostRecord::kResponse] = HostRecord::kSilent;
    return RecordOfCells(cells);
}

std::vector<HostRecord> TestLanTruth::Rows(const AddressRange& range, bool keepSilent) const {
    std::vector<HostRecord> rows;
    for (std::uint64_t address = range.start; address <= range.end; ++address)
        if (auto row = RowFor(static_cast<std::uint32_t>(address), keepSilent))
            rows.push_back(*row);
    return rows;
}

std::vector<std::string> TestLanTruth::Printed(const HostRecord& row) {
    std::vector<std::string> cells;
    for (const std::string& cell : CellsOf(row))
        cells.push_back(ExportCell(cell));
    return cells;
}
