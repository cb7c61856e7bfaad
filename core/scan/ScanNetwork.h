#pragma once
// What the event-driven engine needs of the network: one socket for echo
// requests and one for node-status queries, both non-blocking, what asking
// names from other sources needs, and a wait for whatever arrives. LinuxScanNetwork is the real one; engine tests script
// their own.

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

class StopSignal;

// How the kernel resolves an on-link neighbour: a solicitation when the entry
// is made, another every retransMs, `solicits` in all; then it fails.
struct NeighbourResolution {
    int retransMs = 1000;
    int solicits = 3;
};

struct NetworkEvent {
    enum class Kind {
        EchoReply,       // address, id, sequence, bytes = payload
        EchoUnreachable, // address = the target; the request will not be answered
        NameReply,       // address, port, bytes = the datagram
        NameUnreachable, // address = the target; no node-status answer will come
        NameRefused,     // address = the target, which itself said its port is closed
        Neighbour,       // address, state = NUD_* bits, bytes = the link-layer address (6) or none
        Dropped,         // count = datagrams the kernel dropped for want of buffer
        PtrReply,        // address, port (5353 or 5355: the protocol), bytes = the datagram
        PtrRefused,      // address = the target, port = where it went: nothing listens there
        DnsAnswer,       // address, state = ReverseLookups::Outcome, bytes = the name (if any)
    };
    Kind kind = Kind::EchoReply;
    std::uint32_t address = 0; // host byte order
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    std::uint16_t port = 0;
    std::uint16_t state = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> bytes;
};

class ScanNetwork {
public:
    virtual ~ScanNetwork() = default;

    // Opens the sockets; node-status queries go out from `localAddress`
    // (network byte order). 0, or the errno of what failed.
    virtual int Open(std::uint32_t localAddress) = 0;
    // The identifier our echo requests carry.
    virtual std::uint16_t EchoId() const = 0;
    // 0 when sent; EAGAIN/EWOULDBLOCK/ENOBUFS when the send buffer or the
    // neighbour queue is full (send again later); any other errno: this
    // target cannot be reached. An error the socket kept for an earlier
    // datagram is never returned for this one: errors about other targets
    // arrive as events naming them.
    virtual int SendEcho(std::uint32_t target, const std::vector<std::uint8_t>& request) = 0;
    virtual int SendNameQuery(std::uint32_t target, std::span<const std::uint8_t> datagram) = 0;
    // Waits at most `timeout`, or until `stop` is raised, and appends what
    // has arrived to `events`: the neighbour entries first, so that a reply
    // finds the entry its own resolution made. The first wait also brings the
    // neighbour entries that existed before the scan.
    virtual void Wait(std::chrono::microseconds timeout, const StopSignal& stop,
                      std::vector<NetworkEvent>& events) = 0;
    // Opens what asking the hosts' names from other sources than node status
    // needs, of the sources given (bits of 1 << HostRecord::NameSource):
    // a socket for mDNS and LLMNR queries, the resolver for DNS. The sources
    // it could open. Called after Open.
    virtual unsigned OpenNameSources(unsigned sources) { return sources & 0; }
    // A reverse (PTR) query to the target's own responder on `port`, from an
    // ephemeral port; as SendNameQuery. The answer comes as a PtrReply.
    virtual int SendPtrQuery(std::uint32_t /*target*/, std::uint16_t /*port*/,
                             std::span<const std::uint8_t> /*datagram*/) {
        return EOPNOTSUPP;
    }
    // Asks the resolver for the target's name; exactly one DnsAnswer comes,
    // unless the scan ends first. False when there is no resolver.
    virtual bool AskDns(std::uint32_t /*target*/) { return false; }
    // Whether the target is on a network of our own interfaces: its echo
    // takes a neighbour-table entry until it is resolved or fails.
    virtual bool OnLink(std::uint32_t target) const = 0;
    // How many neighbour-table entries the system keeps at most.
    virtual int NeighbourLimit() const = 0;
    // How the kernel resolves the neighbours of our networks.
    virtual NeighbourResolution Resolution() const { return {}; }
};
