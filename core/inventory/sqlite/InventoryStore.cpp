#include "core/inventory/sqlite/InventoryStore.h"

#include "core/inventory/HostArgument.h"
#include "core/inventory/HostIdentity.h"
#include "core/inventory/HostPresence.h"
#include "core/inventory/ScanDocument.h"
#include "core/inventory/StoredNames.h"
#include "core/inventory/sqlite/InventorySchema.h"
#include "core/inventory/sqlite/InventoryTables.h"
#include "core/inventory/sqlite/InventoryWriter.h"
#include "core/inventory/sqlite/SqlStatement.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

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

bool IsDamage(int code) {
    code &= 0xFF;
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
}

// Whether SQLite's last error on `db` says the file itself is bad.
OpenResult Failure(sqlite3* db) {
    return IsDamage(sqlite3_errcode(db)) ? OpenResult::NotOurs : OpenResult::Failed;
}

// Which file a path names now: the same device and inode is the same file.
struct FileId {
    bool exists = false;
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FileId&) const = default;
};

FileId IdOf(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return {true, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool NoSuchFile(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names, symbolic links followed: the real file of a link,
// or where a dangling link points, so that a new store is made there and
// a damaged one is kept aside beside its target, the link left as it is.
std::string RealFile(const std::string& path) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved = real;
        std::free(real);
        return resolved;
    }
    std::string file = path;
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(file.c_str(), target, sizeof target - 1);
        if (n <= 0)
            break;
        const std::string next(target, static_cast<std::size_t>(n));
        file = next[0] == '/' ? next : DirectoryOf(file) + "/" + next;
    }
    return file;
}

