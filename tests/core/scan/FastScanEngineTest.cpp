// The event-driven engine against a scripted network: which replies it takes
// and which it drops, what it does when sends are refused, the retry of a
// node-status query, the neighbour table's share and Stop. The packet codec
// with tables of bytes.

#include "core/scan/EchoPackets.h"
#include "core/scan/FastScanEngine.h"
#include "core/scan/MemoryScanSink.h"
#include "core/scan/RateController.h"
#include "core/scan/ScanProbes.h"
#include "core/settings/RunLog.h"
#include "platform/win32/IcmpEcho.h"
#include "platform/dns/ReverseLookups.h"
#include "platform/wire/NodeStatusPacket.h"
#include "platform/wire/PtrQuery.h"
#include "platform/os/StopSignal.h"
#include "platform/win32/ProbeNotices.h"
#include "tests/platform/NodeStatusReplyBuilder.h"
#include "tests/support/DnsAnswerBuilder.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/MessagePrinters.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Kind = NetworkEvent::Kind;

std::uint32_t Ip(int last) { return 0x0A000000u | static_cast<std::uint32_t>(last); } // 10.0.0.last

// What each scripted host does.
struct Host {
    bool echo = false;         // answers the echo
    bool unreachable = false;  // an ICMP error comes back instead
    int namesOnQuery = 0;      // answers the n-th node-status query (0: never)
    bool nameRefused = false;  // port unreachable for the query, from the host itself
    bool arp = false;          // on-link and answers ARP: its neighbour entry resolves
    int echoFromTry = 1;       // the echoes before this one are lost
    int namesDelayMs = 0;      // its node-status answer comes this late
    bool zeroMac = false;      // its node-status answer has an all-zero unit id
    int arpAfterMs = 0;        // its entry resolves only this long after the first echo,
                               // and the kernel holds what was sent to it until then
    // Its names from the other sources; empty: no answer from that source
    // (DNS then says there is none).
    std::string mdns, llmnr, dns;
    bool ptrClosed = false;      // nothing listens on 5353 or 5355: port unreachable
    bool mdnsForeign = false;    // its mDNS answer names another address
};

// The MAC its neighbour entry gives 10.0.0.n.
std::vector<std::uint8_t> NeighbourMac(std::uint32_t address) {
    return {0x02, 0x4B, 0x44, 0x00, 0x00, static_cast<std::uint8_t>(address)};
}

// The network as a script: every send is recorded; replies are queued, each
// due at its time, and delivered by the Wait that reaches it. Hooks let a
// test add foreign datagrams.
class ScriptedNetwork : public ScanNetwork {
public:
    std::map<std::uint32_t, Host> hosts;
    int refuseEchoSends = 0;  // the first n echo sends fail with EAGAIN or ENOBUFS
    int refuseNameSends = 0;
    bool onLink = false;
    int neighbourLimit = 1024;
    NeighbourResolution resolution{600, 3};
    unsigned nameSources = 0; // of those asked for, the ones it can open
    int dnsTimesOutMs = 0;    // the resolver's server never answers: each lookup times out so
    std::map<std::uint32_t, int> ptrQueries, dnsLookups;
    // Called with each echo reply before it is queued; may queue more.
    std::function<void(const NetworkEvent&, std::vector<NetworkEvent>&)> extra;

    struct Sent {
        bool echo;
        std::uint32_t target;
        Clock::time_point at;
    };
    std::vector<Sent> sent;
    std::vector<Clock::time_point> refusedAt; // each refused send

    int openError = 0; // Open fails with it (no ICMP socket), telling the user as the real one does
    int Open(std::uint32_t) override {
        if (openError != 0)
            TellProbeNotice(kNoSocketNotice);
        return openError;
    }
    static inline const UserMessage kNoSocketNotice{"no ICMP socket", "エラー",
                                                    MB_OK | MB_ICONERROR};
    std::uint16_t EchoId() const override { return 0x4B44; }
    bool OnLink(std::uint32_t) const override { return onLink; }
    int NeighbourLimit() const override { return neighbourLimit; }
    NeighbourResolution Resolution() const override { return resolution; }

    int SendEcho(std::uint32_t target, const std::vector<std::uint8_t>& request) override {
        if (refuseEchoSends > 0) {
            refusedAt.push_back(Clock::now());
            return refuseEchoSends-- % 2 ? EAGAIN : ENOBUFS;
        }
        sent.push_back({true, target, Clock::now()});
        const Host& host = hosts[target];
        const int tries = ++m_echoes[target];
        if (onLink && host.arp && tries == 1) {
            m_resolvedAt[target] = Clock::now() + std::chrono::milliseconds(host.arpAfterMs);
            NetworkEvent entry;
            entry.kind = Kind::Neighbour;
            entry.address = target;
            entry.state = 0x02; // NUD_REACHABLE
            entry.bytes = NeighbourMac(target);
            Queue(std::move(entry), host.arpAfterMs);
        }
        if ((!host.echo || tries < host.echoFromTry) && !host.unreachable)
            return 0;
        NetworkEvent event;
        event.kind = host.echo ? Kind::EchoReply : Kind::EchoUnreachable;
        event.address = target;
        event.id = static_cast<std::uint16_t>(request[4] << 8 | request[5]);
        event.sequence = static_cast<std::uint16_t>(request[6] << 8 | request[7]);
        event.bytes.assign(request.begin() + 8, request.end());
        std::vector<NetworkEvent> more;
        if (extra)
            extra(event, more);
        for (NetworkEvent& e : more)
            Queue(std::move(e), 0);
        Queue(std::move(event), HeldMs(target));
        return 0;
    }

