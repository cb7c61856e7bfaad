// The routed prefix's answers without a network: what the responder sends
// must decode, through the program's own decoders, to the rows the LAN tests
// and the benchmarks expect, and anything but a plain node-status query for
// "*" must get no answer at all.

#include "tests/lan/NodeStatusResponder.h"
#include "core/scan/NodeStatus.h"
#include "platform/NodeStatusPacket.h"
#include "tests/lan/TestLanTruth.h"
#include "tests/lan/WideLan.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const TestLanPrefix kPrefix{0xC6121000u, 20}; // 198.18.16.0/20

Bytes Request(std::uint16_t id) {
    const auto request = BuildNodeStatusRequest(id);
    return Bytes(request.begin(), request.end());
}

std::optional<Bytes> ReplyTo(const Bytes& datagram, const std::string& destination) {
    return NodeStatusResponder(kPrefix).Reply(datagram.data(), datagram.size(),
                                              AddressFromText(destination));
}

TEST(NodeStatusResponder, AnEvenAddressGetsTheRowOfTheRule) {
    for (const char* text : {"198.18.16.2", "198.18.23.170", "198.18.31.254"}) {
        SCOPED_TRACE(text);
        const std::uint32_t address = AddressFromText(text);
        const auto reply = ReplyTo(Request(0x5A17), text);
        ASSERT_TRUE(reply);
        unsigned char buffer[600];
        const NodeStatusVerdict verdict =
            DecodeNodeStatusReply(reply->data(), reply->size(), 0x5A17, buffer, sizeof buffer);
        ASSERT_EQ(verdict.check, NodeStatusReplyCheck::Accepted);
        EXPECT_EQ(verdict.retcode, NRC_GOODRET);
        EXPECT_EQ(verdict.namesInReply, 5u);

        const HostRecord row =
            TestLanTruth::AnsweredRow(address, WideLan::MacHex(address), WideLan::Names(address));
        // The same row whether or not the own name is left out of the messenger names.
        for (bool skipOwn : {false, true}) {
            const NodeStatus status = DecodeNodeStatus(buffer, sizeof buffer, skipOwn);
            EXPECT_EQ(status.computerName, row.cells[HostRecord::kComputer]);
            EXPECT_EQ(status.domainName, row.cells[HostRecord::kDomain]);
            EXPECT_EQ(status.messengerNames, row.cells[HostRecord::kMessenger]);
            EXPECT_EQ(status.macAddress, row.cells[HostRecord::kMac]);
        }
    }
    const std::uint32_t address = AddressFromText("198.18.23.170");
    const HostRecord row =
        TestLanTruth::AnsweredRow(address, WideLan::MacHex(address), WideLan::Names(address));
    EXPECT_EQ(TestLanTruth::Printed(row),
              (std::vector<std::string>{"198.18.23.170", "○", "W17AA", "WIDE17", "024B441217AA",
                                        "不明", "M17AA"}));
}

TEST(NodeStatusResponder, OddAddressesAndAddressesOutsideThePrefixGetNoReply) {
    for (const char* text : {"198.18.16.1", "198.18.31.253", "198.18.15.254", "198.18.32.2",
                             "198.18.0.50", "198.18.0.255"})
        EXPECT_FALSE(ReplyTo(Request(1), text)) << text;
}

