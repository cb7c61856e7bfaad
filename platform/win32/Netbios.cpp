#include "platform/win32/Netbios.h"
#include "platform/os/StopSignal.h"

#include "platform/net/ArpTable.h"
#include "platform/os/DescriptorLimit.h"
#include "platform/win32/ShortageReport.h"
#include "platform/wire/DottedQuad.h"
#include "platform/win32/AdapterStatus.h"
#include "platform/wire/NodeStatusPacket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/random.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSendCount = 3;
constexpr auto kSendInterval = std::chrono::milliseconds(750);

// The call name's address in network byte order, read by the program's one
// strict parser.
std::optional<in_addr_t> ParseCallAddress(std::string_view text) {
    std::uint32_t address = 0;
    if (!ParseDottedQuad(text, address))
        return std::nullopt;
    return htonl(address);
}

// The machine's IPv4 interfaces that are up and not loopback, in interface
// index order, one address each (the first one listed).
std::vector<in_addr_t> SystemLanaAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        // Without its netlink socket no LANA is known, and the call fails.
        if (IsResourceShortage(errno))
            ReportResourceShortage();
        return {};
    }
    std::vector<std::pair<unsigned, in_addr_t>> found;
    for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET ||
            ifa->ifa_name == nullptr)
            continue;
        if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK))
            continue;
        // An alias label such as "eth0:1" names the interface before the colon.
        std::string name = ifa->ifa_name;
        name = name.substr(0, name.find(':'));
        const unsigned index = if_nametoindex(name.c_str());
        if (index == 0)
            continue;
        const bool known = std::any_of(found.begin(), found.end(),
                                       [index](const auto& item) { return item.first == index; });
        if (known)
            continue;
        found.emplace_back(index,
                           reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr);
    }
    freeifaddrs(list);
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<in_addr_t> addresses;
    for (const auto& item : found)
        addresses.push_back(item.second);
    return addresses;
}

std::vector<in_addr_t> LanaAddresses(const NetbiosTransport& transport) {
    if (transport.lanas)
        return *transport.lanas;
    return SystemLanaAddresses();
}

// Samba sends an all-zero unit id; the neighbour table knows better for a
// host on the local segment.
void TakeZeroUnitIdFromNeighbours(std::string_view target, const std::string& arpTablePath,
                                  std::array<unsigned char, 6>& unitId) {
    if (!std::all_of(unitId.begin(), unitId.end(), [](unsigned char b) { return b == 0; }))
        return;
    int openError = 0;
    if (const auto mac = LookupArpEntry(target, arpTablePath, &openError))
        std::memcpy(unitId.data(), mac->data(), unitId.size());
    else if (IsResourceShortage(openError))
        ReportResourceShortage(); // the zeros would be shown as the host's own MAC
}

// Unpredictable, so that an off-path host cannot forge the answer easily;
// getrandom is thread-safe and needs no shared generator.
std::uint16_t NewTransactionId() {
    std::uint16_t id = 0;
    if (getrandom(&id, sizeof id, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof id))
        return id;
    // Each query has a socket of its own, connected to its target, so ids
    // need not differ between queries: the clock and the thread will do.
    const auto now = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
    const auto thread = std::hash<std::thread::id>()(std::this_thread::get_id());
    const std::uint64_t mixed = now ^ (thread * 0x9E3779B97F4A7C15ull);
    return static_cast<std::uint16_t>(mixed ^ (mixed >> 16) ^ (mixed >> 32) ^ (mixed >> 48));
}

