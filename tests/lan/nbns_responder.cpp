// nbns_responder: the node-status answers of the test LAN's routed prefix.
//
//   nbns_responder [--conf FILE] [--host ADDRESS [--delay MS]] [--daemon]
//       Answers on 0.0.0.0:137 inside the wide host's namespace, as WideLan
//       says, from the address that was asked. With --host, answers instead
//       for that host of the layout alone (the slow host): its name table and
//       MAC, each answer MS milliseconds after the query. With --daemon it
//       goes to the background once the socket is bound, so that it answers
//       as soon as the command has returned.
//   nbns_responder [--conf FILE] [--keep-silent] --print-truth RANGE...
//       Prints what vopal-scan must print for the ranges with the stored
//       defaults (export layout, UTF-8, CR LF), from the same layout and rule.
//
// FILE is the test LAN's layout (default: tests/lan/testlan.conf, or
// $KD_TESTLAN_CONF). Started and stopped by scripts/testlan.sh.

#include "core/commands/ExportFormat.h"
#include "core/ranges/RangeArgument.h"
#include "core/scan/MemoryResultList.h"
#include "tests/lan/NodeStatusResponder.h"
#include "tests/lan/TestLan.h"
#include "tests/lan/TestLanTruth.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr std::uint16_t kNetbiosNamePort = 137;
// Room for a burst of queries from a thousand workers at once.
constexpr int kReceiveBuffer = 4 << 20;
// Larger than any query; a datagram that fills it is too long to be one.
constexpr std::size_t kDatagramBuffer = 1024;

int Usage(const char* message) {
    std::fprintf(stderr,
                 "nbns_responder: %s\n"
                 "usage: nbns_responder [--conf FILE] [--host ADDRESS [--delay MS]] [--daemon]\n"
                 "       nbns_responder [--conf FILE] [--keep-silent] --print-truth RANGE...\n",
                 message);
    return kExitUsage;
}

int PrintTruth(const TestLan& lan, const std::vector<AddressRange>& ranges, bool keepSilent) {
    const TestLanTruth truth(lan);
    MemoryResultList list;
    for (const AddressRange& range : ranges) {
        for (const HostRecord& row : truth.Rows(range, keepSilent)) {
            const int index = list.InsertItem(list.GetItemCount(), CellOf(row, HostRecord::kAddress));
            list.SetRecord(index, row);
        }
    }
    const std::string text = FormatExportText(list);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Our replies go only back into the test range.
bool InTestRange(std::uint32_t address) {
    return (address & 0xFFFE0000u) == 0xC6120000u;
}

int OpenSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "nbns_responder: socket: %s\n", std::strerror(errno));
        return -1;
    }
    const int on = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        std::fprintf(stderr, "nbns_responder: IP_PKTINFO: %s\n", std::strerror(errno));
        close(fd);
        return -1;
    }
    // Above the system's limit needs CAP_NET_ADMIN, which the test LAN has;
    // the plain option still gives what the limit allows.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kNetbiosNamePort);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        std::fprintf(stderr, "nbns_responder: bind 0.0.0.0:%u: %s\n", kNetbiosNamePort,
                     std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

// Sends `reply` to `peer` from `from`, the address that was asked.
void SendReply(int fd, const std::vector<unsigned char>& reply, const sockaddr_in& peer,
               in_addr from) {
    iovec part{const_cast<unsigned char*>(reply.data()), reply.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&peer);
    message.msg_namelen = sizeof peer;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = from;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    // A reply that cannot go is lost as on a real LAN; the asker retries.
    [[maybe_unused]] ssize_t sent = sendmsg(fd, &message, MSG_DONTWAIT);
}

using Clock = std::chrono::steady_clock;

// A reply held back until its time.
struct Pending {
    Clock::time_point due;
    std::vector<unsigned char> reply;
    sockaddr_in peer;
    in_addr from;
};