TEST(NodeStatusResponder, AnythingButAPlainQueryForStarIsDropped) {
    const Bytes good = Request(0x0102);
    for (std::size_t length = 0; length < good.size(); ++length)
        EXPECT_FALSE(
            ReplyTo(Bytes(good.begin(), good.begin() + static_cast<long>(length)), "198.18.16.2"))
            << "cut at " << length;
    EXPECT_FALSE(NodeStatusResponder(kPrefix).Reply(nullptr, 0, AddressFromText("198.18.16.2")));

    struct Change {
        const char* what;
        std::size_t at;
        unsigned char value;
    };
    const Change changes[] = {
        {"response bit", 2, 0x80},
        {"opcode registration", 2, 0x28},
        {"no question", 5, 0x00},
        {"two questions", 5, 0x02},
        {"an answer", 7, 0x01},
        {"an authority record", 9, 0x01},
        {"an additional record", 11, 0x01},
        {"name length 33", 12, 0x21},
        {"a pointer for a name", 12, 0xC0},
        {"letter beyond P", 20, 'Q'},
        {"'*' padded with blanks", 15, 'C'},
        {"name other than '*'", 13, 'E'},
        {"type NB", 47, 0x20},
        {"class 2", 49, 0x02},
    };
    for (const Change& change : changes) {
        Bytes bad = good;
        bad[change.at] = change.value;
        EXPECT_FALSE(ReplyTo(bad, "198.18.16.2")) << change.what;
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(ReplyTo(longer, "198.18.16.2")) << "a byte after the question";

    // A scope after the name is part of a well-formed query.
    Bytes scoped(good.begin(), good.begin() + 45);
    scoped.insert(scoped.end(), {3, 'l', 'a', 'n', 0, 0x00, 0x21, 0x00, 0x01});
    EXPECT_TRUE(ReplyTo(scoped, "198.18.16.2"));
    scoped[45] = 0xC0; // a pointer where a scope label should be
    EXPECT_FALSE(ReplyTo(scoped, "198.18.16.2"));
}

TEST(WideLan, EveryAddressOfThePrefixHasDistinctNamesAndUnitIdsOrNone) {
    std::set<std::string> workstations, macs;
    for (std::uint32_t address = kPrefix.network; address <= kPrefix.Last(); ++address) {
        const auto names = WideLan::Names(address);
        if (!WideLan::AnswersNodeStatus(address)) {
            EXPECT_TRUE(names.empty());
            continue;
        }
        ASSERT_EQ(names.size(), 5u);
        for (const TestLanName& name : names) {
            ASSERT_FALSE(name.name.empty());
            ASSERT_LE(name.name.size(), 15u) << name.name;
        }
        workstations.insert(names.front().name);
        macs.insert(WideLan::MacHex(address));
    }
    EXPECT_EQ(workstations.size(), 2048u);
    EXPECT_EQ(macs.size(), 2048u);
    EXPECT_EQ(macs.count("000000000000"), 0u);
}

TEST(TestLanTruth, RowsFollowTheLayoutAndTheRule) {
    std::string error;
    const auto lan = TestLan::Load(TestLan::DefaultPath(), error);
    ASSERT_TRUE(lan) << error;
    ASSERT_TRUE(lan->wide());
    EXPECT_EQ(lan->wide()->routed.Text(), "198.18.16.0/20");
    const TestLanTruth truth(*lan);
    auto printed = [&](const char* text, bool keepSilent) {
        const auto row = truth.RowFor(AddressFromText(text), keepSilent);
        return row ? TestLanTruth::Printed(*row) : std::vector<std::string>{};
    };
    const std::vector<std::string> pingOnly = {"-", "-", "-", "-", "-"};
    auto answered = [&](const char* text) {
        std::vector<std::string> row = {text, "○"};
        row.insert(row.end(), pingOnly.begin(), pingOnly.end());
        return row;
    };
    EXPECT_EQ(printed("198.18.0.1", false), answered("198.18.0.1"));   // the client
    EXPECT_EQ(printed("198.18.0.50", false), answered("198.18.0.50")); // the wide host
    EXPECT_EQ(printed("198.18.16.3", false), answered("198.18.16.3"));
    EXPECT_EQ(printed("198.18.16.4", false)[2], "W1004");
    EXPECT_EQ(printed("198.18.0.30", false), std::vector<std::string>{});
    EXPECT_EQ(printed("198.18.0.30", true),
              (std::vector<std::string>{"198.18.0.30", "×", "-", "-", "-", "-", "-"}));
    EXPECT_EQ(printed("198.18.16.0", true), std::vector<std::string>{});
    EXPECT_EQ(printed("198.18.17.255", true), std::vector<std::string>{});

    const auto rows = truth.Rows({kPrefix.network, kPrefix.Last()}, false);
    EXPECT_EQ(rows.size(), 16u * 254u);
}

TEST(TestLanTruth, ARoutedPrefixMustLieBesideTheLanInTheTestRange) {
    TempDir dir;
    auto load = [&](const std::string& wideLines, std::string& error) {
        TempDir::WriteFile(dir.file("testlan.conf"),
                           "client 198.18.0.1 02:4b:44:00:00:01 - - -\n" + wideLines);
        return TestLan::Load(dir.file("testlan.conf"), error);
    };
    std::string error;
    const auto good = load("wide 198.18.0.50 02:4b:44:00:00:32 198.18.24.0/21 - -\n", error);
    ASSERT_TRUE(good) << error;
    EXPECT_EQ(good->wide()->routed.Text(), "198.18.24.0/21");
    EXPECT_TRUE(good->wide()->routed.Contains(AddressFromText("198.18.31.255")));
    EXPECT_FALSE(good->wide()->routed.Contains(AddressFromText("198.18.32.0")));
    EXPECT_FALSE(load("wide 198.18.0.50 02:4b:44:00:00:32 198.18.24.0/21 - -\n"
                      "wide 198.18.0.51 02:4b:44:00:00:33 198.18.32.0/21 - -\n",
                      error));
    EXPECT_NE(error.find("second wide host"), std::string::npos) << error;
    for (const char* prefix :
         {"198.18.0.0/20", "198.18.0.128/25", "198.18.16.0/15", "198.20.16.0/20", "10.0.0.0/20",
          "198.18.16.1/20", "198.18.16.0/33", "198.18.16.0", "198.18.16.0/"}) {
        SCOPED_TRACE(prefix);
        EXPECT_FALSE(
            load("wide 198.18.0.50 02:4b:44:00:00:32 " + std::string(prefix) + " - -\n", error));
        EXPECT_NE(error.find(prefix), std::string::npos) << error;
    }
}

} // namespace
