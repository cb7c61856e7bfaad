// The memory of past scans: which identity a row gets, and the store that
// keeps every scan, with writers at once and files that are not ours.

#include "core/inventory/HostIdentity.h"
#include "core/scan/HostCells.h"
#include "core/inventory/sqlite/InventorySchema.h"
#include "core/inventory/sqlite/InventoryStore.h"
#include "core/inventory/ScanChanges.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <thread>

namespace {

HostRecord Row(const std::string& address, const std::string& mac = "",
               const std::string& computer = "", const std::string& domain = "") {
    HostRecord row;
    row = RecordOfCells({address, "○", computer, domain, mac, "", ""});
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
        EXPECT_EQ(identity.key, c.key) << CellOf(c.row, 4);
        EXPECT_EQ(identity.randomisedMac, c.randomised) << CellOf(c.row, 4);
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

// A store that another writer holds is waited for, never taken for a damaged
// one: it stays where it is, as it is, and is read once it is free.
TEST(InventoryStore, AStoreHeldByAnotherWriterIsLeftAsItIs) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    const std::string hold = std::string(kInventorySchemaVersion1) +
                             "BEGIN EXCLUSIVE; INSERT INTO scans VALUES (1, 0, 0, 1, '');";
    ASSERT_EQ(sqlite3_exec(holder, hold.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);

    InventoryStore::Opened held = InventoryStore::OpenToRead(path);
    EXPECT_FALSE(held.store);
    EXPECT_EQ(held.keptAside, "");
    EXPECT_NE(held.error.find("locked"), std::string::npos) << held.error;

    ASSERT_EQ(sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(holder);
    InventoryStore::Opened free = InventoryStore::OpenToRead(path);
    ASSERT_TRUE(free.store) << free.error;
    EXPECT_EQ(free.store->ScanCount(), 1);
}

// A store damaged after it was written: opened to read, what cannot be read
// is said rather than taken for an empty store, and the file is kept aside
// as it was; the next writer starts a new store.
TEST(InventoryStore, ADamagedStoreIsNoEmptyOne) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    {
        InventoryStore::Opened opened = InventoryStore::Open(path);
        ASSERT_TRUE(opened.store) << opened.error;
        std::string error;
        for (int i = 0; i < 20; ++i)
            ASSERT_GT(opened.store->Record(Scan(200, i % 2), error), 0) << error;
    }
    std::string bytes = TempDir::ReadFile(path);
    ASSERT_GT(bytes.size(), 100000u);
    std::fill(bytes.begin() + static_cast<long>(bytes.size() / 2), bytes.end(), '\xff');
    TempDir::WriteFile(path, bytes);

    InventoryStore::Opened reading = InventoryStore::OpenToRead(path);
    ASSERT_TRUE(reading.store) << reading.error;
    reading.store->History("10.0.0.1");
    EXPECT_NE(reading.store->ReadError().find("damaged"), std::string::npos)
        << reading.store->ReadError();
    ASSERT_FALSE(reading.store->KeptAside().empty());
    EXPECT_EQ(TempDir::ReadFile(reading.store->KeptAside()), bytes);
    reading.store.reset();
    InventoryStore::Opened writing = InventoryStore::Open(path);
    ASSERT_TRUE(writing.store) << writing.error;
    EXPECT_EQ(writing.store->ScanCount(), 0);
}

} // namespace

namespace {

std::uint32_t A(int last) {
    return AddressFromText("10.0.0." + std::to_string(last));
}

Sighting Seen(int last, const std::string& mac, const std::string& computer = "PC",
              const std::string& domain = "WG") {
    HostRecord row;
    row = RecordOfCells({"10.0.0." + std::to_string(last), "○", computer, domain, mac, "", ""});
    return {A(last), IdentityOf(row).key, IsUsableMac(mac) ? mac : "", computer, domain};
}

ScanView View(std::int64_t id, std::vector<Sighting> sightings, bool complete = true,
              std::vector<AddressRange> ranges = {{A(1), A(20)}}) {
    return {id, complete, std::move(ranges), std::move(sightings)};
}

std::vector<std::string> Kinds(const std::vector<Change>& changes) {
    std::vector<std::string> kinds;
    for (const Change& change : changes)
        kinds.push_back(std::string(ChangeKindText(change.kind)) + " " +
                        AddressToText(change.address) + " " + change.before + ">" + change.after);
    return kinds;
}

const std::string kMac1 = "00A0C9000001", kMac2 = "00A0C9000002";

// Each kind of change, and what is not one: a stopped scan as baseline, an
// address outside the baseline's ranges, a name that did not come back, a
// host missing once.
TEST(ScanChanges, EachKindAndTheCasesThatAreNone) {
    const struct {
        const char* what;
        std::vector<ScanView> earlier;
        ScanView current;
        std::vector<std::string> expected;
    } cases[] = {
        {"first scan", {}, View(1, {Seen(1, kMac1)}), {"新規 10.0.0.1 >"}},
        {"unchanged", {View(1, {Seen(1, kMac1)})}, View(2, {Seen(1, kMac1)}), {}},
        {"returned",
         {View(1, {Seen(1, kMac1)}), View(2, {})},
         View(3, {Seen(1, kMac1)}),
         {"復帰 10.0.0.1 >"}},
        {"a stopped scan is no baseline",
         {View(1, {Seen(1, kMac1)}), View(2, {}, false)},
         View(3, {Seen(1, kMac1)}),
         {}},
        {"the baseline did not cover the address",
         {View(1, {Seen(1, kMac1)}), View(2, {}, true, {{A(10), A(20)}})},
         View(3, {Seen(1, kMac1)}),
         {}},
        {"renamed",
         {View(1, {Seen(1, kMac1, "PC", "WG")})},
         View(2, {Seen(1, kMac1, "PC2", "WG")}),
         {"名前変更 10.0.0.1 PC/WG>PC2/WG"}},
        {"a name that timed out is no rename",
         {View(1, {Seen(1, kMac1, "PC", "WG")})},
         View(2, {Seen(1, kMac1, "", "")}),
         {}},
        {"a rename across a time-out is one",
         {View(1, {Seen(1, kMac1, "PC", "WG")}), View(2, {Seen(1, kMac1, "", "")})},
         View(3, {Seen(1, kMac1, "PC2", "WG")}),
         {"名前変更 10.0.0.1 PC/WG>PC2/WG"}},
        {"ranges that overlap in part compare only what both cover",
         {View(1, {Seen(3, kMac1), Seen(8, kMac2)}, true, {{A(1), A(10)}}),
          View(2, {Seen(3, kMac1)}, true, {{A(1), A(10)}})},
         View(3, {Seen(12, "00A0C9000003")}, true, {{A(5), A(20)}}),
         {"消失 10.0.0.8 PC/WG>", "新規 10.0.0.12 >"}},
        {"another MAC at the address",
         {View(1, {Seen(1, kMac1)})},
         View(2, {Seen(1, kMac2)}),
         {"新規 10.0.0.1 >", "MAC変更 10.0.0.1 00A0C9000001>00A0C9000002"}},
        {"moved",
         {View(1, {Seen(1, kMac1)})},
         View(2, {Seen(5, kMac1)}),
         {"移動 10.0.0.5 10.0.0.1>10.0.0.5"}},
        {"duplicate",
         {View(1, {Seen(1, kMac1)})},
         View(2, {Seen(1, kMac1), Seen(2, kMac1)}),
         {"重複 10.0.0.2 10.0.0.1>10.0.0.2"}},
        {"an address listed twice is no duplicate",
         {View(1, {Seen(1, kMac1)})},
         View(2, {Seen(1, kMac1), Seen(1, kMac1)}),
         {}},
        {"a randomised MAC is an identity too",
         {View(1, {Seen(1, "024B44000001")})},
         View(2, {Seen(1, "024B44000001")}),
         {}},
        {"missing once is not gone", {View(1, {Seen(1, kMac1)})}, View(2, {}), {}},
        {"gone after two complete scans",
         {View(1, {Seen(1, kMac1)}), View(2, {})},
         View(3, {}),
         {"消失 10.0.0.1 PC/WG>"}},
        {"told once only", {View(1, {Seen(1, kMac1)}), View(2, {}), View(3, {})}, View(4, {}), {}},
        {"stopped scans do not count",
         {View(1, {Seen(1, kMac1)}), View(2, {}, false)},
         View(3, {}),
         {}},
        {"a stopped current scan tells no departure",
         {View(1, {Seen(1, kMac1)}), View(2, {})},
         View(3, {}, false),
         {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Kinds(FindChanges(c.current, c.earlier)), c.expected) << c.what;
}

} // namespace

namespace {

std::vector<std::string> Told(const InventoryStore& store, std::int64_t scan) {
    std::vector<Change> changes;
    for (const ReportedChange& reported : store.ChangesOf(scan))
        changes.push_back(reported.change);
    return Kinds(changes);
}

// A file of the first schema is brought forward: the changes of the scans it
// holds are found as if each had just been recorded, and it goes on from
// there; a host's timeline, found by its MAC or by an address, follows it
// from address to address and shows its departure.
TEST(InventoryStore, AFirstVersionFileIsBroughtForwardWithItsChangesAndHistory) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string version1 = std::string(kInventorySchemaVersion1) + R"sql(
        INSERT INTO scans VALUES (1, 1000, 2000, 1, ''), (2, 3000, 4000, 1, ''),
                                 (3, 5000, 6000, 1, '');
        INSERT INTO scan_ranges SELECT id, 167772161, 167772180 FROM scans;
        INSERT INTO hosts VALUES (1, 'mac:00A0C9000001', 0, 0, 1), (2, 'mac:00A0C9000002', 0, 0, 1);
        INSERT INTO sightings VALUES
            (1, 167772161, 1, '○', 'PC', 'WG', '00A0C9000001', '', ''),
            (1, 167772162, 2, '○', 'B', 'WG', '00A0C9000002', '', ''),
            (2, 167772161, 1, '○', 'PC2', 'WG', '00A0C9000001', '', ''),
            (3, 167772165, 1, '○', 'PC2', 'WG', '00A0C9000001', '', '');
    )sql";
    ASSERT_EQ(sqlite3_exec(db, version1.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);

    // Opened to read, it is brought forward all the same.
    InventoryStore::Opened opened = InventoryStore::OpenToRead(path);
    ASSERT_TRUE(opened.store) << opened.error;
    InventoryStore& store = *opened.store;
    EXPECT_TRUE(opened.keptAside.empty());
    EXPECT_EQ(Told(store, 1), (std::vector<std::string>{"新規 10.0.0.1 >", "新規 10.0.0.2 >"}));
    EXPECT_EQ(Told(store, 2), (std::vector<std::string>{"名前変更 10.0.0.1 PC/WG>PC2/WG"}));
    EXPECT_EQ(Told(store, 3), (std::vector<std::string>{"消失 10.0.0.2 B/WG>",
                                                        "移動 10.0.0.5 10.0.0.1>10.0.0.5"}));

    RecordedScan next;
    next.startedMs = 7000;
    next.ranges = {{A(1), A(20)}};
    next.rows = {Row("10.0.0.5", "00A0C9000001", "PC2", "WG")};
    std::string error;
    ASSERT_EQ(store.Record(next, error), 4) << error;
    EXPECT_TRUE(Told(store, 4).empty());
    EXPECT_EQ(store.LatestScan()->answered, 1);

    // Then at two addresses at once, at the second alone, at a third.
    for (const std::vector<const char*>& at :
         {std::vector<const char*>{"10.0.0.5", "10.0.0.6"}, {"10.0.0.6"}, {"10.0.0.7"}}) {
        next.rows.clear();
        for (const char* address : at)
            next.rows.push_back(Row(address, "00A0C9000001", "PC2", "WG"));
        ASSERT_GT(store.Record(next, error), 0) << error;
    }

    const HostHistory moved = store.History("00:a0:c9:00:00:01");
    EXPECT_EQ(moved.identity, "mac:00A0C9000001");
    std::vector<std::string> timeline;
    for (const HistoryEntry& entry : moved.entries)
        timeline.push_back(std::to_string(entry.scan) + " " + entry.row[0] + " " +
                           entry.row[2] + (entry.changes.empty() ? "" : " *"));
    EXPECT_EQ(timeline, (std::vector<std::string>{
                            "1 10.0.0.1 PC *", "2 10.0.0.1 PC2 *", "3 10.0.0.5 PC2 *",
                            "4 10.0.0.5 PC2", "5 10.0.0.5 PC2", "5 10.0.0.6 PC2 *",
                            "6 10.0.0.6 PC2 *", "7 10.0.0.7 PC2 *"}));
    const HostHistory gone = store.History("10.0.0.2");
    ASSERT_EQ(gone.entries.size(), 2u);
    EXPECT_TRUE(gone.entries[0].seen);
    EXPECT_FALSE(gone.entries[1].seen);
    EXPECT_EQ(gone.entries[1].changes.at(0).kind, ChangeKind::Gone);
    EXPECT_EQ(gone.entries[1].startedMs, 5000);
    EXPECT_TRUE(store.History("10.0.0.9").identity.empty());
    EXPECT_TRUE(store.History("00A0C9FFFFFE").identity.empty());
}

} // namespace


namespace {

// A row with neither a usable MAC nor a name is the host last seen at its
// address: no 新規, no 消失, a sighting of that host that keeps its names.
TEST(InventoryStore, ARowKnownByItsAddressAloneIsTheHostLastSeenThere) {
    const std::string macA = "00A0C9000001", macB = "00A0C9000002";
    const HostRecord hostA = Row("10.0.0.1", macA, "PC", "WG");
    const HostRecord anonymous = Row("10.0.0.1");
    struct Step {
        std::vector<HostRecord> rows;
        std::vector<std::string> told;
        std::string historyOfAddress = ""; // the identity History("10.0.0.1") finds, when set
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"the MAC host, its answer lost, the MAC host again",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{anonymous}, {}, "mac:" + macA},
          {{hostA}, {}, "mac:" + macA}}},
        {"its names are kept: a rename after the lost answer is told",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{anonymous}, {}},
          {{Row("10.0.0.1", macA, "PC2", "WG")}, {"名前変更 10.0.0.1 PC/WG>PC2/WG"}}}},
        {"the last host at the address, not the one before it",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{Row("10.0.0.1", macB, "B", "WG")},
           {"新規 10.0.0.1 >", "MAC変更 10.0.0.1 00A0C9000001>00A0C9000002"}},
          {{anonymous}, {"消失 10.0.0.1 PC/WG>"}, "mac:" + macB}}},
        {"an address where no host was seen is new as before",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{hostA, Row("10.0.0.2")}, {"新規 10.0.0.2 >"}}}},
        {"the host answering elsewhere with its MAC is not the row",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{anonymous, Row("10.0.0.5", macA, "PC", "WG")},
           {"新規 10.0.0.1 >", "移動 10.0.0.5 10.0.0.1>10.0.0.5"}}}},
        {"the lost answer counts as a sighting: gone two scans after it",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{anonymous}, {}},
          {{}, {}},
          {{}, {"消失 10.0.0.1 PC/WG>"}},
          {{}, {}}}},
        {"a host told gone is still the one its address alone answers for",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{}, {}},
          {{}, {"消失 10.0.0.1 PC/WG>"}},
          {{}, {}},
          {{anonymous}, {"復帰 10.0.0.1 >"}, "mac:" + macA},
          {{}, {}},
          {{}, {"消失 10.0.0.1 PC/WG>"}}}},
        {"a host told gone comes back with its MAC, then goes again",
         {{{hostA}, {"新規 10.0.0.1 >"}},
          {{}, {}},
          {{}, {"消失 10.0.0.1 PC/WG>"}},
          {{hostA}, {"復帰 10.0.0.1 >"}},
          {{}, {}},
          {{}, {"消失 10.0.0.1 PC/WG>"}}}},
        {"a host known by its address alone, gone once",
         {{{Row("10.0.0.2")}, {"新規 10.0.0.2 >"}},
          {{Row("10.0.0.2")}, {}},
          {{}, {}},
          {{}, {"消失 10.0.0.2 >"}},
          {{}, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        InventoryStore::Opened opened = InventoryStore::Open(dir.file("inventory.sqlite"));
        ASSERT_TRUE(opened.store) << opened.error;
        InventoryStore& store = *opened.store;
        std::int64_t scan = 0;
        for (const Step& step : c.steps) {
            RecordedScan recorded;
            recorded.ranges = {{A(1), A(20)}};
            recorded.rows = step.rows;
            std::string error;
            ASSERT_EQ(store.Record(recorded, error), ++scan) << error;
            EXPECT_EQ(Told(store, scan), step.told) << "scan " << scan;
            if (!step.historyOfAddress.empty()) {
                EXPECT_EQ(store.History("10.0.0.1").identity, step.historyOfAddress)
                    << "scan " << scan;
            }
        }
    }
}

} // namespace
