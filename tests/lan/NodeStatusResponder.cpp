#include "tests/lan/NodeStatusResponder.h"

#include "tests/lan/WideLan.h"
#include "tests/platform/NodeStatusReplyBuilder.h"

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kEncodedNameSize = 32;
constexpr std::size_t kMaxNameLength = 255;
constexpr std::uint16_t kTypeNbstat = 0x0021;
constexpr std::uint16_t kClassIn = 0x0001;
// Response, authoritative answer, opcode query, no error.
constexpr std::uint16_t kReplyFlags = 0x8400;
constexpr std::uint16_t kFlagActive = 0x0400;
constexpr std::uint16_t kFlagGroup = 0x8000;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// The 32 letters of the first-level encoding of '*' and 15 NUL bytes.
bool IsEncodedStar(const unsigned char* letters) {
    for (std::size_t i = 0; i < kEncodedNameSize; ++i) {
        const unsigned char c = letters[i];
        if (c < 'A' || c > 'P')
            return false;
    }
    if (letters[0] != 'A' + ('*' >> 4) || letters[1] != 'A' + ('*' & 0x0F))
        return false;
    for (std::size_t i = 2; i < kEncodedNameSize; ++i)
        if (letters[i] != 'A')
            return false;
    return true;
}

} // namespace

NodeStatusResponder::NodeStatusResponder(TestLanPrefix prefix) : m_prefix(prefix) {}

NodeStatusResponder::NodeStatusResponder(const TestLanHost& host)
    : m_oneHost(true), m_names(host.RegisteredNames()), m_unitId(host.MacBytes()) {
    if (const auto prefix = TestLanPrefix::Parse(host.address + "/32"))
        m_prefix = *prefix;
    else
        m_prefix = {0, 0}; // never: the layout's addresses are checked
}

std::optional<std::uint16_t> NodeStatusResponder::QueryId(const unsigned char* d,
                                                          std::size_t length) {
    if (d == nullptr || length < kHeaderSize)
        return std::nullopt;
    const std::uint16_t flags = Read16(d + 2);
    if ((flags & 0x8000) != 0 || ((flags >> 11) & 0x0F) != 0)
        return std::nullopt; // a response, or another operation
    if (Read16(d + 4) != 1 || Read16(d + 6) != 0 || Read16(d + 8) != 0 || Read16(d + 10) != 0)
        return std::nullopt;

    std::size_t pos = kHeaderSize;
    if (length - pos < 1 + kEncodedNameSize || d[pos] != kEncodedNameSize ||
        !IsEncodedStar(d + pos + 1))
        return std::nullopt;
    pos += 1 + kEncodedNameSize;
    // Scope labels, up to the closing zero; no pointers in a question.
    std::size_t total = 1 + kEncodedNameSize;
    for (;;) {
        if (pos >= length)
            return std::nullopt;
        const unsigned char label = d[pos];
        if (label == 0)
            break;
        total += 1u + label;
        if ((label & 0xC0) != 0 || total > kMaxNameLength || length - pos - 1 < label)
            return std::nullopt;
        pos += 1u + label;
    }
    ++pos;
    if (length - pos != 4 || Read16(d + pos) != kTypeNbstat || Read16(d + pos + 2) != kClassIn)
        return std::nullopt;
    return Read16(d);
}

std::optional<std::vector<unsigned char>>
NodeStatusResponder::Reply(const unsigned char* datagram, std::size_t length,
                           std::uint32_t destination) const {
    if (!m_prefix.Contains(destination) ||
        (!m_oneHost && !WideLan::AnswersNodeStatus(destination)))
        return std::nullopt;
    const std::optional<std::uint16_t> id = QueryId(datagram, length);
    if (!id)
        return std::nullopt;
    NodeStatusReplyBuilder reply;
    reply.id = *id;
    reply.flags = kReplyFlags;
    for (const TestLanName& name : m_oneHost ? m_names : WideLan::Names(destination))
        reply.names.push_back(
            {name.name, name.suffix,
             static_cast<std::uint16_t>(kFlagActive | (name.group ? kFlagGroup : 0))});
    reply.unitId = m_oneHost ? m_unitId : WideLan::UnitId(destination);
    return reply.bytes();
}
