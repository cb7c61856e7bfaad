#include "core/inventory/postgres/PgInventoryWriter.h"

#include "core/inventory/HostIdentity.h"
#include "core/inventory/HostRow.h"
#include "core/inventory/StoredHost.h"
#include "core/inventory/ScanChanges.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace {

// What the site knows of a host, as read from site_hosts and hosts.
struct SiteHost {
    std::int64_t id = 0;
    std::string identity;
    KnownHost known;
};

// What this scan makes of one identity: its first row, the last row that
// gave it names, the address its last row listed.
struct SeenHost {
    std::size_t first = 0;
    std::size_t named = SIZE_MAX;
    std::uint32_t lastListed = 0;
};

std::string Text(std::int64_t value) {
    return std::to_string(value);
}

// The ranges as two arrays of bounds.
std::pair<std::string, std::string> Bounds(const std::vector<AddressRange>& ranges) {
    std::vector<std::int64_t> first, last;
    for (const AddressRange& range : ranges) {
        first.push_back(range.start);
        last.push_back(range.end);
    }
    return {PgArrayLiteral(first), PgArrayLiteral(last)};
}

} // namespace

#define KD_FAIL_UNLESS(result)                                                                   \
    if (!(result).Ok())                                                                          \
        return (result).Error();

std::optional<PgError> PgInventoryWriter::Write(const RecordedScan& scan, std::int64_t& id) {
    // The site's row, locked until the end of the transaction.
    PgResult site = m_db.Exec("INSERT INTO sites(name) VALUES ($1) ON CONFLICT (name) "
                              "DO UPDATE SET name = EXCLUDED.name RETURNING id",
                              {scan.site});
    KD_FAIL_UNLESS(site);
    const std::string siteId = site.Text(0, 0);
    PgResult known = m_db.Exec("SELECT id FROM scans WHERE site = $1 AND site_scan = $2",
                               {siteId, scan.siteScan});
    KD_FAIL_UNLESS(known);
    if (known.Rows() > 0) {
        id = known.Int64(0, 0).value_or(-1);
        return std::nullopt;
    }
    PgResult inserted = m_db.Exec(
        "INSERT INTO scans(site, site_scan, started_ms, ended_ms, complete, settings) "
        "VALUES ($1, $2, $3, $4, $5, $6) RETURNING id",
        {siteId, scan.siteScan, Text(scan.startedMs), Text(scan.endedMs),
         scan.complete ? "t" : "f", scan.settings});
    KD_FAIL_UNLESS(inserted);
    ScanView current;
    current.id = inserted.Int64(0, 0).value_or(-1);
    current.complete = scan.complete;
    current.ranges = scan.ranges;
    const std::string scanId = Text(current.id);
    const auto [firsts, lasts] = Bounds(scan.ranges);
    PgResult ranges = m_db.Exec("INSERT INTO scan_ranges(scan, position, first, last) "
                                "SELECT $1, r.n, r.f, r.l FROM unnest($2::bigint[], $3::bigint[]) "
                                "WITH ORDINALITY AS r(f, l, n)",
                                {scanId, firsts, lasts});
    KD_FAIL_UNLESS(ranges);

    current.sightings.reserve(scan.rows.size());
    for (const HostRecord& row : scan.rows)
        current.sightings.push_back(SightingOf(row));
    std::vector<std::string> identities;
    std::vector<std::int64_t> addressOnly;
    for (const Sighting& sighting : current.sightings) {
        identities.push_back(sighting.identity);
        if (sighting.identity.rfind("ip:", 0) == 0)
            addressOnly.push_back(sighting.address);
    }
    std::sort(identities.begin(), identities.end());
    identities.erase(std::unique(identities.begin(), identities.end()), identities.end());

    // What the site knows of the hosts seen now, of those last seen within
    // the ranges and not told gone, and of those last seen where a row
    // without MAC or name answers now.
    PgResult hostsRead = m_db.Exec(
        "SELECT h.id, h.identity, sh.first_scan, sh.last_scan, sh.last_address, h.computer, "
        "h.domain FROM site_hosts sh JOIN hosts h ON h.id = sh.host WHERE sh.site = $1 AND ("
        "h.identity = ANY($2::text[]) OR sh.last_address = ANY($5::bigint[]) OR (NOT sh.departed "
        "AND EXISTS (SELECT 1 FROM unnest($3::bigint[], $4::bigint[]) r(f, l) "
        "WHERE sh.last_address BETWEEN r.f AND r.l))) ORDER BY h.id",
        {siteId, PgArrayLiteral(identities), firsts, lasts, PgArrayLiteral(addressOnly)});
    KD_FAIL_UNLESS(hostsRead);
    std::vector<SiteHost> hosts(static_cast<std::size_t>(hostsRead.Rows()));
    std::int64_t oldest = current.id;
    for (int r = 0; r < hostsRead.Rows(); ++r) {
        SiteHost& host = hosts[static_cast<std::size_t>(r)];
        host.id = hostsRead.Int64(r, 0).value_or(0);
        host.identity = hostsRead.Text(r, 1);
        host.known.firstScan = hostsRead.Int64(r, 2).value_or(0);
        host.known.lastScan = hostsRead.Int64(r, 3).value_or(0);
        host.known.lastAddress = static_cast<std::uint32_t>(hostsRead.Int64(r, 4).value_or(0));
        host.known.computer = hostsRead.Text(r, 5);
        host.known.domain = hostsRead.Text(r, 6);
        oldest = std::min(oldest, host.known.lastScan);
    }
    PriorScans prior;
    prior.site = scan.site;
    for (const SiteHost& host : hosts)
        prior.hosts.emplace(host.identity, host.known);
    if (!addressOnly.empty())
        AttributeAddressOnlySightings(current, prior);

    // The baseline: the site's last complete scan that overlaps this one.
    PgResult baselineRead = m_db.Exec(
        "SELECT s.id FROM scans s WHERE s.site = $1 AND s.id < $2 AND s.complete AND EXISTS ("
        "SELECT 1 FROM scan_ranges r, unnest($3::bigint[], $4::bigint[]) c(f, l) "
        "WHERE r.scan = s.id AND r.first <= c.l AND c.f <= r.last) ORDER BY s.id DESC LIMIT 1",
        {siteId, scanId, firsts, lasts});
    KD_FAIL_UNLESS(baselineRead);
    const std::int64_t baseline = baselineRead.Rows() ? baselineRead.Int64(0, 0).value_or(0) : 0;
    if (baseline > 0)
        oldest = std::min(oldest, baseline);
    // The site's scans since the oldest of these, for counting absences.
    PgResult headers = m_db.Exec(
        "SELECT s.id, s.complete, r.first, r.last FROM scans s JOIN scan_ranges r ON r.scan = s.id "
        "WHERE s.site = $1 AND s.id >= $2 AND s.id < $3 ORDER BY s.id, r.position",
        {siteId, Text(oldest), scanId});
    KD_FAIL_UNLESS(headers);
    for (int r = 0; r < headers.Rows(); ++r) {
        const std::int64_t scanOf = headers.Int64(r, 0).value_or(0);
        if (prior.scans.empty() || prior.scans.back().id != scanOf) {
            prior.scans.emplace_back();
            prior.scans.back().id = scanOf;
            prior.scans.back().complete = headers.Text(r, 1) == "t";
        }
        prior.scans.back().ranges.push_back(
            {static_cast<std::uint32_t>(headers.Int64(r, 2).value_or(0)),
             static_cast<std::uint32_t>(headers.Int64(r, 3).value_or(0))});
    }
    if (baseline > 0) {
        const auto header = std::find_if(prior.scans.begin(), prior.scans.end(),
                                         [&](const ScanView& s) { return s.id == baseline; });
        if (header != prior.scans.end())
            prior.baseline = *header;
        PgResult rows = m_db.Exec(
            "SELECT s.address, h.identity, s.response, s.computer, s.domain, s.mac, s.vendor, "
            "s.messenger FROM sightings s JOIN hosts h ON h.id = s.host WHERE s.scan = $1",
            {Text(baseline)});
        KD_FAIL_UNLESS(rows);
        for (int r = 0; r < rows.Rows(); ++r) {
            HostRow row;
            row.address = static_cast<std::uint32_t>(rows.Int64(r, 0).value_or(0));
            for (std::size_t c = 0; c < row.cells.size(); ++c)
                row.cells[c] = rows.Text(r, 2 + static_cast<int>(c));
            prior.baseline.sightings.push_back(SightingOf(row, rows.Text(r, 1)));
        }
    }
    // The hosts seen now whose last sighting anywhere was at another site,
    // after their last one here. Only a MAC names one machine everywhere: two
    // sites may well have a 10.0.0.1, or a FILESERVER in WORKGROUP, of their own.
    PgResult away = m_db.Exec(
        "SELECT h.identity, si.name, h.last_address, h.first_scan FROM hosts h "
        "JOIN sites si ON si.id = h.last_site LEFT JOIN site_hosts sh ON sh.site = $1 "
        "AND sh.host = h.id WHERE h.identity = ANY($2::text[]) AND h.last_site <> $1 "
        "AND h.kind = 0 "
        "AND (sh.host IS NULL OR sh.last_scan < h.last_scan)",
        {siteId, PgArrayLiteral(identities)});
    KD_FAIL_UNLESS(away);
    std::vector<std::string> awayKeys(static_cast<std::size_t>(away.Rows()));
    for (int r = 0; r < away.Rows(); ++r)
        awayKeys[static_cast<std::size_t>(r)] = away.Text(r, 0);
    for (int r = 0; r < away.Rows(); ++r)
        prior.elsewhere.emplace(awayKeys[static_cast<std::size_t>(r)],
                                SeenElsewhere{away.Text(r, 1),
                                              static_cast<std::uint32_t>(
                                                  away.Int64(r, 2).value_or(0)),
                                              away.Int64(r, 3).value_or(0)});
    const std::vector<Change> changes = FindChanges(current, prior);

    // Each identity as this scan found it; an address listed twice (ranges
    // that overlap) counts once.
    std::unordered_map<std::string_view, SeenHost> seen;
    std::vector<std::string_view> order;
    std::vector<char> listed(current.sightings.size(), 1);
    {
        std::unordered_map<std::string_view, std::vector<std::uint32_t>> addresses;
        for (std::size_t i = 0; i < current.sightings.size(); ++i) {
            const Sighting& sighting = current.sightings[i];
            auto [at, added] = seen.try_emplace(sighting.identity, SeenHost{i});
            if (added)
                order.push_back(sighting.identity);
            std::vector<std::uint32_t>& where = addresses[sighting.identity];
            if (std::find(where.begin(), where.end(), sighting.address) != where.end())
                listed[i] = 0;
            where.push_back(sighting.address);
            if (!sighting.computer.empty())
                at->second.named = i;
            at->second.lastListed = sighting.address;
        }
    }
    std::sort(order.begin(), order.end()); // one order for every writer: no deadlock
    std::vector<std::string> keys, kinds, randomised, computers, domains, addresses;
    for (const std::string_view key : order) {
        const SeenHost& host = seen.at(key);
        const HostIdentity identity = IdentityOf(scan.rows[host.first]);
        keys.emplace_back(key);
        kinds.push_back(std::to_string(static_cast<int>(identity.kind)));
        randomised.push_back(identity.randomisedMac ? "t" : "f");
        const bool named = host.named != SIZE_MAX;
        computers.push_back(named ? current.sightings[host.named].computer : "");
        domains.push_back(named ? current.sightings[host.named].domain : "");
        addresses.push_back(std::to_string(host.lastListed));
    }
    PgResult upserted = m_db.Exec(
        "INSERT INTO hosts AS h (identity, kind, randomised_mac, first_scan, computer, domain, "
        "last_scan, last_site, last_address) SELECT u.k, u.t, u.r, $7, u.c, u.d, $7, $8, u.a "
        "FROM unnest($1::text[], $2::smallint[], $3::boolean[], $4::text[], $5::text[], "
        "$6::bigint[]) AS u(k, t, r, c, d, a) ORDER BY u.k ON CONFLICT (identity) DO UPDATE SET "
        "computer = CASE WHEN EXCLUDED.computer <> '' THEN EXCLUDED.computer ELSE h.computer END, "
        "domain = CASE WHEN EXCLUDED.computer <> '' THEN EXCLUDED.domain ELSE h.domain END, "
        "last_scan = EXCLUDED.last_scan, last_site = EXCLUDED.last_site, "
        "last_address = EXCLUDED.last_address RETURNING h.identity, h.id",
        {PgArrayLiteral(keys), PgArrayLiteral(kinds), PgArrayLiteral(randomised),
         PgArrayLiteral(computers), PgArrayLiteral(domains), PgArrayLiteral(addresses), scanId,
         siteId});
    KD_FAIL_UNLESS(upserted);
    std::unordered_map<std::string, std::int64_t> ids;
    for (int r = 0; r < upserted.Rows(); ++r)
        ids.emplace(upserted.Text(r, 0), upserted.Int64(r, 1).value_or(0));
    for (const SiteHost& host : hosts)
        ids.emplace(host.identity, host.id);

    std::vector<PgValues> sightings;
    sightings.reserve(scan.rows.size());
    for (std::size_t i = 0; i < scan.rows.size(); ++i) {
        if (!listed[i])
            continue;
        PgValues row = {scanId, Text(ids.at(current.sightings[i].identity)),
                        Text(current.sightings[i].address)};
        for (int c = HostRecord::kResponse; c < HostRecord::kColumnCount; ++c)
            row.push_back(scan.rows[i].cells[static_cast<std::size_t>(c)]);
        sightings.push_back(std::move(row));
    }
    if (!sightings.empty()) {
        PgResult copied = m_db.CopyIn(
            "sightings (scan, host, address, response, computer, domain, mac, vendor, messenger)",
            sightings);
        KD_FAIL_UNLESS(copied);
    }
    std::vector<std::int64_t> seenIds;
    for (const std::string& key : keys)
        seenIds.push_back(ids.at(key));
    PgResult siteHosts = m_db.Exec(
        "INSERT INTO site_hosts AS sh (site, host, first_scan, last_scan, last_address) "
        "SELECT $1, u.h, $2, $2, u.a FROM unnest($3::bigint[], $4::bigint[]) AS u(h, a) "
        "ORDER BY u.h ON CONFLICT (site, host) DO UPDATE SET last_scan = EXCLUDED.last_scan, "
        "last_address = EXCLUDED.last_address, departed = false",
        {siteId, scanId, PgArrayLiteral(seenIds), PgArrayLiteral(addresses)});
    KD_FAIL_UNLESS(siteHosts);

    std::vector<std::int64_t> departed;
    std::vector<PgValues> changeRows;
    for (const Change& change : changes) {
        const std::int64_t host = ids.at(change.identity);
        if (change.kind == ChangeKind::Gone)
            departed.push_back(host);
        changeRows.push_back({scanId, Text(static_cast<std::int64_t>(changeRows.size())),
                              Text(static_cast<int>(change.kind)), Text(change.address),
                              Text(host), change.before, change.after});
    }
    if (!departed.empty()) {
        PgResult gone = m_db.Exec("UPDATE site_hosts SET departed = true "
                                  "WHERE site = $1 AND host = ANY($2::bigint[])",
                                  {siteId, PgArrayLiteral(departed)});
        KD_FAIL_UNLESS(gone);
    }
    if (!changeRows.empty()) {
        PgResult copied = m_db.CopyIn(
            "changes (scan, position, kind, address, host, before, after)", changeRows);
        KD_FAIL_UNLESS(copied);
    }
    PgResult answered = m_db.Exec("UPDATE scans SET answered = $1 WHERE id = $2",
                                  {Text(static_cast<std::int64_t>(sightings.size())), scanId});
    KD_FAIL_UNLESS(answered);
    id = current.id;
    return std::nullopt;
}
