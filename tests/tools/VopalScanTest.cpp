// vopal-scan as a program: its exit status when the output cannot be written,
// the hosts --history accepts, its JSON Lines checked against the schema, the
// table it prints on a terminal and the options it tells it ignores. No test
// here scans an address: the scans walk an empty list file.

#include "core/commands/HostTable.h"
#include "core/inventory/sqlite/InventoryStore.h"
#include "core/scan/HostCells.h"
#include "core/ranges/AddressRange.h"
#include "core/inventory/postgres/PgInventory.h"
#include "platform/postgres/PgConnection.h"
#include "tests/support/JsonLinesValidator.h"
#include "tests/support/PgCluster.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tools/VopalScanArguments.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Ran {
    int exitCode = -1;
    std::string output; // standard output, when it went to a file
    std::string errors;
};

// The path that stands for a pseudo terminal as RunVopalScan's output.
const std::string kTerminal = "(terminal)";

// Runs vopal-scan with standard output going to `outputPath` (a file of the
// test's own directory when empty; a pseudo terminal, raw so that the bytes
// arrive as written, for kTerminal) and settings and data in that directory.
Ran RunVopalScan(const TempDir& dir, const std::vector<std::string>& args,
                 const std::string& outputPath = {}) {
    const bool terminal = outputPath == kTerminal;
    const std::string out = outputPath.empty() ? dir.file("stdout") : outputPath;
    const std::string err = dir.file("stderr");
    std::vector<std::string> argv = {KD_VOPAL_SCAN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string config = dir.file("config"), data = dir.file("data");
    termios raw{};
    cfmakeraw(&raw);
    int master = -1;
    const pid_t pid = terminal ? forkpty(&master, nullptr, &raw, nullptr) : fork();
    if (pid == 0) {
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        const int o = terminal ? STDOUT_FILENO
                               : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (o < 0 || e < 0 || dup2(o, STDOUT_FILENO) < 0 || dup2(e, STDERR_FILENO) < 0)
            _exit(127);
        std::vector<char*> pointers;
        for (std::string& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    Ran ran;
    // The terminal is read until its other end closes (EIO).
    char buffer[4096];
    for (ssize_t n = 0; master >= 0 && ((n = read(master, buffer, sizeof buffer)) > 0 ||
                                        (n < 0 && errno == EINTR));)
        ran.output.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (master >= 0)
        close(master);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        ran.exitCode = WEXITSTATUS(status);
    if (outputPath.empty())
        ran.output = TempDir::ReadFile(out);
    ran.errors = TempDir::ReadFile(err);
    return ran;
}

const std::string kCsvTitleLine =
    "IPアドレス,応答,コンピュータ名,ドメイン名,MACアドレス,NICベンダー名,メッセンジャ\r\n";

HostRecord Answered(const char* address, const std::string& name, const char* mac) {
    HostRecord row;
    row = RecordOfCells({address, HostRecord::kAnswered, name, "WG,\"=1\"", mac, "v", name + "/M"});
    row.reasons = HostRecord::kReasonEcho;
    return row;
}

// A store with two scans of one host whose names are hostile, the second
// renaming it.
std::string HostileStore(const TempDir& dir) {
    const std::string path = dir.file("inventory.sqlite");
    InventoryStore::Opened opened = InventoryStore::Open(path);
    EXPECT_TRUE(opened.store) << opened.error;
    if (!opened.store)
        return path;
    for (const std::string& name :
         {std::string("PC\"\\\x01\x1b[2J"), std::string("=cmd,\xff\xc3")}) {
        RecordedScan scan;
        scan.startedMs = 1700000000000;
        scan.endedMs = scan.startedMs + 1000;
        scan.ranges = {{AddressFromText("198.18.0.1"), AddressFromText("198.18.0.254")}};
        scan.rows = {Answered("198.18.0.5", name, "001122334405")};
        std::string error;
        EXPECT_GT(opened.store->Record(scan, error), 0) << error;
    }
    return path;
}

TEST(VopalScan, TheTimelineAsJsonLinesKeepsToTheSchema) {
    TempDir dir;
    const std::string store = HostileStore(dir);
    for (const char* host : {"198.18.0.5", "00:11:22:33:44:05", "0011.2233.4405"}) {
        const Ran ran = RunVopalScan(dir, {"--db", store, "--history", host, "--format", "json"});
        EXPECT_EQ(ran.exitCode, 0) << ran.errors;
        EXPECT_EQ(std::count(ran.output.begin(), ran.output.end(), '\n'), 2) << ran.output;
        EXPECT_NE(ran.output.find(R"("changes":["renamed"])"), std::string::npos) << ran.output;
        EXPECT_EQ(JsonLinesValidator::VopalScanProblems(ran.output), "") << ran.output;
    }
}

TEST(VopalScan, HistoryTakesOnlyAStrictAddressOrAMac) {
    TempDir dir;
    const std::string store = HostileStore(dir);
    const struct {
        const char* host;
        int exitCode;
    } cases[] = {
        {"198.18.0.5", 0},       {"001122334405", 0}, {"198.18.0.6", 1}, // well formed, never seen
        {"198.18.0.05", 2}, // inet_addr would take it as .5
        {"3321888773", 2},  // 198.18.0.5 as one number
        {"198.18.5", 2},    // and as three
        {"0x11.22.33.44.05", 2},
    };
    for (const auto& c : cases) {
        const Ran ran = RunVopalScan(dir, {"--db", store, "--history", c.host});
        EXPECT_EQ(ran.exitCode, c.exitCode) << c.host << ": " << ran.errors;
        if (c.exitCode == 2) {
            EXPECT_NE(ran.errors.find(c.host), std::string::npos) << ran.errors;
        }
    }
}

// What could not be written is no success: exit 1 and a message, in every
// format, for the timeline and for a scan's rows and changes.
TEST(VopalScan, OutputThatCannotBeWrittenIsAnError) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const std::string store = HostileStore(dir);
    const std::string list = dir.file("empty.txt");
    TempDir::WriteFile(list, "");
    // With an empty list nothing is sent; the scan still prints its title
    // line, and with --changes what changed.
    std::vector<std::vector<std::string>> commands;
    for (const char* format : {"text", "csv", "json"}) {
        commands.push_back({"--db", store, "--history", "198.18.0.5", "--format", format});
        commands.push_back({"--list", list, "--format", format});
        commands.push_back(
            {"--list", list, "--db", dir.file("scans.sqlite"), "--changes", "--format", format});
    }
    for (const auto& args : commands) {
        std::string shown;
        for (const std::string& arg : args)
            shown += arg + " ";
        const Ran written = RunVopalScan(dir, args);
        EXPECT_EQ(written.exitCode, 0) << shown << written.errors;
        // JSON of an empty scan is no line at all: nothing to lose.
        const bool nothing = args.back() == std::string("json") && args[0] == "--list";
        EXPECT_EQ(written.output.empty(), nothing) << shown << written.output;
        const Ran full = RunVopalScan(dir, args, "/dev/full");
        EXPECT_EQ(full.exitCode, nothing ? 0 : 1) << shown << full.errors;
        EXPECT_EQ(full.errors.find("cannot write the output: No space left on device") !=
                      std::string::npos,
                  !nothing)
            << shown << full.errors;
    }
}

// Scans of an empty list: a person at a terminal gets the table; a pipe, a
// file, or any --format, the output as before, byte for byte. An option the
// engine does not use is told, one line each, and the scan runs on.
TEST(VopalScan, TheTableOnATerminalAndTheOptionsTheEngineIgnores) {
    TempDir dir;
    const std::string list = dir.file("empty.txt");
    TempDir::WriteFile(list, "");
    const std::string fastOnly = " is ignored: only --engine threads uses it\n";
    const std::string threadsOnly = " is ignored: the threads engine does not use it\n";
    const std::string nodeStatus = " is ignored: the threads engine asks NetBIOS node status only\n";
    const struct {
        std::string output; // kTerminal, or a file
        std::vector<std::string> args;
        std::string printed, errors;
    } cases[] = {
        {kTerminal, {}, FormatHostTable({}), ""},
        {kTerminal, {"--format", "csv"}, kCsvTitleLine, ""},
        {kTerminal, {"--format", "text"}, kCsvTitleLine, ""},
        {kTerminal, {"--format", "json"}, "", ""},
        {"", {}, kCsvTitleLine, ""},
        {"", {"--threads", "5", "--safe-mode"},
         kCsvTitleLine, "vopal-scan: --threads" + fastOnly + "vopal-scan: --safe-mode" + fastOnly},
        {"", {"--engine", "fast", "--rate", "10", "--names", "netbios", "-n"}, kCsvTitleLine, ""},
        {"", {"--engine", "threads", "--threads", "3", "--safe-mode"}, kCsvTitleLine, ""},
        {"", {"--engine", "threads", "--rate", "10", "--max-rate", "20", "--names", "all", "-n"},
         kCsvTitleLine, "vopal-scan: --rate" + threadsOnly + "vopal-scan: --max-rate" +
                            threadsOnly + "vopal-scan: --names" + nodeStatus + "vopal-scan: -n" +
                            nodeStatus},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--list", list};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Ran ran = RunVopalScan(dir, args, c.output);
        const std::string shown = c.output + (c.args.empty() ? "" : c.args[1]);
        EXPECT_EQ(ran.exitCode, 0) << shown << ": " << ran.errors;
        EXPECT_EQ(ran.output, c.printed) << shown;
        EXPECT_EQ(ran.errors, c.errors) << shown;
    }
}

TEST(VopalScanArguments, NamesChoosesTheSourcesAndNTurnsDnsOff) {
    constexpr unsigned kNetbios = 1, kMdns = 2, kLlmnr = 4, kDns = 8;
    const struct {
        std::vector<std::string> args;
        unsigned sources;  // 0: a usage error
        std::string error; // a part of its message
    } cases[] = {
        {{}, kNetbios | kMdns | kLlmnr | kDns, ""},
        {{"--names", "NetBIOS,DNS,dns"}, kNetbios | kDns, ""},
        {{"--names", "all", "-n"}, kNetbios | kMdns | kLlmnr, ""},
        {{"-n", "--names", "netbios,dns,llmnr"}, kNetbios | kLlmnr, ""},
        {{"--names", "mdns,dns"}, 0, "--names must include netbios"},
        {{"--names", "netbios,wins"}, 0, "no source \"wins\""},
        {{"--names", "netbios,"}, 0, "an empty source"},
        {{"--names"}, 0, "--names needs a list"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"vopal-scan"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        Options options;
        testing::internal::CaptureStderr();
        const int result = ParseArguments(static_cast<int>(argv.size()), argv.data(), options);
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, c.sources ? -1 : kExitUsage) << args.back() << ": " << errors;
        EXPECT_EQ(c.sources ? NameSourcesOf(options) : 0, c.sources) << args.back();
        EXPECT_NE(errors.find(c.error), std::string::npos) << args.back() << ": " << errors;
    }
}

} // namespace

namespace {

std::int64_t ScansOnServer(const PgCluster& cluster) {
    std::string error;
    std::unique_ptr<PgConnection> db = PgConnection::Open(cluster.Uri("inventory"), error);
    return db ? db->Exec("SELECT count(*) FROM scans").Int64(0, 0).value_or(-1) : -1;
}

// With a server, scans go there; while it is away they wait in the site's
// own inventory, and the next run that reaches it delivers them first, once.
TEST(VopalScan, ScansWaitAtTheSiteWhileTheServerIsAway) {
    const ScopedEnv noPassFile("PGPASSFILE", "/nonexistent/kd-pgpass");
    PgCluster cluster;
    KD_START_PG_CLUSTER(cluster);
    ASSERT_TRUE(cluster.CreateDatabase("inventory")) << cluster.Error();
    TempDir dir;
    const std::string list = dir.file("empty.txt");
    TempDir::WriteFile(list, "");
    const std::string uri = cluster.Uri("inventory");
    const std::vector<std::string> args = {"--list", list, "--db", uri, "--site", "north",
                                           "--changes"};
    // The site's own inventory: the service's state directory when it has one.
    const ScopedEnv state("STATE_DIRECTORY", dir.path());
    const std::string local = dir.file("inventory.sqlite");
    auto waiting = [&] {
        InventoryStore::Opened opened = InventoryStore::Open(local);
        return opened.store ? opened.store->ScansWaitingFor(PgServerKey(uri)).size() : 0u;
    };

    Ran ran = RunVopalScan(dir, args);
    EXPECT_EQ(ran.exitCode, 0) << ran.errors;
    EXPECT_EQ(ScansOnServer(cluster), 1);

    ASSERT_TRUE(cluster.Stop());
    for (int run = 1; run <= 2; ++run) {
        ran = RunVopalScan(dir, args);
        EXPECT_EQ(ran.exitCode, 0) << ran.errors;
        EXPECT_NE(ran.errors.find("waits there until a run reaches the server"), std::string::npos)
            << ran.errors;
        EXPECT_EQ(waiting(), static_cast<std::size_t>(run)) << ran.errors;
    }

    ASSERT_TRUE(cluster.Start()) << cluster.Error();
    ran = RunVopalScan(dir, args);
    EXPECT_EQ(ran.exitCode, 0) << ran.errors;
    EXPECT_NE(ran.errors.find("2 scan(s) that waited"), std::string::npos) << ran.errors;
    EXPECT_EQ(ScansOnServer(cluster), 4);
    EXPECT_EQ(waiting(), 0u);
    ran = RunVopalScan(dir, args);
    EXPECT_EQ(ran.errors, "");
    EXPECT_EQ(ScansOnServer(cluster), 5);

    // Receivers wait in a file, not on a server.
    ran = RunVopalScan(dir, {"--list", list, "--db", uri, "--notify", "http://127.0.0.1:9/"});
    EXPECT_EQ(ran.exitCode, 2) << ran.errors;
}

} // namespace
