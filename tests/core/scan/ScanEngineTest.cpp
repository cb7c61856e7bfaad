// Whole scans against scripted hosts: the manager, its pool of workers and
// the range walk are real; only the probes are fakes, and the reports go to
// an in-memory sink.

#include "core/settings/RunLog.h"
#include "platform/os/DescriptorLimit.h"
#include "platform/win32/Netbios.h"
#include "platform/os/StopSignal.h"
#include "platform/win32/ProbeNotices.h"
#include "core/ranges/AddressRange.h"
#include "core/scan/CThreadManager.h"
#include "core/scan/HostRecord.h"
#include "core/scan/MemoryScanSink.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanRequest.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/MessagePrinters.h"
#include "tests/support/TempDir.h"
#include "core/settings/ScanSettings.h"
#include "core/commands/ExportFormat.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct FakeHost {
    bool answersPing = false;
    unsigned char queryCode = NRC_CMDTMO;
    unsigned char mac[6] = {};
    std::vector<std::pair<std::string, unsigned char>> names; // name, suffix; '+' prefix = group
};

// Scripted probes that also measure how many probes run at once.
class FakeProbes : public ScanProbes {
public:
    std::map<std::string, FakeHost> hosts;
    LanaSelection lana{0, 0};
    std::chrono::milliseconds pingDelay{0};
    std::chrono::milliseconds queryDelay{0};
    int pingDescriptors = 0; // held by each echo, as a real probe holds its socket

    std::atomic<int> descriptorFailures{0};

    std::atomic<int> pingsNow{0}, maxPingsNow{0}, pings{0};
    std::atomic<int> queriesNow{0}, maxQueriesNow{0}, queries{0};
    std::mutex gateLock;
    std::condition_variable gate;
    bool holdPings = false;

    EchoOutcome PingHost(const std::string& address, int, const StopSignal* stop) override {
        Enter(pingsNow, maxPingsNow);
        ++pings;
        if (auto it = pingNotices.find(address); it != pingNotices.end())
            TellProbeNotice(it->second);
        std::vector<int> held;
        for (int i = 0; i < pingDescriptors; ++i) {
            held.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
            descriptorFailures += held.back() < 0;
        }
        {
            std::unique_lock<std::mutex> guard(gateLock);
            gate.wait(guard, [this] { return !holdPings; });
        }
        std::this_thread::sleep_for(pingDelay);
        const bool cut = stop && stop->IsRaised();
        for (int fd : held)
            if (fd >= 0)
                close(fd);
        --pingsNow;
        if (cut)
            return EchoOutcome::Stopped;
        auto it = hosts.find(address);
        return it != hosts.end() && it->second.answersPing ? EchoOutcome::Answered
                                                            : EchoOutcome::NoAnswer;
    }

    unsigned char QueryNodeStatus(const std::string& address, int, NodeStatusAnswer& answer,
                                  std::mutex* lock, const StopSignal*) override {
        if (lock)
            lock->lock();
        Enter(queriesNow, maxQueriesNow);
        ++queries;
        std::this_thread::sleep_for(queryDelay);
        --queriesNow;
        if (lock)
            lock->unlock();
        const FakeHost& host = hosts.at(address);
        if (host.queryCode != 0)
            return host.queryCode;
        answer = NodeStatusAnswer{};
        std::memcpy(answer.unitId.data(), host.mac, 6);
        for (const auto& [text, suffix] : host.names) {
            std::string name = text;
            const bool group = !name.empty() && name[0] == '+';
            if (group)
                name.erase(0, 1);
            NodeStatusAnswer::Name entry;
            entry.bytes.fill(' ');
            std::memcpy(entry.bytes.data(), name.data(), name.size());
            entry.bytes[15] = static_cast<unsigned char>(suffix);
            entry.flags = NodeStatusAnswer::Name::kActive | (group ? NodeStatusAnswer::Name::kGroup : 0);
            answer.names.push_back(entry);
        }
        return 0;
    }

    LanaSelection SelectLana() override { return lana; }
    bool CanEcho() override {
        if (canEchoNotice)
            TellProbeNotice(*canEchoNotice);
        return echoSocket;
    }
    bool echoSocket = true;
    // What the probes tell the user, as the real ones do when this machine
    // lets them down: the echo of an address, and the check for a socket.
    std::map<std::string, UserMessage> pingNotices;
    std::optional<UserMessage> canEchoNotice;

