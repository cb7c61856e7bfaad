// Feeds arbitrary datagrams, each in a heap block of exactly its size, to the
// event-driven engine's ICMP reader as a raw and as a datagram socket would
// hand them over, and checks that what it reads lies inside the datagram.

#include "core/scan/EchoPackets.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void CheckInside(const EchoPackets::Message& message, const std::vector<std::uint8_t>& bytes) {
    if (message.payload.empty())
        return;
    Check(message.kind == EchoPackets::Message::Kind::Reply);
    Check(message.payload.data() >= bytes.data());
    Check(message.payload.data() + message.payload.size() <= bytes.data() + bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    CheckInside(EchoPackets::ParseRaw(bytes), bytes);
    const EchoPackets::Message datagram = EchoPackets::ParseDatagram(bytes, 0x0A000001);
    CheckInside(datagram, bytes);
    // A datagram socket's messages are only ever replies.
    Check(datagram.kind != EchoPackets::Message::Kind::Unreachable);
    return 0;
}
