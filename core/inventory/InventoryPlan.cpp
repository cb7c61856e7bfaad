#include "core/inventory/InventoryPlan.h"

#include "core/scan/HostCells.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::size_t kNone = PlannedHost::kNone;

bool SameRow(const HostRow& row, std::uint32_t address, const HostRecord& record) {
    if (row.address != address)
        return false;
    for (std::size_t i = 0; i < row.cells.size(); ++i)
        if (!CellIs(record, static_cast<int>(i + 1), row.cells[i]))
            return false;
    if (row.names.empty() && record.names.empty())
        return true;
    return row.names == OtherNamesOf(record);
}

// The kind of identity IdentityOf gives the row a sighting was made of
// (SightingOf): a MAC only when usable, else a name, else the address. A
// row taken for a known host keeps its own.
HostIdentity::Kind KindOf(const Sighting& sighting) {
    if (!sighting.mac.empty())
        return HostIdentity::Kind::Mac;
    return sighting.computer.empty() ? HostIdentity::Kind::Address : HostIdentity::Kind::Name;
}

bool IsAddressIdentity(const std::string& identity) {
    return identity.rfind("ip:", 0) == 0;
}

// Whether more than one of `sorted` is `address`.
bool Shared(const std::vector<std::uint32_t>& sorted, std::uint32_t address) {
    const auto [first, last] = std::equal_range(sorted.begin(), sorted.end(), address);
    return last - first > 1;
}

// The rows the baseline saw a held host with.
const std::vector<HostRow>& RowsThen(const InventoryHolding& holding, std::size_t host) {
    const auto past = holding.rowsInBaseline.find(host);
    return past != holding.rowsInBaseline.end() ? past->second : holding.hosts[host].rows;
}

bool InBaseline(const InventoryHolding& holding, std::size_t host) {
    return host < holding.inBaseline.size() && holding.inBaseline[host];
}

// The steps of one plan, in order. The indexes are keyed by views of the
// holding's identities and of the plan's sightings, which stay where they
// are once the rows are taken for their hosts.
class Planner {
public:
    Planner(const RecordedScan& scan, const InventoryHolding& holding, InventoryPlan& plan)
        : m_scan(scan), m_holding(holding), m_plan(plan) {}

    void Run() {
        Attribute();
        Group();
        Learn();
        FindUnchanged();
        FindChanges();
        Decide();
    }

private:
    void Attribute();
    void Group();
    void Learn();
    void FindUnchanged();
    PriorScans Prior() const;
    void FindChanges();
    std::size_t HeldIndexOf(const std::string& identity);
    void Decide();

    const RecordedScan& m_scan;
    const InventoryHolding& m_holding;
    InventoryPlan& m_plan;
    std::unordered_map<std::string_view, std::size_t> m_seen; // index among the plan's hosts
    // Index among the holding's hosts, made only when a change is of a host
    // not seen now.
    std::unordered_map<std::string_view, std::size_t> m_held;
};

// A row without MAC or name is taken for the host last seen at its address,
// among all the hosts held.
void Planner::Attribute() {
    std::vector<Sighting>& sightings = m_plan.scan.sightings;
    if (std::none_of(sightings.begin(), sightings.end(),
                     [](const Sighting& s) { return IsAddressIdentity(s.identity); }))
        return;
    PriorScans all;
    all.hosts.reserve(m_holding.hosts.size());
    for (const StoredHost& host : m_holding.hosts)
        all.hosts.emplace(host.identity, host.known);
    AttributeAddressOnlySightings(m_plan.scan, all);
}

// Each host in the order first seen, with its rows: a row that lists an
// address of its host again is left out, though its names and its address
// still count as the host's last.
void Planner::Group() {
    const std::vector<Sighting>& sightings = m_plan.scan.sightings;
    const std::size_t n = sightings.size();
    m_plan.hostOfRow.assign(n, kNone);
    std::vector<std::size_t> next(n, kNone), last; // each host's rows, chained
    m_seen.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Sighting& sighting = sightings[i];
        const auto [at, added] = m_seen.try_emplace(sighting.identity, m_plan.hosts.size());
        if (added) {
            PlannedHost host;
            host.first = i;
            host.count = 1;
            host.kind = KindOf(sighting);
            host.randomisedMac =
                host.kind == HostIdentity::Kind::Mac && IsRandomisedMac(sighting.mac);
            m_plan.hosts.push_back(host);
            last.push_back(i);
            m_plan.hostOfRow[i] = at->second;
        } else {
            bool again = false;
            for (std::size_t row = m_plan.hosts[at->second].first; row != kNone && !again;
                 row = next[row])
                again = sightings[row].address == sighting.address;
            if (!again) {
                next[last[at->second]] = i;
                last[at->second] = i;
                ++m_plan.hosts[at->second].count;
                m_plan.hostOfRow[i] = at->second;
            }
        }
        PlannedHost& host = m_plan.hosts[at->second];
        if (!sighting.computer.empty())
            host.named = i;
        host.lastListed = sighting.address;
    }
    for (std::size_t i = 0; i < m_holding.hosts.size(); ++i)
        if (const auto seen = m_seen.find(m_holding.hosts[i].identity); seen != m_seen.end())
            m_plan.hosts[seen->second].held = i;
    m_plan.listed.reserve(n);
    for (PlannedHost& host : m_plan.hosts) {
        host.listed = m_plan.listed.size();
        for (std::size_t row = host.first; row != kNone; row = next[row])
            m_plan.listed.push_back(row);
        if (host.count > 1)
            std::sort(m_plan.listed.begin() + static_cast<std::ptrdiff_t>(host.listed),
                      m_plan.listed.end(), [&](std::size_t a, std::size_t b) {
                          return sightings[a].address < sightings[b].address;
                      });
    }
    m_plan.answered = static_cast<std::int64_t>(m_plan.listed.size());
}