    int SendNameQuery(std::uint32_t target, std::span<const std::uint8_t> datagram) override {
        if (refuseNameSends > 0) {
            refusedAt.push_back(Clock::now());
            return refuseNameSends-- % 2 ? ENOBUFS : EAGAIN;
        }
        sent.push_back({false, target, Clock::now()});
        Host& host = hosts[target];
        ++m_queries[target];
        NetworkEvent event;
        event.address = target;
        if (host.nameRefused) {
            event.kind = Kind::NameRefused;
        } else if (host.namesOnQuery == m_queries[target]) {
            event.kind = Kind::NameReply;
            event.port = 137;
            const std::uint16_t id = static_cast<std::uint16_t>(datagram[0] << 8 | datagram[1]);
            event.bytes = NodeStatusReplyBuilder::WorkstationBytes(
                id, [&](NodeStatusReplyBuilder& b) {
                    if (host.zeroMac)
                        b.unitId = {};
                });
        } else {
            return 0;
        }
        Queue(std::move(event), std::max(host.namesDelayMs, HeldMs(target)));
        return 0;
    }

    unsigned OpenNameSources(unsigned sources) override { return sources & nameSources; }

    int SendPtrQuery(std::uint32_t target, std::uint16_t port,
                     std::span<const std::uint8_t> datagram) override {
        ++ptrQueries[target];
        const Host& host = hosts[target];
        NetworkEvent event;
        event.address = target;
        event.port = port;
        const std::string& name = port == kMdnsPort ? host.mdns : host.llmnr;
        if (host.ptrClosed) {
            event.kind = Kind::PtrRefused;
        } else if (!name.empty()) {
            event.kind = Kind::PtrReply;
            const std::uint16_t id = static_cast<std::uint16_t>(datagram[0] << 8 | datagram[1]);
            const std::uint32_t named = port == kMdnsPort && host.mdnsForeign ? target + 1 : target;
            auto answer = port == kMdnsPort ? DnsAnswerBuilder::Mdns(id, target, name)
                                            : DnsAnswerBuilder::Llmnr(id, target, name);
            answer.answers = {DnsAnswerBuilder::Ptr(named, name)};
            const auto bytes = answer.bytes();
            event.bytes.assign(bytes.begin(), bytes.end());
        } else {
            return 0;
        }
        Queue(std::move(event), 0);
        return 0;
    }

    bool AskDns(std::uint32_t target) override {
        ++dnsLookups[target];
        NetworkEvent event;
        event.kind = Kind::DnsAnswer;
        event.address = target;
        const std::string& name = hosts[target].dns;
        event.state = static_cast<std::uint16_t>(
            dnsTimesOutMs ? ReverseLookups::Outcome::TimedOut
            : name.empty() ? ReverseLookups::Outcome::NoName
                           : ReverseLookups::Outcome::Named);
        if (!dnsTimesOutMs)
            event.bytes.assign(name.begin(), name.end());
        Queue(std::move(event), dnsTimesOutMs ? dnsTimesOutMs : 1);
        return true;
    }

    void Wait(std::chrono::microseconds timeout, const StopSignal& stop,
              std::vector<NetworkEvent>& events) override {
        const auto until = Clock::now() + timeout;
        for (;;) {
            const auto now = Clock::now();
            bool delivered = false;
            for (auto it = m_queue.begin(); it != m_queue.end();) {
                if (it->first <= now) {
                    events.push_back(std::move(it->second));
                    it = m_queue.erase(it);
                    delivered = true;
                } else {
                    ++it;
                }
            }
            if (delivered || now >= until || stop.IsRaised())
                return;
            std::this_thread::sleep_for(std::min<Clock::duration>(1ms, until - now));
        }
    }

    int QueriesOf(std::uint32_t target) { return m_queries[target]; }
    int EchoesOf(std::uint32_t target) { return m_echoes[target]; }

private:
    // How long the kernel still holds what is sent to the target.
    int HeldMs(std::uint32_t target) {
        const auto found = m_resolvedAt.find(target);
        if (found == m_resolvedAt.end() || found->second <= Clock::now())
            return 0;
        return static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(found->second - Clock::now()).count());
    }
    void Queue(NetworkEvent event, int delayMs) {
        m_queue.emplace_back(Clock::now() + std::chrono::milliseconds(delayMs), std::move(event));
    }

    std::vector<std::pair<Clock::time_point, NetworkEvent>> m_queue;
    std::map<std::uint32_t, int> m_queries;
    std::map<std::uint32_t, int> m_echoes;
    std::map<std::uint32_t, Clock::time_point> m_resolvedAt;
};

class NoProbes : public ScanProbes {
public:
    EchoOutcome PingHost(const std::string&, int, const StopSignal*) override {
        ADD_FAILURE() << "the event-driven engine never pings through the probes";
        return EchoOutcome::NoAnswer;
    }
    unsigned char QueryNodeStatus(const std::string&, int, NodeStatusAnswer&, std::mutex*,
                                  const StopSignal*) override {
        ADD_FAILURE() << "the event-driven engine never queries through the probes";
        return 5;
    }
    LanaSelection SelectLana() override { return {0, 0}; }
};

// Keeps each row's last whole record too (its reasons and round trip).
class KeepingSink : public MemoryScanSink {
public:
    void RowResult(int row, const HostRecord& record) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_records[row] = record;
        }
        MemoryScanSink::RowResult(row, record);
    }
    void SendRate(double perSecond) override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            lowestRate = lowestRate == 0 ? perSecond : std::min(lowestRate, perSecond);
            highestRate = std::max(highestRate, perSecond);
        }
        MemoryScanSink::SendRate(perSecond);
    }
    double lowestRate = 0, highestRate = 0; // of the rates reported
    HostRecord RecordOf(int row) {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records[row];
    }

