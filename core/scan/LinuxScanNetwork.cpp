#include "core/scan/LinuxScanNetwork.h"

#include "core/scan/HostRecord.h"
#include "platform/wire/PtrQuery.h"

#include "core/scan/EchoPackets.h"
#include "platform/win32/IcmpEcho.h"
#include "platform/win32/Netbios.h"
#include "platform/net/SocketErrorQueue.h"
#include "platform/os/StopSignal.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Enough for the replies of a whole /20 arriving at once.
constexpr int kReceiveBuffer = 8 << 20;
constexpr int kSendBuffer = 4 << 20;
constexpr std::size_t kDatagram = 2048;

void Close(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void SetBuffers(int fd) {
    const int receive = kReceiveBuffer, send = kSendBuffer, on = 1;
    // Past net.core.rmem_max only with CAP_NET_ADMIN (root); otherwise the
    // kernel keeps its own maximum, which is fine.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receive, sizeof receive) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive, sizeof receive);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &send, sizeof send) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send, sizeof send);
    ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
}

int ReadNeighbourLimit() {
    std::ifstream file("/proc/sys/net/ipv4/neigh/default/gc_thresh3");
    int limit = 0;
    return file >> limit && limit > 0 ? limit : 1024;
}

// One of the interface's neighbour settings; `fallback` when it cannot be read.
int ReadNeighbourSetting(const char* interface, const char* name, int fallback, int most) {
    const std::string text(interface);
    if (text.empty() || text.find('/') != std::string::npos || text == "." || text == "..")
        return fallback;
    std::ifstream file("/proc/sys/net/ipv4/neigh/" + text + "/" + name);
    int value = 0;
    return file >> value && value > 0 ? std::min(value, most) : fallback;
}

// The drop counter that SO_RXQ_OVFL attaches to a datagram, if any.
bool DropCounter(msghdr& message, std::uint32_t& counter) {
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&counter, CMSG_DATA(item), sizeof counter);
            return true;
        }
    }
    return false;
}

// Whether a queued error says the target cannot be reached (an ICMP
// unreachable, time exceeded or parameter problem, or a local failure).
bool IsFatal(const QueuedSocketError& error) {
    return error.local || (error.icmp && IcmpEchoInternal::IsFatalError(error.type));
}

// Sends one datagram. An error the socket kept for an earlier datagram (an
// ICMP error about another target, with IP_RECVERR) comes back from the
// next send, which then sends nothing: that send goes again. An error that
// stays is this target's own (no route, say).
int SendTo(int fd, std::span<const std::uint8_t> bytes, const sockaddr_in& to) {
    int error = 0;
    for (int attempt = 0; attempt < 4;) {
        if (::sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
            return 0;
        error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ENOMEM)
            return error;
        ++attempt;
    }
    return error;
}

} // namespace

LinuxScanNetwork::~LinuxScanNetwork() {
    m_dns.reset(); // its sockets before the epoll set they are in
    Close(m_epoll);
    Close(m_icmp);
    Close(m_udp);
    Close(m_ptr);
}

