// The small start-up checks: IPv4 sockets, the own address, the OS version.

#include "platform/KernelVersion.h"
#include "platform/OwnAddress.h"
#include "platform/SocketStartup.h"

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
    // Without a free descriptor the check fails with EMFILE, in a child so
    // that this process keeps its limit.
    const int code = ChildProcess::Run([] {
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_NOFILE, &none) != 0)
            return ChildProcess::kCannotSetUp;
        return CheckIpv4Sockets();
    });
    EXPECT_EQ(code, EMFILE) << std::strerror(code > 0 ? code : 0);
}

std::vector<std::string> Dotted(const std::vector<InterfaceAddress>& addresses) {
    std::vector<std::string> texts;
    for (const InterfaceAddress& entry : addresses) {
        EXPECT_EQ(inet_addr(entry.address.c_str()), htonl(entry.value)) << entry.address;
        texts.push_back(entry.address);
    }
    return texts;
}

TEST(OwnAddressTest, AMachineWithOnlyLoopbackHasNoneOfItsOwn) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace";
    const int code = ChildProcess::Run([] {
        if (!ChildProcess::EnterFreshNetwork())
            return ChildProcess::kCannotSetUp;
        OwnAddressInfo info = FindOwnAddresses();
        EXPECT_EQ(info.error, 0);
        EXPECT_EQ(Dotted(info.addresses), std::vector<std::string>{"127.0.0.1"});
        EXPECT_FALSE(info.found);
        return 0;
    });
    if (code == ChildProcess::kCannotSetUp)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(code, 0) << "see the child's failures above";
}

// The interfaces' addresses as the older SIOCGIFCONF call lists them.
std::set<std::string> AddressesByIoctl() {
    std::set<std::string> addresses;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::vector<ifreq> requests(256);
    ifconf conf{};
    conf.ifc_len = static_cast<int>(requests.size() * sizeof(ifreq));
    conf.ifc_req = requests.data();
    EXPECT_EQ(ioctl(fd, SIOCGIFCONF, &conf), 0);
    close(fd);
    for (size_t i = 0; i < conf.ifc_len / sizeof(ifreq); ++i) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&requests[i].ifr_addr);
        addresses.insert(inet_ntoa(in->sin_addr));
    }
    return addresses;
}

TEST(OwnAddressTest, ListsWhatTheKernelReportsForThisMachine) {
    const OwnAddressInfo info = FindOwnAddresses();
    ASSERT_EQ(info.error, 0);
    const std::vector<std::string> listed = Dotted(info.addresses);
    const std::set<std::string> expected = AddressesByIoctl();
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
    bool other = false;
    for (const std::string& address : expected)
        other = other || address != "127.0.0.1";
    EXPECT_EQ(info.found, other);
}

TEST(KernelVersionTest, ParsesTheLeadingNumbersOfOddReleaseTexts) {
    struct Case {
        const char* release;
        int major, minor;
    } cases[] = {
        {"6.1.0-18-amd64", 6, 1},
        {"4.19.0-26-cloud-amd64", 4, 19},
        {"10.0-rc1", 10, 0},
        {"6.", 6, 0},
        {"6.x", 6, 0},
        {"5", 5, 0},
        {"", 0, 0},
        {"abc", 0, 0},
        {" 6.1", 0, 0},
        {"-6.1", 0, 0},
        {"99999999999.1", INT_MAX, 1},
        {"3.2147483648", 3, INT_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.release);
        const KernelVersion version = ParseKernelRelease(c.release);
        EXPECT_EQ(version.major, c.major);
        EXPECT_EQ(version.minor, c.minor);
    }
}

TEST(KernelVersionTest, TheRunningKernelIsReadAndNeverTakenForWindows) {
    const KernelVersion running = CurrentKernelVersion();
    const KernelVersion expected =
        ParseKernelRelease(TempDir::ReadFile("/proc/sys/kernel/osrelease"));
    EXPECT_GT(running.major, 0);
    EXPECT_EQ(running.major, expected.major);
    EXPECT_EQ(running.minor, expected.minor);
    const KernelVersion xp = ParseKernelRelease("5.1.0"), win95 = ParseKernelRelease("4.0");
    EXPECT_FALSE(xp.isWindowsXp || xp.isWindows95 || win95.isWindowsXp || win95.isWindows95);
}

} // namespace
