#include "platform/wire/PtrQuery.h"
#include "tests/support/DnsAnswerBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Builder = DnsAnswerBuilder;
using Change = std::function<void(Builder&)>;
using Check = PtrAnswerCheck;

constexpr std::uint32_t kAddress = 0xC6120007; // 198.18.0.7
constexpr std::uint16_t kId = 0x5A17;
// Where the question's "arpa" label starts: 12 + "7", "0", "18", "198", "in-addr".
constexpr unsigned char kArpaAt = 12 + 2 + 2 + 3 + 4 + 8;
// The text of a name of 255 bytes on the wire: labels of 63, 63, 63 and 61.
const std::string kLongest = std::string(63, 'a') + '.' + std::string(63, 'a') + '.' +
                             std::string(63, 'a') + '.' + std::string(61, 'a');

PtrAnswer Read(const Bytes& bytes, PtrProtocol protocol, std::size_t length = SIZE_MAX) {
    return ReadPtrAnswer(bytes.data(), std::min(length, bytes.size()), kId, kAddress, protocol);
}

// The usual answer of each protocol after `change`.
Bytes Answer(PtrProtocol protocol, const Change& change = nullptr) {
    Builder b = protocol == PtrProtocol::Llmnr ? Builder::Llmnr(kId, kAddress, "host")
                                               : Builder::Mdns(kId, kAddress, "host.local");
    if (change)
        change(b);
    return b.bytes();
}

std::string Text(PtrProtocol protocol) {
    return protocol == PtrProtocol::Llmnr ? "LLMNR" : "mDNS";
}

// Labels of these lengths, filled with 'a'.
Builder::Labels LabelsOfLengths(std::initializer_list<std::size_t> lengths) {
    Builder::Labels labels;
    for (const std::size_t length : lengths)
        labels.emplace_back(length, 'a');
    return labels;
}

// Changes of the usual answer, one field each.
Change Flags(std::uint16_t flags) {
    return [flags](Builder& b) { b.flags = flags; };
}
template <class T> Change Set(T Builder::*field, T value) {
    return [field, value](Builder& b) { b.*field = value; };
}
Change NoQuestion() {
    return [](Builder& b) { b.question.reset(); };
}
Change Question(Builder::Labels labels) {
    return [labels](Builder& b) { b.question = labels; };
}
Change Owner(Builder::Labels labels) {
    return [labels](Builder& b) { b.answers[0].owner = labels; };
}
Change Target(Builder::Labels labels) {
    return [labels](Builder& b) { b.answers[0].target = labels; };
}
// The first record's RDATA as `make` makes it from the offset it starts at.
Change Rdata(std::function<Bytes(std::size_t)> make) {
    return [make](Builder& b) { b.answers[0].rdata = make; };
}
Change Rdata(Bytes bytes) {
    return Rdata([bytes](std::size_t) { return bytes; });
}
Bytes Pointer(std::size_t to) {
    return {static_cast<unsigned char>(0xC0 | to >> 8), static_cast<unsigned char>(to)};
}
Change AddPtr(std::uint32_t address, std::string name) {
    return [address, name](Builder& b) { b.answers.push_back(Builder::Ptr(address, name)); };
}

// A PTR record whose name is a pointer `hops` hops away from "host": an A
// record before it carries in its RDATA the name "host" and then pointers,
// each to the one before it (the first to the name).
Change ThroughPointers(int hops) {
    return [hops](Builder& b) {
        auto last = std::make_shared<std::size_t>(0);
        DnsRecord chain;
        chain.owner = {"chain"};
        chain.type = 1;
        chain.rdata = [hops, last](std::size_t at) {
            Bytes rdata = {4, 'h', 'o', 's', 't', 0};
            *last = at;
            for (int i = 1; i < hops; ++i) {
                const std::size_t here = at + rdata.size();
                rdata.push_back(static_cast<unsigned char>(0xC0 | *last >> 8));
                rdata.push_back(static_cast<unsigned char>(*last));
                *last = here;
            }
            return rdata;
        };
        b.answers.insert(b.answers.begin(), chain);
        b.answers.back().rdata = [last](std::size_t) { return Pointer(*last); };
    };
}

