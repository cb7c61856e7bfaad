#include "core/inventory/sqlite/InventoryTables.h"

#include "core/inventory/HostIdentity.h"
#include "core/inventory/HostPresence.h"
#include "core/inventory/StoredNames.h"
#include "core/inventory/sqlite/SqlStatement.h"

#include <algorithm>
#include <array>
#include <bit>

namespace {

// Ids close enough together are read as one range of the table.
constexpr std::int64_t kRunGap = 64;

std::vector<std::pair<std::int64_t, std::int64_t>> Runs(const std::vector<std::int64_t>& ids) {
    std::vector<std::pair<std::int64_t, std::int64_t>> runs;
    for (const std::int64_t id : ids)
        if (!runs.empty() && id - runs.back().second <= kRunGap)
            runs.back().second = id;
        else
            runs.emplace_back(id, id);
    return runs;
}

// A row from `first` on: the address, then the six cells, then its names.
HostRow ReadRow(sqlite3_stmt* statement, int first) {
    HostRow row;
    row.address = static_cast<std::uint32_t>(sqlite3_column_int64(statement, first));
    for (std::size_t i = 0; i < row.cells.size(); ++i)
        row.cells[i] = SqlColumnText(statement, first + 1 + static_cast<int>(i));
    row.names =
        NamesOfText(SqlColumnText(statement, first + 1 + static_cast<int>(row.cells.size())));
    return row;
}

void SortUnique(std::vector<std::int64_t>& ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
}

} // namespace

InventoryTables::~InventoryTables() {
    for (const auto& [sql, statement] : m_statements)
        sqlite3_finalize(statement);
}

sqlite3_stmt* InventoryTables::Statement(const char* sql) {
    sqlite3_stmt*& statement = m_statements[sql];
    if (statement) {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    } else if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement,
                                  nullptr) != SQLITE_OK) {
        m_statements.erase(sql);
        return nullptr;
    }
    return statement;
}

bool InventoryTables::LoadScanHeaders(std::int64_t before, std::vector<ScanView>& scans) {
    sqlite3_stmt* headers =
        Statement("SELECT id, complete FROM scans WHERE ?1 = 0 OR id < ?1 ORDER BY id");
    if (!headers)
        return false;
    sqlite3_bind_int64(headers, 1, before);
    int rc;
    const std::size_t first = scans.size();
    while ((rc = sqlite3_step(headers)) == SQLITE_ROW) {
        ScanView scan;
        scan.id = sqlite3_column_int64(headers, 0);
        scan.complete = sqlite3_column_int(headers, 1) != 0;
        scans.push_back(std::move(scan));
    }
    if (rc != SQLITE_DONE)
        return false;
    sqlite3_stmt* ranges = Statement("SELECT scan, first, last FROM scan_ranges "
                                     "WHERE ?1 = 0 OR scan < ?1 ORDER BY scan, rowid");
    if (!ranges)
        return false;
    sqlite3_bind_int64(ranges, 1, before);
    // Both come in id order: walk them together.
    auto scan = scans.begin() + static_cast<std::ptrdiff_t>(first);
    while ((rc = sqlite3_step(ranges)) == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(ranges, 0);
        while (scan != scans.end() && scan->id < id)
            ++scan;
        if (scan != scans.end() && scan->id == id)
            scan->ranges.push_back({static_cast<std::uint32_t>(sqlite3_column_int64(ranges, 1)),
                                    static_cast<std::uint32_t>(sqlite3_column_int64(ranges, 2))});
    }
    return rc == SQLITE_DONE;
}

bool InventoryTables::HostsAt(const std::vector<AddressRange>& ranges, bool departed,
                              std::vector<std::int64_t>& ids) {
    sqlite3_stmt* select =
        departed ? Statement("SELECT host FROM host_rows WHERE address BETWEEN ?1 AND ?2 "
                             "AND departed = 0 UNION ALL SELECT host FROM host_rows "
                             "WHERE address BETWEEN ?1 AND ?2 AND departed = 1")
                 : Statement("SELECT host FROM host_rows WHERE address BETWEEN ?1 AND ?2 "
                             "AND departed = 0");
    if (!select)
        return false;
    for (const AddressRange& range : ranges) {
        sqlite3_reset(select);
        sqlite3_bind_int64(select, 1, range.start);
        sqlite3_bind_int64(select, 2, range.end);
        int rc;
        while ((rc = sqlite3_step(select)) == SQLITE_ROW)
            ids.push_back(sqlite3_column_int64(select, 0));
        if (rc != SQLITE_DONE)
            return false;
    }
    SortUnique(ids);
    return true;
}

