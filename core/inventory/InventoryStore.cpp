#include "core/inventory/InventoryStore.h"

#include "core/inventory/HostIdentity.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <unordered_map>
#include <chrono>
#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Writers of the same file (the window and vopal-scan) wait this long for
// each other before giving up.
constexpr int kBusyTimeoutMs = 10000;

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

bool Exec(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

// A prepared statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return m_statement; }
    explicit operator bool() const { return m_statement != nullptr; }

private:
    sqlite3_stmt* m_statement = nullptr;
};

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

// Runs a statement once; SQLITE_DONE or SQLITE_ROW count as done.
bool Step(sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
}

std::int64_t Count(sqlite3* db, const char* sql) {
    Statement statement(db, sql);
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(statement.get(), 0);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

Sighting SightingOf(std::uint32_t address, std::string identity, const std::string& mac,
                    std::string computer, std::string domain) {
    return {address, std::move(identity), IsUsableMac(mac) ? UpperCase(mac) : std::string(),
            std::move(computer), std::move(domain)};
}

// The scans before `before` (all when 0), oldest first, with their ranges
// and without their sightings.
bool LoadScanHeaders(sqlite3* db, std::int64_t before, std::vector<ScanView>& scans) {
    Statement headers(db, "SELECT id, complete FROM scans WHERE ?1 = 0 OR id < ?1 ORDER BY id");
    Statement ranges(db, "SELECT scan, first, last FROM scan_ranges "
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
    Statement select(db, "SELECT s.address, h.identity, s.mac, s.computer, s.domain "
                         "FROM sightings s JOIN hosts h ON h.id = s.host WHERE s.scan = ? "
                         "ORDER BY s.address");
    if (!select)
        return false;
    sqlite3_bind_int64(select.get(), 1, scan.id);
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW)
        scan.sightings.push_back(SightingOf(
            static_cast<std::uint32_t>(sqlite3_column_int64(select.get(), 0)),
            ColumnText(select.get(), 1), ColumnText(select.get(), 2),
            ColumnText(select.get(), 3), ColumnText(select.get(), 4)));
    return rc == SQLITE_DONE;
}

// Every host the store knows, with its row id.
bool LoadHosts(sqlite3* db, PriorScans& prior, std::unordered_map<std::string, std::int64_t>& ids) {
    Statement select(db, "SELECT id, identity, first_scan, last_scan, last_address, computer, "
                         "domain FROM hosts");
    if (!select)
        return false;
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        std::string identity = ColumnText(select.get(), 1);
        KnownHost known;
        known.firstScan = sqlite3_column_int64(select.get(), 2);
        known.lastScan = sqlite3_column_int64(select.get(), 3);
        known.lastAddress = static_cast<std::uint32_t>(sqlite3_column_int64(select.get(), 4));
        known.computer = ColumnText(select.get(), 5);
        known.domain = ColumnText(select.get(), 6);
        ids.emplace(identity, sqlite3_column_int64(select.get(), 0));
        prior.hosts.emplace(std::move(identity), std::move(known));
    }
    return rc == SQLITE_DONE;
}

bool InsertChanges(sqlite3* db, std::int64_t scan, const std::vector<Change>& changes,
                   const std::unordered_map<std::string, std::int64_t>& ids) {
    Statement insert(db, "INSERT INTO changes(scan, host, kind, address, before, after) "
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
        BindText(insert.get(), 5, change.before);
        BindText(insert.get(), 6, change.after);
        if (!Step(insert.get()))
            return false;
    }
    return true;
}

// Writes what each host's last sighting was once `scan` is taken in.
bool UpdateHosts(sqlite3* db, const PriorScans& prior,
                 const std::unordered_map<std::string, std::int64_t>& ids,
                 const std::vector<std::string>& identities) {
    Statement update(db, "UPDATE hosts SET last_scan = ?, last_address = ?, computer = ?, "
                         "domain = ? WHERE id = ?");
    if (!update)
        return false;
    for (const std::string& identity : identities) {
        const KnownHost& known = prior.hosts.at(identity);
        sqlite3_bind_int64(update.get(), 1, known.lastScan);
        sqlite3_bind_int64(update.get(), 2, known.lastAddress);
        BindText(update.get(), 3, known.computer);
        BindText(update.get(), 4, known.domain);
        sqlite3_bind_int64(update.get(), 5, ids.at(identity));
        if (!Step(update.get()))
            return false;
    }
    return true;
}

