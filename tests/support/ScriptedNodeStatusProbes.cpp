#include "tests/support/ScriptedNodeStatusProbes.h"

#include "platform/os/StopSignal.h"
#include "platform/win32/Netbios.h"
#include "platform/win32/ProbeNotices.h"

#include <algorithm>
#include <chrono>
#include <cstring>

EchoOutcome ScriptedNodeStatusProbes::PingHost(const std::string& address, int,
                                               const StopSignal* stop) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_calls.push_back("ping " + address);
    ++m_waiting;
    // A raised stop ends the wait as it ends a real echo's.
    const auto stopped = [stop] { return stop && stop->IsRaised(); };
    while (m_held && !stopped())
        m_gate.wait_for(guard, std::chrono::milliseconds(5));
    --m_waiting;
    if (stopped())
        return EchoOutcome::Stopped;
    const bool echo = hosts[address].echo;
    const auto notice = echoNotices.find(address);
    guard.unlock();
    // Outside the lock: the receiver may wait for the user.
    if (notice != echoNotices.end())
        TellProbeNotice(notice->second);
    return echo ? EchoOutcome::Answered : EchoOutcome::NoAnswer;
}

unsigned char ScriptedNodeStatusProbes::QueryNodeStatus(const std::string& address, int lana,
                                                      NodeStatusAnswer& answer,
                                                      std::mutex* lockAroundCall, const StopSignal*) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back("query " + address + " lana " + std::to_string(lana) +
                      (lockAroundCall ? " locked" : ""));
    const ScriptedHost& host = hosts[address];
    if (host.code != NRC_GOODRET)
        return host.code;
    answer = NodeStatusAnswer{};
    answer.unitId = host.mac;
    for (const ScriptedHost::Name& scripted : host.names) {
        NodeStatusAnswer::Name name;
        name.bytes.fill(' ');
        std::memcpy(name.bytes.data(), scripted.text.data(),
                    std::min<std::size_t>(15, scripted.text.size()));
        name.bytes[15] = scripted.suffix;
        name.flags = NodeStatusAnswer::Name::kActive |
                     (scripted.group ? NodeStatusAnswer::Name::kGroup : 0);
        answer.names.push_back(name);
    }
    return NRC_GOODRET;
}

std::vector<std::string> ScriptedNodeStatusProbes::Calls() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

void ScriptedNodeStatusProbes::Hold(bool held) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_held = held;
    m_gate.notify_all();
}

bool ScriptedNodeStatusProbes::Waiting() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_waiting > 0;
}
