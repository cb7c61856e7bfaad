// The node-status probe and the nbtstat tool against the nmbd hosts of the
// test LAN, from inside the client namespace.

#include "core/scan/NodeStatus.h"
#include "tests/support/AnswerRow.h"
#include "core/scan/NodeStatusQuery.h"
#include "tests/lan/LanTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Role = TestLanHost::Role;

using NodeStatusLanTest = LanTest;

// The name table of an answer buffer, names without their blank padding.
std::vector<TestLanName> NamesOf(const UCHAR* buffer) {
    std::vector<TestLanName> names;
    const auto* entries = reinterpret_cast<const NAME_BUFFER*>(buffer + sizeof(ADAPTER_STATUS));
    for (int i = 0; i < kNodeStatusMaxNames && entries[i].name[0] != 0; ++i) {
        std::string text(reinterpret_cast<const char*>(entries[i].name), 15);
        text.erase(text.find_last_not_of(' ') + 1);
        names.push_back({text, entries[i].name[15], (entries[i].name_flags & GROUP_NAME) != 0});
    }
    return names;
}

std::string Describe(const std::vector<TestLanName>& names) {
    std::string text;
    for (const TestLanName& n : names) {
        char line[64];
        std::snprintf(line, sizeof line, "%s<%02X>%s ", n.name.c_str(), n.suffix,
                      n.group ? "G" : "");
        text += line;
    }
    return text;
}

struct ToolRun {
    int exitCode = -1;
    std::string output; // standard output and error together
};

