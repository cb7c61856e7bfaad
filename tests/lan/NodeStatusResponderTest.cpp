// The routed prefix's answers without a network: what the responder sends
// must decode, through the program's own decoders, to the rows the LAN tests
// and the benchmarks expect, and anything but a plain node-status query for
// "*" must get no answer at all.

#include "tests/lan/NodeStatusResponder.h"
#include "core/scan/NodeStatus.h"
#include "platform/wire/NodeStatusPacket.h"
#include "tests/support/AnswerRow.h"
#include "core/scan/HostCells.h"
#include "platform/win32/AdapterStatus.h"
#include "tests/lan/TestLanTruth.h"
#include "tests/lan/WideLan.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The layout's routed prefix (checked below), so the benchmarks' /16 is what
// the rule is tried on.
const TestLanPrefix kPrefix{0xC6130000u, 16}; // 198.19.0.0/16

// The address `offset` past the prefix's first one (may lie beyond it).
std::uint32_t At(std::int64_t offset) {
    return static_cast<std::uint32_t>(kPrefix.network + offset);
}

// The address of the prefix with these last two octets' offsets.
std::string At(unsigned slash24, unsigned last) {
    return AddressToText(At(std::int64_t{slash24} * 256 + last));
}

// Row counts over the first /20 and the last two /24s: the whole /16 costs
// a tenth of a second a time and shows nothing more.
const AddressRange kFirstSlash20{At(0), At(16 * 256 - 1)};
const AddressRange kLastTwoSlash24s{At(254 * 256), kPrefix.Last()};

Bytes Request(std::uint16_t id) {
    const auto request = BuildNodeStatusRequest(id);
    return Bytes(request.begin(), request.end());
}

std::optional<Bytes> ReplyTo(const Bytes& datagram, const std::string& destination) {
    return NodeStatusResponder(kPrefix).Reply(datagram.data(), datagram.size(),
                                              AddressFromText(destination));
}

std::optional<Bytes> ReplyTo(const Bytes& datagram, std::uint32_t destination) {
    return ReplyTo(datagram, AddressToText(destination));
}

TEST(NodeStatusResponder, AnEvenAddressGetsTheRowOfTheRule) {
    for (const std::string& text : {At(0, 2), At(7, 170), AddressToText(kPrefix.Last() - 1)}) {
        SCOPED_TRACE(text);
        const std::uint32_t address = AddressFromText(text);
        const auto reply = ReplyTo(Request(0x5A17), text);
        ASSERT_TRUE(reply);
        unsigned char buffer[600];
        const AdapterStatusVerdict verdict =
            DecodeNodeStatusReply(reply->data(), reply->size(), 0x5A17, buffer, sizeof buffer);
        ASSERT_EQ(verdict.check, NodeStatusReplyCheck::Accepted);
        EXPECT_EQ(verdict.retcode, NRC_GOODRET);
        EXPECT_EQ(verdict.namesInReply, 5u);
        NodeStatusAnswer answer;
        ASSERT_TRUE(DecodeNodeStatusAnswer(reply->data(), reply->size(), 0x5A17, answer).accepted());

        const HostRecord row =
            TestLanTruth::AnsweredRow(address, WideLan::MacHex(address), WideLan::Names(address));
        // The same row whether or not the own name is left out of the messenger names.
        for (bool skipOwn : {false, true}) {
            const HostRecord decoded = RowOfAnswer(answer, skipOwn);
            EXPECT_EQ(decoded.computer, CellOf(row, HostRecord::kComputer));
            EXPECT_EQ(decoded.workgroup, CellOf(row, HostRecord::kDomain));
            EXPECT_EQ(CellOf(decoded, HostRecord::kMessenger), CellOf(row, HostRecord::kMessenger));
            EXPECT_EQ(CellOf(decoded, HostRecord::kMac), CellOf(row, HostRecord::kMac));
        }
    }
    const std::uint32_t address = AddressFromText("198.19.7.170");
    const HostRecord row =
        TestLanTruth::AnsweredRow(address, WideLan::MacHex(address), WideLan::Names(address));
    EXPECT_EQ(TestLanTruth::Printed(row),
              (std::vector<std::string>{"198.19.7.170", "○", "W07AA", "WIDE07", "024B441307AA",
                                        "不明", "M07AA"}));
}

