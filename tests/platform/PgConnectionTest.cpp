#include "platform/postgres/PgConnection.h"

#include "tests/support/PgCluster.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <latch>
#include <sys/stat.h>
#include <thread>

namespace {

// Text that is neither a line break nor a tab, nor anything but plain.
bool IsOnePlainLine(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Every byte but NUL, in order.
std::string AllBytesButNul() {
    std::string bytes;
    for (int c = 1; c < 256; ++c)
        bytes += static_cast<char>(c);
    return bytes;
}

// A test against a server of its own with an empty database "inventory".
class PgConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        KD_START_PG_CLUSTER(m_cluster);
        ASSERT_TRUE(m_cluster.CreateDatabase("inventory")) << m_cluster.Error();
        m_db = Connect();
        ASSERT_TRUE(m_db);
    }

    std::unique_ptr<PgConnection> Connect() {
        std::string error;
        auto connection = PgConnection::Open(m_cluster.Uri("inventory"), error);
        EXPECT_TRUE(connection) << error;
        return connection;
    }

    // Runs a statement that must succeed.
    PgResult Run(const std::string& sql, const PgValues& params = {}) {
        PgResult result = m_db->Exec(sql, params);
        EXPECT_TRUE(result.Ok()) << sql << ": " << result.Error().message;
        return result;
    }

    std::int64_t Count(const std::string& table) {
        return Run("SELECT count(*) FROM " + table).Int64(0, 0).value_or(-1);
    }

    // Keeps no password file of the machine's in the way.
    ScopedEnv m_noPassFile{"PGPASSFILE", "/nonexistent/kd-pgpass"};
    ScopedEnv m_noPassword{"PGPASSWORD", std::nullopt};
    PgCluster m_cluster;
    std::unique_ptr<PgConnection> m_db;
};

// Only a machine without the server's binaries skips the tests; binaries that
// fail are a failure, with their words.
TEST(PgCluster, MissingBinariesAreToldApartFromBrokenOnes) {
    PgCluster missing("/nonexistent/kd-postgresql/bin");
    EXPECT_FALSE(missing.Start());
    EXPECT_TRUE(missing.BinariesMissing());
    EXPECT_NE(missing.Error().find("not installed"), std::string::npos) << missing.Error();

    TempDir bin;
    for (const char* name : {"initdb", "postgres"}) {
        TempDir::WriteFile(bin.file(name),
                           "#!/bin/sh\necho 'cannot make the cluster' >&2\nexit 3\n");
        chmod(bin.file(name).c_str(), 0755);
    }
    chmod(bin.path().c_str(), 0755); // for the server's user
    PgCluster broken(bin.path());
    EXPECT_FALSE(broken.Start());
    EXPECT_FALSE(broken.BinariesMissing());
    EXPECT_NE(broken.Error().find("cannot make the cluster"), std::string::npos) << broken.Error();
    EXPECT_FALSE(broken.Running());
}

