#pragma once
// The kernel's neighbour (ARP) table, /proc/net/arp. Hosts that send an
// all-zero unit id in their node-status reply (Samba does) still get a MAC
// address: the echo that came before the query has just filled this table
// for a host on the local segment.

#include <array>
#include <optional>
#include <string>
#include <string_view>

using MacAddress = std::array<unsigned char, 6>;

// The hardware address of the first complete entry (ATF_COM) for `address`
// (a dotted IPv4 text) in the text of the table. Lines that do not have the
// expected shape are skipped; incomplete and all-zero entries do not count.
std::optional<MacAddress> FindArpEntry(std::string_view table, std::string_view address);

// Reads the table at `path` (at most 1 MiB of it) and looks the address up.
// Nothing when the file cannot be read or holds no such entry; when it cannot
// be opened, `openError` (if given) gets the errno.
std::optional<MacAddress> LookupArpEntry(std::string_view address,
                                         const std::string& path = "/proc/net/arp",
                                         int* openError = nullptr);
