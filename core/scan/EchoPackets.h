#pragma once
// The ICMP messages of the event-driven scan as pure functions over bytes:
// an echo request that carries a per-scan token, and what an arriving message
// says (an echo reply, or an error that quotes one of our requests). Nothing
// in an arriving message is trusted: every read is bounded by its length.

#include <cstdint>
#include <span>
#include <vector>

namespace EchoPackets {

// Type 8, code 0, checksum, id, sequence, then `payload`.
std::vector<std::uint8_t> Request(std::uint16_t id, std::uint16_t sequence,
                                  std::span<const std::uint8_t> payload);

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

// A datagram of a raw ICMP socket: IPv4 header, then the message; the
// checksum is checked here.
Message ParseRaw(std::span<const std::uint8_t> packet);

// A message of an ICMP datagram socket (no IP header; the kernel checked the
// checksum); `source` in host byte order.
Message ParseDatagram(std::span<const std::uint8_t> message, std::uint32_t source);

// The token a scan puts into its request to `address`, and the sequence and
// node-status transaction id it uses for it: all derived from a per-scan
// secret, so that a reply can only match when it answers our own request.
std::uint64_t Token(std::uint64_t secret, std::uint32_t address);
std::uint16_t Sequence(std::uint64_t secret, std::uint32_t address);
std::uint16_t TransactionId(std::uint64_t secret, std::uint32_t address);

} // namespace EchoPackets
