#include "core/inventory/sqlite/InventorySchema.h"

#include "core/inventory/sqlite/InventoryTables.h"
#include "core/inventory/sqlite/SqlStatement.h"

#include "core/inventory/HostPresence.h"

#include <map>
#include <unordered_map>

namespace {

// The tables of rows and presence, as the third version added them. A
// host told gone has its rows marked departed until it is seen again: a
// scan has nothing more to tell of it and does not read it.
const char* const kRowTables = R"sql(
CREATE TABLE host_rows (
    host INTEGER NOT NULL REFERENCES hosts(id),
    address INTEGER NOT NULL,
    since INTEGER NOT NULL,
    response TEXT NOT NULL,
    computer TEXT NOT NULL,
    domain TEXT NOT NULL,
    mac TEXT NOT NULL,
    vendor TEXT NOT NULL,
    messenger TEXT NOT NULL,
    departed INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (host, address)
) WITHOUT ROWID;
CREATE INDEX host_rows_staying ON host_rows(address) WHERE departed = 0;
CREATE INDEX host_rows_departed ON host_rows(address) WHERE departed = 1;
CREATE TABLE past_rows (
    host INTEGER NOT NULL REFERENCES hosts(id),
    since INTEGER NOT NULL,
    address INTEGER NOT NULL,
    response TEXT NOT NULL,
    computer TEXT NOT NULL,
    domain TEXT NOT NULL,
    mac TEXT NOT NULL,
    vendor TEXT NOT NULL,
    messenger TEXT NOT NULL,
    PRIMARY KEY (host, since, address)
) WITHOUT ROWID;
CREATE INDEX past_rows_by_address ON past_rows(address);
CREATE TABLE presence (
    chunk INTEGER NOT NULL,
    scan INTEGER NOT NULL REFERENCES scans(id),
    bits BLOB NOT NULL,
    PRIMARY KEY (chunk, scan)
) WITHOUT ROWID;
)sql";

} // namespace

const char* const kInventorySchemaVersion1 = R"sql(
CREATE TABLE scans (
    id INTEGER PRIMARY KEY,
    started_ms INTEGER NOT NULL,
    ended_ms INTEGER NOT NULL,
    complete INTEGER NOT NULL,
    settings TEXT NOT NULL
);
CREATE TABLE scan_ranges (
    scan INTEGER NOT NULL REFERENCES scans(id),
    first INTEGER NOT NULL,
    last INTEGER NOT NULL
);
CREATE TABLE hosts (
    id INTEGER PRIMARY KEY,
    identity TEXT NOT NULL UNIQUE,
    kind INTEGER NOT NULL,
    randomised_mac INTEGER NOT NULL,
    first_scan INTEGER NOT NULL REFERENCES scans(id)
);
CREATE TABLE sightings (
    scan INTEGER NOT NULL REFERENCES scans(id),
    address INTEGER NOT NULL,
    host INTEGER NOT NULL REFERENCES hosts(id),
    response TEXT NOT NULL,
    computer TEXT NOT NULL,
    domain TEXT NOT NULL,
    mac TEXT NOT NULL,
    vendor TEXT NOT NULL,
    messenger TEXT NOT NULL
);
CREATE INDEX sightings_by_host ON sightings(host, scan);
CREATE INDEX sightings_by_scan ON sightings(scan, address);
PRAGMA user_version = 1;
)sql";

namespace {

// The second: each host's last sighting and names, the changes of each scan,
// and the addresses each host was seen at, each with the first and the last
// scan that saw it there (at its last address the host's own last scan
// counts, so that a host that stays puts nothing here). The sightings are kept in the
// order of scan and address, the one way they are looked up: a scan's rows
// for the next scan's changes, and a host's timeline scan by scan at the
// addresses it was seen at. An index of the sightings by host would have
// every scan write to a page of every host.
const char* const kVersion2 = R"sql(
ALTER TABLE hosts ADD COLUMN last_scan INTEGER NOT NULL DEFAULT 0;
ALTER TABLE hosts ADD COLUMN last_address INTEGER NOT NULL DEFAULT 0;
ALTER TABLE hosts ADD COLUMN computer TEXT NOT NULL DEFAULT '';
ALTER TABLE hosts ADD COLUMN domain TEXT NOT NULL DEFAULT '';
CREATE TABLE changes (
    scan INTEGER NOT NULL REFERENCES scans(id),
    host INTEGER NOT NULL REFERENCES hosts(id),
    kind INTEGER NOT NULL,
    address INTEGER NOT NULL,
    before TEXT NOT NULL,
    after TEXT NOT NULL
);
CREATE INDEX changes_by_scan ON changes(scan);
CREATE INDEX changes_by_host ON changes(host, scan);
CREATE TABLE host_addresses (
    host INTEGER NOT NULL REFERENCES hosts(id),
    address INTEGER NOT NULL,
    first_scan INTEGER NOT NULL,
    last_scan INTEGER NOT NULL,
    PRIMARY KEY (host, address)
) WITHOUT ROWID;
INSERT INTO host_addresses
    SELECT host, address, min(scan), max(scan) FROM sightings GROUP BY host, address;
CREATE TABLE sightings2 (
    scan INTEGER NOT NULL REFERENCES scans(id),
    address INTEGER NOT NULL,
    host INTEGER NOT NULL REFERENCES hosts(id),
    response TEXT NOT NULL,
    computer TEXT NOT NULL,
    domain TEXT NOT NULL,
    mac TEXT NOT NULL,
    vendor TEXT NOT NULL,
    messenger TEXT NOT NULL,
    PRIMARY KEY (scan, address, host)
) WITHOUT ROWID;
INSERT OR IGNORE INTO sightings2 SELECT * FROM sightings ORDER BY rowid;
DROP TABLE sightings;
ALTER TABLE sightings2 RENAME TO sightings;
PRAGMA user_version = 2;
)sql";

