#pragma once
// Probes that answer from a script, per address: whether the echo is
// answered and what the node-status query gives (a return code, or a name
// table with a MAC). Calls are recorded and can be held at a gate, to look
// at a caller while its probe is in flight.

#include "scan/ScanProbes.h"

#include <array>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct ScriptedName {
    std::string name; // padded with blanks to 15 bytes
    unsigned char suffix = 0;
    bool group = false;
};

struct ScriptedHost {
    bool echo = false;
    unsigned char code = 0x05; // NRC_CMDTMO
    std::array<unsigned char, 6> mac{};
    std::vector<ScriptedName> names;
};

class ScriptedNodeStatusProbes : public ScanProbes {
public:
    // An address not listed is silent and its query times out.
    std::map<std::string, ScriptedHost> hosts;

    bool PingHost(const std::string& address) override;
    unsigned char QueryNodeStatus(const std::string& address, int lana,
                                  unsigned char (&buffer)[kNodeStatusBufferSize],
                                  std::mutex* lockAroundCall) override;
    LanaSelection SelectLana() override { return {0, 0}; }

    struct Query {
        std::string address;
        int lana = 0;
        bool locked = false;
    };
    std::vector<std::string> Pinged();
    std::vector<Query> Queried();

    // Pings wait at the gate while it is held.
    void Hold();
    void Release();
    // True once a ping is waiting at the held gate.
    bool Waiting();

private:
    std::mutex m_lock;
    std::condition_variable m_gate;
    bool m_held = false;
    int m_waiting = 0;
    std::vector<std::string> m_pinged;
    std::vector<Query> m_queried;
};