// Whether every table of `version` is there; the first missing one.
bool HasOurTables(sqlite3* db, std::int64_t version, std::string& missing) {
    SqlStatement count(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
    for (const char* name : InventoryTablesOf(version)) {
        SqlBindText(count.get(), 1, name);
        const bool found =
            sqlite3_step(count.get()) == SQLITE_ROW && sqlite3_column_int64(count.get(), 0) == 1;
        sqlite3_reset(count.get());
        if (!found)
            return missing = name, false;
    }
    return true;
}

// Judges the open file under the write lock, so that a store another writer
// is making is never mistaken for a foreign file: an empty file, or one
// without tables, is a new store and gets them; one of ours is brought
// forward to this version (after a check of the whole file).
OpenResult Judge(sqlite3* db, std::string& error) {
    if (!SqlExec(db, "BEGIN IMMEDIATE", error))
        return Failure(db);
    auto fail = [&](OpenResult result, std::string why) {
        error = std::move(why);
        std::string ignored;
        SqlExec(db, "ROLLBACK", ignored);
        return result;
    };
    const std::int64_t version = SqlCount(db, "PRAGMA user_version");
    if (version < 0)
        return fail(Failure(db), sqlite3_errmsg(db));
    if (version > InventoryStore::kSchemaVersion)
        return fail(OpenResult::Failed,
                    "the database was written by a newer version of the program");
    const std::int64_t tables = SqlCount(db, "SELECT count(*) FROM sqlite_master");
    if (tables < 0)
        return fail(Failure(db), sqlite3_errmsg(db));
    if (version == 0 && tables != 0)
        return fail(OpenResult::NotOurs, "the file is a database of another program");
    std::string missing;
    if (version > 0 && !HasOurTables(db, version, missing)) {
        if (sqlite3_errcode(db) != SQLITE_OK && sqlite3_errcode(db) != SQLITE_ROW &&
            sqlite3_errcode(db) != SQLITE_DONE)
            return fail(Failure(db), sqlite3_errmsg(db));
        return fail(OpenResult::NotOurs,
                    "the database is damaged (its table " + missing + " is missing)");
    }
    if (version > 0 && version < InventoryStore::kSchemaVersion) {
        // Brought forward, every row is read and rewritten: damage is met
        // here rather than half way.
        SqlStatement check(db, "PRAGMA quick_check");
        const int rc = check ? sqlite3_step(check.get()) : sqlite3_errcode(db);
        if (rc == SQLITE_ROW && SqlColumnText(check.get(), 0) != "ok")
            return fail(OpenResult::NotOurs, "the database is damaged");
        if (rc != SQLITE_ROW)
            return fail(Failure(db), sqlite3_errmsg(db));
    }
    if (version < InventoryStore::kSchemaVersion && !BringSchemaForward(db, version, error))
        return fail(Failure(db), error);
    if (!SqlExec(db, "COMMIT", error))
        return fail(Failure(db), error);
    // An older file brought forward leaves the pages of its old tables
    // free: the file gets back to the size of what it holds. Should another
    // writer be in the way, the pages are used again by the scans to come.
    if (version > 0 && version < InventoryStore::kSchemaVersion &&
        SqlCount(db, "PRAGMA freelist_count") * 4 > SqlCount(db, "PRAGMA page_count")) {
        std::string ignored;
        SqlExec(db, "VACUUM", ignored);
    }
    return OpenResult::Opened;
}

// Opens the real file and judges it; the file's identity as it was before
// the open, so that only the file judged is ever kept aside.
OpenResult OpenChecked(const std::string& file, int busyTimeoutMs, sqlite3*& db, FileId& id,
                       std::string& error) {
    db = nullptr;
    id = IdOf(file);
    if (sqlite3_open_v2(file.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        return OpenResult::Failed;
    }
    if (!id.exists)
        id = IdOf(file); // made by this open, or by another writer just now
    sqlite3_busy_timeout(db, busyTimeoutMs);
    const OpenResult judged = Judge(db, error);
    if (judged != OpenResult::Opened)
        return judged;
    std::string ignored;
    SqlExec(db, "PRAGMA journal_mode = WAL", ignored);
    // In WAL mode this never damages the file; a power cut may only lose the
    // last scans recorded.
    SqlExec(db, "PRAGMA synchronous = NORMAL", ignored);
    // Reading the hosts and the baseline's rows for each scan recorded, and a
    // host's timeline scan by scan, is quicker from mapped pages.
    SqlExec(db, "PRAGMA mmap_size = 1073741824", ignored);
    SqlExec(db, "PRAGMA cache_size = -65536", ignored);
    SqlExec(db, "PRAGMA foreign_keys = ON", ignored);
    // A scan of a /16 that changes a few hundred hosts dirties a few
    // thousand pages: the log is written back into the file every few scans
    // (and when the last connection closes) rather than after every one.
    SqlExec(db, "PRAGMA wal_autocheckpoint = 16384", ignored);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return OpenResult::Opened;
}

enum class AsideResult { Kept, Changed, Failed };

// Keeps the damaged file aside with its -wal and -shm, if `file` still names
// the file judged. Writers that judged the same file at once take turns on
// the directory's lock: the first keeps it aside, the others find a file
// they have not judged (maybe the first one's new store) and judge again.
AsideResult KeepAside(const std::string& file, const FileId& judged, std::string& aside) {
    const int directory = ::open(DirectoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return AsideResult::Failed;
    while (::flock(directory, LOCK_EX) != 0)
        if (errno != EINTR) {
            ::close(directory);
            return AsideResult::Failed;
        }
    AsideResult result = AsideResult::Changed;
    if (judged.exists && IdOf(file) == judged) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const std::string name =
            file + ".damaged-" +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
        result = AsideResult::Failed;
        if (NoSuchFile(name) && std::rename(file.c_str(), name.c_str()) == 0) {
            for (const char* suffix : {"-wal", "-shm"})
                std::rename((file + suffix).c_str(), (name + suffix).c_str());
            aside = name;
            result = AsideResult::Kept;
        }
    }
    ::close(directory); // releases the lock
    return result;
}

// Another writer's new store is judged again a few times at most.
constexpr int kJudgeAttempts = 4;

} // namespace

InventoryStore::Opened InventoryStore::Open(const std::string& path) {
    return OpenWaiting(path, kBusyTimeoutMs);
}

InventoryStore::Opened InventoryStore::OpenWaiting(const std::string& path, int busyTimeoutMs) {
    Opened opened;
    const std::string file = RealFile(path);
    for (int attempt = 0; attempt < kJudgeAttempts; ++attempt) {
        sqlite3* db = nullptr;
        FileId id;
        std::string error;
        const OpenResult result = OpenChecked(file, busyTimeoutMs, db, id, error);
        if (result == OpenResult::Opened) {
            opened.store.reset(new InventoryStore(db, file, id.device, id.inode));
            opened.error.clear();
            return opened;
        }
        sqlite3_close_v2(db);
        opened.error = error;
        // A file that cannot be our database is kept aside, never
        // overwritten, and a new one is started in its place. One that is
        // only busy, or not ours to open, is left as it is.
        if (result == OpenResult::Failed || NoSuchFile(file))
            return opened;
        std::string aside;
        const AsideResult kept = KeepAside(file, id, aside);
        if (kept == AsideResult::Failed) {
            opened.error = error + "; it could not be kept aside";
            return opened;
        }
        if (kept == AsideResult::Kept) {
            opened.keptAside = aside;
            opened.whyAside = error;
        }
    }
    return opened;
}

InventoryStore::Opened InventoryStore::OpenToRead(const std::string& path) {
    const std::string file = RealFile(path);
    const FileId id = IdOf(file);
    auto usable = [](sqlite3* db) {
        return SqlCount(db, "PRAGMA user_version") == kSchemaVersion &&
               SqlCount(db, "SELECT count(*) FROM sqlite_master WHERE name = 'presence'") == 1;
    };
    auto opened = [&](sqlite3* db, bool readOnly) {
        std::string ignored;
        SqlExec(db, "PRAGMA mmap_size = 1073741824", ignored);
        Opened result;
        result.store.reset(new InventoryStore(db, file, id.device, id.inode));
        result.store->m_readOnly = readOnly;
        return result;
    };
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, kReadBusyTimeoutMs);
        if (usable(db))
            return opened(db, sqlite3_db_readonly(db, "main") == 1);
    }
    // A WAL file is read through its -shm, which SQLite cannot make in a
    // directory the user may not write to. With no -wal there, nobody is
    // writing (a writer keeps one while it has the file open) and the file
    // holds everything recorded: it is read as a file that does not change.
    const int code = db ? sqlite3_errcode(db) & 0xFF : SQLITE_CANTOPEN;
    sqlite3_close_v2(db);
    db = nullptr;
    if (id.exists && (code == SQLITE_CANTOPEN || code == SQLITE_READONLY) &&
        NoSuchFile(file + "-wal") && ::access(DirectoryOf(file).c_str(), W_OK) != 0) {
        char* uri = sqlite3_mprintf("file:%s?immutable=1", file.c_str());
        const int rc =
            uri ? sqlite3_open_v2(uri, &db,
                                  SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
                                  nullptr)
                : SQLITE_NOMEM;
        sqlite3_free(uri);
        if (rc == SQLITE_OK && usable(db))
            return opened(db, true);
        sqlite3_close_v2(db);
    }
    return OpenWaiting(path, kReadBusyTimeoutMs);
}

