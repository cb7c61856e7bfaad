#include "tests/support/NetlinkBytes.h"

#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace NetlinkBytes {

namespace {

template <typename T> void Append(Bytes& bytes, const T& value) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
}

void Pad(Bytes& bytes) {
    while (bytes.size() % 4 != 0)
        bytes.push_back(0);
}

} // namespace

Bytes Attribute(std::uint16_t type, const Bytes& value, int length) {
    Bytes bytes;
    rtattr header{};
    header.rta_len = static_cast<unsigned short>(length >= 0 ? length : 4 + value.size());
    header.rta_type = type;
    Append(bytes, header);
    bytes.insert(bytes.end(), value.begin(), value.end());
    Pad(bytes);
    return bytes;
}

Bytes Neighbour(std::uint8_t family, std::uint16_t state, int ifindex, const Bytes& attributes) {
    Bytes bytes;
    ndmsg header{};
    header.ndm_family = family;
    header.ndm_ifindex = ifindex;
    header.ndm_state = state;
    Append(bytes, header);
    bytes.insert(bytes.end(), attributes.begin(), attributes.end());
    return bytes;
}

Bytes Message(std::uint16_t type, const Bytes& payload, std::int64_t length, bool pad) {
    Bytes bytes;
    nlmsghdr header{};
    header.nlmsg_len =
        static_cast<std::uint32_t>(length >= 0 ? length : sizeof header + payload.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = NLM_F_MULTI;
    header.nlmsg_seq = 7;
    Append(bytes, header);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    if (pad)
        Pad(bytes);
    return bytes;
}

Bytes Ipv4Neighbour(std::uint16_t type, std::uint32_t address, std::uint16_t state,
                    const Bytes& mac, int ifindex) {
    Bytes attributes = Attribute(NDA_DST, {static_cast<std::uint8_t>(address >> 24),
                                           static_cast<std::uint8_t>(address >> 16),
                                           static_cast<std::uint8_t>(address >> 8),
                                           static_cast<std::uint8_t>(address)});
    if (!mac.empty()) {
        const Bytes lladdr = Attribute(NDA_LLADDR, mac);
        attributes.insert(attributes.end(), lladdr.begin(), lladdr.end());
    }
    // The last attribute's padding left out of the length, as a sender may.
    const Bytes payload = Neighbour(AF_INET, state, ifindex, attributes);
    std::size_t length = 16 + payload.size();
    if (!mac.empty())
        length -= 2;
    return Message(type, payload, static_cast<std::int64_t>(length));
}

Bytes Status(std::uint16_t type, int code) {
    Bytes payload;
    Append(payload, code);
    return Message(type, payload);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const Bytes& part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

} // namespace NetlinkBytes
