#include "platform/NodeStatusPacket.h"
#include "tests/platform/NodeStatusReplyBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kUntouched = 0xEE;

struct Decoded {
    NodeStatusVerdict verdict;
    std::vector<unsigned char> buffer;

    const ADAPTER_STATUS& status() const {
        return *reinterpret_cast<const ADAPTER_STATUS*>(buffer.data());
    }
    const NAME_BUFFER& name(std::size_t i) const {
        return *reinterpret_cast<const NAME_BUFFER*>(buffer.data() + 60 + 18 * i);
    }
    bool untouched() const {
        for (unsigned char b : buffer)
            if (b != kUntouched)
                return false;
        return true;
    }
};

Decoded Decode(const std::vector<unsigned char>& datagram, std::uint16_t id,
               std::size_t bufferLength = 600, std::size_t length = SIZE_MAX) {
    Decoded d;
    d.buffer.assign(bufferLength, kUntouched);
    d.verdict = DecodeNodeStatusReply(datagram.data(), std::min(length, datagram.size()), id,
                                      d.buffer.data(), d.buffer.size());
    return d;
}

std::string Name15(const NAME_BUFFER& n) {
    return std::string(reinterpret_cast<const char*>(n.name), 15);
}

TEST(NodeStatusPacket, RequestBytesAreExact) {
    std::vector<unsigned char> expected = {
        0xBE, 0xEF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // header
        0x20, 'C',  'K',                                                        // '*'
    };
    expected.insert(expected.end(), 30, 'A');                        // 15 NUL bytes
    expected.insert(expected.end(), {0x00, 0x00, 0x21, 0x00, 0x01}); // end, NBSTAT, IN
    ASSERT_EQ(expected.size(), 50u);
    const auto request = BuildNodeStatusRequest(0xBEEF);
    EXPECT_EQ(std::vector<unsigned char>(request.begin(), request.end()), expected);
}

TEST(NodeStatusPacket, WorkstationReplyIsLaidOutAsAdapterStatusAndNameBuffers) {
    NodeStatusReplyBuilder reply = NodeStatusReplyBuilder::Workstation(0x4242);
    reply.names.push_back({"OLD", 0x00, 0x1400});  // deregistering
    reply.names.push_back({"TWIN", 0x00, 0x0C00}); // conflict
    reply.names.push_back({"GONE", 0x00, 0x1800}); // conflict while deregistering
    reply.names.push_back({"NEW", 0x00, 0x0000});  // not yet active
    const Decoded d = Decode(reply.bytes(), 0x4242);

    ASSERT_TRUE(d.verdict.accepted()) << NodeStatusReplyCheckName(d.verdict.check);
    EXPECT_EQ(d.verdict.retcode, NRC_GOODRET);
    EXPECT_EQ(d.verdict.namesInReply, 10u);
    EXPECT_EQ(d.verdict.namesStored, 10u);

    const ADAPTER_STATUS& s = d.status();
    const unsigned char mac[6] = {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(std::memcmp(s.adapter_address, mac, 6), 0);
    EXPECT_EQ(s.name_count, 10);
    EXPECT_EQ(s.rev_major, 3);
    EXPECT_EQ(s.rev_minor, 1);
    EXPECT_EQ(s.duration, 0x0102);
    EXPECT_EQ(s.xmit_success, 0x00010203u);
    EXPECT_EQ(s.max_sess_pkt_size, 0x05DC);

    struct Expected {
        const char* name;
        unsigned char suffix;
        UCHAR flags;
    };
    const Expected expected[] = {
        {"PC-01          ", 0x00, REGISTERED},
        {"WORKGROUP      ", 0x00, GROUP_NAME | REGISTERED},
        {"PC-01          ", 0x20, REGISTERED},
        {"PC-01          ", 0x03, REGISTERED},
        {"ADMIN          ", 0x03, REGISTERED},
        {"WORKGROUP      ", 0x1E, GROUP_NAME | REGISTERED},
        {"OLD            ", 0x00, DEREGISTERED},
        {"TWIN           ", 0x00, DUPLICATE},
        {"GONE           ", 0x00, DUPLICATE_DEREG},
        {"NEW            ", 0x00, REGISTERING},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Name15(d.name(i)), expected[i].name);
        EXPECT_EQ(d.name(i).name[15], expected[i].suffix);
        EXPECT_EQ(d.name(i).name_num, i + 1);
        EXPECT_EQ(d.name(i).name_flags, expected[i].flags);
    }
    for (std::size_t i = 60 + 18 * 10; i < d.buffer.size(); ++i)
        ASSERT_EQ(d.buffer[i], 0) << "byte " << i << " beyond the entries";
}

