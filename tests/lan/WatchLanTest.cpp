// Watching the test LAN: a host leaves and comes back while a webhook
// receiver (a real HTTP server in the client namespace) is up, then away,
// then up again. The baseline tells nothing, the departure is told once,
// the return waits in the inventory while the receiver is away (the
// command still runs) and is delivered, once, by the next run.

#include "core/inventory/sqlite/InventoryStore.h"
#include "platform/win32/IcmpEcho.h"
#include "tests/lan/LanTest.h"
#include "tests/lan/ScanRun.h"
#include "tests/support/HttpReceiver.h"
#include "tests/support/JsonLinesValidator.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <sqlite3.h>
#include <filesystem>

namespace {

using Role = TestLanHost::Role;
using Json = nlohmann::json;

const char* const kRange = "198.18.0.2-198.18.0.40";

class WatchLanTest : public LanTest {};

// The kinds and addresses of a notice's changes, "kind address" each.
std::vector<std::string> Told(const Json& notice) {
    std::vector<std::string> told;
    for (const Json& change : notice["changes"])
        told.push_back(change["kind"].get<std::string>() + " " +
                       change["address"].get<std::string>());
    return told;
}

TEST_F(WatchLanTest, ADepartureAndAReturnAreEachToldOnceAlsoWhenTheReceiverWasAway) {
    TempDir dir;
    const std::string database = dir.file("inventory.sqlite");
    HttpReceiver::Options where;
    where.bindAddress = lan().client().address;
    HttpReceiver receiver(where);
    ASSERT_TRUE(receiver.Start()) << receiver.Error();
    const std::string url = receiver.Url("/lan");
    // The command keeps what it was given, per scan, and says something.
    const std::string hook = "cat > " + dir.file("hook.") + "$VOPAL_SCAN_ID; " +
                             "echo \"hook saw scan $VOPAL_SCAN_ID\" >&2; exit 5";
    auto scan = [&] {
        return RunScan({"--db", database, "--changes", "--notify", url, "--on-change", hook,
                        "--timeout", "1000", kRange});
    };
    auto hookInput = [&](const Json& notice) {
        return TempDir::ReadFile(dir.file("hook.") + std::to_string(notice["scan"]["id"].get<int>()));
    };

    const ScanRun baseline = scan();
    EXPECT_EQ(baseline.exitCode, 3) << baseline.errors; // every host is new
    EXPECT_TRUE(receiver.Requests().empty()) << "the baseline notifies nothing";
    EXPECT_FALSE(std::filesystem::exists(dir.file("hook.1")));

    const std::vector<TestLanHost> nmbd = lan().WithRole(Role::Nmbd);
    ASSERT_GE(nmbd.size(), 2u);
    const TestLanHost& leaving = nmbd[1];
    ASSERT_EQ(ChangeLan("unplug " + leaving.address), 0);
    ASSERT_EQ(std::system(("ip -4 neigh flush to " + leaving.address + " >/dev/null 2>&1").c_str()),
              0);
    const ScanRun missedOnce = scan();
    EXPECT_EQ(missedOnce.exitCode, 0) << missedOnce.output;
    EXPECT_TRUE(receiver.Requests().empty());
    const ScanRun missedTwice = scan();
    EXPECT_EQ(missedTwice.exitCode, 3) << missedTwice.errors;

    std::vector<HttpReceiver::Request> requests = receiver.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const HttpReceiver::Request& gone = requests[0];
    EXPECT_EQ(gone.method, "POST");
    EXPECT_EQ(gone.path, "/lan");
    EXPECT_EQ(gone.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(JsonLinesValidator::NoticeProblems(gone.body), "");
    const Json goneNotice = Json::parse(gone.body);
    EXPECT_EQ(Told(goneNotice), std::vector<std::string>{"gone " + leaving.address});
    EXPECT_EQ(goneNotice["title"], "消失 1");
    const std::string store = goneNotice["scan"]["store"];
    EXPECT_EQ(gone.Header("Idempotency-Key"),
              store + "-" + std::to_string(goneNotice["scan"]["id"].get<int>()));
    EXPECT_EQ(hookInput(goneNotice), gone.body) << "the command gets the same notice";

    // The receiver is away while the host comes back: the notice waits, the
    // command runs all the same, and the exit status is the scan's.
    receiver.Stop();
    ASSERT_EQ(ChangeLan("plug " + leaving.address), 0);
    // Its link takes a moment to carry again.
    IcmpEchoService echo;
    bool answers = false;
    for (int i = 0; i < 40 && !answers; ++i)
        answers = echo.Echo(leaving.address, 250);
    ASSERT_TRUE(answers) << leaving.address << " did not come back";
    const ScanRun back = scan();
    EXPECT_EQ(back.exitCode, 3) << back.errors;
    EXPECT_NE(back.errors.find("not delivered"), std::string::npos) << back.errors;
    EXPECT_NE(back.errors.find("sent again by the next run"), std::string::npos) << back.errors;
    EXPECT_EQ(back.errors.find(url), std::string::npos) << "the address's path may be a secret";

    ASSERT_TRUE(receiver.Start()) << receiver.Error();
    const ScanRun quiet = scan();
    EXPECT_EQ(quiet.exitCode, 0) << quiet.output << quiet.errors;
    EXPECT_EQ(quiet.errors, "");
    requests = receiver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(JsonLinesValidator::NoticeProblems(requests[1].body), "");
    const Json returned = Json::parse(requests[1].body);
    EXPECT_EQ(Told(returned), std::vector<std::string>{"returned " + leaving.address});
    EXPECT_EQ(returned["scan"]["store"], store);
    EXPECT_EQ(hookInput(returned), requests[1].body);

    const ScanRun after = scan();
    EXPECT_EQ(after.exitCode, 0) << after.errors;
    EXPECT_EQ(receiver.Requests().size(), 2u) << "a delivered notice is never sent again";

    // The run log beside the inventory: what was sent, what failed, what
    // the command said and how it ended.
    const std::string log = TempDir::ReadFile(dir.file("vopal-scan.log"));
    for (const std::string& line :
         {std::string("the first scan of this inventory (baseline)"),
          "hook saw scan " + std::to_string(goneNotice["scan"]["id"].get<int>()),
          std::string("on-change command ended with exit status 5"),
          std::string("not delivered (")})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    const InventoryStore::Opened opened = InventoryStore::Open(database);
    ASSERT_TRUE(opened.store) << opened.error;
    EXPECT_TRUE(opened.store->Outbox().Waiting().empty());
}

} // namespace

namespace {

// What the timer's service runs: the watch file's ranges and receiver, its
// changes printed but not the rows, and nothing at all before the file's
// interval has passed since the last scan.
TEST_F(WatchLanTest, AWatchFileScansOnlyWhenItsIntervalHasPassed) {
    TempDir dir;
    HttpReceiver::Options where;
    where.bindAddress = lan().client().address;
    HttpReceiver receiver(where);
    ASSERT_TRUE(receiver.Start()) << receiver.Error();
    const std::string database = dir.file("watched.sqlite");
    const std::string file = dir.file("watch.conf");
    auto watchEvery = [&](const std::string& interval) {
        TempDir::WriteFile(file, "[watch]\nranges = " + std::string(kRange) +
                                     "\ninterval = " + interval + "\nnotify = " +
                                     receiver.Url("/w") + "\ndatabase = " + database + "\n");
        return RunScan({"--watch", file, "--timeout", "1000"});
    };
    const ScanRun first = watchEvery("1h");
    EXPECT_EQ(first.exitCode, 3) << first.errors;
    EXPECT_EQ(first.output.find("IPアドレス"), std::string::npos) << "no rows: " << first.output;
    EXPECT_NE(first.output.find("新規"), std::string::npos) << first.output;
    const ScanRun early = watchEvery("1h");
    EXPECT_EQ(early.exitCode, 0) << early.errors;
    EXPECT_EQ(early.output, "");
    InventoryStore::Opened opened = InventoryStore::Open(database);
    ASSERT_TRUE(opened.store) << opened.error;
    EXPECT_EQ(opened.store->ScanCount(), 1) << "not due: nothing scanned";

    // A scan later than its interval (here the least there is) is due.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE scans SET started_ms = started_ms - 60000", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const ScanRun due = watchEvery("1min");
    EXPECT_EQ(due.exitCode, 0) << due.errors;
    EXPECT_EQ(opened.store->ScanCount(), 2);
    EXPECT_TRUE(receiver.Requests().empty()) << "nothing changed, nothing sent";

    // A file that is no watch file is a usage error that names the line.
    TempDir::WriteFile(file, "[watch]\nranges = 198.18.0.2-40\nintervall = 1h\n");
    const ScanRun bad = RunScan({"--watch", file});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.errors.find("line 3"), std::string::npos) << bad.errors;
}

} // namespace