    void Release() {
        std::lock_guard<std::mutex> guard(gateLock);
        holdPings = false;
        gate.notify_all();
    }

private:
    static void Enter(std::atomic<int>& now, std::atomic<int>& max) {
        int n = ++now;
        int seen = max.load();
        while (n > seen && !max.compare_exchange_weak(seen, n)) {
        }
    }
};

// Keeps every report of each row, on top of the in-memory sink.
class RecordingSink : public MemoryScanSink {
public:
    void RowResult(int row, const HostRecord& record) override {
        {
            std::lock_guard<std::mutex> guard(m_reportsLock);
            m_reports[row].push_back(record);
        }
        MemoryScanSink::RowResult(row, record);
    }
    void RowLimitReached(int limit) override { limitsReached.push_back(limit); }
    std::vector<int> limitsReached;
    std::vector<HostRecord> ReportsOf(int row) {
        std::lock_guard<std::mutex> guard(m_reportsLock);
        return m_reports[row];
    }

private:
    std::mutex m_reportsLock;
    std::map<int, std::vector<HostRecord>> m_reports;
};

class ScanEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.pingTimeoutMs = 1000;
        options.maxThread = 10;
        ASSERT_TRUE(RunLog::Open(dir.path()));
    }
    void TearDown() override { RunLog::Close(); }

    void Range(const char* start, const char* end) {
        ranges.push_back({AddressFromText(start), AddressFromText(end)});
    }

    // Runs one scan of `ranges` with `options` to its end; `whileRunning`
    // gets the manager while the scan runs.
    void RunScan(std::function<void(CThreadManager&)> whileRunning = nullptr) {
        CThreadManager manager({ranges, options}, sink, probes, refuseWorker);
        ASSERT_TRUE(manager.Start());
        if (whileRunning)
            whileRunning(manager);
        ASSERT_TRUE(sink.WaitForEnd(120s)) << "scan did not finish";
        manager.Wait();
    }

    // Runs one scan of `ranges` with `options` into a sink of the case's own.
    void RunScanInto(RecordingSink& into) {
        CThreadManager manager({ranges, options}, into, probes);
        ASSERT_TRUE(manager.Start());
        ASSERT_TRUE(into.WaitForEnd(120s));
        manager.Wait();
    }

    // Hosts 10.0.0.1 to 10.0.0.n answer the echo and the node-status query;
    // the scan walks exactly that range.
    void AddAnsweringHosts(int n) {
        FakeHost up;
        up.answersPing = true;
        up.queryCode = 0;
        for (int i = 1; i <= n; ++i)
            probes.hosts["10.0.0." + std::to_string(i)] = up;
        Range("10.0.0.1", ("10.0.0." + std::to_string(n)).c_str());
    }

    std::vector<MemoryResultList::Row> Rows() { return sink.rows.Rows(); }

    std::string Log() {
        RunLog::Close();
        return TempDir::ReadFile(dir.file("vopal.log"));
    }

    TempDir dir;
    FakeProbes probes;
    RecordingSink sink;
    MessageBoxRecorder boxes;
    std::vector<AddressRange> ranges;
    ScanOptions options;
    CThreadManager::WorkerRefusal refuseWorker;
};

TEST_F(ScanEngineTest, SkipsAddressesWithOctet255OrLastOctet0AndCountsEveryAddressDrawn) {
    options.keepSilent = true;
    Range("10.0.0.0", "10.0.1.255");
    RunScan();
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 508u);
    std::set<std::string> addresses;
    for (const auto& row : rows) {
        addresses.insert(row[0]);
        EXPECT_EQ(row[1], "×");
    }
    for (const char* skipped : {"10.0.0.0", "10.0.0.255", "10.0.1.0", "10.0.1.255"})
        EXPECT_EQ(addresses.count(skipped), 0u) << skipped;
    EXPECT_EQ(rows.front()[0], "10.0.0.1");
    EXPECT_EQ(rows.back()[0], "10.0.1.254");
    std::string log = Log();
    EXPECT_NE(log.find("スレッド数：10\n"), std::string::npos);
    EXPECT_NE(log.find("チェック済みIP数：512\n"), std::string::npos) << log;
}

