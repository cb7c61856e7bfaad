#include "core/scan/FastScanEngine.h"

#include "core/scan/AdapterChoice.h"
#include "core/scan/AddressWalk.h"
#include "core/scan/AnswerShare.h"
#include "core/scan/EchoPackets.h"
#include "platform/dns/ReverseLookups.h"
#include "platform/wire/PtrQuery.h"
#include "core/scan/HostRecord.h"
#include "core/scan/LinuxScanNetwork.h"
#include "core/scan/NodeStatus.h"
#include "core/scan/NodeStatusCells.h"
#include "core/scan/NodeStatusQuery.h"
#include "core/scan/RateController.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanSink.h"
#include "core/settings/RunLog.h"
#include "platform/win32/ProbeNotices.h"
#include "platform/win32/Netbios.h"
#include "platform/wire/NodeStatusPacket.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <linux/neighbour.h>
#include <map>
#include <random>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr int kMaxBackoffMs = 32;
// Never more on-link addresses waiting for their neighbour entry than this
// share of the neighbour table.
constexpr int kNeighbourShare = 2;

bool IsBufferShortage(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == ENOMEM;
}

std::uint64_t NewSecret() {
    std::random_device device;
    return std::uint64_t(device()) << 32 | device();
}

std::array<std::uint8_t, 8> TokenBytes(std::uint64_t token) {
    std::array<std::uint8_t, 8> bytes;
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(token >> (56 - 8 * i));
    return bytes;
}

std::chrono::microseconds MicrosecondsUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now)
        return std::chrono::microseconds(0);
    return std::chrono::ceil<std::chrono::microseconds>(when - now);
}

bool IsZeroMac(const unsigned char* mac) {
    return std::all_of(mac, mac + 6, [](unsigned char b) { return b == 0; });
}

// The round-trip estimate of TCP's retransmission timer, in milliseconds.
class RoundTrips {
public:
    void Add(double ms) {
        if (m_samples++ == 0) {
            m_smoothed = ms;
            m_deviation = ms / 2;
            return;
        }
        m_deviation = 0.75 * m_deviation + 0.25 * std::fabs(m_smoothed - ms);
        m_smoothed = 0.875 * m_smoothed + 0.125 * ms;
    }
    // Twice the smoothed round trip: long enough for a host's own answer on
    // this network; 0 before the first sample.
    int TwiceSmoothedMs() const {
        return m_samples == 0 ? 0 : static_cast<int>(std::ceil(2 * m_smoothed));
    }
    int WaitMs() const {
        if (m_samples == 0)
            return FastScanEngine::kWaitInitialMs;
        const double wait = std::ceil(m_smoothed + 4 * m_deviation);
        return static_cast<int>(std::clamp(wait, double(FastScanEngine::kWaitFloorMs),
                                           double(FastScanEngine::kWaitCeilingMs)));
    }

private:
    unsigned m_samples = 0;
    double m_smoothed = 0;
    double m_deviation = 0;
};

// Whether any address lies in two of the ranges.
bool RangesOverlap(std::vector<AddressRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const AddressRange& a, const AddressRange& b) { return a.start < b.start; });
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].start <= ranges[i - 1].end)
            return true;
    return false;
}

} // namespace

// One scan's state, on the engine's thread only.
struct FastScanEngine::Scan {
    // Probing: echo and query out, waiting for evidence. Names: known to be
    // there, waiting for its names. Neighbour: nothing came but an old
    // neighbour entry that the kernel is checking.
    // OtherNames: finished but for the answers of the other name sources.
    enum class Phase : std::uint8_t { Probing, Names, Neighbour, OtherNames, Done };
    struct Host {
        std::uint32_t address = 0;
        Phase phase = Phase::Probing;
        bool onLink = false;
        bool holdsNeighbour = false;    // counted in onLinkWaiting
        bool echoDone = false;          // answered, or cannot be
        bool namesDone = false;         // answered, refused, or cannot be
        bool shared = false;            // its first echo counted in the answer share
        bool answeredFirst = false;     // its first query answered or refused
        bool resolving = false;         // waiting for the kernel to resolve its entry
        bool lingering = false;         // asked for the last time, still taking a late answer
        std::uint8_t futileCounted = 0; // 1: as asked twice in vain, 2: three times
        std::uint8_t tries = 0;         // echo and query pairs sent
        std::uint8_t nameQueries = 0;
        bool otherAsked = false;      // the other name sources have been asked
        std::uint8_t otherPending = 0; // the sources asked that have not answered (source bits)
        int duplicateOf = -1; // the row of the same address listed earlier
        Clock::time_point firstSent, lastSent, lastQuery, neighbourUntil, otherUntil;
        HostRecord record;
    };
    // A send waiting for its token or for buffer: a probe (echo and query,
    // either possibly sent already) or a query alone.
    struct Pending {
        int row;
        bool echo;
        bool query;
        bool probe;
    };
    struct Neighbour {
        std::uint16_t state = 0;
        bool resolved = false; // reached by a reply, now or during the scan
        bool hasMac = false;
        unsigned char mac[6] = {};
        Clock::time_point told; // when we heard of it last
    };
    using Queue = std::deque<std::pair<Clock::time_point, int>>;

