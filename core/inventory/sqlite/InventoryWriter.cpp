#include "core/inventory/sqlite/InventoryWriter.h"

#include "core/inventory/HostIdentity.h"
#include "core/inventory/HostPresence.h"
#include "core/inventory/sqlite/InventoryTables.h"
#include "core/inventory/sqlite/SqlStatement.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace {

// What one identity is now: its rows (by their index in the scan, an
// address listed twice by ranges that overlap once), and the last row that
// gave it names, if any.
struct SeenHost {
    std::size_t first = 0; // its first row; more are chained by `next`
    std::size_t last = 0;
    std::size_t count = 1;
    std::size_t named = SIZE_MAX;
    const StoredHost* stored = nullptr; // what the store knows of it, if anything
    std::uint32_t lastListed = 0;       // the address of its last row, repeats counted
};

bool SameRow(const HostRow& row, std::uint32_t address, const HostRecord& record) {
    if (row.address != address)
        return false;
    for (std::size_t i = 0; i < row.cells.size(); ++i)
        if (row.cells[i] != record.cells[i + 1])
            return false;
    return true;
}

} // namespace

std::int64_t InventoryWriter::Write(const RecordedScan& scan, std::string& error, int& code) {
    // SQLite's error is taken where it is met: finalising the statements
    // afterwards would clear it.
    auto fail = [&] {
        code = sqlite3_errcode(m_db);
        error = sqlite3_errmsg(m_db);
        return std::int64_t(-1);
    };
    InventoryTables tables(m_db);
    SqlStatement insertScan(m_db, "INSERT INTO scans(started_ms, ended_ms, complete, settings, "
                                  "site, site_scan) VALUES(?, ?, ?, ?, ?, ?)");
    if (!insertScan)
        return fail();
    SqlStatement insertRange(m_db, "INSERT INTO scan_ranges(scan, first, last) VALUES(?, ?, ?)");
    if (!insertRange)
        return fail();
    sqlite3_bind_int64(insertScan.get(), 1, scan.startedMs);
    sqlite3_bind_int64(insertScan.get(), 2, scan.endedMs);
    sqlite3_bind_int(insertScan.get(), 3, scan.complete ? 1 : 0);
    SqlBindText(insertScan.get(), 4, scan.settings);
    SqlBindText(insertScan.get(), 5, scan.site);
    if (scan.siteScan.empty())
        sqlite3_bind_null(insertScan.get(), 6);
    else
        SqlBindText(insertScan.get(), 6, scan.siteScan);
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

    current.sightings.reserve(scan.rows.size());
    for (const HostRecord& row : scan.rows)
        current.sightings.push_back(SightingOf(row));

    // What the earlier scans left, read in this transaction so that another
    // writer's scan is either wholly before this one or wholly after: the
    // hosts last seen within the ranges, those the scans since the baseline
    // saw (their rows may have changed since), then those seen now that are
    // known elsewhere.
    PriorScans prior;
    if (!tables.LoadScanHeaders(current.id, prior.scans))
        return fail();
    const ScanView* baseline = prior.FindBaseline(current);
    // A host told gone is read only where a row without MAC or name may be
    // taken for it.
    std::vector<AddressRange> addressOnly;
    for (const Sighting& sighting : current.sightings)
        if (sighting.identity.rfind("ip:", 0) == 0)
            addressOnly.push_back({sighting.address, sighting.address});
    std::vector<std::int64_t> ids;
    if (!tables.HostsAt(current.ranges, false, ids) || !tables.HostsAt(addressOnly, true, ids) ||
        (baseline && !tables.HostsSeenBetween(baseline->id, current.id, ids)))
        return fail();
    std::vector<StoredHost> hosts;
    if (!tables.LoadHosts(ids, current.id, hosts))
        return fail();
    // Views of `hosts`' strings, made again whenever `hosts` grows.
    std::unordered_map<std::string_view, const StoredHost*> stored;
    auto index = [&] {
        stored.clear();
        stored.reserve(hosts.size());
        for (const StoredHost& host : hosts)
            stored.emplace(host.identity, &host);
    };
    index();
    std::vector<std::string> elsewhere;
    for (const Sighting& sighting : current.sightings)
        if (!stored.count(sighting.identity))
            elsewhere.push_back(sighting.identity);
    std::sort(elsewhere.begin(), elsewhere.end());
    elsewhere.erase(std::unique(elsewhere.begin(), elsewhere.end()), elsewhere.end());
    std::unordered_map<std::string, std::int64_t> found;
    if (!tables.FindHosts(elsewhere, found))
        return fail();
    if (!found.empty()) {
        ids.clear();
        for (const auto& [identity, id] : found)
            ids.push_back(id);
        std::sort(ids.begin(), ids.end());
        if (!tables.LoadHosts(ids, current.id, hosts))
            return fail();
        std::sort(hosts.begin(), hosts.end(),
                  [](const StoredHost& a, const StoredHost& b) { return a.id < b.id; });
        index();
    }
    // A row without MAC or name is taken for the host last seen at its
    // address, among all the hosts read (those last seen there among them).
    if (std::any_of(current.sightings.begin(), current.sightings.end(),
                    [](const Sighting& s) { return s.identity.rfind("ip:", 0) == 0; })) {
        PriorScans all;
        all.hosts.reserve(hosts.size());
        for (const StoredHost& host : hosts)
            all.hosts.emplace(host.identity, host.known);
        AttributeAddressOnlySightings(current, all);
    }

    // Each host as this scan found it, in the order first seen.
    std::vector<SeenHost> seenHosts;
    std::vector<std::size_t> next(scan.rows.size(), SIZE_MAX);
    std::unordered_map<std::string_view, std::size_t> seenIndex;
    seenIndex.reserve(scan.rows.size());
    std::int64_t answered = 0;
    for (std::size_t i = 0; i < scan.rows.size(); ++i) {
        const Sighting& sighting = current.sightings[i];
        auto [at, inserted] = seenIndex.try_emplace(sighting.identity, seenHosts.size());
        if (inserted) {
            const auto known = stored.find(sighting.identity);
            seenHosts.push_back({i, i, 1, SIZE_MAX, known == stored.end() ? nullptr : known->second});
            ++answered;
        } else {
            SeenHost& host = seenHosts[at->second];
            bool listed = false;
            for (std::size_t row = host.first; row != SIZE_MAX && !listed; row = next[row])
                listed = current.sightings[row].address == sighting.address;
            if (!listed) {
                next[host.last] = i;
                host.last = i;
                ++host.count;
                ++answered;
            }
        }
        if (!sighting.computer.empty())
            seenHosts[at->second].named = i;
        seenHosts[at->second].lastListed = sighting.address;
    }

    // A host that the baseline saw as this scan sees it (the same one row,
    // at an address where nobody else answers now or answered then, the
    // names it had) brings no change and changes nobody else's: the changes
    // are found among the other hosts, seen or missed, against the rest of
    // the baseline.
    std::vector<char> inBaseline(hosts.size(), 0);
    if (baseline && !tables.SeenBy(baseline->id, hosts, inBaseline))
        return fail();
    std::vector<std::uint32_t> addresses, addressesThen;
    addresses.reserve(current.sightings.size());
    for (const Sighting& sighting : current.sightings)
        addresses.push_back(sighting.address);
    std::vector<HostRow> past;
    for (std::size_t i = 0; baseline && i < hosts.size(); ++i) {
        if (!inBaseline[i])
            continue;
        const std::vector<HostRow>* rows = tables.RowsAt(hosts[i], baseline->id, past);
        if (!rows)
            return fail();
        for (const HostRow& row : *rows)
            addressesThen.push_back(row.address);
    }
    std::sort(addresses.begin(), addresses.end());
    std::sort(addressesThen.begin(), addressesThen.end());
    auto shared = [](const std::vector<std::uint32_t>& all, std::uint32_t address) {
        const auto [first, last] = std::equal_range(all.begin(), all.end(), address);
        return last - first > 1;
    };
    std::vector<char> unchanged(hosts.size(), 0);
    std::vector<char> changedRow(scan.rows.size(), 1);
    for (const SeenHost& host : seenHosts) {
        const Sighting& sighting = current.sightings[host.first];
        if (!baseline || host.count != 1 || !host.stored)
            continue;
        const StoredHost& was = *host.stored;
        const auto i = static_cast<std::size_t>(&was - hosts.data());
        if (inBaseline[i] && was.since <= baseline->id && was.rows.size() == 1 &&
            SameRow(was.rows.front(), sighting.address, scan.rows[host.first]) &&
            (sighting.computer.empty() || (sighting.computer == was.known.computer &&
                                           sighting.domain == was.known.domain)) &&
            !shared(addresses, sighting.address) && !shared(addressesThen, sighting.address)) {
            unchanged[i] = 1;
            changedRow[host.first] = 0;
        }
    }
    ScanView changing;
    changing.id = current.id;
    changing.complete = current.complete;
    changing.ranges = current.ranges;
    for (std::size_t i = 0; i < current.sightings.size(); ++i)
        if (changedRow[i])
            changing.sightings.push_back(current.sightings[i]);
    for (std::size_t i = 0; i < hosts.size(); ++i)
        if (!unchanged[i])
            prior.hosts.emplace(hosts[i].identity, hosts[i].known);
    if (baseline) {
        prior.baseline.id = baseline->id;
        prior.baseline.complete = baseline->complete;
        prior.baseline.ranges = baseline->ranges;
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            if (!inBaseline[i] || unchanged[i])
                continue;
            const std::vector<HostRow>* rows = tables.RowsAt(hosts[i], baseline->id, past);
            if (!rows)
                return fail();
            for (const HostRow& row : *rows)
                prior.baseline.sightings.push_back(SightingOf(row, hosts[i].identity));
        }
    }
    const std::vector<Change> changes = FindChanges(changing, prior);

    HostPresence presence;
    std::unordered_map<std::string_view, std::int64_t> newIds;
    std::vector<HostRow> rows;
    const std::string none;
    for (const SeenHost& host : seenHosts) {
        const std::string& key = current.sightings[host.first].identity;
        // Its rows in address order, made only where they are compared as
        // more than one or written.
        auto rowsNow = [&]() -> const std::vector<HostRow>& {
            rows.clear();
            for (std::size_t row = host.first; row != SIZE_MAX; row = next[row])
                rows.push_back(RowOf(current.sightings[row].address, scan.rows[row]));
            std::sort(rows.begin(), rows.end(),
                      [](const HostRow& a, const HostRow& b) { return a.address < b.address; });
            return rows;
        };
        const bool named = host.named != SIZE_MAX;
        const std::string& computer = named ? current.sightings[host.named].computer : none;
        const std::string& domain = named ? current.sightings[host.named].domain : none;
        std::int64_t id;
        if (!host.stored) {
            const HostIdentity identity = IdentityOf(scan.rows[host.first]);
            id = tables.InsertHost(key, static_cast<int>(identity.kind), identity.randomisedMac,
                                   current.id, computer, domain);
            if (id < 0 || !tables.InsertRows(false, id, current.id, rowsNow()) ||
                (host.count > 1 && !tables.SetLastOfRows(id, host.lastListed)))
                return fail();
            newIds.emplace(key, id);
        } else {
            const StoredHost& was = *host.stored;
            id = was.id;
            const bool same =
                host.count == 1 ? was.rows.size() == 1 &&
                                      SameRow(was.rows.front(),
                                              current.sightings[host.first].address,
                                              scan.rows[host.first])
                                : was.rows == rowsNow();
            if (!same ? !tables.ReplaceRows(was, current.id, rowsNow())
                      : was.departed && !tables.SetDeparted(id, false))
                return fail();
            if (named && (computer != was.known.computer || domain != was.known.domain) &&
                !tables.UpdateNames(id, computer, domain))
                return fail();
            if (host.count > 1 && host.lastListed != was.lastOfRows &&
                !tables.SetLastOfRows(id, host.lastListed))
                return fail();
        }
        presence.Add(id);
    }
    SqlStatement count(m_db, "UPDATE scans SET answered = ? WHERE id = ?");
    if (!count)
        return fail();
    sqlite3_bind_int64(count.get(), 1, answered);
    sqlite3_bind_int64(count.get(), 2, current.id);
    // The hosts of the changes: seen now, or known and missed. One told
    // gone is read no more until it is seen again.
    std::unordered_map<std::string_view, std::int64_t> hostIds;
    for (const Change& change : changes) {
        if (const auto known = stored.find(change.identity); known != stored.end()) {
            hostIds.emplace(change.identity, known->second->id);
            if (change.kind == ChangeKind::Gone && !tables.SetDeparted(known->second->id, true))
                return fail();
        }
        else if (const auto added = newIds.find(change.identity); added != newIds.end())
            hostIds.emplace(change.identity, added->second);
    }
    if (!SqlStep(count.get()) || !tables.InsertPresence(current.id, presence) ||
        !tables.InsertChanges(current.id, changes, hostIds))
        return fail();
    return current.id;
}