private:
    std::mutex m_lock;
    std::map<int, HostRecord> m_records;
};

class FastScanEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.fastScan = true;
        options.keepSilent = true;
        options.pingTimeoutMs = 100;
        options.rate = 100000;
        ASSERT_TRUE(RunLog::Open(dir.path()));
    }
    void TearDown() override { RunLog::Close(); }

    // Scans 10.0.0.1 to 10.0.0.last and returns "address mark names" per row.
    std::vector<std::string> Scan(int last, std::function<void(FastScanEngine&)> whileRunning = {}) {
        return ScanRanges({{Ip(1), Ip(last)}}, last, std::move(whileRunning));
    }
    std::vector<std::string> ScanRanges(std::vector<AddressRange> ranges, int last,
                                        std::function<void(FastScanEngine&)> whileRunning = {}) {
        auto owned = std::make_unique<ScriptedNetwork>(std::move(network));
        ScriptedNetwork* net = owned.get();
        FastScanEngine engine({std::move(ranges), options}, sink, probes, std::move(owned));
        EXPECT_TRUE(engine.Start());
        if (whileRunning)
            whileRunning(engine);
        EXPECT_TRUE(sink.WaitForEnd(60s));
        engine.Wait();
        ignored = engine.Counts().ignored;
        retries = engine.Counts().sendRetries;
        sentLog = net->sent;
        refusedAt = net->refusedAt;
        queries.clear();
        ptrQueries.clear();
        dnsLookups.clear();
        echoes.clear();
        for (int i = 1; i <= last; ++i) {
            queries[Ip(i)] = net->QueriesOf(Ip(i));
            ptrQueries[Ip(i)] = net->ptrQueries[Ip(i)];
            dnsLookups[Ip(i)] = net->dnsLookups[Ip(i)];
            echoes[Ip(i)] = net->EchoesOf(Ip(i));
        }
        std::vector<std::string> rows;
        for (const auto& row : sink.rows.Rows())
            rows.push_back(row[0] + " " + row[1] + " " + row[2]);
        return rows;
    }

    TempDir dir;
    ScanOptions options;
    ScriptedNetwork network;
    KeepingSink sink;
    NoProbes probes;
    MessageBoxRecorder boxes;
    unsigned ignored = 0, retries = 0;
    std::vector<ScriptedNetwork::Sent> sentLog;
    std::map<std::uint32_t, int> queries, echoes, ptrQueries, dnsLookups;
    std::vector<Clock::time_point> refusedAt;
};

// A network that cannot be opened (no ICMP socket) probes nothing: the
// scan says it failed, so that its silent rows are never recorded. What the
// opening told reaches the sink as the probes' notice, not as a box.
TEST_F(FastScanEngineTest, AScanWhoseNetworkCannotOpenHasFailed) {
    for (const int error : {0, EPERM}) {
        SCOPED_TRACE(error);
        KeepingSink fresh;
        network = ScriptedNetwork();
        network.openError = error;
        FastScanEngine engine({std::vector<AddressRange>{{Ip(1), Ip(4)}}, options}, fresh, probes,
                              std::make_unique<ScriptedNetwork>(std::move(network)));
        ASSERT_TRUE(engine.Start());
        ASSERT_TRUE(fresh.WaitForEnd(60s));
        engine.Wait();
        EXPECT_EQ(fresh.Summary().failed, error != 0);
        EXPECT_EQ(fresh.Summary().Complete(), error == 0);
        const ScanNotice told{ScanNotice::Source::Probe, ScriptedNetwork::kNoSocketNotice};
        EXPECT_EQ(fresh.Notices(),
                  error ? std::vector<ScanNotice>{told} : std::vector<ScanNotice>{});
    }
    EXPECT_EQ(boxes.count(), 0u);
}

// The reasons of a row as text, in the order of their bits.
std::string ReasonsOf(unsigned reasons) {
    std::string text;
    const char* const names[] = {"echo", "nbstat", "arp", "port-unreachable"};
    for (int bit = 0; bit < 4; ++bit)
        if (reasons & (1u << bit))
            text += (text.empty() ? "" : ",") + std::string(names[bit]);
    return text;
}

