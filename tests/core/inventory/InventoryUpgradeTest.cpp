// A store written by the previous version of the program (the file in
// data/, with what that version reported from it, scan by scan and host by
// host) is brought forward: it reports the same, and the next scan recorded
// into it brings the changes that version found for it. Also: scans that
// find the same hosts cost the store next to nothing.

#include "core/inventory/HostIdentity.h"
#include "core/scan/HostCells.h"
#include "core/inventory/sqlite/InventoryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <tuple>
#include <random>
#include <sqlite3.h>

namespace {

const std::string kData = KD_INVENTORY_TEST_DATA;

HostRecord Row(int last, const std::string& mac = "", const std::string& computer = "") {
    HostRecord row;
    row = RecordOfCells({"10.1.0." + std::to_string(last), "○", computer, computer.empty() ? "" : "WG",
                 mac, mac.empty() ? "" : "maker", computer});
    return row;
}

std::string ChangeLine(const Change& c) {
    return std::to_string(static_cast<int>(c.kind)) + " " + AddressToText(c.address) + " " +
           c.identity + " [" + c.before + "] [" + c.after + "] " + std::to_string(c.firstSeen);
}

// Everything the store reports, in the layout of the files in data/.
std::string Reports(const InventoryStore& store, int scans) {
    std::string out;
    for (int scan = 1; scan <= scans; ++scan) {
        out += "scan " + std::to_string(scan) + "\n";
        for (const ReportedChange& c : store.ChangesOf(scan))
            out += "  " + ChangeLine(c.change) + " " + std::to_string(c.firstSeenMs) + "\n";
    }
    std::vector<std::string> hosts;
    for (int last = 1; last <= 12; ++last)
        hosts.push_back("10.1.0." + std::to_string(last));
    hosts.push_back("10.1.1.5");
    for (const char* mac : {"00A0C9000001", "00A0C9000002", "00A0C9000005", "00A0C9000006",
                            "024B44000007", "00A0C9000008", "00A0C9000099", "00A0C9000010",
                            "00A0C9000077"})
        hosts.push_back(mac);
    for (const std::string& host : hosts) {
        const HostHistory history = store.History(host);
        out += "history " + host + " " + history.identity +
               (history.randomisedMac ? " randomised" : "") + "\n";
        for (const HistoryEntry& e : history.entries) {
            out += "  " + std::to_string(e.scan) + " " + std::to_string(e.startedMs) +
                   (e.seen ? " seen" : " gone");
            for (const std::string& cell : e.row)
                out += " [" + cell + "]";
            out += "\n";
            for (const Change& c : e.changes)
                out += "    " + ChangeLine(c) + "\n";
        }
    }
    return out;
}

TEST(InventoryUpgrade, AStoreOfThePreviousVersionReportsTheSameAndGoesOn) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    std::filesystem::copy_file(kData + "/inventory-version2.sqlite", path);
    InventoryStore::Opened opened = InventoryStore::Open(path);
    ASSERT_TRUE(opened.store) << opened.error;
    EXPECT_TRUE(opened.keptAside.empty());
    InventoryStore& store = *opened.store;
    EXPECT_EQ(Reports(store, 7), TempDir::ReadFile(kData + "/inventory-version2-reports.txt"));
    EXPECT_EQ(store.ScanCount(), 7);
    EXPECT_EQ(store.SightingCount(), 39);

    // The scan the previous version recorded next, into a copy of the file.
    RecordedScan next;
    next.startedMs = 1'700'000'000'000 + 8 * 3'600'000LL;
    next.endedMs = next.startedMs + 1500;
    next.ranges = {{AddressFromText("10.1.0.1"), AddressFromText("10.1.0.20")}};
    next.rows = {Row(1, "00A0C9000001", "PC-A"), Row(2, "00A0C9000099", "PC-X"), Row(4),
                 Row(6, "00A0C9000006", "PC-F2"), Row(8, "024B44000007", "PC-G"),
                 Row(9, "00A0C9000005", "PC-E"), Row(12, "00A0C9000077", "PC-N")};
    std::string error;
    ASSERT_EQ(store.Record(next, error), 8) << error;
    EXPECT_EQ(Reports(store, 8), TempDir::ReadFile(kData + "/inventory-version2-next-reports.txt"));
}

// Hosts that stay as they were are not written again: three scans of the
// same 4096 hosts take little more room than the first.
TEST(InventoryUpgrade, IdenticalScansHardlyGrowTheStore) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    RecordedScan scan;
    scan.ranges = {{AddressFromText("10.2.0.0"), AddressFromText("10.2.15.255")}};
    for (std::uint32_t i = 0; i < 4096; ++i) {
        HostRecord row;
        char mac[13];
        std::snprintf(mac, sizeof mac, "00A0C9%06X", i);
        row = RecordOfCells({AddressToText(scan.ranges[0].start + i), "○", "PC" + std::to_string(i),
                     "WORKGROUP", mac, "maker", "PC" + std::to_string(i)});
        scan.rows.push_back(std::move(row));
    }
    auto size = [&](int scans) {
        {
            InventoryStore::Opened opened = InventoryStore::Open(path);
            std::string error;
            for (int i = 0; i < scans; ++i)
                EXPECT_GT(opened.store->Record(scan, error), 0) << error;
        } // closing the last connection writes the log back into the file
        return std::filesystem::file_size(path);
    };
    const auto one = size(1);
    const auto three = size(2);
    EXPECT_LE(three, one * 12 / 10) << "one scan " << one << " bytes, three " << three;
    InventoryStore::Opened opened = InventoryStore::Open(path);
    EXPECT_EQ(opened.store->SightingCount(), 3 * 4096);
    EXPECT_EQ(opened.store->History("10.2.3.4").entries.size(), 3u);
}

