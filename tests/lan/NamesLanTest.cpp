// Names from other sources than NetBIOS on the test LAN: hosts that name
// themselves over mDNS (avahi-daemon) and LLMNR (our responder), names in
// the LAN's DNS server (dnsmasq), and a host whose LLMNR answers are hostile.
// Asked from inside the client namespace through the program's own PTR codec
// and reverse lookups, as the event-driven engine asks them.

#include "platform/dns/ReverseLookups.h"
#include "platform/wire/PtrQuery.h"
#include "tests/lan/LanTest.h"
#include "tests/lan/ScanRun.h"
#include "tests/lan/TestLanTruth.h"
#include "tests/support/JsonLinesValidator.h"
#include "tests/support/ReverseLookupLoop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Role = TestLanHost::Role;
using Source = HostRecord::NameSource;
using Behaviour = LlmnrResponder::Behaviour;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

// Bounds the wait for answers that never come (a host with nothing on the
// port, or one that drops everything); not a measure.
constexpr std::chrono::milliseconds kPatience{3000};

class NamesLanTest : public LanTest {};

// What a host did with the PTR query for its own address.
struct PtrOutcome {
    bool replied = false; // a datagram came back
    PtrAnswer answer;     // the reader's verdict on it
};

// Sends the PTR query for each address to that address's `port` from a
// connected socket of its own (so from an ephemeral port, and port
// unreachable ends the wait), all at once, and reads each reply as
// `protocol`.
std::map<std::uint32_t, PtrOutcome> AskEach(const std::vector<std::uint32_t>& addresses,
                                            std::uint16_t port, PtrProtocol protocol) {
    constexpr std::uint16_t kId = 0x6E61;
    std::map<std::uint32_t, PtrOutcome> outcomes;
    std::vector<pollfd> waiting;
    std::map<int, std::uint32_t> asked;
    for (const std::uint32_t address : addresses) {
        outcomes[address] = {};
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ADD_FAILURE() << "socket: " << errno;
            continue;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(address);
        const std::vector<unsigned char> query = BuildPtrQuery(address, kId);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
            send(fd, query.data(), query.size(), 0) != static_cast<ssize_t>(query.size())) {
            ADD_FAILURE() << "cannot ask " << AddressToText(address) << ": " << errno;
            close(fd);
            continue;
        }
        waiting.push_back({fd, POLLIN, 0});
        asked[fd] = address;
    }
    std::vector<unsigned char> reply(65536);
    const Clock::time_point deadline = Clock::now() + kPatience;
    while (!waiting.empty() && Clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(waiting.data(), waiting.size(), static_cast<int>(left.count()) + 1) <= 0)
            continue;
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (it->revents == 0) {
                ++it;
                continue;
            }
            PtrOutcome& outcome = outcomes[asked[it->fd]];
            const ssize_t length = recv(it->fd, reply.data(), reply.size(), 0);
            if (length >= 0) {
                outcome.replied = true;
                outcome.answer = ReadPtrAnswer(reply.data(), static_cast<std::size_t>(length), kId,
                                               asked[it->fd], protocol);
            }
            close(it->fd);
            it = waiting.erase(it);
        }
    }
    for (const pollfd& left : waiting)
        close(left.fd);
    return outcomes;
}

std::vector<std::string> TextsOf(const std::vector<HostRecord::Name>& names, Source source) {
    std::vector<std::string> texts;
    for (const HostRecord::Name& name : names)
        if (name.source == source)
            texts.push_back(name.text);
    return texts;
}

