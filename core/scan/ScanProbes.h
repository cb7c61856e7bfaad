#pragma once
// The probes a scan uses, behind one interface so that engine tests can run a
// whole scan against scripted hosts. The program always uses RealScanProbes.

#include "core/scan/NodeStatusQuery.h"
#include "platform/wire/NodeStatusPacket.h"
#include "platform/win32/IcmpEcho.h"

#include <mutex>
#include <string>

class ScanProbes {
public:
    virtual ~ScanProbes() = default;

    // One ICMP echo that waits at most timeoutMs; Stopped when `stop` (if
    // given) cut the wait short.
    virtual EchoOutcome PingHost(const std::string& address, int timeoutMs,
                                 const StopSignal* stop) = 0;

    // Node-status query; `lockAroundCall`, when given, is held just around
    // the NetBIOS call; a raised `stop` ends it with NRC_CMDCAN. Returns the
    // NetBIOS return code; 0: `answer` holds the host's answer.
    virtual unsigned char QueryNodeStatus(const std::string& address, int lana,
                                          NodeStatusAnswer& answer, std::mutex* lockAroundCall,
                                          const StopSignal* stop) = 0;

    virtual LanaSelection SelectLana() = 0;

    // False when no echo can go out at all (no ICMP socket of any kind, the
    // user told how to allow one): every row is then silent without a probe.
    virtual bool CanEcho() { return true; }

    // An ICMP socket of the kind PingHost uses, kept for a whole scan (the
    // event-driven engine); -1 when none can be had. `kind` tells which.
    // Probes that reach no machine have none to give.
    virtual int OpenEchoSocket(IcmpSocketKind& kind) {
        kind = IcmpSocketKind::Unavailable;
        return -1;
    }
};