// The other names each host leaves learnt, from all its rows (an address
// listed again among them); nothing to do where no host has any.
void Planner::Learn() {
    const std::vector<Sighting>& sightings = m_plan.scan.sightings;
    const auto held = [&](const PlannedHost& host) -> const std::vector<LearntName>& {
        static const std::vector<LearntName> kNone;
        return host.held == PlannedHost::kNone ? kNone : m_holding.hosts[host.held].known.names;
    };
    if (std::none_of(sightings.begin(), sightings.end(),
                     [](const Sighting& s) { return !s.names.empty(); }) &&
        std::all_of(m_plan.hosts.begin(), m_plan.hosts.end(),
                    [&](const PlannedHost& host) { return held(host).empty(); }))
        return;
    std::vector<std::vector<const Sighting*>> rows(m_plan.hosts.size());
    for (const Sighting& sighting : sightings)
        rows[m_seen.at(sighting.identity)].push_back(&sighting);
    for (std::size_t i = 0; i < m_plan.hosts.size(); ++i) {
        PlannedHost& host = m_plan.hosts[i];
        const std::vector<LearntName>& before = held(host);
        if (before.empty() && std::none_of(rows[i].begin(), rows[i].end(),
                                           [](const Sighting* s) { return !s->names.empty(); }))
            continue;
        host.names = NamesLearnt(before, rows[i]);
        host.namesLearnt = host.names != before;
    }
}

// Only a store that keeps each host's rows can tell that a host is as the
// baseline left it.
void Planner::FindUnchanged() {
    if (m_holding.baseline.id == 0 || m_holding.inBaseline.empty())
        return;
    std::vector<std::uint32_t> now, then;
    now.reserve(m_plan.scan.sightings.size());
    for (const Sighting& sighting : m_plan.scan.sightings)
        now.push_back(sighting.address);
    for (const Sighting& sighting : m_holding.baseline.sightings)
        then.push_back(sighting.address);
    for (std::size_t i = 0; i < m_holding.hosts.size(); ++i)
        if (InBaseline(m_holding, i))
            for (const HostRow& row : RowsThen(m_holding, i))
                then.push_back(row.address);
    std::sort(now.begin(), now.end());
    std::sort(then.begin(), then.end());
    for (PlannedHost& host : m_plan.hosts) {
        if (host.held == kNone || host.count != 1)
            continue;
        const StoredHost& was = m_holding.hosts[host.held];
        const Sighting& sighting = m_plan.scan.sightings[host.first];
        host.unchanged =
            InBaseline(m_holding, host.held) && was.since <= m_holding.baseline.id &&
            was.rows.size() == 1 &&
            SameRow(was.rows.front(), sighting.address, m_scan.rows[host.first]) &&
            (sighting.computer.empty() ||
             (sighting.computer == was.known.computer && sighting.domain == was.known.domain)) &&
            !host.namesLearnt && !Shared(now, sighting.address) &&
            !Shared(then, sighting.address) && !m_holding.elsewhere.count(sighting.identity);
    }
}