bool InventoryStore::StillTheFile() const {
    return IdOf(m_file) == FileId{true, m_device, m_inode};
}

bool InventoryStore::Reopen(std::string& error) {
    sqlite3* db = nullptr;
    FileId id;
    for (int attempt = 0; attempt < kJudgeAttempts; ++attempt) {
        const OpenResult result = OpenChecked(m_file, kBusyTimeoutMs, db, id, error);
        if (result == OpenResult::Opened) {
            sqlite3_close_v2(m_db);
            m_db = db;
            m_device = id.device;
            m_inode = id.inode;
            return true;
        }
        sqlite3_close_v2(db);
        if (result == OpenResult::Failed)
            return false;
        std::string aside;
        const AsideResult kept = KeepAside(m_file, id, aside);
        if (kept == AsideResult::Failed) {
            error += "; it could not be kept aside";
            return false;
        }
        if (kept == AsideResult::Kept)
            m_keptAside = aside;
    }
    return false;
}

std::string InventoryStore::MeetDamage(const std::string& message, bool& moved) const {
    moved = false;
    std::string aside;
    if (m_readOnly)
        return "the inventory is damaged (" + message + ")";
    switch (KeepAside(m_file, FileId{true, m_device, m_inode}, aside)) {
    case AsideResult::Kept:
        moved = true;
        m_keptAside = aside;
        return "the inventory is damaged (" + message + "); it is kept as \"" + aside + "\"";
    case AsideResult::Changed:
        moved = true;
        return "the inventory is damaged (" + message + "); another writer has kept it aside";
    case AsideResult::Failed:
        break;
    }
    return "the inventory is damaged (" + message + "); it could not be kept aside";
}

