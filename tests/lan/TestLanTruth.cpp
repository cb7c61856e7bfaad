#include "tests/lan/TestLanTruth.h"

#include "core/commands/ExportFormat.h"
#include "core/scan/NicVendorTable.h"
#include "platform/wire/PtrQuery.h"
#include "tests/lan/WideLan.h"

#include <sstream>
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

// What the program's reader takes of the responder's answer to the PTR query
// for its own address.
std::vector<std::string> LlmnrNames(const std::string& name, std::uint32_t address,
                                    LlmnrResponder::Behaviour behaviour) {
    constexpr std::uint16_t kId = 0x4B44;
    const LlmnrResponder responder(name, {address}, behaviour);
    const std::vector<unsigned char> query = BuildPtrQuery(address, kId);
    const auto reply = responder.Reply(query.data(), query.size());
    if (!reply)
        return {};
    return ReadPtrAnswer(reply->data(), reply->size(), kId, address, PtrProtocol::Llmnr).names;
}

std::string Spelt(const std::vector<HostRecord::Name>& names) {
    std::string text;
    for (const HostRecord::Name& name : names)
        text += std::string(text.empty() ? "" : " ") + HostRecord::SourceText(name.source) + ":" +
                name.text;
    return text.empty() ? "(none)" : text;
}

} // namespace

TestLanTruth::TestLanTruth(TestLan lan, bool rejecting,
                           std::optional<LlmnrResponder::Behaviour> hostile)
    : m_lan(std::move(lan)), m_rejecting(rejecting), m_hostile(hostile) {}

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
        case Role::NmbdNamed:
            return AnsweredRow(address, host->MacHex(), host->RegisteredNames());
        case Role::Client:
        case Role::PingOnly:
        case Role::Wide: // they answer no node-status query
        case Role::Named:
        case Role::Dns:
        case Role::Hostile:
            return AnsweredRow(address, "", {});
        case Role::Silent:
        case Role::NoPing:
        case Role::ArpOnly:
        case Role::Closed:
        case Role::NamedNoPing:
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

std::vector<HostRecord::Name> TestLanTruth::NamesFor(std::uint32_t address) const {
    HostRecord record;
    if (const TestLanHost* wide = m_lan.wide(); wide && wide->routed.Contains(address)) {
        if (!(m_rejecting && m_lan.Rejected(address)))
            record = AnsweredRow(address, WideLan::MacHex(address), WideLan::Names(address));
        return record.AllNames();
    }
    const TestLanHost* host = m_lan.Find(AddressToText(address));
    if (!host)
        return {};
    record = AnsweredRow(address, host->MacHex(), host->RegisteredNames());
    for (const HostRecord::Name& name : host->otherNames) {
        if (name.source != HostRecord::NameSource::Llmnr) {
            record.names.push_back(name);
            continue;
        }
        auto behaviour = LlmnrResponder::Behaviour::Honest;
        if (host->role == Role::Hostile)
            behaviour = m_hostile
                            ? *m_hostile
                            : LlmnrResponder::BehaviourNamed(host->hostileMode).value_or(behaviour);
        for (const std::string& text : LlmnrNames(name.text, address, behaviour))
            record.names.push_back({text, HostRecord::NameSource::Llmnr});
    }
    return record.AllNames();
}

std::string TestLanTruth::NameDifferences(const NamesByAddress& got, const NamesByAddress& wanted,
                                          std::size_t limit) {
    std::ostringstream text;
    std::size_t count = 0;
    const auto tell = [&](const std::string& line) {
        if (count++ < limit)
            text << line << '\n';
    };
    for (const auto& [address, names] : wanted) {
        const auto found = got.find(address);
        if (found == got.end())
            tell("missing: " + address + " " + Spelt(names));
        else if (found->second != names)
            tell(address + " wanted: " + Spelt(names) + "\n  got: " + Spelt(found->second));
    }
    for (const auto& [address, names] : got)
        if (!wanted.count(address))
            tell("extra:   " + address + " " + Spelt(names));
    if (count > limit)
        text << "... " << count - limit << " more\n";
    return text.str();
}

std::vector<std::string> TestLanTruth::Printed(const HostRecord& row) {
    std::vector<std::string> cells;
    for (const std::string& cell : CellsOf(row))
        cells.push_back(ExportCell(cell));
    return cells;
}
