#include "tests/lan/LlmnrResponder.h"

#include "platform/wire/DnsName.h"

#include <algorithm>
#include <utility>

namespace {

using Bytes = DnsAnswerBuilder::Bytes;
using Labels = DnsAnswerBuilder::Labels;

constexpr std::size_t kHeaderSize = 12;
constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypePtr = 12;
constexpr std::uint16_t kTypeAny = 255;
constexpr std::uint16_t kClassIn = 1;
constexpr std::uint16_t kFlagResponse = 0x8000;
constexpr std::size_t kMaxLabel = 63;
constexpr int kThousand = 1000;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

struct Query {
    std::uint16_t id = 0;
    Labels name;
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
};

// A sender puts one question in a query and no records beside it (an OPT
// record in the additional section may follow); its name is not compressed,
// there being nothing before it to point to.
std::optional<Query> ParseQuery(const unsigned char* d, std::size_t length) {
    if (d == nullptr || length < kHeaderSize)
        return std::nullopt;
    const std::uint16_t flags = Read16(d + 2);
    if ((flags & kFlagResponse) != 0 || ((flags >> 11) & 0x0F) != 0)
        return std::nullopt;
    if (Read16(d + 4) != 1 || Read16(d + 6) != 0 || Read16(d + 8) != 0)
        return std::nullopt;
    Query query;
    query.id = Read16(d);
    DnsName name;
    const DnsNameWalk walk = WalkDnsName(d, length, kHeaderSize, 0, &name);
    if (!walk.whole())
        return std::nullopt;
    for (std::size_t at = 0; name.bytes[at] != 0; at += 1u + name.bytes[at])
        query.name.emplace_back(reinterpret_cast<const char*>(name.bytes.data()) + at + 1,
                                name.bytes[at]);
    const std::size_t pos = walk.end;
    if (length - pos < 4)
        return std::nullopt;
    query.type = Read16(d + pos);
    query.klass = Read16(d + pos + 2);
    return query;
}

bool SameLabels(const Labels& a, const Labels& b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](const std::string& x, const std::string& y) {
                          return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                                            [&](char p, char q) { return fold(p) == fold(q); });
                      });
}

// The name with `suffix` added to its first label.
Labels WithFirstLabel(Labels name, const std::string& suffix) {
    if (name.empty())
        name.emplace_back();
    name.front() += suffix;
    return name;
}

} // namespace

std::optional<LlmnrResponder::Behaviour> LlmnrResponder::BehaviourNamed(std::string_view word) {
    const std::pair<std::string_view, Behaviour> words[] = {
        {"honest", Behaviour::Honest},          {"other-address", Behaviour::OtherAddress},
        {"thousand", Behaviour::ThousandNames}, {"loop", Behaviour::PointerLoop},
        {"long-name", Behaviour::LongName},     {"control", Behaviour::ControlCharacters},
    };
    for (const auto& [text, behaviour] : words)
        if (text == word)
            return behaviour;
    return std::nullopt;
}

LlmnrResponder::LlmnrResponder(std::string_view name, std::vector<std::uint32_t> addresses,
                               Behaviour behaviour)
    : m_name(DnsAnswerBuilder::LabelsOf(name)), m_addresses(std::move(addresses)),
      m_behaviour(behaviour) {}

std::optional<Bytes> LlmnrResponder::Reply(const unsigned char* datagram,
                                           std::size_t length) const {
    const std::optional<Query> query = ParseQuery(datagram, length);
    if (!query || query->klass != kClassIn)
        return std::nullopt;
    // The response: the id and the question as they came, all flags clear
    // but QR (the name is ours alone and proven, so neither C nor T).
    DnsAnswerBuilder reply;
    reply.id = query->id;
    reply.flags = kFlagResponse;
    reply.question = query->name;
    reply.qtype = query->type;
    reply.qclass = query->klass;
    if (query->type == kTypePtr) {
        for (const std::uint32_t address : m_addresses)
            if (SameLabels(query->name, DnsAnswerBuilder::ReverseLabels(address)))
                return PtrReply(reply, address);
        return std::nullopt;
    }
    if ((query->type == kTypeA || query->type == kTypeAny) && SameLabels(query->name, m_name)) {
        for (const std::uint32_t address : m_addresses) {
            DnsRecord record;
            record.owner = query->name;
            record.type = kTypeA;
            record.rdata = [address](std::size_t) {
                return Bytes{static_cast<unsigned char>(address >> 24),
                             static_cast<unsigned char>(address >> 16),
                             static_cast<unsigned char>(address >> 8),
                             static_cast<unsigned char>(address)};
            };
            reply.answers.push_back(record);
        }
        return reply.bytes();
    }
    return std::nullopt;
}

Bytes LlmnrResponder::PtrReply(const DnsAnswerBuilder& base, std::uint32_t address) const {
    DnsAnswerBuilder reply = base;
    DnsRecord record;
    record.owner = *base.question;
    record.target = m_name;
    switch (m_behaviour) {
    case Behaviour::Honest:
        break;
    case Behaviour::OtherAddress:
        record.owner = DnsAnswerBuilder::ReverseLabels(address + 1);
        break;
    case Behaviour::ThousandNames:
        for (int i = 0; i < kThousand - 1; ++i) {
            record.target = WithFirstLabel(m_name, "-" + std::to_string(i));
            reply.answers.push_back(record);
        }
        record.target = WithFirstLabel(m_name, "-" + std::to_string(kThousand - 1));
        break;
    case Behaviour::PointerLoop:
        record.rdata = [](std::size_t at) {
            return Bytes{static_cast<unsigned char>(0xC0 | at >> 8),
                         static_cast<unsigned char>(at)};
        };
        break;
    case Behaviour::LongName:
        record.target = Labels(4, std::string(kMaxLabel, 'x'));
        break;
    case Behaviour::ControlCharacters:
        record.target = WithFirstLabel(m_name, "\x07\x1B[2J\n");
        break;
    }
    reply.answers.push_back(record);
    return reply.bytes();
}