// Every host that is there hears the queries; only those with a name of
// the source reply, and with exactly the names the truth gives them (the
// hostile host's first mode names another address, which the reader
// refuses). Asked at once, as the engine asks them.
TEST_F(NamesLanTest, HostsAnswerMdnsAndLlmnrForTheirOwnNamesAndNoOthersDo) {
    const TestLanTruth truth(lan());
    std::vector<std::uint32_t> addresses;
    for (const TestLanHost& host : lan().hosts())
        if (host.role != Role::Silent && host.role != Role::Client)
            addresses.push_back(AddressFromText(host.address));
    const struct {
        Source source;
        std::uint16_t port;
        PtrProtocol protocol;
    } sources[] = {{Source::Mdns, kMdnsPort, PtrProtocol::Mdns},
                   {Source::Llmnr, kLlmnrPort, PtrProtocol::Llmnr}};
    for (const auto& s : sources) {
        SCOPED_TRACE(HostRecord::SourceText(s.source));
        const auto outcomes = AskEach(addresses, s.port, s.protocol);
        std::size_t answering = 0;
        for (const std::uint32_t address : addresses) {
            const TestLanHost& host = *lan().Find(AddressToText(address));
            SCOPED_TRACE(host.address);
            const PtrOutcome& outcome = outcomes.at(address);
            const bool answers = !host.OtherName(s.source).empty();
            EXPECT_EQ(outcome.replied, answers);
            const std::vector<std::string> wanted = TextsOf(truth.NamesFor(address), s.source);
            EXPECT_EQ(outcome.answer.accepted() ? outcome.answer.names : std::vector<std::string>{},
                      wanted)
                << PtrAnswerCheckName(outcome.answer.check);
            answering += answers;
        }
        EXPECT_GE(answering, 2u) << "too few hosts of the layout answer this way";
    }
}

// The client namespace's resolver configuration points at the LAN's DNS
// server: a lookup of every address of the layout, and of a few of the
// routed prefix, gets the layout's DNS name or NXDOMAIN, at once.
TEST_F(NamesLanTest, TheLansDnsServerNamesItsHostsAndKnowsNoOthers) {
    ASSERT_TRUE(lan().dns()) << "the layout has no DNS server";
    const TestLanTruth truth(lan());
    ReverseLookups::Options options; // the servers of /etc/resolv.conf
    options.hostsFile = false;       // the machine's, not the LAN's
    std::string error;
    const auto lookups = ReverseLookups::Create(options, error);
    ASSERT_TRUE(lookups) << error;
    std::vector<std::uint32_t> asked;
    for (const TestLanHost& host : lan().hosts())
        asked.push_back(AddressFromText(host.address));
    if (const TestLanHost* wide = lan().wide())
        for (std::uint32_t offset : {2u, 3u, 258u})
            asked.push_back(wide->routed.network + offset);
    for (std::size_t i = 0; i < asked.size(); ++i)
        lookups->Ask(asked[i], i);
    ReverseLookupLoop loop(*lookups);
    ASSERT_TRUE(loop.Run(std::chrono::seconds(30)));
    ASSERT_EQ(loop.answers.size(), asked.size());
    std::size_t named = 0;
    for (const ReverseLookups::Answer& answer : loop.answers) {
        SCOPED_TRACE(AddressToText(answer.address));
        ASSERT_LT(answer.token, asked.size());
        EXPECT_EQ(answer.address, asked[answer.token]);
        const std::vector<std::string> wanted =
            TextsOf(truth.NamesFor(answer.address), Source::Dns);
        EXPECT_EQ(answer.outcome, wanted.empty() ? ReverseLookups::Outcome::NoName
                                                 : ReverseLookups::Outcome::Named);
        EXPECT_EQ(answer.name, wanted.empty() ? "" : wanted.front());
        named += !wanted.empty();
    }
    EXPECT_GE(named, 2u) << "the layout names too few hosts in the DNS";
}

