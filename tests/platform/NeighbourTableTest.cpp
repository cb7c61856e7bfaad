#include "platform/net/NeighbourTable.h"
#include "tests/support/NetlinkBytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <string>
#include <sys/socket.h>

namespace {

using namespace NetlinkBytes;

constexpr std::uint32_t kAlpha = 0xC612000A; // 198.18.0.10
constexpr std::uint32_t kBravo = 0xC612000B;
const Bytes kMac = {0x02, 0x4B, 0x44, 0x00, 0x00, 0x0A};

NeighbourEntry Entry(std::uint32_t address, std::uint16_t state, bool withMac,
                     bool deleted = false) {
    NeighbourEntry entry;
    entry.address = address;
    entry.state = state;
    entry.hasMac = withMac;
    if (withMac)
        std::copy(kMac.begin(), kMac.end(), entry.mac.begin());
    entry.ifindex = 2;
    entry.deleted = deleted;
    return entry;
}

Bytes Dst(std::uint32_t address) {
    return Attribute(NDA_DST,
                     {static_cast<std::uint8_t>(address >> 24),
                      static_cast<std::uint8_t>(address >> 16),
                      static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
}

// Parses a copy of exactly `bytes`, so that a read past the end lands
// outside the allocation.
NeighbourParse Parse(const Bytes& bytes) {
    const Bytes copy(bytes);
    return ParseNeighbourMessages(copy);
}

const Bytes kReachable = Ipv4Neighbour(RTM_NEWNEIGH, kAlpha, NUD_REACHABLE, kMac);
const Bytes kIncomplete = Ipv4Neighbour(RTM_NEWNEIGH, kBravo, NUD_INCOMPLETE);

TEST(NeighbourTable, MessagesAreReadAsTheKernelSendsThem) {
    const Bytes ipv6 = Message(RTM_NEWNEIGH, Neighbour(AF_INET6, NUD_REACHABLE, 2,
                                                       Join({Attribute(NDA_DST, Bytes(16, 0xFE)),
                                                             Attribute(NDA_LLADDR, kMac)})));
    const struct {
        const char* what;
        Bytes bytes;
        std::vector<NeighbourEntry> entries;
        bool done = false;
        bool gotError = false;
        int error = 0;
        bool truncated = false;
        std::size_t skipped = 0;
    } cases[] = {
        {"nothing", {}, {}},
        {"resolved with its MAC", kReachable, {Entry(kAlpha, NUD_REACHABLE, true)}},
        {"unresolved, no MAC", kIncomplete, {Entry(kBravo, NUD_INCOMPLETE, false)}},
        {"deleted",
         Ipv4Neighbour(RTM_DELNEIGH, kAlpha, NUD_STALE, kMac),
         {Entry(kAlpha, NUD_STALE, true, true)}},
        {"IPv6 is passed over", ipv6, {}},
        {"several in one datagram, other types between",
         Join({kReachable, Message(RTM_NEWLINK, Bytes(16, 0)), ipv6, kIncomplete}),
         {Entry(kAlpha, NUD_REACHABLE, true), Entry(kBravo, NUD_INCOMPLETE, false)}},
        {"unknown attributes and a MAC of another length",
         Message(RTM_NEWNEIGH,
                 Neighbour(AF_INET, NUD_NOARP, 2,
                           Join({Attribute(NDA_CACHEINFO, Bytes(16, 1)), Dst(kBravo),
                                 Attribute(NDA_LLADDR, Bytes(20, 0xAA)),
                                 Attribute(NDA_PROBES | NLA_F_NESTED, Bytes(4, 0))}))),
         {Entry(kBravo, NUD_NOARP, false)}},
        {"a later link-layer address of another length leaves no MAC",
         Message(RTM_NEWNEIGH, Neighbour(AF_INET, NUD_REACHABLE, 2,
                                         Join({Dst(kBravo), Attribute(NDA_LLADDR, kMac),
                                               Attribute(NDA_LLADDR, {})}))),
         {Entry(kBravo, NUD_REACHABLE, false)}},
        {"the end of a dump stops the reading",
         Join({kReachable, Status(NLMSG_DONE, 0), kIncomplete}),
         {Entry(kAlpha, NUD_REACHABLE, true)},
         true},
        {"the end of a dump that failed", Status(NLMSG_DONE, -EINTR), {}, true, true, EINTR},
        {"the end of a dump with a number that is no errno",
         Status(NLMSG_DONE, INT32_MIN),
         {},
         true,
         true,
         EPROTO},
        {"an end without its number", Message(NLMSG_DONE, {}), {}, true},
        {"an error", Status(NLMSG_ERROR, -EBUSY), {}, false, true, EBUSY},
        {"an acknowledgement", Status(NLMSG_ERROR, 0), {}, false, true, 0},
        {"an error that is no errno", Status(NLMSG_ERROR, 5), {}, false, true, EPROTO},
        {"an error of INT32_MIN", Status(NLMSG_ERROR, INT32_MIN), {}, false, true, EPROTO},
        {"an error without its number",
         Join({Message(NLMSG_ERROR, {1, 2}), kReachable}),
         {Entry(kAlpha, NUD_REACHABLE, true)},
         false,
         false,
         0,
         false,
         1},
        {"a message length below its header",
         Join({Message(RTM_NEWNEIGH, {}, 15), kReachable}),
         {},
         false,
         false,
         0,
         true},
        {"a message length beyond the bytes",
         Join({kIncomplete, Message(RTM_NEWNEIGH, {}, 400)}),
         {Entry(kBravo, NUD_INCOMPLETE, false)},
         false,
         false,
         0,
         true},
        {"a message length of 2^32-1",
         Message(RTM_NEWNEIGH, Bytes(64, 0), 0xFFFFFFFF),
         {},
         false,
         false,
         0,
         true},
        {"no room for the neighbour header",
         Join({Message(RTM_NEWNEIGH, Bytes(11, 0)), kIncomplete}),
         {Entry(kBravo, NUD_INCOMPLETE, false)},
         false,
         false,
         0,
         false,
         1},
        {"an attribute length below its header",
         Join(
             {Message(RTM_NEWNEIGH, Neighbour(AF_INET, NUD_REACHABLE, 2,
                                              Join({Attribute(NDA_LLADDR, kMac, 3), Dst(kAlpha)}))),
              kIncomplete}),
         {Entry(kBravo, NUD_INCOMPLETE, false)},
         false,
         false,
         0,
         false,
         1},
        {"an attribute length beyond the message",
         Join({Message(RTM_NEWNEIGH,
                       Neighbour(AF_INET, NUD_REACHABLE, 2,
                                 Join({Dst(kAlpha), Attribute(NDA_LLADDR, kMac, 40)}))),
               kIncomplete}),
         {Entry(kBravo, NUD_INCOMPLETE, false)},
         false,
         false,
         0,
         false,
         1},
        {"a destination of 5 bytes",
         Message(RTM_NEWNEIGH,
                 Neighbour(AF_INET, NUD_REACHABLE, 2, Attribute(NDA_DST, {198, 18, 0, 10, 0}))),
         {},
         false,
         false,
         0,
         false,
         1},
        {"no destination",
         Message(RTM_NEWNEIGH, Neighbour(AF_INET, NUD_REACHABLE, 2, Attribute(NDA_LLADDR, kMac))),
         {},
         false,
         false,
         0,
         false,
         1},
        {"a short header after the last message",
         Join({kReachable, Bytes(8, 0)}),
         {Entry(kAlpha, NUD_REACHABLE, true)},
         false,
         false,
         0,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const NeighbourParse parse = Parse(c.bytes);
        EXPECT_EQ(parse.entries, c.entries);
        EXPECT_EQ(parse.done, c.done);
        EXPECT_EQ(parse.gotError, c.gotError);
        EXPECT_EQ(parse.error, c.error);
        EXPECT_EQ(parse.truncated, c.truncated);
        EXPECT_EQ(parse.skipped, c.skipped);
    }
}

// Cut anywhere, two messages give what lies wholly inside the cut and say
// when the cut fell inside a message. The first message's length is not a
// multiple of 4: its last two padding bytes may be cut without loss.
TEST(NeighbourTable, EveryTruncationKeepsTheWholeMessagesOnly) {
    const Bytes bytes = Join({kReachable, kIncomplete});
    const std::size_t firstLength = 46, firstEnd = kReachable.size();
    const std::size_t secondLength = firstEnd + kIncomplete.size();
    ASSERT_EQ(firstEnd, 48u);
    for (std::size_t n = 0; n <= bytes.size(); ++n) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        const NeighbourParse parse = Parse(Bytes(bytes.begin(), bytes.begin() + n));
        const std::size_t whole = (n >= firstLength ? 1 : 0) + (n >= secondLength ? 1 : 0);
        ASSERT_EQ(parse.entries.size(), whole);
        if (whole >= 1) {
            EXPECT_EQ(parse.entries[0], Entry(kAlpha, NUD_REACHABLE, true));
        }
        if (whole == 2) {
            EXPECT_EQ(parse.entries[1], Entry(kBravo, NUD_INCOMPLETE, false));
        }
        const bool boundary = n == 0 || (n >= firstLength && n <= firstEnd) || n == secondLength;
        EXPECT_EQ(parse.truncated, !boundary);
        EXPECT_EQ(parse.skipped, 0u);
    }
}

// Only an answer to a request counts as presence; an old entry does not.
TEST(NeighbourTable, OnlyAReachableEntryIsResolvedByAReply) {
    const struct {
        std::uint16_t state;
        bool resolved;
    } cases[] = {
        {NUD_REACHABLE, true},   {NUD_STALE, false},     {NUD_DELAY, false},
        {NUD_PROBE, false},      {NUD_PERMANENT, false}, {NUD_NOARP, false},
        {NUD_INCOMPLETE, false}, {NUD_FAILED, false},    {NUD_NONE, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsResolvedByReply(c.state), c.resolved) << c.state;
}

} // namespace