    FastScanEngine& engine;
    ScanNetwork& network;
    const ScanOptions& options;
    const std::uint64_t secret = NewSecret();
    const std::uint16_t namePort = NetbiosDestinationPort();
    std::vector<Host> hosts; // by row
    std::unordered_map<std::uint32_t, int> rowOf;     // the first row of each address
    std::unordered_multimap<int, int> duplicates;     // first row -> later rows
    std::unordered_map<std::uint32_t, Neighbour> neighbours;
    std::deque<Pending> pending;
    Queue probes;    // by the last probe's send: its deadline is that plus the wait
    Queue nameWaits; // by the last query's send
    Queue otherWaits; // by the end of the wait for the other name sources
    unsigned otherSources = 0;  // those the network could open, of those asked for
    int dnsFailures = 0;        // lookups that no server answered
    bool dnsAnswered = false;   // a server has answered a lookup, with a name or without
    bool stopping = false;      // FinishAll: nothing more is waited for
    std::multimap<Clock::time_point, int> neighbourWaits; // by the end of the wait
    RoundTrips roundTrips;
    Clock::time_point backoffUntil;
    int backoffMs = 0;
    int onLinkWaiting = 0;
    int inFlight = 0;
    int lingeringCount = 0; // hosts in flight only for a late answer
    Queue lingering;        // by the last query's send
    double tokens = 1;
    Clock::time_point tokensAt = Clock::now();
    RateController pace;
    AnswerShare share;
    const NeighbourResolution resolution;
    double reportedRate = 0;
    // Whether anything has shown that answers get lost on this network: then
    // hosts are asked a third time. A fall of the share of names counts
    // until it is told spurious.
    bool lossSeen = false;
    bool shareFell = false;
    Clock::time_point lastLateName; // an answer only to a later query
    // Whether an address may be listed again (overlapping ranges): only then
    // must a finished host keep its record for the later rows.
    bool mayRepeat = true;
    // Whether asking a host for its names a second time still pays here.
    int futileRequeries = 0; // hosts asked twice that ended without names
    int futileThirds = 0;    // of those, the ones asked three times
    const Clock::time_point started = Clock::now();
    bool requeryPaid = false; // an answer came after a second asking
    // Hosts there that ended without names, in order, with their records
    // kept: on a network that loses answers they are asked again once the
    // rest of the scan is done (LastRound).
    std::vector<int> unnamed;
    int lastRounds = 0;
    int namedInRound = 0; // names that answered the current last round
    long fallsMarked = 0;     // the share's falls whose sends are marked lost
    bool RequeryPays() const {
        return requeryPaid || futileRequeries < kFutileRequeries;
    }

    Scan(FastScanEngine& e, ScanNetwork& n)
        : engine(e), network(n), options(e.m_request.options),
          pace(options.rate, options.maxRate, Clock::now()), share(Clock::now()),
          resolution(n.Resolution()) {}

    bool LossSeen() const { return lossSeen || shareFell; }

    bool MayAskAgain(const Host& host) const {
        if (host.namesDone || host.nameQueries >= kMostNameQueries || !RequeryPays())
            return false;
        if (host.nameQueries < 2)
            return true;
        // A third asking, while asking twice has not been seen not to pay,
        // or once the scan has seen loss. It pays where names were lost:
        // once this many hosts asked three times have ended without names,
        // only those whose first query went out while others were lost are
        // asked again.
        if (!LossSeen() && futileRequeries >= kFutileRequeries)
            return false;
        return futileThirds < kFutileRequeries || LostAround(host.firstSent);
    }

    // Buckets of send times (a share window each) in which a first query
    // was lost: its host answered only a later one.
    std::vector<bool> lostSends;
    std::size_t BucketOf(Clock::time_point sent) const {
        return static_cast<std::size_t>(
            std::max<Clock::rep>(0, (sent - started) / Milliseconds(AnswerShare::kWindowMs)));
    }
    void MarkLost(Clock::time_point sent) {
        const std::size_t bucket = BucketOf(sent);
        if (lostSends.size() <= bucket)
            lostSends.resize(bucket + 1);
        lostSends[bucket] = true;
    }
    bool LostAround(Clock::time_point sent) const {
        const std::size_t bucket = BucketOf(sent);
        for (std::size_t b = bucket == 0 ? 0 : bucket - 1; b <= bucket + 1; ++b)
            if (b < lostSends.size() && lostSends[b])
                return true;
        return false;
    }
    // How long after its send a first query's answer is due, for the share:
    // a window at least, so that a responder's short queue is not taken for
    // loss.
    Clock::duration ShareSettle() const {
        return Milliseconds(std::max(AnswerShare::kWindowMs, 2 * roundTrips.TwiceSmoothedMs()));
    }

    double Rate() const { return std::max(1.0, pace.Rate()); }
    // A tenth of a millisecond's sends at once at most: a responder or a
    // firewall that limits UDP 137 keeps a burst of a few packets only.
    double Burst() const { return std::max(1.0, Rate() / 10000.0); }
    int Tries() const { return options.adaptiveWait ? 2 : 1; }
    Milliseconds Wait() const {
        return Milliseconds(options.adaptiveWait ? roundTrips.WaitMs()
                                                 : std::max(1, options.pingTimeoutMs));
    }
    // A host known to be there is asked for its names again after this. Not
    // the probes' wait: that one grows with every deviation of a busy
    // network, and a host answers its query about as fast as its echo.
    Milliseconds NameWait() const {
        return Milliseconds(std::max(kNameWaitMs, roundTrips.TwiceSmoothedMs()));
    }

    void Refill(Clock::time_point now) {
        const double seconds = std::chrono::duration<double>(now - tokensAt).count();
        tokens = std::min(Burst(), tokens + seconds * Rate());
        tokensAt = now;
        pace.Tick(now);
        if (pace.Rate() != reportedRate) {
            reportedRate = pace.Rate();
            engine.m_sink.SendRate(reportedRate);
        }
    }

