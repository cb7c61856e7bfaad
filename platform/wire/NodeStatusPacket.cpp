#include "platform/wire/NodeStatusPacket.h"

#include "platform/wire/DnsName.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::uint16_t kTypeNbstat = 0x0021;
constexpr std::uint16_t kClassIn = 0x0001;
// Real replies use one pointer at most (0xC00C back to the question); a few
// hops leave room for odd but honest encoders and still bound the walk.
constexpr int kMaxPointerHops = 4;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// Steps over the encoded name at `pos`: on success `pos` is just past the
// name as it stands in the datagram.
NodeStatusReplyCheck SkipName(const unsigned char* d, std::size_t length, std::size_t& pos) {
    const DnsNameWalk walk = WalkDnsName(d, length, pos, kMaxPointerHops);
    if (!walk.whole())
        return walk.check == DnsNameCheck::Bad ? NodeStatusReplyCheck::BadName
                                               : NodeStatusReplyCheck::Truncated;
    pos = walk.end;
    return NodeStatusReplyCheck::Accepted;
}

struct Answer {
    std::size_t rdata = 0;
    std::size_t rdlength = 0;
    unsigned names = 0;
};

NodeStatusReplyCheck CheckReply(const unsigned char* d, std::size_t length,
                                std::uint16_t expectedId, Answer& answer) {
    if (d == nullptr || length < kHeaderSize)
        return NodeStatusReplyCheck::Truncated;
    if (Read16(d) != expectedId)
        return NodeStatusReplyCheck::WrongTransaction;
    const std::uint16_t flags = Read16(d + 2);
    if ((flags & 0x8000) == 0)
        return NodeStatusReplyCheck::NotResponse;
    if (((flags >> 11) & 0x0F) != 0)
        return NodeStatusReplyCheck::WrongOpcode;
    if ((flags & 0x000F) != 0)
        return NodeStatusReplyCheck::ErrorCode;
    const std::uint16_t qdcount = Read16(d + 4);
    if (Read16(d + 6) == 0)
        return NodeStatusReplyCheck::NoAnswer;

    std::size_t pos = kHeaderSize;
    // Replies normally carry no question; skip any that a peer echoes back.
    for (unsigned i = 0; i < qdcount; ++i) {
        NodeStatusReplyCheck check = SkipName(d, length, pos);
        if (check != NodeStatusReplyCheck::Accepted)
            return check;
        if (length - pos < 4)
            return NodeStatusReplyCheck::Truncated;
        pos += 4;
    }

    NodeStatusReplyCheck check = SkipName(d, length, pos);
    if (check != NodeStatusReplyCheck::Accepted)
        return check;
    if (length - pos < 10) // type, class, TTL, RDLENGTH
        return NodeStatusReplyCheck::Truncated;
    if (Read16(d + pos) != kTypeNbstat)
        return NodeStatusReplyCheck::WrongType;
    if (Read16(d + pos + 2) != kClassIn)
        return NodeStatusReplyCheck::WrongClass;
    const std::size_t rdlength = Read16(d + pos + 8);
    pos += 10;
    if (rdlength > length - pos || rdlength < 1)
        return NodeStatusReplyCheck::BadLength;
    const unsigned names = d[pos];
    if (1 + kNodeStatusEntrySize * names > rdlength)
        return NodeStatusReplyCheck::BadLength;

    answer.rdata = pos;
    answer.rdlength = rdlength;
    answer.names = names;
    return NodeStatusReplyCheck::Accepted;
}

} // namespace

std::array<unsigned char, kNodeStatusRequestSize>
BuildNodeStatusRequest(std::uint16_t transactionId) {
    std::array<unsigned char, kNodeStatusRequestSize> p{};
    p[0] = static_cast<unsigned char>(transactionId >> 8);
    p[1] = static_cast<unsigned char>(transactionId);
    // flags 0: a unicast query, no recursion
    p[5] = 1; // QDCOUNT
    std::size_t pos = kHeaderSize;
    p[pos++] = 0x20;
    // First-level encoding of '*' followed by 15 NUL bytes: each byte becomes
    // two letters 'A' + nibble.
    for (int i = 0; i < 16; ++i) {
        const unsigned char c = i == 0 ? '*' : 0;
        p[pos++] = static_cast<unsigned char>('A' + (c >> 4));
        p[pos++] = static_cast<unsigned char>('A' + (c & 0x0F));
    }
    p[pos++] = 0x00;
    p[pos++] = 0x00;
    p[pos++] = kTypeNbstat;
    p[pos++] = 0x00;
    p[pos++] = kClassIn;
    return p;
}

NodeStatusVerdict DecodeNodeStatusAnswer(const unsigned char* datagram, std::size_t length,
                                         std::uint16_t expectedId, NodeStatusAnswer& out) {
    NodeStatusVerdict verdict;
    Answer answer;
    verdict.check = CheckReply(datagram, length, expectedId, answer);
    if (!verdict.accepted())
        return verdict;
    verdict.namesInReply = answer.names;
    out = NodeStatusAnswer{};
    const unsigned char* entries = datagram + answer.rdata + 1;
    for (unsigned i = 0; i < answer.names; ++i) {
        const unsigned char* entry = entries + i * kNodeStatusEntrySize;
        NodeStatusAnswer::Name name;
        std::memcpy(name.bytes.data(), entry, name.bytes.size());
        name.flags = Read16(entry + name.bytes.size());
        out.names.push_back(name);
    }
    // Only what fits in RDLENGTH is there; the rest reads as zero.
    const std::size_t afterNames = 1 + kNodeStatusEntrySize * answer.names;
    out.statisticsLength = std::min(answer.rdlength - afterNames, kNodeStatusStatisticsSize);
    std::memcpy(out.statistics.data(), datagram + answer.rdata + afterNames, out.statisticsLength);
    if (out.statisticsLength >= out.unitId.size())
        std::memcpy(out.unitId.data(), out.statistics.data(), out.unitId.size());
    return verdict;
}

const char* NodeStatusReplyCheckName(NodeStatusReplyCheck check) {
    switch (check) {
    case NodeStatusReplyCheck::Accepted:
        return "accepted";
    case NodeStatusReplyCheck::Truncated:
        return "truncated";
    case NodeStatusReplyCheck::WrongTransaction:
        return "wrong transaction id";
    case NodeStatusReplyCheck::NotResponse:
        return "not a response";
    case NodeStatusReplyCheck::WrongOpcode:
        return "wrong opcode";
    case NodeStatusReplyCheck::ErrorCode:
        return "error code";
    case NodeStatusReplyCheck::NoAnswer:
        return "no answer";
    case NodeStatusReplyCheck::BadName:
        return "bad record name";
    case NodeStatusReplyCheck::WrongType:
        return "wrong type";
    case NodeStatusReplyCheck::WrongClass:
        return "wrong class";
    case NodeStatusReplyCheck::BadLength:
        return "bad length";
    }
    return "unknown";
}