bool InventoryTables::HostsSeenBetween(std::int64_t after, std::int64_t before,
                                       std::vector<std::int64_t>& ids) {
    sqlite3_stmt* scans = Statement("SELECT count(*) FROM scans WHERE id > ? AND id < ?");
    if (!scans)
        return false;
    sqlite3_bind_int64(scans, 1, after);
    sqlite3_bind_int64(scans, 2, before);
    if (sqlite3_step(scans) != SQLITE_ROW)
        return false;
    if (sqlite3_column_int64(scans, 0) == 0)
        return true;
    const std::int64_t chunks =
        HostPresence::ChunkOf(std::max<std::int64_t>(0, SqlCount(m_db, "SELECT max(id) FROM hosts")));
    sqlite3_stmt* select =
        Statement("SELECT bits FROM presence WHERE chunk = ? AND scan > ? AND scan < ?");
    if (!select)
        return false;
    for (std::int64_t chunk = 0; chunk <= chunks; ++chunk) {
        sqlite3_reset(select);
        sqlite3_bind_int64(select, 1, chunk);
        sqlite3_bind_int64(select, 2, after);
        sqlite3_bind_int64(select, 3, before);
        int rc;
        while ((rc = sqlite3_step(select)) == SQLITE_ROW)
            HostPresence::ForEach(
                {static_cast<const char*>(sqlite3_column_blob(select, 0)),
                 static_cast<std::size_t>(sqlite3_column_bytes(select, 0))},
                chunk, [&ids](std::int64_t host) { ids.push_back(host); });
        if (rc != SQLITE_DONE)
            return false;
    }
    SortUnique(ids);
    return true;
}

bool InventoryTables::FindHosts(const std::vector<std::string>& identities,
                                std::unordered_map<std::string, std::int64_t>& ids) {
    sqlite3_stmt* select = Statement("SELECT id FROM hosts WHERE identity = ?");
    if (!select)
        return false;
    for (const std::string& identity : identities) {
        sqlite3_reset(select);
        SqlBindText(select, 1, identity);
        const int rc = sqlite3_step(select);
        if (rc == SQLITE_ROW)
            ids[identity] = sqlite3_column_int64(select, 0);
        else if (rc != SQLITE_DONE)
            return false;
    }
    return true;
}

