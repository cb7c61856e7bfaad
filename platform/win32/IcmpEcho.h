#pragma once
// One ICMP echo request to one IPv4 address and one wait for its reply.
//
// The echo goes out through an unprivileged ICMP datagram socket when the
// system allows it (net.ipv4.ping_group_range), else through a raw socket:
// its own (root) or one from vopal-icmp-helper (RawIcmpSockets.h), the only
// program of ours that holds cap_net_raw. The kind is chosen once per
// IcmpEchoService, and the program makes one per process. When neither
// can be opened the user is told once how to allow it (a notice to the
// prober's receiver, ProbeNotices.h), and every probe answers false from then on.
// A socket that cannot be opened for want of descriptors or memory makes a
// probe answer false too, and the user is told (ReportResourceShortage); the
// choice of kind waits for a socket that opens.
//
// Each call opens its own socket, so any number of threads may probe at once.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

class RawIcmpSocketPool;
class StopSignal;

enum class EchoOutcome { Answered, NoAnswer, Stopped };

enum class IcmpSocketKind { Unavailable, Datagram, Raw };

// The echo probes of one process: the socket kind, chosen on first use and
// kept; the helper's pool of raw sockets; the ids of the requests. Made once
// by the program's start-up and handed to whatever probes; two of them keep
// two choices (tests make one each).
class IcmpEchoService {
public:
    // `helperPath`: where raw sockets come from when the process may not
    // open them itself (FindIcmpHelper); empty: no helper.
    explicit IcmpEchoService(const std::string& helperPath = "");
    ~IcmpEchoService();
    IcmpEchoService(const IcmpEchoService&) = delete;
    IcmpEchoService& operator=(const IcmpEchoService&) = delete;

    // Sends one echo request (TTL 255, TOS 0, no IP options, no payload) to
    // the dotted IPv4 address and waits at most timeoutMs on a monotonic
    // clock. True exactly when an echo reply to this request came back from
    // that address. False without waiting when the text is not an address (as
    // inet_addr reads it) or is 0.0.0.0 or 255.255.255.255, and as soon as
    // the destination is reported unreachable. A timeoutMs of 0 or less sends
    // the request and takes only what has already arrived, without waiting.
    bool Echo(const std::string& address, int timeoutMs);

    // The same probe, cut short as soon as `stop` (when given) is raised:
    // then Stopped, whether or not the request went out.
    EchoOutcome EchoUntil(const std::string& address, int timeoutMs, const StopSignal* stop);

    // The kind that probes use, choosing it now (and telling the user when
    // there is none, once) if it has not been chosen yet.
    IcmpSocketKind SocketKind();

    // A socket of the kind probes use, for a caller that keeps it for a whole
    // scan (the event-driven engine); -1 when none can be had. `kind` tells which.
    int OpenScanSocket(IcmpSocketKind& kind);

    // For tests: later probes use `kind` as if the choice had picked it, and
    // nobody is told of its absence.
    void ForceSocketKind(IcmpSocketKind kind);

private:
    struct Choice {
        IcmpSocketKind kind = IcmpSocketKind::Unavailable;
        bool viaHelper = false; // raw sockets come from the helper's pool
    };
    std::optional<Choice> ChooseSocketKind();
    Choice CurrentChoice();
    void TellUserNoSocket();
    void NextIdentifiers(uint16_t& id, uint16_t& sequence);

    const std::unique_ptr<RawIcmpSocketPool> m_pool; // null: no helper
    std::mutex m_lock;
    bool m_chosen = false;
    Choice m_choice;
    std::atomic<bool> m_told{false};
    // A raw socket sees every echo reply of the host, so the ids of this
    // process's probes run from a random start and never repeat soon.
    const uint32_t m_salt;
    std::atomic<uint32_t> m_counter{0};
};

// The codec and socket set-up of the probe, for tests and for the
// event-driven engine.
namespace IcmpEchoInternal {

// Whether a socket of this kind can be opened right now.
bool CanOpenSocket(IcmpSocketKind kind);

// The Internet checksum (RFC 1071) of the bytes, in network byte order when
// stored as the two bytes high, low.
uint16_t InternetChecksum(std::span<const uint8_t> bytes);

// The 8-byte echo request with its checksum.
std::vector<uint8_t> EchoRequest(uint16_t id, uint16_t sequence);

// Attaches a socket filter to a raw ICMP socket (or any datagram socket whose
// datagrams start with an IPv4 header) that keeps the echo replies with
// identifier `id` and the error messages quoting an echo request with it.
// What the socket had queued before is dropped.
bool KeepOnlyMessagesAbout(int fd, uint16_t id);

enum class EchoAnswer { Unrelated, Reply, Unreachable };

// A datagram read from a raw ICMP socket: IPv4 header, then the ICMP message.
// Reply: an echo reply from `target` (network byte order) with our id and
// sequence and a sound checksum. Unreachable: a destination-unreachable or
// time-exceeded message that quotes our request to `target`.
EchoAnswer ClassifyRawPacket(std::span<const uint8_t> packet, uint32_t target, uint16_t id,
                             uint16_t sequence);

// A datagram read from an ICMP datagram socket: the ICMP message alone, its id
// already matched and its checksum checked by the kernel; `source` is the
// sender's address (network byte order).
EchoAnswer ClassifyDatagramPacket(std::span<const uint8_t> message, uint32_t source,
                                  uint32_t target, uint16_t sequence);

// Whether an ICMP message of this type says a request will never be
// answered (destination unreachable, time exceeded, parameter problem).
bool IsFatalError(uint8_t type);

// Lets a raw ICMP socket wake only for echo replies and the fatal errors.
void FilterToRepliesAndErrors(int fd);

// The text shown when no ICMP socket can be opened, naming the helper that
// may be given the capability (RawIcmpSockets.h).
std::string NoSocketMessage(const std::string& helperPath);

} // namespace IcmpEchoInternal