// Every kind of host, with the wait learnt (two probes) and fixed (one):
// what shows it to be there, its row and how many of each packet it got.
TEST_F(FastScanEngineTest, EachKindOfHostIsFoundByWhatItAnswersAndGetsItsRow) {
    const struct {
        Host host;
        const char* row;     // address mark name
        const char* reasons; // the row's evidence
        const char* mac;
        int queries, echoes; // with the learnt wait
        int fixedQueries;    // with the fixed one (one echo each)
    } cases[] = {
        {{true, false, 1}, "○ PC-01", "echo,nbstat", "001B213C4D5E", 1, 1, 1},
        {{true, false, 0, true}, "○ ", "echo,port-unreachable", "", 1, 1, 1},
        {{true}, "○ ", "echo", "", 3, 1, 3}, // there, silent on 137: asked three times
        {{false, true}, "× ", "", "", 2, 1, 1}, // unreachable: pinged once
        {{}, "× ", "", "", 2, 2, 1},
        {{false, false, 1}, "○ PC-01", "nbstat", "001B213C4D5E", 1, 1, 1},
        {{false, false, 0, true}, "○ ", "port-unreachable", "", 1, 1, 1},
        {{false, false, 0, false, true}, "○ ", "arp", "024B44000008", 3, 1, 3},
        {{true, false, 1, false, true, 1, 0, true}, "○ PC-01", "echo,nbstat,arp", "024B44000009",
         1, 1, 1},
        {{true, false, 0, false, true}, "○ ", "echo,arp", "024B4400000A", 3, 1, 3},
    };
    const int count = static_cast<int>(std::size(cases));
    for (const bool adaptive : {true, false}) {
        SCOPED_TRACE(adaptive ? "learnt wait" : "fixed wait");
        sink.rows.DeleteAllItems();
        network = ScriptedNetwork();
        network.onLink = true;
        options.adaptiveWait = adaptive;
        options.pingTimeoutMs = 100;
        for (int i = 0; i < count; ++i)
            network.hosts[Ip(i + 1)] = cases[i].host;
        const std::vector<std::string> rows = Scan(count);
        ASSERT_EQ(rows.size(), std::size_t(count));
        for (int i = 0; i < count; ++i) {
            const auto& c = cases[i];
            SCOPED_TRACE(rows[i]);
            const HostRecord record = sink.RecordOf(i);
            EXPECT_EQ(rows[i], "10.0.0." + std::to_string(i + 1) + " " + c.row);
            EXPECT_EQ(ReasonsOf(record.reasons), c.reasons);
            EXPECT_EQ(CellOf(record, HostRecord::kMac), c.mac);
            // A round trip for whatever answered; the neighbour entry has none.
            EXPECT_EQ(record.rttMs >= 0, (record.reasons & ~unsigned(HostRecord::kReasonArp)) != 0);
            EXPECT_EQ(queries[Ip(i + 1)], adaptive ? c.queries : c.fixedQueries);
            EXPECT_EQ(echoes[Ip(i + 1)], adaptive ? c.echoes : 1);
        }
        EXPECT_EQ(ignored, 0u);
        const auto full = sink.rows.Rows()[0];
        EXPECT_EQ(full[3], "WORKGROUP");
        EXPECT_EQ(full[6], "PC-01/ADMIN");
    }
}

// A host that names itself only after 600 ms is still named when the wait is
// learnt from fast echoes; a silent address gets its second probe only after
// the learnt wait.
TEST_F(FastScanEngineTest, TheLearntWaitStillNamesASlowHostAndGivesUpOnSilence) {
    options.adaptiveWait = true;
    for (int i = 1; i <= 8; ++i)
        network.hosts[Ip(i)] = {true, false, 1};
    network.hosts[Ip(9)] = {true, false, 1, false, false, 1, 600};
    // 10.0.0.10 is silent
    const std::vector<std::string> rows = Scan(10);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[8], "10.0.0.9 ○ PC-01");
    EXPECT_EQ(rows[9], "10.0.0.10 × ");
    std::vector<Clock::time_point> silent;
    for (const auto& sent : sentLog)
        if (sent.echo && sent.target == Ip(10))
            silent.push_back(sent.at);
    ASSERT_EQ(silent.size(), 2u);
    // The engine counts the wait from its own reading of the clock before the
    // first send; the log stamps each send a little later, by a varying few
    // microseconds, so the gap it shows may fall short of the floor by those.
    EXPECT_GE(silent[1] - silent[0],
              std::chrono::milliseconds(FastScanEngine::kWaitFloorMs - 1));
}

// Hosts that keep silent on UDP 137 are asked a second time only until
// asking twice has been seen not to pay; one answer to a second asking keeps
// every host asked again. 600 hosts at 400 a second:
// the last ones are sent after the first ones asked twice have ended.
TEST_F(FastScanEngineTest, ASecondQueryStopsOnceItHasBeenSeenNotToPay) {
    const int count = 600;
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late ? "an answer came after the second query" : "none did");
        sink.rows.DeleteAllItems();
        network = ScriptedNetwork();
        options.rate = 400;
        for (int i = 1; i <= count; ++i)
            if (i % 256 != 0 && i % 256 != 255)
                network.hosts[Ip(i)] = {true}; // answers echo only
        if (late)
            network.hosts[Ip(1)] = {true, false, 2}; // ignores the first query
        std::vector<std::uint32_t> silent;
        for (const auto& [address, host] : network.hosts)
            if (address != Ip(1))
                silent.push_back(address);
        Scan(count);
        int once = 0, twice = 0;
        for (const std::uint32_t address : silent)
            (queries[address] == 1 ? once : twice) += 1;
        if (late) {
            EXPECT_EQ(once, 0);
        } else {
            EXPECT_GE(twice, FastScanEngine::kFutileRequeries);
            EXPECT_GT(once, 100);
        }
    }
}

// Once hundreds of hosts silent on UDP 137 have been asked three times in
// vain, a third asking goes only where names were seen lost. A stretch that
// lost its first and second queries alike shows no late answer, but the
// share of named hosts falls there: its hosts are asked a third time and
// named.
TEST_F(FastScanEngineTest, AStretchThatLostTwoQueriesIsAskedAThirdTime) {
    const int count = 2400;
    const auto inStretch = [](int i) { return i >= 1800 && i < 2100; };
    options.adaptiveWait = true;
    options.rate = 4000;
    for (int i = 1; i <= count; ++i) {
        if (i % 256 == 0 || i % 256 == 255)
            continue;
        if (i % 2)
            network.hosts[Ip(i)] = {true}; // answers echo only
        else
            network.hosts[Ip(i)] = {true, false, inStretch(i) ? 3 : i < 40 ? 2 : 1};
    }
    Scan(count);
    int unnamed = 0, first = 0;
    for (const HostRecord& host : sink.rows.Records())
        if ((host.address - Ip(0)) % 2 == 0 && !host.computer) {
            first = first ? first : static_cast<int>(host.address - Ip(0));
            ++unnamed;
        }
    EXPECT_EQ(unnamed, 0) << "the first unnamed: 10.0.0.0 + " << first;
    int askedThrice = 0;
    for (int i = 1; i < 1800; i += 2)
        askedThrice += queries[Ip(i)] >= 3;
    EXPECT_GE(askedThrice, FastScanEngine::kFutileRequeries) << "the budget was never spent";
}

