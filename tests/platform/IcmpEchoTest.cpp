#include "platform/win32/IcmpEcho.h"
#include "platform/net/RawIcmpSockets.h"
#include "platform/os/StopSignal.h"

#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ProbeNoticeRecorder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <linux/capability.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Every probe of this file goes to 127.0.0.0/8, or to 198.18.0.0/24 inside a
// network namespace that the test creates in a child process, where a tun
// device played by the test itself is the only way out.

namespace {

using namespace IcmpEchoInternal;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char* KindName(IcmpSocketKind kind) {
    return kind == IcmpSocketKind::Datagram ? "datagram" : "raw";
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Put16(Bytes& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<uint8_t>(value);
}

// An ICMP message with its checksum.
Bytes Icmp(uint8_t type, uint8_t code, uint16_t id, uint16_t sequence, const Bytes& body = {}) {
    Bytes message = {type, code, 0, 0, 0, 0, 0, 0};
    Put16(message, 4, id);
    Put16(message, 6, sequence);
    message.insert(message.end(), body.begin(), body.end());
    Put16(message, 2, InternetChecksum(message));
    return message;
}

// An IPv4 packet carrying `payload`, with `optionWords` words of options.
Bytes Ip(uint32_t source, uint32_t destination, const Bytes& payload, uint8_t protocol = 1,
         int optionWords = 0) {
    const size_t headerLength = 20 + 4 * static_cast<size_t>(optionWords);
    Bytes packet(headerLength, 0);
    packet[0] = static_cast<uint8_t>(0x40 | (headerLength / 4));
    Put16(packet, 2, static_cast<uint16_t>(headerLength + payload.size()));
    packet[8] = 64;
    packet[9] = protocol;
    std::memcpy(&packet[12], &source, 4);
    std::memcpy(&packet[16], &destination, 4);
    for (size_t i = 20; i < headerLength; ++i)
        packet[i] = 1; // no-operation options
    Put16(packet, 10, InternetChecksum(packet));
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

Bytes Truncated(const Bytes& bytes, size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(length));
}

// The packet codec.

TEST(IcmpEchoCodec, ChecksumAndRequestBytes) {
    // RFC 1071's worked example, and an odd length padded with a zero byte.
    EXPECT_EQ(InternetChecksum(Bytes{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}), 0x220D);
    EXPECT_EQ(InternetChecksum(Bytes{0x00, 0x01, 0xF2}), static_cast<uint16_t>(~0xF201));
    EXPECT_EQ(InternetChecksum(Bytes{}), 0xFFFF);

    // Type 8, code 0, checksum, id, sequence: eight bytes and no payload.
    EXPECT_EQ(EchoRequest(0x1234, 0x0001), (Bytes{0x08, 0x00, 0xE5, 0xCA, 0x12, 0x34, 0x00, 0x01}));
    EXPECT_EQ(InternetChecksum(EchoRequest(0xFFFF, 0xFFFF)), 0);
    EXPECT_EQ(InternetChecksum(EchoRequest(0, 0)), 0);
}

struct RawCase {
    const char* name;
    Bytes packet;
    EchoAnswer expected;
};

const uint32_t kRawTarget = inet_addr("198.18.0.10");
const uint16_t kRawId = 0xBEEF;
const uint16_t kRawSequence = 7;

// Packets a raw socket may read while waiting for the answer of kRawTarget
// to the request kRawId, kRawSequence, each with how it counts.
std::vector<RawCase> RawCases() {
    const uint32_t target = kRawTarget;
    const uint32_t us = inet_addr("198.18.0.2");
    const uint32_t router = inet_addr("198.18.0.1");
    const uint16_t id = kRawId;
    const uint16_t seq = kRawSequence;
    const Bytes request = Ip(us, target, EchoRequest(id, seq));
    const Bytes reply = Ip(target, us, Icmp(0, 0, id, seq));
    const Bytes unreachable = Ip(router, us, Icmp(3, 1, 0, 0, Truncated(request, 28)));
    const auto patched = [&reply](size_t offset, uint8_t value) {
        Bytes packet = reply;
        packet[offset] = value;
        return packet;
    };

    return {
        {"reply", reply, EchoAnswer::Reply},
        {"reply with IP options", Ip(target, us, Icmp(0, 0, id, seq), 1, 3), EchoAnswer::Reply},
        {"reply with payload", Ip(target, us, Icmp(0, 0, id, seq, Bytes{1, 2, 3})),
         EchoAnswer::Reply},
        {"reply from another host", Ip(router, us, Icmp(0, 0, id, seq)), EchoAnswer::Unrelated},
        {"reply with another id", Ip(target, us, Icmp(0, 0, id + 1, seq)), EchoAnswer::Unrelated},
        {"reply with another sequence", Ip(target, us, Icmp(0, 0, id, seq + 1)),
         EchoAnswer::Unrelated},
        {"reply with a bad checksum", patched(reply.size() - 1, reply.back() ^ 0x01),
         EchoAnswer::Unrelated},
        {"our own request seen on loopback", request, EchoAnswer::Unrelated},
        {"not IPv4", patched(0, 0x65), EchoAnswer::Unrelated},
        {"header shorter than 20 bytes", patched(0, 0x44), EchoAnswer::Unrelated},
        {"header longer than the packet", patched(0, 0x4F), EchoAnswer::Unrelated},
        {"not ICMP", Ip(target, us, Icmp(0, 0, id, seq), 17), EchoAnswer::Unrelated},
        {"host unreachable quoting our request", Ip(router, us, Icmp(3, 1, 0, 0, request)),
         EchoAnswer::Unreachable},
        {"unreachable from the target itself", Ip(target, us, Icmp(3, 3, 0, 0, request)),
         EchoAnswer::Unreachable},
        {"time exceeded quoting our request", Ip(router, us, Icmp(11, 0, 0, 0, request)),
         EchoAnswer::Unreachable},
        {"unreachable quoting only 8 bytes of the request", unreachable, EchoAnswer::Unreachable},
        {"unreachable quoting 7 bytes of the request",
         Ip(router, us, Icmp(3, 1, 0, 0, Truncated(request, 27))), EchoAnswer::Unrelated},
        {"unreachable quoting another id",
         Ip(router, us, Icmp(3, 1, 0, 0, Ip(us, target, EchoRequest(id + 1, seq)))),
         EchoAnswer::Unrelated},
        {"unreachable quoting another sequence",
         Ip(router, us, Icmp(3, 1, 0, 0, Ip(us, target, EchoRequest(id, seq + 1)))),
         EchoAnswer::Unrelated},
        {"unreachable quoting a request to another host",
         Ip(router, us, Icmp(3, 1, 0, 0, Ip(us, router, EchoRequest(id, seq)))),
         EchoAnswer::Unrelated},
        {"unreachable quoting a reply",
         Ip(router, us, Icmp(3, 1, 0, 0, Ip(us, target, Icmp(0, 0, id, seq)))),
         EchoAnswer::Unrelated},
        {"unreachable quoting UDP", Ip(router, us, Icmp(3, 3, 0, 0, Ip(us, target, request, 17))),
         EchoAnswer::Unrelated},
        {"redirect quoting our request", Ip(router, us, Icmp(5, 1, 0, 0, request)),
         EchoAnswer::Unrelated},
        {"unreachable quoting a request with options and another id",
         Ip(router, us, Icmp(3, 1, 0, 0, Ip(us, target, EchoRequest(id + 1, seq), 1, 2))),
         EchoAnswer::Unrelated},
        {"unreachable quoting a request with options",
         Ip(router, us, Icmp(3, 1, 0, 0, Ip(us, target, EchoRequest(id, seq), 1, 2)), 1, 1),
         EchoAnswer::Unreachable},
    };
}

TEST(IcmpEchoCodec, RawPacketsAreMatchedByTypeSourceIdSequenceAndChecksum) {
    const uint32_t target = kRawTarget;
    const uint16_t id = kRawId;
    const uint16_t seq = kRawSequence;
    for (const RawCase& c : RawCases())
        EXPECT_EQ(ClassifyRawPacket(c.packet, target, id, seq), c.expected) << c.name;
    // Every cut of a packet that counts is unrelated.
    const std::vector<RawCase> cases = RawCases();
    const Bytes& reply = cases[0].packet;
    const Bytes& unreachable = cases[15].packet;
    ASSERT_STREQ(cases[15].name, "unreachable quoting only 8 bytes of the request");
    for (const Bytes* packet : {&reply, &unreachable})
        for (size_t length = 0; length < packet->size(); ++length)
            EXPECT_EQ(ClassifyRawPacket(Truncated(*packet, length), target, id, seq),
                      EchoAnswer::Unrelated)
                << (packet == &reply ? "reply" : "unreachable") << " cut to " << length;
}

// The socket filter of a raw probe socket, run by the kernel over datagrams
// of a local socket pair: it keeps every packet that counts and drops the
// replies and reports about other probes, which once filled the buffer of a
// probe among hundreds until its own answer was lost.
TEST(IcmpEchoCodec, TheRawSocketFilterKeepsWhatCountsAndDropsOtherProbesMessages) {
    const std::set<std::string> dropped = {
        "reply with another id",
        "our own request seen on loopback",
        "unreachable quoting another id",
        "unreachable quoting UDP",
        "unreachable quoting a request with options and another id",
        "redirect quoting our request",
    };
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_TRUE(KeepOnlyMessagesAbout(pair[1], kRawId));
    for (const RawCase& c : RawCases()) {
        ASSERT_EQ(send(pair[0], c.packet.data(), c.packet.size(), 0),
                  static_cast<ssize_t>(c.packet.size()));
        uint8_t buffer[256];
        const ssize_t got = recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT);
        const bool kept = got == static_cast<ssize_t>(c.packet.size());
        if (c.expected != EchoAnswer::Unrelated) {
            EXPECT_TRUE(kept) << c.name;
        } else if (dropped.count(c.name)) {
            EXPECT_FALSE(kept) << c.name;
        }
    }
    close(pair[0]);
    close(pair[1]);
}

// A probe socket held up between opening and filtering may have its buffer
// full of others' traffic; once filtered, its own answer must still get in.
TEST(IcmpEchoCodec, TheRawSocketFilterClearsWhatWasQueuedBeforeIt) {
    const std::vector<RawCase> cases = RawCases();
    ASSERT_EQ(cases[0].expected, EchoAnswer::Reply);
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
    const auto another = std::find_if(cases.begin(), cases.end(), [](const RawCase& c) {
        return std::string(c.name) == "reply with another id";
    });
    ASSERT_NE(another, cases.end());
    const Bytes& other = another->packet;
    int queued = 0;
    while (send(pair[0], other.data(), other.size(), MSG_DONTWAIT) > 0)
        ++queued;
    ASSERT_GT(queued, 0);
    ASSERT_TRUE(KeepOnlyMessagesAbout(pair[1], kRawId));
    const Bytes& ours = cases[0].packet;
    EXPECT_EQ(send(pair[0], ours.data(), ours.size(), MSG_DONTWAIT),
              static_cast<ssize_t>(ours.size()));
    uint8_t buffer[256];
    EXPECT_EQ(recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT),
              static_cast<ssize_t>(ours.size()));
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), buffer));
    close(pair[0]);
    close(pair[1]);
}

