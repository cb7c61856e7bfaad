#include "platform/wire/NodeStatusPacket.h"
#include "platform/win32/AdapterStatus.h"
#include "tests/platform/NodeStatusReplyBuilder.h"

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Check = NodeStatusReplyCheck;
using Builder = NodeStatusReplyBuilder;
constexpr unsigned char kUntouched = 0xEE;

struct Decoded {
    AdapterStatusVerdict verdict;
    Bytes buffer;

    const ADAPTER_STATUS& status() const {
        return *reinterpret_cast<const ADAPTER_STATUS*>(buffer.data());
    }
    const NAME_BUFFER& name(std::size_t i) const {
        return *reinterpret_cast<const NAME_BUFFER*>(buffer.data() + 60 + 18 * i);
    }
    std::string name15(std::size_t i) const {
        return std::string(reinterpret_cast<const char*>(name(i).name), 15);
    }
    bool filledWith(unsigned char value, std::size_t from = 0) const {
        return std::all_of(buffer.begin() + static_cast<long>(from), buffer.end(),
                           [value](unsigned char b) { return b == value; });
    }
    bool untouched() const { return filledWith(kUntouched); }
};

Decoded Decode(const Bytes& datagram, std::uint16_t id, std::size_t bufferLength = 600,
               std::size_t length = SIZE_MAX) {
    Decoded d;
    d.buffer.assign(bufferLength, kUntouched);
    d.verdict = DecodeNodeStatusReply(datagram.data(), std::min(length, datagram.size()), id,
                                      d.buffer.data(), d.buffer.size());
    return d;
}

TEST(NodeStatusPacket, RequestBytesAreExact) {
    Bytes expected = {
        0xBE, 0xEF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // header
        0x20, 'C',  'K',                                                        // '*'
    };
    expected.insert(expected.end(), 30, 'A');                        // 15 NUL bytes
    expected.insert(expected.end(), {0x00, 0x00, 0x21, 0x00, 0x01}); // end, NBSTAT, IN
    ASSERT_EQ(expected.size(), 50u);
    const auto request = BuildNodeStatusRequest(0xBEEF);
    EXPECT_EQ(Bytes(request.begin(), request.end()), expected);
}

