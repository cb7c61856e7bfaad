#pragma once
// A real DNS server for tests: Debian's dnsmasq run as the test's own child
// (in the foreground, no configuration but what is given here, no upstream
// servers, not the machine's hosts file), listening on one loopback address
// and a free port. It answers PTR questions for the hosts it is given and,
// as a LAN's router does, NXDOMAIN for every other address; or, told so,
// REFUSED for them (a server that serves no reverse zone).
//
//   DnsmasqServer::Options options;
//   options.hosts = {{"198.18.0.5", "five.lan"}};
//   DnsmasqServer dns(options);
//   ASSERT_TRUE(dns.Start()) << dns.Error();
//   ... ask dns.Server() ("127.0.0.1:PORT") ...
//
// A command prefix (e.g. {"ip", "netns", "exec", "NS"}) runs it in a test
// network namespace. The child gets SIGTERM when the thread that started it
// ends, so a test that dies does not leave it behind.

#include "tests/support/TempDir.h"

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class DnsmasqServer {
public:
    struct Options {
        std::string listenAddress = "127.0.0.1";
        std::vector<std::pair<std::string, std::string>> hosts; // address, name
        bool answerUnknown = true; // NXDOMAIN for other addresses; false: REFUSED
        std::vector<std::string> commandPrefix;
    };

    // Whether Debian's dnsmasq is installed (package dnsmasq-base).
    static bool Installed();

    DnsmasqServer();
    explicit DnsmasqServer(Options options);
    ~DnsmasqServer();
    DnsmasqServer(const DnsmasqServer&) = delete;
    DnsmasqServer& operator=(const DnsmasqServer&) = delete;

    // Starts it on a free port and waits until it listens. False, with
    // Error() saying why (its log included), when it did not come up.
    bool Start();
    // Ends it (SIGTERM, SIGKILL if it lingers) and reaps it.
    void Stop();

    int Port() const { return m_port; }
    // "ADDRESS:PORT", as a resolver's server list takes it.
    std::string Server() const;
    const std::string& Error() const { return m_error; }

private:
    bool StartOn(int port);

    Options m_options;
    TempDir m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_error;
};
