#include "core/scan/ScanProbes.h"

#include "core/scan/CNetProbe.h"

namespace {

class RealProbes : public ScanProbes {
public:
    EchoOutcome PingHost(const std::string& address, int timeoutMs,
                         const StopSignal* stop) override {
        CNetProbe probe;
        return probe.PingHost(address, timeoutMs, stop);
    }
    unsigned char QueryNodeStatus(const std::string& address, int lana, NodeStatusAnswer& answer,
                                  std::mutex* lockAroundCall, const StopSignal* stop) override {
        // The call is made as the NetBIOS API makes it; the answer is taken
        // as the value it was laid out from.
        unsigned char buffer[kNodeStatusBufferSize];
        return ::QueryNodeStatus(address, lana, buffer, lockAroundCall, stop, &answer);
    }
    LanaSelection SelectLana() override { return ::SelectLana(); }
    bool CanEcho() override {
        return IcmpEchoInternal::SocketKind() != IcmpSocketKind::Unavailable;
    }
};

} // namespace

ScanProbes& RealScanProbes() {
    static RealProbes probes;
    return probes;
}
