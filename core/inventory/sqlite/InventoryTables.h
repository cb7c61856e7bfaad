#pragma once
// Reading and writing the inventory's tables as recording a scan, reading a
// host's timeline and bringing an older file forward do: the scans with
// their ranges; the hosts, each with its rows as the last scan that saw it
// found them (host_rows) and the rows it had before (past_rows), a version
// from the scan it began with; which hosts each scan saw (presence); the
// changes of each scan.

#include "core/inventory/StoredHost.h"
#include "core/inventory/ScanChanges.h"
#include "core/scan/HostRecord.h"

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class HostPresence;

// A host as the store knows it: what the changes are found from, and its
// rows now, as they have been since scan `since`, in address order.
// The tables of one open database, for one operation (a transaction the
// caller holds): each statement is prepared once, on first use. A false
// return leaves SQLite's error on the database.
class InventoryTables {
public:
    explicit InventoryTables(sqlite3* db) : m_db(db) {}
    ~InventoryTables();
    InventoryTables(const InventoryTables&) = delete;
    InventoryTables& operator=(const InventoryTables&) = delete;

    // The scans before `before` (all when 0), oldest first, with their
    // ranges and without their sightings.
    bool LoadScanHeaders(std::int64_t before, std::vector<ScanView>& scans);

    // Adds the ids of the hosts with a row now at an address within
    // `ranges`, those told gone only with `departed`.
    bool HostsAt(const std::vector<AddressRange>& ranges, bool departed,
                 std::vector<std::int64_t>& ids);

    // Adds the ids of the hosts seen by the scans after `after` and before
    // `before`.
    bool HostsSeenBetween(std::int64_t after, std::int64_t before,
                          std::vector<std::int64_t>& ids);

    // The id of each of `identities` the store knows.
    bool FindHosts(const std::vector<std::string>& identities,
                   std::unordered_map<std::string, std::int64_t>& ids);

    // Appends the hosts `ids` (sorted, unique) with their rows now, in id
    // order, each with the last scan before `before` that saw it.
    bool LoadHosts(const std::vector<std::int64_t>& ids, std::int64_t before,
                   std::vector<StoredHost>& hosts);

    // Which of `hosts` (in id order) scan `scan` saw, one flag per host.
    bool SeenBy(std::int64_t scan, const std::vector<StoredHost>& hosts, std::vector<char>& seen);

    // The rows `host` had in scan `scan`, which saw it: its rows now, or
    // those read into `past`; null when they could not be read.
    const std::vector<HostRow>* RowsAt(const StoredHost& host, std::int64_t scan,
                                       std::vector<HostRow>& past);

    // A new host; its id, or -1.
    std::int64_t InsertHost(const std::string& identity, int kind, bool randomisedMac,
                            std::int64_t firstScan, const std::string& computer,
                            const std::string& domain, const std::vector<LearntName>& names);
    bool UpdateNames(std::int64_t host, const std::string& computer, const std::string& domain);
    // The other sources' names the host leaves learnt.
    bool UpdateLearntNames(std::int64_t host, const std::vector<LearntName>& names);
    bool SetDeparted(std::int64_t host, bool departed);
    bool SetLastOfRows(std::int64_t host, std::uint32_t address);

    // The host's rows from scan `since` on, replacing its rows now, which
    // become past rows.
    bool ReplaceRows(const StoredHost& host, std::int64_t since, const std::vector<HostRow>& rows);
    // Writes rows as they are: now (host_rows) or past (past_rows).
    bool InsertRows(bool past, std::int64_t host, std::int64_t since,
                    const std::vector<HostRow>& rows);

    bool InsertPresence(std::int64_t scan, const HostPresence& presence);

    bool InsertChanges(std::int64_t scan, const std::vector<Change>& changes,
                       const std::unordered_map<std::string_view, std::int64_t>& ids);

private:
    // The statement for `sql`, prepared on first use, reset and unbound.
    sqlite3_stmt* Statement(const char* sql);
    bool LoadLastScans(std::vector<StoredHost>& hosts, std::size_t first, std::int64_t before);

    sqlite3* m_db;
    std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};