// Brings a first-version file forward: the new columns and tables, then the
// changes of every scan it holds, found as if each had just been recorded.
bool MigrateToVersion2(sqlite3* db, std::string& error) {
    if (!Exec(db, kVersion2, error))
        return false;
    std::vector<ScanView> scans;
    PriorScans prior;
    std::unordered_map<std::string, std::int64_t> ids;
    {
        Statement select(db, "SELECT id, identity FROM hosts");
        while (select && sqlite3_step(select.get()) == SQLITE_ROW)
            ids.emplace(ColumnText(select.get(), 1), sqlite3_column_int64(select.get(), 0));
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
        if (const ScanView* baseline = prior.FindBaseline(scan)) {
            prior.baseline = *baseline;
            const auto full = std::find_if(scans.begin(), scans.end(), [&](const ScanView& s) {
                return s.id == baseline->id;
            });
            prior.baseline.sightings = full->sightings;
        } else {
            prior.baseline = ScanView{};
        }
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

// Opens the file and checks that it is our database (or an empty file that
// can become one). False with the reason when it is not.
bool OpenChecked(const std::string& path, sqlite3*& db, std::string& error) {
    db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        return false;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    const std::int64_t version = Count(db, "PRAGMA user_version");
    if (version < 0) {
        error = sqlite3_errmsg(db);
        return false;
    }
    if (version > InventoryStore::kSchemaVersion) {
        error = "the database was written by a newer version of the program";
        return false;
    }
    {
        Statement check(db, "PRAGMA quick_check");
        if (!check || sqlite3_step(check.get()) != SQLITE_ROW ||
            ColumnText(check.get(), 0) != "ok") {
            error = "the database is damaged";
            return false;
        }
    }
    if (version == 0 && Count(db, "SELECT count(*) FROM sqlite_master") != 0) {
        error = "the file is a database of another program";
        return false;
    }
    if (version < InventoryStore::kSchemaVersion) {
        if (!Exec(db, "BEGIN IMMEDIATE", error))
            return false;
        // Another writer may have brought it forward meanwhile.
        const std::int64_t now = Count(db, "PRAGMA user_version");
        if ((now == 0 && !Exec(db, kInventorySchemaVersion1, error)) ||
            (now <= 1 && !MigrateToVersion2(db, error))) {
            std::string ignored;
            Exec(db, "ROLLBACK", ignored);
            return false;
        }
        if (!Exec(db, "COMMIT", error))
            return false;
    }
    std::string ignored;
    Exec(db, "PRAGMA journal_mode = WAL", ignored);
    // In WAL mode this never damages the file; a power cut may only lose the
    // last scans recorded.
    Exec(db, "PRAGMA synchronous = NORMAL", ignored);
    // Reading the hosts and a scan's sightings for each scan recorded, and a
    // host's timeline scan by scan, is quicker from mapped pages.
    Exec(db, "PRAGMA mmap_size = 1073741824", ignored);
    Exec(db, "PRAGMA cache_size = -16384", ignored);
    Exec(db, "PRAGMA foreign_keys = ON", ignored);
    return true;
}

bool NoSuchFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
}

} // namespace

