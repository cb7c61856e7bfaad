#include "core/inventory/StoredHost.h"

#include "core/inventory/HostIdentity.h"

HostRow RowOf(std::uint32_t address, const HostRecord& record) {
    HostRow row;
    row.address = address;
    for (std::size_t i = 0; i < row.cells.size(); ++i)
        row.cells[i] = CellOf(record, static_cast<int>(i + 1));
    return row;
}

HostCells CellsOf(const HostRow& row) {
    HostCells cells;
    cells[HostRecord::kAddress] = AddressToText(row.address);
    for (std::size_t i = 0; i < row.cells.size(); ++i)
        cells[i + 1] = row.cells[i];
    return cells;
}

Sighting SightingOf(std::uint32_t address, std::string identity, const std::string& mac,
                    std::string computer, std::string domain) {
    return {address, std::move(identity), IsUsableMac(mac) ? CanonicalMac(mac) : std::string(),
            std::move(computer), std::move(domain)};
}

Sighting SightingOf(const HostRow& row, const std::string& identity) {
    return SightingOf(row.address, identity, row.cells[HostRecord::kMac - 1],
                      row.cells[HostRecord::kComputer - 1], row.cells[HostRecord::kDomain - 1]);
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
