// The inventory's file as other writers, damage, permissions and symbolic
// links leave it: nothing recorded is lost and no good file is kept aside.

#include "core/inventory/sqlite/InventoryStore.h"
#include "core/scan/HostCells.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

RecordedScan ScanOf(int first, int rows) {
    RecordedScan scan;
    scan.ranges = {{AddressFromText("10.0.0.1"), AddressFromText("10.0.3.254")}};
    for (int i = 0; i < rows; ++i) {
        HostRecord row;
        char mac[13];
        std::snprintf(mac, sizeof mac, "00A0C9%06X", first + i);
        row = RecordOfCells({"10.0." + std::to_string((first + i) / 250) + "." +
                         std::to_string((first + i) % 250 + 1),
                     "○",
                     "PC" + std::to_string(first + i),
                     "WG",
                     mac,
                     "",
                     ""});
        scan.rows.push_back(row);
    }
    return scan;
}

std::vector<std::string> KeptAside(const std::string& dir) {
    std::vector<std::string> names;
    for (const std::string& name : TempDir::EntryNames(dir))
        if (name.find(".damaged-") != std::string::npos)
            names.push_back(name);
    return names;
}

// Writers that start at once on a path where no store is yet: each finds a
// new store or the one another has just made, never a foreign file.
TEST(InventoryFile, WritersStartingAtOnceOnANewPathLoseNoScan) {
    constexpr int kWriters = 4, kRounds = 12;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir dir;
        const std::string path = dir.file("inventory.sqlite");
        std::vector<std::function<int()>> writers;
        for (int w = 0; w < kWriters; ++w)
            writers.push_back([&, w] {
                InventoryStore::Opened opened = InventoryStore::Open(path);
                if (!opened.store || !opened.keptAside.empty()) {
                    std::fprintf(stderr, "writer %d: %s (kept aside: %s)\n", w,
                                 opened.error.c_str(), opened.keptAside.c_str());
                    return 2;
                }
                std::string error;
                if (opened.store->Record(ScanOf(w * 10, 10), error) < 0) {
                    std::fprintf(stderr, "writer %d: %s\n", w, error.c_str());
                    return 3;
                }
                return 0;
            });
        EXPECT_EQ(ChildProcess::RunTogether(writers), std::vector<int>(kWriters, 0));
        EXPECT_EQ(KeptAside(dir.path()), std::vector<std::string>{});
        InventoryStore::Opened opened = InventoryStore::Open(path);
        ASSERT_TRUE(opened.store) << opened.error;
        EXPECT_EQ(opened.store->ScanCount(), kWriters);
        EXPECT_EQ(opened.store->SightingCount(), kWriters * 10);
    }
}