InventoryStore::Opened InventoryStore::Open(const std::string& path) {
    Opened opened;
    sqlite3* db = nullptr;
    std::string error;
    if (OpenChecked(path, db, error)) {
        opened.store.reset(new InventoryStore(db));
        return opened;
    }
    sqlite3_close_v2(db);
    // A file that cannot be our database is kept aside, never overwritten,
    // and a new one is started in its place.
    const bool newerVersion = error.find("newer version") != std::string::npos;
    if (NoSuchFile(path) || newerVersion) {
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
    if (!OpenChecked(path, db, error)) {
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
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        if (Count(db, "PRAGMA user_version") == kSchemaVersion &&
            Count(db, "SELECT count(*) FROM sqlite_master WHERE name = 'changes'") == 1) {
            std::string ignored;
            Exec(db, "PRAGMA mmap_size = 1073741824", ignored);
            Opened opened;
            opened.store.reset(new InventoryStore(db));
            return opened;
        }
    }
    sqlite3_close_v2(db);
    return Open(path);
}

InventoryStore::~InventoryStore() {
    sqlite3_close_v2(m_db);
}

std::int64_t InventoryStore::Record(const RecordedScan& scan, std::string& error) {
    if (!Exec(m_db, "BEGIN IMMEDIATE", error))
        return -1;
    auto fail = [&] {
        error = sqlite3_errmsg(m_db);
        std::string ignored;
        Exec(m_db, "ROLLBACK", ignored);
        return std::int64_t(-1);
    };
    Statement insertScan(m_db, "INSERT INTO scans(started_ms, ended_ms, complete, settings) "
                               "VALUES(?, ?, ?, ?)");
    Statement insertRange(m_db, "INSERT INTO scan_ranges(scan, first, last) VALUES(?, ?, ?)");
    Statement insertHost(m_db, "INSERT INTO hosts(identity, kind, randomised_mac, first_scan) "
                               "VALUES(?, ?, ?, ?)");
    Statement insertSighting(
        m_db, "INSERT OR IGNORE INTO sightings(scan, address, host, response, computer, domain, mac, "
              "vendor, messenger) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Statement seenAt(m_db, "INSERT INTO host_addresses(host, address, first_scan, last_scan) "
                           "VALUES(?1, ?2, ?3, ?3) ON CONFLICT(host, address) "
                           "DO UPDATE SET last_scan = excluded.last_scan");
    Statement leftAddress(m_db, "UPDATE host_addresses SET last_scan = max(last_scan, ?3) "
                                "WHERE host = ?1 AND address = ?2");
    if (!insertScan || !insertRange || !insertHost || !insertSighting || !seenAt || !leftAddress)
        return fail();

    sqlite3_bind_int64(insertScan.get(), 1, scan.startedMs);
    sqlite3_bind_int64(insertScan.get(), 2, scan.endedMs);
    sqlite3_bind_int(insertScan.get(), 3, scan.complete ? 1 : 0);
    BindText(insertScan.get(), 4, scan.settings);
    if (!Step(insertScan.get()))
        return fail();
    ScanView current;
    current.id = sqlite3_last_insert_rowid(m_db);
    current.complete = scan.complete;
    current.ranges = scan.ranges;
    for (const AddressRange& range : scan.ranges) {
        sqlite3_bind_int64(insertRange.get(), 1, current.id);
        sqlite3_bind_int64(insertRange.get(), 2, range.start);
        sqlite3_bind_int64(insertRange.get(), 3, range.end);
        if (!Step(insertRange.get()))
            return fail();
    }

    // What the earlier scans left, read in this transaction so that another
    // writer's scan is either wholly before this one or wholly after.
    std::vector<HostIdentity> identities;
    for (const HostRecord& row : scan.rows) {
        identities.push_back(IdentityOf(row));
        current.sightings.push_back(SightingOf(
            AddressFromText(row.cells[HostRecord::kAddress]), identities.back().key,
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
            BindText(insertHost.get(), 1, identity.key);
            sqlite3_bind_int(insertHost.get(), 2, static_cast<int>(identity.kind));
            sqlite3_bind_int(insertHost.get(), 3, identity.randomisedMac ? 1 : 0);
            sqlite3_bind_int64(insertHost.get(), 4, current.id);
            if (!Step(insertHost.get()))
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
            if (!Step(seenAt.get()))
                return fail();
        }
        if (moved && std::find(now.begin(), now.end(), known->second.lastAddress) == now.end()) {
            sqlite3_bind_int64(leftAddress.get(), 1, host->second);
            sqlite3_bind_int64(leftAddress.get(), 2, known->second.lastAddress);
            sqlite3_bind_int64(leftAddress.get(), 3, known->second.lastScan);
            if (!Step(leftAddress.get()))
                return fail();
        }
        sqlite3_bind_int64(insertSighting.get(), 1, current.id);
        sqlite3_bind_int64(insertSighting.get(), 2, address);
        sqlite3_bind_int64(insertSighting.get(), 3, host->second);
        for (int column = 1; column < HostRecord::kColumnCount; ++column)
            BindText(insertSighting.get(), column + 3, row.cells[column]);
        if (!Step(insertSighting.get()))
            return fail();
        seen.push_back(identity.key);
    }
    prior.Remember(current);
    if (!UpdateHosts(m_db, prior, ids, seen) || !InsertChanges(m_db, current.id, changes, ids))
        return fail();
    if (!Exec(m_db, "COMMIT", error)) {
        std::string ignored;
        Exec(m_db, "ROLLBACK", ignored);
        return -1;
    }
    return current.id;
}

std::optional<StoredScan> InventoryStore::LatestScan() const {
    Statement select(m_db, "SELECT id, started_ms, ended_ms, complete, "
                           "(SELECT count(*) FROM sightings WHERE scan = scans.id) "
                           "FROM scans ORDER BY id DESC LIMIT 1");
    if (!select || sqlite3_step(select.get()) != SQLITE_ROW)
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
    change.identity = ColumnText(statement, first + 2);
    change.before = ColumnText(statement, first + 3);
    change.after = ColumnText(statement, first + 4);
    change.firstSeen = sqlite3_column_int64(statement, first + 5);
    return change;
}

// The columns ChangeFrom reads, from changes c joined with hosts h.
#define KD_CHANGE_COLUMNS "c.kind, c.address, h.identity, c.before, c.after, h.first_scan"

} // namespace

std::vector<ReportedChange> InventoryStore::ChangesOf(std::int64_t scan) const {
    Statement select(m_db, "SELECT " KD_CHANGE_COLUMNS ", f.started_ms FROM changes c "
                           "JOIN hosts h ON h.id = c.host JOIN scans f ON f.id = h.first_scan "
                           "WHERE c.scan = ? ORDER BY c.address, c.kind, h.identity");
    std::vector<ReportedChange> changes;
    if (!select)
        return changes;
    sqlite3_bind_int64(select.get(), 1, scan);
    while (sqlite3_step(select.get()) == SQLITE_ROW)
        changes.push_back({ChangeFrom(select.get(), 0), sqlite3_column_int64(select.get(), 6)});
    return changes;
}

HostHistory InventoryStore::History(const std::string& addressOrMac) const {
    HostHistory history;
    std::int64_t host = -1;
    std::string mac;
    for (char c : addressOrMac)
        if (c != ':' && c != '-' && c != '.')
            mac += c;
    const bool isMac =
        mac.size() == 12 && mac.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (IsAddressText(addressOrMac)) {
        Statement select(m_db, "SELECT s.host FROM scans f CROSS JOIN sightings s "
                               "ON s.scan = f.id AND s.address = ? ORDER BY f.id DESC LIMIT 1");
        sqlite3_bind_int64(select.get(), 1, AddressFromText(addressOrMac));
        if (select && sqlite3_step(select.get()) == SQLITE_ROW)
            host = sqlite3_column_int64(select.get(), 0);
    } else if (isMac) {
        Statement select(m_db, "SELECT id FROM hosts WHERE identity = ?");
        BindText(select.get(), 1, "mac:" + UpperCase(mac));
        if (select && sqlite3_step(select.get()) == SQLITE_ROW)
            host = sqlite3_column_int64(select.get(), 0);
    }
    if (host < 0)
        return history;
    Statement hostRow(m_db, "SELECT identity, randomised_mac, last_address, last_scan "
                            "FROM hosts WHERE id = ?");
    sqlite3_bind_int64(hostRow.get(), 1, host);
    if (!hostRow || sqlite3_step(hostRow.get()) != SQLITE_ROW)
        return history;
    history.identity = ColumnText(hostRow.get(), 0);
    history.randomisedMac = sqlite3_column_int(hostRow.get(), 1) != 0;

    const std::int64_t lastAddress = sqlite3_column_int64(hostRow.get(), 2);
    const std::int64_t lastScan = sqlite3_column_int64(hostRow.get(), 3);

    // At each address the host was seen at, scan by scan from the first to
    // the last that saw it there.
    Statement sightings(m_db, "SELECT s.scan, f.started_ms, s.address, s.response, s.computer, "
                              "s.domain, s.mac, s.vendor, s.messenger FROM host_addresses a "
                              "CROSS JOIN scans f CROSS JOIN sightings s "
                              "ON s.scan = f.id AND s.address = a.address AND s.host = a.host "
                              "WHERE a.host = ?1 AND f.id BETWEEN a.first_scan AND "
                              "CASE WHEN a.address = ?2 THEN max(a.last_scan, ?3) "
                              "ELSE a.last_scan END ORDER BY f.id, s.address");
    Statement changes(m_db, "SELECT c.scan, f.started_ms, " KD_CHANGE_COLUMNS " FROM changes c "
                            "JOIN hosts h ON h.id = c.host JOIN scans f ON f.id = c.scan "
                            "WHERE c.host = ? ORDER BY c.scan, c.address, c.kind");
    if (!sightings || !changes)
        return history;
    sqlite3_bind_int64(sightings.get(), 1, host);
    sqlite3_bind_int64(sightings.get(), 2, lastAddress);
    sqlite3_bind_int64(sightings.get(), 3, lastScan);
    while (sqlite3_step(sightings.get()) == SQLITE_ROW) {
        HistoryEntry entry;
        entry.scan = sqlite3_column_int64(sightings.get(), 0);
        entry.startedMs = sqlite3_column_int64(sightings.get(), 1);
        entry.row.cells[HostRecord::kAddress] =
            AddressToText(static_cast<std::uint32_t>(sqlite3_column_int64(sightings.get(), 2)));
        for (int column = 1; column < HostRecord::kColumnCount; ++column)
            entry.row.cells[column] = ColumnText(sightings.get(), column + 2);
        history.entries.push_back(std::move(entry));
    }
    // Each change goes with its scan's sighting at its address; a departure
    // has none and gets an entry of its own.
    sqlite3_bind_int64(changes.get(), 1, host);
    while (sqlite3_step(changes.get()) == SQLITE_ROW) {
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
    return Count(m_db, "SELECT count(*) FROM scans");
}

std::int64_t InventoryStore::SightingCount() const {
    return Count(m_db, "SELECT count(*) FROM sightings");
}
