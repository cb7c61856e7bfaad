#pragma once
// The machine's probes: the echo of the process's IcmpEchoService, the
// NetBIOS node-status query and the adapter reset. Holds no state of its own;
// whoever starts the program makes one beside its echo service and hands it
// to every scan, diagnosis and window that probes.

#include "core/scan/ScanProbes.h"

class RealScanProbes : public ScanProbes {
public:
    explicit RealScanProbes(IcmpEchoService& echo) : m_echo(echo) {}

    EchoOutcome PingHost(const std::string& address, int timeoutMs,
                         const StopSignal* stop) override;
    unsigned char QueryNodeStatus(const std::string& address, int lana, NodeStatusAnswer& answer,
                                  std::mutex* lockAroundCall, const StopSignal* stop) override;
    LanaSelection SelectLana() override;
    bool CanEcho() override;
    int OpenEchoSocket(IcmpSocketKind& kind) override;

private:
    IcmpEchoService& m_echo;
};
