#include "platform/win32/IcmpEcho.h"

#include "platform/wire/IcmpPackets.h"
#include "platform/net/SocketErrorQueue.h"

#include "platform/os/DescriptorLimit.h"
#include "platform/win32/ShortageReport.h"
#include "platform/win32/ProbeNotices.h"
#include "platform/net/RawIcmpSockets.h"
#include "platform/os/ShellQuote.h"
#include "platform/os/StopSignal.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits.h>
#include <iterator>
#include <linux/filter.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

// After <netinet/in.h>, whose definitions it then leaves alone.
#include <linux/icmp.h>

namespace {

using IcmpPackets::kDestinationUnreachable;
using IcmpPackets::kEchoReply;
using IcmpPackets::kEchoRequest;
using IcmpPackets::kParameterProblem;
using IcmpPackets::kTimeExceeded;
constexpr size_t kIcmpHeaderSize = IcmpPackets::kHeaderSize;

uint16_t Read16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

int OpenSocket(IcmpSocketKind kind) {
    if (kind == IcmpSocketKind::Unavailable)
        return -1;
    const int type = kind == IcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    return ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
}

// The errors an ICMP report about a sent datagram sets (icmp_err_convert).
bool IsReportedError(int error) {
    switch (error) {
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case ECONNREFUSED:
    case EMSGSIZE:
    case EOPNOTSUPP:
    case EHOSTDOWN:
    case EACCES:
    case EPROTO:
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// One probe.

class EchoSocket {
public:
    EchoSocket(IcmpSocketKind kind, RawIcmpSocketPool* pool)
        : m_kind(kind), m_pool(pool), m_fd(m_pool ? m_pool->Take() : OpenSocket(kind)),
          m_openError(m_fd < 0 ? errno : 0) {}
    ~EchoSocket() {
        if (m_fd >= 0 && m_pool)
            m_pool->Give(m_fd);
        else if (m_fd >= 0)
            ::close(m_fd);
    }
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;

    // The errno of a socket that could not be opened, else 0.
    int OpenError() const { return m_openError; }
    bool Prepare();
    void KeepOnly(uint16_t id);
    bool Send(uint32_t target, uint16_t id, uint16_t sequence);
    EchoOutcome Wait(uint32_t target, uint16_t id, uint16_t sequence, int timeoutMs,
                     const StopSignal* stop);

private:
    enum class Outcome { Pending, Answered, Failed };
    Outcome ReadAnswers(uint32_t target, uint16_t id, uint16_t sequence);
    Outcome ReadErrors(uint32_t target, uint16_t sequence);

    IcmpSocketKind m_kind;
    RawIcmpSocketPool* m_pool; // null: a socket of our own
    int m_fd;
    int m_openError;
};

bool EchoSocket::Prepare() {
    if (m_fd < 0)
        return false;
    const int ttl = 255;
    const int tos = 0;
    if (::setsockopt(m_fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0 ||
        ::setsockopt(m_fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) != 0)
        return false;
    if (m_kind == IcmpSocketKind::Datagram) {
        // Unreachable reports for our request arrive on the error queue.
        const int on = 1;
        return ::setsockopt(m_fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
    }
    IcmpEchoInternal::FilterToRepliesAndErrors(m_fd);
    return true;
}

void EchoSocket::KeepOnly(uint16_t id) {
    if (m_kind == IcmpSocketKind::Raw)
        IcmpEchoInternal::KeepOnlyMessagesAbout(m_fd, id); // without it we merely read more
}

bool EchoSocket::Send(uint32_t target, uint16_t id, uint16_t sequence) {
    const std::vector<uint8_t> request = IcmpEchoInternal::EchoRequest(id, sequence);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = target;
    ssize_t sent;
    do {
        sent = ::sendto(m_fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to);
    } while (sent < 0 && errno == EINTR);
    // No route (ENETUNREACH, EHOSTUNREACH) and every other refusal: no answer
    // can come, and there is no second attempt.
    return sent == static_cast<ssize_t>(request.size());
}

EchoSocket::Outcome EchoSocket::ReadAnswers(uint32_t target, uint16_t id, uint16_t sequence) {
    using IcmpEchoInternal::EchoAnswer;
    uint8_t buffer[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(m_fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Outcome::Pending;
            // A datagram socket's error mark (see ReadErrors), read and so
            // cleared here: its report, still queued or already read, tells
            // whether it is about our request.
            if (m_kind == IcmpSocketKind::Datagram && IsReportedError(errno))
                return Outcome::Pending;
            // Any other error: the only request this socket sent failed.
            return Outcome::Failed;
        }
        const std::span<const uint8_t> datagram(buffer, static_cast<size_t>(length));
        const EchoAnswer answer =
            m_kind == IcmpSocketKind::Raw
                ? IcmpEchoInternal::ClassifyRawPacket(datagram, target, id, sequence)
                : IcmpEchoInternal::ClassifyDatagramPacket(datagram, from.sin_addr.s_addr, target,
                                                           sequence);
        if (answer == EchoAnswer::Reply)
            return Outcome::Answered;
        if (answer == EchoAnswer::Unreachable)
            return Outcome::Failed;
    }
}

EchoSocket::Outcome EchoSocket::ReadErrors(uint32_t target, uint16_t sequence) {
    for (;;) {
        uint8_t quoted[64];
        alignas(cmsghdr) char control[512];
        sockaddr_in offended{};
        iovec io{quoted, sizeof quoted};
        msghdr message{};
        message.msg_name = &offended;
        message.msg_namelen = sizeof offended;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = ::recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            // Nothing queued. The kernel marks the socket with an error as it
            // queues a report, and may set the mark just after the report was
            // read here; reading a report clears it otherwise. Every error is
            // judged by its report, never by the mark: clear it so that poll
            // stops reporting it.
            int error = 0;
            socklen_t errorLength = sizeof error;
            if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0)
                return Outcome::Failed;
            return Outcome::Pending;
        }
        QueuedSocketError error;
        if (!ReadQueuedError(message, error))
            continue;
        if (error.local)
            return Outcome::Failed;
        if (!error.icmp || !IcmpPackets::IsFatalError(error.type))
            continue;
        const bool aboutTarget = error.target == ntohl(target);
        // The kernel quotes our request's header when it has it.
        const std::span<const uint8_t> request(quoted, static_cast<size_t>(length));
        const bool aboutRequest = request.size() < kIcmpHeaderSize ||
                                  (request[0] == kEchoRequest && Read16(request, 6) == sequence);
        if (aboutTarget && aboutRequest)
            return Outcome::Failed;
    }
}

EchoOutcome EchoSocket::Wait(uint32_t target, uint16_t id, uint16_t sequence, int timeoutMs,
                             const StopSignal* stop) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (stop && stop->IsRaised())
            return EchoOutcome::Stopped;
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        // Rounded up, so that the wait never ends a little before the deadline.
        const long long leftMs = left.count() <= 0 ? 0 : (left.count() + 999999) / 1000000;
        pollfd items[2] = {{m_fd, POLLIN, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
        const int ready = ::poll(items, 2, StopAwarePollMs(stop, leftMs));
        if (ready < 0 && errno != EINTR)
            return EchoOutcome::NoAnswer;
        const short events = ready > 0 ? items[0].revents : 0;
        if (events & POLLERR) {
            if (ReadErrors(target, sequence) == Outcome::Failed)
                return EchoOutcome::NoAnswer;
        }
        if (events & POLLIN) {
            const Outcome outcome = ReadAnswers(target, id, sequence);
            if (outcome != Outcome::Pending)
                return outcome == Outcome::Answered ? EchoOutcome::Answered : EchoOutcome::NoAnswer;
        }
        if (events & (POLLHUP | POLLNVAL))
            return EchoOutcome::NoAnswer;
        if (Clock::now() >= deadline)
            return EchoOutcome::NoAnswer;
    }
}

// Where a service's ids start: random, and apart from those of other
// processes pinging at the same time.
uint32_t NewSalt() {
    uint32_t value = static_cast<uint32_t>(::getpid()) * 2654435761u;
    try {
        std::random_device device;
        value ^= device();
    } catch (...) {
        value ^= static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return value;
}

} // namespace

IcmpEchoService::IcmpEchoService(const std::string& helperPath)
    : m_pool(helperPath.empty() ? nullptr : std::make_unique<RawIcmpSocketPool>(helperPath)),
      m_salt(NewSalt()) {}

IcmpEchoService::~IcmpEchoService() = default;

bool IcmpEchoService::Echo(const std::string& address, int timeoutMs) {
    return EchoUntil(address, timeoutMs, nullptr) == EchoOutcome::Answered;
}

EchoOutcome IcmpEchoService::EchoUntil(const std::string& address, int timeoutMs,
                                       const StopSignal* stop) {
    // A NUL inside the text would let inet_addr read only its beginning.
    if (address.find('\0') != std::string::npos)
        return EchoOutcome::NoAnswer;
    const in_addr_t target = ::inet_addr(address.c_str());
    if (target == INADDR_NONE || target == htonl(INADDR_ANY))
        return EchoOutcome::NoAnswer;

    const IcmpSocketKind kind = SocketKind();
    if (kind == IcmpSocketKind::Unavailable)
        return EchoOutcome::NoAnswer;
    if (stop && stop->IsRaised())
        return EchoOutcome::Stopped;

    EchoSocket socket(kind, CurrentChoice().viaHelper ? m_pool.get() : nullptr);
    // No echo was sent: the host has not been asked, so the user must know.
    if (IsResourceShortage(socket.OpenError()))
        ReportResourceShortage();
    if (!socket.Prepare())
        return EchoOutcome::NoAnswer;
    uint16_t id;
    uint16_t sequence;
    NextIdentifiers(id, sequence);
    socket.KeepOnly(id);
    if (!socket.Send(target, id, sequence))
        return EchoOutcome::NoAnswer;
    return socket.Wait(target, id, sequence, timeoutMs, stop);
}

// Nothing when no socket could be opened for want of descriptors or memory:
// that says nothing about what the system allows, so no choice is made yet.
std::optional<IcmpEchoService::Choice> IcmpEchoService::ChooseSocketKind() {
    bool shortage = false;
    for (IcmpSocketKind kind : {IcmpSocketKind::Datagram, IcmpSocketKind::Raw}) {
        const int fd = OpenSocket(kind);
        if (fd >= 0) {
            ::close(fd);
            return Choice{kind, false};
        }
        shortage = shortage || IsResourceShortage(errno);
    }
    if (shortage)
        return std::nullopt;
    if (m_pool) {
        const int fd = m_pool->Take();
        if (fd >= 0) {
            m_pool->Give(fd);
            return Choice{IcmpSocketKind::Raw, true};
        }
    }
    return Choice{};
}

IcmpEchoService::Choice IcmpEchoService::CurrentChoice() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_choice;
}

IcmpSocketKind IcmpEchoService::SocketKind() {
    bool chosen;
    IcmpSocketKind kind;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_chosen) {
            const std::optional<Choice> found = ChooseSocketKind();
            m_chosen = found.has_value();
            m_choice = found.value_or(Choice{});
        }
        chosen = m_chosen;
        kind = m_choice.kind;
    }
    // The notices go out outside the lock: the probes of other threads must
    // not wait for the user to read them.
    if (!chosen)
        ReportResourceShortage();
    else if (kind == IcmpSocketKind::Unavailable && !m_told.exchange(true))
        TellUserNoSocket();
    return kind;
}

