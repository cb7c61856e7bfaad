#include "tests/support/DnsAnswerBuilder.h"

namespace {

void Put16(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void Put32(std::vector<unsigned char>& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value >> 16));
    Put16(out, static_cast<std::uint16_t>(value));
}

constexpr std::size_t kQuestionAt = 12;

} // namespace

DnsAnswerBuilder DnsAnswerBuilder::Llmnr(std::uint16_t id, std::uint32_t address,
                                         std::string_view name) {
    DnsAnswerBuilder b;
    b.id = id;
    b.question = ReverseLabels(address);
    b.answers.push_back(Ptr(address, name));
    return b;
}

DnsAnswerBuilder DnsAnswerBuilder::Mdns(std::uint16_t id, std::uint32_t address,
                                        std::string_view name) {
    DnsAnswerBuilder b = Llmnr(id, address, name);
    b.flags = 0x8400; // QR, AA
    b.answers.front().klass = 0x8001;
    b.answers.front().ttl = 10;
    return b;
}

DnsAnswerBuilder::Labels DnsAnswerBuilder::LabelsOf(std::string_view dotted) {
    Labels labels;
    while (!dotted.empty()) {
        const std::size_t dot = dotted.find('.');
        labels.emplace_back(dotted.substr(0, dot));
        dotted = dot == std::string_view::npos ? std::string_view() : dotted.substr(dot + 1);
    }
    return labels;
}

DnsAnswerBuilder::Labels DnsAnswerBuilder::ReverseLabels(std::uint32_t address) {
    Labels labels;
    for (int shift = 0; shift < 32; shift += 8)
        labels.push_back(std::to_string((address >> shift) & 0xFF));
    labels.push_back("in-addr");
    labels.push_back("arpa");
    return labels;
}

DnsAnswerBuilder::Bytes DnsAnswerBuilder::EncodedName(const Labels& labels) {
    Bytes out;
    for (const std::string& label : labels) {
        out.push_back(static_cast<unsigned char>(label.size()));
        out.insert(out.end(), label.begin(), label.end());
    }
    out.push_back(0);
    return out;
}

DnsRecord DnsAnswerBuilder::Ptr(std::uint32_t address, std::string_view name) {
    DnsRecord record;
    record.owner = ReverseLabels(address);
    record.target = LabelsOf(name);
    return record;
}

DnsAnswerBuilder::Bytes DnsAnswerBuilder::bytes() const {
    Bytes out;
    Put16(out, id);
    Put16(out, flags);
    Put16(out, qdcount ? *qdcount : static_cast<std::uint16_t>(question ? 1 : 0));
    Put16(out, ancount ? *ancount : static_cast<std::uint16_t>(answers.size()));
    Put16(out, nscount ? *nscount : static_cast<std::uint16_t>(authority.size()));
    Put16(out, arcount ? *arcount : static_cast<std::uint16_t>(additional.size()));
    if (question) {
        const Bytes name = EncodedName(*question);
        out.insert(out.end(), name.begin(), name.end());
        Put16(out, qtype);
        Put16(out, qclass);
    }
    for (const auto* section : {&answers, &authority, &additional}) {
        for (const DnsRecord& record : *section) {
            if (question && record.owner == *question) {
                Put16(out, 0xC000 | kQuestionAt);
            } else {
                const Bytes name = EncodedName(record.owner);
                out.insert(out.end(), name.begin(), name.end());
            }
            Put16(out, record.type);
            Put16(out, record.klass);
            Put32(out, record.ttl);
            const std::size_t rdataAt = out.size() + 2;
            const Bytes rdata = record.rdata ? record.rdata(rdataAt) : EncodedName(record.target);
            Put16(out,
                  record.rdlength ? *record.rdlength : static_cast<std::uint16_t>(rdata.size()));
            out.insert(out.end(), rdata.begin(), rdata.end());
        }
    }
    return out;
}