    int RowOf(const Host& host) const { return static_cast<int>(&host - hosts.data()); }

    void Report(Host& host) {
        const int row = RowOf(host);
        engine.m_sink.RowResult(row, host.record);
        const auto [first, last] = duplicates.equal_range(row);
        for (auto it = first; it != last; ++it) {
            engine.m_sink.RowResult(it->second, host.record);
        }
    }

    // A host that is there, asked twice (three times) in vain: the asking
    // did not pay. Counted as the wait for that asking ends.
    void CountFutile(Host& host) {
        if (host.namesDone || host.nameQueries < 2 ||
            (host.record.reasons == 0 && !NeighbourResolved(host)))
            return;
        if (host.futileCounted < 1) {
            host.futileCounted = 1;
            ++futileRequeries;
        }
        if (host.nameQueries >= 3 && host.futileCounted < 2) {
            host.futileCounted = 2;
            ++futileThirds;
        }
    }

    void Release(Host& host) {
        if (host.lingering) {
            host.lingering = false;
            --lingeringCount;
        }
        if (host.holdsNeighbour) {
            host.holdsNeighbour = false;
            --onLinkWaiting;
        }
    }

    // What the host gave, and its neighbour entry; then its row.
    void Finish(Host& host) {
        if (host.phase == Phase::Done || WaitForOtherNames(host))
            return;
        Release(host);
        HostRecord& record = host.record;
        const auto found = host.onLink ? neighbours.find(host.address) : neighbours.end();
        if (found != neighbours.end()) {
            const Neighbour& entry = found->second;
            if (entry.resolved && entry.hasMac)
                record.reasons |= HostRecord::kReasonArp;
            // A host that is there takes its MAC from its entry when node
            // status gave none (or Samba's zeros).
            if (record.reasons && entry.hasMac && !IsZeroMac(entry.mac) &&
                (!record.hasMac || IsZeroMac(record.mac.data()))) {
                record.hasMac = true;
                std::copy_n(entry.mac, 6, record.mac.begin());
            }
        }
        TakeVendor(record, options);
        record.response =
            record.reasons ? HostRecord::Response::Answered : HostRecord::Response::Silent;
        CountFutile(host);
        host.phase = Phase::Done;
        --inFlight;
        Report(host);
        if (record.reasons && !host.namesDone && host.nameQueries > 0) {
            unnamed.push_back(RowOf(host));
            return;
        }
        // The sink has the row; a host that cannot be listed again needs
        // nothing of it any more, which keeps a large scan small.
        if (!mayRepeat)
            record = HostRecord{};
    }

    void Evidence(Host& host, unsigned reason, Clock::time_point now) {
        if (host.record.reasons == 0) {
            const double ms = std::chrono::duration<double, std::milli>(now - host.lastSent).count();
            host.record.rttMs = static_cast<int>(std::lround(ms));
            // Only an echo that answers the one probe sent is a clean sample:
            // a host may take its time to answer node status.
            if (host.tries == 1 && reason == HostRecord::kReasonEcho) {
                roundTrips.Add(ms);
                pace.RoundTrip(ms, now);
            }
        }
        host.record.reasons |= reason;
        // A host that answered holds its neighbour entry no longer.
        Release(host);
        if (!host.otherAsked)
            AskOtherSources(host, now);
    }

    static constexpr unsigned Bit(HostRecord::NameSource source) {
        return 1u << static_cast<unsigned>(source);
    }
    // The id of the host's mDNS or LLMNR query: as hard to guess as the
    // node-status ones.
    std::uint16_t PtrId(const Host& host, PtrProtocol protocol) const {
        return EchoPackets::TransactionId(secret ^ 0x707472ull, host.address,
                                          protocol == PtrProtocol::Mdns ? 0 : 1);
    }

    // A host known to be there is asked for its names by the other sources
    // at once, and waited for about as long as a node-status answer: its own
    // responders (mDNS, LLMNR) only on a network of ours, as they answer
    // nobody else; the resolver while some server answers it.
    void AskOtherSources(Host& host, Clock::time_point now) {
        host.otherAsked = true;
        if (host.onLink) {
            const std::pair<HostRecord::NameSource, std::uint16_t> responders[] = {
                {HostRecord::NameSource::Mdns, kMdnsPort},
                {HostRecord::NameSource::Llmnr, kLlmnrPort}};
            for (const auto& [source, port] : responders) {
                if (!(otherSources & Bit(source)))
                    continue;
                const PtrProtocol protocol =
                    port == kMdnsPort ? PtrProtocol::Mdns : PtrProtocol::Llmnr;
                const auto query = BuildPtrQuery(host.address, PtrId(host, protocol));
                if (network.SendPtrQuery(host.address, port, query) == 0)
                    host.otherPending |= Bit(source);
            }
        }
        const bool dnsDead = !dnsAnswered && dnsFailures >= kDnsFailuresToGiveUp;
        if ((otherSources & Bit(HostRecord::NameSource::Dns)) && !dnsDead &&
            network.AskDns(host.address))
            host.otherPending |= Bit(HostRecord::NameSource::Dns);
        if (host.otherPending)
            host.otherUntil = now + NameWait();
    }

    // Whether the host waits for its other names before its row is done: a
    // host there that had not been asked yet (found by its neighbour entry
    // alone) is asked now.
    bool WaitForOtherNames(Host& host) {
        if (stopping)
            return false;
        const Clock::time_point now = Clock::now();
        if (!host.otherAsked && (host.record.reasons || NeighbourResolved(host)))
            AskOtherSources(host, now);
        if (!host.otherPending || now >= host.otherUntil)
            return false;
        if (host.phase != Phase::OtherNames) {
            Release(host);
            host.phase = Phase::OtherNames;
            otherWaits.emplace_back(host.otherUntil, RowOf(host));
        }
        return true;
    }

