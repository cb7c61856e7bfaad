// Hosts that say little: a firewall that drops ping, one that drops all of
// IPv4, a closed UDP 137, a late node-status answer, and a router that
// answers for hosts that are gone. What each must look like to vopal-scan,
// from inside the client namespace.

#include "platform/win32/IcmpEcho.h"
#include "platform/wire/NodeStatusPacket.h"
#include "tests/lan/LanTest.h"
#include "tests/support/JsonLinesValidator.h"
#include "tests/lan/ScanRun.h"
#include "tests/lan/TestLanTruth.h"
#include "tests/lan/WideLan.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Role = TestLanHost::Role;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

const char* const kQuietRange = "198.18.0.60-198.18.0.69";

class QuietHostsLanTest : public LanTest {
protected:
    const TestLanHost& Host(Role role) {
        static TestLanHost none;
        const auto hosts = lan().WithRole(role);
        if (hosts.size() != 1) {
            ADD_FAILURE() << "the layout needs exactly one host of each quiet role";
            return none;
        }
        m_hosts.push_back(hosts.front());
        return m_hosts.back();
    }

private:
    std::vector<TestLanHost> m_hosts;
};

enum class Query { Answered, Refused, Silent };

struct QueryResult {
    Query outcome = Query::Silent;
    std::chrono::milliseconds took{};
};

// One node-status query from a connected socket, so that port unreachable
// shows as ECONNREFUSED; one send, a wait of `wait`.
QueryResult AskNodeStatus(const std::string& address, std::chrono::milliseconds wait) {
    QueryResult result;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return result;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(137);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    const auto request = BuildNodeStatusRequest(0x4B44);
    const Clock::time_point start = Clock::now();
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(wait.count())) > 0) {
            unsigned char buffer[1024];
            if (recv(fd, buffer, sizeof buffer, 0) > 0)
                result.outcome = Query::Answered;
            else if (errno == ECONNREFUSED)
                result.outcome = Query::Refused;
        }
    }
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    close(fd);
    return result;
}

// The test LAN itself: each quiet host answers on the wire as its role says,
// so that what the scan is asked to find is really there (and really quiet).
TEST_F(QuietHostsLanTest, EachQuietHostAnswersOnTheWireAsItsRoleSays) {
    const struct {
        Role role;
        bool echo;
        Query query;
        int atLeastMs; // the answer is not sooner
    } cases[] = {{Role::NoPing, false, Query::Answered, 0},
                 {Role::ArpOnly, false, Query::Silent, 0},
                 {Role::Closed, false, Query::Refused, 0},
                 {Role::Slow, true, Query::Answered, 550}};
    IcmpEchoService echo;
    for (const auto& c : cases) {
        const TestLanHost& host = Host(c.role);
        SCOPED_TRACE(host.address);
        EXPECT_EQ(echo.Echo(host.address, 1000), c.echo);
        const QueryResult result = AskNodeStatus(host.address, std::chrono::milliseconds(1500));
        EXPECT_EQ(result.outcome, c.query);
        if (c.query == Query::Answered) {
            EXPECT_GE(result.took.count(), c.atLeastMs);
        }
    }
    // Only ARP answers for the host that drops all of IPv4: its entry is
    // complete after the queries above.
    const TestLanHost& arpOnly = Host(Role::ArpOnly);
    std::ifstream arp("/proc/net/arp");
    std::string line;
    bool complete = false;
    while (std::getline(arp, line)) {
        std::istringstream fields(line);
        std::string ip, type, flags, mac;
        fields >> ip >> type >> flags >> mac;
        complete = complete || (ip == arpOnly.address && flags == "0x2" && mac == arpOnly.mac);
    }
    EXPECT_TRUE(complete) << "no complete neighbour entry for " << arpOnly.address;
}

struct JsonScan {
    std::map<std::string, Json> rows; // by address
    std::vector<std::string> problems;
};