std::int64_t InventoryStore::Record(const RecordedScan& scan, std::string& error) {
    // Another writer that met damage may have kept the file aside since it
    // was opened: nothing is written into that one.
    if (!StillTheFile() && !Reopen(error))
        return -1;
    for (int attempt = 0;; ++attempt) {
        int code = SQLITE_OK;
        const std::int64_t id = RecordOnce(scan, error, code);
        if (id >= 0 || !IsDamage(code))
            return id;
        // The scan is not lost with the damaged file: it starts the new store.
        bool moved = false;
        error = MeetDamage(error, moved);
        std::string reopenError;
        if (!moved || attempt > 0)
            return -1;
        if (!Reopen(reopenError)) {
            error += "; no new store: " + reopenError;
            return -1;
        }
    }
}

InventoryStore::~InventoryStore() {
    sqlite3_close_v2(m_db);
}

std::int64_t InventoryStore::RecordOnce(const RecordedScan& scan, std::string& error, int& code) {
    if (!SqlExec(m_db, "BEGIN IMMEDIATE", error)) {
        code = sqlite3_errcode(m_db);
        return -1;
    }
    // A scan delivered again (the site lost track of the first delivery)
    // is the one recorded.
    std::int64_t id = -1;
    if (!scan.siteScan.empty()) {
        SqlStatement known(m_db, "SELECT id FROM scans WHERE site = ? AND site_scan = ?");
        SqlBindText(known.get(), 1, scan.site);
        SqlBindText(known.get(), 2, scan.siteScan);
        const int rc = known ? sqlite3_step(known.get()) : sqlite3_errcode(m_db);
        if (rc == SQLITE_ROW)
            id = sqlite3_column_int64(known.get(), 0);
        else if (rc != SQLITE_DONE) {
            code = sqlite3_errcode(m_db);
            error = sqlite3_errmsg(m_db);
            std::string ignored;
            SqlExec(m_db, "ROLLBACK", ignored);
            return -1;
        }
        if (id >= 0) {
            SqlExec(m_db, "COMMIT", error);
            return id;
        }
    }
    if (const std::optional<SqlError> failed = InventoryWriter(m_db).Write(scan, id)) {
        id = -1;
        code = failed->code;
        error = failed->message;
    }
    if (id >= 0 && !NoticeOutbox(m_db).Enqueue(id, scan.notify, scan.endedMs, error))
        id = -1, code = sqlite3_errcode(m_db);
    if (id >= 0 && !scan.forServer.empty()) {
        SqlStatement wait(m_db, "INSERT INTO server_outbox(scan, server, document) VALUES(?, ?, ?)");
        sqlite3_bind_int64(wait.get(), 1, id);
        SqlBindText(wait.get(), 2, scan.forServer);
        SqlBindText(wait.get(), 3, ScanDocumentOf(scan));
        if (!wait || !SqlStep(wait.get())) {
            code = sqlite3_errcode(m_db);
            error = sqlite3_errmsg(m_db);
            id = -1;
        }
    }
    if (id < 0 || !SqlExec(m_db, "COMMIT", error)) {
        if (id >= 0)
            code = sqlite3_errcode(m_db);
        std::string ignored;
        SqlExec(m_db, "ROLLBACK", ignored);
        return -1;
    }
    return id;
}

int InventoryStore::Read(sqlite3_stmt* statement) const {
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && m_readError.empty()) {
        bool moved = false;
        m_readError = IsDamage(rc) ? MeetDamage(sqlite3_errmsg(m_db), moved)
                                   : std::string(sqlite3_errmsg(m_db));
    }
    return rc;
}

