// The event-driven engine's real sockets on loopback: an ICMP error about one
// target must be told as that target's, never returned to the next send to
// another target.

#include "core/scan/LinuxScanNetwork.h"
#include "platform/win32/Netbios.h"
#include "platform/os/StopSignal.h"
#include "tests/support/MachineProbes.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::uint32_t Loopback(int last) {
    return 0x7F000000u | static_cast<std::uint32_t>(last);
}

// A UDP socket bound to 127.0.0.last on a port the kernel picks.
struct Listener {
    int fd = -1;
    std::uint16_t port = 0;
    explicit Listener(int last, std::uint16_t wanted = 0) {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(Loopback(last));
        address.sin_port = htons(wanted);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd); }
    bool Received() {
        char byte[600];
        return ::recv(fd, byte, sizeof byte, 0) > 0;
    }
};

TEST(LinuxScanNetworkTest, AClosedPortIsToldForItsOwnTargetAndTheNextSendGoesOut) {
    Listener open(3);
    ASSERT_NE(open.port, 0);
    MachineProbes machine;
    LinuxScanNetwork network(machine.probes, open.port);
    ASSERT_EQ(network.Open(htonl(Loopback(1))), 0);
    const std::uint8_t query[] = {0x12, 0x34, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    StopSignal stop;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // 127.0.0.2 has nothing on the port: its kernel answers port unreachable.
        ASSERT_EQ(network.SendNameQuery(Loopback(2), query), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // The error kept for .2 must not make the send to .3 fail.
        EXPECT_EQ(network.SendNameQuery(Loopback(3), query), 0);
        std::vector<NetworkEvent> events;
        for (int i = 0; i < 20 && events.empty(); ++i)
            network.Wait(std::chrono::milliseconds(50), stop, events);
        int refusedTwo = 0, aboutThree = 0;
        for (const NetworkEvent& event : events) {
            refusedTwo += event.kind == NetworkEvent::Kind::NameRefused && event.address == Loopback(2);
            aboutThree += event.address == Loopback(3);
        }
        EXPECT_EQ(refusedTwo, 1);
        EXPECT_EQ(aboutThree, 0);
        EXPECT_TRUE(open.Received());
    }
}

} // namespace
