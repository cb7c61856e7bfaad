#include "core/inventory/postgres/PgInventoryWriter.h"

#include "core/inventory/HostRow.h"
#include "core/inventory/StoredNames.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <unordered_map>

namespace {

std::string Text(std::int64_t value) {
    return std::to_string(value);
}

} // namespace

std::optional<PgError> PgInventoryWriter::Write(const RecordedScan& scan, std::int64_t& id) {
    // The site's row, locked until the end of the transaction.
    PgResult site = m_db.Exec("INSERT INTO sites(name) VALUES ($1) ON CONFLICT (name) "
                              "DO UPDATE SET name = EXCLUDED.name RETURNING id",
                              {scan.site});
    if (!site.Ok())
        return site.Error();
    const std::string siteId = site.Text(0, 0);
    PgResult known = m_db.Exec("SELECT id FROM scans WHERE site = $1 AND site_scan = $2",
                               {siteId, scan.siteScan});
    if (!known.Ok())
        return known.Error();
    if (known.Rows() > 0) {
        id = known.Int64(0, 0).value_or(-1);
        return std::nullopt;
    }

    std::vector<Sighting> sightings = SightingsOf(scan);
    const Keys keys = KeysOf(scan, sightings);
    InventoryHolding holding;
    if (std::optional<PgError> failed = ReadHosts(siteId, keys, holding))
        return failed;
    if (std::optional<PgError> failed = ReadScans(siteId, keys, holding))
        return failed;
    if (std::optional<PgError> failed = ReadElsewhere(siteId, keys, holding))
        return failed;
    const InventoryPlan plan = PlanRecording(scan, std::move(sightings), holding);

    if (std::optional<PgError> failed = WriteScan(siteId, scan, keys, id))
        return failed;
    std::vector<std::int64_t> ids; // of the plan's hosts
    if (std::optional<PgError> failed = WriteHosts(siteId, Text(id), scan, plan, ids))
        return failed;
    return WriteChanges(siteId, Text(id), holding, plan, ids);
}

PgInventoryWriter::Keys PgInventoryWriter::KeysOf(const RecordedScan& scan,
                                                  const std::vector<Sighting>& sightings) {
    std::vector<std::string> identities;
    std::vector<std::int64_t> addressOnly, firsts, lasts;
    for (const Sighting& sighting : sightings) {
        identities.push_back(sighting.identity);
        if (sighting.identity.rfind("ip:", 0) == 0)
            addressOnly.push_back(sighting.address);
    }
    std::sort(identities.begin(), identities.end());
    identities.erase(std::unique(identities.begin(), identities.end()), identities.end());
    for (const AddressRange& range : scan.ranges) {
        firsts.push_back(range.start);
        lasts.push_back(range.end);
    }
    return {PgArrayLiteral(identities), PgArrayLiteral(addressOnly), PgArrayLiteral(firsts),
            PgArrayLiteral(lasts)};
}

// What the site knows of the hosts seen now, of those last seen within the
// ranges and not told gone, and of those last seen where a row without MAC
// or name answers now.
std::optional<PgError> PgInventoryWriter::ReadHosts(const std::string& site, const Keys& keys,
                                                    InventoryHolding& holding) {
    PgResult read = m_db.Exec(
        "SELECT h.id, h.identity, sh.first_scan, sh.last_scan, sh.last_address, h.computer, "
        "h.domain, h.names FROM site_hosts sh JOIN hosts h ON h.id = sh.host WHERE sh.site = $1 "
        "AND (h.identity = ANY($2::text[]) OR sh.last_address = ANY($5::bigint[]) "
        "OR (NOT sh.departed AND EXISTS (SELECT 1 FROM unnest($3::bigint[], $4::bigint[]) r(f, l) "
        "WHERE sh.last_address BETWEEN r.f AND r.l))) ORDER BY h.id",
        {site, keys.identities, keys.firsts, keys.lasts, keys.addressOnly});
    if (!read.Ok())
        return read.Error();
    holding.hosts.resize(static_cast<std::size_t>(read.Rows()));
    for (int r = 0; r < read.Rows(); ++r) {
        StoredHost& host = holding.hosts[static_cast<std::size_t>(r)];
        host.id = read.Int64(r, 0).value_or(0);
        host.identity = read.Text(r, 1);
        host.known.firstScan = read.Int64(r, 2).value_or(0);
        host.known.lastScan = read.Int64(r, 3).value_or(0);
        host.known.lastAddress = static_cast<std::uint32_t>(read.Int64(r, 4).value_or(0));
        host.known.computer = read.Text(r, 5);
        host.known.domain = read.Text(r, 6);
        host.known.names = LearntNamesOfText(read.Text(r, 7));
    }
    return std::nullopt;
}

