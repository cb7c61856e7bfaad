#include "core/scan/CScanThread.h"

#include "platform/StopSignal.h"
#include "platform/TextCodec.h"
#include "core/scan/CNetProbe.h"
#include "core/scan/NodeStatus.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanSink.h"

#include <cstring>

CScanThread::CScanThread(const ScanOptions& options, int lana, ScanProbes& probes, ScanSink& sink,
                         std::mutex* netbiosLock, const StopSignal& stop)
    : m_options(options), m_lana(lana), m_probes(probes), m_sink(sink),
      m_netbiosLock(netbiosLock), m_stop(stop) {}

void CScanThread::Run(int row, const std::string& address) {
    HostRecord record;
    record.cells[HostRecord::kAddress] = address;

    const EchoOutcome echo = m_probes.PingHost(address, m_options.pingTimeoutMs, &m_stop);
    if (echo == EchoOutcome::Stopped)
        return;
    const bool answered = echo == EchoOutcome::Answered;
    record.cells[HostRecord::kResponse] = answered ? HostRecord::kAnswered : HostRecord::kSilent;
    m_sink.RowResult(row, record);
    if (!answered)
        return;

    unsigned char buffer[kNodeStatusBufferSize];
    const unsigned char code =
        m_probes.QueryNodeStatus(address, m_lana, buffer, m_netbiosLock, &m_stop);
    if (code != 0)
        return;
    const NodeStatus status = DecodeNodeStatus(buffer, sizeof buffer, m_options.ignoreWorkstation);
    record.cells[HostRecord::kMac] = status.macAddress;
    if (!m_options.ignoreNicVendor) {
        char key[7];
        std::memcpy(key, status.macAddress.c_str(), 6);
        key[6] = '\0';
        char vendor[kNicVendorBufferSize];
        CNetProbe().LookupNicVendor(key, vendor);
        record.cells[HostRecord::kVendor] = vendor;
    }
    // Names are CP932 bytes on the wire; the list holds UTF-8.
    if (status.computerName)
        record.cells[HostRecord::kComputer] = Cp932ToUtf8(*status.computerName);
    if (status.domainName)
        record.cells[HostRecord::kDomain] = Cp932ToUtf8(*status.domainName);
    record.cells[HostRecord::kMessenger] = Cp932ToUtf8(status.messengerNames);
    m_sink.RowResult(row, record);
}