// On a network seen to lose answers, hosts there whose every asking was lost
// are asked again once the rest is done, and again while that names anyone;
// where nothing was seen lost, three askings are all.
TEST_F(FastScanEngineTest, HostsWhoseAskingsWereAllLostAreAskedAgainAtTheEnd) {
    const struct {
        const char* what;
        int firstNamesOn;  // 10.0.0.1 answers this query only
        int secondNamesOn; // 10.0.0.2 likewise
        const char* secondRow;
        int secondQueries, silentQueries; // 10.0.0.3 answers echo only
    } cases[] = {
        {"loss seen: a round names it, a second names nobody", 2, 4, "10.0.0.2 ○ PC-01", 4, 5},
        {"loss seen: a round that names nobody is the last", 2, 5, "10.0.0.2 ○ ", 4, 4},
        {"nothing lost: no round", 1, 4, "10.0.0.2 ○ ", 3, 3},
    };
    options.adaptiveWait = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sink.rows.DeleteAllItems();
        network = ScriptedNetwork();
        network.hosts[Ip(1)] = {true, false, c.firstNamesOn};
        network.hosts[Ip(2)] = {true, false, c.secondNamesOn};
        network.hosts[Ip(3)] = {true};
        const std::vector<std::string> rows = Scan(3);
        EXPECT_EQ(rows, (std::vector<std::string>{"10.0.0.1 ○ PC-01", c.secondRow, "10.0.0.3 ○ "}));
        EXPECT_EQ(queries[Ip(2)], c.secondQueries);
        EXPECT_EQ(queries[Ip(3)], c.silentQueries);
    }
}

// A host there is asked for its name by each source the network opens, and
// every name that answers its own question lands in the value with its
// source; mDNS and LLMNR only on a network of ours, nothing of a host that
// is not there, nothing from an answer about another address.
TEST_F(FastScanEngineTest, HostsThereAreNamedByEverySourceThatAnswers) {
    using Source = HostRecord::NameSource;
    using Names = std::vector<HostRecord::Name>;
    const unsigned all = ScanOptions::kAllNameSources;
    const struct {
        const char* what;
        Host host; // at 10.0.0.1
        bool onLink;
        unsigned asked;
        Names names;
        int ptrQueries, dnsLookups;
    } cases[] = {
        {"every source",
         [] { Host h{true, false, 1}; h.mdns = "pc.local"; h.llmnr = "PC"; h.dns = "pc.lan"; return h; }(),
         true, all, {{"pc.local", Source::Mdns}, {"PC", Source::Llmnr}, {"pc.lan", Source::Dns}}, 2,
         1},
        {"mDNS only, no NetBIOS",
         [] { Host h{true}; h.mdns = "printer.local"; return h; }(), true, all,
         {{"printer.local", Source::Mdns}}, 2, 1},
        {"nothing listens: no name",
         [] { Host h{true}; h.ptrClosed = true; return h; }(), true, all, {}, 2, 1},
        {"an mDNS answer about another address",
         [] { Host h{true}; h.mdns = "evil.local"; h.mdnsForeign = true; return h; }(), true, all,
         {}, 2, 1},
        {"off our networks: DNS only",
         [] { Host h{true}; h.mdns = "pc.local"; h.dns = "pc.lan"; return h; }(), false, all,
         {{"pc.lan", Source::Dns}}, 0, 1},
        {"DNS not asked for",
         [] { Host h{true}; h.mdns = "pc.local"; h.dns = "pc.lan"; return h; }(), true,
         all & ~(1u << unsigned(Source::Dns)), {{"pc.local", Source::Mdns}}, 2, 0},
        {"found by its neighbour entry alone",
         [] { Host h{false, false, 0, false, true}; h.dns = "nas.lan"; return h; }(), true, all,
         {{"nas.lan", Source::Dns}}, 2, 1},
        {"not there: not asked", Host{}, true, all, {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        network = ScriptedNetwork();
        network.nameSources = all;
        network.onLink = c.onLink;
        network.hosts[Ip(1)] = c.host;
        options.nameSources = c.asked;
        Scan(1);
        EXPECT_EQ(sink.RecordOf(0).names, c.names);
        EXPECT_EQ(ptrQueries[Ip(1)], c.ptrQueries);
        EXPECT_EQ(dnsLookups[Ip(1)], c.dnsLookups);
    }
}

// A resolver whose server never answers costs the scan no more than the
// hosts' own wait, and after a few lookups in vain it is asked no more.
TEST_F(FastScanEngineTest, ASilentResolverIsGivenUp) {
    network.nameSources = ScanOptions::kAllNameSources;
    network.dnsTimesOutMs = 300;
    options.rate = 100; // the first lookups end before the last hosts are there
    for (int i = 1; i <= 40; ++i)
        network.hosts[Ip(i)] = {true};
    const std::vector<std::string> rows = Scan(40);
    ASSERT_EQ(rows.size(), 40u);
    EXPECT_EQ(rows.back(), "10.0.0.40 ○ ");
    int asked = 0;
    for (int i = 1; i <= 40; ++i)
        asked += dnsLookups[Ip(i)];
    EXPECT_LT(asked, 40);
}

// A host that ignores its first queries, answers one late, or whose first ARP
// exchanges were lost, is found and named: each query has an id of its own, a
// host there is asked three times, after the last asking its answer is still
// taken while the scan waits for others, and an on-link address whose entry
// the kernel is still resolving is waited for past its last solicitation.
TEST_F(FastScanEngineTest, LateAndLostAnswersStillFindAndNameTheHost) {
    const char* const named = "10.0.0.1 ○ PC-01";
    const struct {
        const char* what;
        Host host; // at 10.0.0.1; 10.0.0.2 is nobody
        const char* row;
        int queries; // -1: any
    } cases[] = {
        {"only the second query", {true, false, 2}, named, 2},
        {"only the third query", {true, false, 3}, named, 3},
        {"the second, late, after the last asking", {true, false, 2, 0, 0, 1, 1000}, named, 3},
        {"resolved by the second solicitation", {true, false, 1, 0, 1, 1, 0, 0, 1050}, named, -1},
        {"resolved by the third", {true, false, 1, 0, 1, 1, 0, 0, 1900}, named, -1},
        {"nobody there", {}, "10.0.0.1 × ", -1},
    };
    options.adaptiveWait = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sink.rows.DeleteAllItems();
        network = ScriptedNetwork();
        network.onLink = true;
        network.resolution = {1000, 3}; // the last solicitation 2 s after the first
        network.hosts[Ip(1)] = c.host;
        const auto started = Clock::now();
        const std::vector<std::string> rows = Scan(2);
        EXPECT_EQ(rows, (std::vector<std::string>{c.row, "10.0.0.2 × "}));
        if (c.queries >= 0) {
            EXPECT_EQ(queries[Ip(1)], c.queries);
        }
        EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(2000))
            << "an address nobody holds given up before the kernel asked for the last time";
    }
}

