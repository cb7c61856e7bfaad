#pragma once
// The event-driven scan engine: one thread, non-blocking sockets, and a wait
// on whatever comes next. Every address gets its echo request at a paced rate
// (a token bucket with no catch-up bursts); an echo reply starts that host's
// node-status query at once; the rows are filled by the same decoders as the
// thread-per-probe engine's, so a row is the row that engine writes.
//
// Replies are matched, never trusted: an echo reply by its source, our
// identifier, the sequence and the per-scan token derived from the address; a
// node-status reply by its source address and port and the transaction id
// derived from the address. A late, duplicated, foreign or malformed datagram
// is dropped and counted. Sends refused for want of buffer are retried after
// a pause, never dropped; on-link addresses in flight stay well below the
// neighbour table's size.

#include "core/scan/ScanEngine.h"
#include "core/scan/ScanNetwork.h"
#include "core/scan/ScanRequest.h"
#include "platform/StopSignal.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class ScanProbes;
class ScanSink;

// What a scan met, for progress displays and benchmarks.
struct FastScanCounts {
    std::atomic<unsigned> echoesSent{0};
    std::atomic<unsigned> answered{0};    // echo replies taken
    std::atomic<unsigned> named{0};       // node-status answers taken
    std::atomic<unsigned> ignored{0};     // datagrams matched to nothing of ours
    std::atomic<unsigned> kernelDrops{0}; // dropped by the kernel (SO_RXQ_OVFL)
    std::atomic<unsigned> sendRetries{0}; // sends refused for want of buffer, retried
};

class FastScanEngine : public ScanEngine {
public:
    static constexpr int kRowLimit = 20000;
    // The wait for each of the two node-status queries of a host.
    static constexpr int kNameWaitMs = 400;

    // `network` null: the real sockets. `boxOwner` owns the message boxes.
    FastScanEngine(ScanRequest request, ScanSink& sink, ScanProbes& probes,
                   void* boxOwner = nullptr, std::unique_ptr<ScanNetwork> network = nullptr);
    ~FastScanEngine() override;

    bool Start() override;
    void Stop() override;
    void Wait() override;

    const FastScanCounts& Counts() const { return m_counts; }

private:
    struct Scan;
    void Run();

    ScanRequest m_request;
    ScanSink& m_sink;
    ScanProbes& m_probes;
    void* m_boxOwner;
    std::unique_ptr<ScanNetwork> m_network;
    StopSignal m_stop;
    FastScanCounts m_counts;
    std::thread m_thread;
};