    // A source has answered for the host (with names or none).
    void OtherAnswered(Host& host, HostRecord::NameSource source,
                       std::vector<std::string> names) {
        host.otherPending &= static_cast<std::uint8_t>(~Bit(source));
        for (std::string& name : names) {
            ++engine.m_counts.otherNames;
            host.record.names.push_back({std::move(name), source});
        }
        if (!host.otherPending && host.phase == Phase::OtherNames)
            Finish(host);
    }

    void TakePtr(const NetworkEvent& event) {
        Host* host = InFlight(event.address);
        const auto source =
            event.port == kMdnsPort ? HostRecord::NameSource::Mdns : HostRecord::NameSource::Llmnr;
        if (!host || !(host->otherPending & Bit(source))) {
            ++engine.m_counts.ignored;
            return;
        }
        if (event.kind == NetworkEvent::Kind::PtrRefused)
            return OtherAnswered(*host, source, {});
        const PtrProtocol protocol =
            source == HostRecord::NameSource::Mdns ? PtrProtocol::Mdns : PtrProtocol::Llmnr;
        PtrAnswer answer = ReadPtrAnswer(event.bytes.data(), event.bytes.size(),
                                         PtrId(*host, protocol), host->address, protocol);
        if (!answer.accepted()) {
            // Not an answer to our question (another's, late, forged or
            // broken): the real one may still come.
            ++engine.m_counts.ignored;
            return;
        }
        OtherAnswered(*host, source, std::move(answer.names));
    }

    void TakeDns(const NetworkEvent& event) {
        const auto outcome = static_cast<ReverseLookups::Outcome>(event.state);
        if (outcome == ReverseLookups::Outcome::NoServer ||
            outcome == ReverseLookups::Outcome::TimedOut)
            ++dnsFailures;
        else if (outcome != ReverseLookups::Outcome::Cancelled)
            dnsAnswered = true;
        Host* host = InFlight(event.address);
        const auto source = HostRecord::NameSource::Dns;
        if (!host || !(host->otherPending & Bit(source)))
            return;
        std::vector<std::string> names;
        if (outcome == ReverseLookups::Outcome::Named && !event.bytes.empty())
            names.emplace_back(event.bytes.begin(), event.bytes.end());
        OtherAnswered(*host, source, std::move(names));
    }

    void Backoff(Clock::time_point now) {
        ++engine.m_counts.sendRetries;
        pace.Loss(now);
        backoffMs = std::clamp(backoffMs * 2, 1, kMaxBackoffMs);
        backoffUntil = now + Milliseconds(backoffMs);
    }

    // Sends what `p` still holds; false when the rest must wait for buffer.
    bool Send(Pending& p, Clock::time_point now) {
        Host& host = hosts[p.row];
        if (host.phase == Phase::Done)
            return true;
        if (p.echo) {
            const std::uint64_t token = EchoPackets::Token(secret, host.address);
            const auto payload = TokenBytes(token);
            const int error = network.SendEcho(
                host.address,
                EchoPackets::Request(network.EchoId(), EchoPackets::Sequence(secret, host.address),
                                     payload));
            if (IsBufferShortage(error)) {
                Backoff(now);
                return false;
            }
            p.echo = false;
            ++engine.m_counts.echoesSent;
            if (error != 0)
                host.echoDone = true; // no route: no answer can come
        }
        if (p.query) {
            const auto request = BuildNodeStatusRequest(
                EchoPackets::TransactionId(secret, host.address, host.nameQueries));
            const int error = network.SendNameQuery(host.address, request);
            if (IsBufferShortage(error)) {
                Backoff(now);
                return false;
            }
            p.query = false;
            if (error != 0) {
                host.namesDone = true;
            } else {
                ++host.nameQueries;
                host.lastQuery = now;
                if (!p.probe)
                    ++(host.nameQueries >= 3 ? engine.m_counts.thirdQueries
                                             : engine.m_counts.secondQueries);
            }
        }
        backoffMs = 0;
        pace.Sent();
        share.Sent(now);
        if (p.probe) {
            if (host.tries++ == 0)
                host.firstSent = now;
            else
                ++engine.m_counts.resent;
            host.lastSent = now;
            probes.emplace_back(now, p.row);
        } else {
            nameWaits.emplace_back(host.lastQuery, p.row);
        }
        Settle(host);
        return true;
    }

    // Ends the host's wait once nothing more can come.
    void Settle(Host& host) {
        if (host.phase == Phase::Probing && host.echoDone && host.namesDone)
            Finish(host);
        else if (host.phase == Phase::Names && host.namesDone)
            Finish(host);
    }

    void WaitForNames(Host& host) {
        if (host.namesDone || host.phase == Phase::Done)
            return Settle(host);
        host.phase = Phase::Names;
        nameWaits.emplace_back(host.lastQuery, RowOf(host));
    }

    Host* InFlight(std::uint32_t address) {
        const auto found = rowOf.find(address);
        if (found == rowOf.end() || hosts[found->second].phase == Phase::Done)
            return nullptr;
        return &hosts[found->second];
    }

    bool IsOurEcho(const NetworkEvent& event, const Host& host) const {
        return event.id == network.EchoId() &&
               event.sequence == EchoPackets::Sequence(secret, host.address);
    }