int Serve(int fd, const NodeStatusResponder& responder, std::chrono::milliseconds delay) {
    unsigned char datagram[kDatagramBuffer];
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo)) + 64];
    // One delay for all, so the earliest due is always at the front.
    std::deque<Pending> pending;
    for (;;) {
        while (!pending.empty() && pending.front().due <= Clock::now()) {
            SendReply(fd, pending.front().reply, pending.front().peer, pending.front().from);
            pending.pop_front();
        }
        if (!pending.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(pending.front().due -
                                                                           Clock::now());
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(std::max<long long>(wait.count(), 0))) <= 0)
                continue;
        }
        sockaddr_in peer{};
        iovec part{datagram, sizeof datagram};
        msghdr message{};
        message.msg_name = &peer;
        message.msg_namelen = sizeof peer;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = recvmsg(fd, &message, pending.empty() ? 0 : MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOMEM || errno == ENOBUFS ||
                errno == ECONNREFUSED)
                continue;
            std::fprintf(stderr, "nbns_responder: recvmsg: %s\n", std::strerror(errno));
            return 1;
        }
        if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 ||
            message.msg_namelen != sizeof peer || peer.sin_port == 0 ||
            !InTestRange(ntohl(peer.sin_addr.s_addr)))
            continue;
        std::optional<in_addr> asked;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                asked = info.ipi_addr; // the destination of the datagram
            }
        }
        if (!asked)
            continue;
        const auto reply =
            responder.Reply(datagram, static_cast<std::size_t>(length), ntohl(asked->s_addr));
        if (reply && delay.count() > 0)
            pending.push_back({Clock::now() + delay, std::move(*reply), peer, *asked});
        else if (reply)
            SendReply(fd, *reply, peer, *asked);
    }
}

// Goes to the background: the caller returns once the socket is bound.
bool Detach() {
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "nbns_responder: fork: %s\n", std::strerror(errno));
        return false;
    }
    if (child > 0)
        _exit(0);
    setsid();
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        close(null);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string conf = TestLan::DefaultPath();
    bool daemon = false, keepSilent = false, printTruth = false;
    std::string hostAddress;
    long delayMs = 0;
    bool hasDelay = false;
    std::vector<AddressRange> ranges;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--conf" && i + 1 < argc) {
            conf = argv[++i];
        } else if (arg == "--host" && i + 1 < argc) {
            hostAddress = argv[++i];
        } else if (arg == "--delay" && i + 1 < argc) {
            char* end = nullptr;
            delayMs = std::strtol(argv[++i], &end, 10);
            if (!end || *end != '\0' || end == argv[i] || delayMs < 0 || delayMs > 60000)
                return Usage("--delay must be 0 to 60000 milliseconds");
            hasDelay = true;
        } else if (arg == "--daemon") {
            daemon = true;
        } else if (arg == "--keep-silent") {
            keepSilent = true;
        } else if (arg == "--print-truth") {
            printTruth = true;
        } else if (printTruth && !arg.empty() && arg[0] != '-') {
            AddressRange range;
            std::string error;
            if (!ParseRangeArgument(arg, range, error))
                return Usage(("bad range \"" + arg + "\": " + error).c_str());
            ranges.push_back(range);
        } else {
            return Usage(("unexpected argument " + arg).c_str());
        }
    }
    if ((printTruth && (ranges.empty() || daemon || !hostAddress.empty())) ||
        (keepSilent && !printTruth))
        return Usage("either --print-truth with ranges, or serving");
    if (hasDelay && hostAddress.empty())
        return Usage("--delay goes with --host");

    std::string error;
    const std::optional<TestLan> lan = TestLan::Load(conf, error);
    if (!lan) {
        std::fprintf(stderr, "nbns_responder: %s\n", error.c_str());
        return 1;
    }
    if (printTruth)
        return PrintTruth(*lan, ranges, keepSilent);

    std::optional<NodeStatusResponder> responder;
    std::string answering;
    if (!hostAddress.empty()) {
        const TestLanHost* host = lan->Find(hostAddress);
        if (!host || !host->HasNames()) {
            std::fprintf(stderr, "nbns_responder: %s holds no host with a name at %s\n",
                         conf.c_str(), hostAddress.c_str());
            return 1;
        }
        responder.emplace(*host);
        answering = host->address + " as " + host->name + ", " + std::to_string(delayMs) +
                    " ms late";
    } else if (const TestLanHost* wide = lan->wide()) {
        responder.emplace(wide->routed);
        answering = wide->routed.Text();
    } else {
        std::fprintf(stderr, "nbns_responder: %s has no wide host\n", conf.c_str());
        return 1;
    }
    const int fd = OpenSocket();
    if (fd < 0)
        return 1;
    if (daemon && !Detach())
        return 1;
    std::fprintf(stderr, "nbns_responder: answering for %s\n", answering.c_str());
    std::fflush(stderr);
    return Serve(fd, *responder, std::chrono::milliseconds(delayMs));
}