TEST(IcmpEchoCodec, DatagramRepliesAreMatchedBySourceAndSequence) {
    const uint32_t target = inet_addr("127.0.0.2");
    const Bytes reply = Icmp(0, 0, 999, 42);
    EXPECT_EQ(ClassifyDatagramPacket(reply, target, target, 42), EchoAnswer::Reply);
    EXPECT_EQ(ClassifyDatagramPacket(Icmp(0, 0, 999, 42, Bytes{9, 9}), target, target, 42),
              EchoAnswer::Reply);
    EXPECT_EQ(ClassifyDatagramPacket(reply, inet_addr("127.0.0.3"), target, 42),
              EchoAnswer::Unrelated);
    EXPECT_EQ(ClassifyDatagramPacket(reply, target, target, 43), EchoAnswer::Unrelated);
    EXPECT_EQ(ClassifyDatagramPacket(Icmp(8, 0, 999, 42), target, target, 42),
              EchoAnswer::Unrelated);
    for (size_t length = 0; length < reply.size(); ++length)
        EXPECT_EQ(ClassifyDatagramPacket(Truncated(reply, length), target, target, 42),
                  EchoAnswer::Unrelated)
            << length;
}

TEST(IcmpEchoCodec, NoSocketMessageGivesCommandsThatCanBePasted) {
    // The capability goes to the helper only, permitted and never effective:
    // the window program loads plugins that the caller's environment names.
    const std::string text = NoSocketMessage("/opt/kd tools/it's/vopal-icmp-helper");
    EXPECT_NE(text.find("sudo setcap cap_net_raw=p '/opt/kd tools/it'\\''s/vopal-icmp-helper'"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("+ep"), std::string::npos) << text;
    EXPECT_NE(text.find("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""),
              std::string::npos)
        << text;
}

// Probes on this machine's loopback.

class IcmpEchoTest : public ::testing::Test {
protected:
    MessageBoxRecorder m_boxes; // no probe may ever block a test on a box
};

// Probes 127.0.0.1 .. 127.0.0.N at once, one thread each; the count of true.
// Each thread's notices go to `notices` when given.
int PingLoopbackFromThreads(IcmpEchoService& echo, int threads,
                            const ProbeNoticeReceiver& notices = nullptr) {
    std::vector<std::future<bool>> probes;
    for (int i = 1; i <= threads; ++i)
        probes.push_back(std::async(std::launch::async, [&echo, i, notices] {
            const ProbeNoticeScope scope(notices);
            return echo.Echo("127.0.0." + std::to_string(i), 3000);
        }));
    int answered = 0;
    for (std::future<bool>& probe : probes)
        answered += probe.get();
    return answered;
}

TEST_F(IcmpEchoTest, LoopbackAnswersThroughEveryOpenableSocketKind) {
    // A kind that cannot be opened here is tested in a namespace below.
    for (IcmpSocketKind kind : {IcmpSocketKind::Datagram, IcmpSocketKind::Raw}) {
        if (!CanOpenSocket(kind))
            continue;
        SCOPED_TRACE(KindName(kind));
        IcmpEchoService echo;
        echo.ForceSocketKind(kind);
        EXPECT_TRUE(echo.Echo("127.0.0.1", 3000));
        EXPECT_TRUE(echo.Echo("127.0.0.2", 3000));
        EXPECT_TRUE(echo.Echo("127.1", 3000)) << "inet_addr's short form";
        EXPECT_EQ(PingLoopbackFromThreads(echo, 20), 20);
    }
    EXPECT_EQ(m_boxes.count(), 0u);
}

TEST_F(IcmpEchoTest, TextsThatAreNoAddressGiveFalseWithoutWaiting) {
    const std::vector<std::string> texts = {
        "",        "abc", "256.0.0.1",       "127.0.0.1.5", "127.0.0.1x", "-1", "127.0.0.1/8",
        "0.0.0.0", "0",   "255.255.255.255", "0xFFFFFFFF"};
    // Each must be one that inet_addr refuses or reads as 0.0.0.0 /
    // 255.255.255.255, or a probe might leave this machine.
    for (const std::string& text : texts) {
        const in_addr_t value = inet_addr(text.c_str());
        ASSERT_TRUE(value == INADDR_NONE || value == 0) << text;
    }
    IcmpEchoService echo;
    const Clock::time_point start = Clock::now();
    for (const std::string& text : texts)
        EXPECT_FALSE(echo.Echo(text, 10000)) << text;
    // A NUL would make inet_addr read only "127.0.0.1".
    EXPECT_FALSE(echo.Echo(std::string("127.0.0.1\0junk", 14), 10000));
    EXPECT_LT(MillisecondsSince(start), 2000) << "one of them waited for an answer";
}

// Probes inside a network namespace of a child process.

bool WriteProcFile(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.close();
    return !file.fail();
}

// Gives the interface `address`/24, when one is given, and brings it up.
bool ConfigureInterface(const char* name, const char* address = nullptr) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", name);
    const auto set = [&](unsigned long command, const char* text) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = inet_addr(text);
        std::memcpy(&request.ifr_addr, &in, sizeof in);
        return ioctl(fd, command, &request) == 0;
    };
    bool done = fd >= 0 &&
                (!address || (set(SIOCSIFADDR, address) && set(SIOCSIFNETMASK, "255.255.255.0")));
    done = done && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    done = done && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0)
        close(fd);
    return done;
}

