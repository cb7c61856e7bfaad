// The small start-up checks: IPv4 sockets, the own address, the OS version.

#include "platform/os/KernelVersion.h"
#include "platform/net/OwnAddress.h"
#include "platform/net/SocketStartup.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <climits>
#include <cstring>
#include <net/if.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TEST(SocketStartupTest, ReportsTheErrnoOfAFailedSocket) {
    EXPECT_EQ(CheckIpv4Sockets(), 0);
    // A child without a free descriptor, so that this process keeps its limit.
    const int code = ChildProcess::Run([] {
        const rlimit none{0, 0};
        return setrlimit(RLIMIT_NOFILE, &none) != 0 ? ChildProcess::kCannotSetUp
                                                    : CheckIpv4Sockets();
    });
    EXPECT_EQ(code, EMFILE) << std::strerror(code > 0 ? code : 0);
}

// The own addresses, checked against the older SIOCGIFCONF listing.
std::vector<std::string> ExpectTheKernelsAddresses() {
    const OwnAddressInfo info = FindOwnAddresses();
    EXPECT_EQ(info.error, 0);
    std::vector<std::string> listed;
    for (const InterfaceAddress& entry : info.addresses) {
        EXPECT_EQ(inet_addr(entry.address.c_str()), htonl(entry.value)) << entry.address;
        listed.push_back(entry.address);
    }
    std::set<std::string> expected;
    std::vector<ifreq> requests(256);
    ifconf conf{};
    conf.ifc_len = static_cast<int>(requests.size() * sizeof(ifreq));
    conf.ifc_req = requests.data();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(ioctl(fd, SIOCGIFCONF, &conf), 0);
    close(fd);
    for (size_t i = 0; i < conf.ifc_len / sizeof(ifreq); ++i)
        expected.insert(inet_ntoa(reinterpret_cast<sockaddr_in*>(&requests[i].ifr_addr)->sin_addr));
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
    EXPECT_EQ(info.found, expected.size() > expected.count("127.0.0.1"));
    return listed;
}

TEST(OwnAddressTest, ListsWhatTheKernelReportsAndNeverLoopbackAsOurOwn) {
    ExpectTheKernelsAddresses();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace with only loopback";
    const int code = ChildProcess::Run([] {
        if (!ChildProcess::EnterFreshNetwork())
            return ChildProcess::kCannotSetUp;
        EXPECT_EQ(ExpectTheKernelsAddresses(), std::vector<std::string>{"127.0.0.1"});
        return 0;
    });
    if (code == ChildProcess::kCannotSetUp)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(code, 0) << "see the child's failures above";
}

TEST(KernelVersionTest, ParsesTheLeadingNumbersAndNeverTakesThemForWindows) {
    struct Case {
        const char* release;
        int major, minor;
    } cases[] = {
        {"4.19.0-26-cloud-amd64", 4, 19},
        {"10.0-rc1", 10, 0},
        {"6.x", 6, 0},
        {"5", 5, 0},
        {"abc", 0, 0},
        {" 6.1", 0, 0},
        {"99999999999.1", INT_MAX, 1},
        {"3.2147483648", 3, INT_MAX},
        {"5.1.0", 5, 1},
        {"4.0", 4, 0}, // the numbers of Windows XP and 95
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.release);
        const KernelVersion version = ParseKernelRelease(c.release);
        EXPECT_EQ(version.major, c.major);
        EXPECT_EQ(version.minor, c.minor);
    }
    const KernelVersion running = CurrentKernelVersion();
    const KernelVersion expected =
        ParseKernelRelease(TempDir::ReadFile("/proc/sys/kernel/osrelease"));
    EXPECT_GT(running.major, 0);
    EXPECT_EQ(running.major, expected.major);
    EXPECT_EQ(running.minor, expected.minor);
}

} // namespace
