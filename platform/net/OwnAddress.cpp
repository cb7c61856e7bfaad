#include "platform/net/OwnAddress.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr std::uint32_t kLoopback = 0x7f000001; // 127.0.0.1

} // namespace

bool HasOwnAddress(const std::vector<InterfaceAddress>& addresses) {
    for (const InterfaceAddress& entry : addresses)
        if (entry.value != kLoopback)
            return true;
    return false;
}

OwnAddressInfo FindOwnAddresses() {
    OwnAddressInfo info;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        info.error = errno != 0 ? errno : EIO;
        return info;
    }
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        info.addresses.push_back(
            {entry->ifa_name ? entry->ifa_name : "", text, ntohl(in->sin_addr.s_addr)});
    }
    freeifaddrs(list);
    info.found = HasOwnAddress(info.addresses);
    return info;
}
