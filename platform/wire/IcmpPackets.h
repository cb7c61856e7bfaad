#pragma once
// The ICMP echo messages as pure functions over bytes, the one codec of the
// echo probe and the event-driven scan: an echo request, and what an arriving
// message says (an echo reply, or an error that quotes one of our requests).
// Nothing in an arriving message is trusted: every read is bounded by its
// length, and a raw socket's messages are checksummed here.

#include <cstdint>
#include <span>
#include <vector>

namespace IcmpPackets {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestinationUnreachable = 3;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::size_t kHeaderSize = 8;

// The Internet checksum (RFC 1071) of the bytes, in network byte order when
// stored as the two bytes high, low.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// Whether an ICMP message of this type says a request will never be answered
// (destination unreachable, time exceeded, parameter problem).
bool IsFatalError(std::uint8_t type);

// Type 8, code 0, checksum, id, sequence, then `payload`.
std::vector<std::uint8_t> Request(std::uint16_t id, std::uint16_t sequence,
                                  std::span<const std::uint8_t> payload = {});

struct Message {
    enum class Kind { Unrelated, Reply, Unreachable };
    Kind kind = Kind::Unrelated;
    // Host byte order: who replied (Reply), or the target of the request
    // that an error quotes (Unreachable).
    std::uint32_t address = 0;
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    std::span<const std::uint8_t> payload; // a reply's data, inside the given bytes
};

// A datagram of a raw ICMP socket: IPv4 header, then the message. An error
// must quote a whole IPv4 header and the whole 8-byte header of our request.
Message ParseRaw(std::span<const std::uint8_t> packet);

// A message of an ICMP datagram socket (no IP header; the kernel checked the
// checksum and matched the id); `source` in host byte order. Errors reach such
// a socket through its error queue, never as messages.
Message ParseDatagram(std::span<const std::uint8_t> message, std::uint32_t source);

} // namespace IcmpPackets