bool InventoryTables::LoadHosts(const std::vector<std::int64_t>& ids, std::int64_t before,
                                std::vector<StoredHost>& hosts) {
    // Each statement is checked as it is made: making the next would clear
    // the error.
    sqlite3_stmt* hostRows =
        Statement("SELECT id, identity, first_scan, computer, domain, last_address, names "
                  "FROM hosts WHERE id BETWEEN ? AND ? ORDER BY id");
    if (!hostRows)
        return false;
    sqlite3_stmt* rowRows =
        Statement("SELECT host, since, address, response, computer, domain, mac, vendor, "
                  "messenger, names, departed FROM host_rows WHERE host BETWEEN ? AND ? "
                  "ORDER BY host, address");
    if (!rowRows)
        return false;
    const std::size_t first = hosts.size();
    hosts.reserve(first + ids.size());
    auto wanted = ids.begin();
    for (const auto& [low, high] : Runs(ids)) {
        const std::size_t runFirst = hosts.size();
        sqlite3_reset(hostRows);
        sqlite3_bind_int64(hostRows, 1, low);
        sqlite3_bind_int64(hostRows, 2, high);
        int rc;
        while ((rc = sqlite3_step(hostRows)) == SQLITE_ROW) {
            const std::int64_t id = sqlite3_column_int64(hostRows, 0);
            while (wanted != ids.end() && *wanted < id)
                ++wanted;
            if (wanted == ids.end() || *wanted != id)
                continue;
            StoredHost host;
            host.id = id;
            host.identity = SqlColumnText(hostRows, 1);
            host.known.firstScan = sqlite3_column_int64(hostRows, 2);
            host.known.computer = SqlColumnText(hostRows, 3);
            host.known.domain = SqlColumnText(hostRows, 4);
            host.lastOfRows = static_cast<std::uint32_t>(sqlite3_column_int64(hostRows, 5));
            host.known.names = LearntNamesOfText(SqlColumnText(hostRows, 6));
            hosts.push_back(std::move(host));
        }
        if (rc != SQLITE_DONE)
            return false;
        sqlite3_reset(rowRows);
        sqlite3_bind_int64(rowRows, 1, low);
        sqlite3_bind_int64(rowRows, 2, high);
        auto host = hosts.begin() + static_cast<std::ptrdiff_t>(runFirst);
        while ((rc = sqlite3_step(rowRows)) == SQLITE_ROW) {
            const std::int64_t id = sqlite3_column_int64(rowRows, 0);
            while (host != hosts.end() && host->id < id)
                ++host;
            if (host == hosts.end() || host->id != id)
                continue;
            host->since = sqlite3_column_int64(rowRows, 1);
            host->rows.push_back(ReadRow(rowRows, 2));
            host->departed = sqlite3_column_int(rowRows, 10) != 0;
        }
        if (rc != SQLITE_DONE)
            return false;
    }
    for (auto host = hosts.begin() + static_cast<std::ptrdiff_t>(first); host != hosts.end(); ++host)
        host->known.lastAddress = LastAddressOf(*host);
    return LoadLastScans(hosts, first, before);
}

// Each host's last scan is the newest whose presence has it: walked back
// chunk by chunk, the hosts still looked for as bits, until every host of
// the chunk is found, which for hosts that are still there is the newest
// scan; a host long gone costs a look at each older scan's bits.
bool InventoryTables::LoadLastScans(std::vector<StoredHost>& hosts, std::size_t first,
                                    std::int64_t before) {
    sqlite3_stmt* select = Statement("SELECT scan, bits FROM presence WHERE chunk = ? "
                                     "AND scan < ? ORDER BY scan DESC");
    if (!select)
        return false;
    constexpr std::size_t kWords = HostPresence::kChunkBits / 64;
    for (std::size_t i = first; i < hosts.size();) {
        const std::int64_t chunk = HostPresence::ChunkOf(hosts[i].id);
        std::array<std::uint64_t, kWords> waiting{};
        std::array<StoredHost*, HostPresence::kChunkBits> host{};
        std::size_t left = 0;
        for (; i < hosts.size() && HostPresence::ChunkOf(hosts[i].id) == chunk; ++i) {
            const auto bit = static_cast<std::size_t>(hosts[i].id % HostPresence::kChunkBits);
            waiting[bit / 64] |= std::uint64_t{1} << (bit % 64);
            host[bit] = &hosts[i];
            ++left;
        }
        sqlite3_reset(select);
        sqlite3_bind_int64(select, 1, chunk);
        sqlite3_bind_int64(select, 2, before);
        int rc = SQLITE_DONE;
        while (left > 0 && (rc = sqlite3_step(select)) == SQLITE_ROW) {
            const std::int64_t scan = sqlite3_column_int64(select, 0);
            const auto* bits = static_cast<const unsigned char*>(sqlite3_column_blob(select, 1));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(select, 1));
            for (std::size_t word = 0; word < kWords && word * 8 < size; ++word) {
                std::uint64_t seen = 0;
                for (std::size_t byte = 0; byte < 8 && word * 8 + byte < size; ++byte)
                    seen |= std::uint64_t{bits[word * 8 + byte]} << (8 * byte);
                for (std::uint64_t found = seen & waiting[word]; found; found &= found - 1) {
                    host[word * 64 + static_cast<std::size_t>(std::countr_zero(found))]
                        ->known.lastScan = scan;
                    --left;
                }
                waiting[word] &= ~seen;
            }
        }
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            return false;
    }
    return true;
}