// vopal-scan's rule: only a last octet 0 or 255 is left out, so that the
// x.y.255.z of a /16 are scanned; the window's leaves them out.
TEST_F(ScanEngineTest, TheLastOctetRuleScansAnOctet255BeforeTheLast) {
    options.keepSilent = true;
    Range("10.0.254.250", "10.1.0.3");
    for (const bool lastOctetRule : {false, true}) {
        options.lastOctetRule = lastOctetRule;
        RecordingSink fresh;
        RunScanInto(fresh);
        std::vector<std::string> addresses;
        for (const auto& row : fresh.rows.Rows())
            addresses.push_back(row[0]);
        std::vector<std::string> expected = {"10.0.254.250", "10.0.254.251", "10.0.254.252",
                                             "10.0.254.253", "10.0.254.254"};
        if (lastOctetRule)
            for (int last = 1; last <= 254; ++last)
                expected.push_back("10.0.255." + std::to_string(last));
        for (const char* after : {"10.1.0.1", "10.1.0.2", "10.1.0.3"})
            expected.push_back(after);
        EXPECT_EQ(addresses, expected) << "last-octet rule " << lastOctetRule;
    }
}

TEST_F(ScanEngineTest, RangeWithOnlySkippedAddressesGivesNoRowButIsCounted) {
    Range("10.0.0.255", "10.0.1.0");
    RunScan();
    EXPECT_EQ(static_cast<int>(Rows().size()), 0);
    EXPECT_NE(Log().find("チェック済みIP数：2\n"), std::string::npos);
}

TEST_F(ScanEngineTest, HostRecordColumnsAndReportOrder) {
    FakeHost pc;
    pc.answersPing = true;
    pc.queryCode = 0;
    unsigned char mac[6] = {0x00, 0x00, 0x0C, 0x01, 0x02, 0x03};
    std::memcpy(pc.mac, mac, 6);
    pc.names = {{"PC1", 0x00}, {"+WORKGROUP", 0x00}, {"PC1", 0x03}, {"USER", 0x03}, {"PC1", 0x20}};
    FakeHost noNetbios;
    noNetbios.answersPing = true;
    noNetbios.queryCode = NRC_CMDTMO;
    probes.hosts["10.0.0.1"] = pc;
    probes.hosts["10.0.0.2"] = noNetbios;
    options.keepSilent = true;
    options.ignoreWorkstation = true;
    Range("10.0.0.1", "10.0.0.3");
    RunScan();

    auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (MemoryResultList::Row{"10.0.0.1", "○", "PC1", "WORKGROUP", "00000C010203",
                                              "CISCO", "USER"}));
    EXPECT_EQ(rows[1], (MemoryResultList::Row{"10.0.0.2", "○", "", "", "", "", ""}));
    EXPECT_EQ(rows[2], (MemoryResultList::Row{"10.0.0.3", "×", "", "", "", "", ""}));
    // The mark is reported as soon as the echo ends, the rest with the names.
    const std::vector<HostRecord> reports = sink.ReportsOf(0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(CellsOf(reports[0]), (MemoryResultList::Row{"10.0.0.1", "○", "", "", "", "", ""}));
    EXPECT_EQ(CellsOf(reports[1]), rows[0]);
    EXPECT_EQ(sink.ReportsOf(1).size(), 1u);
    EXPECT_EQ(sink.ReportsOf(2).size(), 1u);
    EXPECT_EQ(probes.queries.load(), 2) << "no node-status query for a silent address";
}

TEST_F(ScanEngineTest, NamesFromTheNetworkReachTheExportAsText) {
    FakeHost pc;
    pc.answersPing = true;
    pc.queryCode = 0;
    unsigned char mac[6] = {0x00, 0x00, 0x0C, 0x01, 0x02, 0x03};
    std::memcpy(pc.mac, mac, 6);
    // A row of its own, a formula, a terminal title and a bell.
    pc.names = {{"X\r\n6.6.6.6,\x81\x9B", 0x00}, {"+=1+2", 0x00}, {"\x1B]0;pwn\x07", 0x03}};
    probes.hosts["10.0.0.1"] = pc;
    Range("10.0.0.1", "10.0.0.1");
    RunScan();
    EXPECT_EQ(FormatExportText(sink.rows),
              "IPアドレス,応答,コンピュータ名,ドメイン名,MACアドレス,NICベンダー名,メッセンジャ\r\n"
              "10.0.0.1,○,\"X..6.6.6.6,○\",'=1+2,00000C010203,CISCO,.]0;pwn.\r\n");
}

