#include "platform/net/SocketErrorQueue.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
// After <netinet/in.h>, whose definitions it then leaves alone.
#include <linux/errqueue.h>

bool ReadQueuedError(const msghdr& message, QueuedSocketError& out) {
    auto& header = const_cast<msghdr&>(message); // the CMSG macros take no const
    for (cmsghdr* item = CMSG_FIRSTHDR(&header); item; item = CMSG_NXTHDR(&header, item)) {
        if (item->cmsg_level != IPPROTO_IP || item->cmsg_type != IP_RECVERR)
            continue;
        if (item->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            return false;
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(item), sizeof error);
        out = QueuedSocketError{};
        out.local = error.ee_origin == SO_EE_ORIGIN_LOCAL;
        out.icmp = error.ee_origin == SO_EE_ORIGIN_ICMP;
        out.type = error.ee_type;
        out.code = error.ee_code;
        out.error = static_cast<int>(error.ee_errno);
        if (message.msg_name && message.msg_namelen >= sizeof(sockaddr_in)) {
            sockaddr_in target;
            std::memcpy(&target, message.msg_name, sizeof target);
            if (target.sin_family == AF_INET)
                out.target = ntohl(target.sin_addr.s_addr);
        }
        // The offender follows the extended error when the cmsg holds it.
        if (item->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
            sockaddr_in offender;
            std::memcpy(&offender, CMSG_DATA(item) + sizeof(sock_extended_err), sizeof offender);
            if (offender.sin_family == AF_INET)
                out.offender = ntohl(offender.sin_addr.s_addr);
        }
        return true;
    }
    return false;
}