int LinuxScanNetwork::Open(std::uint32_t localAddress) {
    IcmpSocketKind kind;
    m_icmp = m_probes.OpenEchoSocket(kind);
    if (m_icmp < 0)
        return errno ? errno : EPERM;
    m_raw = kind == IcmpSocketKind::Raw;
    SetBuffers(m_icmp);
    const int ttl = 255;
    ::setsockopt(m_icmp, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    // Probes are far below any MTU: sent as not to be fragmented, they need
    // no IP identification of their own, which the kernel would otherwise
    // draw from a hashed per-destination counter for each one.
    const int dontFragment = IP_PMTUDISC_DO;
    ::setsockopt(m_icmp, IPPROTO_IP, IP_MTU_DISCOVER, &dontFragment, sizeof dontFragment);
    if (m_raw) {
        IcmpEchoInternal::FilterToRepliesAndErrors(m_icmp);
        std::random_device device;
        m_echoId = static_cast<std::uint16_t>(device());
    } else {
        // A datagram socket's identifier is its port, which the kernel picks.
        sockaddr_in any{};
        any.sin_family = AF_INET;
        socklen_t length = sizeof any;
        if (::bind(m_icmp, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
            ::getsockname(m_icmp, reinterpret_cast<sockaddr*>(&any), &length) != 0)
            return errno;
        m_echoId = ntohs(any.sin_port);
    }

    m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_udp < 0)
        return errno;
    SetBuffers(m_udp);
    ::setsockopt(m_udp, IPPROTO_IP, IP_MTU_DISCOVER, &dontFragment, sizeof dontFragment);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = localAddress;
    m_local = localAddress;
    if (::bind(m_udp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return errno;

    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        return errno;
    for (int fd : {m_icmp, m_udp}) {
        epoll_event event{};
        event.events = EPOLLIN; // EPOLLERR comes unasked
        event.data.fd = fd;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return errno;
    }

    // The neighbour entries, those of before the scan first: without them
    // the scan only loses one kind of evidence.
    if (m_neighbours.Open() == 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = m_neighbours.Fd();
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_neighbours.Fd(), &event) == 0)
            m_neighbours.RequestDump();
    }

    m_neighbourLimit = ReadNeighbourLimit();
    const NeighbourResolution standard;
    m_resolution = {0, 0};
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs* item = list; item; item = item->ifa_next) {
            if (!item->ifa_addr || !item->ifa_netmask || item->ifa_addr->sa_family != AF_INET ||
                !(item->ifa_flags & IFF_UP) || (item->ifa_flags & IFF_LOOPBACK))
                continue;
            const std::uint32_t address =
                ntohl(reinterpret_cast<const sockaddr_in*>(item->ifa_addr)->sin_addr.s_addr);
            const std::uint32_t mask =
                ntohl(reinterpret_cast<const sockaddr_in*>(item->ifa_netmask)->sin_addr.s_addr);
            m_networks.emplace_back(address & mask, mask);
            // The slowest of our interfaces sets how long resolving may take.
            m_resolution.retransMs = std::max(
                m_resolution.retransMs,
                ReadNeighbourSetting(item->ifa_name, "retrans_time_ms", standard.retransMs, 10000));
            m_resolution.solicits = std::max(
                m_resolution.solicits,
                ReadNeighbourSetting(item->ifa_name, "mcast_solicit", standard.solicits, 10));
        }
        ::freeifaddrs(list);
    }
    if (m_resolution.retransMs == 0)
        m_resolution = standard;
    return 0;
}

int LinuxScanNetwork::SendEcho(std::uint32_t target, const std::vector<std::uint8_t>& request) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(target);
    return SendTo(m_icmp, request, to);
}

int LinuxScanNetwork::SendNameQuery(std::uint32_t target, std::span<const std::uint8_t> datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(target);
    to.sin_port = htons(m_namePort);
    return SendTo(m_udp, datagram, to);
}

void LinuxScanNetwork::Wait(std::chrono::microseconds timeout, const StopSignal& stop,
                            std::vector<NetworkEvent>& events) {
    if (stop.Fd() >= 0 && m_watchedStop != stop.Fd()) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = stop.Fd();
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, stop.Fd(), &event);
        m_watchedStop = stop.Fd();
    }
    epoll_event ready[8];
    int count = -1;
    long long us = std::max<long long>(0, timeout.count());
    if (m_dns) {
        WatchDnsSockets();
        if (const int ms = m_dns->NextTimeoutMs(); ms >= 0)
            us = std::min<long long>(us, ms * 1000LL);
    }
    if (stop.Fd() < 0)
        us = std::min<long long>(us, StopSignal::kPollSliceMs * 1000LL);
    if (m_fineWait) {
        // To the microsecond: sends are paced finer than a millisecond, so
        // that a fast scan does not go out in bursts a limiter would cut.
        const timespec wait{static_cast<time_t>(us / 1000000),
                            static_cast<long>(us % 1000000) * 1000};
        count = ::epoll_pwait2(m_epoll, ready, 8, &wait, nullptr);
        if (count < 0 && errno == ENOSYS)
            m_fineWait = false;
    }
    if (!m_fineWait)
        count = ::epoll_wait(m_epoll, ready, 8, StopAwarePollMs(&stop, (us + 999) / 1000));
    // The neighbour entries go first: a reply then finds the entry that its
    // own resolution made.
    for (int i = 0; i < count; ++i)
        if (ready[i].data.fd == m_neighbours.Fd())
            ReadNeighbours(events);
    for (int i = 0; i < count; ++i) {
        const int fd = ready[i].data.fd;
        const bool error = ready[i].events & EPOLLERR;
        if (fd == m_icmp) {
            if (error)
                ReadIcmpErrors(events);
            ReadIcmp(events);
        } else if (fd == m_udp) {
            if (error)
                ReadNameErrors(events);
            ReadNames(events);
        } else if (fd == m_ptr) {
            if (error)
                ReadPtrErrors(events);
            ReadPtr(events);
        } else if (m_dns && fd != m_neighbours.Fd() && fd != stop.Fd()) {
            m_dns->Process(fd, ready[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP),
                           ready[i].events & EPOLLOUT);
        }
    }
    if (m_dns)
        TakeDnsAnswers(events);
}

