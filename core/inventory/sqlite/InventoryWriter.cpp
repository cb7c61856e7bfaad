#include "core/inventory/sqlite/InventoryWriter.h"

#include "core/inventory/HostPresence.h"
#include "core/inventory/sqlite/InventoryTables.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

// The scan is written after the reads: every scan and presence read is an
// earlier one.
constexpr std::int64_t kBeforeThisScan = std::numeric_limits<std::int64_t>::max();

bool IsAddressIdentity(const std::string& identity) {
    return identity.rfind("ip:", 0) == 0;
}

} // namespace

std::optional<SqlError> InventoryWriter::Write(const RecordedScan& scan, std::int64_t& id) {
    InventoryTables tables(m_db);
    std::vector<Sighting> sightings = SightingsOf(scan);
    InventoryHolding holding;
    if (std::optional<SqlError> failed = ReadHosts(tables, scan, sightings, holding))
        return failed;
    if (std::optional<SqlError> failed = ReadBaseline(tables, holding))
        return failed;
    const InventoryPlan plan = PlanRecording(scan, std::move(sightings), holding);
    std::vector<std::int64_t> ids; // of the plan's hosts
    if (std::optional<SqlError> failed = WriteScan(scan, id))
        return failed;
    if (std::optional<SqlError> failed = WriteHosts(tables, scan, holding, plan, id, ids))
        return failed;
    return WriteChanges(tables, holding, plan, id, ids);
}

// What the earlier scans left, read in this transaction so that another
// writer's scan is either wholly before this one or wholly after: the scans'
// headers, the hosts last seen within the ranges, those the scans since the
// baseline saw (their rows may have changed since), then those seen now that
// are known elsewhere. A host told gone is read only where a row without MAC
// or name may be taken for it.
std::optional<SqlError> InventoryWriter::ReadHosts(InventoryTables& tables,
                                                   const RecordedScan& scan,
                                                   const std::vector<Sighting>& sightings,
                                                   InventoryHolding& holding) {
    PriorScans prior;
    if (!tables.LoadScanHeaders(0, prior.scans))
        return Error();
    ScanView current;
    current.ranges = scan.ranges;
    if (const ScanView* baseline = prior.FindBaseline(current))
        holding.baseline = *baseline;
    holding.scans = std::move(prior.scans);
    std::vector<AddressRange> addressOnly;
    for (const Sighting& sighting : sightings)
        if (IsAddressIdentity(sighting.identity))
            addressOnly.push_back({sighting.address, sighting.address});
    std::vector<std::int64_t> ids;
    if (!tables.HostsAt(scan.ranges, false, ids) || !tables.HostsAt(addressOnly, true, ids) ||
        (holding.baseline.id != 0 &&
         !tables.HostsSeenBetween(holding.baseline.id, kBeforeThisScan, ids)) ||
        !tables.LoadHosts(ids, kBeforeThisScan, holding.hosts))
        return Error();
    std::unordered_set<std::string_view> held;
    held.reserve(holding.hosts.size());
    for (const StoredHost& host : holding.hosts)
        held.insert(host.identity);
    std::vector<std::string> elsewhere;
    for (const Sighting& sighting : sightings)
        if (!held.count(sighting.identity))
            elsewhere.push_back(sighting.identity);
    std::sort(elsewhere.begin(), elsewhere.end());
    elsewhere.erase(std::unique(elsewhere.begin(), elsewhere.end()), elsewhere.end());
    std::unordered_map<std::string, std::int64_t> found;
    if (!tables.FindHosts(elsewhere, found))
        return Error();
    if (found.empty())
        return std::nullopt;
    ids.clear();
    for (const auto& [identity, id] : found)
        ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    if (!tables.LoadHosts(ids, kBeforeThisScan, holding.hosts))
        return Error();
    std::sort(holding.hosts.begin(), holding.hosts.end(),
              [](const StoredHost& a, const StoredHost& b) { return a.id < b.id; });
    return std::nullopt;
}

// Which of the hosts read the baseline saw, and the rows it saw of those
// whose rows changed since.
std::optional<SqlError> InventoryWriter::ReadBaseline(InventoryTables& tables,
                                                      InventoryHolding& holding) {
    const std::int64_t baseline = holding.baseline.id;
    if (baseline == 0)
        return std::nullopt;
    if (!tables.SeenBy(baseline, holding.hosts, holding.inBaseline))
        return Error();
    std::vector<HostRow> past;
    for (std::size_t i = 0; i < holding.hosts.size(); ++i) {
        if (!holding.inBaseline[i] || holding.hosts[i].since <= baseline)
            continue;
        if (!tables.RowsAt(holding.hosts[i], baseline, past))
            return Error();
        holding.rowsInBaseline.emplace(i, past);
    }
    return std::nullopt;
}

