// Sites sharing one inventory server: the LAN and the routed prefix scanned
// by two sites at the same time into one server; a scan made while the
// server is stopped, delivered once when it is back; a host carried from one
// site's network to the other's, told as moved with both sites.

#include "core/inventory/sqlite/InventoryStore.h"
#include "core/inventory/postgres/PgInventory.h"
#include "platform/postgres/PgConnection.h"
#include "tests/lan/LanTest.h"
#include "tests/lan/ScanRun.h"
#include "tests/support/PgCluster.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <future>
#include <sstream>

namespace {

using Json = nlohmann::json;
using Role = TestLanHost::Role;

class SitesLanTest : public LanTest {
protected:
    void SetUp() override {
        LanTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        KD_START_PG_CLUSTER(m_cluster);
        ASSERT_TRUE(m_cluster.CreateDatabase("inventory")) << m_cluster.Error();
    }

    // A site's scan into the server, its changes as JSON Lines.
    ScanRun Scan(const std::string& site, const std::string& range) {
        return RunScan({"--db", m_cluster.Uri("inventory"), "--site", site, "--changes",
                        "--format", "json", "--timeout", "1000", range},
                       Setup());
    }

    // The site's own inventory in a directory of the test's, no password file.
    ScanSetup Setup() const {
        ScanSetup setup;
        setup.environment = {"STATE_DIRECTORY=" + m_state.path(),
                             "PGPASSFILE=/nonexistent/kd-pgpass"};
        return setup;
    }

    std::int64_t Count(const std::string& sql, const PgValues& params = {}) {
        std::string error;
        std::unique_ptr<PgConnection> db = PgConnection::Open(m_cluster.Uri("inventory"), error);
        EXPECT_TRUE(db) << error;
        return db ? db->Exec(sql, params).Int64(0, 0).value_or(-1) : -1;
    }

// Restores a host's home address at the end, also when the test fails.
    class Carried {
    public:
        Carried(const std::string& home, const std::string& to) : m_home(home) {
            m_moved = ChangeLan("move " + home + " " + to) == 0 && Forget(home);
        }
        ~Carried() {
            if (m_moved)
                ChangeLan("move " + m_home + " " + m_home);
        }
        // The client's neighbour entry of the address it left, which would
        // still show it there for a while.
        static bool Forget(const std::string& address) {
            return std::system(("ip -4 neigh flush to " + address + " >/dev/null 2>&1").c_str()) ==
                   0;
        }
        bool moved() const { return m_moved; }

    private:
        std::string m_home;
        bool m_moved = false;
    };

    TempDir m_state; // the site's own inventory, where scans wait for the server
    ScopedEnv m_noPassFile{"PGPASSFILE", "/nonexistent/kd-pgpass"};
    PgCluster m_cluster;
};

// "kind address before>after" of each change line of a run.
std::vector<std::string> Changes(const ScanRun& run) {
    std::vector<std::string> told;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        const Json json = Json::parse(line, nullptr, false);
        if (json.is_object() && json["type"] == "change")
            told.push_back(json["kind"].get<std::string>() + " " +
                           json["address"].get<std::string>() + " " +
                           json["before"].dump() + ">" + json["after"].dump());
    }
    return told;
}

// How many rows of a run are of hosts that are there.
std::size_t Present(const ScanRun& run) {
    std::size_t present = 0;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        const Json json = Json::parse(line, nullptr, false);
        present += json.is_object() && json["type"] == "row" && json["present"] == true;
    }
    return present;
}