// Each mode of the hostile host, on the wire: the reader refuses what must
// be refused and says why, keeps a few of a thousand names, and escapes
// control characters. The truth's names for the host agree.
TEST_F(NamesLanTest, TheHostileResponderIsReadAsItsModeDeserves) {
    const std::vector<TestLanHost> hostile = lan().WithRole(Role::Hostile);
    ASSERT_EQ(hostile.size(), 1u);
    const std::uint32_t address = AddressFromText(hostile.front().address);
    const std::string name = hostile.front().OtherName(Source::Llmnr);
    std::vector<std::string> thousand;
    for (std::size_t i = 0; i < kPtrAnswerMaxNames; ++i)
        thousand.push_back(name + "-" + std::to_string(i));
    const struct {
        const char* mode;
        PtrAnswerCheck check;
        std::vector<std::string> names;
        unsigned inAnswer;
    } cases[] = {{"honest", PtrAnswerCheck::Accepted, {name}, 1},
                 {"other-address", PtrAnswerCheck::ForeignAnswer, {}, 0},
                 {"thousand", PtrAnswerCheck::Accepted, thousand, 1000},
                 {"loop", PtrAnswerCheck::BadName, {}, 0},
                 {"long-name", PtrAnswerCheck::BadName, {}, 0},
                 {"control", PtrAnswerCheck::Accepted, {name + "\\007\\027[2J\\010"}, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Change mode(std::string("hostile ") + c.mode, "hostile");
        ASSERT_TRUE(mode.on());
        const PtrOutcome outcome = AskEach({address}, kLlmnrPort, PtrProtocol::Llmnr).at(address);
        ASSERT_TRUE(outcome.replied);
        EXPECT_EQ(outcome.answer.check, c.check) << PtrAnswerCheckName(outcome.answer.check);
        EXPECT_EQ(outcome.answer.names, c.names);
        EXPECT_EQ(outcome.answer.namesInAnswer, c.inAnswer);
        const TestLanTruth truth(lan(), false, LlmnrResponder::BehaviourNamed(c.mode));
        EXPECT_EQ(TextsOf(truth.NamesFor(address), Source::Llmnr), c.names);
    }
}

// The names of each "row" line of vopal-scan --format json: its "hostnames",
// every name with its source in the order of preference, as
// [{"name": ..., "source": ...}, ...].
TestLanTruth::NamesByAddress NamesOfRows(const std::string& output) {
    TestLanTruth::NamesByAddress names;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const Json row = Json::parse(line, nullptr, false);
        if (!row.is_object() || row.value("type", "") != "row")
            continue;
        const std::string address = row.value("address", "");
        std::vector<HostRecord::Name>& of = names[address];
        if (!row.contains("hostnames") || !row["hostnames"].is_array()) {
            ADD_FAILURE() << "no names in " << line;
            continue;
        }
        for (const Json& entry : row["hostnames"]) {
            HostRecord::Name name;
            name.text = entry.value("name", "");
            EXPECT_TRUE(HostRecord::SourceOf(entry.value("source", ""), name.source)) << line;
            of.push_back(name);
        }
    }
    return names;
}

// The default scan of the LAN names every host with each of its sources, in
// every mode of the hostile host, whose answers change no row but its own:
// the address its first mode names keeps no name.
TEST_F(NamesLanTest, TheDefaultScanNamesEveryHostWithItsSourcesWhateverTheHostileOneSends) {
    const std::optional<Behaviour> modes[] = {
        std::nullopt,           Behaviour::Honest,   Behaviour::ThousandNames,
        Behaviour::PointerLoop, Behaviour::LongName, Behaviour::ControlCharacters};
    const char* const words[] = {"", "honest", "thousand", "loop", "long-name", "control"};
    for (std::size_t i = 0; i < std::size(modes); ++i) {
        SCOPED_TRACE(*words[i] ? words[i] : "the layout's mode");
        const Change mode(std::string("hostile ") + words[i], "hostile");
        ASSERT_TRUE(mode.on());
        const ScanRun run = RunScan({"--format", "json", "198.18.0.0/24"});
        ASSERT_EQ(run.exitCode, 0) << run.errors;
        EXPECT_EQ(JsonLinesValidator::VopalScanProblems(run.output), "");
        const TestLanTruth truth(lan(), false, modes[i]);
        const TestLanTruth::NamesByAddress got = NamesOfRows(run.output);
        TestLanTruth::NamesByAddress wanted;
        for (const auto& [address, names] : got)
            wanted[address] = truth.NamesFor(AddressFromText(address));
        for (const TestLanHost& host : lan().hosts())
            if (const auto names = truth.NamesFor(AddressFromText(host.address)); !names.empty())
                wanted[host.address] = names;
        // The scan reads no answer of more than 2048 bytes: a thousand
        // records in one datagram are no answer at all (a reader that keeps
        // eight of them is tested above).
        if (modes[i] == Behaviour::ThousandNames)
            for (const TestLanHost& host : lan().hosts())
                if (host.role == TestLanHost::Role::Hostile)
                    wanted[host.address].clear();
        EXPECT_EQ(TestLanTruth::NameDifferences(got, wanted), "") << run.output;
    }
}

} // namespace
