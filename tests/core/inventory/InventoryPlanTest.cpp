// The plan of recording one scan, from values alone: which host each row is,
// its rows, the row that names it, the hosts the baseline left as they are,
// the changes, and what becomes of each host.

#include "core/inventory/InventoryPlan.h"
#include "core/scan/HostCells.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kMac1 = "00A0C9000001", kMac2 = "00A0C9000002", kMac3 = "00A0C9000003";
const std::string kPhone = "02A0C9000004", kPhoneNow = "06A0C9000005"; // randomised

std::uint32_t A(int last) {
    return AddressFromText("10.0.0." + std::to_string(last));
}

HostRecord Row(int last, const std::string& mac = "", const std::string& computer = "") {
    HostRecord row;
    const std::string domain = computer.empty() ? "" : "WG";
    row = RecordOfCells({"10.0.0." + std::to_string(last), "○", computer, domain, mac, "", ""});
    return row;
}

// A host the store holds: its rows since scan `since`, last seen by scan
// `lastScan`, with the names it had then.
struct Held {
    std::string identity;
    std::vector<HostRecord> rows;
    std::int64_t lastScan = 2;
    std::int64_t since = 1;
    bool inBaseline = true;
    bool departed = false;
};

// A store of two complete scans of 10.0.0.1-20, the second the baseline,
// holding `held`: their rows in address order, the last one given as where
// they were last, the names of the last one that has some.
InventoryHolding Store(const std::vector<Held>& held, bool keepsRows = true) {
    InventoryHolding holding;
    for (std::int64_t id = 1; id <= 2; ++id) {
        holding.scans.emplace_back();
        holding.scans.back().id = id;
        holding.scans.back().ranges = {{A(1), A(20)}};
    }
    holding.baseline = holding.scans.back();
    for (const Held& h : held) {
        StoredHost host;
        host.id = static_cast<std::int64_t>(holding.hosts.size()) + 100;
        host.identity = h.identity;
        host.since = h.since;
        host.departed = h.departed;
        for (const HostRecord& row : h.rows) {
            const HostRow kept = RowOf(AddressFromText(CellOf(row, HostRecord::kAddress)), row);
            if (keepsRows)
                host.rows.push_back(kept);
            else if (h.inBaseline)
                holding.baseline.sightings.push_back(SightingOf(kept, h.identity));
            if (!CellOf(row, HostRecord::kComputer).empty()) {
                host.known.computer = CellOf(row, HostRecord::kComputer);
                host.known.domain = CellOf(row, HostRecord::kDomain);
            }
            host.known.lastAddress = host.lastOfRows = kept.address;
        }
        std::sort(host.rows.begin(), host.rows.end(),
                  [](const HostRow& a, const HostRow& b) { return a.address < b.address; });
        std::vector<Sighting> sightings;
        for (const HostRecord& row : h.rows)
            sightings.push_back(SightingOf(row));
        std::vector<const Sighting*> of;
        for (const Sighting& sighting : sightings)
            of.push_back(&sighting);
        host.known.names = NamesLearnt({}, of);
        host.known.firstScan = 1;
        host.known.lastScan = h.lastScan;
        if (keepsRows)
            holding.inBaseline.push_back(h.inBaseline ? 1 : 0);
        holding.hosts.push_back(host);
    }
    return holding;
}

std::string Octets(const InventoryPlan& plan, std::span<const std::size_t> rows) {
    std::string text;
    for (const std::size_t row : rows)
        text += (text.empty() ? "" : ",") + std::to_string(plan.scan.sightings[row].address & 0xFF);
    return text;
}

// A planned host in one line: identity, held or new, its rows (last octets),
// where its last row was, its names, the kind of its first row, and what
// becomes of it.
std::string Describe(const InventoryPlan& plan, const PlannedHost& host) {
    static const char* const kinds[] = {"mac", "name", "ip"};
    std::string text =
        plan.IdentityOfHost(host) + (host.held == PlannedHost::kNone ? " new" : " held") +
        " rows " + Octets(plan, plan.RowsOf(host)) + " last " +
        std::to_string(host.lastListed & 0xFF) + " names " +
        (host.named == PlannedHost::kNone ? "-"
                                          : plan.ComputerOf(host) + "/" + plan.DomainOf(host)) +
        " " + kinds[static_cast<int>(host.kind)];
    for (const auto& [flag, set] : {std::pair{" randomised", host.randomisedMac},
                                    {" unchanged", host.unchanged},
                                    {" same", host.sameRows},
                                    {" renamed", host.renamed},
                                    {" back", host.clearDeparted},
                                    {" lastOfRows", host.setLastOfRows}})
        if (set)
            text += flag;
    return text;
}

