#include "core/inventory/InventoryStore.h"

#include "core/inventory/HostArgument.h"
#include "core/inventory/HostIdentity.h"
#include "core/inventory/InventorySchema.h"
#include "core/inventory/InventoryTables.h"
#include "core/inventory/SqlStatement.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <unordered_map>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Writers of the same file (the window and vopal-scan) wait this long for
// each other before giving up.
constexpr int kBusyTimeoutMs = 10000;

// Readers that find an older file bring it forward too, and wait less for
// another writer: the window reads on its own thread.
constexpr int kReadBusyTimeoutMs = 1000;

enum class OpenResult {
    Opened,
    NotOurs, // no database, a damaged one, somebody else's: to be kept aside
    Failed,  // anything else (busy, no permission, a newer version): left alone
};

// Whether SQLite's last error on `db` says the file itself is bad.
OpenResult Failure(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xFF;
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT ? OpenResult::NotOurs
                                                           : OpenResult::Failed;
}

// Opens the file and checks that it is our database (or an empty file that
// can become one), bringing it forward to this version. The reason in
// `error` when it is not opened.
OpenResult OpenChecked(const std::string& path, int busyTimeoutMs, sqlite3*& db,
                       std::string& error) {
    db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        return OpenResult::Failed;
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    const std::int64_t version = SqlCount(db, "PRAGMA user_version");
    if (version < 0) {
        error = sqlite3_errmsg(db);
        return Failure(db);
    }
    if (version > InventoryStore::kSchemaVersion) {
        error = "the database was written by a newer version of the program";
        return OpenResult::Failed;
    }
    {
        SqlStatement check(db, "PRAGMA quick_check");
        const int rc = check ? sqlite3_step(check.get()) : sqlite3_errcode(db);
        if (rc == SQLITE_ROW && SqlColumnText(check.get(), 0) != "ok") {
            error = "the database is damaged";
            return OpenResult::NotOurs;
        }
        if (rc != SQLITE_ROW) {
            error = sqlite3_errmsg(db);
            return Failure(db);
        }
    }
    if (version == 0 && SqlCount(db, "SELECT count(*) FROM sqlite_master") != 0) {
        error = "the file is a database of another program";
        return OpenResult::NotOurs;
    }
    if (version < InventoryStore::kSchemaVersion && !BringSchemaForward(db, error))
        return Failure(db);
    std::string ignored;
    SqlExec(db, "PRAGMA journal_mode = WAL", ignored);
    // In WAL mode this never damages the file; a power cut may only lose the
    // last scans recorded.
    SqlExec(db, "PRAGMA synchronous = NORMAL", ignored);
    // Reading the hosts and a scan's sightings for each scan recorded, and a
    // host's timeline scan by scan, is quicker from mapped pages.
    SqlExec(db, "PRAGMA mmap_size = 1073741824", ignored);
    SqlExec(db, "PRAGMA cache_size = -16384", ignored);
    SqlExec(db, "PRAGMA foreign_keys = ON", ignored);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return OpenResult::Opened;
}

bool NoSuchFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
}

} // namespace

InventoryStore::Opened InventoryStore::Open(const std::string& path) {
    return OpenWaiting(path, kBusyTimeoutMs);
}

