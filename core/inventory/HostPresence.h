#pragma once
// Which hosts one scan saw, as bits over the hosts' ids: bit (id % 4096) of
// chunk (id / 4096), chunk by chunk, each as its bytes up to the last one
// set. A scan of a /16 that saw every host costs sixteen chunks of 512
// bytes, however many scans came before.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

class HostPresence {
public:
    static constexpr std::int64_t kChunkBits = 4096;

    static std::int64_t ChunkOf(std::int64_t host) { return host / kChunkBits; }

    void Add(std::int64_t host);

    // The chunks that have a host, by number, as their stored bytes.
    const std::map<std::int64_t, std::string>& Chunks() const { return m_chunks; }

    // Whether `host` is in the stored bytes of its chunk.
    static bool Has(std::string_view bits, std::int64_t host);

    // Calls `f(host)` for every host in the stored bytes of chunk `chunk`.
    template <typename F>
    static void ForEach(std::string_view bits, std::int64_t chunk, F f) {
        for (std::size_t byte = 0; byte < bits.size(); ++byte)
            for (unsigned value = static_cast<unsigned char>(bits[byte]), bit = 0; value;
                 value >>= 1, ++bit)
                if (value & 1)
                    f(chunk * kChunkBits + static_cast<std::int64_t>(byte * 8 + bit));
    }

private:
    std::map<std::int64_t, std::string> m_chunks;
};