std::vector<std::string> Told(const InventoryPlan& plan) {
    std::vector<std::string> told;
    for (const Change& c : plan.changes)
        told.push_back(std::string(ChangeKindText(c.kind)) + " " + AddressToText(c.address) + " " +
                       c.before + ">" + c.after);
    return told;
}

TEST(InventoryPlan, EachRowsHostAndWhatBecomesOfIt) {
    const std::string m1 = "mac:" + kMac1, m2 = "mac:" + kMac2, m3 = "mac:" + kMac3;
    const struct {
        const char* what;
        std::vector<HostRecord> rows;
        std::vector<Held> held;
        std::vector<std::string> hosts;
        std::vector<std::string> told;
        std::int64_t answered;
        std::vector<std::string> departures = {};
        bool complete = true;
        bool keepsRows = true;
    } cases[] = {
        {"a new host at two addresses: its rows in address order, its last row's address kept",
         {Row(5, kMac1, "PC"), Row(2, kMac1, "PC")},
         {},
         {m1 + " new rows 2,5 last 2 names PC/WG mac lastOfRows"},
         {"新規 10.0.0.2 >", "重複 10.0.0.2 10.0.0.5>10.0.0.2", "新規 10.0.0.5 >"},
         2},
        {"the last row with a name names the host",
         {Row(1, kMac1, "A"), Row(2, kMac1), Row(3, kMac1, "B"), Row(4, kMac1)},
         {},
         {m1 + " new rows 1,2,3,4 last 4 names B/WG mac lastOfRows"},
         {"新規 10.0.0.1 >", "新規 10.0.0.2 >", "重複 10.0.0.2 10.0.0.1>10.0.0.2",
          "新規 10.0.0.3 >", "重複 10.0.0.3 10.0.0.1>10.0.0.3", "新規 10.0.0.4 >",
          "重複 10.0.0.4 10.0.0.1>10.0.0.4"},
         4},
        {"an address listed again counts once; the first listing is its row, the names count",
         {Row(1, kMac1), Row(3, kMac2, "B"), Row(1, kMac1, "PC2")},
         {{m1, {Row(1, kMac1, "PC")}}, {m2, {Row(3, kMac2, "B")}}},
         {m1 + " held rows 1 last 1 names PC2/WG mac renamed",
          m2 + " held rows 3 last 3 names B/WG mac unchanged same"},
         {"名前変更 10.0.0.1 PC/WG>PC2/WG"},
         2},
        {"a host the baseline left as it is brings no change",
         {Row(1, kMac1, "PC"), Row(2, kMac2)},
         {{m1, {Row(1, kMac1, "PC")}}, {m2, {Row(2, kMac2)}}},
         {m1 + " held rows 1 last 1 names PC/WG mac unchanged same",
          m2 + " held rows 2 last 2 names - mac unchanged same"},
         {},
         2},
        {"nor is a host unchanged at an address another answers for now",
         {Row(1, kMac1, "PC"), Row(1, kMac2)},
         {{m1, {Row(1, kMac1, "PC")}}},
         {m1 + " held rows 1 last 1 names PC/WG mac same", m2 + " new rows 1 last 1 names - mac"},
         {"新規 10.0.0.1 >", "MAC変更 10.0.0.1 00A0C9000001>00A0C9000002"},
         2},
        {"nor one at an address two hosts had in the baseline",
         {Row(1, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC")}}, {m2, {Row(1, kMac2)}}},
         {m1 + " held rows 1 last 1 names PC/WG mac same"},
         {},
         1},
        {"nor one whose rows changed after the baseline",
         {Row(1, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC")}, 3, 3}},
         {m1 + " held rows 1 last 1 names PC/WG mac same"},
         {},
         1},
        {"nor one the baseline missed: it is back",
         {Row(1, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC")}, 1, 1, false}},
         {m1 + " held rows 1 last 1 names PC/WG mac same"},
         {"復帰 10.0.0.1 >"},
         1},
        {"nor one with new names, whose row differs too",
         {Row(1, kMac1, "NEW")},
         {{m1, {Row(1, kMac1, "PC")}}},
         {m1 + " held rows 1 last 1 names NEW/WG mac renamed"},
         {"名前変更 10.0.0.1 PC/WG>NEW/WG"},
         1},
        {"a lost name is no rename",
         {Row(1, kMac1)},
         {{m1, {Row(1, kMac1, "PC")}}},
         {m1 + " held rows 1 last 1 names - mac"},
         {},
         1},
        {"a store that keeps no rows finds no host unchanged, and changes alike",
         {Row(1, kMac1, "PC"), Row(2, kMac2, "B")},
         {{m1, {Row(1, kMac1, "PC")}}, {m2, {Row(3, kMac2, "B")}}},
         {m1 + " held rows 1 last 1 names PC/WG mac", m2 + " held rows 2 last 2 names B/WG mac"},
         {"移動 10.0.0.2 10.0.0.3>10.0.0.2"},
         2,
         {},
         true,
         false},
        {"a host at two addresses listed in another order keeps its rows, its last is stored",
         {Row(2, kMac1, "PC"), Row(1, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC"), Row(2, kMac1, "PC")}}},
         {m1 + " held rows 1,2 last 1 names PC/WG mac same lastOfRows"},
         {"重複 10.0.0.1 10.0.0.2>10.0.0.1"},
         2},
        {"listed in the order it was, nothing more is stored",
         {Row(1, kMac1, "PC"), Row(2, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC"), Row(2, kMac1, "PC")}}},
         {m1 + " held rows 1,2 last 2 names PC/WG mac same"},
         {"重複 10.0.0.2 10.0.0.1>10.0.0.2"},
         2},
        {"missed by two complete scans: gone",
         {Row(1, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC")}}, {m3, {Row(7, kMac3, "C")}, 1, 1, false}},
         {m1 + " held rows 1 last 1 names PC/WG mac unchanged same"},
         {"消失 10.0.0.7 C/WG>"},
         1,
         {m3}},
        {"by a stopped scan: not yet",
         {Row(1, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC")}}, {m3, {Row(7, kMac3, "C")}, 1, 1, false}},
         {m1 + " held rows 1 last 1 names PC/WG mac unchanged same"},
         {},
         1,
         {},
         false},
        {"told gone, seen again as it was: back",
         {Row(7, kMac3, "C")},
         {{m3, {Row(7, kMac3, "C")}, 1, 1, false, true}},
         {m3 + " held rows 7 last 7 names C/WG mac same back"},
         {"復帰 10.0.0.7 >"},
         1},
        {"a row known by its address alone is the host last seen there",
         {Row(1)},
         {{m1, {Row(1, kMac1, "PC")}}},
         {m1 + " held rows 1 last 1 names - ip"},
         {},
         1},
        {"unless that host answers elsewhere with its MAC",
         {Row(1), Row(5, kMac1, "PC")},
         {{m1, {Row(1, kMac1, "PC")}}},
         {"ip:10.0.0.1 new rows 1 last 1 names - ip", m1 + " held rows 5 last 5 names PC/WG mac"},
         {"新規 10.0.0.1 >", "移動 10.0.0.5 10.0.0.1>10.0.0.5"},
         2},
        {"a name without a usable MAC is the identity",
         {Row(2, "000000000000", "NAS")},
         {},
         {"name:NAS/WG new rows 2 last 2 names NAS/WG name"},
         {"新規 10.0.0.2 >"},
         1},
        {"a randomised MAC is a host of its own, new when it changes",
         {Row(4, kPhoneNow, "PHONE")},
         {{"mac:" + kPhone, {Row(4, kPhone, "PHONE")}}},
         {"mac:" + kPhoneNow + " new rows 4 last 4 names PHONE/WG mac randomised"},
         {"新規 10.0.0.4 >", "MAC変更 10.0.0.4 02A0C9000004>06A0C9000005"},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordedScan scan;
        scan.ranges = {{A(1), A(20)}};
        scan.complete = c.complete;
        scan.rows = c.rows;
        const InventoryHolding holding = Store(c.held, c.keepsRows);
        const InventoryPlan plan = PlanRecording(scan, SightingsOf(scan), holding);
        std::vector<std::string> hosts, departures;
        for (const PlannedHost& host : plan.hosts)
            hosts.push_back(Describe(plan, host));
        for (const std::size_t gone : plan.departures)
            departures.push_back(holding.hosts[gone].identity);
        EXPECT_EQ(hosts, c.hosts);
        EXPECT_EQ(Told(plan), c.told);
        EXPECT_EQ(plan.answered, c.answered);
        EXPECT_EQ(departures, c.departures);
        // The hosts found unchanged change nothing: a store that keeps no
        // rows finds none, and the same changes.
        EXPECT_EQ(Told(PlanRecording(scan, SightingsOf(scan), Store(c.held, false))), c.told);
        // Every change is of a host seen now or held; every listed row of one.
        ASSERT_EQ(plan.changeHosts.size(), plan.changes.size());
        for (std::size_t i = 0; i < plan.changes.size(); ++i) {
            const PlannedChangeHost& of = plan.changeHosts[i];
            EXPECT_EQ(of.held ? holding.hosts.at(of.index).identity
                              : plan.IdentityOfHost(plan.hosts.at(of.index)),
                      plan.changes[i].identity);
        }
        std::size_t listed = 0;
        for (std::size_t row = 0; row < plan.hostOfRow.size(); ++row)
            listed += plan.hostOfRow[row] != PlannedHost::kNone;
        EXPECT_EQ(static_cast<std::int64_t>(listed), plan.answered);
    }
}

// The other sources' names a host leaves learnt, and what a store writes of
// them: a host whose names are new is never taken as the baseline left it.
TEST(InventoryPlan, OtherNamesLearntAndAHostWithNewOnesIsNotUnchanged) {
    using S = HostRecord::NameSource;
    const auto named = [](HostRecord row, std::vector<HostRecord::Name> names) {
        row.names = std::move(names);
        return row;
    };
    const std::string m1 = "mac:" + kMac1;
    const HostRecord was =
        named(Row(1, kMac1, "PC"), {{"a.local", S::Mdns}, {"pc.example", S::Dns}});
    const struct {
        const char* what;
        HostRecord row;
        std::vector<Held> held;
        bool unchanged, learnt;
        std::vector<LearntName> names;
        std::vector<std::string> told;
    } cases[] = {
        {"the same names: unchanged",
         was,
         {{m1, {was}}},
         true,
         false,
         {{A(1), {"a.local", S::Mdns}}, {A(1), {"pc.example", S::Dns}}},
         {}},
        {"mDNS gives another name: told, learnt",
         named(Row(1, kMac1, "PC"), {{"b.local", S::Mdns}, {"pc.example", S::Dns}}),
         {{m1, {was}}},
         false,
         true,
         {{A(1), {"b.local", S::Mdns}}, {A(1), {"pc.example", S::Dns}}},
         {"名前変更 10.0.0.1 a.local>b.local"}},
        {"mDNS silent: its name stays learnt, nothing told",
         named(Row(1, kMac1, "PC"), {{"pc.example", S::Dns}}),
         {{m1, {was}}},
         false,
         false,
         {{A(1), {"a.local", S::Mdns}}, {A(1), {"pc.example", S::Dns}}},
         {}},
        {"a new host with names has them learnt",
         named(Row(2, kMac2), {{"PC2", S::Llmnr}}),
         {},
         false,
         true,
         {{A(2), {"PC2", S::Llmnr}}},
         {"新規 10.0.0.2 >"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordedScan scan;
        scan.ranges = {{A(1), A(20)}};
        scan.rows = {c.row};
        const InventoryPlan plan = PlanRecording(scan, SightingsOf(scan), Store(c.held));
        ASSERT_EQ(plan.hosts.size(), 1u);
        EXPECT_EQ(plan.hosts[0].unchanged, c.unchanged);
        EXPECT_EQ(plan.hosts[0].namesLearnt, c.learnt);
        EXPECT_EQ(plan.hosts[0].names, c.names);
        EXPECT_EQ(Told(plan), c.told);
        EXPECT_EQ(Told(PlanRecording(scan, SightingsOf(scan), Store(c.held, false))), c.told);
    }
}

} // namespace
