// Recording scans off the caller's thread.

#include "core/inventory/sqlite/InventoryRecorder.h"
#include "core/scan/HostCells.h"
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
        row = RecordOfCells({address, "○", computer, "WG", mac, "", ""});
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

} // namespace