    void TakeNeighbour(const NetworkEvent& event, Clock::time_point now) {
        Neighbour& entry = neighbours[event.address];
        entry.told = now;
        entry.state = event.state;
        if (event.state & NUD_REACHABLE)
            entry.resolved = true;
        if (event.state & (NUD_FAILED | NUD_INCOMPLETE))
            entry.resolved = false;
        entry.hasMac = event.bytes.size() == 6;
        if (entry.hasMac)
            std::memcpy(entry.mac, event.bytes.data(), 6);
        Host* host = InFlight(event.address);
        if (!host || host->phase != Phase::Neighbour)
            return;
        if (entry.resolved && host->resolving && entry.hasMac && !host->namesDone) {
            // A later solicitation reached it: the kernel now lets out the
            // echoes and queries it held, and the names may still come.
            ++engine.m_counts.lateNeighbours;
            lossSeen = true;
            host->record.reasons |= HostRecord::kReasonArp;
            Release(*host);
            host->lastQuery = now;
            WaitForNames(*host);
            return;
        }
        // The kernel's resolution, or its check of an old entry, has ended
        // either way.
        if (entry.resolved || (event.state & NUD_FAILED) ||
            (!host->resolving && (event.state & NUD_INCOMPLETE)))
            Finish(*host);
    }

    // A node-status answer: the names of the host, if it answers one of
    // the queries asked of it.
    void TakeNameReply(const NetworkEvent& event, Clock::time_point now) {
        Host* host = InFlight(event.address);
        const int attempt = host && !host->namesDone && event.port == namePort
                                ? AttemptAnswered(*host, event.bytes)
                                : -1;
        NodeStatusAnswer answer;
        const NodeStatusVerdict verdict =
            attempt >= 0
                ? DecodeNodeStatusAnswer(
                      event.bytes.data(), event.bytes.size(),
                      EchoPackets::TransactionId(secret, event.address, attempt), answer)
                : NodeStatusVerdict{};
        if (!verdict.accepted()) {
            ++engine.m_counts.ignored;
            return;
        }
        ++engine.m_counts.named;
        NamesTaken(*host, attempt, now);
        host->namesDone = true;
        Evidence(*host, HostRecord::kReasonNbstat, now);
        // As the other engine: only an answer whose names all fit the
        // NetBIOS layout fills the row.
        if (answer.names.size() <= std::size_t(kNodeStatusMaxNames))
            TakeNodeStatus(host->record, answer, options);
        if (host->phase == Phase::Probing && !host->echoDone)
            return; // the echo may still come, for its round trip
        Finish(*host);
    }

    void Take(NetworkEvent& event, Clock::time_point now) {
        using Kind = NetworkEvent::Kind;
        switch (event.kind) {
        case Kind::EchoReply: {
            Host* host = InFlight(event.address);
            const auto token = TokenBytes(EchoPackets::Token(secret, event.address));
            if (!host || host->echoDone || !IsOurEcho(event, *host) ||
                event.bytes.size() < token.size() ||
                !std::equal(token.begin(), token.end(), event.bytes.begin())) {
                ++engine.m_counts.ignored;
                return;
            }
            ++engine.m_counts.answered;
            host->echoDone = true;
            // An echo that came only after the wait is a lost one, or as
            // good as lost.
            if (host->tries >= 2)
                lossSeen = true;
            if (host->tries == 1) {
                // The host's first query went with this echo: whether it is
                // answered too tells whether names get lost. Its answer may
                // have come first.
                host->shared = true;
                share.Echoed(host->firstSent);
                if (host->answeredFirst)
                    share.Named(host->firstSent);
            }
            Evidence(*host, HostRecord::kReasonEcho, now);
            WaitForNames(*host);
            return;
        }
        case Kind::EchoUnreachable: {
            Host* host = InFlight(event.address);
            if (!host || host->echoDone || !IsOurEcho(event, *host)) {
                ++engine.m_counts.ignored;
                return;
            }
            host->echoDone = true;
            Settle(*host);
            return;
        }
        case Kind::NameReply:
            TakeNameReply(event, now);
            return;
        case Kind::NameRefused:
            if (Host* host = InFlight(event.address); host && !host->namesDone) {
                ++engine.m_counts.refused;
                if (host->nameQueries == 1)
                    FirstQueryAnswered(*host);
                host->namesDone = true;
                Evidence(*host, HostRecord::kReasonPortUnreachable, now);
                Settle(*host);
            }
            return;
        case Kind::NameUnreachable:
            if (Host* host = InFlight(event.address); host && !host->namesDone) {
                host->namesDone = true;
                Settle(*host);
            }
            return;
        case Kind::Neighbour:
            TakeNeighbour(event, now);
            return;
        case Kind::Dropped:
            engine.m_counts.kernelDrops += event.count;
            pace.Loss(now);
            return;
        case Kind::PtrReply:
        case Kind::PtrRefused:
            TakePtr(event);
            return;
        case Kind::DnsAnswer:
            TakeDns(event);
            return;
        }
    }

    // Which of the host's queries a node-status reply answers, by its
    // transaction id; -1 for none of those sent.
    int AttemptAnswered(const Host& host, const std::vector<std::uint8_t>& bytes) const {
        if (bytes.size() < 2)
            return -1;
        const std::uint16_t id = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
        for (int attempt = 0; attempt < host.nameQueries; ++attempt)
            if (EchoPackets::TransactionId(secret, host.address, attempt) == id)
                return attempt;
        return -1;
    }

    // The host answered (or refused) its first query.
    void FirstQueryAnswered(Host& host) {
        host.answeredFirst = true;
        if (host.shared)
            share.Named(host.firstSent);
    }

