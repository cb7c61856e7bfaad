#pragma once
// One row of the result list: seven text cells, and the exact text forms the
// scan writes into them.

#include <array>
#include <cstdint>
#include <string>

struct HostRecord {
    static constexpr int kColumnCount = 7;

    enum Column {
        kAddress = 0,   // dotted decimal
        kResponse = 1,  // "○" / "×"; empty while unknown
        kComputer = 2,  // unique 0x00 name, cut at the first blank
        kDomain = 3,    // group 0x00 name
        kMac = 4,       // 12 upper-case hex digits
        kVendor = 5,    // vendor name or "不明"
        kMessenger = 6, // 0x03 names joined by "/"
    };

    static const char* const kAnswered; // "○"
    static const char* const kSilent;   // "×"
    static const char* const kTitles[kColumnCount];

    // "%ld.%ld.%ld.%ld" of an address in host byte order.
    static std::string FormatAddress(std::uint32_t address);

    // The six bytes as "%02X%02X%02X%02X%02X%02X".
    static std::string FormatMac(const unsigned char mac[6]);

    // What showed the host to be there (the event-driven engine collects all
    // four; the thread engine knows of echo and node status only).
    enum Reason : unsigned {
        kReasonEcho = 1u << 0,            // an echo reply
        kReasonNbstat = 1u << 1,          // a node-status answer
        kReasonArp = 1u << 2,             // its neighbour entry was resolved
        kReasonPortUnreachable = 1u << 3, // it refused the node-status query itself
    };

    std::array<std::string, kColumnCount> cells;
    unsigned reasons = 0; // Reason bits; none for a silent host
    int rttMs = -1;       // the echo's round trip, or the first answer's; -1: none

    bool operator==(const HostRecord&) const = default;
};
