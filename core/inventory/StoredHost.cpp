#include "core/inventory/StoredHost.h"

#include "core/inventory/HostIdentity.h"

HostRow RowOf(std::uint32_t address, const HostRecord& record) {
    HostRow row;
    row.address = address;
    for (std::size_t i = 0; i < row.cells.size(); ++i)
        row.cells[i] = CellOf(record, static_cast<int>(i + 1));
    row.names = OtherNamesOf(record);
    return row;
}

std::vector<HostRecord::Name> OtherNamesOf(const HostRecord& record) {
    std::vector<HostRecord::Name> names;
    if (record.names.empty())
        return names;
    // As AllNames orders them; an empty name names nothing.
    for (const HostRecord::Name& name : record.AllNames())
        if (name.source != HostRecord::NameSource::Netbios && !name.text.empty())
            names.push_back(name);
    return names;
}

HostCells CellsOf(const HostRow& row) {
    HostCells cells;
    cells[HostRecord::kAddress] = AddressToText(row.address);
    for (std::size_t i = 0; i < row.cells.size(); ++i)
        cells[i + 1] = row.cells[i];
    return cells;
}

Sighting SightingOf(std::uint32_t address, std::string identity, const std::string& mac,
                    std::string computer, std::string domain, std::vector<HostRecord::Name> names) {
    return {address,
            std::move(identity),
            IsUsableMac(mac) ? CanonicalMac(mac) : std::string(),
            std::move(computer),
            std::move(domain),
            std::move(names)};
}

Sighting SightingOf(const HostRow& row, const std::string& identity) {
    return SightingOf(row.address, identity, row.cells[HostRecord::kMac - 1],
                      row.cells[HostRecord::kComputer - 1], row.cells[HostRecord::kDomain - 1],
                      row.names);
}

Sighting SightingOf(const HostRecord& row) {
    HostIdentity identity = IdentityOf(row);
    Sighting sighting;
    sighting.address = row.address;
    if (identity.kind == HostIdentity::Kind::Mac)
        sighting.mac = identity.key.substr(4);
    sighting.identity = std::move(identity.key);
    sighting.computer = row.computer.value_or("");
    sighting.domain = row.workgroup.value_or("");
    sighting.names = OtherNamesOf(row);
    return sighting;
}

std::uint32_t LastAddressOf(const StoredHost& host) {
    if (host.rows.empty())
        return 0;
    if (host.rows.size() > 1)
        for (const HostRow& row : host.rows)
            if (row.address == host.lastOfRows)
                return row.address;
    return host.rows.back().address;
}
