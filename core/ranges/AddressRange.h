#pragma once
// One range of IPv4 addresses and the conversions between address values and
// their dotted texts. Addresses are in host byte order: the first dotted octet
// is the most significant byte.

#include <cstdint>
#include <string>

struct AddressRange {
    std::uint32_t start = 0; // first address
    std::uint32_t end = 0;   // last address, inclusive

    bool operator==(const AddressRange&) const = default;
};

// The address that inet_addr reads from the text, in host byte order. A text
// that inet_addr rejects gives 0xFFFFFFFF, the same value as
// "255.255.255.255". inet_addr's leniency stays on purpose ("10.1" is 10.0.0.1,
// "0x0a.1.2.3" is hex): list files written for the program may rely on it.
// The text ends at its first NUL byte.
std::uint32_t AddressFromText(const std::string& text);

// True when inet_addr reads an address from the text (255.255.255.255
// included); false when it rejects the text, which AddressFromText cannot
// tell from "255.255.255.255".
bool IsAddressText(const std::string& text);

// "%d.%d.%d.%d", first octet most significant.
std::string AddressToText(std::uint32_t address);