bool InventoryStore::Prepared(const SqlStatement& statement) const {
    if (!statement && m_readError.empty()) {
        bool moved = false;
        m_readError = IsDamage(sqlite3_errcode(m_db)) ? MeetDamage(sqlite3_errmsg(m_db), moved)
                                                      : std::string(sqlite3_errmsg(m_db));
    }
    return static_cast<bool>(statement);
}

namespace {

// A scan as read by "SELECT id, started_ms, ended_ms, complete, answered, site".
StoredScan ScanFrom(sqlite3_stmt* statement) {
    StoredScan scan;
    scan.id = sqlite3_column_int64(statement, 0);
    scan.startedMs = sqlite3_column_int64(statement, 1);
    scan.endedMs = sqlite3_column_int64(statement, 2);
    scan.complete = sqlite3_column_int(statement, 3) != 0;
    scan.answered = sqlite3_column_int64(statement, 4);
    scan.site = SqlColumnText(statement, 5);
    return scan;
}

} // namespace

std::optional<StoredScan> InventoryStore::LatestScan(const std::string& site) const {
    m_readError.clear();
    SqlStatement select(m_db, "SELECT id, started_ms, ended_ms, complete, answered, site "
                              "FROM scans WHERE ?1 = '' OR site = ?1 ORDER BY id DESC LIMIT 1");
    if (!Prepared(select))
        return std::nullopt;
    SqlBindText(select.get(), 1, site);
    if (Read(select.get()) != SQLITE_ROW)
        return std::nullopt;
    return ScanFrom(select.get());
}

bool InventoryStore::HasScanBefore(std::int64_t id) const {
    m_readError.clear();
    SqlStatement select(m_db, "SELECT EXISTS(SELECT 1 FROM scans WHERE id < ?)");
    if (!Prepared(select))
        return false;
    sqlite3_bind_int64(select.get(), 1, id);
    return Read(select.get()) == SQLITE_ROW && sqlite3_column_int(select.get(), 0) != 0;
}

std::optional<StoredScan> InventoryStore::ScanOf(std::int64_t id) const {
    m_readError.clear();
    SqlStatement select(m_db, "SELECT id, started_ms, ended_ms, complete, answered, site "
                              "FROM scans WHERE id = ?");
    SqlStatement ranges(m_db, "SELECT first, last FROM scan_ranges WHERE scan = ? ORDER BY rowid");
    if (!Prepared(select) || !Prepared(ranges))
        return std::nullopt;
    sqlite3_bind_int64(select.get(), 1, id);
    if (Read(select.get()) != SQLITE_ROW)
        return std::nullopt;
    StoredScan scan = ScanFrom(select.get());
    sqlite3_bind_int64(ranges.get(), 1, id);
    while (Read(ranges.get()) == SQLITE_ROW)
        scan.ranges.push_back(
            AddressRange{static_cast<std::uint32_t>(sqlite3_column_int64(ranges.get(), 0)),
                         static_cast<std::uint32_t>(sqlite3_column_int64(ranges.get(), 1))});
    if (!m_readError.empty())
        return std::nullopt;
    return scan;
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
    const int source = sqlite3_column_int(statement, first + 6);
    if (source > 0 && source < HostRecord::kNameSourceCount)
        change.source = static_cast<HostRecord::NameSource>(source);
    return change;
}

// The columns ChangeFrom reads, from changes c joined with hosts h.
#define KD_CHANGE_COLUMNS "c.kind, c.address, h.identity, c.before, c.after, h.first_scan, c.source"

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
        changes.push_back({ChangeFrom(select.get(), 0), sqlite3_column_int64(select.get(), 7)});
    return changes;
}