TEST(NodeStatusResponder, OddAddressesAndAddressesOutsideThePrefixGetNoReply) {
    for (const std::uint32_t address :
         {At(1), kPrefix.Last() - 2, At(-2), kPrefix.Last() + 3, AddressFromText("198.18.0.50"),
          AddressFromText("198.18.0.255")})
        EXPECT_FALSE(ReplyTo(Request(1), address)) << AddressToText(address);
}

TEST(NodeStatusResponder, AnythingButAPlainQueryForStarIsDropped) {
    const Bytes good = Request(0x0102);
    for (std::size_t length = 0; length < good.size(); ++length)
        EXPECT_FALSE(
            ReplyTo(Bytes(good.begin(), good.begin() + static_cast<long>(length)), At(2)))
            << "cut at " << length;
    EXPECT_FALSE(NodeStatusResponder(kPrefix).Reply(nullptr, 0, At(2)));

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
        EXPECT_FALSE(ReplyTo(bad, At(2))) << change.what;
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(ReplyTo(longer, At(2))) << "a byte after the question";

    // A scope after the name is part of a well-formed query.
    Bytes scoped(good.begin(), good.begin() + 45);
    scoped.insert(scoped.end(), {3, 'l', 'a', 'n', 0, 0x00, 0x21, 0x00, 0x01});
    EXPECT_TRUE(ReplyTo(scoped, At(2)));
    scoped[45] = 0xC0; // a pointer where a scope label should be
    EXPECT_FALSE(ReplyTo(scoped, At(2)));
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
    const std::size_t even = (std::size_t{kPrefix.Last() - kPrefix.network} + 1) / 2;
    EXPECT_EQ(workstations.size(), even);
    EXPECT_EQ(macs.size(), even);
    EXPECT_EQ(macs.count("000000000000"), 0u);
}

TEST(TestLanTruth, RowsFollowTheLayoutAndTheRule) {
    std::string error;
    const auto lan = TestLan::Load(TestLan::DefaultPath(), error);
    ASSERT_TRUE(lan) << error;
    ASSERT_TRUE(lan->wide());
    EXPECT_EQ(lan->wide()->routed.Text(), kPrefix.Text());
    const TestLanTruth truth(*lan);
    auto printed = [&](const std::string& text, bool keepSilent) {
        const auto row = truth.RowFor(AddressFromText(text), keepSilent);
        return row ? TestLanTruth::Printed(*row) : std::vector<std::string>{};
    };
    const std::vector<std::string> pingOnly = {"-", "-", "-", "-", "-"};
    auto answered = [&](const std::string& text) {
        std::vector<std::string> row = {text, "○"};
        row.insert(row.end(), pingOnly.begin(), pingOnly.end());
        return row;
    };
    EXPECT_EQ(printed("198.18.0.1", false), answered("198.18.0.1"));   // the client
    EXPECT_EQ(printed("198.18.0.50", false), answered("198.18.0.50")); // the wide host
    EXPECT_EQ(printed(At(0, 3), false), answered(At(0, 3)));
    EXPECT_EQ(printed(At(0, 4), false)[2], "W0004");
    EXPECT_EQ(printed("198.18.0.30", false), std::vector<std::string>{});
    EXPECT_EQ(printed("198.18.0.30", true),
              (std::vector<std::string>{"198.18.0.30", "×", "-", "-", "-", "-", "-"}));
    // The scan walks past a last octet 0 and any octet 255, inside the prefix too.
    EXPECT_EQ(printed(At(0, 0), true), std::vector<std::string>{});
    EXPECT_EQ(printed(At(1, 255), true), std::vector<std::string>{});
    EXPECT_EQ(printed(At(255, 2), true), std::vector<std::string>{});

    EXPECT_EQ(truth.Rows(kFirstSlash20, false).size(), 16u * 254u);
    EXPECT_EQ(truth.Rows(kLastTwoSlash24s, false).size(), 254u);
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
    // The widest allowed: the whole other half of the test range.
    const auto half = load("wide 198.18.0.50 02:4b:44:00:00:32 198.19.0.0/16 - -\n", error);
    ASSERT_TRUE(half) << error;
    EXPECT_TRUE(half->wide()->routed.Contains(AddressFromText("198.19.255.255")));
    EXPECT_FALSE(half->wide()->routed.Contains(AddressFromText("198.18.255.255")));
    EXPECT_FALSE(load("wide 198.18.0.50 02:4b:44:00:00:32 198.18.24.0/21 - -\n"
                      "wide 198.18.0.51 02:4b:44:00:00:33 198.18.32.0/21 - -\n",
                      error));
    EXPECT_NE(error.find("second wide host"), std::string::npos) << error;
    for (const char* prefix :
         {"198.18.0.0/20", "198.18.0.128/25", "198.18.16.0/15", "198.18.0.0/16", "198.18.0.0/15",
          "198.19.0.0/15", "198.20.0.0/16", "198.20.16.0/20", "10.0.0.0/20",
          "198.18.16.1/20", "198.18.16.0/33", "198.18.16.0", "198.18.16.0/"}) {
        SCOPED_TRACE(prefix);
        EXPECT_FALSE(
            load("wide 198.18.0.50 02:4b:44:00:00:32 " + std::string(prefix) + " - -\n", error));
        EXPECT_NE(error.find(prefix), std::string::npos) << error;
    }
}