unsigned LinuxScanNetwork::OpenNameSources(unsigned sources) {
    unsigned opened = 0;
    const unsigned ownResponders = 1u << unsigned(HostRecord::NameSource::Mdns) |
                                   1u << unsigned(HostRecord::NameSource::Llmnr);
    if (sources & ownResponders) {
        m_ptr = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = m_local;
        const int on = 1;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = m_ptr;
        if (m_ptr >= 0 && ::setsockopt(m_ptr, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0 &&
            ::bind(m_ptr, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_ptr, &event) == 0)
            opened |= sources & ownResponders;
        else
            Close(m_ptr);
    }
    const unsigned dns = 1u << unsigned(HostRecord::NameSource::Dns);
    if (sources & dns) {
        // A lookup is worth waiting for about as long as the host's other
        // names; one that takes longer is given up by the scan anyway.
        ReverseLookups::Options options;
        options.tryTimeout = std::chrono::milliseconds(500);
        options.tries = 2;
        std::string error;
        m_dns = ReverseLookups::Create(options, error);
        if (m_dns)
            opened |= dns;
    }
    return opened;
}

int LinuxScanNetwork::SendPtrQuery(std::uint32_t target, std::uint16_t port,
                                   std::span<const std::uint8_t> datagram) {
    if (m_ptr < 0)
        return EBADF;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(target);
    to.sin_port = htons(port);
    return SendTo(m_ptr, datagram, to);
}

bool LinuxScanNetwork::AskDns(std::uint32_t target) {
    if (!m_dns)
        return false;
    m_dns->Ask(target, target);
    return true;
}

void LinuxScanNetwork::WatchDnsSockets() {
    for (const ReverseLookups::SocketInterest& change : m_dns->TakeSocketChanges()) {
        epoll_event event{};
        event.events = (change.read ? EPOLLIN : 0u) | (change.write ? EPOLLOUT : 0u);
        event.data.fd = change.fd;
        if (!change.read && !change.write) {
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, change.fd, nullptr);
        } else if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, change.fd, &event) != 0) {
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, change.fd, &event);
        }
    }
}

void LinuxScanNetwork::TakeDnsAnswers(std::vector<NetworkEvent>& events) {
    m_dns->ProcessTimeouts();
    for (ReverseLookups::Answer& answer : m_dns->TakeAnswers()) {
        NetworkEvent event;
        event.kind = NetworkEvent::Kind::DnsAnswer;
        event.address = answer.address;
        event.state = static_cast<std::uint16_t>(answer.outcome);
        event.bytes.assign(answer.name.begin(), answer.name.end());
        events.push_back(std::move(event));
    }
    WatchDnsSockets();
}

void LinuxScanNetwork::NoteDrops(std::uint32_t& last, std::uint32_t now,
                                 std::vector<NetworkEvent>& events) {
    if (now == last)
        return;
    NetworkEvent event;
    event.kind = NetworkEvent::Kind::Dropped;
    event.count = now - last;
    last = now;
    events.push_back(std::move(event));
}

namespace {

// One datagram read without waiting, with its sender (or, from the error
// queue, the address it was sent to) and its control messages.
struct Received {
    std::uint8_t bytes[kDatagram];
    std::size_t length = 0;
    sockaddr_in address{};
    alignas(cmsghdr) char control[512];
    msghdr message{};

    // False once nothing more is queued.
    bool From(int fd, int flags) {
        for (;;) {
            iovec io{bytes, sizeof bytes};
            message = msghdr{};
            address = sockaddr_in{};
            message.msg_name = &address;
            message.msg_namelen = sizeof address;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t got = ::recvmsg(fd, &message, flags | MSG_DONTWAIT);
            message.msg_iov = nullptr; // `io` ends here; the rest of the header stays valid
            if (got >= 0) {
                length = static_cast<std::size_t>(got);
                return true;
            }
            // A pending socket error (ECONNREFUSED of an earlier datagram)
            // is read from the error queue; nothing more waits here.
            if (errno != EINTR)
                return false;
        }
    }
};

} // namespace

void LinuxScanNetwork::ReadIcmp(std::vector<NetworkEvent>& events) {
    Received received;
    while (received.From(m_icmp, 0)) {
        std::uint32_t counter;
        if (DropCounter(received.message, counter))
            NoteDrops(m_icmpDrops, counter, events);
        const std::span<const std::uint8_t> bytes(received.bytes, received.length);
        const EchoPackets::Message parsed =
            m_raw ? EchoPackets::ParseRaw(bytes)
                  : EchoPackets::ParseDatagram(bytes, ntohl(received.address.sin_addr.s_addr));
        if (parsed.kind == EchoPackets::Message::Kind::Unrelated)
            continue;
        NetworkEvent event;
        event.kind = parsed.kind == EchoPackets::Message::Kind::Reply
                         ? NetworkEvent::Kind::EchoReply
                         : NetworkEvent::Kind::EchoUnreachable;
        event.address = parsed.address;
        event.id = parsed.id;
        event.sequence = parsed.sequence;
        event.bytes.assign(parsed.payload.begin(), parsed.payload.end());
        events.push_back(std::move(event));
    }
}

