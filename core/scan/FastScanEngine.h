#pragma once
// The event-driven scan engine: one thread, non-blocking sockets, and a wait
// on whatever comes next. Every address gets an echo request and a
// node-status query at a paced rate (a token bucket with no catch-up
// bursts), and the engine collects what shows a host to be there: an echo
// reply, a node-status answer, the host itself refusing the query (port
// unreachable), or, on a network of our own, its neighbour entry resolved.
// A host is present when any of these holds; its row is filled by the same
// decoders as the thread-per-probe engine's, and an on-link host takes its
// MAC from its neighbour entry when node status gives none.
//
// The wait is the stored time-out, or (adaptiveWait) learnt from the round
// trips seen so far, with one more echo and query for an address still
// silent before it is given up. Replies are matched, never trusted: an echo
// reply by its source, our identifier, the sequence and the per-scan token
// derived from the address; a node-status reply by its source address and
// port and the transaction id derived from the address. A late, duplicated,
// foreign or malformed datagram is dropped and counted. Sends refused for
// want of buffer wait for a pause and go again, never dropped; on-link
// addresses in flight stay well below the neighbour table's size.

#include "core/scan/ScanEngineThread.h"
#include "core/scan/ScanNetwork.h"
#include "core/scan/ScanRequest.h"
#include "platform/os/StopSignal.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class ScanProbes;
class ScanSink;

// What a scan met, for progress displays and benchmarks.
struct FastScanCounts {
    std::atomic<unsigned> echoesSent{0};
    std::atomic<unsigned> answered{0};      // echo replies taken
    std::atomic<unsigned> named{0};         // node-status answers taken
    std::atomic<unsigned> refused{0};       // node-status queries the host itself refused
    std::atomic<unsigned> resent{0};        // second probes of addresses still silent
    std::atomic<unsigned> secondQueries{0}; // node-status queries asked again of hosts there
    std::atomic<unsigned> thirdQueries{0};  // and a third time
    std::atomic<unsigned> ignored{0};       // datagrams matched to nothing of ours
    std::atomic<unsigned> kernelDrops{0};   // dropped by the kernel (SO_RXQ_OVFL)
    std::atomic<unsigned> sendRetries{0};   // sends refused for want of buffer, retried
    std::atomic<unsigned> lateNames{0};     // names that answered only a later query
    std::atomic<unsigned> shareFalls{0}; // falls of the share of echoed hosts that named themselves
    std::atomic<unsigned> spuriousFalls{0};  // of those, the ones whose answers came late
    std::atomic<unsigned> lateNeighbours{0}; // on-link hosts resolved only by a later solicitation
    std::atomic<unsigned> lastRoundQueries{0}; // queries of the last rounds, once the rest was done
    std::atomic<unsigned> otherNames{0}; // names from mDNS, LLMNR and DNS
};

class FastScanEngine : public ScanEngineThread {
public:
    // The least wait for each of the two node-status queries of a host
    // that is known to be there.
    static constexpr int kNameWaitMs = 400;
    // A host that is there (whatever showed it) and has not named itself is
    // asked a second time, and waited for again, until this many such hosts
    // asked twice have ended without names while no answer came to a second
    // asking: on such a network the hosts that keep silent on UDP 137 do not
    // run NetBIOS, and a large scan no longer spends a query and a wait on
    // each of them. Addresses that nothing showed to be there never count.
    static constexpr int kFutileRequeries = 256;
    // Such a host is asked a third time while the second asking has not
    // been seen not to pay, or once the scan has seen loss (an answer that
    // came only to a later asking, an on-link neighbour resolved only by the
    // kernel's later solicitation, fewer names than the echoes promise).
    static constexpr int kMostNameQueries = 3;
    // On a network seen to lose answers, the hosts there still without names
    // at the end are asked once more, and again while that names anyone, up
    // to this many times.
    static constexpr int kLastRounds = 3;
    // Lookups no DNS server answered, while none has been answered yet,
    // after which the scan asks DNS no more: a resolver configuration that
    // names a server that is not there costs each host no wait.
    static constexpr int kDnsFailuresToGiveUp = 4;
    // An on-link address whose neighbour entry the kernel is still resolving
    // is waited for past the kernel's last solicitation, and this much more
    // for the answers that it then lets out.
    static constexpr int kResolveMarginMs = 100;
    // The learnt wait: the smoothed round trip plus four deviations, never
    // below the floor nor above the ceiling; the first addresses, sent before
    // any answer, wait the initial value.
    static constexpr int kWaitFloorMs = 250;
    static constexpr int kWaitCeilingMs = 3000;
    static constexpr int kWaitInitialMs = 1000;
    // An old neighbour entry (stale) of a host that gave nothing else is
    // checked by the kernel's own probes: the longest the engine waits for
    // their outcome, from the first send.
    static constexpr int kNeighbourCheckMs = 9000;

    // `network` null: the real sockets.
    FastScanEngine(ScanRequest request, ScanSink& sink, ScanProbes& probes,
                   std::unique_ptr<ScanNetwork> network = nullptr);
    ~FastScanEngine() override;

    const FastScanCounts& Counts() const { return m_counts; }

private:
    struct Scan;
    void Run() override;

    ScanRequest m_request;
    ScanSink& m_sink;
    ScanProbes& m_probes;
    std::unique_ptr<ScanNetwork> m_network;
    FastScanCounts m_counts;
};