// The "row" lines of vopal-scan --format json; a line that is no JSON
// object, or a second row of one address, is a problem.
JsonScan ParseRows(const std::string& output) {
    JsonScan scan;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const Json value = Json::parse(line, nullptr, false);
        if (value.is_discarded() || !value.is_object()) {
            scan.problems.push_back("not a JSON object: " + line);
            continue;
        }
        if (value.value("type", "") != "row")
            continue;
        const std::string address = value.value("address", "");
        if (!scan.rows.emplace(address, value).second)
            scan.problems.push_back("a second row for " + address);
    }
    return scan;
}

std::string TextOrEmpty(const Json& row, const char* key) {
    if (!row.contains(key) || row[key].is_null())
        return "";
    return row[key].is_string() ? row[key].get<std::string>() : row[key].dump();
}

// The default engine finds every quiet host from what it does answer, and
// says how: node status, the neighbour entry, a refused query. Addresses
// that hold nobody are not printed.
TEST_F(QuietHostsLanTest, TheDefaultScanFindsEveryQuietHostAndSaysHow) {
    const struct {
        Role role;
        std::vector<std::string> reasons;
        bool named;
    } cases[] = {{Role::NoPing, {"nbstat", "arp"}, true},
                 {Role::ArpOnly, {"arp"}, false},
                 {Role::Closed, {"arp", "port-unreachable"}, false},
                 {Role::Slow, {"echo", "nbstat", "arp"}, true}};

    const ScanRun run = RunScan({"--format", "json", kQuietRange});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(JsonLinesValidator::VopalScanProblems(run.output), "");
    const JsonScan scan = ParseRows(run.output);
    EXPECT_TRUE(scan.problems.empty()) << ::testing::PrintToString(scan.problems);

    for (const auto& c : cases) {
        const TestLanHost& host = Host(c.role);
        SCOPED_TRACE(host.address);
        ASSERT_EQ(scan.rows.count(host.address), 1u) << run.output;
        const Json& row = scan.rows.at(host.address);
        for (const char* key : {"type", "schema", "address", "present", "reasons", "name",
                                "workgroup", "mac", "vendor", "messengers", "rtt_ms"})
            EXPECT_TRUE(row.contains(key)) << key << " in " << row.dump();
        EXPECT_EQ(row.value("schema", 0), 1);
        EXPECT_EQ(row.value("present", false), true);
        EXPECT_EQ(row.value("reasons", std::vector<std::string>{}), c.reasons);
        EXPECT_EQ(TextOrEmpty(row, "mac"), host.MacHex());
        // A round trip wherever the host itself answered (echo, node status or
        // its refusal); a neighbour entry alone has none.
        const bool answered = c.reasons != std::vector<std::string>{"arp"};
        ASSERT_TRUE(row.contains("rtt_ms"));
        EXPECT_EQ(row["rtt_ms"].is_number(), answered) << row.dump();
        EXPECT_EQ(row["rtt_ms"].is_null(), !answered) << row.dump();

        const HostRecord expected = TestLanTruth::AnsweredRow(
            AddressFromText(host.address), host.MacHex(), host.RegisteredNames());
        EXPECT_EQ(TextOrEmpty(row, "name"), c.named ? host.name : "");
        EXPECT_EQ(TextOrEmpty(row, "name"), CellOf(expected, HostRecord::kComputer));
        EXPECT_EQ(TextOrEmpty(row, "workgroup"), c.named ? host.workgroup : "");
        std::vector<std::string> messengers;
        for (const TestLanName& name : host.RegisteredNames())
            if (name.suffix == 0x03)
                messengers.push_back(name.name);
        ASSERT_TRUE(row.contains("messengers") && row["messengers"].is_array()) << row.dump();
        EXPECT_EQ(row["messengers"].get<std::vector<std::string>>(), messengers);
    }
    // Nobody else in the range: no other line.
    std::size_t quiet = 0;
    for (const auto& [address, row] : scan.rows) {
        const TestLanHost* host = lan().Find(address);
        EXPECT_TRUE(host && host->role != Role::Silent) << "a row for nobody: " << row.dump();
        ++quiet;
    }
    EXPECT_EQ(quiet, 4u) << run.output;
}