InventoryStore::Opened InventoryStore::OpenWaiting(const std::string& path, int busyTimeoutMs) {
    Opened opened;
    sqlite3* db = nullptr;
    std::string error;
    const OpenResult result = OpenChecked(path, busyTimeoutMs, db, error);
    if (result == OpenResult::Opened) {
        opened.store.reset(new InventoryStore(db));
        return opened;
    }
    sqlite3_close_v2(db);
    // A file that cannot be our database is kept aside, never overwritten,
    // and a new one is started in its place. One that is only busy, or not
    // ours to open, is left as it is.
    if (result == OpenResult::Failed || NoSuchFile(path)) {
        opened.error = error;
        return opened;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const std::string aside =
        path + ".damaged-" +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
    if (!NoSuchFile(aside) || std::rename(path.c_str(), aside.c_str()) != 0) {
        opened.error = error + "; it could not be kept aside";
        return opened;
    }
    for (const char* suffix : {"-wal", "-shm"})
        std::rename((path + suffix).c_str(), (aside + suffix).c_str());
    opened.keptAside = aside;
    if (OpenChecked(path, busyTimeoutMs, db, error) != OpenResult::Opened) {
        sqlite3_close_v2(db);
        opened.error = error;
        return opened;
    }
    opened.store.reset(new InventoryStore(db));
    return opened;
}

InventoryStore::Opened InventoryStore::OpenToRead(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, kReadBusyTimeoutMs);
        if (SqlCount(db, "PRAGMA user_version") == kSchemaVersion &&
            SqlCount(db, "SELECT count(*) FROM sqlite_master WHERE name = 'changes'") == 1) {
            std::string ignored;
            SqlExec(db, "PRAGMA mmap_size = 1073741824", ignored);
            Opened opened;
            opened.store.reset(new InventoryStore(db));
            return opened;
        }
    }
    sqlite3_close_v2(db);
    return OpenWaiting(path, kReadBusyTimeoutMs);
}

InventoryStore::~InventoryStore() {
    sqlite3_close_v2(m_db);
}