TEST(NodeStatusPacket, NameFlagsMapGroupBitAndRegistrationState) {
    const struct {
        std::uint16_t reply;
        UCHAR flags;
    } cases[] = {
        {0x0400, REGISTERED},
        {0x8400, GROUP_NAME | REGISTERED},
        {0x0600, REGISTERED}, // permanent name
        {0x6400, REGISTERED}, // node type bits do not matter
        {0x1400, DEREGISTERED},
        {0x1000, DEREGISTERED},
        {0x0C00, DUPLICATE},
        {0x1C00, DUPLICATE_DEREG},
        {0x9800, GROUP_NAME | DUPLICATE_DEREG},
        {0x0000, REGISTERING},
        {0x8000, GROUP_NAME | REGISTERING},
        {0x01FF, REGISTERING}, // reserved bits ignored
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameFlagsFromReply(c.reply), c.flags) << std::hex << c.reply;
}

TEST(NodeStatusPacket, EveryTruncationIsIgnoredAndLeavesTheBufferAlone) {
    const std::vector<unsigned char> full = NodeStatusReplyBuilder::Workstation(7).bytes();
    for (std::size_t length = 0; length < full.size(); ++length) {
        const Decoded d = Decode(full, 7, 600, length);
        ASSERT_FALSE(d.verdict.accepted()) << "length " << length;
        ASSERT_TRUE(d.untouched()) << "length " << length;
    }
    EXPECT_TRUE(Decode(full, 7).verdict.accepted());
}

TEST(NodeStatusPacket, ZeroLengthAndNullDatagramsAreIgnored) {
    unsigned char buffer[600];
    EXPECT_EQ(DecodeNodeStatusReply(nullptr, 0, 0, buffer, sizeof buffer).check,
              NodeStatusReplyCheck::Truncated);
    const unsigned char one = 0;
    EXPECT_EQ(DecodeNodeStatusReply(&one, 0, 0, buffer, sizeof buffer).check,
              NodeStatusReplyCheck::Truncated);
}

TEST(NodeStatusPacket, StatisticsBlockIsOptionalBeyondWhatRdlengthCovers) {
    // A reply whose RDLENGTH stops early is consistent, so it counts; the
    // unit id is read only when all six bytes are there.
    for (std::size_t statistics = 0; statistics <= 46; ++statistics) {
        SCOPED_TRACE(statistics);
        NodeStatusReplyBuilder reply = NodeStatusReplyBuilder::Workstation(9);
        reply.statisticsLength = statistics;
        const Decoded d = Decode(reply.bytes(), 9);
        ASSERT_TRUE(d.verdict.accepted());
        EXPECT_EQ(d.verdict.retcode, NRC_GOODRET);
        EXPECT_EQ(d.status().adapter_address[5], statistics >= 6 ? 0x5E : 0x00);
        EXPECT_EQ(d.status().adapter_address[1], statistics >= 6 ? 0x1B : 0x00);
        EXPECT_EQ(d.status().max_sess_pkt_size, statistics == 46 ? 0x05DC : 0);
        EXPECT_EQ(Name15(d.name(5)), "WORKGROUP      ");
    }
}