std::optional<SqlError> InventoryWriter::WriteScan(const RecordedScan& scan, std::int64_t& id) {
    SqlStatement insertScan(m_db, "INSERT INTO scans(started_ms, ended_ms, complete, settings, "
                                  "site, site_scan) VALUES(?, ?, ?, ?, ?, ?)");
    if (!insertScan)
        return Error();
    SqlStatement insertRange(m_db, "INSERT INTO scan_ranges(scan, first, last) VALUES(?, ?, ?)");
    if (!insertRange)
        return Error();
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
        return Error();
    id = sqlite3_last_insert_rowid(m_db);
    for (const AddressRange& range : scan.ranges) {
        sqlite3_bind_int64(insertRange.get(), 1, id);
        sqlite3_bind_int64(insertRange.get(), 2, range.start);
        sqlite3_bind_int64(insertRange.get(), 3, range.end);
        if (!SqlStep(insertRange.get()))
            return Error();
    }
    return std::nullopt;
}

// Each host in the order first seen: a new one with its rows, a known one
// with a new version of its rows where they differ, its names where new
// (node status's and the other sources' apart).
std::optional<SqlError> InventoryWriter::WriteHosts(InventoryTables& tables,
                                                    const RecordedScan& scan,
                                                    const InventoryHolding& holding,
                                                    const InventoryPlan& plan, std::int64_t scanId,
                                                    std::vector<std::int64_t>& ids) {
    ids.reserve(plan.hosts.size());
    std::vector<HostRow> rows;
    for (const PlannedHost& host : plan.hosts) {
        // Its rows, made only where they are written.
        auto rowsNow = [&]() -> const std::vector<HostRow>& {
            rows.clear();
            for (const std::size_t row : plan.RowsOf(host))
                rows.push_back(RowOf(plan.scan.sightings[row].address, scan.rows[row]));
            return rows;
        };
        if (host.held == PlannedHost::kNone) {
            const std::int64_t id = tables.InsertHost(
                plan.IdentityOfHost(host), static_cast<int>(host.kind), host.randomisedMac, scanId,
                plan.ComputerOf(host), plan.DomainOf(host), host.names);
            if (id < 0 || !tables.InsertRows(false, id, scanId, rowsNow()) ||
                (host.setLastOfRows && !tables.SetLastOfRows(id, host.lastListed)))
                return Error();
            ids.push_back(id);
            continue;
        }
        const StoredHost& was = holding.hosts[host.held];
        if (!host.sameRows ? !tables.ReplaceRows(was, scanId, rowsNow())
                           : host.clearDeparted && !tables.SetDeparted(was.id, false))
            return Error();
        if (host.renamed && !tables.UpdateNames(was.id, plan.ComputerOf(host), plan.DomainOf(host)))
            return Error();
        if (host.namesLearnt && !tables.UpdateLearntNames(was.id, host.names))
            return Error();
        if (host.setLastOfRows && !tables.SetLastOfRows(was.id, host.lastListed))
            return Error();
        ids.push_back(was.id);
    }
    return std::nullopt;
}

// The hosts told gone (read no more until seen again), the number of rows,
// which hosts the scan saw, and its changes.
std::optional<SqlError> InventoryWriter::WriteChanges(InventoryTables& tables,
                                                      const InventoryHolding& holding,
                                                      const InventoryPlan& plan,
                                                      std::int64_t scanId,
                                                      const std::vector<std::int64_t>& ids) {
    std::unordered_map<std::string_view, std::int64_t> hostIds;
    for (std::size_t i = 0; i < plan.changes.size(); ++i) {
        const PlannedChangeHost& of = plan.changeHosts[i];
        if (of.index < (of.held ? holding.hosts.size() : ids.size()))
            hostIds.emplace(plan.changes[i].identity,
                            of.held ? holding.hosts[of.index].id : ids[of.index]);
    }
    for (const std::size_t gone : plan.departures)
        if (!tables.SetDeparted(holding.hosts[gone].id, true))
            return Error();
    SqlStatement count(m_db, "UPDATE scans SET answered = ? WHERE id = ?");
    if (!count)
        return Error();
    sqlite3_bind_int64(count.get(), 1, plan.answered);
    sqlite3_bind_int64(count.get(), 2, scanId);
    HostPresence presence;
    for (const std::int64_t id : ids)
        presence.Add(id);
    if (!SqlStep(count.get()) || !tables.InsertPresence(scanId, presence) ||
        !tables.InsertChanges(scanId, plan.changes, hostIds))
        return Error();
    return std::nullopt;
}
