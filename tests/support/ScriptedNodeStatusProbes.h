#pragma once
// Probes that answer from a script, per address: whether the echo is
// answered and what the node-status query gives (a return code, or a name
// table with a MAC). Every call is recorded; pings can be held at a gate to
// look at a caller while its probe is out.

#include "scan/ScanProbes.h"

#include <array>
#include <condition_variable>
#include <map>
#include <string>
#include <vector>

struct ScriptedHost {
    struct Name {
        std::string text;
        unsigned char suffix = 0;
        bool group = false;
    };
    bool echo = false;
    unsigned char code = 0x05; // NRC_CMDTMO; 0 answers with the table below
    std::array<unsigned char, 6> mac{};
    std::vector<Name> names;
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

    // "ping <address>" and "query <address> lana <n>[ locked]", in order.
    std::vector<std::string> Calls();

    void Hold();
    void Release();
    bool Waiting(); // a ping waits at the held gate

private:
    std::mutex m_lock;
    std::condition_variable m_gate;
    bool m_held = false;
    int m_waiting = 0;
    std::vector<std::string> m_calls;
};