TEST_F(ScanEngineTest, IgnoreNicVendorIdLeavesTheVendorColumnUnwritten) {
    FakeHost pc;
    pc.answersPing = true;
    pc.queryCode = 0;
    pc.names = {{"PC1", 0x03}};
    probes.hosts["10.0.0.1"] = pc;
    options.ignoreNicVendor = true;
    Range("10.0.0.1", "10.0.0.1");
    RunScan();
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][HostRecord::kVendor], "");
    EXPECT_EQ(rows[0][HostRecord::kMessenger], "PC1");
}

TEST_F(ScanEngineTest, SilentRowsAreRemovedAtTheEndUnlessKept) {
    FakeHost up;
    up.answersPing = true;
    for (const char* a : {"10.0.0.2", "10.0.0.5"})
        probes.hosts[a] = up;
    Range("10.0.0.1", "10.0.0.6");
    for (const bool keep : {false, true}) {
        options.keepSilent = keep;
        RecordingSink fresh;
        RunScanInto(fresh);
        std::vector<std::string> kept;
        for (const auto& row : fresh.rows.Rows())
            kept.push_back(row[0] + row[1]);
        const std::vector<std::string> all = {"10.0.0.1×", "10.0.0.2○", "10.0.0.3×",
                                              "10.0.0.4×", "10.0.0.5○", "10.0.0.6×"};
        const std::vector<std::string> answered = {"10.0.0.2○", "10.0.0.5○"};
        EXPECT_EQ(kept, keep ? all : answered);
        EXPECT_EQ(fresh.Summary().keepSilent, keep);
        EXPECT_FALSE(fresh.Summary().stopped);
        EXPECT_EQ(fresh.Summary().addressesDrawn, 6u);
    }
}

TEST_F(ScanEngineTest, ConcurrencyNeverExceedsMaxThreadPlusOne) {
    probes.pingDelay = 3ms;
    options.keepSilent = true;
    Range("10.0.0.1", "10.0.0.120");
    options.maxThread = 3;
    RunScan();
    EXPECT_EQ(static_cast<int>(Rows().size()), 120);
    EXPECT_LE(probes.maxPingsNow.load(), 4);
    EXPECT_GE(probes.maxPingsNow.load(), 2) << "workers should overlap";
}

// A stored MaxThread of 1500 under a low descriptor limit: no probe may go
// without its descriptors.
TEST_F(ScanEngineTest, WorkersStayWithinTheFreeDescriptors) {
    AddAnsweringHosts(80);
    probes.pingDelay = 5ms;
    probes.pingDescriptors = 2;
    options.maxThread = 1500;
    const int code = ChildProcess::Run([&] {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const int lowestFree = dup(0);
        close(lowestFree);
        limit.rlim_cur = static_cast<rlim_t>(lowestFree) + 20;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return ChildProcess::kCannotSetUp;
        RunScan();
        EXPECT_EQ(probes.descriptorFailures.load(), 0);
        EXPECT_GE(probes.maxPingsNow.load(), 2) << "workers should still overlap";
        auto rows = Rows();
        EXPECT_EQ(rows.size(), 80u);
        for (const auto& row : rows)
            EXPECT_EQ(row[HostRecord::kResponse], "○") << row[0];
        return 0;
    });
    EXPECT_EQ(code, 0);
}

TEST_F(ScanEngineTest, MaxThreadZeroRunsOneWorkerAtATime) {
    probes.pingDelay = 1ms;
    options.maxThread = 0;
    Range("10.0.0.1", "10.0.0.40");
    RunScan();
    EXPECT_EQ(probes.pings.load(), 40);
    EXPECT_EQ(probes.maxPingsNow.load(), 1);
}

TEST_F(ScanEngineTest, SafeModeSerialisesNodeStatusQueries) {
    AddAnsweringHosts(30);
    probes.queryDelay = 5ms;
    options.safeMode = true;
    RunScan();
    EXPECT_EQ(probes.queries.load(), 30);
    EXPECT_EQ(probes.maxQueriesNow.load(), 1);
}