// The store reads only part of what earlier scans left and skips hosts that
// stay as they were: on a LAN that changes at random for a hundred scans it
// tells exactly the changes that the earlier scans, all of them, give.
void ReplayRandomLan(unsigned seed) {
    struct Machine {
        std::string mac, name;
        int at;
    };
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    std::vector<Machine> machines;
    for (int i = 0; i < 10; ++i)
        machines.push_back({(i == 9 ? "024B4400000" : "00A0C900000") + std::to_string(i),
                            "PC" + std::to_string(i), i + 1});
    for (int i = 0; i < 3; ++i) // NetBIOS names, no MAC
        machines.push_back({"", "NB" + std::to_string(i), 12 + i});
    for (int i = 0; i < 2; ++i) // neither
        machines.push_back({"", "", 16 + i});
    const std::uint32_t base = AddressFromText("10.3.0.0");

    TempDir dir;
    InventoryStore::Opened opened = InventoryStore::Open(dir.file("inventory.sqlite"));
    ASSERT_TRUE(opened.store) << opened.error;
    std::vector<ScanView> earlier;
    std::map<std::string, std::size_t> known; // identity -> order first seen (the store's id)
    for (int n = 1; n <= 100; ++n) {
        for (Machine& m : machines) {
            if (!m.name.empty() && chance(4))
                m.name += "X";
            if (chance(4))
                m.at = 1 + static_cast<int>(random() % 24);
            if (!m.mac.empty() && chance(2))
                m.mac = "00A0C9" + std::to_string(100000 + n * 10 + (&m - machines.data()) % 10);
        }
        RecordedScan scan;
        scan.complete = !chance(10);
        const int shape = static_cast<int>(random() % 10);
        scan.ranges = shape < 6    ? std::vector<AddressRange>{{base + 1, base + 24}}
                      : shape < 8  ? std::vector<AddressRange>{{base + 1, base + 12}}
                      : shape == 8 ? std::vector<AddressRange>{{base + 13, base + 24}}
                                   : std::vector<AddressRange>{{base + 1, base + 16}, {base + 10, base + 24}};
        for (const AddressRange& range : scan.ranges)
            for (std::uint32_t address = range.start; address <= range.end; ++address)
                for (const Machine& m : machines) {
                    const bool here = base + static_cast<std::uint32_t>(m.at) == address;
                    const bool twice = !m.mac.empty() && m.at + 1 == static_cast<int>(address - base) && chance(3);
                    if ((!here && !twice) || chance(12))
                        continue;
                    HostRecord row;
                    row.address = address;
                    const bool lost = chance(10);
                    row = RecordOfCells({AddressToText(address), "○", lost ? "" : m.name,
                                 lost || m.name.empty() ? "" : "WG", m.mac, m.mac.empty() ? "" : "maker",
                                 lost ? "" : m.name});
                    scan.rows.push_back(row);
                }
        std::string error;
        ASSERT_EQ(opened.store->Record(scan, error), n) << error;

        ScanView view;
        view.id = n;
        view.complete = scan.complete;
        view.ranges = scan.ranges;
        for (const HostRecord& row : scan.rows)
            view.sightings.push_back({row.address, IdentityOf(row).key,
                                      IsUsableMac(CellOf(row, 4)) ? CanonicalMac(CellOf(row, 4)) : "",
                                      CellOf(row, 2), CellOf(row, 3)});
        PriorScans prior;
        for (const ScanView& was : earlier)
            prior.Remember(was);
        // Two hosts at one address: the baseline's first there is the one
        // known longest, as the store reads them.
        if (const ScanView* baseline = prior.FindBaseline(view)) {
            prior.baseline = earlier[static_cast<std::size_t>(baseline - prior.scans.data())];
            std::stable_sort(prior.baseline.sightings.begin(), prior.baseline.sightings.end(),
                             [&](const Sighting& a, const Sighting& b) {
                                 return std::tie(a.address, known[a.identity]) <
                                        std::tie(b.address, known[b.identity]);
                             });
        }
        AttributeAddressOnlySightings(view, prior);
        for (const Sighting& sighting : view.sightings)
            known.try_emplace(sighting.identity, known.size());
        std::vector<Change> expected = FindChanges(view, prior);
        std::vector<Change> told;
        for (const ReportedChange& change : opened.store->ChangesOf(n))
            told.push_back(change.change);
        std::string toldText, expectedText;
        for (const Change& change : told)
            toldText += ChangeLine(change) + "\n";
        for (const Change& change : expected)
            expectedText += ChangeLine(change) + "\n";
        ASSERT_EQ(toldText, expectedText) << "scan " << n;
        earlier.push_back(std::move(view));
    }
}

TEST(InventoryUpgrade, TheStoreTellsWhatAllEarlierScansGive) {
    for (const unsigned seed : {20261207u, 1u, 2u, 3u, 41u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ReplayRandomLan(seed);
    }
}

} // namespace