// Runs nbtstat with arguments made only of literals and addresses from the
// layout file (validated when it was read).
ToolRun RunNbtstat(const std::string& arguments) {
    ToolRun run;
    const std::string command = std::string(KD_NBTSTAT_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.output.append(chunk, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST_F(NodeStatusLanTest, TheClientHasExactlyOneLanaAndItIsZero) {
    EXPECT_EQ(CountResponsiveLanas(), 1);
    const LanaSelection selection = SelectLana();
    EXPECT_EQ(selection.lana, 0);
    EXPECT_EQ(selection.code, NRC_GOODRET);
}

TEST_F(NodeStatusLanTest, EveryNmbdHostAnswersWithExactlyItsNamesAndItsMac) {
    const auto hosts = lan().WithRole(Role::Nmbd);
    ASSERT_GE(hosts.size(), 4u);
    for (const TestLanHost& host : hosts) {
        SCOPED_TRACE(host.address);
        UCHAR buffer[kNodeStatusBufferSize];
        NodeStatusAnswer answer;
        ASSERT_EQ(QueryNodeStatus(host.address, 0, buffer, nullptr, nullptr, &answer), NRC_GOODRET);

        const std::vector<TestLanName> expected = host.RegisteredNames();
        EXPECT_EQ(NamesOf(buffer), expected)
            << "got " << Describe(NamesOf(buffer)) << "\nwanted " << Describe(expected);
        const auto* entries = reinterpret_cast<const NAME_BUFFER*>(buffer + sizeof(ADAPTER_STATUS));
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(entries[i].name_flags & ~GROUP_NAME, REGISTERED) << i;

        // What a scan row gets: the last unique <00> name (an alias comes after
        // the machine's own name), the workgroup, and the <03> names.
        std::vector<std::string> own{host.name};
        own.insert(own.end(), host.aliases.begin(), host.aliases.end());
        std::string allMessengers, otherMessengers;
        for (const std::string& n : own) {
            allMessengers += (allMessengers.empty() ? "" : "/") + n;
            if (n != own.back())
                otherMessengers += (otherMessengers.empty() ? "" : "/") + n;
        }
        const HostRecord row = RowOfAnswer(answer, true);
        EXPECT_EQ(CellOf(row, HostRecord::kMac), host.MacHex());
        EXPECT_EQ(row.computer, own.back());
        EXPECT_EQ(row.workgroup, host.workgroup);
        EXPECT_EQ(CellOf(row, HostRecord::kMessenger), otherMessengers);
        EXPECT_EQ(CellOf(RowOfAnswer(answer, false), HostRecord::kMessenger), allMessengers);
    }
}

TEST_F(NodeStatusLanTest, ConcurrentQueriesWithAndWithoutTheLockAllAnswer) {
    const auto hosts = lan().WithRole(Role::Nmbd);
    std::mutex lock;
    std::vector<std::thread> threads;
    std::vector<int> failures(16, 0);
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&, t] {
            const TestLanHost& host = hosts[t % hosts.size()];
            UCHAR buffer[kNodeStatusBufferSize];
            NodeStatusAnswer answer;
            UCHAR code =
                QueryNodeStatus(host.address, 0, buffer, t % 2 ? &lock : nullptr, nullptr, &answer);
            if (code != NRC_GOODRET || NamesOf(buffer) != host.RegisteredNames() ||
                CellOf(RowOfAnswer(answer, false), HostRecord::kMac) != host.MacHex())
                failures[t] = 1;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < 16; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST_F(NodeStatusLanTest, HostsWithoutNetbiosTimeOutWithinTheirBounds) {
    // Port unreachable ends the wait at once; a silent address takes the
    // whole time-out of about 2 s.
    const std::pair<Role, std::chrono::milliseconds> bounds[] = {
        {Role::PingOnly, std::chrono::milliseconds(1000)},
        {Role::Silent, std::chrono::milliseconds(2500)}};
    for (const auto& [role, bound] : bounds) {
        const auto hosts = lan().WithRole(role);
        ASSERT_FALSE(hosts.empty());
        for (const TestLanHost& host : hosts) {
            SCOPED_TRACE(host.address);
            UCHAR buffer[kNodeStatusBufferSize];
            const auto start = Clock::now();
            EXPECT_EQ(QueryNodeStatus(host.address, 0, buffer), NRC_CMDTMO);
            EXPECT_LT(Clock::now() - start, bound);
        }
    }
}

TEST_F(NodeStatusLanTest, NbtstatPrintsTheNameTableAndMac) {
    const std::regex row(R"(^    (.{15})<([0-9A-F]{2})>  (UNIQUE|GROUP) +(\S+)$)");
    for (const TestLanHost& host : lan().WithRole(Role::Nmbd)) {
        SCOPED_TRACE(host.address);
        const ToolRun run = RunNbtstat("-A " + host.address);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("[" + host.address + "]"), std::string::npos) << run.output;

        std::vector<TestLanName> names;
        std::istringstream lines(run.output);
        std::string line;
        while (std::getline(lines, line)) {
            std::smatch m;
            if (!std::regex_match(line, m, row))
                continue;
            std::string name = m[1];
            name.erase(name.find_last_not_of(' ') + 1);
            names.push_back(
                {name, static_cast<unsigned char>(std::stoi(m[2], nullptr, 16)), m[3] == "GROUP"});
            EXPECT_EQ(m[4], "Registered") << line;
        }
        EXPECT_EQ(names, host.RegisteredNames()) << run.output;

        std::string mac;
        for (size_t i = 0; i < 12; i += 2)
            mac += (i ? "-" : "") + host.MacHex().substr(i, 2);
        EXPECT_NE(run.output.find("MAC Address = " + mac + "\n"), std::string::npos) << run.output;
    }
}

TEST_F(NodeStatusLanTest, NbtstatReportsAHostThatDoesNotAnswer) {
    const TestLanHost host = lan().WithRole(Role::PingOnly).front();
    const ToolRun run = RunNbtstat("-A " + host.address);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("netbios:タイムアウト"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("MAC Address"), std::string::npos) << run.output;
}

TEST_F(NodeStatusLanTest, NbtstatRefusesBadArgumentsWithUsage) {
    const std::string address = lan().WithRole(Role::Nmbd).front().address;
    const std::string bad[] = {"",
                               "-A",
                               "-r " + address,
                               address,
                               "-A " + address + " extra",
                               "-A 198.18.0",
                               "-A 198.18.0.010",
                               "-A 198.18.0.256",
                               "-A kdalpha"};
    for (const std::string& arguments : bad) {
        SCOPED_TRACE(arguments);
        const ToolRun run = RunNbtstat(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.output.find("usage: nbtstat -A <IPv4 address>"), std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("Name Table"), std::string::npos) << run.output;
    }
    // Lower-case -a takes an address just the same.
    EXPECT_EQ(RunNbtstat("-a " + address).exitCode, 0);
}

} // namespace
