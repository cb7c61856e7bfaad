#include "core/scan/CScanThread.h"

#include "core/scan/NodeStatusCells.h"
#include "core/scan/NodeStatusQuery.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanSink.h"
#include "platform/os/StopSignal.h"

CScanThread::CScanThread(const ScanOptions& options, int lana, ScanProbes& probes, ScanSink& sink,
                         std::mutex* netbiosLock, const StopSignal& stop)
    : m_options(options), m_lana(lana), m_probes(probes), m_sink(sink), m_netbiosLock(netbiosLock),
      m_stop(stop) {}

void CScanThread::Run(int row, std::uint32_t address, const std::string& text) {
    HostRecord record;
    record.address = address;

    // An echo cut short by Stop has had no answer: the row is silent like any
    // other, so that the end of the scan and Ctrl+B treat it as such.
    const EchoOutcome echo = m_probes.PingHost(text, m_options.pingTimeoutMs, &m_stop);
    const bool answered = echo == EchoOutcome::Answered;
    record.response = answered ? HostRecord::Response::Answered : HostRecord::Response::Silent;
    record.reasons = answered ? unsigned(HostRecord::kReasonEcho) : 0u;
    m_sink.RowResult(row, record);
    if (!answered)
        return;

    NodeStatusAnswer answer;
    const unsigned char code =
        m_probes.QueryNodeStatus(text, m_lana, answer, m_netbiosLock, &m_stop);
    if (code != 0)
        return;
    TakeNodeStatus(record, answer, m_options);
    record.reasons |= HostRecord::kReasonNbstat;
    TakeVendor(record, m_options);
    m_sink.RowResult(row, record);
}