bool InventoryTables::SeenBy(std::int64_t scan, const std::vector<StoredHost>& hosts,
                             std::vector<char>& seen) {
    seen.assign(hosts.size(), 0);
    sqlite3_stmt* select = Statement("SELECT bits FROM presence WHERE chunk = ? AND scan = ?");
    if (!select)
        return false;
    std::int64_t chunk = -1;
    std::string bits;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (HostPresence::ChunkOf(hosts[i].id) != chunk) {
            chunk = HostPresence::ChunkOf(hosts[i].id);
            sqlite3_reset(select);
            sqlite3_bind_int64(select, 1, chunk);
            sqlite3_bind_int64(select, 2, scan);
            const int rc = sqlite3_step(select);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                return false;
            bits = rc == SQLITE_ROW ? SqlColumnText(select, 0) : std::string();
        }
        seen[i] = HostPresence::Has(bits, hosts[i].id) ? 1 : 0;
    }
    return true;
}

const std::vector<HostRow>* InventoryTables::RowsAt(const StoredHost& host, std::int64_t scan,
                                                    std::vector<HostRow>& past) {
    if (host.since <= scan)
        return &host.rows;
    past.clear();
    sqlite3_stmt* select =
        Statement("SELECT since, address, response, computer, domain, mac, vendor, messenger, "
                  "names FROM past_rows WHERE host = ? AND since <= ? "
                  "ORDER BY since DESC, address DESC");
    if (!select)
        return nullptr;
    sqlite3_bind_int64(select, 1, host.id);
    sqlite3_bind_int64(select, 2, scan);
    std::int64_t since = -1;
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        const std::int64_t version = sqlite3_column_int64(select, 0);
        if (since >= 0 && version != since)
            break;
        since = version;
        past.push_back(ReadRow(select, 1));
    }
    std::reverse(past.begin(), past.end());
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? &past : nullptr;
}

bool InventoryTables::SetLastOfRows(std::int64_t host, std::uint32_t address) {
    sqlite3_stmt* update = Statement("UPDATE hosts SET last_address = ? WHERE id = ?");
    if (!update)
        return false;
    sqlite3_bind_int64(update, 1, address);
    sqlite3_bind_int64(update, 2, host);
    return sqlite3_step(update) == SQLITE_DONE;
}

std::int64_t InventoryTables::InsertHost(const std::string& identity, int kind, bool randomisedMac,
                                         std::int64_t firstScan, const std::string& computer,
                                         const std::string& domain,
                                         const std::vector<LearntName>& names) {
    sqlite3_stmt* insert =
        Statement("INSERT INTO hosts(identity, kind, randomised_mac, first_scan, computer, "
                  "domain, names) VALUES(?, ?, ?, ?, ?, ?, ?)");
    if (!insert)
        return -1;
    SqlBindText(insert, 1, identity);
    sqlite3_bind_int(insert, 2, kind);
    sqlite3_bind_int(insert, 3, randomisedMac ? 1 : 0);
    sqlite3_bind_int64(insert, 4, firstScan);
    SqlBindText(insert, 5, computer);
    SqlBindText(insert, 6, domain);
    SqlBindText(insert, 7, LearntNamesText(names));
    return sqlite3_step(insert) == SQLITE_DONE ? sqlite3_last_insert_rowid(m_db) : -1;
}

bool InventoryTables::UpdateLearntNames(std::int64_t host, const std::vector<LearntName>& names) {
    sqlite3_stmt* update = Statement("UPDATE hosts SET names = ? WHERE id = ?");
    if (!update)
        return false;
    SqlBindText(update, 1, LearntNamesText(names));
    sqlite3_bind_int64(update, 2, host);
    return sqlite3_step(update) == SQLITE_DONE;
}

bool InventoryTables::UpdateNames(std::int64_t host, const std::string& computer,
                                  const std::string& domain) {
    sqlite3_stmt* update = Statement("UPDATE hosts SET computer = ?, domain = ? WHERE id = ?");
    if (!update)
        return false;
    SqlBindText(update, 1, computer);
    SqlBindText(update, 2, domain);
    sqlite3_bind_int64(update, 3, host);
    return sqlite3_step(update) == SQLITE_DONE;
}

bool InventoryTables::SetDeparted(std::int64_t host, bool departed) {
    sqlite3_stmt* update = Statement("UPDATE host_rows SET departed = ? WHERE host = ?");
    if (!update)
        return false;
    sqlite3_bind_int(update, 1, departed ? 1 : 0);
    sqlite3_bind_int64(update, 2, host);
    return sqlite3_step(update) == SQLITE_DONE;
}