// Addresses that nothing showed to be there never use up the budget of
// second queries: hosts that are there, probed after hundreds of them, are
// still asked twice.
TEST_F(FastScanEngineTest, AbsentAddressesDoNotUseUpTheSecondQueries) {
    options.adaptiveWait = true;
    options.rate = 1000;
    for (int i = 301; i <= 400; ++i)
        network.hosts[Ip(i)] = {true}; // there, silent on 137; .1 to .300 nobody
    Scan(400);
    int twice = 0;
    for (int i = 301; i <= 400; ++i)
        twice += queries[Ip(i)] >= 2;
    EXPECT_EQ(twice, 100);
}

// An address listed by two overlapping ranges is probed once, and each of
// its rows gets the answer, as the thread engine gives both.
TEST_F(FastScanEngineTest, AnAddressListedTwiceIsProbedOnceAndBothRowsAnswer) {
    network.hosts[Ip(2)] = {true, false, 1};
    const std::vector<std::string> rows =
        ScanRanges({{Ip(1), Ip(3)}, {Ip(2), Ip(2)}, {Ip(1), Ip(2)}}, 3);
    EXPECT_EQ(rows, (std::vector<std::string>{"10.0.0.1 × ", "10.0.0.2 ○ PC-01", "10.0.0.3 × ",
                                              "10.0.0.2 ○ PC-01", "10.0.0.1 × ",
                                              "10.0.0.2 ○ PC-01"}));
    EXPECT_EQ(echoes[Ip(2)], 1);
    EXPECT_EQ(queries[Ip(2)], 1);
}

// Replies that are not the answer to our own request are dropped and counted:
// from an address not scanned, with another id, sequence or token, a copy of
// one already taken, and node-status replies from another port or with
// another transaction id.
TEST_F(FastScanEngineTest, ForeignLateAndDuplicatedRepliesAreDroppedAndCounted) {
    network.hosts[Ip(1)] = {true, false, 1};
    network.hosts[Ip(2)] = {true};
    const std::vector<std::function<void(NetworkEvent&)>> forgeries = {
        [](NetworkEvent& e) { e.address = Ip(200); },
        [](NetworkEvent& e) { e.id ^= 1; },
        [](NetworkEvent& e) { e.sequence ^= 1; },
        [](NetworkEvent& e) { e.bytes[3] ^= 1; },
        [](NetworkEvent& e) { e.bytes.resize(4); },
        [](NetworkEvent& e) { e.kind = Kind::EchoUnreachable; e.sequence ^= 1; },
        [](NetworkEvent& e) {
            e.kind = Kind::NameReply;
            e.port = 138;
            e.bytes = NodeStatusReplyBuilder::WorkstationBytes(
                EchoPackets::TransactionId(0, e.address));
        },
        [](NetworkEvent& e) {
            e.kind = Kind::NameReply;
            e.port = 137;
            e.bytes = {0x12, 0x34, 0x84};
        },
    };
    network.extra = [&](const NetworkEvent& reply, std::vector<NetworkEvent>& queue) {
        if (reply.address != Ip(2))
            return;
        for (const auto& forge : forgeries) {
            NetworkEvent copy = reply;
            forge(copy);
            queue.push_back(copy);
        }
        queue.push_back(reply); // taken; the script's own copy then comes again
    };
    EXPECT_EQ(Scan(2), (std::vector<std::string>{"10.0.0.1 ○ PC-01", "10.0.0.2 ○ "}));
    EXPECT_EQ(ignored, forgeries.size() + 1);
}