    // An answer to a later query of a host that ignored the earlier ones
    // shows that queries or answers get lost: the rate falls, and hosts are
    // asked a third time.
    void NamesTaken(Host& host, int attempt, Clock::time_point now) {
        if (lastRounds > 0) {
            ++namedInRound;
            return;
        }
        if (attempt == 0) {
            FirstQueryAnswered(host);
            return;
        }
        ++engine.m_counts.lateNames;
        lastLateName = now;
        MarkLost(host.firstSent);
        requeryPaid = true;
        lossSeen = true;
        pace.LossOf(host.firstSent, now);
    }

    // The kernel is still checking an old entry of the address.
    bool NeighbourBeingChecked(std::uint32_t address) const {
        const auto found = neighbours.find(address);
        return found != neighbours.end() && !found->second.resolved &&
               (found->second.state & (NUD_STALE | NUD_DELAY | NUD_PROBE));
    }

    // Its neighbour entry has been resolved by a reply during the scan.
    bool NeighbourResolved(const Host& host) const {
        if (!host.onLink)
            return false;
        const auto found = neighbours.find(host.address);
        return found != neighbours.end() && found->second.resolved && found->second.hasMac;
    }

    // The kernel is still soliciting the address: no entry has been told
    // since it was first probed (the kernel makes one with our first send and
    // tells only of its end), or it is told incomplete.
    bool NeighbourResolving(const Host& host) const {
        const auto found = neighbours.find(host.address);
        if (found == neighbours.end())
            return true;
        const Neighbour& entry = found->second;
        if (entry.resolved)
            return false;
        if (entry.state & (NUD_INCOMPLETE | NUD_PROBE))
            return true;
        // A failure told before our probe was of an earlier resolution.
        return entry.told < host.firstSent && (entry.state & NUD_FAILED);
    }

    // The end of the wait for the kernel's resolution of the host's entry:
    // past its last solicitation. A host whose first two exchanges were lost
    // (one in a hundred under 5 % loss either way) is still found.
    Clock::time_point ResolvedBy(const Host& host) const {
        const int later = std::max(0, resolution.solicits - 1);
        const int margin = std::max(kResolveMarginMs, roundTrips.TwiceSmoothedMs());
        return host.firstSent + Milliseconds(resolution.retransMs * later + margin);
    }

    // Waits for what the kernel still does about the host's neighbour entry;
    // false when there is nothing to wait for.
    bool WaitForNeighbour(Host& host, Clock::time_point now) {
        Clock::time_point until;
        if (NeighbourBeingChecked(host.address)) {
            until = host.firstSent + Milliseconds(kNeighbourCheckMs);
        } else if (NeighbourResolving(host)) {
            host.resolving = true;
            until = ResolvedBy(host);
        } else {
            return false;
        }
        if (until <= now)
            return false;
        host.phase = Phase::Neighbour;
        host.neighbourUntil = until;
        neighbourWaits.emplace(until, RowOf(host));
        return true;
    }

    void ProbeDeadline(Host& host, Clock::time_point now) {
        if (host.record.reasons != 0 || NeighbourResolved(host)) {
            // Its neighbour entry alone may be what shows it is there.
            if (!host.otherAsked)
                AskOtherSources(host, now);
            // There, but its names are still out: one more query if it may help.
            if (MayAskAgain(host)) {
                host.phase = Phase::Names;
                pending.push_back({RowOf(host), false, true, false});
            } else if (!host.namesDone && now < host.lastQuery + NameWait()) {
                WaitForNames(host);
            } else {
                Finish(host);
            }
            return;
        }
        if (host.echoDone && host.namesDone)
            return Finish(host);
        if (host.tries < Tries()) {
            pending.push_back({RowOf(host), !host.echoDone, !host.namesDone, true});
            return;
        }
        if (host.onLink && WaitForNeighbour(host, now))
            return;
        Finish(host);
    }

    void NameDeadline(Host& host) {
        CountFutile(host);
        if (MayAskAgain(host)) {
            pending.push_back({RowOf(host), false, true, false});
        } else if (!host.namesDone) {
            // Asked for the last time: a slow responder's answer to an
            // earlier query may still come, and costs nothing to wait for
            // while the scan waits for other hosts anyway.
            host.lingering = true;
            ++lingeringCount;
            lingering.emplace_back(host.lastQuery, RowOf(host));
        } else {
            Finish(host);
        }
    }

    // Entries of hosts that have moved on are of no more use; dropping them
    // from the front keeps the next wake-up from waiting for them.
    void DropStale() {
        while (!probes.empty()) {
            const Host& host = hosts[probes.front().second];
            if (host.phase == Phase::Probing && host.lastSent == probes.front().first)
                break;
            probes.pop_front();
        }
        while (!nameWaits.empty()) {
            const Host& host = hosts[nameWaits.front().second];
            if (host.phase == Phase::Names && host.lastQuery == nameWaits.front().first)
                break;
            nameWaits.pop_front();
        }
        while (!lingering.empty() && !hosts[lingering.front().second].lingering)
            lingering.pop_front();
        while (!otherWaits.empty() && hosts[otherWaits.front().second].phase != Phase::OtherNames)
            otherWaits.pop_front();
        while (!neighbourWaits.empty()) {
            const auto first = neighbourWaits.begin();
            const Host& host = hosts[first->second];
            if (host.phase == Phase::Neighbour && host.neighbourUntil == first->first)
                break;
            neighbourWaits.erase(first);
        }
    }

