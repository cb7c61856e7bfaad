#include "platform/win32/Netbios.h"
#include "platform/os/StopSignal.h"
#include "platform/wire/NodeStatusPacket.h"
#include "platform/win32/AdapterStatus.h"
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

// A node-status responder of the test's own on 127.0.0.1, where the
// transport it is given sends NCBASTAT. For each request it asks the plan what to send back
// (nothing, one datagram, several); a datagram may go out from a second
// socket, as a foreign host would send it.
class Responder {
public:
    struct Reply {
        Bytes bytes;
        bool fromOtherPort = false;
    };
    // Request number (0 first) and transaction id of the request.
    using Plan = std::function<std::vector<Reply>(int, std::uint16_t)>;

    // Without a plan, every request gets the workstation's answer at once.
    static std::vector<Reply> Answer(int, std::uint16_t id) {
        return {{NodeStatusReplyBuilder::WorkstationBytes(id)}};
    }

    explicit Responder(NetbiosTransport& transport, Plan plan = Answer) : m_plan(std::move(plan)) {
        m_fd = LoopbackSocket();
        m_other = LoopbackSocket();
        if (m_fd < 0 || m_other < 0) {
            ADD_FAILURE() << "cannot open the responder's sockets";
            return;
        }
        transport.port = PortOf(m_fd);
        m_thread = std::thread([this] { run(); });
    }
    ~Responder() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
        close(m_other);
    }

    std::vector<Bytes> requests() {
        std::lock_guard guard(m_lock);
        return m_requests;
    }
    // The source address of each request, dotted.
    std::vector<std::string> sources() {
        std::lock_guard guard(m_lock);
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
                std::lock_guard guard(m_lock);
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

using Builder = NodeStatusReplyBuilder;
using Replies = std::vector<Responder::Reply>;

struct Query {
    UCHAR rc = 0xEE;
    NCB ncb{};
    Bytes buffer;
    std::chrono::milliseconds elapsed{0};

    const ADAPTER_STATUS& status() const {
        return *reinterpret_cast<const ADAPTER_STATUS*>(buffer.data());
    }
    Bytes mac() const { return Bytes(buffer.begin(), buffer.begin() + 6); }
};

// The call as the program makes it: the address text padded with blanks.
Query AdapterStatus(const NetbiosTransport& transport, const std::string& address, UCHAR lana = 0,
                    std::size_t length = 600, const StopSignal* stop = nullptr) {
    Query q;
    q.buffer.assign(length, 0xEE);
    q.ncb.ncb_command = NCBASTAT;
    q.ncb.ncb_buffer = q.buffer.empty() ? nullptr : q.buffer.data();
    q.ncb.ncb_length = static_cast<WORD>(length);
    std::memset(q.ncb.ncb_callname, ' ', NCBNAMSZ);
    std::memcpy(q.ncb.ncb_callname, address.data(), std::min<std::size_t>(address.size(), 16));
    q.ncb.ncb_lana_num = lana;
    const Clock::time_point start = Clock::now();
    q.rc = Netbios(&q.ncb, stop, nullptr, transport);
    q.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return q;
}

UCHAR Reset(const NetbiosTransport& transport, UCHAR lana) {
    unsigned char buffer[256] = {};
    NCB ncb{};
    ncb.ncb_command = NCBRESET;
    ncb.ncb_buffer = buffer;
    ncb.ncb_length = sizeof buffer;
    ncb.ncb_lana_num = lana;
    const UCHAR rc = Netbios(&ncb, nullptr, nullptr, transport);
    EXPECT_EQ(ncb.ncb_retcode, rc);
    return rc;
}

class NetbiosTest : public testing::Test {
protected:
    void SetUp() override {
        transport.lanas = NetbiosLanaList({"127.0.0.1"});
        ASSERT_TRUE(transport.lanas);
    }

    NetbiosTransport transport;
};

TEST_F(NetbiosTest, ForgedRepliesAreIgnoredAndTheGenuineOneFillsTheBuffer) {
    Responder responder(transport, [](int, std::uint16_t id) {
        const auto badMac = [](unsigned char last) {
            return [last](Builder& r) { r.unitId = {0xBA, 0xD0, 0, 0, 0, last}; };
        };
        return Replies{{Builder::WorkstationBytes(id ^ 0x8000, badMac(1))},
                       {Builder::WorkstationBytes(id, badMac(2)), true},
                       {Builder::WorkstationBytes(id, [](Builder& r) { r.rdlength = 0xFFFF; })},
                       {Bytes{0x00}},
                       {Builder::WorkstationBytes(id)}};
    });
    const Query q = AdapterStatus(transport, "127.0.0.1");

    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.ncb.ncb_retcode, NRC_GOODRET);
    // One request, exactly as built for its id, and the buffer laid out as the
    // decoder lays out the genuine reply.
    const std::vector<Bytes> requests = responder.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::uint16_t id = static_cast<std::uint16_t>(requests[0][0] << 8 | requests[0][1]);
    const auto built = BuildNodeStatusRequest(id);
    EXPECT_EQ(requests[0], Bytes(built.begin(), built.end()));
    const Bytes genuine = Builder::WorkstationBytes(id);
    Bytes expected(600, 0xEE);
    ASSERT_TRUE(
        DecodeNodeStatusReply(genuine.data(), genuine.size(), id, expected.data(), 600).accepted());
    EXPECT_EQ(q.buffer, expected);
}

