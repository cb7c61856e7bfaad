#include "platform/wire/PtrQuery.h"

#include "platform/text/TextCodec.h"
#include "platform/wire/DnsName.h"

#include <string_view>

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kRecordFixedSize = 10; // type, class, TTL, RDLENGTH
constexpr std::uint16_t kTypePtr = 12;
constexpr std::uint16_t kClassIn = 1;
// mDNS uses the top bit of the class: cache-flush in a record, "unicast
// response wanted" in a question. Neither changes what the record says.
constexpr std::uint16_t kMdnsClassBit = 0x8000;

constexpr std::uint16_t kFlagResponse = 0x8000;
constexpr std::uint16_t kFlagTruncated = 0x0200;
// Where DNS has "recursion desired", LLMNR has "tentative".
constexpr std::uint16_t kFlagTentative = 0x0100;

// Honest encoders end a run of labels with one pointer and rarely chain more
// than two or three; the backwards rule already rules out loops, the cap
// keeps a chain of pointers to pointers from costing a walk of the datagram.
constexpr int kMaxPointerHops = 16;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void Append16(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

DnsName ReverseWireName(std::uint32_t address) {
    DnsName name;
    const auto label = [&name](std::string_view text) {
        name.bytes[name.size++] = static_cast<unsigned char>(text.size());
        for (const char c : text)
            name.bytes[name.size++] = static_cast<unsigned char>(c);
    };
    for (int shift = 0; shift < 32; shift += 8)
        label(std::to_string((address >> shift) & 0xFF));
    label("in-addr");
    label("arpa");
    name.bytes[name.size++] = 0;
    return name;
}

unsigned char FoldCase(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Names compare without regard to ASCII case. A length byte is at most 63,
// below every letter, so folding the whole wire form is safe.
bool SameName(const DnsName& a, const DnsName& b) {
    if (a.size != b.size)
        return false;
    for (std::size_t i = 0; i < a.size; ++i)
        if (FoldCase(a.bytes[i]) != FoldCase(b.bytes[i]))
            return false;
    return true;
}

// Names are told apart by their text, ASCII case aside: two names that read
// the same (bytes replaced alike) are one name to whoever reads them.
bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) !=
            FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Reads the name at `pos` into `name`: on success `pos` is just past the
// name as it stands in the datagram.
PtrAnswerCheck ReadName(const unsigned char* d, std::size_t length, std::size_t& pos,
                        DnsName& name) {
    const DnsNameWalk walk = WalkDnsName(d, length, pos, kMaxPointerHops, &name);
    if (!walk.whole())
        return walk.check == DnsNameCheck::Bad ? PtrAnswerCheck::BadName
                                               : PtrAnswerCheck::Truncated;
    pos = walk.end;
    return PtrAnswerCheck::Accepted;
}

void AppendDecimalEscape(std::string& text, unsigned char byte) {
    text += '\\';
    text += static_cast<char>('0' + byte / 100);
    text += static_cast<char>('0' + byte / 10 % 10);
    text += static_cast<char>('0' + byte % 10);
}

std::string NameText(const DnsName& name) {
    std::string text;
    for (std::size_t pos = 0; name.bytes[pos] != 0; pos += 1u + name.bytes[pos]) {
        if (!text.empty())
            text += '.';
        const std::string_view label(reinterpret_cast<const char*>(name.bytes.data()) + pos + 1,
                                     name.bytes[pos]);
        for (std::size_t i = 0; i < label.size();) {
            const std::size_t length = WellFormedUtf8Length(label.substr(i));
            const auto lead = static_cast<unsigned char>(label[i]);
            if (length == 0) {
                text += "\xEF\xBF\xBD";
                ++i;
                continue;
            }
            const bool control =
                (length == 1 && (lead < 0x20 || lead == 0x7F)) ||
                (length == 2 && lead == 0xC2 && static_cast<unsigned char>(label[i + 1]) <= 0x9F);
            if (control) {
                for (std::size_t k = 0; k < length; ++k)
                    AppendDecimalEscape(text, static_cast<unsigned char>(label[i + k]));
            } else {
                if (lead == '.' || lead == '\\')
                    text += '\\';
                text.append(label.substr(i, length));
            }
            i += length;
        }
    }
    return text;
}

// The class a record or question means, the mDNS bit aside where it has one.
std::uint16_t ClassOf(std::uint16_t klass, PtrProtocol protocol) {
    return protocol == PtrProtocol::Mdns ? klass & ~kMdnsClassBit : klass;
}

// Steps over a record that is not read; only its shape is checked.
PtrAnswerCheck SkipRecord(const unsigned char* d, std::size_t length, std::size_t& pos) {
    DnsName owner;
    const PtrAnswerCheck check = ReadName(d, length, pos, owner);
    if (check != PtrAnswerCheck::Accepted)
        return check;
    if (length - pos < kRecordFixedSize)
        return PtrAnswerCheck::Truncated;
    const std::size_t rdlength = Read16(d + pos + 8);
    pos += kRecordFixedSize;
    if (rdlength > length - pos)
        return PtrAnswerCheck::Truncated;
    pos += rdlength;
    return PtrAnswerCheck::Accepted;
}

struct Reader {
    const unsigned char* d;
    std::size_t length;
    PtrProtocol protocol;
    DnsName asked;
    PtrAnswer& out;

    PtrAnswerCheck Header(std::uint16_t expectedId) const {
        if (d == nullptr || length < kHeaderSize)
            return PtrAnswerCheck::Truncated;
        if (Read16(d) != expectedId)
            return PtrAnswerCheck::WrongId;
        const std::uint16_t flags = Read16(d + 2);
        if ((flags & kFlagResponse) == 0)
            return PtrAnswerCheck::NotResponse;
        if (((flags >> 11) & 0x0F) != 0)
            return PtrAnswerCheck::WrongOpcode;
        if ((flags & 0x000F) != 0)
            return PtrAnswerCheck::ErrorCode;
        if ((flags & kFlagTruncated) != 0)
            return PtrAnswerCheck::ResponderTruncated;
        if (protocol == PtrProtocol::Llmnr && (flags & kFlagTentative) != 0)
            return PtrAnswerCheck::Tentative;
        return PtrAnswerCheck::Accepted;
    }

    // An LLMNR answer repeats the question as unicast DNS does. A legacy
    // unicast mDNS answer should as well, but each of its records names the
    // address anyway, so one without the question is taken too.
    PtrAnswerCheck Question(std::uint16_t count, std::size_t& pos) const {
        if (count > 1 || (count == 0 && protocol == PtrProtocol::Llmnr))
            return PtrAnswerCheck::WrongQuestion;
        if (count == 0)
            return PtrAnswerCheck::Accepted;
        DnsName name;
        const PtrAnswerCheck check = ReadName(d, length, pos, name);
        if (check != PtrAnswerCheck::Accepted)
            return check;
        if (length - pos < 4)
            return PtrAnswerCheck::Truncated;
        const bool ours = SameName(name, asked) && Read16(d + pos) == kTypePtr &&
                          ClassOf(Read16(d + pos + 2), protocol) == kClassIn;
        pos += 4;
        return ours ? PtrAnswerCheck::Accepted : PtrAnswerCheck::WrongQuestion;
    }

    PtrAnswerCheck Answer(std::size_t& pos) {
        DnsName owner;
        PtrAnswerCheck check = ReadName(d, length, pos, owner);
        if (check != PtrAnswerCheck::Accepted)
            return check;
        if (length - pos < kRecordFixedSize)
            return PtrAnswerCheck::Truncated;
        const std::uint16_t type = Read16(d + pos);
        const std::uint16_t klass = ClassOf(Read16(d + pos + 2), protocol);
        const std::size_t rdlength = Read16(d + pos + 8);
        pos += kRecordFixedSize;
        if (rdlength > length - pos)
            return PtrAnswerCheck::Truncated;
        const std::size_t rdata = pos;
        pos += rdlength;
        if (type != kTypePtr || klass != kClassIn)
            return PtrAnswerCheck::Accepted;
        if (!SameName(owner, asked))
            return PtrAnswerCheck::ForeignAnswer;
        DnsName target;
        std::size_t cursor = rdata;
        check = ReadName(d, length, cursor, target);
        if (check != PtrAnswerCheck::Accepted)
            return check;
        if (cursor != rdata + rdlength)
            return PtrAnswerCheck::BadLength;
        if (target.root()) // names nothing
            return PtrAnswerCheck::Accepted;
        ++out.namesInAnswer;
        if (out.names.size() < kPtrAnswerMaxNames) {
            std::string text = NameText(target);
            for (const std::string& kept : out.names)
                if (SameText(kept, text))
                    return PtrAnswerCheck::Accepted;
            out.names.push_back(std::move(text));
        }
        return PtrAnswerCheck::Accepted;
    }

    PtrAnswerCheck Read(std::uint16_t expectedId) {
        PtrAnswerCheck check = Header(expectedId);
        if (check != PtrAnswerCheck::Accepted)
            return check;
        std::size_t pos = kHeaderSize;
        check = Question(Read16(d + 4), pos);
        if (check != PtrAnswerCheck::Accepted)
            return check;
        const unsigned answers = Read16(d + 6);
        for (unsigned i = 0; i < answers; ++i)
            if ((check = Answer(pos)) != PtrAnswerCheck::Accepted)
                return check;
        // The authority and additional records are not read, but a datagram
        // that says it holds more than it does is not whole.
        const unsigned others = Read16(d + 8) + Read16(d + 10);
        for (unsigned i = 0; i < others; ++i)
            if ((check = SkipRecord(d, length, pos)) != PtrAnswerCheck::Accepted)
                return check;
        return out.names.empty() ? PtrAnswerCheck::NoAnswer : PtrAnswerCheck::Accepted;
    }
};

} // namespace