TEST(PtrQuery, ReverseNamesListTheOctetsBackwards) {
    const struct {
        std::uint32_t address;
        const char* name;
    } cases[] = {
        {kAddress, "7.0.18.198.in-addr.arpa"},
        {0x00000000, "0.0.0.0.in-addr.arpa"},
        {0xFFFFFFFF, "255.255.255.255.in-addr.arpa"},
        {0x0A000102, "2.1.0.10.in-addr.arpa"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReverseName(c.address), c.name);
}

TEST(PtrQuery, QueryBytesAreExact) {
    const Bytes expected = {
        0xBE, 0xEF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // header
        1,    '7',  1,    '0',  2,    '1',  '8',  3,    '1',  '9',  '8',        // 7.0.18.198
        7,    'i',  'n',  '-',  'a',  'd',  'd',  'r',  4,    'a',  'r',  'p',
        'a',  0,    0x00, 0x0C, 0x00, 0x01, // PTR, IN
    };
    EXPECT_EQ(BuildPtrQuery(kAddress, 0xBEEF), expected);
    // Our own query, looped back or echoed, is no answer.
    EXPECT_EQ(Read(BuildPtrQuery(kAddress, kId), PtrProtocol::Llmnr).check, Check::NotResponse);
    EXPECT_EQ(Read(BuildPtrQuery(kAddress, kId), PtrProtocol::Mdns).check, Check::NotResponse);
}

TEST(PtrQuery, AnswersGiveTheNamesOfTheirPtrRecords) {
    const auto llmnr = PtrProtocol::Llmnr, mdns = PtrProtocol::Mdns;
    const struct {
        const char* what;
        PtrProtocol protocol;
        Change change;
        std::vector<std::string> names;
        unsigned inAnswer;
    } cases[] = {
        {"as sent", llmnr, nullptr, {"host"}, 1},
        {"as sent, cache-flush bit", mdns, nullptr, {"host.local"}, 1},
        {"no question", mdns, NoQuestion(), {"host.local"}, 1},
        {"unicast-response bit",
         mdns,
         Set<std::uint16_t>(&Builder::qclass, 0x8001),
         {"host.local"},
         1},
        {"conflict bit", llmnr, Flags(0x8400), {"host"}, 1},
        {"recursion bit", mdns, Flags(0x8500), {"host.local"}, 1},
        {"two names", llmnr, AddPtr(kAddress, "alias.example"), {"host", "alias.example"}, 2},
        {"the same name twice", llmnr, AddPtr(kAddress, "HOST"), {"host"}, 2},
        {"name compressed into the question",
         llmnr,
         Rdata({4, 'h', 'o', 's', 't', 0xC0, kArpaAt}),
         {"host.arpa"},
         1},
        {"name 16 pointer hops away", llmnr, ThroughPointers(16), {"host"}, 1},
        {"a name of 255 bytes", llmnr, Target(LabelsOfLengths({63, 63, 63, 61})), {kLongest}, 1},
        {"names in capitals",
         llmnr,
         [](Builder& b) {
             b.question = Builder::LabelsOf("7.0.18.198.IN-ADDR.ARPA");
             b.answers[0].owner = Builder::LabelsOf("7.0.18.198.In-Addr.Arpa");
         },
         {"host"},
         1},
        {"names that read the same",
         llmnr,
         [](Builder& b) {
             b.answers[0].target = {"h\xFF"};
             b.answers.push_back(Builder::Ptr(kAddress, "H\xFE"));
         },
         {"h\xEF\xBF\xBD"},
         2},
        {"the root names nothing",
         llmnr,
         [](Builder& b) { b.answers.insert(b.answers.begin(), Builder::Ptr(kAddress, "")); },
         {"host"},
         1},
        {"other records stepped over",
         mdns,
         [](Builder& b) {
             DnsRecord a;
             a.owner = {"host", "local"};
             a.type = 1;
             a.rdata = [](std::size_t) { return Bytes{198, 18, 0, 7}; };
             DnsRecord nsec = a;
             nsec.owner = Builder::ReverseLabels(kAddress);
             nsec.type = 47;
             DnsRecord chaos = Builder::Ptr(kAddress + 1, "elsewhere");
             chaos.klass = 3;
             b.answers.insert(b.answers.begin(), {a, nsec, chaos});
             b.authority.push_back(a);
             b.additional.push_back(a);
         },
         {"host.local"},
         1},
        {"class with the top bit is no IN to LLMNR",
         llmnr,
         [](Builder& b) {
             b.answers.push_back(Builder::Ptr(kAddress + 1, "elsewhere"));
             b.answers.back().klass = 0x8001;
         },
         {"host"},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Text(c.protocol) + ", " + c.what);
        const PtrAnswer answer = Read(Answer(c.protocol, c.change), c.protocol);
        ASSERT_EQ(answer.check, Check::Accepted) << PtrAnswerCheckName(answer.check);
        EXPECT_EQ(answer.names, c.names);
        EXPECT_EQ(answer.namesInAnswer, c.inAnswer);
    }
}

TEST(PtrQuery, ManyRecordsGiveAFewNames) {
    const Bytes bytes = Answer(PtrProtocol::Llmnr, [](Builder& b) {
        for (int i = 1; i < 1000; ++i)
            b.answers.push_back(Builder::Ptr(kAddress, "h" + std::to_string(i)));
    });
    const PtrAnswer answer = Read(bytes, PtrProtocol::Llmnr);
    ASSERT_TRUE(answer.accepted()) << PtrAnswerCheckName(answer.check);
    EXPECT_EQ(answer.namesInAnswer, 1000u);
    EXPECT_EQ(answer.names,
              (std::vector<std::string>{"host", "h1", "h2", "h3", "h4", "h5", "h6", "h7"}));
}

// What each name becomes as text: a label cannot pose as two, a control
// character is written out, UTF-8 stays and the rest is replaced.
TEST(PtrQuery, NamesBecomePlainText) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        Builder::Labels labels;
        std::string text;
    } cases[] = {
        {{"host", "example", "com"}, "host.example.com"},
        {{"evil.com", "example"}, "evil\\.com.example"},
        {{"back\\slash"}, "back\\\\slash"},
        {{"bell\x07", "esc\x1B[31m", "new\nline", "del\x7F"},
         "bell\\007.esc\\027[31m.new\\010line.del\\127"},
        {{std::string("nul\0byte", 8)}, "nul\\000byte"},
        {{"next\xC2\x85line"}, "next\\194\\133line"}, // U+0085, a C1 control
        {{"caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC"}, "caf\xC3\xA9.\xE6\x97\xA5\xE6\x9C\xAC"},
        {{"\xF0\x9F\x96\xA5"}, "\xF0\x9F\x96\xA5"},
        {{"a\xFF\x62", "\xC3"}, "a" + fffd + "b." + fffd},
        {{"\xC0\xAF"}, fffd + fffd},            // overlong '/'
        {{"\xED\xA0\x80"}, fffd + fffd + fffd}, // a surrogate
        {{"\xE6\x97"}, fffd + fffd},            // cut short
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const PtrAnswer answer =
            Read(Answer(PtrProtocol::Mdns, Target(c.labels)), PtrProtocol::Mdns);
        ASSERT_TRUE(answer.accepted()) << PtrAnswerCheckName(answer.check);
        EXPECT_EQ(answer.names, std::vector<std::string>{c.text});
    }
}

