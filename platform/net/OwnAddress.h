#pragma once
// The computer's own IPv4 addresses: those of its network interfaces, as
// getifaddrs lists them. Start-up needs one that is not 127.0.0.1, or the
// computer has no network of its own to scan.

#include <cstdint>
#include <string>
#include <vector>

struct InterfaceAddress {
    std::string interfaceName;
    std::string address;     // dotted
    std::uint32_t value = 0; // host byte order
};

struct OwnAddressInfo {
    int error = 0; // errno of getifaddrs; 0 when the interfaces could be listed
    std::vector<InterfaceAddress> addresses; // every IPv4 address, in the order listed
    bool found = false;                      // any of them is other than 127.0.0.1
};

// Lists the interfaces' IPv4 addresses now. When the list cannot be read,
// `error` says why and `found` is false.
OwnAddressInfo FindOwnAddresses();

// True when any of the addresses is other than 127.0.0.1.
bool HasOwnAddress(const std::vector<InterfaceAddress>& addresses);