std::string ReverseName(std::uint32_t address) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8)
        text += std::to_string((address >> shift) & 0xFF) + '.';
    return text + "in-addr.arpa";
}

std::vector<unsigned char> BuildPtrQuery(std::uint32_t address, std::uint16_t id) {
    const DnsName name = ReverseWireName(address);
    std::vector<unsigned char> query;
    query.reserve(kHeaderSize + name.size + 4);
    Append16(query, id);
    Append16(query, 0); // flags
    Append16(query, 1); // QDCOUNT
    Append16(query, 0); // ANCOUNT
    Append16(query, 0); // NSCOUNT
    Append16(query, 0); // ARCOUNT
    query.insert(query.end(), name.bytes.begin(), name.bytes.begin() + name.size);
    Append16(query, kTypePtr);
    Append16(query, kClassIn);
    return query;
}

PtrAnswer ReadPtrAnswer(const unsigned char* datagram, std::size_t length, std::uint16_t expectedId,
                        std::uint32_t address, PtrProtocol protocol) {
    PtrAnswer answer;
    Reader reader{datagram, length, protocol, ReverseWireName(address), answer};
    answer.check = reader.Read(expectedId);
    if (!answer.accepted()) {
        answer.names.clear();
        answer.namesInAnswer = 0;
    }
    return answer;
}

const char* PtrAnswerCheckName(PtrAnswerCheck check) {
    switch (check) {
    case PtrAnswerCheck::Accepted:
        return "accepted";
    case PtrAnswerCheck::Truncated:
        return "truncated";
    case PtrAnswerCheck::WrongId:
        return "wrong id";
    case PtrAnswerCheck::NotResponse:
        return "not a response";
    case PtrAnswerCheck::WrongOpcode:
        return "wrong opcode";
    case PtrAnswerCheck::ErrorCode:
        return "error code";
    case PtrAnswerCheck::ResponderTruncated:
        return "truncated by the responder";
    case PtrAnswerCheck::Tentative:
        return "tentative";
    case PtrAnswerCheck::WrongQuestion:
        return "wrong question";
    case PtrAnswerCheck::BadName:
        return "bad name";
    case PtrAnswerCheck::BadLength:
        return "bad length";
    case PtrAnswerCheck::ForeignAnswer:
        return "answer for another name";
    case PtrAnswerCheck::NoAnswer:
        return "no name";
    }
    return "unknown";
}