// The baseline (the site's last complete scan that overlaps this one) with
// its sightings, and the site's scans since the oldest of it and the last
// scans of the hosts read, for counting absences. The scan is not written
// yet: every scan of the site is an earlier one.
std::optional<PgError> PgInventoryWriter::ReadScans(const std::string& site, const Keys& keys,
                                                    InventoryHolding& holding) {
    PgResult baselineRead = m_db.Exec(
        "SELECT s.id FROM scans s WHERE s.site = $1 AND s.complete AND EXISTS ("
        "SELECT 1 FROM scan_ranges r, unnest($2::bigint[], $3::bigint[]) c(f, l) "
        "WHERE r.scan = s.id AND r.first <= c.l AND c.f <= r.last) ORDER BY s.id DESC LIMIT 1",
        {site, keys.firsts, keys.lasts});
    if (!baselineRead.Ok())
        return baselineRead.Error();
    const std::int64_t baseline = baselineRead.Rows() ? baselineRead.Int64(0, 0).value_or(0) : 0;
    std::int64_t oldest = std::numeric_limits<std::int64_t>::max();
    for (const StoredHost& host : holding.hosts)
        oldest = std::min(oldest, host.known.lastScan);
    if (baseline > 0)
        oldest = std::min(oldest, baseline);
    PgResult headers = m_db.Exec(
        "SELECT s.id, s.complete, r.first, r.last FROM scans s JOIN scan_ranges r ON r.scan = s.id "
        "WHERE s.site = $1 AND s.id >= $2 ORDER BY s.id, r.position",
        {site, Text(oldest)});
    if (!headers.Ok())
        return headers.Error();
    std::vector<ScanView>& scans = holding.scans;
    for (int r = 0; r < headers.Rows(); ++r) {
        const std::int64_t scanOf = headers.Int64(r, 0).value_or(0);
        if (scans.empty() || scans.back().id != scanOf) {
            scans.emplace_back();
            scans.back().id = scanOf;
            scans.back().complete = headers.Text(r, 1) == "t";
        }
        scans.back().ranges.push_back(
            {static_cast<std::uint32_t>(headers.Int64(r, 2).value_or(0)),
             static_cast<std::uint32_t>(headers.Int64(r, 3).value_or(0))});
    }
    const auto header = std::find_if(scans.begin(), scans.end(),
                                     [&](const ScanView& s) { return s.id == baseline; });
    if (baseline <= 0 || header == scans.end())
        return std::nullopt;
    holding.baseline = *header;
    PgResult rows = m_db.Exec(
        "SELECT s.address, h.identity, s.response, s.computer, s.domain, s.mac, s.vendor, "
        "s.messenger, s.names FROM sightings s JOIN hosts h ON h.id = s.host WHERE s.scan = $1",
        {Text(baseline)});
    if (!rows.Ok())
        return rows.Error();
    for (int r = 0; r < rows.Rows(); ++r) {
        HostRow row;
        row.address = static_cast<std::uint32_t>(rows.Int64(r, 0).value_or(0));
        for (std::size_t c = 0; c < row.cells.size(); ++c)
            row.cells[c] = rows.Text(r, 2 + static_cast<int>(c));
        row.names = NamesOfText(rows.Text(r, 8));
        holding.baseline.sightings.push_back(SightingOf(row, rows.Text(r, 1)));
    }
    return std::nullopt;
}

// The hosts seen now whose last sighting anywhere was at another site, after
// their last one here. Only a MAC names one machine everywhere: two sites may
// well have a 10.0.0.1, or a FILESERVER in WORKGROUP, of their own.
std::optional<PgError> PgInventoryWriter::ReadElsewhere(const std::string& site, const Keys& keys,
                                                        InventoryHolding& holding) {
    PgResult away =
        m_db.Exec("SELECT h.identity, si.name, h.last_address, h.first_scan FROM hosts h "
                  "JOIN sites si ON si.id = h.last_site LEFT JOIN site_hosts sh ON sh.site = $1 "
                  "AND sh.host = h.id WHERE h.identity = ANY($2::text[]) AND h.last_site <> $1 "
                  "AND h.kind = 0 "
                  "AND (sh.host IS NULL OR sh.last_scan < h.last_scan)",
                  {site, keys.identities});
    if (!away.Ok())
        return away.Error();
    for (int r = 0; r < away.Rows(); ++r)
        holding.elsewhere.emplace(
            away.Text(r, 0),
            SeenElsewhere{away.Text(r, 1), static_cast<std::uint32_t>(away.Int64(r, 2).value_or(0)),
                          away.Int64(r, 3).value_or(0)});
    return std::nullopt;
}

