#include "platform/net/NeighbourTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace {

constexpr std::size_t kHeaderLength = sizeof(nlmsghdr);
constexpr std::size_t kAttributeHeaderLength = sizeof(rtattr);

constexpr std::size_t Align(std::size_t length) {
    return (length + NLMSG_ALIGNTO - 1) & ~static_cast<std::size_t>(NLMSG_ALIGNTO - 1);
}
static_assert(NLMSG_ALIGNTO == RTA_ALIGNTO, "one alignment for messages and attributes");

template <typename T> T ReadAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// One RTM_NEWNEIGH or RTM_DELNEIGH payload (after the netlink header). False
// when it is malformed; `keep` false when it is well formed but not IPv4.
bool ParseNeighbour(std::span<const std::uint8_t> payload, NeighbourEntry& entry, bool& keep) {
    keep = false;
    if (payload.size() < sizeof(ndmsg))
        return false;
    const ndmsg header = ReadAt<ndmsg>(payload, 0);
    entry.state = header.ndm_state;
    entry.ifindex = header.ndm_ifindex;
    bool hasDestination = false;
    std::size_t offset = Align(sizeof(ndmsg));
    while (offset < payload.size()) {
        const std::size_t left = payload.size() - offset;
        if (left < kAttributeHeaderLength)
            break; // padding at the end
        const rtattr attribute = ReadAt<rtattr>(payload, offset);
        if (attribute.rta_len < kAttributeHeaderLength || attribute.rta_len > left)
            return false;
        const std::span<const std::uint8_t> value = payload.subspan(
            offset + kAttributeHeaderLength, attribute.rta_len - kAttributeHeaderLength);
        switch (attribute.rta_type & NLA_TYPE_MASK) {
        case NDA_DST:
            if (header.ndm_family == AF_INET) {
                if (value.size() != 4)
                    return false;
                entry.address = static_cast<std::uint32_t>(value[0]) << 24 |
                                static_cast<std::uint32_t>(value[1]) << 16 |
                                static_cast<std::uint32_t>(value[2]) << 8 | value[3];
                hasDestination = true;
            }
            break;
        case NDA_LLADDR:
            // Other lengths (none on a NOARP device, 20 on InfiniBand) are no MAC.
            // The last one counts, as in the kernel's own readers.
            entry.hasMac = value.size() == entry.mac.size();
            entry.mac = {};
            if (entry.hasMac)
                std::memcpy(entry.mac.data(), value.data(), entry.mac.size());
            break;
        default:
            break;
        }
        offset += Align(attribute.rta_len);
    }
    if (header.ndm_family != AF_INET)
        return true;
    if (!hasDestination)
        return false;
    keep = true;
    return true;
}

// The errno a kernel status carries (a small negative number); EPROTO for
// any other value, which no kernel sends.
int ErrnoOf(int status) {
    if (status == 0)
        return 0;
    return status < 0 && status > -4096 ? -status : EPROTO;
}

} // namespace

NeighbourParse ParseNeighbourMessages(std::span<const std::uint8_t> bytes) {
    NeighbourParse parse;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::size_t left = bytes.size() - offset;
        if (left < kHeaderLength) {
            parse.truncated = true;
            break;
        }
        const nlmsghdr header = ReadAt<nlmsghdr>(bytes, offset);
        if (header.nlmsg_len < kHeaderLength || header.nlmsg_len > left) {
            parse.truncated = true;
            break;
        }
        const std::span<const std::uint8_t> payload =
            bytes.subspan(offset + kHeaderLength, header.nlmsg_len - kHeaderLength);
        // The last message of a datagram need not be padded.
        offset += std::min(Align(header.nlmsg_len), left);

        if (header.nlmsg_type == NLMSG_DONE) {
            parse.done = true;
            // A dump that failed part way says so here.
            if (payload.size() >= sizeof(int)) {
                parse.error = ErrnoOf(ReadAt<int>(payload, 0));
                parse.gotError = parse.error != 0;
            }
            break;
        }
        if (header.nlmsg_type == NLMSG_ERROR) {
            if (payload.size() < sizeof(int)) {
                ++parse.skipped;
                continue;
            }
            parse.gotError = true;
            parse.error = ErrnoOf(ReadAt<int>(payload, 0));
            continue;
        }
        if (header.nlmsg_type != RTM_NEWNEIGH && header.nlmsg_type != RTM_DELNEIGH)
            continue;
        NeighbourEntry entry;
        entry.deleted = header.nlmsg_type == RTM_DELNEIGH;
        bool keep = false;
        if (!ParseNeighbour(payload, entry, keep))
            ++parse.skipped;
        else if (keep)
            parse.entries.push_back(entry);
    }
    return parse;
}

bool IsResolvedByReply(std::uint16_t state) {
    return state == NUD_REACHABLE;
}