// The slow host's responder answers for its own address alone, with the
// layout's name table and its own MAC (not zeros, as Samba sends).
TEST(NodeStatusResponder, AResponderForOneHostAnswersForItAloneWithItsNamesAndMac) {
    TestLanHost host;
    host.role = TestLanHost::Role::Slow;
    host.address = "198.18.0.63";
    host.mac = "02:4b:44:00:00:3f";
    host.name = "KDFOXTROT";
    host.workgroup = "KDLAB";
    host.aliases = {"KDFOX-ALT"};
    const NodeStatusResponder responder(host);
    const Bytes request = Request(0x0BAD);
    for (const std::string& other : {std::string("198.18.0.62"), std::string("198.18.0.64"), At(0, 2)})
        EXPECT_FALSE(responder.Reply(request.data(), request.size(), AddressFromText(other)))
            << other;
    const auto reply = responder.Reply(request.data(), request.size(), AddressFromText("198.18.0.63"));
    ASSERT_TRUE(reply);
    unsigned char buffer[600];
    const AdapterStatusVerdict verdict =
        DecodeNodeStatusReply(reply->data(), reply->size(), 0x0BAD, buffer, sizeof buffer);
    ASSERT_EQ(verdict.check, NodeStatusReplyCheck::Accepted);
    EXPECT_EQ(verdict.namesInReply, host.RegisteredNames().size());
    NodeStatusAnswer answer;
    ASSERT_TRUE(DecodeNodeStatusAnswer(reply->data(), reply->size(), 0x0BAD, answer).accepted());
    const HostRecord status = RowOfAnswer(answer, false);
    EXPECT_EQ(status.computer, "KDFOX-ALT"); // the last <00> unique name wins, as with nmbd
    EXPECT_EQ(status.workgroup, "KDLAB");
    EXPECT_EQ(CellOf(status, HostRecord::kMac), "024B4400003F");
    const HostRecord row = TestLanTruth::AnsweredRow(AddressFromText(host.address), host.MacHex(),
                                                     host.RegisteredNames());
    EXPECT_EQ(status.computer, CellOf(row, HostRecord::kComputer));
    EXPECT_EQ(CellOf(status, HostRecord::kMessenger), CellOf(row, HostRecord::kMessenger));
    // A malformed query gets nothing, as from the prefix's responder.
    Bytes truncated = request;
    truncated.pop_back();
    EXPECT_FALSE(responder.Reply(truncated.data(), truncated.size(), AddressFromText("198.18.0.63")));
}

