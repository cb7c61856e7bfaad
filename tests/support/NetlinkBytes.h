#pragma once
// Netlink messages of the neighbour table built byte by byte, for the
// parser's tests and the fuzz seeds: each piece may be made to lie about its
// length.

#include <cstdint>
#include <vector>

namespace NetlinkBytes {

using Bytes = std::vector<std::uint8_t>;

// An rtattr with its value, padded to 4 bytes; `length` replaces rta_len when set.
Bytes Attribute(std::uint16_t type, const Bytes& value, int length = -1);

// An ndmsg followed by the attributes.
Bytes Neighbour(std::uint8_t family, std::uint16_t state, int ifindex, const Bytes& attributes);

// A netlink message; nlmsg_len is the unpadded length unless `length` is set,
// and the message is padded to 4 bytes unless `pad` is false.
Bytes Message(std::uint16_t type, const Bytes& payload, std::int64_t length = -1, bool pad = true);

// A complete RTM_NEWNEIGH (or RTM_DELNEIGH) for an IPv4 address, with a MAC when given.
Bytes Ipv4Neighbour(std::uint16_t type, std::uint32_t address, std::uint16_t state,
                    const Bytes& mac = {}, int ifindex = 2);

// An NLMSG_ERROR or NLMSG_DONE carrying `code` (a negative errno, or 0).
Bytes Status(std::uint16_t type, int code);

Bytes Join(std::initializer_list<Bytes> parts);

} // namespace NetlinkBytes
