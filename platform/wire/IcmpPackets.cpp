#include "platform/wire/IcmpPackets.h"

#include <algorithm>

namespace IcmpPackets {

namespace {

constexpr std::size_t kMinIpHeader = 20;
constexpr std::uint8_t kProtocolIcmp = 1;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
           std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

// The length of a whole IPv4 header carrying ICMP at the start, else 0.
std::size_t IpHeaderLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kMinIpHeader || (bytes[0] >> 4) != 4)
        return 0;
    const std::size_t length = std::size_t(bytes[0] & 0x0F) * 4;
    if (length < kMinIpHeader || length > bytes.size() || bytes[9] != kProtocolIcmp)
        return 0;
    return length;
}

// An error message's quoted request: its target, id and sequence.
Message Quoted(std::span<const std::uint8_t> quoted) {
    const std::size_t header = IpHeaderLength(quoted);
    if (header == 0 || quoted.size() < header + kHeaderSize || quoted[header] != kEchoRequest)
        return {};
    Message message;
    message.kind = Message::Kind::Unreachable;
    message.address = Read32(quoted, 16);
    message.id = Read16(quoted, header + 4);
    message.sequence = Read16(quoted, header + 6);
    return message;
}

Message Icmp(std::span<const std::uint8_t> icmp, std::uint32_t source) {
    if (icmp.size() < kHeaderSize)
        return {};
    const std::uint8_t type = icmp[0];
    if (type == kEchoReply) {
        Message message;
        message.kind = Message::Kind::Reply;
        message.address = source;
        message.id = Read16(icmp, 4);
        message.sequence = Read16(icmp, 6);
        message.payload = icmp.subspan(kHeaderSize);
        return message;
    }
    if (IsFatalError(type))
        return Quoted(icmp.subspan(kHeaderSize));
    return {};
}

} // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

bool IsFatalError(std::uint8_t type) {
    return type == kDestinationUnreachable || type == kTimeExceeded || type == kParameterProblem;
}

std::vector<std::uint8_t> Request(std::uint16_t id, std::uint16_t sequence,
                                  std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> request(kHeaderSize + payload.size());
    request[0] = kEchoRequest;
    request[4] = static_cast<std::uint8_t>(id >> 8);
    request[5] = static_cast<std::uint8_t>(id);
    request[6] = static_cast<std::uint8_t>(sequence >> 8);
    request[7] = static_cast<std::uint8_t>(sequence);
    std::copy(payload.begin(), payload.end(), request.begin() + kHeaderSize);
    const std::uint16_t checksum = InternetChecksum(request);
    request[2] = static_cast<std::uint8_t>(checksum >> 8);
    request[3] = static_cast<std::uint8_t>(checksum);
    return request;
}

Message ParseRaw(std::span<const std::uint8_t> packet) {
    const std::size_t header = IpHeaderLength(packet);
    if (header == 0)
        return {};
    const std::span<const std::uint8_t> icmp = packet.subspan(header);
    // A raw socket gets the message before the kernel checked it.
    if (icmp.size() < kHeaderSize || InternetChecksum(icmp) != 0)
        return {};
    return Icmp(icmp, Read32(packet, 12));
}

Message ParseDatagram(std::span<const std::uint8_t> message, std::uint32_t source) {
    Message parsed = Icmp(message, source);
    return parsed.kind == Message::Kind::Reply ? parsed : Message{};
}

} // namespace IcmpPackets
