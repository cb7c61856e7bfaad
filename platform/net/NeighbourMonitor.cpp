#include "platform/net/NeighbourMonitor.h"

#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Room for a burst of changes (a scan fills the table at thousands of
// addresses a second) before the kernel drops some; root may go beyond the
// system's limit, any other user gets what net.core.rmem_max allows.
constexpr int kReceiveBufferBytes = 4 << 20;

// Larger than any datagram the kernel makes for us (it sizes dump parts
// after the reads it has seen).
constexpr std::size_t kDatagramBytes = 64 << 10;

} // namespace

NeighbourMonitor::~NeighbourMonitor() {
    Close();
}

void NeighbourMonitor::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_dumpRunning = false;
    m_dumpFinished = false;
}

int NeighbourMonitor::Open() {
    Close();
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return errno;
    const int size = kReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_NEIGH;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    m_fd = fd;
    m_buffer.resize(kDatagramBytes);
    return 0;
}

int NeighbourMonitor::RequestDump() {
    if (m_fd < 0)
        return EBADF;
    if (m_dumpRunning)
        return EBUSY;
    struct {
        nlmsghdr header;
        ndmsg neighbour;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++m_sequence;
    request.neighbour.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do
        sent = ::sendto(m_fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                        sizeof kernel);
    while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return errno;
    m_dumpRunning = true;
    m_dumpFinished = false;
    return 0;
}

int NeighbourMonitor::Read(std::vector<NeighbourEntry>& out) {
    if (m_fd < 0)
        return EBADF;
    bool lost = false;
    int dumpError = 0;
    for (;;) {
        sockaddr_nl sender{};
        iovec part{m_buffer.data(), m_buffer.size()};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t got = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS) {
                // The queue overflowed; what is still queued is good, read on.
                lost = true;
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return errno;
        }
        // Only the kernel speaks on this socket; anything else is ignored.
        if (message.msg_namelen < sizeof sender || sender.nl_pid != 0)
            continue;
        if (message.msg_flags & MSG_TRUNC) {
            lost = true;
            continue;
        }
        const NeighbourParse parse =
            ParseNeighbourMessages(std::span(m_buffer.data(), static_cast<std::size_t>(got)));
        out.insert(out.end(), parse.entries.begin(), parse.entries.end());
        // Only our dump request is ever answered with an error or an end.
        if (parse.gotError && parse.error != 0)
            dumpError = parse.error;
        if (m_dumpRunning && (parse.done || dumpError != 0)) {
            m_dumpRunning = false;
            m_dumpFinished = true;
        }
    }
    if (dumpError != 0)
        return dumpError;
    return lost ? ENOBUFS : 0;
}