// The quiet hosts' lines: names only where the host answers node status,
// never a name on a host that has none.
TEST(TestLan, QuietHostRolesAreReadWithTheirNames) {
    TempDir dir;
    TempDir::WriteFile(dir.file("testlan.conf"),
                       "client  198.18.0.1  02:4b:44:00:00:01 -      -     -\n"
                       "noping  198.18.0.60 02:4b:44:00:00:3c KDECHO KDWORK KDE2\n"
                       "arponly 198.18.0.61 02:4b:44:00:00:3d -      -     -\n"
                       "closed  198.18.0.62 02:4b:44:00:00:3e -      -     -\n"
                       "slow    198.18.0.63 02:4b:44:00:00:3f KDFOX  KDLAB -\n");
    std::string error;
    const auto lan = TestLan::Load(dir.file("testlan.conf"), error);
    ASSERT_TRUE(lan) << error;
    using Role = TestLanHost::Role;
    const struct {
        const char* address;
        Role role;
        const char* name;
        std::size_t names;
        const char* mac;
    } cases[] = {{"198.18.0.60", Role::NoPing, "KDECHO", 8, "024B4400003C"},
                 {"198.18.0.61", Role::ArpOnly, "", 0, "024B4400003D"},
                 {"198.18.0.62", Role::Closed, "", 0, "024B4400003E"},
                 {"198.18.0.63", Role::Slow, "KDFOX", 5, "024B4400003F"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const TestLanHost* host = lan->Find(c.address);
        ASSERT_TRUE(host);
        EXPECT_EQ(host->role, c.role);
        EXPECT_EQ(host->name, c.name);
        EXPECT_EQ(host->RegisteredNames().size(), c.names);
        EXPECT_EQ(host->MacHex(), c.mac);
    }
    EXPECT_FALSE(lan->Find("198.18.0.64"));
}

// The rejects cover the odd addresses of the odd /24s of the prefix, nothing
// outside it; the
// truth leaves the rejected addresses without a row, the others as before.
TEST(TestLanTruth, RejectsSilenceTheOddSlash24sOfThePrefixOnly) {
    std::string error;
    const auto lan = TestLan::Load(TestLan::DefaultPath(), error);
    ASSERT_TRUE(lan) << error;
    const TestLanTruth plain(*lan), rejecting(*lan, true);
    const struct {
        std::string address;
        bool rejected;
    } cases[] = {{At(0, 2), false},   {At(0, 3), false},   {At(1, 1), true},
                 {At(1, 2), false},   {At(1, 253), true},  {At(1, 254), false},
                 {At(2, 4), false},   {At(253, 253), true}, {At(254, 253), false},
                 // just outside, on an odd /24 each: 198.18.255.3 and 198.20.1.3
                 {AddressToText(At(-256 + 3)), false},
                 {AddressToText(kPrefix.Last() + 1 + 256 + 3), false},
                 {"198.18.0.11", false},  {"198.18.1.11", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const std::uint32_t address = AddressFromText(c.address);
        EXPECT_EQ(lan->Rejected(address), c.rejected);
        const auto before = plain.RowFor(address, false);
        const auto after = rejecting.RowFor(address, false);
        if (c.rejected) {
            EXPECT_TRUE(before);
            EXPECT_FALSE(after);
        } else {
            EXPECT_EQ(before.has_value(), after.has_value());
            if (before && after) {
                EXPECT_EQ(CellsOf(*before), CellsOf(*after));
            }
        }
    }
    EXPECT_EQ(rejecting.Rows(kFirstSlash20, false).size(), 8u * 254u + 8u * 127u);
    // 198.19.255.0/24 is odd, and walked past anyway.
    EXPECT_EQ(rejecting.Rows(kLastTwoSlash24s, false).size(), 254u);
}

// Rows follow the echo: of the quiet hosts only the slow one has a row,
// with its names; the others are silent like an address nobody holds.
TEST(TestLanTruth, QuietHostsThatDropPingHaveNoRow) {
    std::string error;
    const auto lan = TestLan::Load(TestLan::DefaultPath(), error);
    ASSERT_TRUE(lan) << error;
    const TestLanTruth truth(*lan);
    using Role = TestLanHost::Role;
    for (Role role : {Role::NoPing, Role::ArpOnly, Role::Closed, Role::Slow}) {
        const auto hosts = lan->WithRole(role);
        ASSERT_EQ(hosts.size(), 1u);
        const TestLanHost& host = hosts.front();
        SCOPED_TRACE(host.address);
        const auto row = truth.RowFor(AddressFromText(host.address), false);
        if (role != Role::Slow) {
            EXPECT_FALSE(row);
            continue;
        }
        ASSERT_TRUE(row);
        EXPECT_EQ(CellOf(*row, HostRecord::kComputer), host.name);
        EXPECT_EQ(CellOf(*row, HostRecord::kDomain), host.workgroup);
        EXPECT_EQ(CellOf(*row, HostRecord::kMac), host.MacHex());
    }
}

} // namespace
