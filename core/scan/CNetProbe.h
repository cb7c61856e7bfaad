#pragma once
// The probes a scan runs against one address. Holds no state: every user
// makes one on its own stack for the length of its run.

#include "platform/win32/IcmpEcho.h"

#include <string>

// Room for the longest vendor name and its terminating zero.
constexpr int kNicVendorBufferSize = 49;

class CNetProbe {
public:
    virtual ~CNetProbe() = default;

    // Whether the address (dotted text) answered one ICMP echo request of
    // `echo` within timeoutMs; Stopped when `stop` (if given) cut the wait short.
    EchoOutcome PingHost(IcmpEchoService& echo, const std::string& address, int timeoutMs,
                         const StopSignal* stop);

    // Writes the vendor name for a 6-hex-digit key (exact, case-sensitive),
    // or "不明", into `vendor` (at least kNicVendorBufferSize bytes).
    void LookupNicVendor(const char* key, char* vendor);

    // The message text for a NetBIOS return code (only its low byte counts),
    // also written to the run log.
    std::string NetbiosResultText(unsigned code);
};
