// Reverse lookups against real DNS peers on loopback: Debian's dnsmasq, and
// UDP sockets the test holds (silent, or answering with bytes it makes).
// Each lookup is driven by an epoll loop as the scan engine's is.

#include "platform/dns/ReverseLookups.h"

#include "platform/text/TextCodec.h"
#include "platform/wire/DottedQuad.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DnsmasqServer.h"
#include "tests/support/ReverseLookupLoop.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Outcome = ReverseLookups::Outcome;

// Long enough that an answer in a test can only come from a reply (or a
// refusal), never from a time-out running out.
constexpr std::chrono::milliseconds kNeverTimesOut = 60s;
constexpr std::chrono::milliseconds kLoopLimit = 20s;

std::uint32_t Ip(const char* text) {
    std::uint32_t address = 0;
    EXPECT_TRUE(ParseDottedQuad(text, address)) << text;
    return address;
}

std::unique_ptr<ReverseLookups> Make(ReverseLookups::Options options) {
    std::string error;
    auto lookups = ReverseLookups::Create(options, error);
    EXPECT_TRUE(lookups) << error;
    return lookups;
}

#define SKIP_WITHOUT_DNSMASQ()                                                                     \
    if (!DnsmasqServer::Installed()) {                                                             \
        GTEST_SKIP() << "dnsmasq is not installed (scripts/setup --test installs dnsmasq-base)";   \
    }

// A DNS peer the test holds: a UDP socket on loopback that counts the
// questions it gets and answers each with a PTR record of `name`, or not at
// all while `name` is unset.
class ScriptedPeer {
public:
    explicit ScriptedPeer(const char* address = "127.0.0.1") {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        inet_pton(AF_INET, address, &where.sin_addr);
        socklen_t length = sizeof where;
        EXPECT_EQ(bind(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&where), &length);
        m_server = std::string(address) + ":" + std::to_string(ntohs(where.sin_port));
    }
    ~ScriptedPeer() { close(m_fd); }

    void WatchFrom(ReverseLookupLoop& loop) {
        loop.Watch(m_fd, [this] { Read(); });
    }
    const std::string& Server() const { return m_server; }