    void Expire(Clock::time_point now) {
        // The waits are the same for every entry of a queue, so each queue
        // is in deadline order.
        for (;;) {
            DropStale();
            if (!probes.empty() && probes.front().first + Wait() <= now) {
                const int row = probes.front().second;
                probes.pop_front();
                ProbeDeadline(hosts[row], now);
            } else if (!nameWaits.empty() && nameWaits.front().first + NameWait() <= now) {
                const int row = nameWaits.front().second;
                nameWaits.pop_front();
                NameDeadline(hosts[row]);
            } else if (!lingering.empty() &&
                       lingering.front().first + Milliseconds(kWaitCeilingMs) <= now) {
                const int row = lingering.front().second;
                lingering.pop_front();
                Finish(hosts[row]);
            } else if (!otherWaits.empty() && otherWaits.front().first <= now) {
                Host& host = hosts[otherWaits.front().second];
                otherWaits.pop_front();
                host.otherPending = 0; // the sources that have not answered by now never will
                Finish(host);
            } else if (!neighbourWaits.empty() && neighbourWaits.begin()->first <= now) {
                const int row = neighbourWaits.begin()->second;
                neighbourWaits.erase(neighbourWaits.begin());
                Finish(hosts[row]);
            } else {
                return;
            }
        }
    }

    Clock::time_point NextDeadline(Clock::time_point wake) {
        DropStale();
        if (!probes.empty())
            wake = std::min(wake, probes.front().first + Wait());
        if (!nameWaits.empty())
            wake = std::min(wake, nameWaits.front().first + NameWait());
        if (!neighbourWaits.empty())
            wake = std::min(wake, neighbourWaits.begin()->first);
        if (!lingering.empty())
            wake = std::min(wake, lingering.front().first + Milliseconds(kWaitCeilingMs));
        if (!otherWaits.empty())
            wake = std::min(wake, otherWaits.front().first);
        return wake;
    }

    // Sends what waits, in order, while tokens and buffer last.
    void SendPending(Clock::time_point now) {
        while (!pending.empty() && tokens >= 1 && now >= backoffUntil) {
            if (!Send(pending.front(), now))
                return;
            pending.pop_front();
            tokens -= 1;
        }
    }

    // A row for `address`, told to the sink.
    Host& AddRow(std::uint32_t address) {
        const int row = static_cast<int>(hosts.size());
        Host host;
        host.address = address;
        host.record.address = address;
        const auto [first, added] = rowOf.emplace(address, row);
        if (!added)
            host.duplicateOf = first->second;
        hosts.push_back(std::move(host));
        engine.m_sink.RowAdded(row, HostRecord::FormatAddress(address));
        return hosts[row];
    }

    // An address listed again by overlapping ranges is probed once; its rows
    // get the same answer. False for an address listed the first time.
    bool AnswerAsListedBefore(Host& host) {
        if (host.duplicateOf < 0)
            return false;
        const Host& original = hosts[host.duplicateOf];
        host.phase = Phase::Done;
        if (original.phase == Phase::Done) {
            engine.m_sink.RowResult(RowOf(host), original.record);
        } else {
            duplicates.emplace(host.duplicateOf, RowOf(host));
        }
        return true;
    }

    // Whether the share of named hosts fell (the rate is capped to what the
    // network kept) or a fall turned out spurious (the cap is undone).
    void JudgeShare(Clock::time_point now) {
        const bool lossAround = now - lastLateName < std::chrono::seconds(1);
        if (const double kept = share.Fell(now, ShareSettle(), lossAround); kept > 0) {
            ++engine.m_counts.shareFalls;
            shareFell = true;
            pace.Cap(kept, now);
        }
        // Names went missing in the windows of a fall: their hosts are asked
        // a third time like those around a lost first query. A stretch that
        // lost first and second queries alike shows no late answer to mark
        // it otherwise.
        if (share.Falls() != fallsMarked) {
            fallsMarked = share.Falls();
            for (auto at = share.LastFallFrom(); at <= share.LastFallTo();
                 at += Milliseconds(AnswerShare::kWindowMs))
                MarkLost(at);
        }
        if (share.Spurious(now)) {
            ++engine.m_counts.spuriousFalls;
            shareFell = false;
            pace.Undo();
        }
    }

    // Once every address has had its askings: on a network that has been
    // seen to lose answers, the hosts there that are still without names
    // (those that ended so, and those that only wait for a late answer) are
    // asked once more, at the rate the scan has come to, and again while
    // such a round names anyone. A stretch sent too fast for a limit on
    // UDP 137 may have lost every asking of some hosts; at the end nothing
    // else competes for the limit. False when there is no round to make.
    bool LastRound() {
        if (!LossSeen() || lastRounds >= kLastRounds || (lastRounds > 0 && namedInRound == 0))
            return false;
        std::vector<int> rows;
        rows.swap(unnamed);
        for (Host& host : hosts)
            if (host.lingering && !host.namesDone) {
                Release(host);
                rows.push_back(RowOf(host));
            }
        if (rows.empty())
            return false;
        ++lastRounds;
        namedInRound = 0;
        for (int row : rows) {
            Host& host = hosts[row];
            if (host.phase == Phase::Done) {
                host.phase = Phase::Names;
                ++inFlight;
            }
            pending.push_back({row, false, true, false});
            ++engine.m_counts.lastRoundQueries;
        }
        return true;
    }