TEST(NodeStatusPacket, HeaderAndRecordChecksRejectTheReply) {
    const auto workstation = [] { return NodeStatusReplyBuilder::Workstation(0x1111); };
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        NodeStatusReplyCheck check;
    } cases[] = {
        {"another transaction id", NodeStatusReplyBuilder::Workstation(0x1112).bytes(),
         NodeStatusReplyCheck::WrongTransaction},
        {"id differing in the high byte only", NodeStatusReplyBuilder::Workstation(0x1211).bytes(),
         NodeStatusReplyCheck::WrongTransaction},
        {"response bit clear",
         [&] {
             auto r = workstation();
             r.flags = 0x0400;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::NotResponse},
        {"the request itself",
         [] {
             auto q = BuildNodeStatusRequest(0x1111);
             return std::vector<unsigned char>(q.begin(), q.end());
         }(),
         NodeStatusReplyCheck::NotResponse},
        {"opcode 5 (registration)",
         [&] {
             auto r = workstation();
             r.flags = 0xAC00;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::WrongOpcode},
        {"RCODE 3",
         [&] {
             auto r = workstation();
             r.flags = 0x8403;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::ErrorCode},
        {"ANCOUNT 0",
         [&] {
             auto r = workstation();
             r.ancount = 0;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::NoAnswer},
        {"type NB",
         [&] {
             auto r = workstation();
             r.type = 0x0020;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::WrongType},
        {"class 3",
         [&] {
             auto r = workstation();
             r.klass = 0x0003;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::WrongClass},
        {"RDLENGTH one beyond the datagram",
         [&] {
             auto r = workstation();
             r.rdlength = static_cast<std::uint16_t>(1 + 18 * 6 + 46 + 1);
             return r.bytes();
         }(),
         NodeStatusReplyCheck::BadLength},
        {"RDLENGTH 0xFFFF",
         [&] {
             auto r = workstation();
             r.rdlength = 0xFFFF;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::BadLength},
        {"RDLENGTH 0",
         [&] {
             auto r = workstation();
             r.rdlength = 0;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::BadLength},
        {"NUM_NAMES beyond RDLENGTH",
         [&] {
             auto r = workstation();
             r.numNames = 6 + 3; // 3 more entries than the 46 statistics bytes hold
             return r.bytes();
         }(),
         NodeStatusReplyCheck::BadLength},
        {"NUM_NAMES just beyond RDLENGTH",
         [&] {
             auto r = workstation();
             r.statisticsLength = 17;
             r.numNames = 7;
             return r.bytes();
         }(),
         NodeStatusReplyCheck::BadLength},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.bytes, 0x1111);
        EXPECT_EQ(d.verdict.check, c.check)
            << c.what << ": " << NodeStatusReplyCheckName(d.verdict.check);
        EXPECT_TRUE(d.untouched()) << c.what;
    }
}

TEST(NodeStatusPacket, RecordNameIsWalkedLabelByLabel) {
    const auto with = [](std::vector<unsigned char> question, std::uint16_t qdcount,
                         std::vector<unsigned char> rrName) {
        NodeStatusReplyBuilder r = NodeStatusReplyBuilder::Workstation(0x2222);
        r.question = std::move(question);
        r.qdcount = qdcount;
        r.rrName = std::move(rrName);
        return r.bytes();
    };
    const std::vector<unsigned char> star = NodeStatusReplyBuilder::EncodedName("*");
    std::vector<unsigned char> starQuestion = star;
    starQuestion.insert(starQuestion.end(), {0x00, 0x21, 0x00, 0x01});
    std::vector<unsigned char> longName;
    for (int i = 0; i < 5; ++i) { // 5 x 64 bytes: beyond the 255-byte limit
        longName.push_back(63);
        longName.insert(longName.end(), 63, 'A');
    }
    longName.push_back(0);

    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        NodeStatusReplyCheck check;
    } cases[] = {
        {"pointer back to the echoed question", with(starQuestion, 1, {0xC0, 0x0C}),
         NodeStatusReplyCheck::Accepted},
        {"scope labels after the name",
         [&] {
             auto name = star;
             name.pop_back();
             name.insert(name.end(), {3, 'l', 'a', 'n', 0});
             return with({}, 0, name);
         }(),
         NodeStatusReplyCheck::Accepted},
        {"root name only", with({}, 0, {0x00}), NodeStatusReplyCheck::Accepted},
        {"pointer to itself", with({}, 0, {0xC0, 0x0C}), NodeStatusReplyCheck::BadName},
        {"forward pointer", with({}, 0, {0xC0, 0x20}), NodeStatusReplyCheck::BadName},
        {"pointer into the header", with(starQuestion, 1, {0xC0, 0x02}),
         NodeStatusReplyCheck::BadName},
        {"loop through a label that ends in a pointer",
         // Question name at 12: label "AB" then a pointer back to 12.
         with({2, 'A', 'B', 0xC0, 0x0C, 0x00, 0x21, 0x00, 0x01}, 1, {0xC0, 0x0C}),
         NodeStatusReplyCheck::BadName},
        {"label type 0x40", with({}, 0, {0x41, 'A', 0}), NodeStatusReplyCheck::BadName},
        {"label type 0x80", with({}, 0, {0x81, 'A', 0}), NodeStatusReplyCheck::BadName},
        {"name longer than 255 bytes", with({}, 0, longName), NodeStatusReplyCheck::BadName},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.bytes, 0x2222);
        EXPECT_EQ(d.verdict.check, c.check)
            << c.what << ": " << NodeStatusReplyCheckName(d.verdict.check);
        if (c.check == NodeStatusReplyCheck::Accepted) {
            EXPECT_EQ(Name15(d.name(0)), "PC-01          ") << c.what;
            EXPECT_EQ(d.status().adapter_address[5], 0x5E) << c.what;
        } else {
            EXPECT_TRUE(d.untouched()) << c.what;
        }
    }
}

TEST(NodeStatusPacket, QuestionCountBeyondTheDatagramIsIgnored) {
    NodeStatusReplyBuilder r = NodeStatusReplyBuilder::Workstation(0x2222);
    r.qdcount = 0xFFFF;
    const Decoded d = Decode(r.bytes(), 0x2222);
    EXPECT_FALSE(d.verdict.accepted());
    EXPECT_TRUE(d.untouched());
}

TEST(NodeStatusPacket, NameCountAgainstTheCallersBuffer) {
    const auto table = [](unsigned count) {
        NodeStatusReplyBuilder r;
        r.id = 0x3333;
        for (unsigned i = 0; i < count; ++i)
            r.names.push_back({"N" + std::to_string(i + 1), 0x03, 0x0400});
        return r.bytes();
    };
    const struct {
        unsigned names;
        std::size_t buffer;
        UCHAR retcode;
        unsigned stored;
    } cases[] = {
        {0, 600, NRC_GOODRET, 0},
        {1, 600, NRC_GOODRET, 1},
        {30, 600, NRC_GOODRET, 30},
        {31, 600, NRC_INCOMP, 30},
        {255, 600, NRC_INCOMP, 30},
        {1, 60, NRC_INCOMP, 0},
        {1, 78, NRC_GOODRET, 1},
        {2, 95, NRC_INCOMP, 1},
        {255, 60 + 18 * 255, NRC_GOODRET, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.names << " names, " << c.buffer << " bytes");
        const Decoded d = Decode(table(c.names), 0x3333, c.buffer);
        ASSERT_TRUE(d.verdict.accepted());
        EXPECT_EQ(d.verdict.retcode, c.retcode);
        EXPECT_EQ(d.verdict.namesInReply, c.names);
        EXPECT_EQ(d.verdict.namesStored, c.stored);
        EXPECT_EQ(d.status().name_count, c.stored);
        if (c.stored > 0) {
            const std::string last = "N" + std::to_string(c.stored);
            EXPECT_EQ(Name15(d.name(c.stored - 1)).substr(0, last.size()), last);
        }
        for (std::size_t i = 60 + 18 * c.stored; i < c.buffer; ++i)
            ASSERT_EQ(d.buffer[i], 0) << "byte " << i;
    }
}

TEST(NodeStatusPacket, BufferShorterThanTheHeaderIsLeftAlone) {
    for (std::size_t length : {0u, 1u, 59u}) {
        const Decoded d = Decode(NodeStatusReplyBuilder::Workstation(1).bytes(), 1, length);
        ASSERT_TRUE(d.verdict.accepted());
        EXPECT_EQ(d.verdict.retcode, NRC_BUFLEN);
        EXPECT_TRUE(d.untouched());
    }
    const auto reply = NodeStatusReplyBuilder::Workstation(1).bytes();
    EXPECT_EQ(DecodeNodeStatusReply(reply.data(), reply.size(), 1, nullptr, 600).retcode,
              NRC_BUFLEN);
}

} // namespace
