#include "core/inventory/InventoryTables.h"

#include "core/inventory/HostIdentity.h"
#include "core/inventory/SqlStatement.h"

Sighting SightingOf(std::uint32_t address, std::string identity, const std::string& mac,
                    std::string computer, std::string domain) {
    return {address, std::move(identity), IsUsableMac(mac) ? CanonicalMac(mac) : std::string(),
            std::move(computer), std::move(domain)};
}

// The scans before `before` (all when 0), oldest first, with their ranges
// and without their sightings.
bool LoadScanHeaders(sqlite3* db, std::int64_t before, std::vector<ScanView>& scans) {
    SqlStatement headers(db, "SELECT id, complete FROM scans WHERE ?1 = 0 OR id < ?1 ORDER BY id");
    SqlStatement ranges(db, "SELECT scan, first, last FROM scan_ranges "
                         "WHERE ?1 = 0 OR scan < ?1 ORDER BY scan, rowid");
    if (!headers || !ranges)
        return false;
    sqlite3_bind_int64(headers.get(), 1, before);
    sqlite3_bind_int64(ranges.get(), 1, before);
    int rc;
    while ((rc = sqlite3_step(headers.get())) == SQLITE_ROW) {
        ScanView scan;
        scan.id = sqlite3_column_int64(headers.get(), 0);
        scan.complete = sqlite3_column_int(headers.get(), 1) != 0;
        scans.push_back(std::move(scan));
    }
    if (rc != SQLITE_DONE)
        return false;
    // Both come in id order: walk them together.
    auto scan = scans.begin();
    while ((rc = sqlite3_step(ranges.get())) == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(ranges.get(), 0);
        while (scan != scans.end() && scan->id < id)
            ++scan;
        if (scan != scans.end() && scan->id == id)
            scan->ranges.push_back(
                {static_cast<std::uint32_t>(sqlite3_column_int64(ranges.get(), 1)),
                 static_cast<std::uint32_t>(sqlite3_column_int64(ranges.get(), 2))});
    }
    return rc == SQLITE_DONE;
}

bool LoadSightings(sqlite3* db, ScanView& scan) {
    SqlStatement select(db, "SELECT s.address, h.identity, s.mac, s.computer, s.domain "
                         "FROM sightings s JOIN hosts h ON h.id = s.host WHERE s.scan = ? "
                         "ORDER BY s.address");
    if (!select)
        return false;
    sqlite3_bind_int64(select.get(), 1, scan.id);
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW)
        scan.sightings.push_back(SightingOf(
            static_cast<std::uint32_t>(sqlite3_column_int64(select.get(), 0)),
            SqlColumnText(select.get(), 1), SqlColumnText(select.get(), 2),
            SqlColumnText(select.get(), 3), SqlColumnText(select.get(), 4)));
    return rc == SQLITE_DONE;
}

// Every host the store knows, with its row id.
bool LoadHosts(sqlite3* db, PriorScans& prior, std::unordered_map<std::string, std::int64_t>& ids) {
    SqlStatement select(db, "SELECT id, identity, first_scan, last_scan, last_address, computer, "
                         "domain FROM hosts");
    if (!select)
        return false;
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        std::string identity = SqlColumnText(select.get(), 1);
        KnownHost known;
        known.firstScan = sqlite3_column_int64(select.get(), 2);
        known.lastScan = sqlite3_column_int64(select.get(), 3);
        known.lastAddress = static_cast<std::uint32_t>(sqlite3_column_int64(select.get(), 4));
        known.computer = SqlColumnText(select.get(), 5);
        known.domain = SqlColumnText(select.get(), 6);
        ids.emplace(identity, sqlite3_column_int64(select.get(), 0));
        prior.hosts.emplace(std::move(identity), std::move(known));
    }
    return rc == SQLITE_DONE;
}

bool InsertChanges(sqlite3* db, std::int64_t scan, const std::vector<Change>& changes,
                   const std::unordered_map<std::string, std::int64_t>& ids) {
    SqlStatement insert(db, "INSERT INTO changes(scan, host, kind, address, before, after) "
                         "VALUES(?, ?, ?, ?, ?, ?)");
    if (!insert)
        return false;
    for (const Change& change : changes) {
        const auto host = ids.find(change.identity);
        if (host == ids.end())
            return false;
        sqlite3_bind_int64(insert.get(), 1, scan);
        sqlite3_bind_int64(insert.get(), 2, host->second);
        sqlite3_bind_int(insert.get(), 3, static_cast<int>(change.kind));
        sqlite3_bind_int64(insert.get(), 4, change.address);
        SqlBindText(insert.get(), 5, change.before);
        SqlBindText(insert.get(), 6, change.after);
        if (!SqlStep(insert.get()))
            return false;
    }
    return true;
}

// Writes what each host's last sighting was once `scan` is taken in.
bool UpdateHosts(sqlite3* db, const PriorScans& prior,
                 const std::unordered_map<std::string, std::int64_t>& ids,
                 const std::vector<std::string>& identities) {
    SqlStatement update(db, "UPDATE hosts SET last_scan = ?, last_address = ?, computer = ?, "
                         "domain = ? WHERE id = ?");
    if (!update)
        return false;
    for (const std::string& identity : identities) {
        const KnownHost& known = prior.hosts.at(identity);
        sqlite3_bind_int64(update.get(), 1, known.lastScan);
        sqlite3_bind_int64(update.get(), 2, known.lastAddress);
        SqlBindText(update.get(), 3, known.computer);
        SqlBindText(update.get(), 4, known.domain);
        sqlite3_bind_int64(update.get(), 5, ids.at(identity));
        if (!SqlStep(update.get()))
            return false;
    }
    return true;
}
