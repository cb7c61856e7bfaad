#pragma once
// The ICMP messages of the event-driven scan: the shared codec
// (IcmpPackets.h), and the per-scan token, sequence and node-status
// transaction id that make a reply match only our own request.

#include "platform/wire/IcmpPackets.h"

#include <cstdint>

namespace EchoPackets {

using IcmpPackets::Message;
using IcmpPackets::ParseDatagram;
using IcmpPackets::ParseRaw;
using IcmpPackets::Request;

// The token a scan puts into its request to `address`, and the sequence and
// node-status transaction id it uses for it: all derived from a per-scan
// secret, so that a reply can only match when it answers our own request.
// Each node-status query to an address (`attempt` 0, 1, ...) has an id of its
// own, so that an answer tells which of them it answers.
std::uint64_t Token(std::uint64_t secret, std::uint32_t address);
std::uint16_t Sequence(std::uint64_t secret, std::uint32_t address);
std::uint16_t TransactionId(std::uint64_t secret, std::uint32_t address, unsigned attempt = 0);

} // namespace EchoPackets