void IcmpEchoService::TellUserNoSocket() {
    const std::string text = IcmpEchoInternal::NoSocketMessage(m_pool ? m_pool->HelperPath() : "");
    TellProbeNotice({text, "エラー", MB_OK | MB_ICONERROR});
}

void IcmpEchoService::ForceSocketKind(IcmpSocketKind kind) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_chosen = true;
    m_choice = Choice{kind, false};
    m_told = true;
}

int IcmpEchoService::OpenScanSocket(IcmpSocketKind& kind) {
    kind = SocketKind();
    if (kind == IcmpSocketKind::Unavailable)
        return -1;
    if (CurrentChoice().viaHelper)
        return m_pool ? m_pool->Take() : -1;
    return OpenSocket(kind);
}

// A raw socket receives every echo reply of the host, so concurrent probes
// (and other programs pinging) must tell theirs apart by id and sequence.
// The sequence changes with each wrap of the ids.
void IcmpEchoService::NextIdentifiers(uint16_t& id, uint16_t& sequence) {
    const uint32_t n = m_counter.fetch_add(1, std::memory_order_relaxed);
    id = static_cast<uint16_t>((m_salt & 0xFFFF) + n);
    sequence = static_cast<uint16_t>((m_salt >> 16) + (n >> 16) + 1);
}

