#pragma once
// One host as a scan found it, as a value: its address, whether it answered
// and what showed it to be there, its round trip, the names of its
// node-status answer, its MAC and the MAC's maker. The seven cells of its row
// in the result list are made from the value in one place (HostCells.h).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

    enum class Response : unsigned char { Unknown, Answered, Silent };

    // Where a name of the host came from: its node-status answer, its own
    // answer to a reverse (PTR) query over multicast DNS or LLMNR, or the
    // resolver's (DNS, the hosts file). In this order of preference: the
    // names a host gives itself before a name another machine keeps for it,
    // the NetBIOS name first as the one the result list shows.
    enum class NameSource : unsigned char { Netbios, Mdns, Llmnr, Dns };
    static constexpr int kNameSourceCount = 4;
    struct Name {
        std::string text; // plain text: valid UTF-8, no control characters
        NameSource source = NameSource::Netbios;
        bool operator==(const Name&) const = default;
    };
    // "netbios", "mdns", "llmnr", "dns": as the outputs spell them.
    static const char* SourceText(NameSource source);
    // The source spelt so; false for no such source.
    static bool SourceOf(std::string_view text, NameSource& source);

    std::uint32_t address = 0; // host byte order
    Response response = Response::Unknown;
    unsigned reasons = 0;      // Reason bits; none for a silent host
    int rttMs = -1;            // to the host's first answer of its own; -1: none
    // A complete node-status answer came: the names below (UTF-8, control
    // characters as '.') and the MAC are its.
    bool nodeStatus = false;
    std::optional<std::string> computer;  // the unique <00> name; absent: none
    std::optional<std::string> workgroup; // the group <00> name; absent: none
    std::vector<std::string> messengers;  // the <03> names, one by one
    bool hasMac = false;
    std::array<unsigned char, 6> mac{};
    std::string vendor; // the MAC's maker, or "不明"; empty when not looked up
    // The names sources other than node status gave (the NetBIOS name is
    // `computer`), in order of preference and, within a source, as it gave
    // them. Only the event-driven engine asks those sources.
    std::vector<Name> names;

    // Every name of the host in order of preference, the computer name (if
    // any) first as source netbios.
    std::vector<Name> AllNames() const;

    bool operator==(const HostRecord&) const = default;
};
