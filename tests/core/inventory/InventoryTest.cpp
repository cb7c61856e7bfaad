// The memory of past scans: which identity a row gets, and the store that
// keeps every scan, with writers at once and files that are not ours.

#include "core/inventory/HostIdentity.h"
#include "core/inventory/InventoryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <thread>

namespace {

HostRecord Row(const std::string& address, const std::string& mac = "",
               const std::string& computer = "", const std::string& domain = "") {
    HostRecord row;
    row.cells = {address, "○", computer, domain, mac, "", ""};
    return row;
}

TEST(HostIdentity, AUsableMacFirstThenTheNameThenTheAddress) {
    const struct {
        HostRecord row;
        std::string key;
        bool randomised;
    } cases[] = {
        {Row("10.0.0.1", "00A0C9010203", "PC01", "WG"), "mac:00A0C9010203", false},
        {Row("10.0.0.1", "00a0c9010203"), "mac:00A0C9010203", false},
        {Row("10.0.0.1", "024B4400000A", "PC01", "WG"), "mac:024B4400000A", true}, // local
        {Row("10.0.0.1", "000000000000", "PC01", "WG"), "name:PC01/WG", false},    // Samba's zeros
        {Row("10.0.0.1", "FFFFFFFFFFFF", "PC01", "WG"), "name:PC01/WG", false},    // broadcast
        {Row("10.0.0.1", "01005E000001", "PC01", ""), "name:PC01/", false},        // multicast
        {Row("10.0.0.1", "00A0C90102", "PC01", "WG"), "name:PC01/WG", false},      // too short
        {Row("10.0.0.1", "00A0C901020G"), "ip:10.0.0.1", false},                   // not hex
        {Row("10.0.0.7"), "ip:10.0.0.7", false},
    };
    for (const auto& c : cases) {
        const HostIdentity identity = IdentityOf(c.row);
        EXPECT_EQ(identity.key, c.key) << c.row.cells[4];
        EXPECT_EQ(identity.randomisedMac, c.randomised) << c.row.cells[4];
    }
}

RecordedScan Scan(int rows, int offset = 0) {
    RecordedScan scan;
    scan.startedMs = 1000;
    scan.endedMs = 2000;
    scan.ranges = {{AddressFromText("10.0.0.1"), AddressFromText("10.0.0.254")}};
    for (int i = 0; i < rows; ++i)
        scan.rows.push_back(Row("10.0.0." + std::to_string(i + 1),
                                "00A0C9" + std::string(4, '0') + std::to_string(10 + i + offset)));
    return scan;
}

TEST(InventoryStore, ScansAreKeptAcrossOpeningsAndEachHostOnce) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    {
        InventoryStore::Opened opened = InventoryStore::Open(path);
        ASSERT_TRUE(opened.store) << opened.error;
        std::string error;
        EXPECT_EQ(opened.store->Record(Scan(3), error), 1) << error;
    }
    InventoryStore::Opened again = InventoryStore::Open(path);
    ASSERT_TRUE(again.store) << again.error;
    std::string error;
    EXPECT_EQ(again.store->Record(Scan(3), error), 2) << error;
    EXPECT_EQ(again.store->ScanCount(), 2);
    EXPECT_EQ(again.store->SightingCount(), 6);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*), min(first_scan) FROM hosts", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 3) << "a host seen twice is one host";
    EXPECT_EQ(sqlite3_column_int(statement, 1), 1);
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

// The window and vopal-scan record at the same time: nothing is lost.
TEST(InventoryStore, TwoWritersAtOnceLoseNothing) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    ASSERT_TRUE(InventoryStore::Open(path).store);
    auto writer = [&](int offset) {
        InventoryStore::Opened opened = InventoryStore::Open(path);
        ASSERT_TRUE(opened.store) << opened.error;
        for (int i = 0; i < 20; ++i) {
            std::string error;
            EXPECT_GT(opened.store->Record(Scan(50, offset), error), 0) << error;
        }
    };
    std::thread first(writer, 0), second(writer, 1000);
    first.join();
    second.join();
    InventoryStore::Opened opened = InventoryStore::Open(path);
    ASSERT_TRUE(opened.store);
    EXPECT_EQ(opened.store->ScanCount(), 40);
    EXPECT_EQ(opened.store->SightingCount(), 2000);
}

// A file that is not our database is kept aside as it was, and a new one
// starts in its place; one of a newer version is left alone.
TEST(InventoryStore, AFileThatIsNotOursIsKeptAsideUntouched) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    const std::string garbage = "SQLite format 3\0 but not really, and damaged";
    for (const bool otherProgram : {false, true}) {
        SCOPED_TRACE(otherProgram ? "another program's database" : "garbage");
        std::string before;
        if (otherProgram) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            sqlite3_exec(db, "CREATE TABLE notes(text)", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            before = TempDir::ReadFile(path);
        } else {
            before = garbage;
            TempDir::WriteFile(path, before);
        }
        InventoryStore::Opened opened = InventoryStore::Open(path);
        ASSERT_TRUE(opened.store) << opened.error;
        ASSERT_FALSE(opened.keptAside.empty());
        EXPECT_EQ(TempDir::ReadFile(opened.keptAside), before);
        std::string error;
        EXPECT_EQ(opened.store->Record(Scan(1), error), 1) << error;
        opened.store.reset();
        std::remove(opened.keptAside.c_str());
        std::remove(path.c_str());
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string newer = TempDir::ReadFile(path);
    InventoryStore::Opened opened = InventoryStore::Open(path);
    EXPECT_FALSE(opened.store);
    EXPECT_NE(opened.error.find("newer"), std::string::npos) << opened.error;
    EXPECT_EQ(TempDir::ReadFile(path), newer);
}

} // namespace
