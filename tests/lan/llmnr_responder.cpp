// llmnr_responder: a host's LLMNR answers, for tests.
//
//   llmnr_responder --name NAME --address ADDRESS [--address ADDRESS]...
//                   [--listen ADDRESS] [--multicast] [--behave MODE]
//
// Listens on UDP port 5355 of the --listen address (default 0.0.0.0) and
// answers reverse (PTR) queries for its addresses with NAME and A queries for
// NAME with its addresses (tests/lan/LlmnrResponder.h). With --multicast it
// also joins the LLMNR group 224.0.0.252 on the interface of the first
// address (the listen address must then be 0.0.0.0). MODE makes its PTR
// answers hostile: other-address, thousand, loop, long-name, control (or
// honest, the default). Answers go only to peers on loopback or in the test
// LAN's range. Once it listens it says so on standard error, then serves
// until it is ended by a signal.

#include "platform/wire/DottedQuad.h"
#include "platform/wire/PtrQuery.h"
#include "tests/lan/LlmnrResponder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr std::uint32_t kLlmnrGroup = 0xE00000FC; // 224.0.0.252
// The largest datagram; a query that fills it is cut and gets no answer.
constexpr std::size_t kDatagramBuffer = 65536;

int Usage(const std::string& message) {
    std::fprintf(stderr,
                 "llmnr_responder: %s\n"
                 "usage: llmnr_responder --name NAME --address ADDRESS [--address ADDRESS]...\n"
                 "                       [--listen ADDRESS] [--multicast] [--behave MODE]\n"
                 "MODE: honest, other-address, thousand, loop, long-name, control\n",
                 message.c_str());
    return kExitUsage;
}

// Answers go back only to loopback and the test LAN (198.18.0.0/15).
bool MayAnswer(std::uint32_t peer) {
    return (peer & 0xFF000000u) == 0x7F000000u || (peer & 0xFFFE0000u) == 0xC6120000u;
}

int Fail(const char* what) {
    std::fprintf(stderr, "llmnr_responder: %s: %s\n", what, std::strerror(errno));
    return -1;
}

int OpenSocket(std::uint32_t listen, bool multicast, std::uint32_t interfaceAddress) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Fail("socket");
    const int on = 1, ttl = 255; // the hop limit LLMNR senders expect on the link
    if (setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
        close(fd);
        return Fail("setsockopt");
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kLlmnrPort);
    local.sin_addr.s_addr = htonl(listen);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close(fd);
        return Fail("bind");
    }
    if (multicast) {
        ip_mreqn group{};
        group.imr_multiaddr.s_addr = htonl(kLlmnrGroup);
        group.imr_address.s_addr = htonl(interfaceAddress);
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
            close(fd);
            return Fail("joining 224.0.0.252");
        }
    }
    return fd;
}

// Sends `reply` to `peer` from the address the query was sent to (the
// kernel's choice when that was the group).
void SendReply(int fd, const std::vector<unsigned char>& reply, const sockaddr_in& peer,
               in_addr asked) {
    iovec part{const_cast<unsigned char*>(reply.data()), reply.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&peer);
    message.msg_namelen = sizeof peer;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (!IN_MULTICAST(ntohl(asked.s_addr))) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = asked;
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    // A reply that cannot go is lost as on a real link; the sender asks again.
    [[maybe_unused]] const ssize_t sent = sendmsg(fd, &message, 0);
}

int Serve(int fd, const LlmnrResponder& responder) {
    std::vector<unsigned char> datagram(kDatagramBuffer);
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo)) + 64];
    for (;;) {
        sockaddr_in peer{};
        iovec part{datagram.data(), datagram.size()};
        msghdr message{};
        message.msg_name = &peer;
        message.msg_namelen = sizeof peer;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = recvmsg(fd, &message, 0);
        if (length < 0) {
            if (errno == EINTR || errno == ENOMEM || errno == ENOBUFS || errno == ECONNREFUSED)
                continue;
            Fail("recvmsg");
            return 1;
        }
        // Port 0 cannot be answered; a cut datagram is no whole query.
        if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 ||
            message.msg_namelen != sizeof peer || peer.sin_port == 0 ||
            !MayAnswer(ntohl(peer.sin_addr.s_addr)))
            continue;
        std::optional<in_addr> asked;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                asked = info.ipi_addr;
            }
        }
        if (!asked)
            continue;
        if (const auto reply = responder.Reply(datagram.data(), static_cast<std::size_t>(length)))
            SendReply(fd, *reply, peer, *asked);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string name;
    std::vector<std::uint32_t> addresses;
    std::uint32_t listen = INADDR_ANY;
    bool multicast = false;
    LlmnrResponder::Behaviour behaviour = LlmnrResponder::Behaviour::Honest;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        std::uint32_t address = 0;
        if (arg == "--name" && hasValue) {
            name = argv[++i];
        } else if ((arg == "--address" || arg == "--listen") && hasValue) {
            if (!ParseDottedQuad(argv[++i], address))
                return Usage(arg + " needs a dotted IPv4 address, not \"" + argv[i] + "\"");
            if (arg == "--listen")
                listen = address;
            else
                addresses.push_back(address);
        } else if (arg == "--multicast") {
            multicast = true;
        } else if (arg == "--behave" && hasValue) {
            const auto named = LlmnrResponder::BehaviourNamed(argv[++i]);
            if (!named)
                return Usage(std::string("unknown mode ") + argv[i]);
            behaviour = *named;
        } else {
            return Usage("unexpected argument " + arg);
        }
    }
    if (name.empty() || addresses.empty())
        return Usage("a name and at least one address are needed");
    if (multicast && listen != INADDR_ANY)
        return Usage("--multicast listens on 0.0.0.0");

    const int fd = OpenSocket(listen, multicast, addresses.front());
    if (fd < 0)
        return 1;
    const LlmnrResponder responder(name, addresses, behaviour);
    std::string answering;
    for (const std::uint32_t address : addresses)
        answering += ' ' + ReverseName(address);
    std::fprintf(stderr, "llmnr_responder: answering as %s for%s\n", name.c_str(),
                 answering.c_str());
    std::fflush(stderr);
    return Serve(fd, responder);
}
