#include "core/scan/RealScanProbes.h"

#include "core/scan/CNetProbe.h"

EchoOutcome RealScanProbes::PingHost(const std::string& address, int timeoutMs,
                                     const StopSignal* stop) {
    CNetProbe probe;
    return probe.PingHost(m_echo, address, timeoutMs, stop);
}

unsigned char RealScanProbes::QueryNodeStatus(const std::string& address, int lana,
                                              NodeStatusAnswer& answer, std::mutex* lockAroundCall,
                                              const StopSignal* stop) {
    // The call is made as the NetBIOS API makes it; the answer is taken as
    // the value it was laid out from.
    unsigned char buffer[kNodeStatusBufferSize];
    return ::QueryNodeStatus(address, lana, buffer, lockAroundCall, stop, &answer);
}

LanaSelection RealScanProbes::SelectLana() {
    return ::SelectLana();
}

bool RealScanProbes::CanEcho() {
    return m_echo.SocketKind() != IcmpSocketKind::Unavailable;
}

int RealScanProbes::OpenEchoSocket(IcmpSocketKind& kind) {
    return m_echo.OpenScanSocket(kind);
}
