#include "tests/support/PgCluster.h"

#include "tests/support/ChildProcess.h"

#include "platform/postgres/PgConnection.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The server's socket is .s.PGSQL.<port> in the directory, which is the
// test's alone; any port will do.
constexpr int kPort = 5432;
// A loaded machine running tests side by side may be slow to make and start
// a cluster.
constexpr std::chrono::seconds kInitLimit{120};
constexpr std::chrono::seconds kStartLimit{60};
constexpr std::chrono::seconds kStopLimit{30};
constexpr std::chrono::milliseconds kLookEvery{10};
// Members of this role must give their password; everyone else is trusted.
constexpr const char* kPasswordGroup = "kd_password_login";

std::string PercentEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

// The newest Debian-style /usr/lib/postgresql/<version>/bin that has the
// server; empty when none has.
std::string NewestBinDirectory() {
    std::error_code ec;
    std::string best;
    int bestVersion = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string name = entry.path().filename();
        char* end = nullptr;
        const long version = std::strtol(name.c_str(), &end, 10);
        const std::string bin = entry.path().string() + "/bin";
        if (end == name.c_str() || *end != '\0' || version <= bestVersion ||
            access((bin + "/initdb").c_str(), X_OK) != 0 ||
            access((bin + "/postgres").c_str(), X_OK) != 0)
            continue;
        best = bin;
        bestVersion = static_cast<int>(version);
    }
    return best;
}

// Waits up to `limit` for the child to end; true when it did (and was reaped).
bool AwaitExit(pid_t pid, std::chrono::steady_clock::duration limit, int& status) {
    const Clock::time_point end = Clock::now() + limit;
    while (!ChildProcess::Exited(pid, status)) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(kLookEvery);
    }
    return true;
}

std::string Tail(const std::string& text, std::size_t bytes) {
    return text.size() <= bytes ? text : "..." + text.substr(text.size() - bytes);
}

} // namespace

PgCluster::PgCluster(std::string binDirectory)
    : m_binDirectory(std::move(binDirectory)), m_uid(geteuid()), m_gid(getegid()) {}

PgCluster::~PgCluster() {
    Stop();
}

std::string PgCluster::SocketDirectory() const {
    std::string directory = m_dir.path();
    directory.pop_back(); // the '/'
    return directory;
}

std::string PgCluster::Log() const {
    return TempDir::ReadFile(m_dir.file("server.log"));
}

std::string PgCluster::Uri(const std::string& dbname) const {
    return "postgresql:///" + PercentEncoded(dbname) +
           "?host=" + PercentEncoded(SocketDirectory()) + "&port=" + std::to_string(kPort) +
           "&user=" + PercentEncoded(kSuperuser);
}

std::string PgCluster::Uri(const std::string& dbname, const std::string& user,
                           const std::string& password) const {
    std::string userinfo = PercentEncoded(user);
    if (!password.empty())
        userinfo += ":" + PercentEncoded(password);
    return "postgresql://" + userinfo + "@/" + PercentEncoded(dbname) +
           "?host=" + PercentEncoded(SocketDirectory()) + "&port=" + std::to_string(kPort);
}

bool PgCluster::FindBinaries() {
    if (m_binDirectory.empty())
        m_binDirectory = NewestBinDirectory();
    if (m_binDirectory.empty() || access((m_binDirectory + "/initdb").c_str(), X_OK) != 0 ||
        access((m_binDirectory + "/postgres").c_str(), X_OK) != 0) {
        m_binariesMissing = true;
        m_error =
            "the PostgreSQL server is not installed (no initdb and postgres in " +
            (m_binDirectory.empty() ? std::string("/usr/lib/postgresql/*/bin") : m_binDirectory) +
            "; scripts/setup --test installs the package postgresql)";
        return false;
    }
    return true;
}

