#include "tests/support/ScriptedNodeStatusProbes.h"

#include "platform/win32/Netbios.h"
#include "platform/win32/ProbeNotices.h"

#include <algorithm>
#include <cstring>

EchoOutcome ScriptedNodeStatusProbes::PingHost(const std::string& address, int,
                                               const StopSignal*) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_calls.push_back("ping " + address);
    ++m_waiting;
    m_gate.wait(guard, [this] { return !m_held; });
    --m_waiting;
    const bool echo = hosts[address].echo;
    const auto notice = echoNotices.find(address);
    guard.unlock();
    // Outside the lock: the receiver may wait for the user.
    if (notice != echoNotices.end())
        TellProbeNotice(notice->second);
    return echo ? EchoOutcome::Answered : EchoOutcome::NoAnswer;
}

unsigned char
ScriptedNodeStatusProbes::QueryNodeStatus(const std::string& address, int lana,
                                          unsigned char (&buffer)[kNodeStatusBufferSize],
                                          std::mutex* lockAroundCall, const StopSignal*) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back("query " + address + " lana " + std::to_string(lana) +
                      (lockAroundCall ? " locked" : ""));
    std::fill(std::begin(buffer), std::end(buffer), 0);
    const ScriptedHost& host = hosts[address];
    if (host.code != NRC_GOODRET)
        return host.code;
    std::memcpy(reinterpret_cast<ADAPTER_STATUS*>(buffer)->adapter_address, host.mac.data(), 6);
    auto* entries = reinterpret_cast<NAME_BUFFER*>(buffer + sizeof(ADAPTER_STATUS));
    for (std::size_t i = 0; i < host.names.size(); ++i) {
        std::memset(entries[i].name, ' ', 15);
        std::memcpy(entries[i].name, host.names[i].text.data(),
                    std::min<std::size_t>(15, host.names[i].text.size()));
        entries[i].name[15] = host.names[i].suffix;
        entries[i].name_flags = REGISTERED | (host.names[i].group ? GROUP_NAME : 0);
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
