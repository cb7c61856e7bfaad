#pragma once
// A host's value packed small, for the lists that keep thousands of them for
// the length of a scan: the fixed fields as they are, the texts (names, the
// messenger names, the vendor) one after another in a single string, each
// after its length. A silent host's texts are empty, so it costs no
// allocation at all. Unpack gives back the very value that was packed.

#include "core/scan/HostRecord.h"

#include <array>
#include <cstdint>
#include <string>

class PackedHost {
public:
    PackedHost() = default;
    explicit PackedHost(const HostRecord& host);

    HostRecord Unpack() const;

    std::uint32_t Address() const { return m_address; }
    HostRecord::Response Response() const {
        return static_cast<HostRecord::Response>(m_flags & kResponseMask);
    }

private:
    enum Flag : unsigned char {
        kResponseMask = 0x03,
        kNodeStatus = 0x04,
        kHasMac = 0x08,
        kHasComputer = 0x10,
        kHasWorkgroup = 0x20,
    };

    std::uint32_t m_address = 0;
    std::int32_t m_rttMs = -1;
    unsigned m_reasons = 0;
    std::array<unsigned char, 6> m_mac{};
    unsigned char m_flags = 0;
    // The computer name, the workgroup, the vendor, the count of messenger
    // names and each of them, the count of other names and each of them
    // after its source's byte; every text after its length (7 bits a byte,
    // the high bit set on all but the last).
    std::string m_texts;
};
