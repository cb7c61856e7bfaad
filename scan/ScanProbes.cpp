#include "scan/ScanProbes.h"

#include "scan/CNetProbe.h"

namespace {

class RealProbes : public ScanProbes {
public:
    bool PingHost(const std::string& address) override {
        CNetProbe probe;
        return probe.PingHost(address);
    }
    unsigned char QueryNodeStatus(const std::string& address, int lana,
                                  unsigned char (&buffer)[kNodeStatusBufferSize],
                                  std::mutex* lockAroundCall) override {
        return ::QueryNodeStatus(address, lana, buffer, lockAroundCall);
    }
    LanaSelection SelectLana() override { return ::SelectLana(); }
};

} // namespace

ScanProbes& RealScanProbes() {
    static RealProbes probes;
    return probes;
}