std::vector<InventoryStore::RowVersion> InventoryStore::Versions(std::int64_t host) const {
    std::vector<RowVersion> versions;
    // Each statement is checked as it is made: making the next would clear
    // the error.
    SqlStatement past(m_db, "SELECT since, address, response, computer, domain, mac, vendor, "
                            "messenger, names FROM past_rows WHERE host = ? "
                            "ORDER BY since, address");
    if (!Prepared(past))
        return versions;
    SqlStatement now(m_db, "SELECT since, address, response, computer, domain, mac, vendor, "
                           "messenger, names FROM host_rows WHERE host = ? ORDER BY address");
    if (!Prepared(now))
        return versions;
    for (sqlite3_stmt* select : {past.get(), now.get()}) {
        sqlite3_bind_int64(select, 1, host);
        while (Read(select) == SQLITE_ROW) {
            const std::int64_t since = sqlite3_column_int64(select, 0);
            if (versions.empty() || versions.back().since != since)
                versions.push_back({since, {}});
            HostRow row;
            row.address = static_cast<std::uint32_t>(sqlite3_column_int64(select, 1));
            for (std::size_t i = 0; i < row.cells.size(); ++i)
                row.cells[i] = SqlColumnText(select, 2 + static_cast<int>(i));
            row.names = NamesOfText(SqlColumnText(select, 8));
            versions.back().rows.push_back(std::move(row));
        }
    }
    return versions;
}

std::int64_t InventoryStore::LastScanIn(std::int64_t host, std::int64_t from,
                                        std::int64_t to) const {
    SqlStatement select(m_db, "SELECT scan, bits FROM presence WHERE chunk = ? AND scan >= ? "
                              "AND scan < ? ORDER BY scan DESC");
    if (!Prepared(select))
        return 0;
    sqlite3_bind_int64(select.get(), 1, HostPresence::ChunkOf(host));
    sqlite3_bind_int64(select.get(), 2, from);
    sqlite3_bind_int64(select.get(), 3, to);
    while (Read(select.get()) == SQLITE_ROW)
        if (HostPresence::Has({static_cast<const char*>(sqlite3_column_blob(select.get(), 1)),
                               static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 1))},
                              host))
            return sqlite3_column_int64(select.get(), 0);
    return 0;
}

std::int64_t InventoryStore::HostLastAt(std::uint32_t address) const {
    // Every host that had a row at the address, and the last scan that saw
    // it there: within each version of its rows that has the address.
    SqlStatement select(m_db, "SELECT host FROM host_rows WHERE address = ?1 AND departed = 0 "
                              "UNION SELECT host FROM host_rows WHERE address = ?1 AND "
                              "departed = 1 UNION SELECT host FROM past_rows WHERE address = ?1 "
                              "ORDER BY 1");
    if (!Prepared(select))
        return -1;
    sqlite3_bind_int64(select.get(), 1, address);
    std::vector<std::int64_t> candidates;
    while (Read(select.get()) == SQLITE_ROW)
        candidates.push_back(sqlite3_column_int64(select.get(), 0));
    std::int64_t best = -1, bestScan = 0;
    for (const std::int64_t host : candidates) {
        const std::vector<RowVersion> versions = Versions(host);
        for (std::size_t v = versions.size(); v-- > 0;) {
            const auto& rows = versions[v].rows;
            if (std::none_of(rows.begin(), rows.end(),
                             [&](const HostRow& row) { return row.address == address; }))
                continue;
            const std::int64_t to = v + 1 < versions.size() ? versions[v + 1].since : INT64_MAX;
            const std::int64_t last = LastScanIn(host, versions[v].since, to);
            if (last > bestScan)
                best = host, bestScan = last;
            if (last > 0)
                break;
        }
    }
    return best;
}

