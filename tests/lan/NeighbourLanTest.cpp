// The neighbour monitor against the test LAN, from inside the client
// namespace: an echo to an nmbd host leaves a resolved entry with the host's
// MAC, told both as a change and in a dump, to the root and to any user.

#include "platform/win32/IcmpEcho.h"
#include "platform/net/NeighbourMonitor.h"
#include "tests/lan/LanTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kAlpha = "198.18.0.10";  // nmbd
const char* const kSilent = "198.18.0.30"; // nobody holds it

// The kernel resolves a neighbour within a round trip; this bounds the wait
// for its messages, it does not time them.
constexpr auto kPatience = std::chrono::seconds(10);

class NeighbourLanTest : public LanTest {
protected:
    void SetUp() override {
        LanTest::SetUp();
        // Never the table of the namespace the machine itself runs in.
        if (HasFatalFailure())
            return;
        // Each test starts from no entry, so that the echo's entry is news.
        for (const char* address : {kAlpha, kSilent})
            ASSERT_EQ(
                std::system(
                    (std::string("ip -4 neigh flush to ") + address + " >/dev/null 2>&1").c_str()),
                0);
    }

    // The adapter address the layout gives the host; zeros when it has none.
    static std::array<std::uint8_t, 6> MacOf(const char* address) {
        std::array<std::uint8_t, 6> mac{};
        for (const TestLanHost& host : lan().hosts())
            if (host.address == address)
                std::sscanf(host.mac.c_str(), "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx", &mac[0], &mac[1],
                            &mac[2], &mac[3], &mac[4], &mac[5]);
        return mac;
    }

    IcmpEchoService echo;
};

std::uint32_t Address(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return ntohl(address.s_addr);
}

bool IsResolvedEntryOf(const NeighbourEntry& entry, std::uint32_t address,
                       const std::array<std::uint8_t, 6>& mac) {
    return entry.address == address && !entry.deleted && IsResolvedByReply(entry.state) &&
           entry.hasMac && entry.mac == mac;
}

// Reads the monitor until `enough` says so or the patience runs out; the
// first error of Read, or 0.
template <typename Enough>
int ReadUntil(NeighbourMonitor& monitor, std::vector<NeighbourEntry>& seen, Enough enough) {
    const auto deadline = Clock::now() + kPatience;
    while (!enough() && Clock::now() < deadline) {
        pollfd readable{monitor.Fd(), POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (::poll(&readable, 1, static_cast<int>(std::max<long>(left.count(), 0))) < 0)
            return errno;
        if (const int error = monitor.Read(seen); error != 0)
            return error;
    }
    return 0;
}

// A whole dump; the error of RequestDump or Read, or 0.
int Dump(NeighbourMonitor& monitor, std::vector<NeighbourEntry>& entries) {
    if (const int error = monitor.RequestDump(); error != 0)
        return error;
    return ReadUntil(monitor, entries, [&] { return monitor.DumpFinished(); });
}

TEST_F(NeighbourLanTest, AnEchoedHostIsToldResolvedWithItsMacAsAChangeAndInADump) {
    NeighbourMonitor monitor;
    ASSERT_EQ(monitor.Open(), 0);
    ASSERT_GE(monitor.Fd(), 0);
    const std::uint32_t alpha = Address(kAlpha);
    const auto mac = MacOf(kAlpha);
    ASSERT_NE(mac, (std::array<std::uint8_t, 6>{}));

    ASSERT_TRUE(echo.Echo(kAlpha, 2000));
    std::vector<NeighbourEntry> events;
    auto resolved = [&](const std::vector<NeighbourEntry>& entries) {
        return std::any_of(entries.begin(), entries.end(), [&](const NeighbourEntry& entry) {
            return IsResolvedEntryOf(entry, alpha, mac);
        });
    };
    ASSERT_EQ(ReadUntil(monitor, events, [&] { return resolved(events); }), 0);
    EXPECT_TRUE(resolved(events)) << events.size() << " entries told, none resolved";

    std::vector<NeighbourEntry> table;
    ASSERT_EQ(Dump(monitor, table), 0);
    EXPECT_TRUE(monitor.DumpFinished());
    EXPECT_TRUE(resolved(table)) << table.size() << " entries in the dump, none resolved";
    // One dump at a time; the next once the first has ended.
    table.clear();
    ASSERT_EQ(monitor.RequestDump(), 0);
    EXPECT_EQ(monitor.RequestDump(), EBUSY);
    ASSERT_EQ(ReadUntil(monitor, table, [&] { return monitor.DumpFinished(); }), 0);
    EXPECT_TRUE(resolved(table));
    table.clear();
    ASSERT_EQ(Dump(monitor, table), 0);
    EXPECT_TRUE(resolved(table));
}

TEST_F(NeighbourLanTest, AnAddressNobodyHoldsIsNeverResolved) {
    NeighbourMonitor monitor;
    ASSERT_EQ(monitor.Open(), 0);
    const std::uint32_t silent = Address(kSilent);
    EXPECT_FALSE(echo.Echo(kSilent, 1000));
    std::vector<NeighbourEntry> seen;
    // The kernel tells the entry it made for the request (incomplete, later failed).
    ASSERT_EQ(ReadUntil(monitor, seen,
                        [&] {
                            return std::any_of(seen.begin(), seen.end(),
                                               [&](const auto& e) { return e.address == silent; });
                        }),
              0);
    ASSERT_EQ(Dump(monitor, seen), 0);
    bool told = false;
    for (const NeighbourEntry& entry : seen) {
        if (entry.address != silent)
            continue;
        told = true;
        EXPECT_FALSE(IsResolvedByReply(entry.state)) << entry.state;
        EXPECT_FALSE(entry.hasMac);
    }
    EXPECT_TRUE(told);
}

// The scanner runs as an ordinary user: the group and the dump need no privilege.
TEST_F(NeighbourLanTest, AnyUserMayFollowTheTable) {
    ASSERT_TRUE(echo.Echo(kAlpha, 2000));
    const std::uint32_t alpha = Address(kAlpha);
    const auto mac = MacOf(kAlpha);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const gid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
            ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(2);
        NeighbourMonitor monitor;
        std::vector<NeighbourEntry> table;
        if (monitor.Open() != 0 || Dump(monitor, table) != 0 || !monitor.DumpFinished())
            ::_exit(3);
        for (const NeighbourEntry& entry : table)
            if (IsResolvedEntryOf(entry, alpha, mac))
                ::_exit(0);
        ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "2: privileges not dropped, 3: no dump, 4: no resolved entry in it";
}

} // namespace
