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

    std::array<std::string, kColumnCount> cells;

    bool operator==(const HostRecord&) const = default;
};