HostHistory InventoryStore::History(const std::string& addressOrMac,
                                    const std::string& site) const {
    m_readError.clear();
    HostHistory history;
    std::int64_t host = -1;
    // Read strictly: inet_addr would also take twelve digits of a MAC for
    // an address, and "010.0.0.1" for another host than the one meant.
    std::string named, error;
    if (!ParseHostArgument(addressOrMac, named, error))
        return history;
    if (named.find('.') != std::string::npos) {
        host = HostLastAt(AddressFromText(named));
    } else if (!named.empty()) {
        SqlStatement select(m_db, "SELECT id FROM hosts WHERE identity = ?");
        SqlBindText(select.get(), 1, "mac:" + named);
        if (Prepared(select) && Read(select.get()) == SQLITE_ROW)
            host = sqlite3_column_int64(select.get(), 0);
    }
    if (host < 0)
        return history;
    SqlStatement hostRow(m_db, "SELECT identity, randomised_mac FROM hosts WHERE id = ?");
    sqlite3_bind_int64(hostRow.get(), 1, host);
    if (!Prepared(hostRow) || Read(hostRow.get()) != SQLITE_ROW)
        return history;
    history.identity = SqlColumnText(hostRow.get(), 0);
    history.randomisedMac = sqlite3_column_int(hostRow.get(), 1) != 0;

    // Every scan that saw the host, with the rows it had then.
    const std::vector<RowVersion> versions = Versions(host);
    SqlStatement scans(m_db, "SELECT p.scan, f.started_ms, p.bits, f.site FROM presence p "
                             "JOIN scans f ON f.id = p.scan WHERE p.chunk = ?1 "
                             "AND (?2 = '' OR f.site = ?2) ORDER BY p.scan");
    if (!Prepared(scans))
        return history;
    SqlStatement changes(m_db, "SELECT c.scan, f.started_ms, f.site, " KD_CHANGE_COLUMNS
                               " FROM changes c JOIN hosts h ON h.id = c.host "
                               "JOIN scans f ON f.id = c.scan WHERE c.host = ?1 "
                               "AND (?2 = '' OR f.site = ?2) ORDER BY c.scan, c.address, c.kind");
    if (!Prepared(changes))
        return history;
    sqlite3_bind_int64(scans.get(), 1, HostPresence::ChunkOf(host));
    SqlBindText(scans.get(), 2, site);
    auto version = versions.begin();
    while (Read(scans.get()) == SQLITE_ROW) {
        const std::int64_t scan = sqlite3_column_int64(scans.get(), 0);
        if (!HostPresence::Has({static_cast<const char*>(sqlite3_column_blob(scans.get(), 2)),
                                static_cast<std::size_t>(sqlite3_column_bytes(scans.get(), 2))},
                               host))
            continue;
        while (version != versions.end() && std::next(version) != versions.end() &&
               std::next(version)->since <= scan)
            ++version;
        if (version == versions.end())
            break;
        for (const HostRow& row : version->rows) {
            HistoryEntry entry;
            entry.scan = scan;
            entry.startedMs = sqlite3_column_int64(scans.get(), 1);
            entry.site = SqlColumnText(scans.get(), 3);
            entry.row = CellsOf(row);
            entry.names = row.names;
            history.entries.push_back(std::move(entry));
        }
    }
    // Each change goes with its scan's sighting at its address; a departure
    // has none and gets an entry of its own.
    sqlite3_bind_int64(changes.get(), 1, host);
    SqlBindText(changes.get(), 2, site);
    while (Read(changes.get()) == SQLITE_ROW)
        AddToTimeline(history, sqlite3_column_int64(changes.get(), 0),
                      sqlite3_column_int64(changes.get(), 1), SqlColumnText(changes.get(), 2),
                      ChangeFrom(changes.get(), 3));
    return history;
}

std::vector<InventoryStore::WaitingScan>
InventoryStore::ScansWaitingFor(const std::string& server) const {
    m_readError.clear();
    std::vector<WaitingScan> waiting;
    SqlStatement select(m_db, "SELECT scan, document FROM server_outbox WHERE server = ? "
                              "ORDER BY scan");
    if (!Prepared(select))
        return waiting;
    SqlBindText(select.get(), 1, server);
    while (Read(select.get()) == SQLITE_ROW)
        waiting.push_back({sqlite3_column_int64(select.get(), 0), SqlColumnText(select.get(), 1)});
    return waiting;
}

bool InventoryStore::Delivered(std::int64_t scan, std::string& error) {
    SqlStatement remove(m_db, "DELETE FROM server_outbox WHERE scan = ?");
    sqlite3_bind_int64(remove.get(), 1, scan);
    if (remove && SqlStep(remove.get()))
        return true;
    error = sqlite3_errmsg(m_db);
    return false;
}

std::int64_t InventoryStore::ScanCount() const {
    return SqlCount(m_db, "SELECT count(*) FROM scans");
}

std::int64_t InventoryStore::SightingCount() const {
    return SqlCount(m_db, "SELECT coalesce(sum(answered), 0) FROM scans");
}
