#pragma once
// The probes a scan uses, behind one interface so that engine tests can run a
// whole scan against scripted hosts. The program always uses RealScanProbes().

#include "scan/NodeStatusQuery.h"

#include <mutex>
#include <string>

class ScanProbes {
public:
    virtual ~ScanProbes() = default;

    // True when the address answered one ICMP echo within PingTimeout.
    virtual bool PingHost(const std::string& address) = 0;

    // Node-status query; `lockAroundCall`, when given, is held just around
    // the NetBIOS call. Returns the NetBIOS return code.
    virtual unsigned char QueryNodeStatus(const std::string& address, int lana,
                                          unsigned char (&buffer)[kNodeStatusBufferSize],
                                          std::mutex* lockAroundCall) = 0;

    virtual LanaSelection SelectLana() = 0;
};

// The real echo, node-status query and adapter reset.
ScanProbes& RealScanProbes();
