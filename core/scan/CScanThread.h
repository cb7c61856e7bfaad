#pragma once
// The work of one scan worker: probes one address and reports its row. The
// manager's pool threads run it, one address at a time.

#include "core/scan/ScanRequest.h"

#include <mutex>
#include <cstdint>
#include <string>

class ScanProbes;
class ScanSink;
class StopSignal;

class CScanThread {
public:
    // `netbiosLock`, when given, is held around each node-status query (safe
    // mode); `stop` cuts the probes' waits short.
    CScanThread(const ScanOptions& options, int lana, ScanProbes& probes, ScanSink& sink,
                std::mutex* netbiosLock, const StopSignal& stop);

    // Echo, then (when it was answered) the node-status query; the row's
    // result is reported after each. An echo cut short by a stop had no
    // answer: the row is silent. `address` is `text` as a number.
    void Run(int row, std::uint32_t address, const std::string& text);

private:
    const ScanOptions& m_options;
    int m_lana;
    ScanProbes& m_probes;
    ScanSink& m_sink;
    std::mutex* m_netbiosLock;
    const StopSignal& m_stop;
};
