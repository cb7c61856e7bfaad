#include "platform/Netbios.h"
#include "tests/platform/NodeStatusReplyBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

int LoopbackSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    return fd;
}

std::uint16_t PortOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A node-status responder of the test's own on 127.0.0.1. For each request it
// asks the plan what to send back (nothing, one datagram, several); a datagram
// may go out from a second socket, as a foreign host would send it.
class Responder {
public:
    struct Reply {
        Bytes bytes;
        bool fromOtherPort = false;
    };
    // Request number (0 first) and transaction id of the request.
    using Plan = std::function<std::vector<Reply>(int, std::uint16_t)>;

    explicit Responder(Plan plan) : m_plan(std::move(plan)) {
        m_fd = LoopbackSocket();
        m_other = LoopbackSocket();
        if (m_fd >= 0 && m_other >= 0)
            m_thread = std::thread([this] { run(); });
    }
    ~Responder() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
        close(m_other);
    }

    bool ok() const { return m_fd >= 0 && m_other >= 0; }
    std::uint16_t port() const { return PortOf(m_fd); }
    std::vector<Bytes> requests() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_requests;
    }
    // The source address of each request, dotted.
    std::vector<std::string> sources() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_sources;
    }

private:
    void run() {
        while (!m_stop) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0)
                continue;
            unsigned char data[1500];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = recvfrom(m_fd, data, sizeof data, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 2)
                continue;
            int index = 0;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                index = static_cast<int>(m_requests.size());
                m_requests.emplace_back(data, data + got);
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
                m_sources.emplace_back(text);
            }
            const std::uint16_t id = static_cast<std::uint16_t>((data[0] << 8) | data[1]);
            for (const Reply& reply : m_plan(index, id))
                sendto(reply.fromOtherPort ? m_other : m_fd, reply.bytes.data(), reply.bytes.size(),
                       0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }

    Plan m_plan;
    int m_fd = -1;
    int m_other = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<Bytes> m_requests;
    std::vector<std::string> m_sources;
    std::thread m_thread;
};

Bytes Workstation(std::uint16_t id) {
    return NodeStatusReplyBuilder::Workstation(id).bytes();
}

struct Query {
    UCHAR rc = 0xEE;
    NCB ncb{};
    std::vector<unsigned char> buffer;
    std::chrono::milliseconds elapsed{0};

    const ADAPTER_STATUS& status() const {
        return *reinterpret_cast<const ADAPTER_STATUS*>(buffer.data());
    }
    const NAME_BUFFER& name(std::size_t i) const {
        return *reinterpret_cast<const NAME_BUFFER*>(buffer.data() + 60 + 18 * i);
    }
};

// The call as the program makes it: the address text padded with blanks.
Query AdapterStatus(const std::string& address, UCHAR lana = 0, std::size_t length = 600) {
    Query q;
    q.buffer.assign(length, 0xEE);
    q.ncb.ncb_command = NCBASTAT;
    q.ncb.ncb_buffer = q.buffer.empty() ? nullptr : q.buffer.data();
    q.ncb.ncb_length = static_cast<WORD>(length);
    std::memset(q.ncb.ncb_callname, ' ', NCBNAMSZ);
    std::memcpy(q.ncb.ncb_callname, address.data(), std::min<std::size_t>(address.size(), 16));
    q.ncb.ncb_lana_num = lana;
    const Clock::time_point start = Clock::now();
    q.rc = Netbios(&q.ncb);
    q.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return q;
}

UCHAR Reset(UCHAR lana) {
    unsigned char buffer[256] = {};
    NCB ncb{};
    ncb.ncb_command = NCBRESET;
    ncb.ncb_buffer = buffer;
    ncb.ncb_length = sizeof buffer;
    ncb.ncb_lana_num = lana;
    const UCHAR rc = Netbios(&ncb);
    EXPECT_EQ(ncb.ncb_retcode, rc);
    return rc;
}

class NetbiosTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(NetbiosSetLanaAddressesForTest({"127.0.0.1"})); }
    void TearDown() override { NetbiosResetTestHooks(); }

    void Use(Responder& responder) {
        ASSERT_TRUE(responder.ok());
        NetbiosSetDestinationPortForTest(responder.port());
    }
};

