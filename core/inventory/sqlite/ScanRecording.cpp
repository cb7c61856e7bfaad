#include "core/inventory/sqlite/ScanRecording.h"

#include "core/scan/MemoryResultList.h"

#include <chrono>

std::string ScanOptionsText(const ScanOptions& o) {
    return std::string("engine=") + (o.fastScan ? "fast" : "threads") +
           " rate=" + (o.rate > 0 ? std::to_string(o.rate) : std::string("adaptive")) +
           (o.maxRate > 0 ? " max-rate=" + std::to_string(o.maxRate) : std::string()) +
           " threads=" + std::to_string(o.maxThread) +
           " timeout=" + std::to_string(o.pingTimeoutMs) +
           " safe-mode=" + (o.safeMode ? "1" : "0") + " keep-silent=" + (o.keepSilent ? "1" : "0");
}

std::int64_t UnixTimeMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

RecordedScan RecordingOf(MemoryResultList& list, const std::vector<AddressRange>& ranges,
                         const ScanOptions& options, std::int64_t startedMs,
                         std::int64_t endedMs, bool complete) {
    RecordedScan scan;
    scan.startedMs = startedMs;
    scan.endedMs = endedMs;
    scan.ranges = ranges;
    scan.complete = complete;
    scan.settings = ScanOptionsText(options);
    // The store keeps what a row's cells show and the names of the other
    // sources: what showed the host to be there and its round trip stay
    // with the list.
    list.ForEachRecord([&scan](const HostRecord& record) {
        if (record.response != HostRecord::Response::Answered)
            return;
        HostRecord& row = scan.rows.emplace_back(record);
        row.reasons = 0;
        row.rttMs = -1;
    });
    return scan;
}