TEST_F(NetbiosTest, RetriesWithTheSameIdUntilTheThirdRequestIsAnswered) {
    Responder responder(transport, [](int index, std::uint16_t id) {
        return index == 2 ? Replies{{Builder::WorkstationBytes(id)}} : Replies{};
    });
    const Query q = AdapterStatus(transport, "127.0.0.1");

    EXPECT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.buffer[60], 'P'); // PC-01, the first name
    const std::vector<Bytes> requests = responder.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], requests[0]);
    EXPECT_EQ(requests[2], requests[0]);
}

TEST_F(NetbiosTest, SilentHostTimesOutAfterThreeRequests) {
    // Only replies that must be ignored: the call has to run to its deadline.
    Responder responder(transport, [](int, std::uint16_t id) {
        return Replies{{Builder::WorkstationBytes(id ^ 1)}, {Builder::WorkstationBytes(id), true}};
    });
    const Query q = AdapterStatus(transport, "127.0.0.1");

    EXPECT_EQ(q.rc, NRC_CMDTMO);
    EXPECT_EQ(q.ncb.ncb_retcode, NRC_CMDTMO);
    EXPECT_LT(q.elapsed.count(), 2500) << "the call must not hang";
    EXPECT_GE(q.elapsed.count(), 2200) << "three requests, 750 ms apart, and a last wait";
    EXPECT_EQ(responder.requests().size(), 3u);
    EXPECT_EQ(q.buffer, Bytes(600, 0));
}

TEST_F(NetbiosTest, AStopEndsTheQueryAsACancelledCommand) {
    Responder responder(transport, [](int, std::uint16_t) { return Replies{}; });
    // Raised before the call: nothing is sent. Raised during the wait: it
    // ends then, not at the next request.
    for (const int raiseAfterMs : {-1, 300}) {
        StopSignal stop;
        if (raiseAfterMs < 0)
            stop.Raise();
        std::thread raiser([&] {
            if (raiseAfterMs >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(raiseAfterMs));
                stop.Raise();
            }
        });
        const Query q = AdapterStatus(transport, "127.0.0.1", 0, 600, &stop);
        raiser.join();
        EXPECT_EQ(q.rc, NRC_CMDCAN) << raiseAfterMs;
        EXPECT_LT(q.elapsed.count(), 700) << raiseAfterMs;
    }
    EXPECT_EQ(responder.requests().size(), 1u);
}

TEST_F(NetbiosTest, ClosedPortEndsTheWaitAtOnce) {
    const int fd = LoopbackSocket();
    ASSERT_GE(fd, 0);
    const std::uint16_t port = PortOf(fd);
    close(fd); // nobody listens there now: the kernel answers port unreachable
    transport.port = port;
    const Query q = AdapterStatus(transport, "127.0.0.1");

    EXPECT_EQ(q.rc, NRC_CMDTMO);
    EXPECT_LT(q.elapsed.count(), 700) << "must not wait for the next request";
}

TEST_F(NetbiosTest, BufferLengthDecidesBetweenBuflenIncompleteAndGood) {
    Responder responder(transport, [](int, std::uint16_t id) {
        Builder reply;
        reply.id = id;
        for (int i = 0; i < 31; ++i)
            reply.names.push_back({"N" + std::to_string(i), 0x03, 0x0400});
        return Replies{{reply.bytes()}};
    });
    // Shorter than the header: nothing is sent and the buffer stays as it was.
    const Query small = AdapterStatus(transport, "127.0.0.1", 0, 59);
    EXPECT_EQ(small.rc, NRC_BUFLEN);
    EXPECT_EQ(small.buffer, Bytes(59, 0xEE));
    EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 0, 0).rc, NRC_BUFLEN); // null buffer
    EXPECT_TRUE(responder.requests().empty());

    EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 0, 60).rc, NRC_INCOMP);
    EXPECT_EQ(AdapterStatus(transport, "127.0.0.1").rc, NRC_INCOMP); // 600 bytes hold 30 names
    EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 0, 60 + 18 * 31).rc, NRC_GOODRET);
}

