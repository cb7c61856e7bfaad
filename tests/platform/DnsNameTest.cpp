#include "platform/wire/DnsName.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A zeroed header, then `parts` one after the other.
Bytes Message(std::initializer_list<Bytes> parts) {
    Bytes m(12, 0);
    for (const Bytes& part : parts)
        m.insert(m.end(), part.begin(), part.end());
    return m;
}

Bytes Label(unsigned char length) {
    Bytes label(1 + length, 'a');
    label[0] = length;
    return label;
}

// What the codecs' own tests leave open: the limit counts the name as it
// reads uncompressed, across its pointers; where the name ends in the message
// when it has several; the hop cap as given, none at all included; a limit
// breached before the message ends.
TEST(DnsName, WalkGivesVerdictEndAndTheNameUncompressed) {
    // 12: "a" and the root; 15: "b" and a pointer to 12; 19: a pointer to 15.
    const Bytes chain = Message({{1, 'a', 0}, {1, 'b', 0xC0, 12}, {0xC0, 15}});
    // 12: three labels of 63 and the root; 205: one label before a pointer to them.
    const auto through = [](unsigned char first) {
        return Message({Label(63), Label(63), Label(63), {0}, Label(first), {0xC0, 12}});
    };
    const Bytes longest = Message({Label(61), Label(63), Label(63), Label(63), {0}});
    const struct {
        const char* what;
        Bytes message;
        std::size_t at;
        int hops;
        DnsNameCheck check;
        std::size_t end;
        Bytes name; // uncompressed, when whole
    } cases[] = {
        {"root", Message({{0}}), 12, 0, DnsNameCheck::Whole, 13, {0}},
        {"two hops", chain, 19, 2, DnsNameCheck::Whole, 21, {1, 'b', 1, 'a', 0}},
        {"two hops, room for one", chain, 19, 1, DnsNameCheck::Bad, 0, {}},
        {"no hop allowed", chain, 15, 0, DnsNameCheck::Bad, 0, {}},
        {"255 bytes through a pointer", through(61), 205, 1, DnsNameCheck::Whole, 269,
         Bytes(longest.begin() + 12, longest.end())},
        {"256 bytes through a pointer", through(62), 205, 1, DnsNameCheck::Bad, 0, {}},
        {"over the limit where the message ends",
         Message({Label(63), Label(63), Label(63), {63}}),
         12,
         0,
         DnsNameCheck::Bad,
         0,
         {}},
        {"pointer cut after its first byte",
         Message({{1, 'a', 0xC0}}),
         12,
         4,
         DnsNameCheck::Truncated,
         0,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DnsName name;
        const DnsNameWalk walk =
            WalkDnsName(c.message.data(), c.message.size(), c.at, c.hops, &name);
        EXPECT_EQ(walk.check, c.check);
        EXPECT_EQ(walk.end, c.end);
        if (walk.whole()) {
            EXPECT_EQ(Bytes(name.bytes.begin(), name.bytes.begin() + name.size), c.name);
        }
    }
}

} // namespace
