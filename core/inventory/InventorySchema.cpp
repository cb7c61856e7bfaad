#include "core/inventory/InventorySchema.h"

#include "core/inventory/InventoryTables.h"
#include "core/inventory/SqlStatement.h"

#include <unordered_map>

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

// Brings a first-version file forward: the new columns and tables, then the
// changes of every scan it holds, found as if each had just been recorded.
bool MigrateToVersion2(sqlite3* db, std::string& error) {
    if (!SqlExec(db, kVersion2, error))
        return false;
    std::vector<ScanView> scans;
    PriorScans prior;
    std::unordered_map<std::string, std::int64_t> ids;
    {
        SqlStatement select(db, "SELECT id, identity FROM hosts");
        while (select && sqlite3_step(select.get()) == SQLITE_ROW)
            ids.emplace(SqlColumnText(select.get(), 1), sqlite3_column_int64(select.get(), 0));
    }
    if (!LoadScanHeaders(db, 0, scans)) {
        error = sqlite3_errmsg(db);
        return false;
    }
    for (ScanView& scan : scans) {
        if (!LoadSightings(db, scan)) {
            error = sqlite3_errmsg(db);
            return false;
        }
        // `prior.scans` holds the headers of the scans before this one, in order.
        const ScanView* baseline = prior.FindBaseline(scan);
        prior.baseline =
            baseline ? scans[static_cast<std::size_t>(baseline - prior.scans.data())] : ScanView{};
        if (!InsertChanges(db, scan.id, FindChanges(scan, prior), ids)) {
            error = sqlite3_errmsg(db);
            return false;
        }
        prior.Remember(scan);
    }
    std::vector<std::string> identities;
    for (const auto& [identity, known] : prior.hosts)
        identities.push_back(identity);
    if (!UpdateHosts(db, prior, ids, identities)) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

} // namespace

bool BringSchemaForward(sqlite3* db, std::int64_t version, std::string& error) {
    return (version != 0 || SqlExec(db, kInventorySchemaVersion1, error)) &&
           (version > 1 || MigrateToVersion2(db, error));
}