pid_t PgCluster::Spawn(const std::vector<std::string>& command) {
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a child of a threaded process.
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // A clean environment: PGDATA, PGPORT, ... of the caller must not reach it.
    std::string path = "PATH=/usr/bin:/bin", locale = "LC_ALL=C";
    char* envp[] = {path.data(), locale.data(), nullptr};
    const std::string directory = SocketDirectory();
    const int log =
        open(m_dir.file("server.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        m_error = std::string("cannot open the server log: ") + std::strerror(errno);
        return -1;
    }
    const std::string cannotRun =
        "cannot run " + command.front() + " as the server's user (not there, or not allowed)\n";
    const bool drop = geteuid() == 0;
    const uid_t uid = m_uid;
    const gid_t gid = m_gid;

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        close(log);
        return -1;
    }
    if (pid == 0) {
        if (dup2(log, 1) < 0 || dup2(log, 2) < 0)
            _exit(125);
        const int null = open("/dev/null", O_RDONLY);
        if (null < 0 || dup2(null, 0) < 0)
            _exit(125);
        if (drop && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
            static constexpr char kMessage[] = "cannot become the server's user\n";
            (void)!write(2, kMessage, sizeof kMessage - 1);
            _exit(125);
        }
        // After the change of user, which clears the death signal; SIGQUIT
        // is the server's immediate shutdown.
        if (!ChildProcess::BecomeServerChild(SIGQUIT, parent))
            _exit(126);
        if (chdir(directory.c_str()) != 0)
            _exit(125);
        execve(argv[0], argv.data(), envp);
        (void)!write(2, cannotRun.data(), cannotRun.size());
        _exit(127);
    }
    close(log);
    return pid;
}

bool PgCluster::MakeCluster() {
    if (geteuid() == 0) {
        // postgres will not run as root.
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || nobody->pw_uid == 0) {
            m_error = "running as root, and there is no user nobody to run the server as";
            return false;
        }
        m_uid = nobody->pw_uid;
        m_gid = nobody->pw_gid;
        if (chown(SocketDirectory().c_str(), m_uid, m_gid) != 0) {
            m_error = "cannot give " + SocketDirectory() + " to nobody: " + std::strerror(errno);
            return false;
        }
    }
    // The directory stays 0700, so that only its owner and root reach the
    // socket: the trust of pg_hba.conf is for the test alone.
    sockaddr_un address{};
    const std::string socket = SocketDirectory() + "/.s.PGSQL." + std::to_string(kPort);
    if (socket.size() >= sizeof address.sun_path) {
        m_error = "the temporary directory's path is too long for a Unix socket: " + socket;
        return false;
    }
    // The log file exists before the server's user would make it, so that
    // the test can read it in any case.
    TempDir::WriteFile(m_dir.file("server.log"), "");

    const pid_t pid =
        Spawn({m_binDirectory + "/initdb", "-D", m_dir.file("data"), "-U", kSuperuser, "--no-sync",
               "-A", "trust", "-E", "UTF8", "--locale=C", "--no-instructions"});
    if (pid < 0)
        return false;
    int status = 0;
    if (!AwaitExit(pid, kInitLimit, status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        m_error = "initdb did not finish in time: " + Tail(Log(), 2000);
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        m_error = "initdb failed (" + ChildProcess::WaitStatusText(status) +
                  "): " + Tail(Log(), 2000);
        return false;
    }
    // Only the socket: members of kd_password_login give their password,
    // everyone else is trusted (the directory is the test's own).
    TempDir::WriteFile(m_dir.file("data/pg_hba.conf"), std::string("local all +") + kPasswordGroup +
                                                           " scram-sha-256\n" +
                                                           "local all all trust\n");
    m_made = true;
    return true;
}

bool PgCluster::LaunchServer() {
    // The settings go on the command line, the same at every start.
    // unix_socket_directories is a list: the path goes in double quotes.
    const std::string directory = SocketDirectory();
    if (directory.find('"') != std::string::npos) {
        m_error = "the temporary directory's path holds a double quote: " + directory;
        return false;
    }
    const std::vector<std::string> words = {m_binDirectory + "/postgres",
                                            "-D",
                                            m_dir.file("data"),
                                            "-c",
                                            "listen_addresses=",
                                            "-c",
                                            "unix_socket_directories=\"" + directory + "\"",
                                            "-c",
                                            "unix_socket_permissions=0700",
                                            "-c",
                                            "port=" + std::to_string(kPort),
                                            "-c",
                                            "fsync=off",
                                            "-c",
                                            "synchronous_commit=off",
                                            "-c",
                                            "full_page_writes=off",
                                            "-c",
                                            "shared_buffers=16MB",
                                            "-c",
                                            "max_connections=30",
                                            "-c",
                                            "deadlock_timeout=100ms",
                                            "-c",
                                            "autovacuum=off"};
    m_pid = Spawn(words);
    return m_pid > 0;
}

