#include "tests/support/ScriptedNodeStatusProbes.h"

#include "platform/Netbios.h"

#include <algorithm>
#include <cstring>

bool ScriptedNodeStatusProbes::PingHost(const std::string& address) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_pinged.push_back(address);
    ++m_waiting;
    m_gate.wait(guard, [this] { return !m_held; });
    --m_waiting;
    auto it = hosts.find(address);
    return it != hosts.end() && it->second.echo;
}

unsigned char
ScriptedNodeStatusProbes::QueryNodeStatus(const std::string& address, int lana,
                                          unsigned char (&buffer)[kNodeStatusBufferSize],
                                          std::mutex* lockAroundCall) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_queried.push_back({address, lana, lockAroundCall != nullptr});
    std::fill(std::begin(buffer), std::end(buffer), 0);
    auto it = hosts.find(address);
    if (it == hosts.end())
        return NRC_CMDTMO;
    const ScriptedHost& host = it->second;
    if (host.code != NRC_GOODRET)
        return host.code;
    auto* status = reinterpret_cast<ADAPTER_STATUS*>(buffer);
    std::memcpy(status->adapter_address, host.mac.data(), 6);
    auto* entries = reinterpret_cast<NAME_BUFFER*>(buffer + sizeof(ADAPTER_STATUS));
    for (std::size_t i = 0; i < host.names.size() && i < 30; ++i) {
        std::memset(entries[i].name, ' ', 15);
        std::memcpy(entries[i].name, host.names[i].name.data(),
                    std::min<std::size_t>(15, host.names[i].name.size()));
        entries[i].name[15] = host.names[i].suffix;
        entries[i].name_flags = REGISTERED | (host.names[i].group ? GROUP_NAME : 0);
    }
    status->name_count = static_cast<WORD>(host.names.size());
    return NRC_GOODRET;
}

std::vector<std::string> ScriptedNodeStatusProbes::Pinged() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pinged;
}

std::vector<ScriptedNodeStatusProbes::Query> ScriptedNodeStatusProbes::Queried() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_queried;
}

void ScriptedNodeStatusProbes::Hold() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_held = true;
}

void ScriptedNodeStatusProbes::Release() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_held = false;
    m_gate.notify_all();
}

bool ScriptedNodeStatusProbes::Waiting() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_waiting > 0;
}