// Without a row limit (vopal-scan) every address gets its row, past the
// window's 20000.
TEST_F(FastScanEngineTest, WithoutARowLimitEveryAddressGetsItsRow) {
    options.pingTimeoutMs = 1;
    options.rate = 1000000;
    const std::vector<std::string> rows = ScanRanges({{0x0A010001u, 0x0A016401u}}, 1);
    EXPECT_EQ(rows.size(), 25400u + 1u); // 10.1.0.1 to 10.1.100.1, .0 and .255 skipped
    EXPECT_FALSE(sink.Summary().cut);
}

// Sends refused for want of buffer go again after a pause that grows, never
// in a loop that spins; none is dropped, and a stop ends the storm at once.
TEST_F(FastScanEngineTest, SendsRefusedForWantOfBufferWaitAndAreNeverDropped) {
    for (int i = 1; i <= 20; ++i)
        network.hosts[Ip(i)] = {true, false, 1};
    network.refuseEchoSends = 5;
    network.refuseNameSends = 3;
    const std::vector<std::string> rows = Scan(20);
    ASSERT_EQ(rows.size(), 20u);
    for (const std::string& row : rows)
        EXPECT_NE(row.find(" ○ PC-01"), std::string::npos) << row;
    EXPECT_EQ(retries, 8u);
    ASSERT_EQ(refusedAt.size(), 8u);
    for (std::size_t i = 1; i < refusedAt.size(); ++i)
        EXPECT_GE(refusedAt[i] - refusedAt[i - 1], 1ms) << "refused send " << i << " came at once";

    // Every query refused for good: the engine pauses between tries and
    // ends at once on Stop.
    sink.rows.DeleteAllItems();
    network = ScriptedNetwork();
    network.refuseNameSends = 1 << 30;
    const auto started = Clock::now();
    Scan(4, [](FastScanEngine& engine) {
        std::this_thread::sleep_for(300ms);
        engine.Stop();
    });
    EXPECT_LT(refusedAt.size(), 300u) << "refused sends were retried without a pause";
    EXPECT_TRUE(sink.Summary().stopped);
    EXPECT_LT(Clock::now() - started, 5s);
}

// The engine paces itself by the controller: a given rate is kept, else the
// rate rises on a clean network and falls when sends are refused.
TEST_F(FastScanEngineTest, TheRateRisesOnACleanNetworkFallsOnRefusalsAndAFixedOneStays) {
    const struct {
        int rate;
        int refused; // echo sends refused for want of buffer, at the start
        bool rises;
    } cases[] = {{7000, 0, false}, {0, 0, true}, {0, 40, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " refused " + std::to_string(c.refused));
        sink.rows.DeleteAllItems();
        sink.lowestRate = sink.highestRate = 0;
        network = ScriptedNetwork();
        network.refuseEchoSends = c.refused;
        for (int i = 1; i <= 250; ++i)
            network.hosts[Ip(i)] = {true, false, 1};
        options.rate = c.rate;
        Scan(250);
        if (c.rate > 0) {
            EXPECT_EQ(sink.lowestRate, c.rate);
            EXPECT_EQ(sink.highestRate, c.rate);
        } else if (c.rises) {
            EXPECT_EQ(sink.lowestRate, RateController::kStartRate);
            EXPECT_GT(sink.highestRate, RateController::kStartRate);
        } else {
            EXPECT_LT(sink.lowestRate, RateController::kStartRate);
        }
    }
}

// Silent on-link addresses each hold a neighbour entry until they fail: never
// more than half the table's size wait at once.
TEST_F(FastScanEngineTest, OnLinkAddressesInFlightStayBelowTheNeighbourTable) {
    network.onLink = true;
    network.neighbourLimit = 32;
    options.pingTimeoutMs = 200;
    const std::vector<std::string> rows = Scan(40);
    ASSERT_EQ(rows.size(), 40u);
    std::vector<Clock::time_point> echoSent;
    for (const auto& sent : sentLog)
        if (sent.echo)
            echoSent.push_back(sent.at);
    ASSERT_EQ(echoSent.size(), 40u);
    // The 17th echo goes out only once the first has timed out.
    EXPECT_GE(echoSent[16] - echoSent[0], 200ms);
    EXPECT_LT(echoSent[15] - echoSent[0], 200ms);
}

TEST_F(FastScanEngineTest, StopEndsAtOnceAndTheRowsUnderWayAreSilent) {
    for (const bool keepSilent : {true, false}) {
        SCOPED_TRACE(keepSilent ? "silent rows kept" : "silent rows removed");
        sink.rows.DeleteAllItems();
        options.pingTimeoutMs = 600000;
        options.rate = 50;
        options.keepSilent = keepSilent;
        network.hosts[Ip(1)] = {true, false, 1};
        const auto started = Clock::now();
        const std::vector<std::string> rows = Scan(250, [](FastScanEngine& engine) {
            std::this_thread::sleep_for(100ms);
            engine.Stop();
        });
        EXPECT_LT(Clock::now() - started, 10s) << "the ten-minute waits were cut short";
        EXPECT_TRUE(sink.Summary().stopped);
        ASSERT_GE(rows.size(), 1u);
        EXPECT_EQ(rows[0], "10.0.0.1 ○ PC-01");
        if (keepSilent) {
            ASSERT_GE(rows.size(), 2u);
            EXPECT_LT(rows.size(), 250u);
            for (std::size_t i = 1; i < rows.size(); ++i)
                EXPECT_EQ(rows[i], "10.0.0." + std::to_string(i + 1) + " × ");
        } else {
            EXPECT_EQ(rows.size(), 1u);
        }
    }
}