bool InventoryTables::ReplaceRows(const StoredHost& host, std::int64_t since,
                                  const std::vector<HostRow>& rows) {
    sqlite3_stmt* remove = Statement("DELETE FROM host_rows WHERE host = ?");
    if (!remove)
        return false;
    sqlite3_bind_int64(remove, 1, host.id);
    return sqlite3_step(remove) == SQLITE_DONE &&
           (host.rows.empty() || InsertRows(true, host.id, host.since, host.rows)) &&
           InsertRows(false, host.id, since, rows);
}

// A row without other names is written without the column, which keeps its
// default: so are the rows of the versions before it, brought forward.
bool InventoryTables::InsertRows(bool past, std::int64_t host, std::int64_t since,
                                 const std::vector<HostRow>& rows) {
    for (const HostRow& row : rows) {
        const bool named = !row.names.empty();
        sqlite3_stmt* insert = Statement(
            named ? (past ? "INSERT INTO past_rows(host, since, address, response, computer, "
                            "domain, mac, vendor, messenger, names) "
                            "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                          : "INSERT INTO host_rows(host, since, address, response, computer, "
                            "domain, mac, vendor, messenger, names) "
                            "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                  : (past ? "INSERT INTO past_rows(host, since, address, response, computer, "
                            "domain, mac, vendor, messenger) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)"
                          : "INSERT INTO host_rows(host, since, address, response, computer, "
                            "domain, mac, vendor, messenger) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        if (!insert)
            return false;
        if (named)
            SqlBindText(insert, 10, NamesText(row.names));
        sqlite3_bind_int64(insert, 1, host);
        sqlite3_bind_int64(insert, 2, since);
        sqlite3_bind_int64(insert, 3, row.address);
        for (std::size_t i = 0; i < row.cells.size(); ++i)
            SqlBindText(insert, 4 + static_cast<int>(i), row.cells[i]);
        if (!SqlStep(insert))
            return false;
    }
    return true;
}

bool InventoryTables::InsertPresence(std::int64_t scan, const HostPresence& presence) {
    sqlite3_stmt* insert = Statement("INSERT INTO presence(chunk, scan, bits) VALUES(?, ?, ?)");
    if (!insert)
        return false;
    for (const auto& [chunk, bits] : presence.Chunks()) {
        sqlite3_bind_int64(insert, 1, chunk);
        sqlite3_bind_int64(insert, 2, scan);
        sqlite3_bind_blob(insert, 3, bits.data(), static_cast<int>(bits.size()), SQLITE_TRANSIENT);
        if (!SqlStep(insert))
            return false;
    }
    return true;
}

// A change of node status's names, or of another kind, is written without
// the source, which keeps its default: so are the changes a file of an older
// version is brought forward with.
bool InventoryTables::InsertChanges(std::int64_t scan, const std::vector<Change>& changes,
                                    const std::unordered_map<std::string_view, std::int64_t>& ids) {
    for (const Change& change : changes) {
        const bool sourced = change.source != HostRecord::NameSource::Netbios;
        sqlite3_stmt* insert =
            Statement(sourced ? "INSERT INTO changes(scan, host, kind, address, before, after, "
                                "source) VALUES(?, ?, ?, ?, ?, ?, ?)"
                              : "INSERT INTO changes(scan, host, kind, address, before, "
                                "after) VALUES(?, ?, ?, ?, ?, ?)");
        if (!insert)
            return false;
        if (sourced)
            sqlite3_bind_int(insert, 7, static_cast<int>(change.source));
        const auto host = ids.find(change.identity);
        if (host == ids.end())
            return false;
        sqlite3_bind_int64(insert, 1, scan);
        sqlite3_bind_int64(insert, 2, host->second);
        sqlite3_bind_int(insert, 3, static_cast<int>(change.kind));
        sqlite3_bind_int64(insert, 4, change.address);
        SqlBindText(insert, 5, change.before);
        SqlBindText(insert, 6, change.after);
        if (!SqlStep(insert))
            return false;
    }
    return true;
}
