// Loss on the test LAN, made with nftables (testlan.sh loss, arpdrop, limit):
// at the client, lost replies and ARP frames; at the wide host, a limit on
// node-status answers. The default scan still finds every host and names it.

#include "tests/lan/LanTest.h"
#include "tests/lan/ScanRun.h"
#include "tests/lan/TestLanTruth.h"
#include "tests/lan/WideLan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using Role = TestLanHost::Role;

const char* const kLan = "198.18.0.0/24";

class LossLanTest : public LanTest {
protected:
    // Each scan starts from an empty neighbour table, so that every host
    // must be resolved afresh.
    static ScanRun ScanLan() {
        std::system("ip -4 neigh flush all >/dev/null 2>&1");
        return RunScan({kLan});
    }

    // The computer name a host's row shows: the last of its own names.
    static std::string ComputerName(const TestLanHost& host) {
        const HostRecord row = TestLanTruth::AnsweredRow(AddressFromText(host.address),
                                                         host.MacHex(), host.RegisteredNames());
        const std::string name = CellOf(row, HostRecord::kComputer);
        return name.empty() ? "-" : name;
    }

    // What a scan of the LAN missed, a line each: hosts without a row marked
    // ○, and hosts found without their names.
    static std::vector<std::string> Misses(const ScanRun& run) {
        std::vector<std::string> misses;
        for (const TestLanHost& host : lan().hosts()) {
            if (host.role == Role::Silent)
                continue;
            const auto found = run.rows.find(host.address);
            if (found == run.rows.end() || found->second.size() < 3 || found->second[1] != "○")
                misses.push_back(host.address + " missing");
            else if (found->second[2] != ComputerName(host))
                misses.push_back(host.address + " named " + found->second[2]);
        }
        return misses;
    }
};

// A host whose first ARP request is lost answers the kernel's next
// solicitation, a second later: it is found, and named, whether it answers
// everything or ARP alone.
TEST_F(LossLanTest, AHostWhoseFirstArpRequestIsLostIsFoundAndNamed) {
    for (const Role role : {Role::Nmbd, Role::ArpOnly, Role::NoPing}) {
        const std::vector<TestLanHost> hosts = lan().WithRole(role);
        ASSERT_FALSE(hosts.empty());
        const TestLanHost& host = hosts.front();
        SCOPED_TRACE(host.address);
        const Change drop("arpdrop " + host.address, "arpdrop none");
        ASSERT_TRUE(drop.on());
        const ScanRun run = ScanLan();
        ASSERT_EQ(run.exitCode, 0) << run.errors;
        ASSERT_EQ(run.rows.count(host.address), 1u) << run.output;
        const ScanRow& row = run.rows.at(host.address);
        ASSERT_GE(row.size(), 5u);
        EXPECT_EQ(row[1], "○");
        EXPECT_EQ(row[2], ComputerName(host));
        EXPECT_EQ(row[4], host.MacHex());
        EXPECT_EQ(Misses(run), std::vector<std::string>{});
    }
}

// With 5 % of the replies and 5 % of the ARP frames (either way) lost at
// random, run after run. A host is lost only when every solicitation of the
// kernel's fails (about one in a thousand), a name when every query or answer
// is (one in eight thousand; more for the host that answers 600 ms late, when
// its first answer is lost before the scan has seen loss elsewhere): a few
// in a hundred runs. A scan that gave up before the kernel's next
// solicitation lost about one host in ten, one a run. So in all the runs, at
// most one host may be missed or lack its name.
TEST_F(LossLanTest, UnderRandomLossEveryHostIsFoundAndNamed) {
    const Change replies("loss ip 5", "loss ip 0");
    const Change frames("loss arp 5", "loss arp 0");
    ASSERT_TRUE(replies.on() && frames.on());
    std::vector<std::string> misses;
    for (int i = 0; i < 3; ++i) {
        const ScanRun run = ScanLan();
        ASSERT_EQ(run.exitCode, 0) << run.errors;
        for (const std::string& miss : Misses(run))
            misses.push_back(miss);
    }
    EXPECT_LE(misses.size(), 1u) << ::testing::PrintToString(misses);
}

// The routed host answers at most 10000 node-status queries a second and
// drops the rest, while its echo replies go unhindered: every row of the
// prefix comes, with every name.
TEST_F(LossLanTest, ALimitOnNodeStatusAnswersCostsNoName) {
    ASSERT_TRUE(lan().wide()) << "the layout has no routed prefix";
    const TestLanPrefix& prefix = lan().wide()->routed;
    const Change limit("limit 10000", "limit none");
    ASSERT_TRUE(limit.on());
    const ScanRun run = RunScan({prefix.Text()});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    // Every address but a last octet 0 or 255, as vopal-scan walks them.
    std::map<std::string, ScanRow> expected;
    for (std::uint32_t address = prefix.network; address <= prefix.Last(); ++address)
        if ((address & 0xFF) != 0 && (address & 0xFF) != 0xFF)
            expected[AddressToText(address)] = TestLanTruth::Printed(TestLanTruth::AnsweredRow(
                address, WideLan::MacHex(address), WideLan::Names(address)));
    EXPECT_EQ(RowDifferences(run.rows, expected), "");
}

} // namespace
