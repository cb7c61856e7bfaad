// Whole scans of the test LAN with vopal-scan, from inside the client
// namespace: the rows must be exactly what the LAN's layout implies.

#include "core/scan/NicVendorTable.h"
#include "tests/lan/LanTest.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Role = TestLanHost::Role;
using Row = std::vector<std::string>;

// The scanned range: the whole LAN but the client itself.
const char* const kRangeStart = "198.18.0.2";
const char* const kRange = "198.18.0.2-198.18.0.40";

struct ScanRun {
    int exitCode = -1;
    std::string output;
    std::string errors;              // standard error
    std::map<std::string, Row> rows; // by address
    std::vector<std::string> order;
    std::chrono::steady_clock::duration stopTook{}; // from the first signal to the end
};

struct ScanSetup {
    std::optional<std::chrono::milliseconds> interruptAfter; // SIGINT after that long,
    // The signals then sent; more than one arrive together (sent while the
    // program is stopped, delivered when it goes on).
    std::vector<int> signals = {SIGINT};
    std::string store;  // the settings store's text; empty: none at all
    std::string nofile; // descriptor limit ("soft[:hard]"), set by prlimit
    std::string tmpdir;
};

// Runs vopal-scan with its own empty settings store (so the stored defaults
// apply), as the setup says.
ScanRun RunScan(const std::vector<std::string>& args, const ScanSetup& setup = {}) {
    static TempDir emptyConfig;
    TempDir ownConfig;
    if (!setup.store.empty()) {
        std::filesystem::create_directories(ownConfig.file("BRELLOW"));
        TempDir::WriteFile(ownConfig.file("BRELLOW/registry.reg"), setup.store);
    }
    const TempDir& config = setup.store.empty() ? emptyConfig : ownConfig;
    TempDir errors;
    ScanRun run;
    std::vector<std::string> argv = {KD_VOPAL_SCAN_PATH};
    if (!setup.nofile.empty())
        argv = {"/usr/bin/prlimit", "--nofile=" + setup.nofile, KD_VOPAL_SCAN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config.path(), "PATH=/usr/bin:/bin"};
    if (!setup.tmpdir.empty())
        env.push_back("TMPDIR=" + setup.tmpdir);
    std::vector<char*> cenv;
    for (auto& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.file("stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return run;
    }
    std::thread interrupter;
    std::chrono::steady_clock::time_point interrupted;
    if (setup.interruptAfter)
        interrupter = std::thread([&, pid, after = *setup.interruptAfter] {
            std::this_thread::sleep_for(after);
            interrupted = std::chrono::steady_clock::now();
            const bool together = setup.signals.size() > 1;
            if (together)
                kill(pid, SIGSTOP);
            for (int signal : setup.signals)
                kill(pid, signal);
            if (together)
                kill(pid, SIGCONT);
        });
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (interrupter.joinable()) {
        interrupter.join();
        run.stopTook = std::chrono::steady_clock::now() - interrupted;
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.errors = TempDir::ReadFile(errors.file("stderr"));

    std::istringstream lines(run.output);
    std::string line;
    bool title = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (title) {
            title = false;
            continue;
        }
        Row row;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ','))
            row.push_back(field);
        if (!row.empty()) {
            run.order.push_back(row[0]);
            run.rows[row[0]] = row;
        }
    }
    return run;
}

class ScanLanTest : public LanTest {
protected:
    // The row the scan must give an nmbd host, worked out from what it registers.
    static Row ExpectedRow(const TestLanHost& host) {
        std::string computer, domain, messengers;
        for (const TestLanName& name : host.RegisteredNames()) {
            if (name.suffix == 0x00)
                (name.group ? domain : computer) = name.name; // the last one wins
            if (name.suffix == 0x03)
                messengers += (messengers.empty() ? "" : "/") + name.name;
        }
        std::string mac = host.MacHex();
        const char* vendor = FindNicVendor(mac.substr(0, 6));
        return {host.address,
                "○",
                computer,
                domain,
                mac,
                vendor ? vendor : "不明",
                messengers.empty() ? "-" : messengers};
    }
};