TEST_F(NetbiosTest, AnswerAtOnceFillsTheBuffer) {
    Responder responder(
        [](int, std::uint16_t id) { return std::vector<Responder::Reply>{{Workstation(id)}}; });
    Use(responder);
    const Query q = AdapterStatus("127.0.0.1");

    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.ncb.ncb_retcode, NRC_GOODRET);
    const unsigned char mac[6] = {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(std::memcmp(q.status().adapter_address, mac, 6), 0);
    EXPECT_EQ(q.status().name_count, 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(q.name(1).name), 16),
              std::string("WORKGROUP      \0", 16));
    EXPECT_EQ(q.name(1).name_flags, GROUP_NAME | REGISTERED);
    for (std::size_t i = 60 + 18 * 6; i < q.buffer.size(); ++i)
        ASSERT_EQ(q.buffer[i], 0) << "byte " << i;

    const std::vector<Bytes> requests = responder.requests();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].size(), 50u);
    EXPECT_EQ(requests[0][2], 0); // flags 0
    EXPECT_EQ(requests[0][3], 0);
    EXPECT_EQ(requests[0][13], 'C'); // '*'
    EXPECT_EQ(requests[0][14], 'K');
}

TEST_F(NetbiosTest, RetriesWithTheSameIdUntilTheThirdRequestIsAnswered) {
    Responder responder([](int index, std::uint16_t id) {
        std::vector<Responder::Reply> replies;
        if (index == 2)
            replies.push_back({Workstation(id)});
        return replies;
    });
    Use(responder);
    const Query q = AdapterStatus("127.0.0.1");

    EXPECT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.name(0).name[0], 'P');
    const std::vector<Bytes> requests = responder.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], requests[0]);
    EXPECT_EQ(requests[2], requests[0]);
}

TEST_F(NetbiosTest, ForgedRepliesAreIgnoredAndTheGenuineOneWins) {
    Responder responder([](int, std::uint16_t id) {
        NodeStatusReplyBuilder wrongId = NodeStatusReplyBuilder::Workstation(id ^ 0x8000);
        wrongId.unitId = {0xBA, 0xD0, 0x00, 0x00, 0x00, 0x01};
        NodeStatusReplyBuilder otherPort = NodeStatusReplyBuilder::Workstation(id);
        otherPort.unitId = {0xBA, 0xD0, 0x00, 0x00, 0x00, 0x02};
        NodeStatusReplyBuilder broken = NodeStatusReplyBuilder::Workstation(id);
        broken.rdlength = 0xFFFF;
        return std::vector<Responder::Reply>{{wrongId.bytes()},
                                             {otherPort.bytes(), true},
                                             {broken.bytes()},
                                             {Bytes{0x00}},
                                             {Workstation(id)}};
    });
    Use(responder);
    const Query q = AdapterStatus("127.0.0.1");

    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.status().adapter_address[0], 0x00);
    EXPECT_EQ(q.status().adapter_address[5], 0x5E);
    EXPECT_EQ(responder.requests().size(), 1u);
}

TEST_F(NetbiosTest, SilentHostTimesOutAfterThreeRequests) {
    // Only replies that must be ignored: the call has to run to its deadline.
    Responder responder([](int, std::uint16_t id) {
        return std::vector<Responder::Reply>{{Workstation(id ^ 1)}, {Workstation(id), true}};
    });
    Use(responder);
    const Query q = AdapterStatus("127.0.0.1");

    EXPECT_EQ(q.rc, NRC_CMDTMO);
    EXPECT_EQ(q.ncb.ncb_retcode, NRC_CMDTMO);
    EXPECT_LT(q.elapsed.count(), 2500) << "the call must not hang";
    EXPECT_GE(q.elapsed.count(), 2200) << "three requests, 750 ms apart, and a last wait";
    EXPECT_EQ(responder.requests().size(), 3u);
    for (unsigned char b : q.buffer)
        ASSERT_EQ(b, 0);
}

TEST_F(NetbiosTest, ClosedPortEndsTheWaitAtOnce) {
    const int fd = LoopbackSocket();
    ASSERT_GE(fd, 0);
    const std::uint16_t port = PortOf(fd);
    close(fd); // nobody listens there now: the kernel answers port unreachable
    NetbiosSetDestinationPortForTest(port);
    const Query q = AdapterStatus("127.0.0.1");

    EXPECT_EQ(q.rc, NRC_CMDTMO);
    EXPECT_LT(q.elapsed.count(), 700) << "must not wait for the next request";
}