namespace IcmpEchoInternal {

bool IsFatalError(uint8_t type) {
    return IcmpPackets::IsFatalError(type);
}

// A raw socket gets a copy of every ICMP message of the host. With many
// probes at once, each socket's buffer filled with the others' replies and
// with the unreachable reports of every refused neighbour until the kernel
// dropped its own answer. The filter keeps only the echo replies with our
// identifier and the error messages that quote an echo request with it.
bool KeepOnlyMessagesAbout(int fd, uint16_t id) {
    constexpr uint32_t kKeep = 0xFFFF;
    sock_filter code[] = {
        /* 0 */ BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), // X = IP header length
        /* 1 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),  // ICMP type
        /* 2 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoReply, 4, 0),
        /* 3 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kDestinationUnreachable, 5, 0),
        /* 4 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kTimeExceeded, 4, 0),
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kParameterProblem, 3, 0),
        /* 6 */ BPF_STMT(BPF_RET | BPF_K, 0),
        // A reply: its identifier.
        /* 7 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),
        /* 8 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 9, 10),
        // An error: the quoted header must be ICMP, and the identifier of the
        // quoted message (after the quoted header, of its own length) ours.
        /* 9 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8 + 9),
        /* 10 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_ICMP, 0, 8),
        /* 11 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),
        /* 12 */ BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F),
        /* 13 */ BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),
        /* 14 */ BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),
        /* 15 */ BPF_STMT(BPF_MISC | BPF_TAX, 0), // X = both header lengths
        /* 16 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 8 + 4),
        /* 17 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),
        /* 18 */ BPF_STMT(BPF_RET | BPF_K, kKeep),
        /* 19 */ BPF_STMT(BPF_RET | BPF_K, 0), // a read beyond the end also drops
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
        return false;
    // Until now the socket took every ICMP message of the host. A thread held
    // up between opening it and filtering it could find its buffer full of
    // its neighbours' traffic, with no room left for its own answer, which
    // comes within microseconds of the request. Nothing queued before the
    // request was sent can be about it: drop all of it.
    uint8_t discard[1];
    for (int i = 0; i < 65536; ++i) {
        const ssize_t got = ::recv(fd, discard, sizeof discard, MSG_DONTWAIT | MSG_TRUNC);
        if (got < 0 && errno != EINTR)
            break;
    }
    return true;
}