constexpr int kNoNamespace = 77;

// Runs `body` in a child process that has a network namespace of its own
// with only `lo`, up; its echo services, made there, choose for that
// namespace. The child's gtest failures are printed by the child and come
// back as its exit code.
void RunInFreshNetworkNamespace(const std::function<void()>& body) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace";
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0)
            _exit(kNoNamespace);
        if (!ConfigureInterface("lo")) {
            std::printf("cannot bring lo up in the namespace\n");
            std::fflush(stdout);
            _exit(1);
        }
        body();
        std::fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == kNoNamespace)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see the child's failures above";
}

// Root may open datagram ICMP sockets in this namespace once its group is in
// the range; a fresh namespace starts with "1 0", which allows nobody.
bool AllowPingSockets(bool allow) {
    return WriteProcFile("/proc/sys/net/ipv4/ping_group_range", allow ? "0 0" : "1 0");
}

// Both kinds, the datagram one after allowing it in the namespace.
std::vector<IcmpSocketKind> BothKindsInNamespace() {
    EXPECT_TRUE(AllowPingSockets(true));
    return {IcmpSocketKind::Datagram, IcmpSocketKind::Raw};
}

TEST_F(IcmpEchoTest, SilentHostCostsOneTimeoutAndUnroutedOneNone) {
    RunInFreshNetworkNamespace([] {
        ASSERT_TRUE(WriteProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"));
        for (IcmpSocketKind kind : BothKindsInNamespace()) {
            SCOPED_TRACE(KindName(kind));
            IcmpEchoService echo;
            echo.ForceSocketKind(kind);
            Clock::time_point start = Clock::now();
            EXPECT_FALSE(echo.Echo("127.0.0.1", 1000));
            const long long waited = MillisecondsSince(start);
            std::printf("silent probe, timeout 1000 ms, %s socket: %lld ms\n", KindName(kind),
                        waited);
            EXPECT_GE(waited, 1000) << "gave up before the timeout";
            EXPECT_LT(waited, 1500);

            // No time-out at all: only what is already there counts.
            start = Clock::now();
            EXPECT_FALSE(echo.Echo("127.0.0.1", 0));
            EXPECT_FALSE(echo.Echo("127.0.0.1", -5));
            EXPECT_LT(MillisecondsSince(start), 500);

            // No route: false at once.
            start = Clock::now();
            EXPECT_FALSE(echo.Echo("198.18.0.99", 5000));
            EXPECT_LT(MillisecondsSince(start), 1000);
        }
    });
}

TEST_F(IcmpEchoTest, AStopCutsAWaitOfDaysShort) {
    RunInFreshNetworkNamespace([] {
        ASSERT_TRUE(WriteProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"));
        for (IcmpSocketKind kind : BothKindsInNamespace()) {
            SCOPED_TRACE(KindName(kind));
            IcmpEchoService echo;
            echo.ForceSocketKind(kind);
            StopSignal stop;
            const Clock::time_point start = Clock::now();
            std::thread raiser([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                stop.Raise();
            });
            EXPECT_EQ(echo.EchoUntil("127.0.0.1", 0x7fffffff, &stop), EchoOutcome::Stopped);
            raiser.join();
            const long long waited = MillisecondsSince(start);
            std::printf("probe with a 24-day time-out, stopped after 200 ms: %lld ms\n", waited);
            EXPECT_LT(waited, 2000);
            // Once raised, nothing more is sent.
            EXPECT_EQ(echo.EchoUntil("127.0.0.1", 0x7fffffff, &stop), EchoOutcome::Stopped);
        }
    });
}

bool DropRawSocketCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    data[CAP_TO_INDEX(CAP_NET_RAW)].permitted &= ~CAP_TO_MASK(CAP_NET_RAW);
    return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(IcmpEchoTest, SocketKindIsChosenOnceAndWithoutAnyTheUserIsToldOnce) {
    RunInFreshNetworkNamespace([] {
        EXPECT_FALSE(CanOpenSocket(IcmpSocketKind::Datagram));
        IcmpEchoService first;
        EXPECT_EQ(first.SocketKind(), IcmpSocketKind::Raw);
        EXPECT_TRUE(first.Echo("127.0.0.1", 3000));

        ASSERT_TRUE(AllowPingSockets(true));
        // The choice is kept for the service's life; another service chooses
        // for itself and leaves the first one's choice alone.
        EXPECT_EQ(first.SocketKind(), IcmpSocketKind::Raw);
        IcmpEchoService second;
        EXPECT_EQ(second.SocketKind(), IcmpSocketKind::Datagram);
        EXPECT_TRUE(second.Echo("127.0.0.1", 3000));
        EXPECT_EQ(PingLoopbackFromThreads(second, 20), 20);
        EXPECT_EQ(first.SocketKind(), IcmpSocketKind::Raw);
        EXPECT_EQ(PingLoopbackFromThreads(first, 20), 20);

        // Neither kind: one notice for all threads, to the prober and not in
        // a box of its own, and every probe answers false.
        ASSERT_TRUE(AllowPingSockets(false));
        ASSERT_TRUE(DropRawSocketCapability());
        ASSERT_FALSE(CanOpenSocket(IcmpSocketKind::Raw));
        MessageBoxRecorder boxes;
        ProbeNoticeRecorder notices;
        IcmpEchoService none;
        EXPECT_EQ(PingLoopbackFromThreads(none, 20, notices.Receiver()), 0);
        EXPECT_FALSE(none.Echo("127.0.0.1", 3000));
        EXPECT_EQ(none.SocketKind(), IcmpSocketKind::Unavailable);

        const std::vector<UserMessage> told = notices.notices();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].caption, "エラー");
        EXPECT_EQ(told[0].type, MB_OK | MB_ICONERROR);
        EXPECT_EQ(told[0].text, NoSocketMessage(""));
        EXPECT_EQ(boxes.count(), 0u);

        // A helper that hands over nothing changes nothing; the notice names it.
        IcmpEchoService nothingHanded("/bin/true");
        EXPECT_FALSE(nothingHanded.Echo("127.0.0.1", 3000));
        ASSERT_EQ(notices.count(), 2u);
        EXPECT_EQ(notices.notices()[1].text, NoSocketMessage("/bin/true"));

        // Our helper passes raw sockets to a process that may not open them:
        // enough for every thread at once, and reused afterwards.
        IcmpEchoService helped(KD_ICMP_HELPER_PATH);
        ASSERT_FALSE(CanOpenSocket(IcmpSocketKind::Raw));
        EXPECT_EQ(helped.SocketKind(), IcmpSocketKind::Raw);
        EXPECT_EQ(PingLoopbackFromThreads(helped, 40), 40);
        EXPECT_TRUE(helped.Echo("127.0.0.1", 3000));

        // Allowing ping sockets now changes nothing until the program restarts.
        IcmpEchoService unhelped;
        EXPECT_EQ(unhelped.SocketKind(), IcmpSocketKind::Unavailable);
        ASSERT_TRUE(AllowPingSockets(true));
        EXPECT_FALSE(unhelped.Echo("127.0.0.1", 3000));
        EXPECT_EQ(notices.count(), 3u);
        EXPECT_EQ(boxes.count(), 0u);
    });
}

