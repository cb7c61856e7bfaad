#pragma once
// Reading a name in the DNS message format, as DNS, mDNS, LLMNR and NetBIOS
// name service messages carry it: labels of up to 63 bytes, each after its
// length byte, ended by a zero byte or by a compression pointer to the rest
// of the name earlier in the message. The message comes from the network, so
// the walk trusts nothing: every read is bounded by the message, a pointer
// leads strictly backwards past the header, and the walk is capped in hops.

#include <array>
#include <cstddef>

// Wire octets of a name uncompressed, its length bytes and closing zero included.
constexpr std::size_t kDnsMaxNameLength = 255;

// A name as it reads uncompressed: each label after its length byte, then 0.
struct DnsName {
    std::array<unsigned char, kDnsMaxNameLength> bytes{};
    std::size_t size = 0;

    bool root() const { return size == 1; }
};

enum class DnsNameCheck {
    Whole,
    Truncated, // the message ends inside a label or a pointer
    Bad,       // a pointer forwards, into the header or one hop too many; a label
               // type that does not exist (a label over 63 bytes included); a
               // name over kDnsMaxNameLength uncompressed
};

struct DnsNameWalk {
    DnsNameCheck check = DnsNameCheck::Truncated;
    // When whole: just past the name where it stands in the message, that
    // is after its first pointer if it has one; else 0.
    std::size_t end = 0;

    bool whole() const { return check == DnsNameCheck::Whole; }
};

// Walks the name at `at` in the `length` bytes of `message` (a datagram from
// its header on), following at most `maxPointerHops` pointers (0: none is
// taken). When `name` is given it receives the name uncompressed; it holds
// the whole name only when the walk is whole.
DnsNameWalk WalkDnsName(const unsigned char* message, std::size_t length, std::size_t at,
                        int maxPointerHops, DnsName* name = nullptr);
