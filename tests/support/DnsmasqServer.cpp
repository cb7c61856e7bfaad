#include "tests/support/DnsmasqServer.h"

#include "tests/support/ChildProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDnsmasq = "/usr/sbin/dnsmasq";
constexpr std::chrono::seconds kStartLimit{15};
constexpr std::chrono::seconds kStopLimit{5};
constexpr std::chrono::milliseconds kLookEvery{10};
constexpr int kPortTries = 5;

bool Endpoint(const std::string& address, int port, sockaddr_in& out) {
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(static_cast<std::uint16_t>(port));
    return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

// A port that is free for both UDP and TCP on the address now. dnsmasq may
// still lose it to someone else before it binds; Start then tries another.
int FreePort(const std::string& address) {
    sockaddr_in where{};
    if (!Endpoint(address, 0, where))
        return 0;
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    socklen_t length = sizeof where;
    int port = 0;
    if (udp >= 0 && bind(udp, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
        getsockname(udp, reinterpret_cast<sockaddr*>(&where), &length) == 0) {
        const int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (tcp >= 0 && bind(tcp, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0)
            port = ntohs(where.sin_port);
        if (tcp >= 0)
            close(tcp);
    }
    if (udp >= 0)
        close(udp);
    return port;
}

} // namespace

bool DnsmasqServer::Installed() {
    return access(kDnsmasq, X_OK) == 0;
}

DnsmasqServer::DnsmasqServer() : DnsmasqServer(Options{}) {}

DnsmasqServer::DnsmasqServer(Options options) : m_options(std::move(options)) {}

DnsmasqServer::~DnsmasqServer() {
    Stop();
}

std::string DnsmasqServer::Server() const {
    return m_options.listenAddress + ":" + std::to_string(m_port);
}

bool DnsmasqServer::Start() {
    m_error.clear();
    if (m_pid > 0) {
        m_error = "already running";
        return false;
    }
    if (!Installed()) {
        m_error = std::string(kDnsmasq) + " is not installed (package dnsmasq-base)";
        return false;
    }
    std::string hosts;
    for (const auto& [address, name] : m_options.hosts)
        hosts += address + " " + name + "\n";
    TempDir::WriteFile(m_dir.file("hosts"), hosts);
    for (int attempt = 0; attempt < kPortTries; ++attempt) {
        const int port = FreePort(m_options.listenAddress);
        if (port == 0) {
            m_error = "no free port on " + m_options.listenAddress;
            return false;
        }
        if (StartOn(port))
            return true;
    }
    return false;
}

bool DnsmasqServer::StartOn(int port) {
    const std::string logFile = m_dir.file("log");
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a child of a threaded process.
    std::vector<std::string> words = m_options.commandPrefix;
    const std::vector<std::string> own = {
        kDnsmasq,
        "--no-daemon", // foreground, no pid file, no change of user
        "--conf-file=/dev/null",
        "--no-resolv",
        "--no-hosts",
        "--log-facility=-",
        "--bind-interfaces",
        "--listen-address=" + m_options.listenAddress,
        "--port=" + std::to_string(port),
        "--addn-hosts=" + m_dir.file("hosts"),
    };
    words.insert(words.end(), own.begin(), own.end());
    if (m_options.answerUnknown)
        words.push_back("--local=/in-addr.arpa/");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        if (!ChildProcess::BecomeServerChild(SIGTERM, parent))
            _exit(126);
        const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
            close(log);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    m_pid = pid;

    const Clock::time_point limit = Clock::now() + kStartLimit;
    for (;;) {
        int status = 0;
        if (ChildProcess::Exited(m_pid, status)) {
            m_pid = -1;
            m_error = "dnsmasq ended before it listened (" + ChildProcess::WaitStatusText(status) +
                      "): " + TempDir::ReadFile(logFile);
            return false;
        }
        // It reads the hosts file once its sockets are bound, and says so;
        // the log tells as well from inside another network namespace.
        if (TempDir::ReadFile(logFile).find("read " + m_dir.file("hosts")) != std::string::npos) {
            m_port = port;
            return true;
        }
        if (Clock::now() >= limit) {
            m_error = "dnsmasq did not listen in time: " + TempDir::ReadFile(logFile);
            Stop();
            return false;
        }
        std::this_thread::sleep_for(kLookEvery);
    }
}

void DnsmasqServer::Stop() {
    if (m_pid <= 0)
        return;
    ChildProcess::End(m_pid, kStopLimit);
    m_pid = -1;
}