std::optional<PgError> PgInventoryWriter::WriteScan(const std::string& site,
                                                    const RecordedScan& scan, const Keys& keys,
                                                    std::int64_t& id) {
    PgResult inserted =
        m_db.Exec("INSERT INTO scans(site, site_scan, started_ms, ended_ms, complete, settings) "
                  "VALUES ($1, $2, $3, $4, $5, $6) RETURNING id",
                  {site, scan.siteScan, Text(scan.startedMs), Text(scan.endedMs),
                   scan.complete ? "t" : "f", scan.settings});
    if (!inserted.Ok())
        return inserted.Error();
    id = inserted.Int64(0, 0).value_or(-1);
    PgResult ranges = m_db.Exec("INSERT INTO scan_ranges(scan, position, first, last) "
                                "SELECT $1, r.n, r.f, r.l FROM unnest($2::bigint[], $3::bigint[]) "
                                "WITH ORDINALITY AS r(f, l, n)",
                                {Text(id), keys.firsts, keys.lasts});
    if (!ranges.Ok())
        return ranges.Error();
    return std::nullopt;
}

// The hosts, in the order of their identities for every writer (no
// deadlock): made, or given the names learnt and where they were last seen;
// the scan's sightings; what the site knows of each. The other sources'
// names learnt are the plan's, but a host new to the site without any here
// keeps those another site left.
std::optional<PgError> PgInventoryWriter::WriteHosts(const std::string& site,
                                                     const std::string& scanId,
                                                     const RecordedScan& scan,
                                                     const InventoryPlan& plan,
                                                     std::vector<std::int64_t>& ids) {
    std::vector<std::size_t> order(plan.hosts.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return plan.IdentityOfHost(plan.hosts[a]) < plan.IdentityOfHost(plan.hosts[b]);
    });
    std::vector<std::string> keys, kinds, randomised, computers, domains, addresses, names;
    for (const std::size_t i : order) {
        const PlannedHost& host = plan.hosts[i];
        keys.push_back(plan.IdentityOfHost(host));
        kinds.push_back(std::to_string(static_cast<int>(host.kind)));
        randomised.push_back(host.randomisedMac ? "t" : "f");
        computers.push_back(plan.ComputerOf(host));
        domains.push_back(plan.DomainOf(host));
        addresses.push_back(std::to_string(host.lastListed));
        names.push_back(LearntNamesText(host.names));
    }
    PgResult upserted = m_db.Exec(
        "INSERT INTO hosts AS h (identity, kind, randomised_mac, first_scan, computer, domain, "
        "last_scan, last_site, last_address, names) "
        "SELECT u.k, u.t, u.r, $7, u.c, u.d, $7, $8, u.a, u.n "
        "FROM unnest($1::text[], $2::smallint[], $3::boolean[], $4::text[], $5::text[], "
        "$6::bigint[], $9::text[]) AS u(k, t, r, c, d, a, n) ORDER BY u.k "
        "ON CONFLICT (identity) DO UPDATE SET "
        "computer = CASE WHEN EXCLUDED.computer <> '' THEN EXCLUDED.computer ELSE h.computer END, "
        "domain = CASE WHEN EXCLUDED.computer <> '' THEN EXCLUDED.domain ELSE h.domain END, "
        "last_scan = EXCLUDED.last_scan, last_site = EXCLUDED.last_site, "
        "last_address = EXCLUDED.last_address, "
        "names = CASE WHEN EXCLUDED.names <> '' THEN EXCLUDED.names ELSE h.names END "
        "RETURNING h.identity, h.id",
        {PgArrayLiteral(keys), PgArrayLiteral(kinds), PgArrayLiteral(randomised),
         PgArrayLiteral(computers), PgArrayLiteral(domains), PgArrayLiteral(addresses), scanId,
         site, PgArrayLiteral(names)});
    if (!upserted.Ok())
        return upserted.Error();
    std::unordered_map<std::string, std::int64_t> made;
    for (int r = 0; r < upserted.Rows(); ++r)
        made.emplace(upserted.Text(r, 0), upserted.Int64(r, 1).value_or(0));
    ids.resize(plan.hosts.size());
    for (std::size_t i = 0; i < plan.hosts.size(); ++i) {
        const auto id = made.find(plan.IdentityOfHost(plan.hosts[i]));
        if (id == made.end())
            return PgError{"", "the server did not return the host " +
                                   plan.IdentityOfHost(plan.hosts[i])};
        ids[i] = id->second;
    }
    // A host of the site's whose names were all forgotten (it is no longer
    // at the addresses they were given for).
    std::vector<std::int64_t> forgotten;
    for (std::size_t i = 0; i < plan.hosts.size(); ++i)
        if (plan.hosts[i].held != PlannedHost::kNone && plan.hosts[i].namesLearnt &&
            plan.hosts[i].names.empty())
            forgotten.push_back(ids[i]);
    if (!forgotten.empty()) {
        PgResult cleared = m_db.Exec("UPDATE hosts SET names = '' WHERE id = ANY($1::bigint[])",
                                     {PgArrayLiteral(forgotten)});
        if (!cleared.Ok())
            return cleared.Error();
    }

    std::vector<PgValues> sightings;
    sightings.reserve(static_cast<std::size_t>(plan.answered));
    for (std::size_t i = 0; i < scan.rows.size(); ++i) {
        if (plan.hostOfRow[i] == PlannedHost::kNone)
            continue;
        PgValues row = {scanId, Text(ids[plan.hostOfRow[i]]), Text(plan.scan.sightings[i].address)};
        for (int c = HostRecord::kResponse; c < HostRecord::kColumnCount; ++c)
            row.push_back(CellOf(scan.rows[i], c));
        row.push_back(NamesText(OtherNamesOf(scan.rows[i])));
        sightings.push_back(std::move(row));
    }
    if (!sightings.empty()) {
        PgResult copied = m_db.CopyIn("sightings (scan, host, address, response, computer, "
                                      "domain, mac, vendor, messenger, names)",
                                      sightings);
        if (!copied.Ok())
            return copied.Error();
    }
    std::vector<std::int64_t> seenIds;
    for (const std::size_t i : order)
        seenIds.push_back(ids[i]);
    PgResult siteHosts = m_db.Exec(
        "INSERT INTO site_hosts AS sh (site, host, first_scan, last_scan, last_address) "
        "SELECT $1, u.h, $2, $2, u.a FROM unnest($3::bigint[], $4::bigint[]) AS u(h, a) "
        "ORDER BY u.h ON CONFLICT (site, host) DO UPDATE SET last_scan = EXCLUDED.last_scan, "
        "last_address = EXCLUDED.last_address, departed = false",
        {site, scanId, PgArrayLiteral(seenIds), PgArrayLiteral(addresses)});
    if (!siteHosts.Ok())
        return siteHosts.Error();
    return std::nullopt;
}

