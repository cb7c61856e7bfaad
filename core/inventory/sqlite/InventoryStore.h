#pragma once
// The memory of past scans, in one SQLite database: every scan (when it
// started and ended, its ranges, whether it completed, the settings it ran
// with, which hosts it saw), every host (HostIdentity) with its rows as
// found, kept again only when a scan found them otherwise, and the changes
// each scan brought (ScanChanges), found while it is recorded and kept with
// it (InventoryWriter). A scan that finds what the last one found costs a
// bit per host. The window and vopal-scan may record at the same time: the
// database is in WAL mode with a busy time-out, and a scan is written in one
// transaction. A file that is no such database, or is
// damaged, is never overwritten: it is kept aside under another name and a
// new one is started. A file of an older schema is brought forward. A
// symbolic link is followed to the file it names, which is the one kept
// aside or started; the link stays.

#include "core/inventory/HostRow.h"
#include "core/inventory/sqlite/NoticeOutbox.h"
#include "core/inventory/RecordedScan.h"
#include "core/inventory/ScanChanges.h"
#include "core/inventory/InventoryMemory.h"
#include "core/ranges/AddressRange.h"
#include "core/scan/HostRecord.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
class SqlStatement;

class InventoryStore : public InventoryMemory {
public:
    static constexpr int kSchemaVersion = 6;

    struct Opened {
        std::unique_ptr<InventoryStore> store; // null when it could not be opened
        std::string error;                     // why not, or empty
        std::string keptAside;                 // where a damaged file went, or empty
        std::string whyAside;                  // why it went there
    };

    // Opens the database at `path`, creating it (and no directory) when missing.
    // What the file is (new, ours, another program's, damaged) is judged
    // under the write lock from its header, version and tables; the whole
    // file is checked (PRAGMA quick_check) only before it is brought forward
    // from an older version. Damage met later by any statement is met the
    // same way. Only a file that is no such database, or is damaged, is kept
    // aside: one that another writer holds past the busy time-out, or that
    // cannot be opened at all, is left as it is.
    static Opened Open(const std::string& path);

    // The same for reading what is recorded. A store in a directory the user
    // may not write to is read all the same when nobody is writing it.
    // Anything else (an older version, no store at all) takes Open, waiting
    // at most a second for another writer.
    static Opened OpenToRead(const std::string& path);

    ~InventoryStore();
    InventoryStore(const InventoryStore&) = delete;
    InventoryStore& operator=(const InventoryStore&) = delete;

    // Writes one scan with its rows and its changes in one transaction; its
    // id, or -1 with the reason in `error`. When the file turns out damaged,
    // it is kept aside (KeptAside) and the scan goes into a new store.
    std::int64_t Record(const RecordedScan& scan, std::string& error) override;

    // Where damage met since the store was opened went, or empty.
    const std::string& KeptAside() const { return m_keptAside; }

    // A file serves one site: its changes are found against all its scans,
    // whatever site each was tagged with.
    std::optional<StoredScan> LatestScan(const std::string& site = {}) const override;
    bool HasScanBefore(std::int64_t id) const override;
    std::optional<StoredScan> ScanOf(std::int64_t id) const override;
    // The notices of its scans' changes waiting for their receivers.
    NoticeOutbox Outbox() const { return NoticeOutbox(m_db); }
    std::vector<ReportedChange> ChangesOf(std::int64_t scan) const override;
    HostHistory History(const std::string& addressOrMac,
                        const std::string& site = {}) const override;

    // The scans waiting for `server`, oldest first: their ids and documents
    // (ScanDocument).
    struct WaitingScan {
        std::int64_t scan = 0;
        std::string document;
    };
    std::vector<WaitingScan> ScansWaitingFor(const std::string& server) const;
    // The server has the scan: it waits no more.
    bool Delivered(std::int64_t scan, std::string& error);

    // Why the last of LatestScan, ChangesOf and History could not read
    // everything (a damaged file, say); empty when it could.
    const std::string& ReadError() const override { return m_readError; }

    // How many scans and sightings the store holds.
    std::int64_t ScanCount() const;
    std::int64_t SightingCount() const;

private:
    InventoryStore(sqlite3* db, std::string file, std::uint64_t device, std::uint64_t inode)
        : m_db(db), m_file(std::move(file)), m_device(device), m_inode(inode) {}
    static Opened OpenWaiting(const std::string& path, int busyTimeoutMs);
    // One try; `code` is SQLite's error code when it fails.
    std::int64_t RecordOnce(const RecordedScan& scan, std::string& error, int& code);
    // Whether the file is still the one opened: another writer that met
    // damage may have kept it aside.
    bool StillTheFile() const;
    // Opens the live store at the file's place again.
    bool Reopen(std::string& error);
    // A statement met damage: keeps the file aside, noting where; the text
    // to tell. `moved`: the file is no longer at its place.
    std::string MeetDamage(const std::string& message, bool& moved) const;
    // A step of a read, noting the first error.
    int Read(sqlite3_stmt* statement) const;
    // A host's versions of its rows, oldest first, each from the scan it
    // began with.
    struct RowVersion {
        std::int64_t since = 0;
        std::vector<HostRow> rows;
    };
    std::vector<RowVersion> Versions(std::int64_t host) const;
    // The last scan in [from, to) that saw the host, or 0.
    std::int64_t LastScanIn(std::int64_t host, std::int64_t from, std::int64_t to) const;
    // The host last seen at the address, or -1.
    std::int64_t HostLastAt(std::uint32_t address) const;
    bool Prepared(const SqlStatement& statement) const;

    sqlite3* m_db;
    std::string m_file; // the real file, symbolic links followed
    std::uint64_t m_device, m_inode;
    bool m_readOnly = false;
    mutable std::string m_keptAside;
    mutable std::string m_readError;
};