TEST_F(NetbiosTest, ZeroUnitIdIsTakenFromTheNeighbourTable) {
    std::atomic<bool> zero{true};
    Responder responder(transport, [&zero](int, std::uint16_t id) {
        return Replies{{Builder::WorkstationBytes(id, [&zero](Builder& r) {
            if (zero)
                r.unitId = {};
        })}};
    });
    TempDir dir;
    TempDir::WriteFile(
        dir.file("arp"),
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "127.0.0.1        0x1         0x2         52:54:00:12:34:56     *        lo\n");

    // No entry (the real table never lists loopback): zeros stay.
    transport.arpTablePath = dir.file("missing");
    Query q = AdapterStatus(transport, "127.0.0.1");
    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.mac(), Bytes(6, 0));

    transport.arpTablePath = dir.file("arp");
    q = AdapterStatus(transport, "127.0.0.1");
    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.mac(), (Bytes{0x52, 0x54, 0x00, 0x12, 0x34, 0x56}));

    zero = false; // a unit id of its own is never replaced
    q = AdapterStatus(transport, "127.0.0.1");
    ASSERT_EQ(q.rc, NRC_GOODRET);
    EXPECT_EQ(q.mac(), (Bytes{0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E}));
}

TEST_F(NetbiosTest, SixteenThreadsQueryAtOnce) {
    // Each reply carries its transaction id in the unit id.
    Responder responder(transport, [](int, std::uint16_t id) {
        return Replies{{Builder::WorkstationBytes(id, [id](Builder& r) {
            r.unitId = {
                0x02, 0, 0, 0, static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id)};
        })}};
    });
    constexpr int kThreads = 16;
    std::vector<Query> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(
            [this, &results, i] { results[i] = AdapterStatus(transport, "127.0.0.1"); });
    for (std::thread& t : threads)
        t.join();

    // One request each, and each caller holds the answer to its own.
    std::vector<Bytes> sent, received;
    for (const Bytes& r : responder.requests())
        sent.emplace_back(r.begin(), r.begin() + 2);
    for (const Query& q : results) {
        EXPECT_EQ(q.rc, NRC_GOODRET);
        EXPECT_EQ(q.status().name_count, 6);
        received.emplace_back(q.buffer.begin() + 4, q.buffer.begin() + 6);
    }
    std::sort(sent.begin(), sent.end());
    std::sort(received.begin(), received.end());
    EXPECT_EQ(sent, received);
}

TEST_F(NetbiosTest, CallNameMustBeADottedAddress) {
    Responder responder(transport);
    for (const std::string name :
         {"", "*", "localhost", "127.0.0", "127.0.0.1.5", "127.0.0.256", "127.0.0.01", "0127.0.0.1",
          " 127.0.0.1", "127.0.0.1x", "127.0.0.-1", "127.0..1", "127.0.0.1 2", "0x7f.0.0.1",
          "1270000000000001"})
        EXPECT_EQ(AdapterStatus(transport, name).rc, NRC_NOCALL) << name;
    EXPECT_EQ(AdapterStatus(transport, std::string("127.0\0.0.1", 10)).rc, NRC_NOCALL);
    EXPECT_TRUE(responder.requests().empty());
    // The 16 bytes may also end in NULs, or in a mix of NULs and blanks.
    EXPECT_EQ(AdapterStatus(transport, std::string("127.0.0.1\0\0\0 \0\0\0", 16)).rc, NRC_GOODRET);
}

TEST_F(NetbiosTest, LanaNumbersFollowTheAddressListAndGiveTheSource) {
    EXPECT_EQ(Reset(transport, 0), NRC_GOODRET);
    EXPECT_EQ(Reset(transport, 1), NRC_BRIDGE);
    EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 1).rc, NRC_BRIDGE);

    transport.lanas = NetbiosLanaList({"127.0.0.1", "127.0.0.2"});
    ASSERT_TRUE(transport.lanas);
    EXPECT_EQ(Reset(transport, 1), NRC_GOODRET);
    EXPECT_EQ(Reset(transport, 2), NRC_BRIDGE);
    {
        Responder responder(transport);
        EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 1).rc, NRC_GOODRET);
        EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 0).rc, NRC_GOODRET);
        EXPECT_EQ(responder.sources(), (std::vector<std::string>{"127.0.0.2", "127.0.0.1"}));
    }

    transport.lanas = NetbiosLanaList({});
    ASSERT_TRUE(transport.lanas);
    EXPECT_EQ(Reset(transport, 0), NRC_BRIDGE);
    EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 0).rc, NRC_BRIDGE);
    // A list with anything but dotted addresses is no list at all.
    EXPECT_FALSE(NetbiosLanaList({"127.0.0.1", "lo"}));
    EXPECT_FALSE(NetbiosLanaList({"127.0.0.1", "127.0.0.256"}));

    // Back to the machine's own interfaces, one LANA each; no machine has 255.
    transport.lanas.reset();
    EXPECT_EQ(Reset(transport, 255), NRC_BRIDGE);
    EXPECT_EQ(AdapterStatus(transport, "127.0.0.1", 255).rc, NRC_BRIDGE);
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
