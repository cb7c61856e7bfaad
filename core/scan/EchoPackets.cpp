#include "core/scan/EchoPackets.h"

namespace EchoPackets {

namespace {

std::uint64_t Mix(std::uint64_t x) {
    // splitmix64's finaliser: every input bit reaches every output bit.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

std::uint64_t Token(std::uint64_t secret, std::uint32_t address) {
    return Mix(secret ^ Mix(address));
}

std::uint16_t Sequence(std::uint64_t secret, std::uint32_t address) {
    return static_cast<std::uint16_t>(Token(secret, address) >> 48);
}

std::uint16_t TransactionId(std::uint64_t secret, std::uint32_t address, unsigned attempt) {
    return static_cast<std::uint16_t>(Token(secret ^ 0x6E616D6573ull, address) >>
                                      (16 * (attempt % 4)));
}

} // namespace EchoPackets