    // Takes new addresses from the walk while the rate, the back-off and the
    // room in the neighbour table allow; `dispatching` ends with the walk or
    // at the row limit. Without `open` sockets each row is finished at once.
    void Dispatch(AddressWalk& walk, bool& dispatching, bool open, int onLinkLimit,
                  ScanSummary& summary, Clock::time_point now) {
        ScanSink& sink = engine.m_sink;
        const int rowLimit = engine.m_request.rowLimit;
        while (dispatching && pending.empty() && tokens >= 1 && now >= backoffUntil &&
               onLinkWaiting < onLinkLimit) {
            std::uint32_t address = 0;
            bool skipped = false;
            if (!walk.Next(address, skipped)) {
                dispatching = false;
                break;
            }
            sink.Progress(walk.Drawn());
            if (skipped)
                continue;
            Host& added = AddRow(address);
            if (static_cast<int>(hosts.size()) == rowLimit) {
                sink.RowLimitReached(rowLimit);
                dispatching = false;
                summary.cut = true;
            }
            if (AnswerAsListedBefore(added))
                continue;
            const int row = RowOf(added);
            ++inFlight;
            if (!open) {
                Finish(added);
                continue;
            }
            added.onLink = network.OnLink(address);
            if (added.onLink) {
                added.holdsNeighbour = true;
                ++onLinkWaiting;
            }
            pending.push_back(Pending{row, true, true, true});
            if (!Send(pending.front(), now))
                break;
            pending.pop_front();
            tokens -= 1;
        }
    }

    // When to wake, at the latest in a second: for the next token while
    // there is something to send, for the next deadline or the end of a pause.
    Clock::time_point WakeAt(Clock::time_point now, bool sending) {
        Clock::time_point wake = now + std::chrono::seconds(1);
        if (sending)
            wake = std::min(wake, std::max(backoffUntil,
                                           now + std::chrono::microseconds(static_cast<long long>(
                                                     (1 - std::min(tokens, 1.0)) * 1e6 / Rate()))));
        return NextDeadline(wake);
    }

    // Once only hosts that linger for a late node-status answer are left,
    // they are finished; one whose other names are still due waits for them
    // (and one there that no source has been asked of yet is asked now).
    // True when some wait.
    bool EndLingering() {
        bool waiting = false;
        Queue ending;
        ending.swap(lingering);
        for (const auto& [sent, row] : ending) {
            Host& host = hosts[row];
            if (!host.lingering)
                continue;
            Finish(host);
            waiting |= host.phase == Phase::OtherNames;
        }
        return waiting;
    }

    // The scan is stopped: what is still out has had no answer.
    void FinishAll() {
        stopping = true;
        for (Host& host : hosts)
            if (host.duplicateOf < 0)
                Finish(host);
    }
};

FastScanEngine::FastScanEngine(ScanRequest request, ScanSink& sink, ScanProbes& probes,
                               std::unique_ptr<ScanNetwork> network)
    : m_request(std::move(request)), m_sink(sink), m_probes(probes),
      m_network(network ? std::move(network) : std::make_unique<LinuxScanNetwork>(probes)) {}

FastScanEngine::~FastScanEngine() {
    Stop();
    Wait();
}

void FastScanEngine::Run() {
    // The adapter's reset and the opening of the echo socket probe too.
    const ProbeNoticeScope notices(ProbeNoticesTo(m_sink));
    ScanSummary summary;
    summary.keepSilent = m_request.options.keepSilent;
    int lana = 0;
    if (!ChooseScanAdapter(m_probes, m_sink, lana)) {
        RunLog::Write("チェック済みIP数：%d\n", 0);
        summary.stopped = m_stop.IsRaised();
        summary.failed = true;
        m_sink.Finished(summary);
        return;
    }
    m_sink.RowsCleared();

    std::uint32_t local = 0;
    NetbiosLanaAddress(lana, local);
    // Without an ICMP socket (the user has been told how to allow one) no
    // host can answer: every row is silent, as with the other engine.
    const bool open = m_network->Open(local) == 0;
    // Such a scan probed nothing: no row of it may be taken for a silent host.
    summary.failed = !open;

    Scan scan(*this, *m_network);
    scan.mayRepeat = RangesOverlap(m_request.ranges);
    const unsigned others =
        m_request.options.nameSources & ~(1u << unsigned(HostRecord::NameSource::Netbios));
    scan.otherSources = open && others ? m_network->OpenNameSources(others) : 0;
    AddressWalk walk(m_request.ranges, m_request.options.lastOctetRule);
    bool dispatching = true;
    std::vector<NetworkEvent> events;
    const int onLinkLimit = std::max(16, m_network->NeighbourLimit() / kNeighbourShare);
    // Hosts that only linger for a late answer do not keep the scan going;
    // at the end, the last rounds of askings may.
    while (!m_stop.IsRaised() &&
           (dispatching || scan.inFlight > scan.lingeringCount || scan.EndLingering() ||
            scan.LastRound())) {
        Clock::time_point now = Clock::now();
        scan.Refill(now);
        // Sends that wait go first, then new addresses.
        scan.SendPending(now);
        scan.Dispatch(walk, dispatching, open, onLinkLimit, summary, now);

        // Sleep until the next token, deadline or pause, or until something comes.
        const bool sending = !scan.pending.empty() ||
                             (dispatching && scan.onLinkWaiting < onLinkLimit);
        const Clock::time_point wake = scan.WakeAt(now, sending);
        events.clear();
        if (open)
            m_network->Wait(MicrosecondsUntil(wake, now), m_stop, events);
        now = Clock::now();
        for (NetworkEvent& event : events)
            scan.Take(event, now);
        scan.Expire(now);
        scan.JudgeShare(now);
    }
    // Waits cut short by Stop have had no answer: those rows are silent,
    // unless something else showed the host.
    scan.FinishAll();
    RunLog::Write("チェック済みIP数：%d\n", walk.Drawn());
    summary.addressesDrawn = walk.Drawn();
    summary.stopped = m_stop.IsRaised();
    m_sink.Finished(summary);
}
