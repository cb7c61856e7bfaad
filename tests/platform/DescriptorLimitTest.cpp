#include "platform/DescriptorLimit.h"

#include "platform/IcmpEcho.h"
#include "platform/Netbios.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessageBoxRecorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

// Each case runs in a child: it gives up its descriptors, and the user is
// told only once per process.

namespace {

using namespace IcmpEchoInternal;

UCHAR AskLoopback() {
    NetbiosSetLanaAddressesForTest({"127.0.0.1"});
    UCHAR buffer[600];
    NCB ncb{};
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_buffer = buffer;
    ncb.ncb_length = sizeof buffer;
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    std::memcpy(ncb.ncb_callname, "127.0.0.1", 9);
    return Netbios(&ncb);
}

// Runs `probes` with no descriptor to spare, and the limit back afterwards.
template <typename Probes> void WithoutDescriptors(Probes probes) {
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit none = saved;
    const int lowestFree = dup(0);
    close(lowestFree);
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    setrlimit(RLIMIT_NOFILE, &none);
    EXPECT_EQ(FreeDescriptorCount(), 0);
    probes();
    setrlimit(RLIMIT_NOFILE, &saved);
}

void ExpectToldOnce(const MessageBoxRecorder& boxes) {
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("ulimit -n"), std::string::npos);
    EXPECT_EQ(shown[0].caption, "エラー");
    EXPECT_EQ(shown[0].icon(), MB_ICONERROR);
}

TEST(DescriptorLimit, ProbesWithoutADescriptorTellTheUserOnce) {
    if (!CanOpenSocket(IcmpSocketKind::Datagram) && !CanOpenSocket(IcmpSocketKind::Raw))
        GTEST_SKIP() << "no ICMP socket can be opened here";
    // The echo's own socket; then the node-status socket.
    const auto echoFirst = [] {
        MessageBoxRecorder boxes;
        ResetSocketKind();
        SocketKind();
        WithoutDescriptors([&] {
            EXPECT_FALSE(IcmpEcho("127.0.0.1", 200));
            ExpectToldOnce(boxes);
            EXPECT_EQ(AskLoopback(), NRC_NORESOURCES);
        });
        ExpectToldOnce(boxes);
        return 0;
    };
    // The node-status socket; then the echo, whose kind is chosen only once a
    // socket opens.
    const auto nodeStatusFirst = [] {
        MessageBoxRecorder boxes;
        ResetSocketKind();
        WithoutDescriptors([&] {
            EXPECT_EQ(AskLoopback(), NRC_NORESOURCES);
            ExpectToldOnce(boxes);
            EXPECT_FALSE(IcmpEcho("127.0.0.1", 200));
        });
        EXPECT_TRUE(IcmpEcho("127.0.0.1", 2000));
        ExpectToldOnce(boxes);
        return 0;
    };
    EXPECT_EQ(ChildProcess::Run(echoFirst), 0);
    EXPECT_EQ(ChildProcess::Run(nodeStatusFirst), 0);
}

TEST(DescriptorLimit, RaiseLiftsTheSoftLimitToTheHardLimit) {
    const auto lowThenRaise = [] {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 64;
        setrlimit(RLIMIT_NOFILE, &limit);
        RaiseDescriptorLimit();
        getrlimit(RLIMIT_NOFILE, &limit);
        EXPECT_EQ(limit.rlim_cur, limit.rlim_max);
        return 0;
    };
    EXPECT_EQ(ChildProcess::Run(lowThenRaise), 0);
}

} // namespace
