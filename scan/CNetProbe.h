#pragma once
// The probes a scan runs against one address. Holds no state: every user
// makes one on its own stack for the length of its run.

#include <string>

class CNetProbe {
public:
    virtual ~CNetProbe() = default;

    // The message text for a NetBIOS return code (only its low byte counts),
    // also written to the run log.
    std::string NetbiosResultText(unsigned code);
};