TEST(PgUri, IsPostgresUri) {
    struct Case {
        const char* text;
        bool expected;
    } cases[] = {
        {"postgresql://host/db", true},      {"postgres://host/db", true},
        {"PostgreSQL:///db?host=/x", true},  {"POSTGRES://", true},
        {"postgresql:/db", false},           {"postgresq://host", false},
        {"host=db.example dbname=x", false}, {"/var/lib/inventory.sqlite", false},
        {" postgresql://host", false},       {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsPostgresUri(c.text), c.expected) << c.text;
}

TEST(PgCopy, TextLineEscapesWhatCopyReads) {
    struct Case {
        PgValues row;
        std::string expected;
    } cases[] = {
        {{"plain", "text"}, "plain\ttext\n"},
        {{std::nullopt, ""}, "\\N\t\n"},
        {{"\\N"}, "\\\\N\n"},
        {{"a\tb\nc\rd\\e"}, "a\\tb\\nc\\rd\\\\e\n"},
        {{"\\."}, "\\\\.\n"},
        {{std::string("\x01\x1b[31m\x7f\xff")}, std::string("\x01\x1b[31m\x7f\xff") + "\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PgCopyTextLine(c.row), c.expected) << c.expected;
}

TEST(PgMessage, PlainOneLineWithoutSecrets) {
    const std::string fallback = "withheld";
    struct Case {
        std::string message;
        std::vector<std::string> secrets;
        std::string expected;
    } cases[] = {
        {"server closed the connection unexpectedly\n\tThis probably means\n",
         {},
         "server closed the connection unexpectedly This probably means"},
        {"bad \x1b[2Jname\x01 \xff!", {}, "bad .[2Jname. \xEF\xBF\xBD!"},
        {"invalid token: \"pa%zzss\" in \"pa%zzss\"",
         {"pa%zzss"},
         "invalid token: \"***\" in \"***\""},
        // A password with a line break, as the message shows it once plain.
        {"user x, password two\nlines", {"two\nlines"}, "user x, password ***"},
        {"password abc", {"abc"}, fallback}, // too short to cut out
        {"no secret here", {"xyz", ""}, "no secret here"},
        {"ERROR:  a" + std::string(3000, 'b'), {}, ""}, // cut, below
    };
    for (const Case& c : cases) {
        const std::string plain = PgPlainMessage(c.message, c.secrets, fallback);
        if (c.expected.empty()) {
            EXPECT_LE(plain.size(), 1024u);
            EXPECT_EQ(plain.substr(0, 8), "ERROR: a");
        } else {
            EXPECT_EQ(plain, c.expected) << c.message;
        }
    }
}

TEST_F(PgConnectionTest, SettingsComeFromTheAddressWithDefaultsUnderIt) {
    struct Case {
        std::string query; // added to the address
        PgConnection::Options options;
        std::string timeout, application;
    } cases[] = {
        {"", {}, "10", ""},
        {"&connect_timeout=3", {}, "3", ""},
        {"", {std::chrono::seconds(4), "vopal-scan"}, "4", "vopal-scan"},
        {"&connect_timeout=7&application_name=site-a",
         {std::chrono::seconds(4), "vopal-scan"},
         "7",
         "site-a"},
        // The program's texts are UTF-8 whatever the address says.
        {"&client_encoding=LATIN1", {}, "10", ""},
    };
    for (const Case& c : cases) {
        std::string error;
        auto db = PgConnection::Open(m_cluster.Uri("inventory") + c.query, c.options, error);
        ASSERT_TRUE(db) << c.query << ": " << error;
        EXPECT_EQ(db->Setting("connect_timeout"), c.timeout) << c.query;
        EXPECT_EQ(db->Setting("dbname"), "inventory");
        EXPECT_EQ(db->Setting("host"), m_cluster.SocketDirectory());
        const PgResult shown = db->Exec("SELECT current_setting('client_encoding'),"
                                        " current_setting('application_name')");
        ASSERT_TRUE(shown.Ok()) << shown.Error().message;
        EXPECT_EQ(shown.Text(0, 0), "UTF8") << c.query;
        EXPECT_EQ(shown.Text(0, 1), c.application) << c.query;
    }
}

TEST_F(PgConnectionTest, HostileTextRoundTripsAsParameters) {
    Run("CREATE TABLE host (id bigint PRIMARY KEY, name text)");
    const std::string hostile[] = {
        "O'Brien\"s \\ name",
        "'); DROP TABLE host; --",
        "$1 $2 ::text E'\\x41'",
        AllBytesButNul().substr(0, 127), // every ASCII control byte but NUL
        "ＭＳ Ｐゴシック \xF0\x9F\x96\xA5",
        std::string(100000, '\\'),
        "",
    };
    std::int64_t id = 0;
    for (const std::string& text : hostile) {
        ++id;
        const PgResult inserted =
            Run("INSERT INTO host (id, name) VALUES ($1, $2)", {std::to_string(id), text});
        EXPECT_EQ(inserted.AffectedRows(), 1);
        const PgResult read = Run("SELECT name FROM host WHERE id = $1", {std::to_string(id)});
        ASSERT_EQ(read.Rows(), 1);
        EXPECT_EQ(read.Value(0, 0), text);
        EXPECT_FALSE(read.IsNull(0, 0));
    }
    EXPECT_EQ(Count("host"), id);

    // Bytes that are not UTF-8 are refused by the server, which the
    // connection outlives.
    const std::string invalid[] = {"\xFF", "caf\xC3", "\xC0\xAF", "\xED\xA0\x80",
                                   "\xF4\x90\x80\x80"};
    for (const std::string& bytes : invalid) {
        const PgResult refused = m_db->Exec("INSERT INTO host VALUES (99, $1)", {bytes});
        EXPECT_FALSE(refused.Ok());
        EXPECT_EQ(refused.Error().sqlState, "22021");
        EXPECT_FALSE(refused.Error().connectionLost);
        EXPECT_TRUE(IsOnePlainLine(refused.Error().message)) << refused.Error().message;
    }
    EXPECT_EQ(Count("host"), id);
}

TEST_F(PgConnectionTest, NullsAndNumbers) {
    const PgResult echo = Run("SELECT $1::text, $1::text IS NULL, $2::text", {std::nullopt, ""});
    EXPECT_TRUE(echo.IsNull(0, 0));
    EXPECT_EQ(echo.Value(0, 0), std::nullopt);
    EXPECT_EQ(echo.Text(0, 1), "t");
    EXPECT_EQ(echo.Value(0, 2), std::string()); // empty, not NULL
    EXPECT_EQ(echo.ColumnName(1), "?column?");
    // Outside the result everything reads as NULL.
    EXPECT_TRUE(echo.IsNull(1, 0));
    EXPECT_TRUE(echo.IsNull(0, 3));
    EXPECT_EQ(echo.Text(-1, 0), "");

    struct Case {
        std::optional<std::string> text;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"42", 42},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", std::nullopt},
        {"4x", std::nullopt},
        {" 4", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Run("SELECT $1::text", {c.text}).Int64(0, 0), c.expected)
            << c.text.value_or("NULL");
}

TEST_F(PgConnectionTest, StatementsRefusedLeaveTheConnectionUsable) {
    Run("CREATE TABLE t (k int PRIMARY KEY)");
    struct Case {
        std::string sql;
        PgValues params;
        std::string sqlState; // "" for a refusal of our own
    } cases[] = {
        {"SELECT 1; DROP TABLE t", {}, "42601"}, // one statement at a time
        {"SELECT * FROM missing", {}, "42P01"},
        {"INSERT INTO t VALUES ($1)", {"one"}, "22P02"},
        {"SELECT $1::text", {std::string("a\0b", 3)}, ""}, // never cut at the NUL
        {"COPY t FROM STDIN", {}, ""},
        {"COPY t TO STDOUT", {}, ""},
        {"", {}, ""},
    };
    for (const Case& c : cases) {
        const PgResult refused = m_db->Exec(c.sql, c.params);
        EXPECT_FALSE(refused.Ok()) << c.sql;
        EXPECT_EQ(refused.Error().sqlState, c.sqlState) << c.sql;
        EXPECT_FALSE(refused.Error().message.empty()) << c.sql;
        EXPECT_EQ(refused.Rows(), 0);
        EXPECT_EQ(Run("SELECT 7").Int64(0, 0), 7) << "after " << c.sql;
    }
    EXPECT_EQ(Count("t"), 0);
}

TEST_F(PgConnectionTest, CopyInIsByteExact) {
    Run("CREATE TABLE host (id bigint, name text, note text)");
    std::vector<PgValues> rows = {
        {"1", "tab\there", "line\nbreak"},
        {"2", "cr\rlf\r\n", "back\\slash \\N \\. \\t"},
        {"3", "\\.", std::nullopt},
        {"4", "", "\\N"},
        {"5", AllBytesButNul().substr(0, 127), std::string(200000, '\t')}, // past one chunk
    };
    for (int id = 6; id <= 3000; ++id)
        rows.push_back({std::to_string(id), "host-" + std::to_string(id) + "\n", std::nullopt});
    const PgResult copied = m_db->CopyIn("host (id, name, note)", rows);
    ASSERT_TRUE(copied.Ok()) << copied.Error().message;
    EXPECT_EQ(copied.AffectedRows(), 3000);

    const PgResult read = Run("SELECT id, name, note FROM host ORDER BY id");
    ASSERT_EQ(read.Rows(), 3000);
    for (int row = 0; row < read.Rows(); ++row) {
        EXPECT_EQ(read.Int64(row, 0), row + 1);
        EXPECT_EQ(read.Value(row, 1), rows[row][1]) << "row " << row;
        EXPECT_EQ(read.Value(row, 2), rows[row][2]) << "row " << row;
    }

    // Refused rows: nothing of them is kept, the connection goes on.
    struct Case {
        std::vector<PgValues> rows;
        std::string sqlState;
    } refused[] = {
        {{{"9001", "fine", "x"}, {"9002", "caf\xC3", "x"}}, "22021"},
        {{{"9001", "x", "y"}, {"9002", "y"}}, ""},
        {{{"9001", std::string("a\0b", 3), "x"}}, ""},
        {{{"not a number", "x", "y"}}, "22P02"},
    };
    for (const Case& c : refused) {
        const PgResult outcome = m_db->CopyIn("host (id, name, note)", c.rows);
        EXPECT_FALSE(outcome.Ok());
        EXPECT_EQ(outcome.Error().sqlState, c.sqlState) << outcome.Error().message;
        EXPECT_EQ(Count("host"), 3000);
    }
    const PgResult none = m_db->CopyIn("host (id, name, note)", {});
    EXPECT_TRUE(none.Ok()) << none.Error().message;
    EXPECT_EQ(m_db->CopyIn("nowhere (a)", {{"1"}}).Error().sqlState, "42P01");
    EXPECT_EQ(Count("host"), 3000);
}

// Two on-call doctors: each may go off duty when the other is still on.
// Run together, both would; serializable lets only one.
TEST_F(PgConnectionTest, SerializationFailureIsRetried) {
    Run("CREATE TABLE duty (doctor int PRIMARY KEY, off boolean NOT NULL)");
    Run("INSERT INTO duty VALUES (1, false), (2, false)");
    auto other = Connect();
    ASSERT_TRUE(other);
    const auto goOff = [](int doctor) {
        return [doctor](PgConnection& db) -> std::optional<PgError> {
            const PgResult on = db.Exec("SELECT count(*) FROM duty WHERE NOT off");
            if (!on.Ok())
                return on.Error();
            if (on.Int64(0, 0) < 2)
                return std::nullopt;
            const PgResult off =
                db.Exec("UPDATE duty SET off = true WHERE doctor = $1", {std::to_string(doctor)});
            return off.Ok() ? std::nullopt : std::optional<PgError>(off.Error());
        };
    };

    for (const int retries : {0, 2}) {
        SCOPED_TRACE(retries);
        Run("UPDATE duty SET off = false");
        int attempts = 0;
        const auto first = [&](PgConnection& db) -> std::optional<PgError> {
            ++attempts;
            const PgResult on = db.Exec("SELECT count(*) FROM duty WHERE NOT off");
            if (attempts == 1) { // the other doctor goes off in between, and commits
                EXPECT_FALSE(other->Transaction(goOff(2), 0));
            }
            if (on.Int64(0, 0) < 2)
                return std::nullopt;
            const PgResult off = db.Exec("UPDATE duty SET off = true WHERE doctor = 1");
            return off.Ok() ? std::nullopt : std::optional<PgError>(off.Error());
        };
        const std::optional<PgError> error = m_db->Transaction(first, retries);
        if (retries == 0) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->sqlState, "40001");
            EXPECT_TRUE(error->Retryable());
            EXPECT_EQ(attempts, 1);
        } else {
            EXPECT_FALSE(error) << error->message;
            EXPECT_EQ(attempts, 2);
        }
        const PgResult duty = Run("SELECT doctor FROM duty WHERE off ORDER BY doctor");
        ASSERT_EQ(duty.Rows(), 1);
        EXPECT_EQ(duty.Int64(0, 0), 2);
    }
}

TEST_F(PgConnectionTest, DeadlockIsRetried) {
    Run("CREATE TABLE account (id int PRIMARY KEY, balance int NOT NULL)");
    Run("INSERT INTO account VALUES (1, 100), (2, 100)");
    auto other = Connect();
    ASSERT_TRUE(other);
    // Each locks one row, waits until the other has locked the other row,
    // then wants it too: the server ends one of them (deadlock_timeout).
    std::latch bothLocked(2);
    std::atomic<int> attempts{0};
    const auto transfer = [&](int from, int to) {
        return [&, from, to](PgConnection& db) -> std::optional<PgError> {
            const bool first = attempts.fetch_add(1) < 2;
            const std::string sql = "UPDATE account SET balance = balance + $2 WHERE id = $1";
            PgResult r = db.Exec(sql, {std::to_string(from), "-10"});
            if (first)
                bothLocked.arrive_and_wait();
            if (r.Ok())
                r = db.Exec(sql, {std::to_string(to), "10"});
            return r.Ok() ? std::nullopt : std::optional<PgError>(r.Error());
        };
    };
    std::optional<PgError> one, two;
    std::thread left(
        [&] { one = m_db->Transaction(transfer(1, 2), 3, PgIsolation::ReadCommitted); });
    std::thread right(
        [&] { two = other->Transaction(transfer(2, 1), 3, PgIsolation::ReadCommitted); });
    left.join();
    right.join();
    EXPECT_FALSE(one) << one->message;
    EXPECT_FALSE(two) << two->message;
    EXPECT_EQ(attempts.load(), 3);
    EXPECT_EQ(Run("SELECT sum(balance) FROM account").Int64(0, 0), 200);
    EXPECT_EQ(Run("SELECT balance FROM account WHERE id = 1").Int64(0, 0), 100);
}

TEST_F(PgConnectionTest, TransactionsThatFailAreRolledBack) {
    Run("CREATE TABLE t (k int PRIMARY KEY)");
    Run("INSERT INTO t VALUES (1)");
    const auto insert = [](PgConnection& db, int k) {
        return db.Exec("INSERT INTO t VALUES ($1)", {std::to_string(k)});
    };
    struct Case {
        const char* name;
        PgConnection::TransactionBody body;
        std::string sqlState; // of the error; "" for one of our own
        int attempts;
    } cases[] = {
        {"the body gives up",
         [&](PgConnection& db) -> std::optional<PgError> {
             insert(db, 2);
             return PgError{"", "not today", false};
         },
         "", 1},
        {"an error the body ignored",
         [&](PgConnection& db) -> std::optional<PgError> {
             insert(db, 2);
             insert(db, 1); // 23505, and every statement after it fails
             insert(db, 3);
             return std::nullopt;
         },
         "23505", 1},
        {"the first error counts, not those that followed it",
         [&](PgConnection& db) -> std::optional<PgError> {
             insert(db, 2);
             db.Exec("SELECT 1 / 0");
             db.Exec("DO $$ BEGIN RAISE EXCEPTION USING ERRCODE = '40001'; END $$");
             return std::nullopt;
         },
         "22012", 1},
        {"a serialization failure the body ignored is still retried",
         [&](PgConnection& db) -> std::optional<PgError> {
             insert(db, 2);
             db.Exec("DO $$ BEGIN RAISE EXCEPTION USING ERRCODE = '40001'; END $$");
             return std::nullopt;
         },
         "40001", 3},
        {"a retryable error is retried until the retries are spent",
         [&](PgConnection& db) -> std::optional<PgError> {
             insert(db, 2);
             return db.Exec("DO $$ BEGIN RAISE EXCEPTION USING ERRCODE = '40P01'; END $$").Error();
         },
         "40P01", 3},
        {"the body ends the transaction itself",
         [&](PgConnection& db) -> std::optional<PgError> {
             db.Exec("ROLLBACK");
             return std::nullopt;
         },
         "", 1},
        {"a transaction inside the transaction",
         [&](PgConnection& db) -> std::optional<PgError> {
             insert(db, 2);
             return db.Transaction([](PgConnection&) { return std::nullopt; }, 0);
         },
         "", 1},
    };
    for (Case& c : cases) {
        int attempts = 0;
        const std::optional<PgError> error = m_db->Transaction(
            [&](PgConnection& db) {
                ++attempts;
                return c.body(db);
            },
            2);
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->sqlState, c.sqlState) << c.name << ": " << error->message;
        EXPECT_FALSE(error->message.empty());
        EXPECT_EQ(attempts, c.attempts) << c.name;
        EXPECT_EQ(Count("t"), 1) << c.name;
    }
    // And one that works.
    const std::optional<PgError> error = m_db->Transaction(
        [&](PgConnection& db) -> std::optional<PgError> {
            const PgResult inserted = insert(db, 2);
            return inserted.Ok() ? std::nullopt : std::optional<PgError>(inserted.Error());
        },
        0);
    EXPECT_FALSE(error) << error->message;
    EXPECT_EQ(Count("t"), 2);
}