TEST_F(NetbiosTest, TableLargerThanTheBufferIsIncomplete) {
    Responder responder([](int, std::uint16_t id) {
        NodeStatusReplyBuilder reply;
        reply.id = id;
        for (int i = 0; i < 31; ++i)
            reply.names.push_back({"N" + std::to_string(i), 0x03, 0x0400});
        return std::vector<Responder::Reply>{{reply.bytes()}};
    });
    Use(responder);
    EXPECT_EQ(AdapterStatus("127.0.0.1").rc, NRC_INCOMP);
    EXPECT_EQ(AdapterStatus("127.0.0.1", 0, 60 + 18 * 31).rc, NRC_GOODRET);
}

TEST_F(NetbiosTest, ZeroUnitIdIsTakenFromTheNeighbourTable) {
    std::atomic<bool> zero{true};
    Responder responder([&zero](int, std::uint16_t id) {
        NodeStatusReplyBuilder reply = NodeStatusReplyBuilder::Workstation(id);
        if (zero)
            reply.unitId = {};
        return std::vector<Responder::Reply>{{reply.bytes()}};
    });
    Use(responder);
    TempDir dir;
    TempDir::WriteFile(
        dir.file("arp"),
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "127.0.0.1        0x1         0x2         52:54:00:12:34:56     *        lo\n");

    // No entry (the real table never lists loopback): zeros stay.
    NetbiosSetArpTablePathForTest(dir.file("missing"));
    Query q = AdapterStatus("127.0.0.1");
    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(std::vector<unsigned char>(q.buffer.begin(), q.buffer.begin() + 6), Bytes(6, 0));

    NetbiosSetArpTablePathForTest(dir.file("arp"));
    q = AdapterStatus("127.0.0.1");
    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(std::vector<unsigned char>(q.buffer.begin(), q.buffer.begin() + 6),
              (Bytes{0x52, 0x54, 0x00, 0x12, 0x34, 0x56}));

    zero = false; // a unit id of its own is never replaced
    q = AdapterStatus("127.0.0.1");
    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.status().adapter_address[5], 0x5E);
}

TEST_F(NetbiosTest, SixteenThreadsQueryAtOnce) {
    Responder responder([](int, std::uint16_t id) {
        NodeStatusReplyBuilder reply = NodeStatusReplyBuilder::Workstation(id);
        // The reply carries the id, so each caller can tell it got its own.
        reply.unitId = {
            0x02, 0, 0, 0, static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id)};
        return std::vector<Responder::Reply>{{reply.bytes()}};
    });
    Use(responder);
    constexpr int kThreads = 16;
    std::vector<Query> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&results, i] { results[i] = AdapterStatus("127.0.0.1"); });
    for (std::thread& t : threads)
        t.join();

    const std::vector<Bytes> requests = responder.requests();
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(kThreads));
    std::vector<std::uint16_t> sentIds;
    for (const Bytes& r : requests)
        sentIds.push_back(static_cast<std::uint16_t>((r[0] << 8) | r[1]));
    for (const Query& q : results) {
        ASSERT_EQ(q.rc, NRC_GOODRET);
        const std::uint16_t id = static_cast<std::uint16_t>((q.status().adapter_address[4] << 8) |
                                                            q.status().adapter_address[5]);
        EXPECT_NE(std::find(sentIds.begin(), sentIds.end(), id), sentIds.end());
        EXPECT_EQ(q.status().name_count, 6);
    }
}

