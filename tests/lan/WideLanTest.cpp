// The routed prefix of the test LAN, from inside the client namespace: its
// addresses answer as WideLan's rule says, to vopal-scan and to single
// datagrams alike, so that the benchmarks' truth holds on the wire.

#include "tests/lan/WideLan.h"
#include "platform/wire/NodeStatusPacket.h"
#include "platform/win32/AdapterStatus.h"
#include "tests/lan/LanTest.h"
#include "tests/lan/ScanRun.h"
#include "tests/lan/TestLanTruth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

class WideLanTest : public LanTest {
protected:
    void SetUp() override {
        LanTest::SetUp();
        ASSERT_TRUE(lan().wide()) << "the layout has no routed prefix";
    }
};

// The prefix's first /24 only: the whole prefix is the benchmarks' to scan.
TEST_F(WideLanTest, AScanOfOneSlash24OfThePrefixGivesTheRowsOfTheRule) {
    const std::uint32_t network = lan().wide()->routed.network;
    const AddressRange range{network + 1, network + 254};
    ASSERT_TRUE(lan().wide()->routed.Contains(range.end));
    const ScanRun run =
        RunScan({"--engine", "threads", "--threads", "200", "--timeout", "1000", "--keep-silent",
                 AddressToText(range.start) + "-" + AddressToText(range.end)});
    ASSERT_EQ(run.exitCode, 0) << run.errors;

    std::map<std::string, ScanRow> expected;
    int named = 0;
    for (const HostRecord& row : TestLanTruth(lan()).Rows(range, true)) {
        expected[CellOf(row, HostRecord::kAddress)] = TestLanTruth::Printed(row);
        named += !CellOf(row, HostRecord::kComputer).empty();
    }
    ASSERT_EQ(expected.size(), 254u);
    ASSERT_EQ(named, 127);
    EXPECT_EQ(RowDifferences(run.rows, expected), "");
}

// A socket of the client, not connected, so that every reply shows where it
// came from.
class Asker {
public:
    Asker() : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Asker() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Asker(const Asker&) = delete;
    Asker& operator=(const Asker&) = delete;

    bool Send(const std::string& address, const Bytes& datagram) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(137);
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        return sendto(m_fd, datagram.data(), datagram.size(), 0,
                      reinterpret_cast<const sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(datagram.size());
    }

    // Every datagram that arrives until `quiet` passes without one, by sender.
    std::multimap<std::string, Bytes> Collect(std::chrono::milliseconds quiet) const {
        std::multimap<std::string, Bytes> got;
        pollfd wait{m_fd, POLLIN, 0};
        while (poll(&wait, 1, static_cast<int>(quiet.count())) > 0) {
            unsigned char buffer[2048];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(m_fd, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0)
                break;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            got.emplace(std::string(text) + ":" + std::to_string(ntohs(from.sin_port)),
                        Bytes(buffer, buffer + n));
        }
        return got;
    }

    int fd() const { return m_fd; }

private:
    int m_fd;
};

Bytes Request(std::uint16_t id) {
    const auto request = BuildNodeStatusRequest(id);
    return Bytes(request.begin(), request.end());
}

TEST_F(WideLanTest, TheResponderDropsMalformedQueriesAndAnswersFromTheAskedAddress) {
    const TestLanPrefix& routed = lan().wide()->routed;
    const std::string even = AddressToText(routed.network + 2), odd = AddressToText(routed.network + 3),
                      last = AddressToText(routed.Last() - 1);
    Asker asker;
    ASSERT_GE(asker.fd(), 0);
    Bytes response = Request(0x0101);
    response[2] = 0x84; // a reply, not a query
    Bytes nameQuery = Request(0x0102);
    nameQuery[47] = 0x20; // type NB
    Bytes cut = Request(0x0103);
    cut.resize(30);
    const Bytes malformed[] = {{0x00}, cut, response, nameQuery, Bytes(1000, 0x41)};
    for (const Bytes& datagram : malformed)
        ASSERT_TRUE(asker.Send(even, datagram));
    ASSERT_TRUE(asker.Send(even, Request(0x2222)));
    ASSERT_TRUE(asker.Send(odd, Request(0x3333))); // odd: silent
    ASSERT_TRUE(asker.Send(last, Request(0x4444)));

    // The odd address's query is left without an answer; the replies are
    // long back when a second has passed without another.
    const auto got = asker.Collect(std::chrono::milliseconds(1000));
    std::string senders;
    for (const auto& [sender, bytes] : got)
        senders += " " + sender;
    ASSERT_EQ(got.size(), 2u) << "replies from" << senders;
    const std::pair<std::string, std::uint16_t> answered[] = {{even, 0x2222}, {last, 0x4444}};
    for (const auto& [address, id] : answered) {
        SCOPED_TRACE(address);
        const auto reply = got.find(address + ":137");
        ASSERT_TRUE(reply != got.end()) << "replies from" << senders;
        unsigned char buffer[600];
        const AdapterStatusVerdict verdict = DecodeNodeStatusReply(
            reply->second.data(), reply->second.size(), id, buffer, sizeof buffer);
        ASSERT_TRUE(verdict.accepted()) << NodeStatusReplyCheckName(verdict.check);
        EXPECT_EQ(verdict.namesInReply, WideLan::Names(AddressFromText(address)).size());
        const auto unitId = WideLan::UnitId(AddressFromText(address));
        EXPECT_TRUE(std::equal(unitId.begin(), unitId.end(), buffer));
    }
}

} // namespace