    std::optional<std::string> name; // the answer's name as raw bytes, one label per dot
    int questions = 0;

private:
    void Read() {
        unsigned char query[512];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t size =
            recvfrom(m_fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (size < 12)
            return;
        ++questions;
        if (!name)
            return;
        // The question as it came, then one answer pointing at its name.
        std::string reply(reinterpret_cast<char*>(query), static_cast<std::size_t>(size));
        reply[2] = static_cast<char>(0x81); // response, recursion desired
        reply[3] = static_cast<char>(0x80); // recursion available, NOERROR
        reply[7] = 1;                       // one answer
        std::string rdata;
        std::size_t start = 0;
        for (;;) {
            const std::size_t dot = name->find('.', start);
            const std::string label = name->substr(start, dot - start);
            rdata += static_cast<char>(label.size()) + label;
            if (dot == std::string::npos)
                break;
            start = dot + 1;
        }
        rdata += '\0';
        reply += std::string("\xC0\x0C\x00\x0C\x00\x01\x00\x00\x00\x3C", 10);
        reply += static_cast<char>(rdata.size() >> 8);
        reply += static_cast<char>(rdata.size() & 0xFF);
        reply += rdata;
        sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
    }

    int m_fd = -1;
    std::string m_server;
};

// What dnsmasq knows in the tests that use it.
DnsmasqServer::Options KnownHosts() {
    DnsmasqServer::Options options;
    options.hosts = {{"198.18.0.5", "five.lan"}, {"198.18.0.6", "pc-six"}};
    return options;
}

struct ServerCase {
    const char* what;
    // 'n': dnsmasq (NXDOMAIN for others), 'r': dnsmasq refusing others,
    // 'c': nothing listening; several letters: several servers in that order.
    const char* servers;
    const char* address;
    Outcome outcome;
    const char* name;
};

// Every answer comes from the server, not from a time-out: the try waits a minute.
TEST(ReverseLookupsTest, OutcomeIsWhatTheServersSaid) {
    SKIP_WITHOUT_DNSMASQ();
    DnsmasqServer nx(KnownHosts()),
        refusing(DnsmasqServer::Options{.hosts = {}, .answerUnknown = false, .commandPrefix = {}});
    ASSERT_TRUE(nx.Start()) << nx.Error();
    ASSERT_TRUE(refusing.Start()) << refusing.Error();
    // A port that was free a moment ago: nothing listens there.
    const std::string nothing = ScriptedPeer("127.0.0.3").Server();

    const ServerCase cases[] = {
        {"known", "n", "198.18.0.5", Outcome::Named, "five.lan"},
        {"known, another", "n", "198.18.0.6", Outcome::Named, "pc-six"},
        {"NXDOMAIN", "n", "198.18.0.9", Outcome::NoName, ""},
        {"refused by the only server", "r", "198.18.0.5", Outcome::Refused, ""},
        {"nothing listens", "c", "198.18.0.5", Outcome::NoServer, ""},
        {"refused, then the next server", "rn", "198.18.0.5", Outcome::Named, "five.lan"},
        {"nothing listens, then the next", "cn", "198.18.0.6", Outcome::Named, "pc-six"},
        {"every server refuses or is gone", "rc", "198.18.0.5", Outcome::NoServer, ""},
    };
    for (const ServerCase& c : cases) {
        SCOPED_TRACE(c.what);
        ReverseLookups::Options options;
        options.tryTimeout = kNeverTimesOut;
        options.hostsFile = false;
        for (const char* s = c.servers; *s != '\0'; ++s) {
            options.servers += options.servers.empty() ? "" : ",";
            options.servers += *s == 'n' ? nx.Server() : *s == 'r' ? refusing.Server() : nothing;
        }
        auto lookups = Make(options);
        ASSERT_TRUE(lookups);
        ReverseLookupLoop loop(*lookups);
        lookups->Ask(Ip(c.address), 42);
        ASSERT_TRUE(loop.Run(kLoopLimit));
        ASSERT_EQ(loop.answers.size(), 1u);
        EXPECT_EQ(loop.answers[0].address, Ip(c.address));
        EXPECT_EQ(loop.answers[0].token, 42u);
        EXPECT_EQ(loop.answers[0].outcome, c.outcome);
        EXPECT_EQ(loop.answers[0].name, c.name);
        EXPECT_EQ(loop.Sockets(), 0u) << "every socket opened was said closed";
    }
}

// A server that never answers: the lookup ends as timed out, having asked
// each server once a try, within the bound the owner set.
TEST(ReverseLookupsTest, SilentServersEndWithinTheBound) {
    struct Case {
        int tries;
        int servers;
    } const cases[] = {{1, 1}, {3, 1}, {2, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.tries) + " tries, " + std::to_string(c.servers) + " servers");
        std::vector<std::unique_ptr<ScriptedPeer>> peers;
        ReverseLookups::Options options;
        options.tryTimeout = 40ms;
        options.tries = c.tries;
        for (int i = 0; i < c.servers; ++i) {
            peers.push_back(std::make_unique<ScriptedPeer>());
            options.servers += (i ? "," : "") + peers.back()->Server();
        }
        auto lookups = Make(options);
        ASSERT_TRUE(lookups);
        ReverseLookupLoop loop(*lookups);
        for (auto& peer : peers)
            peer->WatchFrom(loop);
        lookups->Ask(Ip("198.18.0.1"), 1);
        lookups->Ask(Ip("198.18.0.2"), 2);
        const int first = lookups->NextTimeoutMs();
        EXPECT_GE(first, 0);
        EXPECT_LE(first, 40);
        ASSERT_TRUE(loop.Run(lookups->LookupBound() + 5s)) << "not ended within the bound";
        ASSERT_EQ(loop.answers.size(), 2u);
        for (const auto& answer : loop.answers)
            EXPECT_EQ(answer.outcome, Outcome::TimedOut);
        for (auto& peer : peers)
            EXPECT_EQ(peer->questions, 2 * c.tries) << "each lookup asks each server once a try";
        EXPECT_EQ(lookups->NextTimeoutMs(), -1);
    }
}

