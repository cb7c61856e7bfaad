// Recording scans off the caller's thread, and the inventory as the window
// shows and saves it: hostile names stay plain text.

#include "core/inventory/InventoryRecorder.h"
#include "core/inventory/InventoryReport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <sqlite3.h>

namespace {

RecordedScan ScanOf(std::vector<std::array<std::string, 3>> hosts) {
    RecordedScan scan;
    scan.startedMs = scan.endedMs = 1700000000000;
    scan.ranges = {{AddressFromText("127.0.0.1"), AddressFromText("127.0.0.9")}};
    for (const auto& [address, mac, computer] : hosts) {
        HostRecord row;
        row.cells = {address, "○", computer, "WG", mac, "", ""};
        scan.rows.push_back(row);
    }
    return scan;
}

class Outcomes {
public:
    InventoryRecorder::Done Sink() {
        return [this](const InventoryRecorder::Outcome& o) {
            std::lock_guard<std::mutex> hold(m_lock);
            m_outcomes.push_back(o);
            m_arrived.notify_all();
        };
    }
    std::vector<InventoryRecorder::Outcome> Taken() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_outcomes;
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_arrived.wait_for(hold, std::chrono::seconds(30),
                                  [&] { return m_outcomes.size() >= count; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<InventoryRecorder::Outcome> m_outcomes;
};

TEST(InventoryRecorder, NeverWaitsForABusyStoreAndWritesEverythingHandedOverBeforeItGoes) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    ASSERT_TRUE(InventoryStore::Open(path).store);
    // Another writer holds the store, as vopal-scan does while it records.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    Outcomes outcomes;
    {
        InventoryRecorder recorder(outcomes.Sink());
        // Record returns while the store is held: nothing has been written yet.
        recorder.Record(path, ScanOf({{{"127.0.0.1", "001122334401", "PC01"}}}));
        recorder.Record(path, ScanOf({{{"127.0.0.1", "001122334401", "PC09"}},
                                      {{"127.0.0.2", "001122334402", "PC02"}}}));
        recorder.Record(dir.file("no-such-dir/inventory.sqlite"), ScanOf({}));
        EXPECT_TRUE(outcomes.Taken().empty());
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        // Going away at once still writes all three, in order.
    }
    sqlite3_close(other);
    const std::vector<InventoryRecorder::Outcome> taken = outcomes.Taken();
    ASSERT_EQ(taken.size(), 3u);
    struct Expected {
        bool recorded;
        int appeared, gone, changed;
    } expected[] = {{true, 1, 0, 0}, {true, 1, 0, 1}, {false, 0, 0, 0}};
    for (std::size_t i = 0; i < taken.size(); ++i) {
        EXPECT_EQ(taken[i].scan >= 0, expected[i].recorded) << i;
        EXPECT_EQ(taken[i].error.empty(), expected[i].recorded) << i << taken[i].error;
        EXPECT_EQ((std::tuple{taken[i].counts.appeared, taken[i].counts.gone,
                              taken[i].counts.changed}),
                  (std::tuple{expected[i].appeared, expected[i].gone, expected[i].changed}))
            << i;
    }
    EXPECT_EQ(InventoryStore::Open(path).store->ScanCount(), 2);
}

TEST(InventoryRecorder, ADamagedStoreIsKeptAsideAndANewOneStarted) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    TempDir::WriteFile(path, std::string(4096, 'x'));
    Outcomes outcomes;
    InventoryRecorder recorder(outcomes.Sink());
    recorder.Record(path, ScanOf({{{"127.0.0.1", "001122334401", "PC01"}}}));
    ASSERT_TRUE(outcomes.WaitFor(1));
    const InventoryRecorder::Outcome outcome = outcomes.Taken().front();
    EXPECT_GE(outcome.scan, 0);
    ASSERT_FALSE(outcome.keptAside.empty());
    EXPECT_EQ(TempDir::ReadFile(outcome.keptAside), std::string(4096, 'x'));
    const std::string message = KeptAsideMessage(path, outcome.keptAside);
    EXPECT_NE(message.find(outcome.keptAside), std::string::npos);
}

Change Made(ChangeKind kind, const char* address, const char* identity, const char* before,
            const char* after) {
    return {kind, AddressFromText(address), identity, before, after, 1};
}

TEST(InventoryReport, ChangesBecomePlainCellsAndExportLinesThatNoSpreadsheetRuns) {
    const struct {
        Change change;
        const char* line; // the export line without its first-seen cell
        const char* text; // ChangeText
    } cases[] = {
        {Made(ChangeKind::New, "127.0.0.1", "mac:001122334401", "", ""),
         "新規,127.0.0.1,001122334401,-,-,", "新規"},
        {Made(ChangeKind::Renamed, "127.0.0.2", "mac:001122334402", "=cmd/WG", "A,B/WG"),
         "名前変更,127.0.0.2,001122334402,'=cmd/WG,\"A,B/WG\",", "名前変更 =cmd/WG→A,B/WG"},
        {Made(ChangeKind::Gone, "127.0.0.3", "name:@SUM(1)/\"Q\"", "PC\r\n03/WG", ""),
         "消失,127.0.0.3,\"'@SUM(1)/\"\"Q\"\"\",PC..03/WG,-,", "消失 PC..03/WG"},
        {Made(ChangeKind::Moved, "127.0.0.4", "mac:001122334404", "127.0.0.9", "127.0.0.4"),
         "移動,127.0.0.4,001122334404,127.0.0.9,127.0.0.4,", "移動 127.0.0.9→127.0.0.4"},
    };
    std::vector<ReportedChange> changes;
    for (const auto& c : cases) {
        changes.push_back({c.change, 1700000000000});
        EXPECT_EQ(ChangeText(c.change), c.text);
    }
    const std::string text = FormatChangesText(ChangeRows(changes));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    ASSERT_EQ(lines.size(), std::size(cases) + 1) << text;
    EXPECT_EQ(lines[0], "種類,アドレス,識別,変更前,変更後,初回");
    const std::string firstSeen = LocalDateTimeText(1700000000000);
    EXPECT_EQ(firstSeen.size(), 19u);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(lines[i + 1], cases[i].line + firstSeen);
    // Nothing but the line ends breaks a line.
    std::size_t breaks = 0;
    for (char c : text)
        breaks += c == '\n';
    EXPECT_EQ(breaks, lines.size());
}

TEST(InventoryReport, AHostsTimelineShowsEachScanAndADepartureAsGone) {
    HostHistory history;
    history.identity = "mac:001122334401";
    HistoryEntry seen;
    seen.startedMs = 1700000000000;
    seen.row.cells = {"127.0.0.1", "○", "PC\x1b" "01", "WG", "001122334401", "v", "M1/M2"};
    seen.changes = {Made(ChangeKind::New, "127.0.0.1", "mac:001122334401", "", ""),
                    Made(ChangeKind::Renamed, "127.0.0.1", "mac:001122334401", "A/WG", "B/WG")};
    HistoryEntry gone;
    gone.startedMs = 1700000000000;
    gone.seen = false;
    gone.row.cells[HostRecord::kAddress] = "127.0.0.1";
    gone.changes = {Made(ChangeKind::Gone, "127.0.0.1", "mac:001122334401", "PC01/WG", "")};
    history.entries = {seen, gone};
    const std::string when = LocalDateTimeText(1700000000000);
    EXPECT_EQ(HistoryRows(history),
              (std::vector<HistoryRow>{
                  {when, "127.0.0.1", "○", "PC.01", "WG", "001122334401", "v", "M1/M2",
                   "新規、名前変更 A/WG→B/WG"},
                  {when, "127.0.0.1", "消失", "", "", "", "", "", "消失 PC01/WG"}}));
}

} // namespace
