#include "tests/platform/NodeStatusReplyBuilder.h"

#include <cstring>

namespace {

void Put16(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

} // namespace

NodeStatusReplyBuilder::NodeStatusReplyBuilder()
    : rrName(EncodedName(std::string("*") + std::string(15, '\0'))) {}

NodeStatusReplyBuilder NodeStatusReplyBuilder::Workstation(std::uint16_t id) {
    NodeStatusReplyBuilder b;
    b.id = id;
    b.names = {
        {"PC-01", 0x00, 0x0400}, {"WORKGROUP", 0x00, 0x8400}, {"PC-01", 0x20, 0x0400},
        {"PC-01", 0x03, 0x0400}, {"ADMIN", 0x03, 0x0400},     {"WORKGROUP", 0x1E, 0x8400},
    };
    b.unitId = {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E};
    return b;
}

std::vector<unsigned char> NodeStatusReplyBuilder::WorkstationBytes(
    std::uint16_t id, const std::function<void(NodeStatusReplyBuilder&)>& change) {
    NodeStatusReplyBuilder b = Workstation(id);
    if (change)
        change(b);
    return b.bytes();
}

std::vector<unsigned char> NodeStatusReplyBuilder::EncodedName(const std::string& name16) {
    std::vector<unsigned char> out;
    out.push_back(0x20);
    for (std::size_t i = 0; i < 16; ++i) {
        const unsigned char c = i < name16.size() ? static_cast<unsigned char>(name16[i]) : 0;
        out.push_back(static_cast<unsigned char>('A' + (c >> 4)));
        out.push_back(static_cast<unsigned char>('A' + (c & 0x0F)));
    }
    out.push_back(0x00);
    return out;
}

std::vector<unsigned char> NodeStatusReplyBuilder::bytes() const {
    std::vector<unsigned char> rdata;
    rdata.push_back(static_cast<unsigned char>(numNames ? *numNames : names.size()));
    for (const ReplyName& n : names) {
        std::string padded = n.name.substr(0, 15);
        padded.resize(15, ' ');
        rdata.insert(rdata.end(), padded.begin(), padded.end());
        rdata.push_back(n.suffix);
        Put16(rdata, n.flags);
    }
    std::vector<unsigned char> statistics(46, 0);
    std::copy(unitId.begin(), unitId.end(), statistics.begin());
    // Version 3.1, period 0x0102, good sends 0x00010203, session packet size 0x05DC.
    std::memcpy(&statistics[8], "\x03\x01\x01\x02", 4);
    std::memcpy(&statistics[20], "\x00\x01\x02\x03", 4);
    std::memcpy(&statistics[44], "\x05\xDC", 2);
    statistics.resize(statisticsLength);
    rdata.insert(rdata.end(), statistics.begin(), statistics.end());

    std::vector<unsigned char> out;
    Put16(out, id);
    Put16(out, flags);
    Put16(out, qdcount);
    Put16(out, ancount);
    Put16(out, 0);
    Put16(out, 0);
    out.insert(out.end(), question.begin(), question.end());
    out.insert(out.end(), rrName.begin(), rrName.end());
    Put16(out, type);
    Put16(out, klass);
    Put16(out, 0); // TTL
    Put16(out, 0);
    Put16(out, rdlength ? *rdlength : static_cast<std::uint16_t>(rdata.size()));
    out.insert(out.end(), rdata.begin(), rdata.end());
    return out;
}