class Socket {
public:
    Socket() : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

enum class ReceiveOutcome { Answered, Refused, Nothing };

// Reads every datagram waiting on the socket; the first valid answer wins.
ReceiveOutcome ReceiveReplies(int fd, const sockaddr_in& target, std::uint16_t id,
                              std::vector<unsigned char>& datagram, NodeStatusAnswer& answer) {
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ECONNREFUSED)
                return ReceiveOutcome::Refused;
            // EAGAIN: drained. Anything else (a soft ICMP error) changes
            // nothing: the host may still answer a later send.
            return ReceiveOutcome::Nothing;
        }
        // The socket is connected, so the kernel already filters; this is a
        // second look that costs nothing.
        if (fromLength < sizeof from || from.sin_family != AF_INET ||
            from.sin_addr.s_addr != target.sin_addr.s_addr || from.sin_port != target.sin_port)
            continue;
        if (DecodeNodeStatusAnswer(datagram.data(), static_cast<std::size_t>(got), id, answer)
                .accepted())
            return ReceiveOutcome::Answered;
    }
}

// One node-status query: up to three sends with the same transaction id,
// 750 ms apart, and a last wait of 750 ms after the third.
UCHAR SendNodeStatusQuery(in_addr_t local, in_addr_t target, std::string_view targetText,
                          NodeStatusAnswer& answer, const StopSignal* stop,
                          const NetbiosTransport& transport) {
    Socket sock;
    if (sock.fd() < 0) {
        // The host is not asked at all; the user must know.
        if (IsResourceShortage(errno))
            ReportResourceShortage();
        return NRC_NORESOURCES;
    }
    sockaddr_in localAddress{};
    localAddress.sin_family = AF_INET;
    localAddress.sin_addr.s_addr = local;
    if (bind(sock.fd(), reinterpret_cast<const sockaddr*>(&localAddress), sizeof localAddress) != 0)
        return NRC_SYSTEM;
    sockaddr_in targetAddress{};
    targetAddress.sin_family = AF_INET;
    targetAddress.sin_addr.s_addr = target;
    targetAddress.sin_port = htons(transport.port);
    // No route, or a broadcast address: no answer can come.
    if (connect(sock.fd(), reinterpret_cast<const sockaddr*>(&targetAddress),
                sizeof targetAddress) != 0)
        return NRC_CMDTMO;

    const std::uint16_t id = NewTransactionId();
    const auto request = BuildNodeStatusRequest(id);
    std::vector<unsigned char> datagram(65536);

    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + kSendCount * kSendInterval;
    int sent = 0;
    for (;;) {
        if (stop && stop->IsRaised())
            return NRC_CMDCAN;
        Clock::time_point now = Clock::now();
        while (sent < kSendCount && now >= start + sent * kSendInterval) {
            const ssize_t rc = send(sock.fd(), request.data(), request.size(), 0);
            if (rc < 0 && errno == EINTR)
                continue;
            ++sent;
            if (rc < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS &&
                errno != ENOMEM)
                return NRC_CMDTMO; // refused, unreachable or forbidden
        }
        if (now >= deadline)
            return NRC_CMDTMO;
        const Clock::time_point wakeUp =
            sent < kSendCount ? start + sent * kSendInterval : deadline;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wakeUp - now);
        pollfd items[2] = {{sock.fd(), POLLIN, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
        const int ready = poll(items, 2, StopAwarePollMs(stop, wait.count()));
        if (ready <= 0 || items[0].revents == 0)
            continue; // time-out, EINTR or a stop: the loop's top decides
        const ReceiveOutcome outcome =
            ReceiveReplies(sock.fd(), targetAddress, id, datagram, answer);
        if (outcome == ReceiveOutcome::Refused)
            return NRC_CMDTMO;
        if (outcome == ReceiveOutcome::Answered)
            break;
    }

    TakeZeroUnitIdFromNeighbours(targetText, transport.arpTablePath, answer.unitId);
    return NRC_GOODRET;
}

// The call name of an NCB: the address text without its padding.
std::string_view CallNameOf(const NCB& ncb) {
    std::size_t nameLength = NCBNAMSZ;
    while (nameLength > 0 &&
           (ncb.ncb_callname[nameLength - 1] == ' ' || ncb.ncb_callname[nameLength - 1] == 0))
        --nameLength;
    return {reinterpret_cast<const char*>(ncb.ncb_callname), nameLength};
}

// Where a node-status query for `address` goes from: NRC_NOCALL when the text
// is no dotted IPv4 address, NRC_BRIDGE when there is no such LANA.
UCHAR ResolveCall(int lana, std::string_view address, const NetbiosTransport& transport,
                  in_addr_t& local, in_addr_t& target) {
    const std::optional<in_addr_t> parsed = ParseCallAddress(address);
    if (!parsed)
        return NRC_NOCALL;
    const std::vector<in_addr_t> lanas = LanaAddresses(transport);
    if (lana < 0 || static_cast<std::size_t>(lana) >= lanas.size())
        return NRC_BRIDGE;
    local = lanas[static_cast<std::size_t>(lana)];
    target = *parsed;
    return NRC_GOODRET;
}

UCHAR AdapterStatus(NCB& ncb, const StopSignal* stop, NodeStatusAnswer* typed,
                    const NetbiosTransport& transport) {
    if (ncb.ncb_buffer == nullptr || ncb.ncb_length < kAdapterStatusSize)
        return NRC_BUFLEN;
    const std::string_view address = CallNameOf(ncb);
    in_addr_t local = 0, target = 0;
    if (const UCHAR rc = ResolveCall(ncb.ncb_lana_num, address, transport, local, target);
        rc != NRC_GOODRET)
        return rc;
    std::memset(ncb.ncb_buffer, 0, ncb.ncb_length);
    NodeStatusAnswer answer;
    if (const UCHAR rc = SendNodeStatusQuery(local, target, address, answer, stop, transport);
        rc != NRC_GOODRET)
        return rc;
    unsigned stored = 0;
    const UCHAR rc = LayOutAdapterStatus(answer, ncb.ncb_buffer, ncb.ncb_length, stored);
    if (typed)
        *typed = std::move(answer);
    return rc;
}

} // namespace