// The Internet checksum over an ICMP message, written into its bytes 2 and 3.
void SetChecksum(std::vector<std::uint8_t>& icmp) {
    icmp[2] = icmp[3] = 0;
    const std::uint16_t checksum = IcmpEchoInternal::InternetChecksum(icmp);
    icmp[2] = static_cast<std::uint8_t>(checksum >> 8);
    icmp[3] = static_cast<std::uint8_t>(checksum);
}

// The codec: a request's bytes, and what each received message says.
TEST(EchoPackets, RequestsCarryTheTokenAndRepliesAreReadOnlyWhenWhole) {
    const std::uint8_t payload[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::uint8_t> request = EchoPackets::Request(0x4B44, 0x0102, payload);
    ASSERT_EQ(request.size(), 16u);

    // A raw datagram: IPv4 header from 10.0.0.7, then the reply (type 0).
    std::vector<std::uint8_t> reply = request;
    reply[0] = 0;
    reply[2] = reply[3] = 0;
    SetChecksum(reply);
    std::vector<std::uint8_t> ip = {0x45, 0, 0, 36, 0, 0, 0, 0, 64, 1, 0, 0, 10, 0, 0, 7, 10, 0, 0, 1};
    std::vector<std::uint8_t> raw = ip;
    raw.insert(raw.end(), reply.begin(), reply.end());

    const EchoPackets::Message parsed = EchoPackets::ParseRaw(raw);
    EXPECT_EQ(parsed.kind, EchoPackets::Message::Kind::Reply);
    EXPECT_EQ(parsed.address, Ip(7));
    EXPECT_EQ(parsed.id, 0x4B44);
    EXPECT_EQ(parsed.sequence, 0x0102);
    EXPECT_EQ(std::vector<std::uint8_t>(parsed.payload.begin(), parsed.payload.end()),
              std::vector<std::uint8_t>(payload, payload + 8));
    // Every truncation short of the ICMP header, and a broken checksum, say nothing.
    for (std::size_t length = 0; length < 28; ++length)
        EXPECT_EQ(EchoPackets::ParseRaw(std::span(raw).first(length)).kind,
                  EchoPackets::Message::Kind::Unrelated)
            << length;
    std::vector<std::uint8_t> broken = raw;
    broken.back() ^= 1;
    EXPECT_EQ(EchoPackets::ParseRaw(broken).kind, EchoPackets::Message::Kind::Unrelated);

    // An unreachable error quotes our request's IP header and first 8 bytes.
    std::vector<std::uint8_t> error = {3, 1, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> quotedIp = ip;
    quotedIp[12] = 10, quotedIp[15] = 1, quotedIp[16] = 10, quotedIp[19] = 9; // to 10.0.0.9
    error.insert(error.end(), quotedIp.begin(), quotedIp.end());
    error.insert(error.end(), request.begin(), request.begin() + 8);
    SetChecksum(error);
    std::vector<std::uint8_t> rawError = ip;
    rawError.insert(rawError.end(), error.begin(), error.end());
    const EchoPackets::Message unreachable = EchoPackets::ParseRaw(rawError);
    EXPECT_EQ(unreachable.kind, EchoPackets::Message::Kind::Unreachable);
    EXPECT_EQ(unreachable.address, Ip(9)) << "the target of the quoted request";
    EXPECT_EQ(unreachable.sequence, 0x0102);
    // Each error type that ends a request says so; a quote cut short of our
    // request's header says nothing.
    for (const std::uint8_t type : {3, 11, 12, 4, 5}) {
        std::vector<std::uint8_t> other = rawError;
        other[20] = type;
        other[22] = other[23] = 0;
        std::vector<std::uint8_t> icmp(other.begin() + 20, other.end());
        SetChecksum(icmp);
        std::copy(icmp.begin(), icmp.end(), other.begin() + 20);
        const bool fatal = type == 3 || type == 11 || type == 12;
        EXPECT_EQ(EchoPackets::ParseRaw(other).kind, fatal ? EchoPackets::Message::Kind::Unreachable
                                                          : EchoPackets::Message::Kind::Unrelated)
            << int(type);
    }
    for (std::size_t cut = 1; cut <= 8; ++cut) {
        std::vector<std::uint8_t> icmp(error.begin(), error.end() - cut);
        SetChecksum(icmp);
        std::vector<std::uint8_t> shortened = ip;
        shortened.insert(shortened.end(), icmp.begin(), icmp.end());
        EXPECT_EQ(EchoPackets::ParseRaw(shortened).kind, EchoPackets::Message::Kind::Unrelated)
            << "quote cut by " << cut;
    }
    const EchoPackets::Message datagramError = EchoPackets::ParseDatagram(error, Ip(1));
    EXPECT_EQ(datagramError.kind, EchoPackets::Message::Kind::Unrelated)
        << "a datagram socket's errors come through its error queue";
    const EchoPackets::Message datagramReply = EchoPackets::ParseDatagram(reply, Ip(7));
    EXPECT_EQ(datagramReply.kind, EchoPackets::Message::Kind::Reply);
    EXPECT_EQ(datagramReply.address, Ip(7));

    // Tokens differ by address and by scan.
    EXPECT_NE(EchoPackets::Token(1, Ip(1)), EchoPackets::Token(1, Ip(2)));
    EXPECT_NE(EchoPackets::Token(1, Ip(1)), EchoPackets::Token(2, Ip(1)));
}

} // namespace