// A store damaged after it was opened is met as damage when the scan is
// written: the damaged file is kept aside as it was, and the scan starts a
// new store rather than being lost.
TEST(InventoryFile, DamageMetWhileRecordingKeepsTheFileAsideAndTheScan) {
    const struct {
        const char* what;
        double from; // the part of the file overwritten, from here to its end
        char byte;
    } cases[] = {
        {"second half 0xff", 0.5, '\xff'},
        {"all but the first page zeroed", 0.0, '\0'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.file("inventory.sqlite");
        {
            InventoryStore::Opened opened = InventoryStore::Open(path);
            ASSERT_TRUE(opened.store) << opened.error;
            std::string error;
            for (int i = 0; i < 10; ++i)
                ASSERT_GT(opened.store->Record(ScanOf(i * 200, 200), error), 0) << error;
        }
        InventoryStore::Opened opened = InventoryStore::Open(path);
        ASSERT_TRUE(opened.store) << opened.error;
        ASSERT_TRUE(opened.keptAside.empty());

        std::string bytes = TempDir::ReadFile(path);
        ASSERT_GT(bytes.size(), 100000u);
        const std::size_t from =
            std::max<std::size_t>(4096, static_cast<std::size_t>(bytes.size() * c.from));
        std::fill(bytes.begin() + static_cast<long>(from), bytes.end(), c.byte);
        TempDir::WriteFile(path, bytes); // the same file, rewritten in place

        std::string error;
        EXPECT_EQ(opened.store->Record(ScanOf(5000, 3), error), 1) << error;
        EXPECT_NE(error.find("damaged"), std::string::npos) << error;
        ASSERT_FALSE(opened.store->KeptAside().empty());
        EXPECT_EQ(TempDir::ReadFile(opened.store->KeptAside()), bytes);
        EXPECT_EQ(opened.store->ScanCount(), 1);
        EXPECT_EQ(opened.store->SightingCount(), 3);
        opened.store.reset();
        InventoryStore::Opened again = InventoryStore::Open(path);
        ASSERT_TRUE(again.store) << again.error;
        EXPECT_EQ(again.store->ScanCount(), 1);
    }
}

// A store in a directory the user may not write to is read for a timeline:
// with nobody writing, and while a writer (who may) has it open.
TEST(InventoryFile, AStoreInAReadOnlyDirectoryIsRead) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to read as another user from a directory root owns";
    for (const bool writerOpen : {false, true}) {
        SCOPED_TRACE(writerOpen ? "a writer has it open" : "nobody writing");
        TempDir dir;
        const std::string path = dir.file("inventory.sqlite");
        InventoryStore::Opened writer = InventoryStore::Open(path);
        ASSERT_TRUE(writer.store) << writer.error;
        std::string error;
        ASSERT_GT(writer.store->Record(ScanOf(0, 3), error), 0) << error;
        if (!writerOpen)
            writer.store.reset();
        ASSERT_EQ(TempDir::Exists(path + "-wal"), writerOpen);
        ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
        const int code = ChildProcess::Run([&] {
            // nobody: directory permissions count for it.
            if (setgid(65534) != 0 || setuid(65534) != 0)
                return ChildProcess::kCannotSetUp;
            InventoryStore::Opened reading = InventoryStore::OpenToRead(path);
            if (!reading.store) {
                std::fprintf(stderr, "cannot read: %s\n", reading.error.c_str());
                return 2;
            }
            const HostHistory history = reading.store->History("10.0.0.1");
            EXPECT_EQ(history.identity, "mac:00A0C9000000") << reading.store->ReadError();
            EXPECT_EQ(history.entries.size(), 1u);
            return 0;
        });
        chmod(dir.path().c_str(), 0700);
        ASSERT_NE(code, ChildProcess::kCannotSetUp) << "cannot become another user";
        EXPECT_EQ(code, 0);
        EXPECT_EQ(KeptAside(dir.path()), std::vector<std::string>{});
    }
}

// A store behind a symbolic link: the link stays a link, and the file it
// names is the one made, recorded into, or kept aside beside it.
TEST(InventoryFile, ASymbolicLinkIsFollowedToItsFile) {
    const struct {
        const char* what;
        const char* target; // as the link holds it, from the link's directory
        const char* before; // the target's bytes first; null: no target yet
    } cases[] = {
        {"a link to a damaged store", "real/inventory.sqlite", "SQLite format 3\0garbage"},
        {"a dangling link", "real/inventory.sqlite", nullptr},
        {"a link through a link, absolute", "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ASSERT_EQ(mkdir(dir.file("real").c_str(), 0700), 0);
        const std::string real = dir.file("real/inventory.sqlite");
        const std::string link = dir.file("inventory.sqlite");
        std::string target = c.target;
        if (target.empty()) {
            // link -> middle (absolute) -> real (relative)
            ASSERT_EQ(symlink("inventory.sqlite", dir.file("real/middle").c_str()), 0);
            target = dir.file("real/middle");
        }
        if (c.before)
            TempDir::WriteFile(real, std::string(c.before, 24));
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

        for (int scan = 1; scan <= 2; ++scan) {
            InventoryStore::Opened opened = InventoryStore::Open(link);
            ASSERT_TRUE(opened.store) << opened.error;
            if (scan == 1 && c.before) {
                EXPECT_EQ(opened.keptAside.rfind(real + ".damaged-", 0), 0u) << opened.keptAside;
                EXPECT_EQ(TempDir::ReadFile(opened.keptAside), std::string(c.before, 24));
            } else {
                EXPECT_EQ(opened.keptAside, "");
            }
            std::string error;
            EXPECT_EQ(opened.store->Record(ScanOf(0, 2), error), scan) << error;
        }
        struct stat info;
        ASSERT_EQ(lstat(link.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";
        char held[4096] = {};
        ASSERT_GT(readlink(link.c_str(), held, sizeof held - 1), 0);
        EXPECT_EQ(std::string(held), target);
        ASSERT_EQ(lstat(real.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        InventoryStore::Opened direct = InventoryStore::Open(real);
        ASSERT_TRUE(direct.store) << direct.error;
        EXPECT_EQ(direct.store->ScanCount(), 2) << "the scans went elsewhere than the target";
    }
}

} // namespace