TEST(NodeStatusPacket, WorkstationReplyIsLaidOutAsAdapterStatusAndNameBuffers) {
    const Decoded d = Decode(Builder::WorkstationBytes(0x4242), 0x4242);
    ASSERT_TRUE(d.verdict.accepted()) << NodeStatusReplyCheckName(d.verdict.check);
    EXPECT_EQ(d.verdict.retcode, NRC_GOODRET);
    EXPECT_EQ(d.verdict.namesInReply, 6u);
    EXPECT_EQ(d.verdict.namesStored, 6u);

    const ADAPTER_STATUS& s = d.status();
    const unsigned char mac[6] = {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(std::memcmp(s.adapter_address, mac, 6), 0);
    EXPECT_EQ(s.name_count, 6);
    EXPECT_EQ(s.rev_major, 3);
    EXPECT_EQ(s.rev_minor, 1);
    EXPECT_EQ(s.duration, 0x0102);
    EXPECT_EQ(s.xmit_success, 0x00010203u);
    EXPECT_EQ(s.max_sess_pkt_size, 0x05DC);

    const struct {
        const char* name;
        unsigned char suffix;
        UCHAR flags;
    } expected[] = {
        {"PC-01          ", 0x00, REGISTERED}, {"WORKGROUP      ", 0x00, GROUP_NAME | REGISTERED},
        {"PC-01          ", 0x20, REGISTERED}, {"PC-01          ", 0x03, REGISTERED},
        {"ADMIN          ", 0x03, REGISTERED}, {"WORKGROUP      ", 0x1E, GROUP_NAME | REGISTERED},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d.name15(i), expected[i].name);
        EXPECT_EQ(d.name(i).name[15], expected[i].suffix);
        EXPECT_EQ(d.name(i).name_num, i + 1);
        EXPECT_EQ(d.name(i).name_flags, expected[i].flags);
    }
    EXPECT_TRUE(d.filledWith(0, 60 + 18 * 6)) << "bytes beyond the entries";
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

TEST(NodeStatusPacket, CutDatagramsAreIgnoredAndLeaveTheBufferAlone) {
    const Bytes full = Builder::WorkstationBytes(7);
    for (std::size_t length = 0; length < full.size(); ++length) {
        const Decoded d = Decode(full, 7, 600, length);
        ASSERT_FALSE(d.verdict.accepted()) << "length " << length;
        ASSERT_TRUE(d.untouched()) << "length " << length;
    }
    EXPECT_TRUE(Decode(full, 7).verdict.accepted());

    // Questions said to run past the end are ignored as well.
    const Decoded d = Decode(Builder::WorkstationBytes(7, [](auto& r) { r.qdcount = 0xFFFF; }), 7);
    EXPECT_FALSE(d.verdict.accepted());
    EXPECT_TRUE(d.untouched());

    unsigned char buffer[600];
    EXPECT_EQ(DecodeNodeStatusReply(nullptr, 0, 0, buffer, sizeof buffer).check, Check::Truncated);
}

TEST(NodeStatusPacket, StatisticsBlockIsOptionalBeyondWhatRdlengthCovers) {
    // A reply whose RDLENGTH stops early is consistent, so it counts; the
    // unit id is read only when all six bytes are there.
    for (std::size_t statistics = 0; statistics <= 46; ++statistics) {
        SCOPED_TRACE(statistics);
        const Decoded d = Decode(
            Builder::WorkstationBytes(9, [&](auto& r) { r.statisticsLength = statistics; }), 9);
        ASSERT_TRUE(d.verdict.accepted());
        EXPECT_EQ(d.verdict.retcode, NRC_GOODRET);
        EXPECT_EQ(d.status().adapter_address[5], statistics >= 6 ? 0x5E : 0x00);
        EXPECT_EQ(d.status().adapter_address[1], statistics >= 6 ? 0x1B : 0x00);
        EXPECT_EQ(d.status().max_sess_pkt_size, statistics == 46 ? 0x05DC : 0);
        EXPECT_EQ(d.name15(5), "WORKGROUP      ");
    }
}

// Read straight from the datagram, an answer holds what the layout holds:
// the unit id (only when all six bytes came), every name and its flags.
TEST(NodeStatusPacket, TheAnswerReadDirectlyMatchesTheLayout) {
    const std::vector<std::function<void(Builder&)>> changes = {
        [](Builder&) {},
        [](Builder& r) { r.statisticsLength = 5; },
        [](Builder& r) { r.statisticsLength = 0; },
        [](Builder& r) { r.names.clear(); },
        [](Builder& r) { r.names.resize(30, r.names.front()); },
        [](Builder& r) { r.names[1].flags = 0x8000 | 0x1000; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<unsigned char> bytes = Builder::WorkstationBytes(7, changes[i]);
        NodeStatusAnswer answer;
        const NodeStatusVerdict direct = DecodeNodeStatusAnswer(bytes.data(), bytes.size(), 7, answer);
        const Decoded laid = Decode(bytes, 7);
        ASSERT_TRUE(direct.accepted());
        ASSERT_EQ(answer.names.size(), laid.verdict.namesStored);
        ASSERT_EQ(direct.namesInReply, laid.verdict.namesInReply);
        EXPECT_EQ(0, std::memcmp(answer.unitId.data(), laid.status().adapter_address, 6));
        for (std::size_t n = 0; n < answer.names.size(); ++n) {
            NAME_BUFFER name;
            std::memcpy(&name, laid.buffer.data() + 60 + 18 * n, sizeof name);
            EXPECT_EQ(0, std::memcmp(name.name, answer.names[n].bytes.data(), 16)) << n;
            EXPECT_EQ(name.name_flags, NameFlagsFromReply(answer.names[n].flags)) << n;
        }
    }
    // What the layout refuses, the direct reading refuses the same way.
    NodeStatusAnswer answer;
    const std::vector<unsigned char> bytes = Builder::WorkstationBytes(7);
    EXPECT_EQ(DecodeNodeStatusAnswer(bytes.data(), bytes.size(), 8, answer).check,
              NodeStatusReplyCheck::WrongTransaction);
    EXPECT_EQ(DecodeNodeStatusAnswer(bytes.data(), 40, 7, answer).check,
              NodeStatusReplyCheck::Truncated);
}

TEST(NodeStatusPacket, HeaderRecordAndNameChecksDecideTheVerdict) {
    const auto with = [](const std::function<void(Builder&)>& change) {
        return Builder::WorkstationBytes(0x1111, change);
    };
    const auto named = [](Bytes question, std::uint16_t qdcount, Bytes rrName) {
        return Builder::WorkstationBytes(0x1111, [&](Builder& r) {
            r.question = question;
            r.qdcount = qdcount;
            r.rrName = rrName;
        });
    };
    const auto request = BuildNodeStatusRequest(0x1111);
    const Bytes star = Builder::EncodedName("*");
    Bytes starQuestion = star;
    starQuestion.insert(starQuestion.end(), {0x00, 0x21, 0x00, 0x01});
    Bytes scoped(star.begin(), star.end() - 1);
    scoped.insert(scoped.end(), {3, 'l', 'a', 'n', 0});
    Bytes longName;
    for (int i = 0; i < 5; ++i) { // 5 x 64 bytes: beyond the 255-byte limit
        longName.push_back(63);
        longName.insert(longName.end(), 63, 'A');
    }
    longName.push_back(0);

    const struct {
        const char* what;
        Bytes bytes;
        Check check;
    } cases[] = {
        {"another transaction id", Builder::WorkstationBytes(0x1112), Check::WrongTransaction},
        {"id differing in the high byte only", Builder::WorkstationBytes(0x1211),
         Check::WrongTransaction},
        {"response bit clear", with([](auto& r) { r.flags = 0x0400; }), Check::NotResponse},
        {"the request itself", Bytes(request.begin(), request.end()), Check::NotResponse},
        {"opcode 5 (registration)", with([](auto& r) { r.flags = 0xAC00; }), Check::WrongOpcode},
        {"RCODE 3", with([](auto& r) { r.flags = 0x8403; }), Check::ErrorCode},
        {"ANCOUNT 0", with([](auto& r) { r.ancount = 0; }), Check::NoAnswer},
        {"type NB", with([](auto& r) { r.type = 0x0020; }), Check::WrongType},
        {"class 3", with([](auto& r) { r.klass = 0x0003; }), Check::WrongClass},
        {"RDLENGTH one beyond the datagram",
         with([](auto& r) { r.rdlength = 1 + 18 * 6 + 46 + 1; }), Check::BadLength},
        {"RDLENGTH 0xFFFF", with([](auto& r) { r.rdlength = 0xFFFF; }), Check::BadLength},
        {"RDLENGTH 0", with([](auto& r) { r.rdlength = 0; }), Check::BadLength},
        // 3 more entries than the 46 statistics bytes hold, then just one byte too many.
        {"NUM_NAMES beyond RDLENGTH", with([](auto& r) { r.numNames = 6 + 3; }), Check::BadLength},
        {"NUM_NAMES just beyond RDLENGTH", with([](auto& r) {
             r.statisticsLength = 17;
             r.numNames = 7;
         }),
         Check::BadLength},
        // The record name, walked label by label.
        {"pointer back to the echoed question", named(starQuestion, 1, {0xC0, 0x0C}),
         Check::Accepted},
        {"scope labels after the name", named({}, 0, scoped), Check::Accepted},
        {"root name only", named({}, 0, {0x00}), Check::Accepted},
        {"pointer to itself", named({}, 0, {0xC0, 0x0C}), Check::BadName},
        {"forward pointer", named({}, 0, {0xC0, 0x20}), Check::BadName},
        {"pointer into the header", named(starQuestion, 1, {0xC0, 0x02}), Check::BadName},
        {"loop through a label that ends in a pointer",
         // Question name at 12: label "AB" then a pointer back to 12.
         named({2, 'A', 'B', 0xC0, 0x0C, 0x00, 0x21, 0x00, 0x01}, 1, {0xC0, 0x0C}), Check::BadName},
        {"label type 0x40", named({}, 0, {0x41, 'A', 0}), Check::BadName},
        {"label type 0x80", named({}, 0, {0x81, 'A', 0}), Check::BadName},
        {"name longer than 255 bytes", named({}, 0, longName), Check::BadName},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.bytes, 0x1111);
        EXPECT_EQ(d.verdict.check, c.check)
            << c.what << ": " << NodeStatusReplyCheckName(d.verdict.check);
        if (c.check == Check::Accepted) {
            EXPECT_EQ(d.name15(0), "PC-01          ") << c.what;
            EXPECT_EQ(d.status().adapter_address[5], 0x5E) << c.what;
        } else {
            EXPECT_TRUE(d.untouched()) << c.what;
        }
    }
}

TEST(NodeStatusPacket, NameCountAgainstTheCallersBuffer) {
    const auto table = [](unsigned count) {
        Builder r;
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
    } cases[] = {{0, 600, NRC_GOODRET, 0},
                 {1, 600, NRC_GOODRET, 1},
                 {30, 600, NRC_GOODRET, 30},
                 {31, 600, NRC_INCOMP, 30},
                 {255, 600, NRC_INCOMP, 30},
                 {1, 60, NRC_INCOMP, 0},
                 {1, 78, NRC_GOODRET, 1},
                 {2, 95, NRC_INCOMP, 1},
                 {255, 60 + 18 * 255, NRC_GOODRET, 255},
                 {6, 59, NRC_BUFLEN, 0},
                 {6, 1, NRC_BUFLEN, 0},
                 {6, 0, NRC_BUFLEN, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.names << " names, " << c.buffer << " bytes");
        const Decoded d = Decode(table(c.names), 0x3333, c.buffer);
        ASSERT_TRUE(d.verdict.accepted());
        EXPECT_EQ(d.verdict.retcode, c.retcode);
        EXPECT_EQ(d.verdict.namesInReply, c.names);
        EXPECT_EQ(d.verdict.namesStored, c.stored);
        if (c.retcode == NRC_BUFLEN) { // too short for the header: left alone
            EXPECT_TRUE(d.untouched());
            continue;
        }
        EXPECT_EQ(d.status().name_count, c.stored);
        if (c.stored > 0) {
            const std::string last = "N" + std::to_string(c.stored);
            EXPECT_EQ(d.name15(c.stored - 1).substr(0, last.size()), last);
        }
        EXPECT_TRUE(d.filledWith(0, 60 + 18 * c.stored)) << "bytes beyond the entries";
    }
    const Bytes reply = Builder::WorkstationBytes(1);
    EXPECT_EQ(DecodeNodeStatusReply(reply.data(), reply.size(), 1, nullptr, 600).retcode,
              NRC_BUFLEN);
}

} // namespace
