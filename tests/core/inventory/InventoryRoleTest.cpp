// docs/inventory-role.sql, run by psql as the owner after vopal-scan made the
// tables, gives a site's login role what recording and reading scans need
// and nothing else, and a report's role reading alone.

#include "core/inventory/postgres/PgInventory.h"
#include "core/scan/HostCells.h"
#include "tests/support/PgCluster.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

// The psql of the newest server package, else the one on /usr/bin; empty: none.
std::string FindPsql() {
    std::error_code ec;
    std::string best = std::filesystem::exists("/usr/bin/psql", ec) ? "/usr/bin/psql" : "";
    long bestVersion = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const long version = std::strtol(entry.path().filename().c_str(), nullptr, 10);
        const std::string psql = entry.path() / "bin/psql";
        if (version > bestVersion && std::filesystem::exists(psql, ec)) {
            best = psql;
            bestVersion = version;
        }
    }
    return best;
}

std::string Quoted(const std::string& word) {
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs the script with psql as the administrator would; its exit status and
// what it printed.
int RunScript(const std::string& psql, const std::string& uri, std::string& output) {
    const std::string command = Quoted(psql) + " -X -q -v ON_ERROR_STOP=1 -v site_role=site_north" +
                                " -d " + Quoted(uri) + " -f " +
                                Quoted(KD_DOCS_DIR "/inventory-role.sql") + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RecordedScan ScanOf(int n, const std::vector<std::pair<int, std::string>>& hosts) {
    RecordedScan scan;
    scan.startedMs = 1700000000000 + n * 60000;
    scan.endedMs = scan.startedMs + 1000;
    scan.ranges = {{AddressFromText("10.9.0.1"), AddressFromText("10.9.0.20")}};
    scan.site = "north";
    scan.siteScan = "north-" + std::to_string(n);
    for (const auto& [last, name] : hosts) {
        HostRecord row;
        row = RecordOfCells({"10.9.0." + std::to_string(last),         "○", name, "WG",
                     "00A0C90000" + std::to_string(10 + last), "",  ""});
        scan.rows.push_back(row);
    }
    return scan;
}

// The SQLSTATE of a statement, "" when it succeeded.
std::string StateOf(PgConnection& db, const std::string& sql) {
    const PgResult result = db.Exec(sql);
    return result.Ok() ? "" : result.Error().sqlState;
}

} // namespace

TEST(InventoryRole, ASiteRecordsAndReadsButCannotDeleteOrChangeTheTables) {
    const std::string psql = FindPsql();
    if (psql.empty())
        GTEST_SKIP() << "psql is not installed";
    ScopedEnv noPassFile{"PGPASSFILE", "/nonexistent/kd-pgpass"};
    PgCluster cluster;
    KD_START_PG_CLUSTER(cluster);
    ASSERT_TRUE(cluster.CreateDatabase("inventory")) << cluster.Error();
    std::string error, output;
    // Before the tables exist, the script refuses and says what to do.
    EXPECT_EQ(RunScript(psql, cluster.Uri("inventory"), output), 3);
    EXPECT_NE(output.find("Run vopal-scan --db once"), std::string::npos) << output;

    // The owner's first run makes the tables; then the script, twice.
    ASSERT_TRUE(PgInventory::Open(cluster.Uri("inventory"), error)) << error;
    for (int run = 0; run < 2; ++run) {
        output.clear();
        ASSERT_EQ(RunScript(psql, cluster.Uri("inventory"), output), 0) << output;
    }

    // The site's role records every kind of write: new hosts, a rename, a
    // host gone (site_hosts.departed), its return; and reads them back.
    std::unique_ptr<PgInventory> site =
        PgInventory::Open(cluster.Uri("inventory", "site_north", ""), error);
    ASSERT_TRUE(site) << error;
    const std::vector<std::vector<std::pair<int, std::string>>> steps = {
        {{1, "A"}, {2, "B"}, {3, "C"}},
        {{1, "A"}, {2, "B2"}},
        {{1, "A"}, {2, "B2"}},
        {{1, "A"}, {2, "B2"}, {3, "C"}}};
    std::vector<std::size_t> changes;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::int64_t id = site->Record(ScanOf(static_cast<int>(i), steps[i]), error);
        ASSERT_GE(id, 0) << "scan " << i << ": " << error;
        changes.push_back(site->ChangesOf(id).size());
        EXPECT_EQ(site->ReadError(), "");
    }
    EXPECT_EQ(changes, (std::vector<std::size_t>{3, 1, 1, 1}));
    EXPECT_FALSE(site->History("10.9.0.3", "north").entries.empty());

    // ... and nothing else.
    std::unique_ptr<PgConnection> db =
        PgConnection::Open(cluster.Uri("inventory", "site_north", ""), error);
    ASSERT_TRUE(db) << error;
    const char* const refused[] = {
        "DELETE FROM sightings",
        "DELETE FROM scans WHERE id = 1",
        "TRUNCATE changes",
        "DROP TABLE hosts",
        "ALTER TABLE sites ADD COLUMN x integer",
        "CREATE TABLE public.mine (x integer)",
        "CREATE TEMPORARY TABLE mine (x integer)",
        "UPDATE hosts SET identity = 'mac:000000000001'",
        "UPDATE sightings SET computer = 'X'",
        "UPDATE scans SET site_scan = 'x'",
        "INSERT INTO kd_inventory_version VALUES (2)",
        "SELECT nextval('hosts_id_seq')",
    };
    for (const char* sql : refused)
        EXPECT_EQ(StateOf(*db, sql), "42501") << sql;

    // A report's role reads and writes nothing.
    std::unique_ptr<PgConnection> owner = PgConnection::Open(cluster.Uri("inventory"), error);
    ASSERT_TRUE(owner) << error;
    ASSERT_EQ(StateOf(*owner, "CREATE ROLE reports LOGIN IN ROLE kd_reader"), "");
    std::unique_ptr<PgConnection> reports =
        PgConnection::Open(cluster.Uri("inventory", "reports", ""), error);
    ASSERT_TRUE(reports) << error;
    const PgResult counted = reports->Exec("SELECT count(*) FROM sightings");
    ASSERT_TRUE(counted.Ok()) << counted.Error().message;
    EXPECT_EQ(counted.Int64(0, 0), 10);
    EXPECT_EQ(StateOf(*reports, "INSERT INTO sites(name) VALUES ('south')"), "42501");
    EXPECT_EQ(StateOf(*reports, "UPDATE scans SET answered = 0"), "42501");
    // A role in neither may not even connect.
    ASSERT_EQ(StateOf(*owner, "CREATE ROLE stranger LOGIN"), "");
    EXPECT_FALSE(PgConnection::Open(cluster.Uri("inventory", "stranger", ""), error));
    EXPECT_NE(error.find("CONNECT"), std::string::npos) << error;
}
