// Whole scans of the test LAN with vopal-scan, from inside the client
// namespace: the rows must be exactly what the LAN's layout implies.

#include "core/inventory/sqlite/InventoryStore.h"
#include "tests/lan/LanTest.h"
#include "tests/lan/ScanRun.h"
#include "tests/lan/TestLanTruth.h"
#include "tests/support/JsonLinesValidator.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using Role = TestLanHost::Role;
using Row = ScanRow;

// The scanned range: the whole LAN but the client itself.
const char* const kRangeStart = "198.18.0.2";
const char* const kRangeEnd = "198.18.0.40";
const char* const kRange = "198.18.0.2-198.18.0.40";

class ScanLanTest : public LanTest {};

// Both engines: the event-driven one (vopal-scan's default) and the thread
// per probe one give exactly the rows the LAN's layout implies.
const char* const kEngines[] = {"fast", "threads"};

TEST_F(ScanLanTest, ScanGivesExactlyTheAnsweringHostsWithTheirNameTables) {
    std::map<std::string, Row> expected;
    const AddressRange range{AddressFromText(kRangeStart), AddressFromText(kRangeEnd)};
    for (const HostRecord& row : TestLanTruth(lan()).Rows(range, false))
        expected[CellOf(row, HostRecord::kAddress)] = TestLanTruth::Printed(row);
    ASSERT_EQ(expected.size(),
              lan().WithRole(Role::Nmbd).size() + lan().WithRole(Role::PingOnly).size());
    ASSERT_GE(expected.size(), 6u);
    for (const char* engine : kEngines) {
        SCOPED_TRACE(engine);
        // The event-driven engine also gives a host without names the MAC of
        // its neighbour entry.
        std::map<std::string, Row> wanted = expected;
        if (std::string(engine) == "fast") {
            for (const TestLanHost& host : lan().WithRole(Role::PingOnly)) {
                wanted[host.address][HostRecord::kMac] = host.MacHex();
                wanted[host.address][HostRecord::kVendor] = "不明";
            }
        }
        ScanRun run = RunScan({"--engine", engine, "--threads", "15", "--timeout", "1000", kRange});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(RowDifferences(run.rows, wanted), "") << run.output;
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
// once, in either engine. The waits under way are cut short: those addresses
// had no answer, so their rows are silent and go unless they are kept.
TEST_F(ScanLanTest, AStopEndsAScanAtOnceWhateverTheStoredTimeOut) {
    const struct {
        int signal;
        const char* engine;
        bool keepSilent;
        const char* range;
    } runs[] = {{SIGINT, "threads", true, "198.18.0.100-198.18.0.254"},
                {SIGTERM, "threads", false, "198.18.0.180-198.18.0.254"},
                {SIGINT, "fast", true, "198.18.0.100-198.18.0.254"},
                {SIGTERM, "fast", false, "198.18.0.180-198.18.0.254"}};
    for (const auto& r : runs) {
        SCOPED_TRACE(std::string(strsignal(r.signal)) + " " + r.engine +
                     (r.keepSilent ? " --keep-silent" : ""));
        ScanSetup setup;
        setup.store = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRELLOW\\KestruneDurvane]\n"
                      "\"PingTimeout\"=dword:7fffffff\n";
        setup.interruptAfter = std::chrono::milliseconds(1500);
        setup.signals = {r.signal};
        std::vector<std::string> args = {"--engine", r.engine, "--threads", "3", r.range};
        if (r.keepSilent)
            args.insert(args.begin(), "--keep-silent");
        ScanRun run = RunScan(args, setup);
        const auto tookMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(run.stopTook).count();
        std::printf("stopped after the signal in %lld ms\n", static_cast<long long>(tookMs));
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        EXPECT_LT(tookMs, 2000);
        if (r.keepSilent) {
            ASSERT_GE(run.order.size(), 1u);
        }
        if (std::string(r.engine) == "threads") { // the first addresses only were dispatched
            EXPECT_LE(run.order.size(), 16u);
        }
        int silent = 0;
        for (const auto& [address, row] : run.rows) {
            EXPECT_TRUE(row[1] == "○" || row[1] == "×") << address << " has no mark";
            silent += row[1] == "×";
        }
        if (r.keepSilent)
            EXPECT_GE(silent, 1) << run.output;
        else
            EXPECT_EQ(silent, 0) << run.output;
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

// With --db, each scan goes into the inventory: its answering rows, and the
// hosts by their identity, once each however often they are seen.
TEST_F(ScanLanTest, ScansAreRecordedInTheInventoryWhenADatabaseIsGiven) {
    TempDir dir;
    const std::string database = dir.file("inventory.sqlite");
    for (int i = 0; i < 2; ++i) {
        ScanRun run = RunScan({"--db", database, "--timeout", "1000", kRange});
        ASSERT_EQ(run.exitCode, 0) << run.errors;
    }
    InventoryStore::Opened opened = InventoryStore::Open(database);
    ASSERT_TRUE(opened.store) << opened.error;
    const std::int64_t answering =
        lan().WithRole(Role::Nmbd).size() + lan().WithRole(Role::PingOnly).size();
    EXPECT_EQ(opened.store->ScanCount(), 2);
    EXPECT_EQ(opened.store->SightingCount(), 2 * answering);
}

// A host is not new or gone because one answer was lost: with node status
// blocked at one host and everything but ARP at another, for two scans, the
// default scan still finds both as the hosts they were (their MACs from the
// neighbour table), and neither is told changed, before or after.
TEST_F(ScanLanTest, HostsThatAnswerLessAreStillTheHostsTheyWere) {
    TempDir dir;
    const std::string database = dir.file("inventory.sqlite");
    const std::vector<TestLanHost> nmbd = lan().WithRole(Role::Nmbd);
    ASSERT_GE(nmbd.size(), 4u);
    const TestLanHost& noNames = nmbd[2];
    const TestLanHost& arpOnly = nmbd[3];
    auto scan = [&] { return RunScan({"--db", database, "--changes", "--format", "json", kRange}); };
    // The line of `type` ("row" or "change") about the host, if any.
    auto lineOf = [](const ScanRun& run, const char* type, const TestLanHost& host) {
        std::size_t at = 0;
        while (at < run.output.size()) {
            const std::size_t end = std::min(run.output.find('\n', at), run.output.size());
            const std::string line = run.output.substr(at, end - at);
            if (line.find(std::string("\"type\":\"") + type + "\"") != std::string::npos &&
                line.find("\"address\":\"" + host.address + "\"") != std::string::npos)
                return line;
            at = end + 1;
        }
        return std::string();
    };
    const ScanRun first = scan();
    ASSERT_EQ(first.exitCode, 3) << first.errors; // every host is new
    ASSERT_EQ(ChangeLan("block " + noNames.address + " nbstat"), 0);
    ASSERT_EQ(ChangeLan("block " + arpOnly.address + " ip"), 0);
    std::vector<ScanRun> runs;
    for (int i = 0; i < 2; ++i)
        runs.push_back(scan());
    ASSERT_EQ(ChangeLan("block " + noNames.address + " none"), 0);
    ASSERT_EQ(ChangeLan("block " + arpOnly.address + " none"), 0);
    runs.push_back(scan());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE("scan " + std::to_string(i + 2));
        const ScanRun& run = runs[i];
        EXPECT_EQ(run.exitCode, 0) << run.output << run.errors;
        EXPECT_EQ(JsonLinesValidator::VopalScanProblems(run.output), "");
        // Both are there, with the MAC that identifies them, and unchanged.
        for (const TestLanHost* host : {&noNames, &arpOnly}) {
            SCOPED_TRACE(host->address);
            const std::string row = lineOf(run, "row", *host);
            EXPECT_NE(row.find("\"mac\":\"" + host->MacHex() + "\""), std::string::npos) << run.output;
            EXPECT_NE(row.find("\"present\":true"), std::string::npos) << run.output;
            EXPECT_EQ(lineOf(run, "change", *host), "");
        }
    }
}

// Between scans one host is renamed and another leaves the LAN: the next scan
// tells the rename, the departure waits for the second scan without the host,
// and a scan that finds the LAN as before tells nothing (exit status 0).
TEST_F(ScanLanTest, TheInventoryTellsARenameAtOnceAndADepartureAfterTwoScans) {
    TempDir dir;
    const std::string database = dir.file("inventory.sqlite");
    const std::vector<TestLanHost> nmbd = lan().WithRole(Role::Nmbd);
    ASSERT_GE(nmbd.size(), 2u);
    const TestLanHost& renamed = nmbd[0];
    const TestLanHost& leaving = nmbd[1];
    auto scan = [&] {
        return RunScan({"--db", database, "--changes", "--timeout", "1000", kRange});
    };
    const ScanRun first = scan();
    EXPECT_EQ(first.exitCode, 3) << first.errors; // every host is new

    ASSERT_EQ(ChangeLan("rename " + renamed.address + " KDRENAMED"), 0);
    ASSERT_EQ(ChangeLan("unplug " + leaving.address), 0);
    // The default engine counts a neighbour entry the kernel confirmed within
    // its reachable time (about half a minute) as a sign of the host; the
    // entry of a host that left a moment ago goes as if that time had passed.
    ASSERT_EQ(std::system(("ip -4 neigh flush to " + leaving.address + " >/dev/null 2>&1").c_str()),
              0);
    std::vector<ScanRun> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(scan());
    EXPECT_EQ(runs[0].exitCode, 3) << runs[0].errors;
    EXPECT_NE(runs[0].output.find("名前変更"), std::string::npos) << runs[0].output;
    EXPECT_EQ(runs[1].exitCode, 3) << runs[1].errors;
    EXPECT_EQ(runs[2].exitCode, 0) << runs[2].output;

    InventoryStore::Opened opened = InventoryStore::Open(database);
    ASSERT_TRUE(opened.store) << opened.error;
    auto told = [&](std::int64_t scan) {
        std::vector<std::string> kinds;
        for (const ReportedChange& reported : opened.store->ChangesOf(scan))
            kinds.push_back(std::string(ChangeKindText(reported.change.kind)) + " " +
                            AddressToText(reported.change.address) + " " +
                            reported.change.before + ">" + reported.change.after);
        return kinds;
    };
    // The names as the first scan found them.
    auto names = [&](const TestLanHost& host) {
        const Row& row = first.rows.at(host.address);
        return row[2] + "/" + row[3];
    };
    const std::string was = names(renamed);
    EXPECT_EQ(told(2), (std::vector<std::string>{"名前変更 " + renamed.address + " " + was +
                                                 ">KDRENAMED/" + renamed.workgroup}));
    EXPECT_EQ(told(3),
              (std::vector<std::string>{"消失 " + leaving.address + " " + names(leaving) + ">"}));
    EXPECT_TRUE(told(4).empty());

    // The host that left: seen once, then told gone; CSV with a title line.
    const ScanRun history = RunScan({"--db", database, "--history", leaving.address, "--format",
                                     "csv"});
    EXPECT_EQ(history.exitCode, 0) << history.errors;
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = history.output.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        lines.push_back(history.output.substr(start, end - start));
    ASSERT_EQ(lines.size(), 3u) << history.output;
    EXPECT_NE(lines[1].find(leaving.address + ",○," + first.rows.at(leaving.address)[2]),
              std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(leaving.address + ",消失,-,-,-,-,-,消失"), std::string::npos) << lines[2];
    // Neither an address nor a MAC is a usage error; a host never seen, an error.
    EXPECT_EQ(RunScan({"--db", database, "--history", "PC01"}).exitCode, 2);
    EXPECT_EQ(RunScan({"--db", database, "--history", "02:00:00:00:00:99"}).exitCode, 1);
}

} // namespace

