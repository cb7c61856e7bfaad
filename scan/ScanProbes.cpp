#include "scan/ScanProbes.h"

#include "app/ScanSettings.h"

namespace {

class RealProbes : public ScanProbes {
public:
    EchoOutcome PingHost(const std::string& address, const StopSignal* stop) override {
        return IcmpEchoUntil(address, ScanSettings.PingTimeout, stop);
    }
    unsigned char QueryNodeStatus(const std::string& address, int lana,
                                  unsigned char (&buffer)[kNodeStatusBufferSize],
                                  std::mutex* lockAroundCall, const StopSignal* stop) override {
        return ::QueryNodeStatus(address, lana, buffer, lockAroundCall, stop);
    }
    LanaSelection SelectLana() override { return ::SelectLana(); }
};

} // namespace

ScanProbes& RealScanProbes() {
    static RealProbes probes;
    return probes;
}