std::int64_t InventoryStore::Record(const RecordedScan& scan, std::string& error) {
    if (!SqlExec(m_db, "BEGIN IMMEDIATE", error))
        return -1;
    auto fail = [&] {
        error = sqlite3_errmsg(m_db);
        std::string ignored;
        SqlExec(m_db, "ROLLBACK", ignored);
        return std::int64_t(-1);
    };
    SqlStatement insertScan(m_db, "INSERT INTO scans(started_ms, ended_ms, complete, settings) "
                               "VALUES(?, ?, ?, ?)");
    SqlStatement insertRange(m_db, "INSERT INTO scan_ranges(scan, first, last) VALUES(?, ?, ?)");
    SqlStatement insertHost(m_db, "INSERT INTO hosts(identity, kind, randomised_mac, first_scan) "
                               "VALUES(?, ?, ?, ?)");
    SqlStatement insertSighting(
        m_db, "INSERT OR IGNORE INTO sightings(scan, address, host, response, computer, domain, mac, "
              "vendor, messenger) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    SqlStatement seenAt(m_db, "INSERT INTO host_addresses(host, address, first_scan, last_scan) "
                           "VALUES(?1, ?2, ?3, ?3) ON CONFLICT(host, address) "
                           "DO UPDATE SET last_scan = excluded.last_scan");
    SqlStatement leftAddress(m_db, "UPDATE host_addresses SET last_scan = max(last_scan, ?3) "
                                "WHERE host = ?1 AND address = ?2");
    if (!insertScan || !insertRange || !insertHost || !insertSighting || !seenAt || !leftAddress)
        return fail();

    sqlite3_bind_int64(insertScan.get(), 1, scan.startedMs);
    sqlite3_bind_int64(insertScan.get(), 2, scan.endedMs);
    sqlite3_bind_int(insertScan.get(), 3, scan.complete ? 1 : 0);
    SqlBindText(insertScan.get(), 4, scan.settings);
    if (!SqlStep(insertScan.get()))
        return fail();
    ScanView current;
    current.id = sqlite3_last_insert_rowid(m_db);
    current.complete = scan.complete;
    current.ranges = scan.ranges;
    for (const AddressRange& range : scan.ranges) {
        sqlite3_bind_int64(insertRange.get(), 1, current.id);
        sqlite3_bind_int64(insertRange.get(), 2, range.start);
        sqlite3_bind_int64(insertRange.get(), 3, range.end);
        if (!SqlStep(insertRange.get()))
            return fail();
    }

    // What the earlier scans left, read in this transaction so that another
    // writer's scan is either wholly before this one or wholly after.
    std::vector<HostIdentity> identities;
    for (const HostRecord& row : scan.rows) {
        identities.push_back(IdentityOf(row));
        current.sightings.push_back(SightingOf(
            row.address ? row.address : AddressFromText(row.cells[HostRecord::kAddress]),
            identities.back().key,
            row.cells[HostRecord::kMac], row.cells[HostRecord::kComputer],
            row.cells[HostRecord::kDomain]));
    }
    PriorScans prior;
    std::unordered_map<std::string, std::int64_t> ids;
    if (!LoadScanHeaders(m_db, current.id, prior.scans) || !LoadHosts(m_db, prior, ids))
        return fail();
    if (const ScanView* baseline = prior.FindBaseline(current)) {
        prior.baseline = *baseline;
        if (!LoadSightings(m_db, prior.baseline))
            return fail();
    }
    AttributeAddressOnlySightings(current, prior);
    // Such a row is then an existing host's sighting: its host row is there.
    for (std::size_t i = 0; i < identities.size(); ++i)
        identities[i].key = current.sightings[i].identity;
    const std::vector<Change> changes = FindChanges(current, prior);

    // Where each host is now: more than one address only with overlapping
    // ranges or a duplicate MAC.
    std::unordered_map<std::string, std::vector<std::uint32_t>> addressesNow;
    for (const Sighting& sighting : current.sightings)
        addressesNow[sighting.identity].push_back(sighting.address);
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < scan.rows.size(); ++i) {
        const HostRecord& row = scan.rows[i];
        const HostIdentity& identity = identities[i];
        auto [host, inserted] = ids.try_emplace(identity.key, -1);
        if (inserted) {
            SqlBindText(insertHost.get(), 1, identity.key);
            sqlite3_bind_int(insertHost.get(), 2, static_cast<int>(identity.kind));
            sqlite3_bind_int(insertHost.get(), 3, identity.randomisedMac ? 1 : 0);
            sqlite3_bind_int64(insertHost.get(), 4, current.id);
            if (!SqlStep(insertHost.get()))
                return fail();
            host->second = sqlite3_last_insert_rowid(m_db);
        }
        // A host at its last address, and there only, changes nothing of its
        // addresses; otherwise the address it is at now is noted, and the
        // one it left gets its last scan there.
        const std::uint32_t address = current.sightings[i].address;
        const std::vector<std::uint32_t>& now = addressesNow[identity.key];
        const auto known = prior.hosts.find(identity.key);
        const bool moved = known != prior.hosts.end() && known->second.lastAddress != address;
        if (known == prior.hosts.end() || moved || now.size() > 1) {
            sqlite3_bind_int64(seenAt.get(), 1, host->second);
            sqlite3_bind_int64(seenAt.get(), 2, address);
            sqlite3_bind_int64(seenAt.get(), 3, current.id);
            if (!SqlStep(seenAt.get()))
                return fail();
        }
        if (moved && std::find(now.begin(), now.end(), known->second.lastAddress) == now.end()) {
            sqlite3_bind_int64(leftAddress.get(), 1, host->second);
            sqlite3_bind_int64(leftAddress.get(), 2, known->second.lastAddress);
            sqlite3_bind_int64(leftAddress.get(), 3, known->second.lastScan);
            if (!SqlStep(leftAddress.get()))
                return fail();
        }
        sqlite3_bind_int64(insertSighting.get(), 1, current.id);
        sqlite3_bind_int64(insertSighting.get(), 2, address);
        sqlite3_bind_int64(insertSighting.get(), 3, host->second);
        for (int column = 1; column < HostRecord::kColumnCount; ++column)
            SqlBindText(insertSighting.get(), column + 3, row.cells[column]);
        if (!SqlStep(insertSighting.get()))
            return fail();
        seen.push_back(identity.key);
    }
    prior.Remember(current);
    if (!UpdateHosts(m_db, prior, ids, seen) || !InsertChanges(m_db, current.id, changes, ids))
        return fail();
    if (!SqlExec(m_db, "COMMIT", error)) {
        std::string ignored;
        SqlExec(m_db, "ROLLBACK", ignored);
        return -1;
    }
    return current.id;
}