// The client namespace's ping socket rule, and so the socket kind the echo
// probe chooses (a datagram socket where root's group may have one, else a
// raw one); restored at the end.
class PingGroupRange {
public:
    explicit PingGroupRange(const std::string& value) : m_old(Read()) { Write(value); }
    ~PingGroupRange() { Write(m_old); }
    PingGroupRange(const PingGroupRange&) = delete;
    PingGroupRange& operator=(const PingGroupRange&) = delete;

    static std::string Read() {
        std::ifstream file(kPath);
        std::string low, high;
        file >> low >> high;
        return low + " " + high;
    }

private:
    static void Write(const std::string& value) { std::ofstream(kPath) << value << "\n"; }
    static constexpr const char* kPath = "/proc/sys/net/ipv4/ping_group_range";
    std::string m_old;
};

// The router answers for the odd addresses of the odd /24s with host
// unreachable (echo) and port unreachable (UDP 137), from its own address.
// Those hosts are gone: no row, whichever socket the echo probe has. Every
// other host keeps its row and its names, also the one probed right after a
// refused one, whose send meets the error the socket kept for its neighbour.
TEST_F(QuietHostsLanTest, HostsARouterReportsUnreachableGetNoRowWithEitherSocket) {
    ASSERT_TRUE(lan().wide()) << "the layout has no routed prefix";
    const TestLanPrefix& routed = lan().wide()->routed;
    const AddressRange range{routed.network, routed.network + 4 * 256 - 1}; // a /22
    ASSERT_TRUE(routed.Contains(range.end));
    const std::string rangeText = TestLanPrefix{range.start, 22}.Text();

    const Change rejects("reject", "unreject");
    ASSERT_TRUE(rejects.on()) << "testlan.sh reject failed";
    // On the wire: a rejected address is refused at once, from the router.
    const std::string gone = AddressToText(range.start + 256 + 3);
    ASSERT_TRUE(lan().Rejected(AddressFromText(gone)));
    IcmpEchoService echo;
    EXPECT_FALSE(echo.Echo(gone, 1000));
    EXPECT_EQ(AskNodeStatus(gone, std::chrono::milliseconds(1500)).outcome, Query::Refused);

    std::map<std::string, ScanRow> expected;
    int named = 0;
    for (const HostRecord& row : TestLanTruth(lan(), true).Rows(range, false)) {
        expected[CellOf(row, HostRecord::kAddress)] = TestLanTruth::Printed(row);
        named += !CellOf(row, HostRecord::kComputer).empty();
    }
    ASSERT_EQ(expected.size(), 2u * 254u + 2u * 127u);
    ASSERT_EQ(named, 2 * 254);

    const struct {
        const char* socket;
        const char* pingGroupRange;
    } sockets[] = {{"datagram", "0 2147483647"}, {"raw", "1 0"}};
    for (const auto& s : sockets) {
        SCOPED_TRACE(s.socket);
        const PingGroupRange rule(s.pingGroupRange);
        ASSERT_EQ(PingGroupRange::Read(), s.pingGroupRange);
        for (const std::vector<std::string>& options :
             {std::vector<std::string>{},
              std::vector<std::string>{"--engine", "threads", "--threads", "200", "--timeout",
                                       "1000"}}) {
            SCOPED_TRACE(options.empty() ? "default engine" : "threads engine");
            std::vector<std::string> args = options;
            args.push_back(rangeText);
            const ScanRun run = RunScan(args);
            ASSERT_EQ(run.exitCode, 0) << run.errors;
            EXPECT_EQ(RowDifferences(run.rows, expected), "");
        }
    }
}

} // namespace