// The hosts told gone, the changes in their order, the rows the scan listed.
std::optional<PgError> PgInventoryWriter::WriteChanges(const std::string& site,
                                                       const std::string& scanId,
                                                       const InventoryHolding& holding,
                                                       const InventoryPlan& plan,
                                                       const std::vector<std::int64_t>& ids) {
    std::vector<std::int64_t> departed;
    for (const std::size_t gone : plan.departures)
        departed.push_back(holding.hosts[gone].id);
    std::vector<PgValues> changeRows;
    for (std::size_t i = 0; i < plan.changes.size(); ++i) {
        const Change& change = plan.changes[i];
        const PlannedChangeHost& of = plan.changeHosts[i];
        if (of.index >= (of.held ? holding.hosts.size() : ids.size()))
            return PgError{"", "a change of a host not recorded: " + change.identity};
        const std::int64_t host = of.held ? holding.hosts[of.index].id : ids[of.index];
        changeRows.push_back({scanId, Text(static_cast<std::int64_t>(i)),
                              Text(static_cast<int>(change.kind)), Text(change.address), Text(host),
                              change.before, change.after, Text(static_cast<int>(change.source))});
    }
    if (!departed.empty()) {
        PgResult gone = m_db.Exec("UPDATE site_hosts SET departed = true "
                                  "WHERE site = $1 AND host = ANY($2::bigint[])",
                                  {site, PgArrayLiteral(departed)});
        if (!gone.Ok())
            return gone.Error();
    }
    if (!changeRows.empty()) {
        PgResult copied = m_db.CopyIn(
            "changes (scan, position, kind, address, host, before, after, source)", changeRows);
        if (!copied.Ok())
            return copied.Error();
    }
    PgResult answered =
        m_db.Exec("UPDATE scans SET answered = $1 WHERE id = $2", {Text(plan.answered), scanId});
    if (!answered.Ok())
        return answered.Error();
    return std::nullopt;
}
