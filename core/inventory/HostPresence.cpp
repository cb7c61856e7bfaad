#include "core/inventory/HostPresence.h"

void HostPresence::Add(std::int64_t host) {
    std::string& bits = m_chunks[ChunkOf(host)];
    const auto bit = static_cast<std::size_t>(host % kChunkBits);
    if (bits.size() <= bit / 8)
        bits.resize(bit / 8 + 1, '\0');
    bits[bit / 8] = static_cast<char>(static_cast<unsigned char>(bits[bit / 8]) | (1u << (bit % 8)));
}

bool HostPresence::Has(std::string_view bits, std::int64_t host) {
    const auto bit = static_cast<std::size_t>(host % kChunkBits);
    return bit / 8 < bits.size() &&
           (static_cast<unsigned char>(bits[bit / 8]) >> (bit % 8) & 1u) != 0;
}