// Both engines: the event-driven one (vopal-scan's default) and the thread
// per probe one give exactly the rows the LAN's layout implies.
const char* const kEngines[] = {"fast", "threads"};

TEST_F(ScanLanTest, ScanGivesExactlyTheAnsweringHostsWithTheirNameTables) {
    std::map<std::string, Row> expected;
    for (const TestLanHost& host : lan().WithRole(Role::Nmbd))
        expected[host.address] = ExpectedRow(host);
    for (const TestLanHost& host : lan().WithRole(Role::PingOnly))
        expected[host.address] = {host.address, "○", "-", "-", "-", "-", "-"};
    ASSERT_GE(expected.size(), 6u);
    for (const char* engine : kEngines) {
        SCOPED_TRACE(engine);
        ScanRun run = RunScan({"--engine", engine, "--threads", "15", "--timeout", "1000", kRange});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(run.rows, expected) << run.output;
        // Rows stay in address order, the order of dispatch.
        EXPECT_TRUE(std::is_sorted(run.order.begin(), run.order.end(), [](auto& a, auto& b) {
            return std::stoi(a.substr(a.rfind('.') + 1)) < std::stoi(b.substr(b.rfind('.') + 1));
        }));
    }
}

TEST_F(ScanLanTest, KeepSilentLeavesEveryProbedAddressWithItsMark) {
    for (const char* engine : kEngines) {
        SCOPED_TRACE(engine);
        ScanRun run = RunScan(
            {"--engine", engine, "--threads", "15", "--timeout", "1000", "--keep-silent", kRange});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_EQ(run.order.size(), 39u) << run.output;
        EXPECT_EQ(run.order.front(), kRangeStart);

        for (const TestLanHost& host : lan().WithRole(Role::Silent)) {
            ASSERT_EQ(run.rows.count(host.address), 1u) << host.address;
            EXPECT_EQ(run.rows[host.address], (Row{host.address, "×", "-", "-", "-", "-", "-"}));
        }
        int answered = 0;
        for (const auto& [address, row] : run.rows)
            answered += row[1] == "○";
        EXPECT_EQ(answered, static_cast<int>(lan().WithRole(Role::Nmbd).size() +
                                             lan().WithRole(Role::PingOnly).size()));
    }
}

TEST_F(ScanLanTest, SafeModeGivesTheSameRows) {
    // Serialised node-status queries change nothing but the timing.
    ScanRun plain = RunScan({"--engine", "threads", "--threads", "15", "--timeout", "500", kRange});
    ScanRun safe = RunScan(
        {"--engine", "threads", "--threads", "15", "--timeout", "500", "--safe-mode", kRange});
    ASSERT_EQ(plain.exitCode, 0);
    ASSERT_EQ(safe.exitCode, 0);
    EXPECT_EQ(plain.rows, safe.rows);
}

// A stored time-out of 24 days: Ctrl+C or SIGTERM still ends the scan at
// once. The waits under way are cut short and their rows keep no mark.
TEST_F(ScanLanTest, AStopEndsAScanAtOnceWhateverTheStoredTimeOut) {
    // Addresses no other test probes, so that no failed neighbour entry of
    // an earlier scan answers "unreachable" before the stop.
    const std::pair<int, const char*> runs[] = {{SIGINT, "198.18.0.100-198.18.0.254"},
                                                {SIGTERM, "198.18.0.180-198.18.0.254"}};
    for (const auto& [signal, range] : runs) {
        SCOPED_TRACE(strsignal(signal));
        ScanSetup setup;
        setup.store = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
                      "\"PingTimeout\"=dword:7fffffff\n";
        setup.interruptAfter = std::chrono::milliseconds(1500);
        setup.signals = {signal};
        ScanRun run =
            RunScan({"--engine", "threads", "--threads", "3", "--keep-silent", range}, setup);
        const auto tookMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(run.stopTook).count();
        std::printf("stopped after the signal in %lld ms\n", static_cast<long long>(tookMs));
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        EXPECT_LT(tookMs, 2000);
        // The first addresses were dispatched; silent ones were still waiting.
        ASSERT_GE(run.order.size(), 1u);
        EXPECT_LE(run.order.size(), 16u);
        int cut = 0;
        for (const auto& [address, row] : run.rows) {
            EXPECT_TRUE(row[1] == "○" || row[1] == "-") << address;
            cut += row[1] == "-";
        }
        EXPECT_GE(cut, 1) << run.output;
    }
}