TEST_F(ScanEngineTest, WithoutSafeModeNodeStatusQueriesOverlap) {
    AddAnsweringHosts(30);
    probes.queryDelay = 20ms;
    RunScan();
    EXPECT_EQ(probes.queries.load(), 30);
    EXPECT_GT(probes.maxQueriesNow.load(), 1);
}

TEST_F(ScanEngineTest, StopCutsStartedProbesShortAsSilentAndDispatchesNoMore) {
    for (const bool keepSilent : {false, true}) {
        SCOPED_TRACE(keepSilent ? "silent rows kept" : "silent rows removed");
        MemoryScanSink fresh;
        probes.pings = 0;
        probes.holdPings = true;
        options.maxThread = 4;
        options.keepSilent = keepSilent;
        ranges.clear();
        Range("10.0.0.1", "10.0.0.200");
        CThreadManager manager({ranges, options}, fresh, probes);
        ASSERT_TRUE(manager.Start());
        // Five workers start and block in their echo; the sixth is throttled.
        for (int i = 0; i < 2000 && probes.pings.load() < 5; ++i)
            std::this_thread::sleep_for(1ms);
        manager.Stop();
        std::this_thread::sleep_for(20ms);
        probes.Release();
        ASSERT_TRUE(fresh.WaitForEnd(120s));
        manager.Wait();
        EXPECT_TRUE(fresh.Summary().stopped);
        EXPECT_FALSE(fresh.Summary().Complete());
        // The cut probes had no answer: their rows are silent, and go unless kept.
        const auto rows = fresh.rows.Rows();
        ASSERT_EQ(rows.size(), keepSilent ? 5u : 0u);
        for (const auto& row : rows)
            EXPECT_EQ(row[1], "×") << row[0];
    }
}

// The window's cap of 20000 rows is the caller's: with it the scan stops
// after exactly that many rows, says so as a value and shows no box of its
// own; without it every address gets its row.
TEST_F(ScanEngineTest, StopsAfterExactlyTheRowLimitAndOnlyWhenGivenOne) {
    for (const int limit : {20000, 0}) {
        SCOPED_TRACE(limit);
        RecordingSink fresh;
        options.keepSilent = true;
        options.maxThread = 30;
        ranges.clear();
        Range("10.1.0.1", "10.1.100.254");
        ScanRequest request{ranges, options, limit};
        CThreadManager manager(request, fresh, probes);
        ASSERT_TRUE(manager.Start());
        ASSERT_TRUE(fresh.WaitForEnd(120s));
        manager.Wait();
        EXPECT_EQ(static_cast<int>(fresh.rows.Rows().size()), limit ? 20000 : 101 * 254);
        EXPECT_EQ(fresh.limitsReached, limit ? std::vector<int>{20000} : std::vector<int>{});
        EXPECT_EQ(fresh.Summary().cut, limit != 0);
        EXPECT_TRUE(fresh.Notices().empty());
        EXPECT_EQ(boxes.count(), 0u);
    }
    // 20000 rows = 78 blocks of 254 plus 188; drawn: 255 + 77 * 256 + 189.
    EXPECT_NE(Log().find("チェック済みIP数：20156\n"), std::string::npos);
}

TEST_F(ScanEngineTest, AdapterFailureKeepsEarlierRowsExceptSilentOnes) {
    sink.rows.InsertItem(0, "10.9.9.1");
    sink.rows.SetItemText(0, 1, "○");
    sink.rows.InsertItem(1, "10.9.9.2");
    sink.rows.SetItemText(1, 1, "×");
    probes.lana = {10, NRC_BRIDGE};
    Range("10.0.0.1", "10.0.0.5");
    RunScan();

    EXPECT_EQ(sink.Lana(), 10);
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "10.9.9.1");
    EXPECT_EQ(probes.pings.load(), 0);

    // Two notices of the scan's own, for the window to show over itself.
    const std::vector<ScanNotice> told = sink.Notices();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].source, ScanNotice::Source::Scan);
    EXPECT_EQ(told[0].message.text.rfind("アダプタの初期化に失敗しました。(注)", 0), 0u);
    EXPECT_EQ(told[0].message.caption, "エラー");
    EXPECT_EQ(told[0].message.type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(told[1],
              (ScanNotice{ScanNotice::Source::Scan,
                          {"netbios:ncb_lana_numが正しいネットワーク番号を指定していません",
                           "kestrune", MB_OK | MB_ICONERROR}}));
    EXPECT_EQ(boxes.count(), 0u);

    std::string log = Log();
    EXPECT_NE(log.find("アダプタの初期化に失敗しました。\n"), std::string::npos);
    EXPECT_NE(log.find("チェック済みIP数：0\n"), std::string::npos);
    EXPECT_EQ(log.find("スレッド数"), std::string::npos);
}