// 1000 lookups asked at once all end, each once, with the right answer.
TEST(ReverseLookupsTest, AThousandAtOnceAllEnd) {
    SKIP_WITHOUT_DNSMASQ();
    DnsmasqServer::Options known;
    for (int i = 0; i < 1000; i += 10)
        known.hosts.push_back({"198.18." + std::to_string(i / 250) + "." + std::to_string(i % 250),
                               "host" + std::to_string(i)});
    DnsmasqServer dns(known);
    ASSERT_TRUE(dns.Start()) << dns.Error();
    ReverseLookups::Options options;
    options.servers = dns.Server();
    options.hostsFile = false;
    options.tryTimeout = 500ms;
    options.tries = 4; // an answer dropped by a full socket buffer is asked again
    auto lookups = Make(options);
    ASSERT_TRUE(lookups);
    ReverseLookupLoop loop(*lookups);
    const std::uint32_t base = Ip("198.18.0.0");
    for (int i = 0; i < 1000; ++i)
        lookups->Ask(base + static_cast<std::uint32_t>((i / 250) << 8 | (i % 250)), 5000 + i);
    EXPECT_EQ(lookups->Pending(), 1000u);
    ASSERT_TRUE(loop.Run(60s));
    ASSERT_EQ(loop.answers.size(), 1000u);
    std::set<std::uint64_t> tokens;
    for (const auto& answer : loop.answers) {
        const int i = static_cast<int>(answer.token - 5000);
        ASSERT_TRUE(tokens.insert(answer.token).second) << "answered twice: " << i;
        EXPECT_EQ(answer.address, base + static_cast<std::uint32_t>((i / 250) << 8 | (i % 250)));
        EXPECT_EQ(answer.outcome, i % 10 == 0 ? Outcome::Named : Outcome::NoName) << i;
        EXPECT_EQ(answer.name, i % 10 == 0 ? "host" + std::to_string(i) : "") << i;
    }
    EXPECT_EQ(loop.Sockets(), 0u);
}

// Stopping: every lookup, sent or still waiting its turn, ends at once
// without the loop turning, and the object asks again afterwards.
TEST(ReverseLookupsTest, CancelAllEndsEverythingAtOnce) {
    ScriptedPeer peer;
    ReverseLookups::Options options;
    options.servers = peer.Server();
    options.tryTimeout = kNeverTimesOut;
    options.maxInFlight = 50;
    auto lookups = Make(options);
    ASSERT_TRUE(lookups);
    ReverseLookupLoop loop(*lookups);
    peer.WatchFrom(loop);
    for (std::uint64_t i = 0; i < 300; ++i)
        lookups->Ask(Ip("198.18.1.0") + static_cast<std::uint32_t>(i), i);
    loop.Collect();
    EXPECT_GT(loop.Sockets(), 0u);

    lookups->CancelAll();
    EXPECT_EQ(lookups->Pending(), 0u);
    EXPECT_EQ(lookups->NextTimeoutMs(), -1);
    loop.Collect();
    ASSERT_EQ(loop.answers.size(), 300u);
    std::set<std::uint64_t> tokens;
    for (const auto& answer : loop.answers) {
        EXPECT_EQ(answer.outcome, Outcome::Cancelled);
        tokens.insert(answer.token);
    }
    EXPECT_EQ(tokens.size(), 300u);
    EXPECT_EQ(loop.Sockets(), 0u);

    loop.answers.clear();
    peer.name = "after.cancel";
    lookups->Ask(Ip("198.18.2.1"), 7);
    ASSERT_TRUE(loop.Run(kLoopLimit));
    ASSERT_EQ(loop.answers.size(), 1u);
    EXPECT_EQ(loop.answers[0].name, "after.cancel");
    EXPECT_LE(peer.questions, 51) << "no lookup beyond the limit at once was sent";
}

