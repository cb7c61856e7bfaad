#pragma once
// The event-driven engine's sockets on Linux: an ICMP socket (datagram where
// allowed, else raw, as the probes' echo chooses) and a UDP socket bound to the
// adapter's address, both non-blocking with large buffers, IP_RECVERR for
// unreachable targets and SO_RXQ_OVFL to count what the kernel drops, and one
// epoll over them, the neighbour table's changes (rtnetlink) and the stop
// signal; when the scan asks names from other sources, a UDP socket on an
// ephemeral port for mDNS and LLMNR queries and the resolver's sockets too.

#include "core/scan/ScanNetwork.h"
#include "core/scan/ScanProbes.h"
#include "platform/dns/ReverseLookups.h"
#include "platform/net/NeighbourMonitor.h"
#include "platform/win32/Netbios.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class LinuxScanNetwork : public ScanNetwork {
public:
    // The echo socket comes from `probes`, so that the scan echoes as its
    // probes do. `namePort`: where the name queries go (tests move it onto
    // loopback).
    explicit LinuxScanNetwork(ScanProbes& probes, std::uint16_t namePort = NetbiosDestinationPort())
        : m_probes(probes), m_namePort(namePort) {}
    ~LinuxScanNetwork() override;
    LinuxScanNetwork(const LinuxScanNetwork&) = delete;
    LinuxScanNetwork& operator=(const LinuxScanNetwork&) = delete;

    int Open(std::uint32_t localAddress) override;
    std::uint16_t EchoId() const override { return m_echoId; }
    int SendEcho(std::uint32_t target, const std::vector<std::uint8_t>& request) override;
    int SendNameQuery(std::uint32_t target, std::span<const std::uint8_t> datagram) override;
    void Wait(std::chrono::microseconds timeout, const StopSignal& stop,
              std::vector<NetworkEvent>& events) override;
    unsigned OpenNameSources(unsigned sources) override;
    int SendPtrQuery(std::uint32_t target, std::uint16_t port,
                     std::span<const std::uint8_t> datagram) override;
    bool AskDns(std::uint32_t target) override;
    bool OnLink(std::uint32_t target) const override;
    int NeighbourLimit() const override { return m_neighbourLimit; }
    NeighbourResolution Resolution() const override { return m_resolution; }

private:
    void ReadIcmp(std::vector<NetworkEvent>& events);
    void ReadIcmpErrors(std::vector<NetworkEvent>& events);
    void ReadNames(std::vector<NetworkEvent>& events);
    void ReadNameErrors(std::vector<NetworkEvent>& events);
    void ReadNeighbours(std::vector<NetworkEvent>& events);
    void ReadPtr(std::vector<NetworkEvent>& events);
    void ReadPtrErrors(std::vector<NetworkEvent>& events);
    // Brings the epoll set up to date with the resolver's sockets.
    void WatchDnsSockets();
    void TakeDnsAnswers(std::vector<NetworkEvent>& events);
    void NoteDrops(std::uint32_t& last, std::uint32_t now, std::vector<NetworkEvent>& events);

    ScanProbes& m_probes;
    int m_icmp = -1;
    int m_udp = -1;
    int m_ptr = -1; // mDNS and LLMNR queries, from an ephemeral port
    std::uint32_t m_local = 0; // network byte order
    std::unique_ptr<ReverseLookups> m_dns;
    int m_epoll = -1;
    int m_watchedStop = -1;
    bool m_raw = false;
    bool m_fineWait = true; // epoll_pwait2 works (Linux 5.11 and later)
    std::uint16_t m_echoId = 0;
    const std::uint16_t m_namePort;
    std::uint32_t m_icmpDrops = 0;
    std::uint32_t m_udpDrops = 0;
    int m_neighbourLimit = 1024;
    NeighbourResolution m_resolution;
    NeighbourMonitor m_neighbours; // closed when the system refuses it: no neighbour evidence
    bool m_dumpAgain = false;      // events were lost; the table is read again when it can be
    std::vector<std::pair<std::uint32_t, std::uint32_t>>
        m_networks; // address & mask, mask (host order)
};