TEST(RawIcmpSockets, TheHelperIsFoundBesideTheProgramOrInItsLibraryFolder) {
    TempDir dir;
    const std::string bin = dir.file("usr/bin/");
    const std::string lib = dir.file("usr/lib/kestrune-durvane/");
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(lib);
    EXPECT_EQ(FindIcmpHelper(bin), "");
    TempDir::WriteFile(bin + "vopal-icmp-helper", "#!/bin/sh\n");
    EXPECT_EQ(FindIcmpHelper(bin), "") << "not executable";
    std::filesystem::permissions(bin + "vopal-icmp-helper", std::filesystem::perms::owner_all);
    EXPECT_EQ(FindIcmpHelper(bin), bin + "vopal-icmp-helper");
    TempDir::WriteFile(lib + "vopal-icmp-helper", "#!/bin/sh\n");
    std::filesystem::permissions(lib + "vopal-icmp-helper", std::filesystem::perms::owner_all);
    EXPECT_EQ(FindIcmpHelper(bin), bin + "../lib/kestrune-durvane/vopal-icmp-helper");
    EXPECT_EQ(FindIcmpHelper(""), "");
}

TEST(RawIcmpSockets, TheHelperRefusesAnythingButASocketOnItsOutput) {
    // Run by hand, with its output on a pipe or a file, it opens nothing.
    const int rc = std::system(KD_ICMP_HELPER_PATH " > /dev/null 2>&1");
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 2);
}