TEST_F(ScanEngineTest, WorkerThatCannotBeCreatedEndsTheScanAfterItsMessage) {
    std::atomic<int> created{0};
    refuseWorker = [&] { return ++created > 3; };
    probes.holdPings = true;
    options.keepSilent = true;
    Range("10.0.0.1", "10.0.0.50");
    RunScan([&](CThreadManager&) {
        // Three workers hold their echo; the fourth address needs a fourth.
        for (int i = 0; i < 2000 && sink.Notices().empty(); ++i)
            std::this_thread::sleep_for(1ms);
        probes.Release();
    });
    EXPECT_EQ(sink.Notices(),
              (std::vector<ScanNotice>{{ScanNotice::Source::Scan,
                                        {"原因不明のエラー。子スレッドの起動に失敗しました。",
                                         "エラー", MB_OK | MB_ICONERROR}}}));
    EXPECT_EQ(boxes.count(), 0u);
    // Three workers ran; the fourth row was added but never got a worker, so
    // nothing answered for it.
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3][1], "×");
    EXPECT_EQ(probes.pings.load(), 3);
    EXPECT_TRUE(sink.Summary().cut);
    EXPECT_FALSE(sink.Summary().Complete());
}

// What the probes tell on the scan's threads, the manager's and the
// workers', reaches the sink as the probes' own notices, each in its turn.
TEST_F(ScanEngineTest, WhatTheProbesTellOnEveryThreadOfTheScanReachesTheSink) {
    const UserMessage noSocket{"no socket", "エラー", MB_OK | MB_ICONERROR};
    const UserMessage shortage{"shortage", "エラー", MB_OK | MB_ICONERROR};
    probes.canEchoNotice = noSocket;
    probes.pingNotices["10.0.0.2"] = shortage;
    Range("10.0.0.1", "10.0.0.3");
    RunScan();
    EXPECT_EQ(sink.Notices(), (std::vector<ScanNotice>{{ScanNotice::Source::Probe, noSocket},
                                                       {ScanNotice::Source::Probe, shortage}}));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(ScanEngineTest, NoRangesScanNothing) {
    RunScan();
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(sink.Notices().empty());
    EXPECT_NE(Log().find("チェック済みIP数：0\n"), std::string::npos);
}

// The window's options become the scan's: a switch counts only when it is 1.
TEST(ScanRequest, OptionsComeFromTheSettings) {
    ScanSettingsRecord settings;
    settings.MaxThread = 40;
    settings.PingTimeout = 1500;
    settings.SafeMode = 2;
    settings.IgnoreNicVendorId = 1;
    settings.IgnoreWorkstationService = 0;
    settings.DontDeleteUnresolvedAddress = 1;
    ScanOptions expected;
    expected.maxThread = 40;
    expected.pingTimeoutMs = 1500;
    expected.safeMode = false;
    expected.ignoreNicVendor = true;
    expected.ignoreWorkstation = false;
    expected.keepSilent = true;
    EXPECT_EQ(ScanOptionsFrom(settings), expected);
}

} // namespace

namespace {

// Without any ICMP socket nothing is probed: the scan says it failed, so
// that its rows, all silent, are never recorded as hosts that went away.
TEST_F(ScanEngineTest, AScanWithoutAnEchoSocketHasFailed) {
    AddAnsweringHosts(3);
    for (const bool socket : {true, false}) {
        SCOPED_TRACE(socket ? "echo socket" : "no echo socket");
        RecordingSink fresh;
        probes.echoSocket = socket;
        RunScanInto(fresh);
        EXPECT_EQ(fresh.Summary().failed, !socket);
        EXPECT_EQ(fresh.Summary().Complete(), socket);
    }
}

} // namespace
