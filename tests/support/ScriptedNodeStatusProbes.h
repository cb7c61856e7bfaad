#pragma once
// Probes that answer per address from `hosts` and record every call; pings
// can be held at a gate to look at a caller while its probe is out.

#include "core/scan/ScanProbes.h"
#include "platform/win32/UserMessage.h"

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
    unsigned char code = 0x05; // NRC_CMDTMO; 0 answers with the MAC and names
    std::array<unsigned char, 6> mac{};
    std::vector<Name> names;
};

class ScriptedNodeStatusProbes : public ScanProbes {
public:
    std::map<std::string, ScriptedHost> hosts; // others are silent and time out
    LanaSelection lana{0, 0};                  // a code other than 0: no adapter
    // Told as the address's echo goes out, as a probe tells what it met on
    // this machine.
    std::map<std::string, UserMessage> echoNotices;

    EchoOutcome PingHost(const std::string& address, int timeoutMs,
                         const StopSignal* stop) override;
    unsigned char QueryNodeStatus(const std::string& address, int lana, NodeStatusAnswer& answer,
                                  std::mutex* lockAroundCall, const StopSignal* stop) override;
    LanaSelection SelectLana() override { return lana; }

    // "ping <address>" and "query <address> lana <n>[ locked]", in order.
    std::vector<std::string> Calls();
    void Hold(bool held);
    bool Waiting(); // a ping waits at the held gate

private:
    std::mutex m_lock;
    std::condition_variable m_gate;
    bool m_held = false;
    int m_waiting = 0;
    std::vector<std::string> m_calls;
};