TEST(PtrQuery, AnswersThatFailAnyCheckAreRefused) {
    const auto llmnr = PtrProtocol::Llmnr, mdns = PtrProtocol::Mdns;
    const auto self = Rdata([](std::size_t at) { return Pointer(at); });
    const auto forward = Rdata([](std::size_t at) {
        Bytes rdata = Pointer(at + 2);
        rdata.push_back(0);
        return rdata;
    });
    using U16 = std::uint16_t;
    const struct {
        const char* what;
        PtrProtocol protocol;
        Change change;
        Check check;
    } cases[] = {
        {"another id", llmnr, Set<U16>(&Builder::id, kId ^ 1), Check::WrongId},
        {"id 0 of a multicast answer", mdns, Set<U16>(&Builder::id, 0), Check::WrongId},
        {"a query", llmnr, Flags(0), Check::NotResponse},
        {"opcode 1", mdns, Flags(0x8000 | 1 << 11), Check::WrongOpcode},
        {"no such name", llmnr, Flags(0x8003), Check::ErrorCode},
        {"truncated by the responder", llmnr, Flags(0x8200), Check::ResponderTruncated},
        {"truncated by the responder", mdns, Flags(0x8600), Check::ResponderTruncated},
        {"tentative", llmnr, Flags(0x8100), Check::Tentative},
        {"no question", llmnr, NoQuestion(), Check::WrongQuestion},
        {"two questions", mdns, Set<std::optional<U16>>(&Builder::qdcount, 2),
         Check::WrongQuestion},
        {"another address asked", llmnr, Question(Builder::ReverseLabels(kAddress + 1)),
         Check::WrongQuestion},
        {"type A asked", llmnr, Set<U16>(&Builder::qtype, 1), Check::WrongQuestion},
        {"class CH asked", mdns, Set<U16>(&Builder::qclass, 3), Check::WrongQuestion},
        {"unicast-response bit", llmnr, Set<U16>(&Builder::qclass, 0x8001), Check::WrongQuestion},
        {"pointer to itself", llmnr, self, Check::BadName},
        {"pointer forwards", llmnr, forward, Check::BadName},
        {"name 17 pointer hops away", llmnr, ThroughPointers(17), Check::BadName},
        {"pointer into the header", llmnr, Rdata(Pointer(4)), Check::BadName},
        {"label of 64 bytes", llmnr, Target(LabelsOfLengths({64})), Check::BadName},
        {"reserved label type", mdns, Rdata({0x80, 0}), Check::BadName},
        {"name of 256 bytes", llmnr, Target(LabelsOfLengths({63, 63, 63, 62})), Check::BadName},
        {"label of 64 bytes in the question", llmnr, Question(LabelsOfLengths({64})),
         Check::BadName},
        {"bad name in an additional record", mdns,
         [](Builder& b) {
             b.additional.push_back(b.answers[0]);
             b.additional[0].owner = LabelsOfLengths({70});
         },
         Check::BadName},
        {"more answers than sent", llmnr, Set<std::optional<U16>>(&Builder::ancount, 2),
         Check::Truncated},
        {"additional record not sent", mdns, Set<std::optional<U16>>(&Builder::arcount, 1),
         Check::Truncated},
        {"RDATA beyond the end", llmnr, [](Builder& b) { b.answers[0].rdlength = 200; },
         Check::Truncated},
        {"record of another type beyond the end", mdns,
         [](Builder& b) {
             b.answers.push_back(b.answers[0]);
             b.answers[1].type = 16;
             b.answers[1].rdlength = 100;
         },
         Check::Truncated},
        {"name shorter than RDLENGTH", llmnr, Rdata({4, 'h', 'o', 's', 't', 0, 0}),
         Check::BadLength},
        {"name longer than RDLENGTH", mdns,
         [](Builder& b) {
             b.answers[0].rdlength = 11; // "host.local" takes 12
             b.additional.push_back(b.answers[0]);
         },
         Check::BadLength},
        {"name for another address", llmnr, AddPtr(kAddress + 1, "other"), Check::ForeignAnswer},
        {"name for another address only", mdns, Owner(Builder::ReverseLabels(kAddress ^ 1 << 24)),
         Check::ForeignAnswer},
        {"PTR for a service", mdns, Owner(Builder::LabelsOf("_http._tcp.local")),
         Check::ForeignAnswer},
        {"no records", llmnr, [](Builder& b) { b.answers.clear(); }, Check::NoAnswer},
        {"only an A record", mdns, [](Builder& b) { b.answers[0].type = 1; }, Check::NoAnswer},
        {"only the root", llmnr, Target({}), Check::NoAnswer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Text(c.protocol) + ", " + c.what);
        const PtrAnswer answer = Read(Answer(c.protocol, c.change), c.protocol);
        EXPECT_EQ(answer.check, c.check) << PtrAnswerCheckName(answer.check);
        EXPECT_TRUE(answer.names.empty());
        EXPECT_EQ(answer.namesInAnswer, 0u);
    }
    EXPECT_EQ(ReadPtrAnswer(nullptr, 0, kId, kAddress, mdns).check, Check::Truncated);
}

TEST(PtrQuery, CutAnswersAreRefusedAtEveryLength) {
    const Bytes answers[] = {
        Answer(PtrProtocol::Llmnr,
               [](Builder& b) { b.answers.push_back(Builder::Ptr(kAddress, "alias")); }),
        Answer(PtrProtocol::Mdns, [](Builder& b) { b.additional.push_back(b.answers[0]); }),
    };
    for (const PtrProtocol protocol : {PtrProtocol::Llmnr, PtrProtocol::Mdns}) {
        const Bytes& full = answers[protocol == PtrProtocol::Mdns];
        for (std::size_t length = 0; length < full.size(); ++length)
            ASSERT_EQ(Read(full, protocol, length).check, Check::Truncated)
                << Text(protocol) << ", length " << length;
        EXPECT_TRUE(Read(full, protocol).accepted()) << Text(protocol);
    }
}

} // namespace