// The second version's hosts and sightings, as bringing a first-version
// file forward reads and writes them.
bool LoadVersion2Sightings(sqlite3* db, ScanView& scan) {
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

bool UpdateVersion2Hosts(sqlite3* db, const PriorScans& prior,
                         const std::unordered_map<std::string, std::int64_t>& ids) {
    SqlStatement update(db, "UPDATE hosts SET last_scan = ?, last_address = ?, computer = ?, "
                            "domain = ? WHERE id = ?");
    if (!update)
        return false;
    for (const auto& [identity, known] : prior.hosts) {
        sqlite3_bind_int64(update.get(), 1, known.lastScan);
        sqlite3_bind_int64(update.get(), 2, known.lastAddress);
        SqlBindText(update.get(), 3, known.computer);
        SqlBindText(update.get(), 4, known.domain);
        sqlite3_bind_int64(update.get(), 5, ids.at(std::string(identity)));
        if (!SqlStep(update.get()))
            return false;
    }
    return true;
}

// Brings a first-version file forward: the new columns and tables, then the
// changes of every scan it holds, found as if each had just been recorded.
bool MigrateToVersion2(sqlite3* db, std::string& error) {
    if (!SqlExec(db, kVersion2, error))
        return false;
    InventoryTables tables(db);
    std::vector<ScanView> scans;
    PriorScans prior;
    std::unordered_map<std::string, std::int64_t> ids;
    {
        SqlStatement select(db, "SELECT id, identity FROM hosts");
        while (select && sqlite3_step(select.get()) == SQLITE_ROW)
            ids.emplace(SqlColumnText(select.get(), 1), sqlite3_column_int64(select.get(), 0));
    }
    auto failed = [&] {
        error = sqlite3_errmsg(db);
        return false;
    };
    const std::unordered_map<std::string_view, std::int64_t> hostIds(ids.begin(), ids.end());
    if (!tables.LoadScanHeaders(0, scans))
        return failed();
    for (ScanView& scan : scans) {
        if (!LoadVersion2Sightings(db, scan))
            return failed();
        // `prior.scans` holds the headers of the scans before this one, in order.
        const ScanView* baseline = prior.FindBaseline(scan);
        prior.baseline =
            baseline ? scans[static_cast<std::size_t>(baseline - prior.scans.data())] : ScanView{};
        if (!tables.InsertChanges(scan.id, FindChanges(scan, prior), hostIds))
            return failed();
        prior.Remember(scan);
    }
    return UpdateVersion2Hosts(db, prior, ids) || failed();
}

// The third: a scan keeps which hosts it saw (presence), and a host keeps
// its rows once, with a new version only when a scan found them otherwise.
const char* const kVersion3 = R"sql(
ALTER TABLE scans ADD COLUMN answered INTEGER NOT NULL DEFAULT 0;
UPDATE scans SET answered = (SELECT count(*) FROM sightings WHERE sightings.scan = scans.id);
)sql";