// Names from a hostile server reach the caller as plain text or not at all.
TEST(ReverseLookupsTest, NamesArePlainText) {
    struct Case {
        std::string bytes;
        Outcome outcome; // as Debian 12's c-ares reads the reply
        const char* name;
    } const cases[] = {
        {"ok-host.lan", Outcome::Named, "ok-host.lan"}, {"evil\x1b[2J.lan", Outcome::Failed, ""},
        {"two\r\nlines", Outcome::Failed, ""},          {"caf\xc3\xa9.lan", Outcome::Failed, ""},
        {"bad\xff\xfe", Outcome::Failed, ""},           {"=cmd|' /C calc'!A0", Outcome::Failed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        peer.name = c.bytes;
        ReverseLookups::Options options;
        options.servers = peer.Server();
        options.tryTimeout = kNeverTimesOut;
        auto lookups = Make(options);
        ASSERT_TRUE(lookups);
        ReverseLookupLoop loop(*lookups);
        peer.WatchFrom(loop);
        lookups->Ask(Ip("198.18.3.3"), 3);
        ASSERT_TRUE(loop.Run(kLoopLimit));
        ASSERT_EQ(loop.answers.size(), 1u);
        const std::string& name = loop.answers[0].name;
        EXPECT_EQ(PlainUtf8(name, 1000), name);
        EXPECT_EQ(name.find_first_of("\r\n\x1b"), std::string::npos);
        EXPECT_EQ(loop.answers[0].outcome, c.outcome);
        EXPECT_EQ(name, c.name);
    }
}

// The hosts file comes before DNS when asked for. c-ares reads only
// /etc/hosts for addresses, so a child puts the test's file there, in a
// mount namespace of its own.
TEST(ReverseLookupsTest, HostsFileFirstWhenAsked) {
    SKIP_WITHOUT_DNSMASQ();
    DnsmasqServer dns(KnownHosts());
    ASSERT_TRUE(dns.Start()) << dns.Error();
    TempDir dir;
    // c-ares reads the names of the hosts file as they are: the last two
    // reach the caller only as plain text.
    TempDir::WriteFile(dir.file("hosts"), "198.18.0.5 from-file\n198.18.0.7 seven-file\n"
                                          "198.18.0.8 esc\x1b[2Jape\n198.18.0.9 bad\xff-utf8\n");
    struct Case {
        bool hostsFile;
        const char* address;
        const char* name;
    } const cases[] = {
        {true, "198.18.0.5", "from-file"},
        {false, "198.18.0.5", "five.lan"},
        {true, "198.18.0.7", "seven-file"},
        {false, "198.18.0.7", ""},
        {true, "198.18.0.6", "pc-six"},
        {true, "198.18.0.8", "esc.[2Jape"},
        {true, "198.18.0.9", "bad\xef\xbf\xbd-utf8"},
    };
    const int code = ChildProcess::Run([&] {
        if (!ChildProcess::BindPrivate(dir.file("hosts"), "/etc/hosts"))
            return ChildProcess::kCannotSetUp;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.address) + (c.hostsFile ? " file first" : " DNS only"));
            ReverseLookups::Options options;
            options.servers = dns.Server();
            options.hostsFile = c.hostsFile;
            options.tryTimeout = kNeverTimesOut;
            auto lookups = Make(options);
            ReverseLookupLoop loop(*lookups);
            lookups->Ask(Ip(c.address), 1);
            EXPECT_TRUE(loop.Run(kLoopLimit));
            EXPECT_EQ(loop.answers.size(), 1u);
            if (!loop.answers.empty()) {
                EXPECT_EQ(loop.answers[0].name, c.name);
            }
        }
        return 0;
    });
    if (code == ChildProcess::kCannotSetUp)
        GTEST_SKIP() << "a private mount namespace needs root";
    EXPECT_EQ(code, 0);
}

TEST(ReverseLookupsTest, UnreadableServerListIsAnError) {
    for (const char* servers : {"not-an-address", "127.0.0.1:53,,x"}) {
        SCOPED_TRACE(servers);
        ReverseLookups::Options options;
        options.servers = servers;
        std::string error;
        EXPECT_FALSE(ReverseLookups::Create(options, error));
        EXPECT_NE(error.find(servers), std::string::npos) << error;
    }
}

} // namespace