int InventoryStore::Read(sqlite3_stmt* statement) const {
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && m_readError.empty())
        m_readError = sqlite3_errmsg(m_db);
    return rc;
}

bool InventoryStore::Prepared(const SqlStatement& statement) const {
    if (!statement && m_readError.empty())
        m_readError = sqlite3_errmsg(m_db);
    return static_cast<bool>(statement);
}

std::optional<StoredScan> InventoryStore::LatestScan() const {
    m_readError.clear();
    SqlStatement select(m_db, "SELECT id, started_ms, ended_ms, complete, "
                           "(SELECT count(*) FROM sightings WHERE scan = scans.id) "
                           "FROM scans ORDER BY id DESC LIMIT 1");
    if (!Prepared(select) || Read(select.get()) != SQLITE_ROW)
        return std::nullopt;
    StoredScan summary;
    summary.id = sqlite3_column_int64(select.get(), 0);
    summary.startedMs = sqlite3_column_int64(select.get(), 1);
    summary.endedMs = sqlite3_column_int64(select.get(), 2);
    summary.complete = sqlite3_column_int(select.get(), 3) != 0;
    summary.answered = sqlite3_column_int64(select.get(), 4);
    return summary;
}

namespace {

Change ChangeFrom(sqlite3_stmt* statement, int first) {
    Change change;
    change.kind = static_cast<ChangeKind>(sqlite3_column_int(statement, first));
    change.address = static_cast<std::uint32_t>(sqlite3_column_int64(statement, first + 1));
    change.identity = SqlColumnText(statement, first + 2);
    change.before = SqlColumnText(statement, first + 3);
    change.after = SqlColumnText(statement, first + 4);
    change.firstSeen = sqlite3_column_int64(statement, first + 5);
    return change;
}

// The columns ChangeFrom reads, from changes c joined with hosts h.
#define KD_CHANGE_COLUMNS "c.kind, c.address, h.identity, c.before, c.after, h.first_scan"

} // namespace

std::vector<ReportedChange> InventoryStore::ChangesOf(std::int64_t scan) const {
    m_readError.clear();
    SqlStatement select(m_db, "SELECT " KD_CHANGE_COLUMNS ", f.started_ms FROM changes c "
                           "JOIN hosts h ON h.id = c.host JOIN scans f ON f.id = h.first_scan "
                           "WHERE c.scan = ? ORDER BY c.address, c.kind, h.identity");
    std::vector<ReportedChange> changes;
    if (!Prepared(select))
        return changes;
    sqlite3_bind_int64(select.get(), 1, scan);
    while (Read(select.get()) == SQLITE_ROW)
        changes.push_back({ChangeFrom(select.get(), 0), sqlite3_column_int64(select.get(), 6)});
    return changes;
}