TEST_F(NetbiosTest, CallNameMustBeADottedAddress) {
    Responder responder(
        [](int, std::uint16_t id) { return std::vector<Responder::Reply>{{Workstation(id)}}; });
    Use(responder);
    const std::string bad[] = {
        "",
        "*",
        "localhost",
        "127.0.0",
        "127.0.0.1.5",
        "127.0.0.256",
        "127.0.0.01",
        "0127.0.0.1",
        " 127.0.0.1",
        "127.0.0.1x",
        "127.0.0.-1",
        "127.0..1",
        "127.0.0.1 2",
        std::string("127.0\0.0.1", 10),
        "0x7f.0.0.1",
        "1270000000000001",
    };
    for (const std::string& name : bad)
        EXPECT_EQ(AdapterStatus(name).rc, NRC_NOCALL) << name;
    EXPECT_TRUE(responder.requests().empty());

    // The 16 bytes may also end in NULs, and 127.0.0.1 padded by either works.
    Query q;
    q.buffer.assign(600, 0);
    q.ncb.ncb_command = NCBASTAT;
    q.ncb.ncb_buffer = q.buffer.data();
    q.ncb.ncb_length = 600;
    std::memcpy(q.ncb.ncb_callname, "127.0.0.1\0\0\0 \0\0\0", 16);
    EXPECT_EQ(Netbios(&q.ncb), NRC_GOODRET);
}

TEST_F(NetbiosTest, BufferShorterThanTheHeaderSendsNothing) {
    Responder responder(
        [](int, std::uint16_t id) { return std::vector<Responder::Reply>{{Workstation(id)}}; });
    Use(responder);
    const Query small = AdapterStatus("127.0.0.1", 0, 59);
    EXPECT_EQ(small.rc, NRC_BUFLEN);
    EXPECT_EQ(small.buffer, Bytes(59, 0xEE));
    EXPECT_EQ(AdapterStatus("127.0.0.1", 0, 0).rc, NRC_BUFLEN); // null buffer
    EXPECT_TRUE(responder.requests().empty());
    EXPECT_EQ(AdapterStatus("127.0.0.1", 0, 60).rc, NRC_INCOMP);
}

TEST_F(NetbiosTest, LanaNumbersFollowTheAddressList) {
    EXPECT_EQ(Reset(0), NRC_GOODRET);
    EXPECT_EQ(Reset(1), NRC_BRIDGE);
    EXPECT_EQ(AdapterStatus("127.0.0.1", 1).rc, NRC_BRIDGE);

    ASSERT_TRUE(NetbiosSetLanaAddressesForTest({"127.0.0.1", "127.0.0.2"}));
    EXPECT_EQ(Reset(1), NRC_GOODRET);
    EXPECT_EQ(Reset(2), NRC_BRIDGE);

    ASSERT_TRUE(NetbiosSetLanaAddressesForTest({}));
    EXPECT_EQ(Reset(0), NRC_BRIDGE);
    EXPECT_EQ(AdapterStatus("127.0.0.1", 0).rc, NRC_BRIDGE);

    EXPECT_FALSE(NetbiosSetLanaAddressesForTest({"127.0.0.1", "lo"}));
    EXPECT_EQ(Reset(0), NRC_BRIDGE) << "a refused list changes nothing";
}

TEST_F(NetbiosTest, RequestGoesOutFromTheLanasAddress) {
    ASSERT_TRUE(NetbiosSetLanaAddressesForTest({"127.0.0.1", "127.0.0.2"}));
    Responder responder(
        [](int, std::uint16_t id) { return std::vector<Responder::Reply>{{Workstation(id)}}; });
    Use(responder);
    EXPECT_EQ(AdapterStatus("127.0.0.1", 1).rc, NRC_GOODRET);
    EXPECT_EQ(AdapterStatus("127.0.0.1", 0).rc, NRC_GOODRET);
    EXPECT_EQ(responder.sources(), (std::vector<std::string>{"127.0.0.2", "127.0.0.1"}));
}

TEST_F(NetbiosTest, ResetOfTheHooksBringsBackTheMachinesInterfaces) {
    NetbiosResetTestHooks();
    // One LANA per interface; no machine has 255 of them.
    EXPECT_EQ(Reset(255), NRC_BRIDGE);
    EXPECT_EQ(AdapterStatus("127.0.0.1", 255).rc, NRC_BRIDGE);
}

TEST(Netbios, CommandsAndNullRecord) {
    EXPECT_EQ(Netbios(nullptr), NRC_BADDR);
    NCB ncb{};
    ncb.ncb_command = 0x10; // a session command this stand-in does not offer
    EXPECT_EQ(Netbios(&ncb), NRC_ILLCMD);
    EXPECT_EQ(ncb.ncb_retcode, NRC_ILLCMD);
    ncb.ncb_command = NCBASTAT | 0x80; // asynchronous form
    EXPECT_EQ(Netbios(&ncb), NRC_ILLCMD);
}

} // namespace
