#include "core/scan/FastScanEngine.h"

#include "core/scan/AdapterChoice.h"
#include "core/scan/AddressWalk.h"
#include "core/scan/EchoPackets.h"
#include "core/scan/HostRecord.h"
#include "core/scan/LinuxScanNetwork.h"
#include "core/scan/NodeStatusCells.h"
#include "core/scan/NodeStatusQuery.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanSink.h"
#include "core/settings/RunLog.h"
#include "platform/MessageBox.h"
#include "platform/Netbios.h"
#include "platform/NodeStatusPacket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <random>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

int MillisecondsUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now)
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count());
}

} // namespace

// One scan's state, on the engine's thread only.
struct FastScanEngine::Scan {
    enum class State : std::uint8_t { Echo, Names, Done };
    struct Host {
        std::uint32_t address;
        State state = State::Echo;
        bool onLink = false;
        std::uint8_t nameQueries = 0;
        HostRecord record;
    };

    FastScanEngine& engine;
    ScanNetwork& network;
    const ScanOptions& options;
    const std::uint64_t secret = NewSecret();
    const std::uint16_t namePort = NetbiosDestinationPort();
    std::vector<Host> hosts; // by row
    std::unordered_map<std::uint32_t, int> rowOf;
    std::deque<std::pair<Clock::time_point, int>> echoDeadlines;
    std::deque<std::pair<Clock::time_point, int>> nameDeadlines;
    std::deque<int> nameRetries; // queries refused for want of buffer
    int echoRetry = -1;          // the row whose echo waits to be sent again
    Clock::time_point backoffUntil;
    int backoffMs = 0;
    int onLinkWaiting = 0;
    double tokens = 1;
    Clock::time_point tokensAt = Clock::now();

    Scan(FastScanEngine& e, ScanNetwork& n) : engine(e), network(n), options(e.m_request.options) {}

    double Rate() const { return std::max(1, options.rate); }
    double Burst() const { return std::max(1.0, Rate() / 200.0); }

    void Refill(Clock::time_point now) {
        const double seconds = std::chrono::duration<double>(now - tokensAt).count();
        tokens = std::min(Burst(), tokens + seconds * Rate());
        tokensAt = now;
    }

    void Report(Host& host) {
        engine.m_sink.RowResult(static_cast<int>(&host - hosts.data()), host.record);
    }

    void Finish(Host& host, const char* mark) {
        if (host.state == State::Echo && host.onLink)
            --onLinkWaiting;
        if (mark) {
            host.record.cells[HostRecord::kResponse] = mark;
            Report(host);
        }
        host.state = State::Done;
    }

    void Backoff(Clock::time_point now) {
        ++engine.m_counts.sendRetries;
        backoffMs = std::clamp(backoffMs * 2, 1, kMaxBackoffMs);
        backoffUntil = now + std::chrono::milliseconds(backoffMs);
    }

    // False when the send must wait for buffer.
    bool SendEcho(int row, Clock::time_point now) {
        Host& host = hosts[row];
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
        backoffMs = 0;
        ++engine.m_counts.echoesSent;
        if (error != 0) {
            Finish(host, HostRecord::kSilent); // no route: no answer can come
            return true;
        }
        echoDeadlines.emplace_back(now + std::chrono::milliseconds(options.pingTimeoutMs), row);
        return true;
    }

    void SendNames(int row, Clock::time_point now) {
        Host& host = hosts[row];
        const auto request =
            BuildNodeStatusRequest(EchoPackets::TransactionId(secret, host.address));
        const int error = network.SendNameQuery(host.address, request);
        if (IsBufferShortage(error)) {
            ++engine.m_counts.sendRetries;
            nameRetries.push_back(row);
            return;
        }
        if (error != 0) {
            Finish(host, nullptr);
            return;
        }
        ++host.nameQueries;
        nameDeadlines.emplace_back(now + std::chrono::milliseconds(kNameWaitMs), row);
    }

    Host* Waiting(std::uint32_t address, State state) {
        const auto found = rowOf.find(address);
        if (found == rowOf.end() || hosts[found->second].state != state)
            return nullptr;
        return &hosts[found->second];
    }

    bool IsOurEcho(const NetworkEvent& event, const Host& host) const {
        return event.id == network.EchoId() &&
               event.sequence == EchoPackets::Sequence(secret, host.address);
    }

