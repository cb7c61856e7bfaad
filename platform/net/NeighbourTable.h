#pragma once
// The kernel's neighbour (ARP) entries as rtnetlink hands them over: a pure
// reader of the messages, shared by the socket that receives them
// (NeighbourMonitor) and the tests. Nothing in the bytes is trusted: every
// read is bounded by the buffer, the message's own length and the
// attribute's length.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct NeighbourEntry {
    std::uint32_t address = 0; // host byte order
    std::uint16_t state = 0;   // NUD_* bits as the kernel gives them
    bool hasMac = false;       // a 6-byte link-layer address came with it
    std::array<std::uint8_t, 6> mac{};
    int ifindex = 0;
    bool deleted = false; // RTM_DELNEIGH: the kernel dropped the entry

    bool operator==(const NeighbourEntry&) const = default;
};

struct NeighbourParse {
    std::vector<NeighbourEntry> entries; // IPv4 entries, in the order of the messages
    bool done = false;                   // NLMSG_DONE: a dump has ended
    bool gotError = false;               // an NLMSG_ERROR came (0 in `error`: an acknowledgement)
    int error = 0;                       // its errno, positive
    bool truncated = false;  // the bytes end inside a message or a length lies: the rest is lost
    std::size_t skipped = 0; // neighbour messages that were malformed and left out
};

// Reads the netlink messages of one datagram. Entries of other families
// are passed over; a neighbour message whose header or attributes do not
// fit, or whose destination is not 4 bytes long, is skipped; a message
// length that does not fit the bytes ends the reading (the next message
// cannot be found). Parsing stops at NLMSG_DONE.
NeighbourParse ParseNeighbourMessages(std::span<const std::uint8_t> bytes);

// Whether the state says the neighbour answered an ARP request recently
// (NUD_REACHABLE). Every other state is no evidence of presence now:
//   STALE         resolved once, unconfirmed since, possibly hours ago: a host
//                 that left long ago keeps such an entry;
//   DELAY, PROBE  a STALE entry being confirmed: no answer yet;
//   PERMANENT     written by an administrator, never confirmed by the host;
//   NOARP         the link needs no resolution (point-to-point, loopback);
//   INCOMPLETE, FAILED, NONE  no answer (FAILED: none to repeated requests).
// The raw state stays in NeighbourEntry for callers that weigh them otherwise.
bool IsResolvedByReply(std::uint16_t state);
