// How the event-driven engine's send rate moves during one scan: every change
// of the rate with its time, then what the scan met (answers, names, second
// probes, late names, falls of the share of echoed hosts that named
// themselves, neighbours resolved late) and the rows found. Not a test: it
// prints figures, for bench/loss.sh, which runs it inside the test LAN.
//
// usage: rate_trace_bench [--max-rate N] RANGE...

#include "core/ranges/RangeArgument.h"
#include "core/scan/FastScanEngine.h"
#include "core/scan/HostRecord.h"
#include "core/scan/MemoryScanSink.h"
#include "core/scan/RealScanProbes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Keeps every rate the engine reports, with the time since the start.
class TracingSink : public MemoryScanSink {
public:
    void SendRate(double perSecond) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_trace.emplace_back(Clock::now() - m_start, perSecond);
        }
        MemoryScanSink::SendRate(perSecond);
    }
    std::vector<std::pair<Clock::duration, double>> Trace() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_trace;
    }
    const Clock::time_point m_start = Clock::now();

private:
    std::mutex m_lock;
    std::vector<std::pair<Clock::duration, double>> m_trace;
};

} // namespace

int main(int argc, char** argv) {
    ScanRequest request;
    request.options.fastScan = true;
    request.options.adaptiveWait = true;
    request.options.lastOctetRule = true;
    request.options.keepSilent = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-rate") == 0 && i + 1 < argc) {
            request.options.maxRate = std::atoi(argv[++i]);
            continue;
        }
        AddressRange range;
        std::string error;
        if (!ParseRangeArgument(argv[i], range, error)) {
            std::fprintf(stderr, "rate_trace_bench: %s: %s\n", argv[i], error.c_str());
            return 2;
        }
        request.ranges.push_back(range);
    }
    if (request.ranges.empty()) {
        std::fprintf(stderr, "usage: rate_trace_bench [--max-rate N] RANGE...\n");
        return 2;
    }
    TracingSink sink;
    IcmpEchoService echo;
    RealScanProbes probes(echo);
    FastScanEngine engine(request, sink, probes);
    if (!engine.Start())
        return 1;
    sink.WaitForEnd(std::chrono::minutes(10));
    engine.Wait();
    const double seconds = std::chrono::duration<double>(Clock::now() - sink.m_start).count();

    std::printf("%8s %10s\n", "ms", "rate/s");
    double last = -1;
    for (const auto& [at, rate] : sink.Trace()) {
        // Changes within the slow start's doublings and the halvings; the
        // small steps of the growth after a loss are thinned to one in 5 %.
        if (last > 0 && rate > last && rate < last * 1.05)
            continue;
        std::printf("%8lld %10.0f\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(at).count()),
                    rate);
        last = rate;
    }
    int answered = 0, named = 0;
    for (const auto& row : sink.rows.Rows()) {
        answered += row[HostRecord::kResponse] == HostRecord::kAnswered;
        named += !row[HostRecord::kComputer].empty();
    }
    const FastScanCounts& c = engine.Counts();
    std::printf("\nscan: %.2f s, %zu rows, %d answered, %d named\n", seconds,
                sink.rows.Rows().size(), answered, named);
    std::printf("echoes sent %u, echo replies %u, names %u, refused %u, second probes %u, "
                "queries asked again %u, a third time %u, in the last rounds %u\n",
                c.echoesSent.load(), c.answered.load(), c.named.load(), c.refused.load(),
                c.resent.load(), c.secondQueries.load(), c.thirdQueries.load(),
                c.lastRoundQueries.load());
    std::printf("late names %u, share falls %u (spurious %u), late neighbours %u, kernel drops %u, "
                "send retries %u, ignored %u\n",
                c.lateNames.load(), c.shareFalls.load(), c.spuriousFalls.load(),
                c.lateNeighbours.load(), c.kernelDrops.load(), c.sendRetries.load(),
                c.ignored.load());
    return 0;
}