// Brings a second-version file forward: every host's sightings, scan by
// scan, become its versions of rows and the scans' presence.
bool MigrateToVersion3(sqlite3* db, std::string& error) {
    if (!SqlExec(db, kVersion3, error) || !SqlExec(db, kRowTables, error))
        return false;
    InventoryTables tables(db);
    SqlStatement select(db, "SELECT host, scan, address, response, computer, domain, mac, "
                            "vendor, messenger FROM sightings ORDER BY host, scan, address");
    auto failed = [&] {
        error = sqlite3_errmsg(db);
        return false;
    };
    if (!select)
        return failed();
    std::map<std::int64_t, HostPresence> presence;
    StoredHost host;           // the host being read: its version now
    std::vector<HostRow> rows; // what one scan found of it
    std::int64_t scan = 0;
    // Ends the scan being read of the host: a new version when it differs.
    auto endScan = [&]() {
        if (rows.empty())
            return true;
        bool done = true;
        if (rows != host.rows) {
            done = host.rows.empty() || tables.InsertRows(true, host.id, host.since, host.rows);
            host.rows = std::move(rows);
            host.since = scan;
        }
        rows.clear();
        return done;
    };
    auto endHost = [&]() {
        const bool done = endScan() &&
                          (host.rows.empty() || tables.InsertRows(false, host.id, host.since, host.rows));
        host = StoredHost{};
        return done;
    };
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(select.get(), 0);
        const std::int64_t at = sqlite3_column_int64(select.get(), 1);
        if (id != host.id && !endHost())
            return failed();
        if (at != scan && !endScan())
            return failed();
        host.id = id;
        scan = at;
        HostRow row;
        row.address = static_cast<std::uint32_t>(sqlite3_column_int64(select.get(), 2));
        for (std::size_t i = 0; i < row.cells.size(); ++i)
            row.cells[i] = SqlColumnText(select.get(), 3 + static_cast<int>(i));
        rows.push_back(std::move(row));
        presence[at].Add(id);
    }
    if (rc != SQLITE_DONE || !endHost())
        return failed();
    for (const auto& [id, seen] : presence)
        if (!tables.InsertPresence(id, seen))
            return failed();
    return SqlExec(db, R"sql(
UPDATE host_rows SET departed = 1 WHERE host IN (
    SELECT c.host FROM changes c JOIN hosts h ON h.id = c.host
    WHERE c.kind = 2 AND c.scan > h.last_scan);
DROP TABLE sightings;
DROP TABLE host_addresses;
ALTER TABLE hosts DROP COLUMN last_scan;
PRAGMA user_version = 3;
)sql",
                   error);
}

// The fourth version: the notices of changes waiting to be delivered, and
// a name of the store that stays with it, from which receivers tell a
// notice sent twice from a new one.
const char* const kVersion4 = R"sql(
CREATE TABLE store_identity (id TEXT NOT NULL);
INSERT INTO store_identity VALUES (lower(hex(randomblob(16))));
CREATE TABLE notices (
    id INTEGER PRIMARY KEY,
    scan INTEGER NOT NULL REFERENCES scans(id),
    target TEXT NOT NULL,
    made_ms INTEGER NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0,
    last_error TEXT NOT NULL DEFAULT '',
    claimed_by TEXT NOT NULL DEFAULT '',
    claimed_until_ms INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX notices_by_target ON notices(target, id);
PRAGMA user_version = 4;
)sql";

// The fifth version: the site each scan was made at, with the id the site
// gave it, and the scans waiting for the server shared by many sites.
const char* const kVersion5 = R"sql(
ALTER TABLE scans ADD COLUMN site TEXT NOT NULL DEFAULT '';
ALTER TABLE scans ADD COLUMN site_scan TEXT;
CREATE UNIQUE INDEX scans_by_site_scan ON scans(site, site_scan) WHERE site_scan IS NOT NULL;
CREATE TABLE server_outbox (
    scan INTEGER PRIMARY KEY REFERENCES scans(id),
    server TEXT NOT NULL,
    document TEXT NOT NULL
);
PRAGMA user_version = 5;
)sql";

// The sixth version: the names other sources than node status gave, with
// their sources (StoredNames): those each row was found with, and those each
// host leaves learnt for telling a rename by; and which source a rename is
// of. Rows and changes without them keep the defaults, as before.
const char* const kVersion6 = R"sql(
ALTER TABLE host_rows ADD COLUMN names TEXT NOT NULL DEFAULT '';
ALTER TABLE past_rows ADD COLUMN names TEXT NOT NULL DEFAULT '';
ALTER TABLE hosts ADD COLUMN names TEXT NOT NULL DEFAULT '';
ALTER TABLE changes ADD COLUMN source INTEGER NOT NULL DEFAULT 0;
PRAGMA user_version = 6;
)sql";

} // namespace

bool BringSchemaForward(sqlite3* db, std::int64_t version, std::string& error) {
    return (version != 0 || SqlExec(db, kInventorySchemaVersion1, error)) &&
           (version > 1 || MigrateToVersion2(db, error)) &&
           (version > 2 || MigrateToVersion3(db, error)) &&
           (version > 3 || SqlExec(db, kVersion4, error)) &&
           (version > 4 || SqlExec(db, kVersion5, error)) &&
           (version > 5 || SqlExec(db, kVersion6, error));
}

std::vector<const char*> InventoryTablesOf(std::int64_t version) {
    std::vector<const char*> tables = {"scans", "scan_ranges", "hosts"};
    if (version < 3)
        tables.push_back("sightings");
    if (version == 2)
        tables.push_back("host_addresses");
    if (version >= 2)
        tables.push_back("changes");
    if (version >= 3)
        for (const char* table : {"host_rows", "past_rows", "presence"})
            tables.push_back(table);
    if (version >= 4)
        for (const char* table : {"store_identity", "notices"})
            tables.push_back(table);
    if (version >= 5)
        tables.push_back("server_outbox");
    return tables;
}