UCHAR Netbios(NCB* ncb) { return Netbios(ncb, nullptr, nullptr); }

UCHAR Netbios(NCB* ncb, const StopSignal* stop) { return Netbios(ncb, stop, nullptr); }

UCHAR Netbios(NCB* ncb, const StopSignal* stop, NodeStatusAnswer* answer) {
    return Netbios(ncb, stop, answer, NetbiosTransport{});
}

UCHAR Netbios(NCB* ncb, const StopSignal* stop, NodeStatusAnswer* answer,
              const NetbiosTransport& transport) {
    if (ncb == nullptr)
        return NRC_BADDR;
    UCHAR rc = NRC_ILLCMD;
    switch (ncb->ncb_command) {
    case NCBRESET:
        rc = ncb->ncb_lana_num < LanaAddresses(transport).size() ? NRC_GOODRET : NRC_BRIDGE;
        break;
    case NCBASTAT:
        rc = AdapterStatus(*ncb, stop, answer, transport);
        break;
    default:
        break;
    }
    ncb->ncb_retcode = rc;
    ncb->ncb_cmd_cplt = rc;
    return rc;
}

bool NetbiosLanaAddress(int lana, std::uint32_t& address, const NetbiosTransport& transport) {
    const std::vector<in_addr_t> lanas = LanaAddresses(transport);
    if (lana < 0 || static_cast<std::size_t>(lana) >= lanas.size())
        return false;
    address = lanas[static_cast<std::size_t>(lana)];
    return true;
}

std::uint16_t NetbiosDestinationPort() {
    return kNetbiosNamePort;
}

std::optional<std::vector<std::uint32_t>> NetbiosLanaList(const std::vector<std::string>& texts) {
    std::vector<std::uint32_t> lanas;
    for (const std::string& text : texts) {
        const std::optional<in_addr_t> address = ParseCallAddress(text);
        if (!address)
            return std::nullopt;
        lanas.push_back(*address);
    }
    return lanas;
}
