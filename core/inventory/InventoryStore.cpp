#include "core/inventory/InventoryStore.h"

#include "core/inventory/HostIdentity.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Writers of the same file (the window and vopal-scan) wait this long for
// each other before giving up.
constexpr int kBusyTimeoutMs = 10000;

const char* const kSchema = R"sql(
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
    Statement check(db, "PRAGMA quick_check");
    if (!check || sqlite3_step(check.get()) != SQLITE_ROW ||
        std::string(reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0))) != "ok") {
        error = "the database is damaged";
        return false;
    }
    if (version == 0) {
        // A new file, or one that holds tables of somebody else's.
        if (Count(db, "SELECT count(*) FROM sqlite_master") != 0) {
            error = "the file is a database of another program";
            return false;
        }
        if (!Exec(db, "BEGIN IMMEDIATE", error))
            return false;
        // Another writer may have made it meanwhile.
        if (Count(db, "PRAGMA user_version") == 0 && !Exec(db, kSchema, error)) {
            Exec(db, "ROLLBACK", error);
            return false;
        }
        if (!Exec(db, "COMMIT", error))
            return false;
    }
    std::string ignored;
    Exec(db, "PRAGMA journal_mode = WAL", ignored);
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
    Statement findHost(m_db, "SELECT id FROM hosts WHERE identity = ?");
    Statement insertHost(m_db, "INSERT INTO hosts(identity, kind, randomised_mac, first_scan) "
                               "VALUES(?, ?, ?, ?)");
    Statement insertSighting(
        m_db, "INSERT INTO sightings(scan, address, host, response, computer, domain, mac, "
              "vendor, messenger) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!insertScan || !insertRange || !findHost || !insertHost || !insertSighting)
        return fail();

    sqlite3_bind_int64(insertScan.get(), 1, scan.startedMs);
    sqlite3_bind_int64(insertScan.get(), 2, scan.endedMs);
    sqlite3_bind_int(insertScan.get(), 3, scan.complete ? 1 : 0);
    BindText(insertScan.get(), 4, scan.settings);
    if (!Step(insertScan.get()))
        return fail();
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);

    for (const AddressRange& range : scan.ranges) {
        sqlite3_bind_int64(insertRange.get(), 1, id);
        sqlite3_bind_int64(insertRange.get(), 2, range.start);
        sqlite3_bind_int64(insertRange.get(), 3, range.end);
        if (!Step(insertRange.get()))
            return fail();
    }
    for (const HostRecord& row : scan.rows) {
        const HostIdentity identity = IdentityOf(row);
        std::int64_t host = -1;
        BindText(findHost.get(), 1, identity.key);
        if (sqlite3_step(findHost.get()) == SQLITE_ROW)
            host = sqlite3_column_int64(findHost.get(), 0);
        sqlite3_reset(findHost.get());
        sqlite3_clear_bindings(findHost.get());
        if (host < 0) {
            BindText(insertHost.get(), 1, identity.key);
            sqlite3_bind_int(insertHost.get(), 2, static_cast<int>(identity.kind));
            sqlite3_bind_int(insertHost.get(), 3, identity.randomisedMac ? 1 : 0);
            sqlite3_bind_int64(insertHost.get(), 4, id);
            if (!Step(insertHost.get()))
                return fail();
            host = sqlite3_last_insert_rowid(m_db);
        }
        sqlite3_bind_int64(insertSighting.get(), 1, id);
        sqlite3_bind_int64(insertSighting.get(), 2,
                           static_cast<std::int64_t>(AddressFromText(row.cells[0])));
        sqlite3_bind_int64(insertSighting.get(), 3, host);
        for (int column = 1; column < HostRecord::kColumnCount; ++column)
            BindText(insertSighting.get(), column + 3, row.cells[column]);
        if (!Step(insertSighting.get()))
            return fail();
    }
    if (!Exec(m_db, "COMMIT", error)) {
        std::string ignored;
        Exec(m_db, "ROLLBACK", ignored);
        return -1;
    }
    return id;
}

std::int64_t InventoryStore::ScanCount() const {
    return Count(m_db, "SELECT count(*) FROM scans");
}

std::int64_t InventoryStore::SightingCount() const {
    return Count(m_db, "SELECT count(*) FROM sightings");
}
