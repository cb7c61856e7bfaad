#pragma once
// A throwaway PostgreSQL server for tests: a cluster of its own made with the
// distribution's binaries (initdb, postgres) in a fresh temporary directory,
// listening only on a Unix socket in that directory -- never on the network,
// never the machine's own cluster. Made for speed, not safety (no fsync).
//
//   PgCluster cluster;
//   KD_START_PG_CLUSTER(cluster);
//   ASSERT_TRUE(cluster.CreateDatabase("inventory")) << cluster.Error();
//   ... PgConnection::Open(cluster.Uri("inventory"), error) ...
//
// As root, the server runs as `nobody` (postgres refuses to run as root),
// which owns the directory; otherwise as the test's own user. The server is
// told to end (SIGQUIT) when the thread that started it ends, so a test that
// dies does not leave it behind; start it from the thread that keeps the
// object.

#include "tests/support/TempDir.h"

#include <string>
#include <sys/types.h>
#include <vector>

class PgCluster {
public:
    // The cluster's superuser, who connects without a password.
    static constexpr const char* kSuperuser = "kd_test";

    // `binDirectory` holds initdb and postgres; empty: the newest
    // /usr/lib/postgresql/<version>/bin (Debian's layout).
    explicit PgCluster(std::string binDirectory = {});
    // Stops the server and removes the directory.
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // The first time makes the cluster, then starts the server and waits
    // until it takes connections; after a Stop(), starts it again on the same
    // directory and socket. False, with Error() saying why, when it did not
    // come up; BinariesMissing() tells whether that was because the server's
    // binaries are not installed.
    bool Start();
    // Ends the server (fast shutdown: open connections are cut) and waits for
    // it. False when it had to be killed.
    bool Stop();
    bool Running() const { return m_pid > 0; }

    bool BinariesMissing() const { return m_binariesMissing; }
    const std::string& Error() const { return m_error; }

    // postgresql:///DBNAME?host=SOCKET-DIRECTORY&port=...&user=kd_test; with
    // a user (and a password), postgresql://USER[:PASSWORD]@/DBNAME?host=...
    // Every part percent-encoded.
    std::string Uri(const std::string& dbname) const;
    std::string Uri(const std::string& dbname, const std::string& user,
                    const std::string& password) const;
    // The directory that holds the server's socket (and the cluster).
    std::string SocketDirectory() const;

    // A new, empty database owned by the superuser.
    bool CreateDatabase(const std::string& name);
    // A role that may log in only with its password (scram-sha-256) and may
    // use the database `dbname`.
    bool CreatePasswordRole(const std::string& name, const std::string& password,
                            const std::string& dbname);

    // What the server wrote to its log so far.
    std::string Log() const;

private:
    bool FindBinaries();
    bool MakeCluster();
    bool LaunchServer();
    bool AwaitReady();
    // Runs the server's binaries as the server's user with a clean
    // environment, output to the log; -1 when it could not be started.
    pid_t Spawn(const std::vector<std::string>& words);
    bool RunAsSuperuser(const std::string& dbname, const std::string& sql,
                        const std::vector<std::string>& params);

    std::string m_binDirectory;
    TempDir m_dir;
    bool m_made = false;
    bool m_binariesMissing = false;
    uid_t m_uid;
    gid_t m_gid;
    pid_t m_pid = -1;
    std::string m_error;
};

// Starts `cluster` in a test body or SetUp, returning from it: a skip on a
// machine without the server's binaries, a failure, with the binaries' own
// words, when they do not work.
#define KD_START_PG_CLUSTER(cluster)                                                             \
    do {                                                                                         \
        if (!(cluster).Start()) {                                                                \
            if ((cluster).BinariesMissing())                                                     \
                GTEST_SKIP() << (cluster).Error();                                               \
            FAIL() << (cluster).Error();                                                         \
        }                                                                                        \
    } while (false)