    void Take(NetworkEvent& event, Clock::time_point now) {
        using Kind = NetworkEvent::Kind;
        switch (event.kind) {
        case Kind::EchoReply: {
            Host* host = Waiting(event.address, State::Echo);
            const auto token = TokenBytes(EchoPackets::Token(secret, event.address));
            if (!host || !IsOurEcho(event, *host) || event.bytes.size() < token.size() ||
                !std::equal(token.begin(), token.end(), event.bytes.begin())) {
                ++engine.m_counts.ignored;
                return;
            }
            ++engine.m_counts.answered;
            if (host->onLink)
                --onLinkWaiting;
            host->state = State::Names;
            host->record.cells[HostRecord::kResponse] = HostRecord::kAnswered;
            Report(*host);
            SendNames(static_cast<int>(host - hosts.data()), now);
            return;
        }
        case Kind::EchoUnreachable: {
            Host* host = Waiting(event.address, State::Echo);
            if (!host || !IsOurEcho(event, *host)) {
                ++engine.m_counts.ignored;
                return;
            }
            Finish(*host, HostRecord::kSilent);
            return;
        }
        case Kind::NameReply: {
            Host* host = Waiting(event.address, State::Names);
            unsigned char buffer[kNodeStatusBufferSize] = {};
            const NodeStatusVerdict verdict =
                host && event.port == namePort
                    ? DecodeNodeStatusReply(event.bytes.data(), event.bytes.size(),
                                            EchoPackets::TransactionId(secret, event.address),
                                            buffer, sizeof buffer)
                    : NodeStatusVerdict{};
            if (!verdict.accepted()) {
                ++engine.m_counts.ignored;
                return;
            }
            ++engine.m_counts.named;
            // As the other engine: only a complete answer fills the row.
            if (verdict.retcode == NRC_GOODRET) {
                NetbiosTakeZeroUnitIdFromNeighbours(host->record.cells[HostRecord::kAddress],
                                                    buffer);
                FillNodeStatusCells(host->record, buffer, sizeof buffer, options);
                Report(*host);
            }
            Finish(*host, nullptr);
            return;
        }
        case Kind::NameUnreachable:
            if (Host* host = Waiting(event.address, State::Names))
                Finish(*host, nullptr);
            return;
        case Kind::Dropped:
            engine.m_counts.kernelDrops += event.count;
            return;
        }
    }

    void Expire(Clock::time_point now) {
        while (!echoDeadlines.empty() && echoDeadlines.front().first <= now) {
            Host& host = hosts[echoDeadlines.front().second];
            echoDeadlines.pop_front();
            if (host.state == State::Echo)
                Finish(host, HostRecord::kSilent);
        }
        while (!nameDeadlines.empty() && nameDeadlines.front().first <= now) {
            const int row = nameDeadlines.front().second;
            nameDeadlines.pop_front();
            Host& host = hosts[row];
            if (host.state != State::Names)
                continue;
            // One more query for a host that did not answer the first.
            if (host.nameQueries < 2)
                SendNames(row, now);
            else
                Finish(host, nullptr);
        }
    }

    // Deadlines of hosts that have moved on are of no more use; dropping
    // them from the front keeps the next wake-up and the end of the scan
    // from waiting for them.
    void DropSettled() {
        while (!echoDeadlines.empty() && hosts[echoDeadlines.front().second].state != State::Echo)
            echoDeadlines.pop_front();
        while (!nameDeadlines.empty() && hosts[nameDeadlines.front().second].state != State::Names)
            nameDeadlines.pop_front();
    }

    bool Busy() {
        DropSettled();
        return echoRetry >= 0 || !nameRetries.empty() || !echoDeadlines.empty() ||
               !nameDeadlines.empty();
    }
};

FastScanEngine::FastScanEngine(ScanRequest request, ScanSink& sink, ScanProbes& probes,
                               void* boxOwner, std::unique_ptr<ScanNetwork> network)
    : m_request(std::move(request)), m_sink(sink), m_probes(probes), m_boxOwner(boxOwner),
      m_network(network ? std::move(network) : std::make_unique<LinuxScanNetwork>()) {}

FastScanEngine::~FastScanEngine() {
    Stop();
    Wait();
}