void LinuxScanNetwork::ReadIcmpErrors(std::vector<NetworkEvent>& events) {
    Received received;
    while (received.From(m_icmp, MSG_ERRQUEUE)) {
        QueuedSocketError error;
        if (!ReadQueuedError(received.message, error) || !IsFatal(error) || error.target == 0)
            continue;
        NetworkEvent event;
        event.kind = NetworkEvent::Kind::EchoUnreachable;
        event.address = error.target;
        // The kernel quotes our request's header: the id and sequence tell
        // which request it was.
        if (received.length >= 8) {
            event.id = static_cast<std::uint16_t>(received.bytes[4] << 8 | received.bytes[5]);
            event.sequence = static_cast<std::uint16_t>(received.bytes[6] << 8 | received.bytes[7]);
        }
        events.push_back(std::move(event));
    }
}

void LinuxScanNetwork::ReadNames(std::vector<NetworkEvent>& events) {
    Received received;
    while (received.From(m_udp, 0)) {
        std::uint32_t counter;
        if (DropCounter(received.message, counter))
            NoteDrops(m_udpDrops, counter, events);
        NetworkEvent event;
        event.kind = NetworkEvent::Kind::NameReply;
        event.address = ntohl(received.address.sin_addr.s_addr);
        event.port = ntohs(received.address.sin_port);
        event.bytes.assign(received.bytes, received.bytes + received.length);
        events.push_back(std::move(event));
    }
}

void LinuxScanNetwork::ReadNameErrors(std::vector<NetworkEvent>& events) {
    Received received;
    while (received.From(m_udp, MSG_ERRQUEUE)) {
        QueuedSocketError error;
        if (!ReadQueuedError(received.message, error) || error.target == 0)
            continue;
        NetworkEvent event;
        event.address = error.target;
        // The host itself refusing the query shows it is there.
        if (error.PortClosedAtTarget())
            event.kind = NetworkEvent::Kind::NameRefused;
        else if (IsFatal(error))
            event.kind = NetworkEvent::Kind::NameUnreachable;
        else
            continue;
        events.push_back(std::move(event));
    }
}

void LinuxScanNetwork::ReadPtr(std::vector<NetworkEvent>& events) {
    Received received;
    while (received.From(m_ptr, 0)) {
        const std::uint16_t port = ntohs(received.address.sin_port);
        if (port != kMdnsPort && port != kLlmnrPort)
            continue;
        NetworkEvent event;
        event.kind = NetworkEvent::Kind::PtrReply;
        event.address = ntohl(received.address.sin_addr.s_addr);
        event.port = port;
        event.bytes.assign(received.bytes, received.bytes + received.length);
        events.push_back(std::move(event));
    }
}

void LinuxScanNetwork::ReadPtrErrors(std::vector<NetworkEvent>& events) {
    Received received;
    while (received.From(m_ptr, MSG_ERRQUEUE)) {
        QueuedSocketError error;
        if (!ReadQueuedError(received.message, error) || error.target == 0 ||
            !(error.PortClosedAtTarget() || IsFatal(error)))
            continue;
        NetworkEvent event;
        event.kind = NetworkEvent::Kind::PtrRefused;
        event.address = error.target;
        event.port = ntohs(received.address.sin_port); // where the query went
        events.push_back(std::move(event));
    }
}

void LinuxScanNetwork::ReadNeighbours(std::vector<NetworkEvent>& events) {
    std::vector<NeighbourEntry> entries;
    const int result = m_neighbours.Read(entries);
    // Changes were lost for want of room: read the whole table again.
    if (result == ENOBUFS)
        m_dumpAgain = true;
    if (m_dumpAgain && m_neighbours.RequestDump() != EBUSY)
        m_dumpAgain = false;
    for (const NeighbourEntry& entry : entries) {
        NetworkEvent event;
        event.kind = NetworkEvent::Kind::Neighbour;
        event.address = entry.address;
        event.state = entry.deleted ? 0 : entry.state;
        if (entry.hasMac && !entry.deleted)
            event.bytes.assign(entry.mac.begin(), entry.mac.end());
        events.push_back(std::move(event));
    }
}

bool LinuxScanNetwork::OnLink(std::uint32_t target) const {
    for (const auto& [network, mask] : m_networks)
        if ((target & mask) == network)
            return true;
    return false;
}