TEST_F(SitesLanTest, TwoSitesScanningAtOnceLoseNothingAndAScanMadeWhileTheServerIsAwayArrivesOnce) {
    ASSERT_TRUE(lan().wide()) << "the layout has no routed prefix";
    const std::string north = "198.18.0.2-198.18.0.254";
    const AddressRange southRange{lan().wide()->routed.network,
                                  lan().wide()->routed.network + 255};
    const std::string south = AddressToText(southRange.start) + "-" + AddressToText(southRange.end);
    std::future<ScanRun> first = std::async(std::launch::async, [&] { return Scan("north", north); });
    std::future<ScanRun> second = std::async(std::launch::async, [&] { return Scan("south", south); });
    const ScanRun a = first.get(), b = second.get();
    EXPECT_EQ(a.exitCode, 3) << a.errors; // every host is new
    EXPECT_EQ(b.exitCode, 3) << b.errors;
    EXPECT_EQ(a.errors + b.errors, "");
    const std::size_t northHosts = Present(a), southHosts = Present(b);
    EXPECT_GT(northHosts, 5u);
    EXPECT_EQ(southHosts, 254u);
    EXPECT_EQ(Changes(a).size(), northHosts);
    EXPECT_EQ(Changes(b).size(), southHosts);
    EXPECT_EQ(Count("SELECT count(*) FROM scans"), 2);
    EXPECT_EQ(Count("SELECT count(*) FROM sightings"),
              static_cast<std::int64_t>(northHosts + southHosts));
    EXPECT_EQ(Count("SELECT count(*) FROM sites"), 2);

    // The server goes away: the scan waits at the site, and the run says so
    // but succeeds, with the site's own changes.
    ASSERT_TRUE(m_cluster.Stop());
    const ScanRun away = Scan("north", north);
    EXPECT_EQ(away.exitCode, 3) << away.errors; // the first scan the site's own store has
    EXPECT_NE(away.errors.find("waits there until a run reaches the server"), std::string::npos)
        << away.errors;
    ASSERT_TRUE(m_cluster.Start()) << m_cluster.Error();
    const ScanRun back = Scan("north", north);
    EXPECT_EQ(back.exitCode, 0) << back.errors << back.output; // nothing changed since
    EXPECT_NE(back.errors.find("1 scan(s) that waited"), std::string::npos) << back.errors;
    EXPECT_EQ(Count("SELECT count(*) FROM scans WHERE site = (SELECT id FROM sites "
                    "WHERE name = 'north')"),
              3);
    EXPECT_EQ(Count("SELECT count(DISTINCT answered) FROM scans WHERE site = (SELECT id FROM "
                    "sites WHERE name = 'north')"),
              1);
    const ScanRun again = Scan("north", north);
    EXPECT_EQ(again.errors, "");
    EXPECT_EQ(Count("SELECT count(*) FROM scans"), 5);
}

TEST_F(SitesLanTest, AHostCarriedToTheOtherSiteHasMovedWithBothSites) {
    const std::vector<TestLanHost> nmbd = lan().WithRole(Role::Nmbd);
    ASSERT_FALSE(nmbd.empty());
    const TestLanHost& laptop = nmbd.front();
    ASSERT_LT(AddressFromText(laptop.address), AddressFromText("198.18.0.128"));
    const std::string north = "198.18.0.2-198.18.0.127", south = "198.18.0.128-198.18.0.254";
    const std::string there = "198.18.0.250";
    ASSERT_FALSE(lan().Find(there)) << there << " is a host of the layout";
    for (const auto& [site, range] : {std::pair{"north", north}, std::pair{"south", south}}) {
        const ScanRun baseline = Scan(site, range);
        ASSERT_NE(baseline.exitCode, 1) << baseline.errors;
    }
    const Carried carried(laptop.address, there);
    ASSERT_TRUE(carried.moved());
    const ScanRun arrived = Scan("south", south);
    EXPECT_EQ(arrived.exitCode, 3) << arrived.errors;
    EXPECT_EQ(Changes(arrived), std::vector<std::string>{"moved " + there + " \"north " +
                                                         laptop.address + "\">\"south " + there +
                                                         "\""});
    // North has not missed it twice yet: no news there.
    const ScanRun missed = Scan("north", north);
    EXPECT_EQ(Changes(missed), std::vector<std::string>{});
    const ScanRun gone = Scan("north", north);
    EXPECT_EQ(Changes(gone).size(), 1u);
    EXPECT_EQ(Changes(gone).front().rfind("gone " + laptop.address, 0), 0u) << Changes(gone)[0];

    // Its timeline spans both sites.
    const ScanRun history = RunScan(
        {"--db", m_cluster.Uri("inventory"), "--history", there, "--format", "json"}, Setup());
    EXPECT_EQ(history.exitCode, 0) << history.errors;
    std::vector<std::string> sites;
    std::istringstream lines(history.output);
    for (std::string line; std::getline(lines, line);) {
        const Json json = Json::parse(line, nullptr, false);
        if (json.is_object() && json["type"] == "history")
            sites.push_back(json["site"].get<std::string>() + (json["seen"] ? "" : " gone"));
    }
    EXPECT_EQ(sites, (std::vector<std::string>{"north", "south", "north gone"}));
}

} // namespace