bool FastScanEngine::Start() {
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void FastScanEngine::Stop() {
    m_stop.Raise();
}

void FastScanEngine::Wait() {
    if (m_thread.joinable())
        m_thread.join();
}

void FastScanEngine::Run() {
    ScanSummary summary;
    summary.keepSilent = m_request.options.keepSilent;
    int lana = 0;
    if (!ChooseScanAdapter(m_probes, m_sink, m_boxOwner, lana)) {
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

    Scan scan(*this, *m_network);
    AddressWalk walk(m_request.ranges);
    bool dispatching = true;
    std::vector<NetworkEvent> events;
    const int onLinkLimit = std::max(16, m_network->NeighbourLimit() / kNeighbourShare);
    while (!m_stop.IsRaised() && (dispatching || scan.Busy())) {
        Clock::time_point now = Clock::now();
        scan.Refill(now);
        // Refused sends go again first, each after its pause.
        while (!scan.nameRetries.empty() && now >= scan.backoffUntil) {
            const int row = scan.nameRetries.front();
            scan.nameRetries.pop_front();
            scan.SendNames(row, now);
        }
        while ((dispatching || scan.echoRetry >= 0) && scan.tokens >= 1 &&
               now >= scan.backoffUntil && scan.onLinkWaiting < onLinkLimit) {
            int row = scan.echoRetry;
            if (row < 0) {
                std::uint32_t address = 0;
                bool skipped = false;
                if (!walk.Next(address, skipped)) {
                    dispatching = false;
                    break;
                }
                m_sink.Progress(walk.Drawn());
                if (skipped)
                    continue;
                row = static_cast<int>(scan.hosts.size());
                Scan::Host host;
                host.address = address;
                host.onLink = open && m_network->OnLink(address);
                host.record.cells[HostRecord::kAddress] = HostRecord::FormatAddress(address);
                scan.hosts.push_back(std::move(host));
                scan.rowOf.emplace(address, row);
                m_sink.RowAdded(row, scan.hosts[row].record.cells[HostRecord::kAddress]);
                if (scan.hosts[row].onLink)
                    ++scan.onLinkWaiting;
                if (!open) {
                    scan.Finish(scan.hosts[row], HostRecord::kSilent);
                } else if (!scan.SendEcho(row, now)) {
                    scan.echoRetry = row;
                    break;
                }
                if (static_cast<int>(scan.hosts.size()) >= kRowLimit) {
                    MessageBoxA(m_boxOwner, "20000台を超えたので停止します。", "確認", MB_OK);
                    dispatching = false;
                    summary.cut = true;
                }
            } else if (scan.SendEcho(row, now)) {
                scan.echoRetry = -1;
            } else {
                break;
            }
            scan.tokens -= 1;
        }

        // Sleep until the next token, deadline or pause, or until something comes.
        Clock::time_point wake = now + std::chrono::seconds(1);
        if ((dispatching || scan.echoRetry >= 0) && scan.onLinkWaiting < onLinkLimit)
            wake = std::min(
                wake, std::max(scan.backoffUntil,
                               now + std::chrono::microseconds(static_cast<long long>(
                                         (1 - std::min(scan.tokens, 1.0)) * 1e6 / scan.Rate()))));
        if (!scan.nameRetries.empty())
            wake = std::min(wake, scan.backoffUntil);
        scan.DropSettled();
        if (!scan.echoDeadlines.empty())
            wake = std::min(wake, scan.echoDeadlines.front().first);
        if (!scan.nameDeadlines.empty())
            wake = std::min(wake, scan.nameDeadlines.front().first);
        events.clear();
        if (open)
            m_network->Wait(MillisecondsUntil(wake, now), m_stop, events);
        now = Clock::now();
        for (NetworkEvent& event : events)
            scan.Take(event, now);
        scan.Expire(now);
    }
    // Echoes cut short by Stop have had no answer: their rows are silent.
    for (Scan::Host& host : scan.hosts)
        if (host.state == Scan::State::Echo)
            scan.Finish(host, HostRecord::kSilent);
    RunLog::Write("チェック済みIP数：%d\n", walk.Drawn());
    summary.addressesDrawn = walk.Drawn();
    summary.stopped = m_stop.IsRaised();
    m_sink.Finished(summary);
}