// A tun device stands for a segment with a router 198.18.0.1 and hosts that
// each misbehave in one way; the test reads the echo requests from it and
// writes the answers back.
class FakeSegment {
public:
    // Sets up the device with our address 198.18.0.2/24 and starts serving.
    bool Open() {
        m_fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        ifreq request{};
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        std::snprintf(request.ifr_name, sizeof request.ifr_name, "kdtun0");
        if (ioctl(m_fd, TUNSETIFF, &request) != 0)
            return false;
        WriteProcFile("/proc/sys/net/ipv6/conf/kdtun0/disable_ipv6", "1");
        WriteProcFile("/proc/sys/net/ipv4/conf/all/rp_filter", "0");
        WriteProcFile("/proc/sys/net/ipv4/conf/kdtun0/rp_filter", "0");
        if (!ConfigureInterface("kdtun0", "198.18.0.2"))
            return false;
        m_thread = std::thread([this] { Serve(); });
        return true;
    }

    ~FakeSegment() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }

private:
    void Serve() {
        uint8_t buffer[2048];
        while (!m_stop) {
            pollfd item{m_fd, POLLIN, 0};
            if (poll(&item, 1, 50) <= 0)
                continue;
            const ssize_t length = read(m_fd, buffer, sizeof buffer);
            if (length >= 28)
                Answer(Bytes(buffer, buffer + length));
        }
    }

    void Send(const Bytes& packet) {
        if (write(m_fd, packet.data(), packet.size()) != static_cast<ssize_t>(packet.size()))
            std::printf("fake segment: write failed\n");
    }

    void Answer(const Bytes& request) {
        const size_t header = static_cast<size_t>(request[0] & 0x0F) * 4;
        if ((request[0] >> 4) != 4 || request[9] != 1 || request.size() < header + 8 ||
            request[header] != 8)
            return;
        uint32_t source;
        uint32_t destination;
        std::memcpy(&source, &request[12], 4);
        std::memcpy(&destination, &request[16], 4);
        const uint16_t id = static_cast<uint16_t>(request[header + 4] << 8 | request[header + 5]);
        const uint16_t seq = static_cast<uint16_t>(request[header + 6] << 8 | request[header + 7]);
        const uint32_t router = inet_addr("198.18.0.1");
        const auto reply = [source](uint32_t from, uint16_t replyId, uint16_t replySeq) {
            return Ip(from, source, Icmp(0, 0, replyId, replySeq));
        };
        const Bytes right = reply(destination, id, seq);
        Bytes damaged = right;
        damaged[20 + 2] ^= 0x40;
        Bytes other = request;
        other[header + 7] ^= 0x01;
        const Bytes fromStranger = reply(inet_addr("198.18.0.111"), id, seq);
        const Bytes otherSeq = reply(destination, id, static_cast<uint16_t>(seq + 1));
        const Bytes otherId = reply(destination, static_cast<uint16_t>(id + 1), seq);

        // What host .10, .11, ... sends back; the rest are silent.
        const std::vector<Bytes> answers[] = {
            {right},                                           // the one that answers
            {fromStranger},                                    // only a reply from someone else
            {otherSeq},                                        // only a reply to another sequence
            {otherId},                                         // only a reply to another id
            {damaged},                                         // only a damaged reply
            {fromStranger, otherSeq, otherId, damaged, right}, // all of those, then the right one
            {Ip(router, source, Icmp(3, 1, 0, 0, request))},   // the router cannot reach it
            {Ip(router, source, Icmp(11, 0, 0, 0, request))},  // the request dies on the way
            {Ip(router, source, Icmp(3, 1, 0, 0, other))},     // it reports another request
        };
        const size_t host = (ntohl(destination) & 0xFF) - 10;
        if (host < std::size(answers))
            for (const Bytes& packet : answers[host])
                Send(packet);
    }

    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(IcmpEchoTest, OnlyTheRightReplyCountsAndUnreachableEndsTheWait) {
    RunInFreshNetworkNamespace([] {
        FakeSegment segment;
        if (!segment.Open()) {
            std::printf("note: no tun device; the fake segment is not tested\n");
            return;
        }
        constexpr int kTimeoutMs = 1500;
        const struct {
            int host;
            bool expected;
            bool early; // ends well before the time-out
        } probes[] = {
            {10, true, true},   {11, false, false}, {12, false, false}, {13, false, false},
            {14, false, false}, {15, true, true},   {16, false, true},  {17, false, true},
            {18, false, false}, {19, false, false},
        };
        for (IcmpSocketKind kind : BothKindsInNamespace()) {
            SCOPED_TRACE(KindName(kind));
            IcmpEchoService echo;
            echo.ForceSocketKind(kind);
            // All at once: with raw sockets every probe also sees the others'
            // answers. Each gives whether it was answered and how long it took.
            std::vector<std::future<std::pair<bool, long long>>> results;
            for (const auto& probe : probes)
                results.push_back(std::async(std::launch::async, [&echo, host = probe.host] {
                    const Clock::time_point start = Clock::now();
                    const bool answered = echo.Echo("198.18.0." + std::to_string(host), kTimeoutMs);
                    return std::pair(answered, MillisecondsSince(start));
                }));
            for (size_t i = 0; i < std::size(probes); ++i) {
                const auto [answered, waited] = results[i].get();
                EXPECT_EQ(answered, probes[i].expected) << "host ." << probes[i].host;
                if (probes[i].early)
                    EXPECT_LT(waited, kTimeoutMs / 2) << "host ." << probes[i].host;
                else
                    EXPECT_GE(waited, kTimeoutMs) << "host ." << probes[i].host;
            }
        }
    });
}

} // namespace