bool PgCluster::AwaitReady() {
    // postgres writes its pid and, once it takes connections, "ready" as the
    // eighth line of postmaster.pid (what pg_ctl waits for).
    const std::string pidFile = m_dir.file("data/postmaster.pid");
    const Clock::time_point limit = Clock::now() + kStartLimit;
    for (;;) {
        int status = 0;
        if (ChildProcess::Exited(m_pid, status)) {
            m_pid = -1;
            m_error = "the server ended as it started (" + ChildProcess::WaitStatusText(status) +
                      "): " + Tail(Log(), 2000);
            return false;
        }
        std::istringstream lines(TempDir::ReadFile(pidFile));
        std::string line;
        std::vector<std::string> read;
        while (std::getline(lines, line))
            read.push_back(line);
        if (read.size() >= 8 && read[0] == std::to_string(m_pid) && read[7].rfind("ready", 0) == 0)
            return true;
        if (Clock::now() >= limit) {
            m_error = "the server did not take connections in time: " + Tail(Log(), 2000);
            Stop();
            return false;
        }
        std::this_thread::sleep_for(kLookEvery);
    }
}

bool PgCluster::Start() {
    m_error.clear();
    if (Running()) {
        m_error = "the server is running already";
        return false;
    }
    if (!FindBinaries())
        return false;
    if (!m_made && !MakeCluster())
        return false;
    return LaunchServer() && AwaitReady();
}

bool PgCluster::Stop() {
    if (m_pid <= 0)
        return true;
    int status = 0;
    bool clean = true;
    // Fast shutdown; immediate if that hangs; then no more asking.
    kill(m_pid, SIGINT);
    if (!AwaitExit(m_pid, kStopLimit, status)) {
        clean = false;
        kill(m_pid, SIGQUIT);
        if (!AwaitExit(m_pid, std::chrono::seconds(5), status)) {
            kill(m_pid, SIGKILL);
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    m_pid = -1;
    return clean;
}

bool PgCluster::RunAsSuperuser(const std::string& dbname, const std::string& sql,
                               const std::vector<std::string>& params) {
    std::string error;
    const std::unique_ptr<PgConnection> connection = PgConnection::Open(Uri(dbname), error);
    if (!connection) {
        m_error = error;
        return false;
    }
    // A statement such as CREATE DATABASE takes no parameters: the server
    // itself quotes the names and texts into it (format's %I and %L).
    PgValues values(params.begin(), params.end());
    const PgResult made = connection->Exec(sql, values);
    if (!made.Ok() || made.Rows() != 1) {
        m_error = made.Ok() ? "no statement was made" : made.Error().message;
        return false;
    }
    const PgResult done = connection->Exec(made.Text(0, 0));
    if (!done.Ok()) {
        m_error = done.Error().message;
        return false;
    }
    return true;
}

bool PgCluster::CreateDatabase(const std::string& name) {
    m_error.clear();
    return RunAsSuperuser("postgres", "SELECT format('CREATE DATABASE %I', $1::text)", {name});
}

bool PgCluster::CreatePasswordRole(const std::string& name, const std::string& password,
                                   const std::string& dbname) {
    m_error.clear();
    return RunAsSuperuser("postgres",
                          "SELECT CASE WHEN EXISTS (SELECT FROM pg_roles WHERE rolname = $1::text)"
                          " THEN 'SELECT' ELSE format('CREATE ROLE %I NOLOGIN', $1::text) END",
                          {kPasswordGroup}) &&
           RunAsSuperuser("postgres",
                          "SELECT format('CREATE ROLE %I LOGIN PASSWORD %L IN ROLE %I',"
                          " $1::text, $2::text, $3::text)",
                          {name, password, kPasswordGroup}) &&
           RunAsSuperuser(dbname, "SELECT format('GRANT ALL ON SCHEMA public TO %I', $1::text)",
                          {name});
}