// The first interrupt stops the scan; a second one that comes while the
// program is still ending ends it at once, without printing, and leaves no
// file behind.
TEST_F(ScanLanTest, ASecondInterruptEndsAtOnceWithoutPrinting) {
    TempDir tmp;
    ScanSetup setup;
    setup.interruptAfter = std::chrono::milliseconds(1000);
    setup.signals = {SIGINT, SIGTERM};
    setup.tmpdir = tmp.path();
    ScanRun run = RunScan(
        {"--engine", "threads", "--threads", "3", "--timeout", "3000", "198.18.0.2-198.18.0.254"},
        setup);
    // Ended by whichever of the two was handled second.
    EXPECT_TRUE(run.exitCode == 128 + SIGINT || run.exitCode == 128 + SIGTERM) << run.exitCode;
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << "a temporary file was left";
}

TEST_F(ScanLanTest, AListFileThatIsNoRegularFileIsRefusedBeforeAnythingIsSent) {
    TempDir dir;
    for (const std::string& list : {dir.path(), std::string("/dev/null")}) {
        ScanRun run = RunScan({"--list", list});
        EXPECT_EQ(run.exitCode, 2) << list;
        EXPECT_EQ(run.output, "") << list;
        EXPECT_NE(run.errors.find("\"" + list + "\": it is"), std::string::npos) << run.errors;
    }
}

// Lines that are not ranges (a bad start, a bad end, a start above its end)
// are told once and skipped; the good lines around them are scanned. With no
// good line left the scan ends with status 1.
TEST_F(ScanLanTest, RefusedListLinesAreToldAndSkipped) {
    TempDir dir;
    const std::string mixed = dir.file("mixed.lst"), bad = dir.file("bad.lst");
    TempDir::WriteFile(mixed, "198.18.0.9,198.18.0.12\r\nnot-an-address,198.18.0.20\r\n"
                              "198.18.0.20,198.18.0.x\r\n198.18.0.21,198.18.0.13\r\n"
                              "198.18.0.13,198.18.0.21\r\n");
    TempDir::WriteFile(bad, "198.18.0.21,198.18.0.13\r\n");
    ScanRun plain = RunScan({"--timeout", "1000", "198.18.0.9-198.18.0.21"});
    ScanRun run = RunScan({"--timeout", "1000", "--list", mixed});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.rows, plain.rows);
    for (const char* line : {"2行目", "3行目", "4行目"})
        EXPECT_NE(run.errors.find(line), std::string::npos) << run.errors;
    EXPECT_EQ(run.errors.find("1行目"), std::string::npos) << run.errors;
    ScanRun none = RunScan({"--list", bad});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.rows.empty());
}

// MaxThread 1000 with 24 descriptors: as many workers as the descriptors
// carry, and the same rows.
TEST_F(ScanLanTest, ALowDescriptorLimitGivesTheSameRows) {
    ScanRun plain =
        RunScan({"--engine", "threads", "--threads", "15", "--timeout", "1000", kRange});
    ScanSetup setup;
    setup.nofile = "24";
    ScanRun low =
        RunScan({"--engine", "threads", "--threads", "1000", "--timeout", "1000", kRange}, setup);
    EXPECT_EQ(low.exitCode, 0) << low.errors;
    EXPECT_EQ(low.rows, plain.rows);
}

} // namespace