TEST_F(PgConnectionTest, FailedConnectionsSayWhyWithoutThePassword) {
    const std::string password = "Correct-Horse-9";
    ASSERT_TRUE(m_cluster.CreatePasswordRole("alice", password, "inventory")) << m_cluster.Error();
    std::string error;
    EXPECT_TRUE(PgConnection::Open(m_cluster.Uri("inventory", "alice", password), error)) << error;

    struct Case {
        std::string uri;
        std::vector<std::string> secrets; // as written and as meant
        std::string says;
    } cases[] = {
        {m_cluster.Uri("inventory", "alice", "Wrong%Pass\n word"),
         {"Wrong%Pass\n word"},
         "password authentication failed"},
        {m_cluster.Uri("inventory", "alice", ""), {}, "no password supplied"},
        {m_cluster.Uri("nowhere", "alice", password), {password}, "does not exist"},
        {m_cluster.Uri("inventory", "bob", "Bobs-Secret-1"), {"Bobs-Secret-1"}, "does not exist"},
        {m_cluster.Uri("nowhere") + "&password=Query-Secret-2",
         {"Query-Secret-2"},
         "does not exist"},
        // Addresses libpq cannot read, whose complaint would quote them.
        {"postgresql://alice:Se%zzcret-3@/inventory", {"Se%zzcret-3"}, "cannot be read"},
        {"postgresql://alice:Secret-4@[::1/inventory", {"Secret-4"}, "cannot be read"},
        {"postgresql:///inventory?pass%77ord=Secret-5&bogus=%zz", {"Secret-5"}, "cannot be read"},
        {"postgresql:///inventory?bogus=1", {}, "\"bogus\""},
        // Read by libpq as host "alice" and port "Se" or "Secret-8x".
        {"postgresql://alice:Se/cret-7@/inventory", {"Se/cret-7", "\"Se\""}, "port"},
        {"postgresql://alice:Secret-8x/y@/inventory", {"Secret-8x"}, "port"},
        {"host=/tmp dbname=inventory password=Secret-6", {"Secret-6"}, "postgresql://"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(PgConnection::Open(c.uri, error)) << c.uri;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.uri << ": " << error;
        EXPECT_TRUE(IsOnePlainLine(error)) << error;
        for (const std::string& secret : c.secrets) {
            EXPECT_EQ(error.find(secret), std::string::npos) << error;
            EXPECT_EQ(error.find(secret.substr(0, 6)), std::string::npos) << error;
        }
    }
}

TEST_F(PgConnectionTest, ServerGoneAndBack) {
    Run("CREATE TABLE t (k int)");
    Run("INSERT INTO t VALUES (1)");
    ASSERT_TRUE(m_cluster.Stop());

    // The connection that was open says so, also inside a transaction, and
    // neither retries nor crashes.
    const PgResult lost = m_db->Exec("SELECT 1");
    EXPECT_FALSE(lost.Ok());
    EXPECT_TRUE(lost.Error().connectionLost);
    EXPECT_NE(lost.Error().message.find("connection"), std::string::npos) << lost.Error().message;
    EXPECT_TRUE(IsOnePlainLine(lost.Error().message)) << lost.Error().message;
    EXPECT_FALSE(m_db->Connected());
    int attempts = 0;
    const auto error = m_db->Transaction(
        [&](PgConnection&) -> std::optional<PgError> {
            ++attempts;
            return std::nullopt;
        },
        5);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->connectionLost);
    EXPECT_EQ(attempts, 0);
    EXPECT_TRUE(m_db->CopyIn("t (k)", {{"2"}}).Error().connectionLost);

    // A new one cannot be had, and is told where it looked.
    std::string why;
    EXPECT_FALSE(PgConnection::Open(m_cluster.Uri("inventory"), why));
    EXPECT_NE(why.find(m_cluster.SocketDirectory()), std::string::npos) << why;
    EXPECT_TRUE(IsOnePlainLine(why)) << why;

    ASSERT_TRUE(m_cluster.Start()) << m_cluster.Error();
    m_db = Connect();
    ASSERT_TRUE(m_db);
    EXPECT_EQ(Count("t"), 1);
}

} // namespace