void FilterToRepliesAndErrors(int fd) {
    // A raw socket sees every ICMP message of the host; let only the kinds we
    // look at wake us. Without the filter we merely read more.
    icmp_filter filter{};
    filter.data = ~((1u << kEchoReply) | (1u << kDestinationUnreachable) | (1u << kTimeExceeded) |
                    (1u << kParameterProblem));
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

bool CanOpenSocket(IcmpSocketKind kind) {
    const int fd = OpenSocket(kind);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
    return IcmpPackets::InternetChecksum(bytes);
}

std::vector<uint8_t> EchoRequest(uint16_t id, uint16_t sequence) {
    return IcmpPackets::Request(id, sequence);
}

EchoAnswer ClassifyRawPacket(std::span<const uint8_t> packet, uint32_t target, uint16_t id,
                             uint16_t sequence) {
    const IcmpPackets::Message message = IcmpPackets::ParseRaw(packet);
    if (message.kind == IcmpPackets::Message::Kind::Unrelated || message.address != ntohl(target) ||
        message.id != id || message.sequence != sequence)
        return EchoAnswer::Unrelated;
    return message.kind == IcmpPackets::Message::Kind::Reply ? EchoAnswer::Reply
                                                             : EchoAnswer::Unreachable;
}

EchoAnswer ClassifyDatagramPacket(std::span<const uint8_t> message, uint32_t source,
                                  uint32_t target, uint16_t sequence) {
    const IcmpPackets::Message parsed = IcmpPackets::ParseDatagram(message, ntohl(source));
    return parsed.kind == IcmpPackets::Message::Kind::Reply && source == target &&
                   parsed.sequence == sequence
               ? EchoAnswer::Reply
               : EchoAnswer::Unrelated;
}

std::string NoSocketMessage(const std::string& helperPath) {
    const std::string program =
        helperPath.empty() ? std::string("<補助プログラム vopal-icmp-helper のパス>")
                           : ShellQuote(helperPath);
    return "ICMPエコー要求を送るためのソケットを開けません。\n"
           "このままでは、どのアドレスも応答なしになります。\n"
           "\n"
           "次のどちらかを行ってから、プログラムを起動し直してください。\n"
           "\n"
           "・補助プログラムに権限を与える:\n"
           "    sudo setcap cap_net_raw=p " +
           program +
           "\n"
           "\n"
           "・ping ソケットをすべてのユーザーに許可する:\n"
           "    sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"";
}

} // namespace IcmpEchoInternal