HostHistory InventoryStore::History(const std::string& addressOrMac) const {
    m_readError.clear();
    HostHistory history;
    std::int64_t host = -1;
    // Read strictly: inet_addr would also take twelve digits of a MAC for
    // an address, and "010.0.0.1" for another host than the one meant.
    std::string named, error;
    if (!ParseHostArgument(addressOrMac, named, error))
        return history;
    const bool isAddress = named.find('.') != std::string::npos;
    const std::string mac = isAddress ? std::string() : named;
    if (isAddress) {
        SqlStatement select(m_db, "SELECT s.host FROM scans f CROSS JOIN sightings s "
                               "ON s.scan = f.id AND s.address = ? ORDER BY f.id DESC LIMIT 1");
        sqlite3_bind_int64(select.get(), 1, AddressFromText(named));
        if (Prepared(select) && Read(select.get()) == SQLITE_ROW)
            host = sqlite3_column_int64(select.get(), 0);
    } else if (!mac.empty()) {
        SqlStatement select(m_db, "SELECT id FROM hosts WHERE identity = ?");
        SqlBindText(select.get(), 1, "mac:" + mac);
        if (Prepared(select) && Read(select.get()) == SQLITE_ROW)
            host = sqlite3_column_int64(select.get(), 0);
    }
    if (host < 0)
        return history;
    SqlStatement hostRow(m_db, "SELECT identity, randomised_mac, last_address, last_scan "
                            "FROM hosts WHERE id = ?");
    sqlite3_bind_int64(hostRow.get(), 1, host);
    if (!Prepared(hostRow) || Read(hostRow.get()) != SQLITE_ROW)
        return history;
    history.identity = SqlColumnText(hostRow.get(), 0);
    history.randomisedMac = sqlite3_column_int(hostRow.get(), 1) != 0;

    const std::int64_t lastAddress = sqlite3_column_int64(hostRow.get(), 2);
    const std::int64_t lastScan = sqlite3_column_int64(hostRow.get(), 3);

    // At each address the host was seen at, scan by scan from the first to
    // the last that saw it there.
    SqlStatement sightings(m_db, "SELECT s.scan, f.started_ms, s.address, s.response, s.computer, "
                              "s.domain, s.mac, s.vendor, s.messenger FROM host_addresses a "
                              "CROSS JOIN scans f CROSS JOIN sightings s "
                              "ON s.scan = f.id AND s.address = a.address AND s.host = a.host "
                              "WHERE a.host = ?1 AND f.id BETWEEN a.first_scan AND "
                              "CASE WHEN a.address = ?2 THEN max(a.last_scan, ?3) "
                              "ELSE a.last_scan END ORDER BY f.id, s.address");
    SqlStatement changes(m_db, "SELECT c.scan, f.started_ms, " KD_CHANGE_COLUMNS " FROM changes c "
                            "JOIN hosts h ON h.id = c.host JOIN scans f ON f.id = c.scan "
                            "WHERE c.host = ? ORDER BY c.scan, c.address, c.kind");
    if (!Prepared(sightings) || !Prepared(changes))
        return history;
    sqlite3_bind_int64(sightings.get(), 1, host);
    sqlite3_bind_int64(sightings.get(), 2, lastAddress);
    sqlite3_bind_int64(sightings.get(), 3, lastScan);
    while (Read(sightings.get()) == SQLITE_ROW) {
        HistoryEntry entry;
        entry.scan = sqlite3_column_int64(sightings.get(), 0);
        entry.startedMs = sqlite3_column_int64(sightings.get(), 1);
        entry.row.cells[HostRecord::kAddress] =
            AddressToText(static_cast<std::uint32_t>(sqlite3_column_int64(sightings.get(), 2)));
        for (int column = 1; column < HostRecord::kColumnCount; ++column)
            entry.row.cells[column] = SqlColumnText(sightings.get(), column + 2);
        history.entries.push_back(std::move(entry));
    }
    // Each change goes with its scan's sighting at its address; a departure
    // has none and gets an entry of its own.
    sqlite3_bind_int64(changes.get(), 1, host);
    while (Read(changes.get()) == SQLITE_ROW) {
        Change change = ChangeFrom(changes.get(), 2);
        const std::int64_t scan = sqlite3_column_int64(changes.get(), 0);
        const std::string address = AddressToText(change.address);
        auto entry = std::find_if(history.entries.begin(), history.entries.end(),
                                  [&](const HistoryEntry& e) {
                                      return e.scan == scan && e.seen &&
                                             e.row.cells[HostRecord::kAddress] == address;
                                  });
        if (entry == history.entries.end()) {
            HistoryEntry gone;
            gone.scan = scan;
            gone.startedMs = sqlite3_column_int64(changes.get(), 1);
            gone.seen = false;
            gone.row.cells[HostRecord::kAddress] = address;
            const auto after = std::find_if(history.entries.begin(), history.entries.end(),
                                            [&](const HistoryEntry& e) { return e.scan > scan; });
            entry = history.entries.insert(after, std::move(gone));
        }
        entry->changes.push_back(std::move(change));
    }
    return history;
}

std::int64_t InventoryStore::ScanCount() const {
    return SqlCount(m_db, "SELECT count(*) FROM scans");
}

std::int64_t InventoryStore::SightingCount() const {
    return SqlCount(m_db, "SELECT count(*) FROM sightings");
}
