// Reverse lookups of a whole /16 less its .0 and .255 addresses (65024)
// through one local dnsmasq that knows one in a hundred of them and says
// NXDOMAIN for the rest, driven by an epoll loop as the scan engine's is.
// Prints, for each number of lookups out at once, the wall time, the
// lookups a second, how each ended, the epoll waits, and the memory the
// process grew by: with every lookup asked (most of them waiting their turn)
// and with every answer kept by the loop; and the process's peak. The hosts file step is on in
// the last run: c-ares reads /etc/hosts once for every lookup.
//
//   reverse_lookups_bench [IN_FLIGHT ...]     (default 32 128 512, then 128 with the hosts file)

#include "platform/dns/ReverseLookups.h"
#include "tests/support/DnsmasqServer.h"
#include "tests/support/ReverseLookupLoop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBase = 0xC6120000; // 198.18.0.0/16, asked about, never sent to

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

const char* OutcomeName(ReverseLookups::Outcome outcome) {
    switch (outcome) {
    case ReverseLookups::Outcome::Named:
        return "named";
    case ReverseLookups::Outcome::NoName:
        return "no name";
    case ReverseLookups::Outcome::NoServer:
        return "no server";
    case ReverseLookups::Outcome::Refused:
        return "refused";
    case ReverseLookups::Outcome::TimedOut:
        return "timed out";
    case ReverseLookups::Outcome::Cancelled:
        return "cancelled";
    case ReverseLookups::Outcome::Failed:
        return "failed";
    }
    return "?";
}

std::vector<std::uint32_t> Addresses() {
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t third = 0; third < 256; ++third)
        for (std::uint32_t fourth = 1; fourth < 255; ++fourth)
            addresses.push_back(kBase | third << 8 | fourth);
    return addresses;
}

bool Run(const std::string& server, const std::vector<std::uint32_t>& addresses,
         std::size_t inFlight, bool hostsFile) {
    ReverseLookups::Options options;
    options.servers = server;
    options.hostsFile = hostsFile;
    options.maxInFlight = inFlight;
    std::string error;
    auto lookups = ReverseLookups::Create(options, error);
    if (!lookups) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    const long residentBefore = ResidentKiB();
    const Clock::time_point start = Clock::now();
    ReverseLookupLoop loop(*lookups);
    for (std::size_t i = 0; i < addresses.size(); ++i)
        lookups->Ask(addresses[i], i);
    const long residentAsked = ResidentKiB();
    const bool ended = loop.Run(std::chrono::minutes(5));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long residentAfter = ResidentKiB();

    std::map<std::string, int> outcomes;
    for (const auto& answer : loop.answers)
        ++outcomes[OutcomeName(answer.outcome)];
    std::printf("%6zu at once%s: %zu lookups in %.2f s (%.0f a second), %ld epoll waits, "
                "%zu sockets at most; resident +%ld KiB with all asked, +%ld KiB with every answer "
                "kept (peak %ld KiB)%s\n      ",
                inFlight, hostsFile ? " + hosts file" : "", loop.answers.size(), seconds,
                static_cast<double>(loop.answers.size()) / seconds, loop.waits, loop.mostSockets,
                residentAsked - residentBefore, residentAfter - residentBefore, PeakKiB(),
                ended ? "" : ", NOT ALL ENDED");
    for (const auto& [what, count] : outcomes)
        std::printf(" %s %d", what.c_str(), count);
    std::printf("\n");
    return ended;
}

} // namespace

int main(int argc, char** argv) {
    if (!DnsmasqServer::Installed()) {
        std::fprintf(stderr, "dnsmasq is not installed (scripts/setup --test)\n");
        return 1;
    }
    const std::vector<std::uint32_t> addresses = Addresses();
    DnsmasqServer::Options known;
    for (std::size_t i = 0; i < addresses.size(); i += 100) {
        const std::uint32_t a = addresses[i];
        known.hosts.push_back(
            {"198.18." + std::to_string(a >> 8 & 0xFF) + "." + std::to_string(a & 0xFF),
             "host-" + std::to_string(i) + ".lan"});
    }
    DnsmasqServer dns(known);
    if (!dns.Start()) {
        std::fprintf(stderr, "%s\n", dns.Error().c_str());
        return 1;
    }
    std::printf("%zu addresses, %zu known to dnsmasq at %s\n", addresses.size(), known.hosts.size(),
                dns.Server().c_str());

    std::vector<std::size_t> inFlight;
    for (int i = 1; i < argc; ++i)
        inFlight.push_back(static_cast<std::size_t>(std::atol(argv[i])));
    const bool given = !inFlight.empty();
    if (!given)
        inFlight = {32, 128, 512};
    // Each run in a process of its own, so that one run's memory figures do
    // not include what an earlier run freed and kept.
    const auto runAlone = [&](std::size_t n, bool hostsFile) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            const bool ended = Run(dns.Server(), addresses, n, hostsFile);
            std::fflush(stdout);
            _exit(ended ? 0 : 1); // the server is the parent's to stop
        }
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    };
    bool ok = true;
    for (const std::size_t n : inFlight)
        ok = runAlone(n, false) && ok;
    if (!given)
        ok = runAlone(128, true) && ok;
    return ok ? 0 : 1;
}