// What the changes are found against: every host held but those left
// unchanged, and the baseline without them.
PriorScans Planner::Prior() const {
    std::vector<char> unchanged(m_holding.hosts.size(), 0);
    for (const PlannedHost& host : m_plan.hosts)
        if (host.unchanged)
            unchanged[host.held] = 1;
    PriorScans prior;
    prior.site = m_scan.site;
    prior.scans = m_holding.scans;
    for (std::size_t i = 0; i < m_holding.hosts.size(); ++i)
        if (!unchanged[i])
            prior.hosts.emplace(m_holding.hosts[i].identity, m_holding.hosts[i].known);
    for (const auto& [identity, away] : m_holding.elsewhere)
        prior.elsewhere.emplace(identity, away);
    if (m_holding.baseline.id != 0) {
        prior.baseline = m_holding.baseline;
        for (std::size_t i = 0; i < m_holding.hosts.size(); ++i)
            if (InBaseline(m_holding, i) && !unchanged[i])
                for (const HostRow& row : RowsThen(m_holding, i))
                    prior.baseline.sightings.push_back(
                        SightingOf(row, m_holding.hosts[i].identity));
    }
    return prior;
}

void Planner::FindChanges() {
    ScanView changing;
    changing.id = m_plan.scan.id;
    changing.complete = m_plan.scan.complete;
    changing.ranges = m_plan.scan.ranges;
    std::vector<char> left(m_plan.scan.sightings.size(), 0);
    for (const PlannedHost& host : m_plan.hosts)
        if (host.unchanged)
            left[host.first] = 1;
    for (std::size_t i = 0; i < m_plan.scan.sightings.size(); ++i)
        if (!left[i])
            changing.sightings.push_back(m_plan.scan.sightings[i]);
    m_plan.changes = ::FindChanges(changing, Prior());

    // The host of each change: seen now, or held and missed.
    m_plan.changeHosts.reserve(m_plan.changes.size());
    for (const Change& change : m_plan.changes) {
        PlannedChangeHost of;
        if (const auto seen = m_seen.find(change.identity); seen != m_seen.end()) {
            const std::size_t held = m_plan.hosts[seen->second].held;
            of = held != kNone ? PlannedChangeHost{true, held}
                               : PlannedChangeHost{false, seen->second};
        } else if (const std::size_t held = HeldIndexOf(change.identity); held != kNone) {
            of = {true, held};
        }
        if (change.kind == ChangeKind::Gone && of.held)
            m_plan.departures.push_back(of.index);
        m_plan.changeHosts.push_back(of);
    }
}

std::size_t Planner::HeldIndexOf(const std::string& identity) {
    if (m_held.empty()) {
        m_held.reserve(m_holding.hosts.size());
        for (std::size_t i = 0; i < m_holding.hosts.size(); ++i)
            m_held.emplace(m_holding.hosts[i].identity, i);
    }
    const auto held = m_held.find(identity);
    return held == m_held.end() ? kNone : held->second;
}

// What becomes of each host the store holds, where rows are kept.
void Planner::Decide() {
    for (PlannedHost& host : m_plan.hosts) {
        if (host.held == kNone) {
            host.setLastOfRows = host.count > 1;
            continue;
        }
        const StoredHost& was = m_holding.hosts[host.held];
        const std::span<const std::size_t> rows = m_plan.RowsOf(host);
        host.sameRows = was.rows.size() == rows.size();
        for (std::size_t k = 0; k < rows.size() && host.sameRows; ++k)
            host.sameRows =
                SameRow(was.rows[k], m_plan.scan.sightings[rows[k]].address, m_scan.rows[rows[k]]);
        host.clearDeparted = host.sameRows && was.departed;
        host.renamed = host.named != kNone && (m_plan.ComputerOf(host) != was.known.computer ||
                                               m_plan.DomainOf(host) != was.known.domain);
        host.setLastOfRows = host.count > 1 && host.lastListed != was.lastOfRows;
    }
}

const std::string kNoName;

} // namespace

std::span<const std::size_t> InventoryPlan::RowsOf(const PlannedHost& host) const {
    return {listed.data() + host.listed, host.count};
}

const std::string& InventoryPlan::IdentityOfHost(const PlannedHost& host) const {
    return scan.sightings[host.first].identity;
}

const std::string& InventoryPlan::ComputerOf(const PlannedHost& host) const {
    return host.named == PlannedHost::kNone ? kNoName : scan.sightings[host.named].computer;
}

const std::string& InventoryPlan::DomainOf(const PlannedHost& host) const {
    return host.named == PlannedHost::kNone ? kNoName : scan.sightings[host.named].domain;
}

std::vector<Sighting> SightingsOf(const RecordedScan& scan) {
    std::vector<Sighting> sightings;
    sightings.reserve(scan.rows.size());
    for (const HostRecord& row : scan.rows)
        sightings.push_back(SightingOf(row));
    return sightings;
}

InventoryPlan PlanRecording(const RecordedScan& scan, std::vector<Sighting> sightings,
                            const InventoryHolding& holding) {
    InventoryPlan plan;
    plan.scan.complete = scan.complete;
    plan.scan.ranges = scan.ranges;
    plan.scan.sightings = std::move(sightings);
    Planner(scan, holding, plan).Run();
    return plan;
}
