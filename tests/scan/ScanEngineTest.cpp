// Whole scans against scripted hosts: the manager, its workers, the range
// table and the list file are real; only the probes are fakes.

#include "app/RunLog.h"
#include "app/ScanSettings.h"
#include "platform/DescriptorLimit.h"
#include "platform/Netbios.h"
#include "res/Resource.h"
#include "scan/CScanThread.h"
#include "scan/CThreadManager.h"
#include "scan/HostRecord.h"
#include "scan/MemoryResultList.h"
#include "scan/ScanProbes.h"
#include "scan/ScanStartDialog.h"
#include "scan/ScanTimings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempDir.h"
#include "view/ExportFormat.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <map>
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

    EchoOutcome PingHost(const std::string& address, const StopSignal* stop) override {
        Enter(pingsNow, maxPingsNow);
        ++pings;
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

    unsigned char QueryNodeStatus(const std::string& address, int, unsigned char (&buffer)[600],
                                  std::mutex* lock, const StopSignal*) override {
        if (lock)
            lock->lock();
        Enter(queriesNow, maxQueriesNow);
        ++queries;
        std::this_thread::sleep_for(queryDelay);
        --queriesNow;
        if (lock)
            lock->unlock();
        std::memset(buffer, 0, sizeof buffer);
        const FakeHost& host = hosts.at(address);
        if (host.queryCode != 0)
            return host.queryCode;
        auto* status = reinterpret_cast<ADAPTER_STATUS*>(buffer);
        std::memcpy(status->adapter_address, host.mac, 6);
        auto* names = reinterpret_cast<NAME_BUFFER*>(buffer + sizeof(ADAPTER_STATUS));
        for (size_t i = 0; i < host.names.size(); ++i) {
            std::string name = host.names[i].first;
            bool group = !name.empty() && name[0] == '+';
            if (group)
                name.erase(0, 1);
            std::memset(names[i].name, ' ', 15);
            std::memcpy(names[i].name, name.data(), name.size());
            names[i].name[15] = host.names[i].second;
            names[i].name_flags = (group ? GROUP_NAME : 0) | REGISTERED;
        }
        status->name_count = static_cast<WORD>(host.names.size());
        return 0;
    }

    LanaSelection SelectLana() override { return lana; }

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

// Records every cell write in order, on top of the in-memory list.
class RecordingList : public MemoryResultList {
public:
    std::atomic<bool> refuseDeletes{false};
    bool DeleteItem(int row) override {
        return !refuseDeletes && MemoryResultList::DeleteItem(row);
    }
    bool SetItemText(int row, int column, const std::string& text) override {
        {
            std::lock_guard<std::mutex> guard(m_writesLock);
            m_writes[row].push_back(column);
        }
        return MemoryResultList::SetItemText(row, column, text);
    }
    std::vector<int> WritesOf(int row) {
        std::lock_guard<std::mutex> guard(m_writesLock);
        return m_writes[row];
    }

private:
    std::mutex m_writesLock;
    std::map<int, std::vector<int>> m_writes;
};

class TestDialog : public ScanStartDialog {
public:
    RecordingList list;
    std::vector<std::pair<int, bool>> controls;

    ResultList* View() override { return &list; }
    void EnableControl(int id, bool enable) override { controls.emplace_back(id, enable); }
    void* MainWindow() override { return &list; } // any distinct pointer
    void OnManagerEnded() override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = true;
        m_cv.notify_all();
    }
    bool WaitForEnd(std::chrono::seconds limit = 120s) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_cv.wait_for(guard, limit, [this] { return m_ended; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_ended = false;
};

class ScanEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedTimings = g_scanTimings;
        g_scanTimings = ScanTimings{2, 10, 5, 5, 5};
        m_savedSettings = ScanSettings;
        ScanSettings.PingTimeout = 1000;
        ScanSettings.MaxThread = 10;
        ScanSettings.SafeMode = 0;
        ScanSettings.IgnoreNicVendorId = 0;
        ScanSettings.IgnoreWorkstationService = 0;
        ScanSettings.DontDeleteUnresolvedAddress = 0;
        ScanSettings.IsWindowsXp = false;
        ScanSettings.IpListFileName = dir.file("iplist.lst");
        StopRequested.Clear();
        ASSERT_TRUE(RunLog::Open(dir.path()));
    }
    void TearDown() override {
        RunLog::Close();
        g_scanTimings = m_savedTimings;
        ScanSettings = m_savedSettings;
        CThreadManager::s_createWorkerForTests = nullptr;
    }

    void WriteList(const std::string& lines) { TempDir::WriteFile(ScanSettings.IpListFileName, lines); }

    // Starts a manager the way the scan start dialog does and waits for its end.
    void RunScan(std::function<void()> whileRunning = nullptr) {
        auto* manager = new CThreadManager;
        manager->m_pProbes = &probes;
        ASSERT_TRUE(manager->CreateThread());
        manager->m_pDialog = &dialog;
        manager->ResumeThread();
        if (whileRunning)
            whileRunning();
        ASSERT_TRUE(dialog.WaitForEnd()) << "scan did not finish";
    }

    // Hosts 10.0.0.1 to 10.0.0.n answer the echo and the node-status query;
    // the list file holds exactly that range.
    void AddAnsweringHosts(int n) {
        FakeHost up;
        up.answersPing = true;
        up.queryCode = 0;
        for (int i = 1; i <= n; ++i)
            probes.hosts["10.0.0." + std::to_string(i)] = up;
        WriteList("10.0.0.1,10.0.0." + std::to_string(n) + "\r\n");
    }

    std::string Log() {
        RunLog::Close();
        return TempDir::ReadFile(dir.file("vopal.log"));
    }

    TempDir dir;
    FakeProbes probes;
    TestDialog dialog;
    MessageBoxRecorder boxes;

private:
    ScanTimings m_savedTimings;
    ScanSettingsRecord m_savedSettings;
};

TEST_F(ScanEngineTest, SkipsAddressesWithOctet255OrLastOctet0AndCountsEveryAddressDrawn) {
    ScanSettings.DontDeleteUnresolvedAddress = 1;
    WriteList("10.0.0.0,10.0.1.255\r\n");
    RunScan();
    auto rows = dialog.list.Rows();
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

TEST_F(ScanEngineTest, RangeWithOnlySkippedAddressesGivesNoRowButIsCounted) {
    WriteList("10.0.0.255,10.0.1.0\r\n");
    RunScan();
    EXPECT_EQ(dialog.list.GetItemCount(), 0);
    EXPECT_NE(Log().find("チェック済みIP数：2\n"), std::string::npos);
}

TEST_F(ScanEngineTest, HostRecordColumnsAndWriteOrder) {
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
    ScanSettings.DontDeleteUnresolvedAddress = 1;
    ScanSettings.IgnoreWorkstationService = 1;
    WriteList("10.0.0.1,10.0.0.3\r\n");
    RunScan();

    auto rows = dialog.list.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (MemoryResultList::Row{"10.0.0.1", "○", "PC1", "WORKGROUP", "00000C010203",
                                              "CISCO", "USER"}));
    EXPECT_EQ(rows[1], (MemoryResultList::Row{"10.0.0.2", "○", "", "", "", "", ""}));
    EXPECT_EQ(rows[2], (MemoryResultList::Row{"10.0.0.3", "×", "", "", "", "", ""}));
    EXPECT_EQ(dialog.list.WritesOf(0), (std::vector<int>{1, 4, 5, 2, 3, 6}));
    EXPECT_EQ(dialog.list.WritesOf(1), (std::vector<int>{1}));
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
    WriteList("10.0.0.1,10.0.0.1\r\n");
    RunScan();
    EXPECT_EQ(FormatExportText(dialog.list),
              "IPアドレス,応答,コンピュータ名,ドメイン名,MACアドレス,NICベンダー名,メッセンジャ\r\n"
              "10.0.0.1,○,\"X..6.6.6.6,○\",'=1+2,00000C010203,CISCO,.]0;pwn.\r\n");
}

TEST_F(ScanEngineTest, IgnoreNicVendorIdLeavesTheVendorColumnUnwritten) {
    FakeHost pc;
    pc.answersPing = true;
    pc.queryCode = 0;
    pc.names = {{"PC1", 0x03}};
    probes.hosts["10.0.0.1"] = pc;
    ScanSettings.IgnoreNicVendorId = 1;
    WriteList("10.0.0.1,10.0.0.1\r\n");
    RunScan();
    auto rows = dialog.list.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][HostRecord::kVendor], "");
    EXPECT_EQ(rows[0][HostRecord::kMessenger], "PC1");
    EXPECT_EQ(dialog.list.WritesOf(0), (std::vector<int>{1, 4, 6}));
}

TEST_F(ScanEngineTest, SilentRowsAreRemovedUnlessKeptAndControlsAreResetInOrder) {
    FakeHost up;
    up.answersPing = true;
    for (const char* a : {"10.0.0.2", "10.0.0.5"})
        probes.hosts[a] = up;
    WriteList("10.0.0.1,10.0.0.6\r\n");
    RunScan();
    auto rows = dialog.list.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "10.0.0.2");
    EXPECT_EQ(rows[1][0], "10.0.0.5");

    std::vector<std::pair<int, bool>> expected = {
        {IDC_CLOSE, true}, {IDC_START, true},  {IDC_START_ADDRESS, true},
        {IDC_END_ADDRESS, true}, {IDC_STOP, false}, {IDC_COPY, true},
        {IDC_CHANGE_LIST_FILE, false}, {IDC_SAVE, false}, {IDC_ADD, true},
        {IDC_DELETE, true}};
    EXPECT_EQ(dialog.controls, expected);
}

TEST_F(ScanEngineTest, TheSilentRowPassEndsWhenTheListRefusesADelete) {
    dialog.list.refuseDeletes = true;
    WriteList("10.0.0.1,10.0.0.3\r\n");
    RunScan(); // fails when the pass never ends
    EXPECT_EQ(dialog.list.Rows().size(), 3u);
}

TEST_F(ScanEngineTest, ConcurrencyNeverExceedsMaxThreadPlusOne) {
    probes.pingDelay = 3ms;
    ScanSettings.DontDeleteUnresolvedAddress = 1;
    WriteList("10.0.0.1,10.0.0.120\r\n");
    ScanSettings.MaxThread = 3;
    RunScan();
    EXPECT_EQ(dialog.list.GetItemCount(), 120);
    EXPECT_LE(probes.maxPingsNow.load(), 4);
    EXPECT_GE(probes.maxPingsNow.load(), 2) << "workers should overlap";
}

// A stored MaxThread of 1500 under a low descriptor limit: no probe may go
// without its descriptors.
TEST_F(ScanEngineTest, WorkersStayWithinTheFreeDescriptors) {
    AddAnsweringHosts(80);
    probes.pingDelay = 5ms;
    probes.pingDescriptors = 2;
    ScanSettings.MaxThread = 1500;
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
        auto rows = dialog.list.Rows();
        EXPECT_EQ(rows.size(), 80u);
        for (const auto& row : rows)
            EXPECT_EQ(row[HostRecord::kResponse], "○") << row[0];
        return 0;
    });
    EXPECT_EQ(code, 0);
}

TEST_F(ScanEngineTest, MaxThreadZeroRunsOneWorkerAtATime) {
    probes.pingDelay = 1ms;
    ScanSettings.MaxThread = 0;
    WriteList("10.0.0.1,10.0.0.40\r\n");
    RunScan();
    EXPECT_EQ(probes.pings.load(), 40);
    EXPECT_EQ(probes.maxPingsNow.load(), 1);
}

TEST_F(ScanEngineTest, SafeModeSerialisesNodeStatusQueries) {
    AddAnsweringHosts(30);
    probes.queryDelay = 5ms;
    ScanSettings.SafeMode = 1;
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

TEST_F(ScanEngineTest, StopCutsStartedProbesAndDispatchesNoMore) {
    probes.holdPings = true;
    ScanSettings.MaxThread = 4;
    WriteList("10.0.0.1,10.0.0.200\r\n");
    RunScan([&] {
        // Five workers start and block in their echo; the sixth is throttled.
        for (int i = 0; i < 2000 && probes.pings.load() < 5; ++i)
            std::this_thread::sleep_for(1ms);
        StopRequested.Raise();
        std::this_thread::sleep_for(20ms);
        probes.Release();
    });
    // The cut probes' rows keep an empty mark, so the silent-row pass leaves them.
    auto rows = dialog.list.Rows();
    ASSERT_EQ(rows.size(), 5u);
    for (const auto& row : rows)
        EXPECT_EQ(row[1], "") << row[0] << " was cut short and has no answer either way";
}

TEST_F(ScanEngineTest, StopsAfterExactly20000Rows) {
    ScanSettings.DontDeleteUnresolvedAddress = 1;
    ScanSettings.MaxThread = 30;
    WriteList("10.1.0.1,10.1.200.200\r\n");
    RunScan();
    EXPECT_EQ(dialog.list.GetItemCount(), 20000);
    auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "20000台を超えたので停止します。");
    EXPECT_EQ(shown[0].caption, "確認");
    EXPECT_EQ(shown[0].icon(), 0u);
    // 20000 rows = 78 blocks of 254 plus 188; drawn: 255 + 77 * 256 + 189.
    EXPECT_NE(Log().find("チェック済みIP数：20156\n"), std::string::npos);
}

TEST_F(ScanEngineTest, AdapterFailureKeepsEarlierRowsExceptSilentOnes) {
    dialog.list.InsertItem(0, "10.9.9.1");
    dialog.list.SetItemText(0, 1, "○");
    dialog.list.InsertItem(1, "10.9.9.2");
    dialog.list.SetItemText(1, 1, "×");
    probes.lana = {10, NRC_BRIDGE};
    WriteList("10.0.0.1,10.0.0.5\r\n");
    RunScan();

    EXPECT_EQ(ScanSettings.LanaNumber, 10);
    auto rows = dialog.list.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "10.9.9.1");
    EXPECT_EQ(probes.pings.load(), 0);

    auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text.rfind("アダプタの初期化に失敗しました。(注)", 0), 0u);
    EXPECT_EQ(shown[0].caption, "エラー");
    EXPECT_EQ(shown[0].icon(), MB_ICONERROR);
    EXPECT_EQ(shown[0].owner, dialog.MainWindow());
    EXPECT_EQ(shown[1].text, "netbios:ncb_lana_numが正しいネットワーク番号を指定していません");
    EXPECT_EQ(shown[1].caption, "kestrune");
    EXPECT_EQ(dialog.controls.size(), 10u);

    std::string log = Log();
    EXPECT_NE(log.find("アダプタの初期化に失敗しました。\n"), std::string::npos);
    EXPECT_NE(log.find("チェック済みIP数：0\n"), std::string::npos);
    EXPECT_EQ(log.find("スレッド数"), std::string::npos);
}

TEST_F(ScanEngineTest, WorkerThatCannotBeCreatedEndsTheScanAfterItsMessage) {
    std::atomic<int> created{0};
    CThreadManager::s_createWorkerForTests = [&]() -> CScanThread* {
        if (++created > 3)
            return nullptr;
        auto* worker = new CScanThread;
        if (!worker->CreateThread()) {
            delete worker;
            return nullptr;
        }
        return worker;
    };
    ScanSettings.DontDeleteUnresolvedAddress = 1;
    WriteList("10.0.0.1,10.0.0.50\r\n");
    RunScan();
    auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "原因不明のエラー。子スレッドの起動に失敗しました。");
    EXPECT_EQ(shown[0].caption, "エラー");
    // Three workers ran; the fourth row was appended but never got a worker.
    auto rows = dialog.list.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3][1], "");
    EXPECT_EQ(RunningWorkers, 0);
}

TEST_F(ScanEngineTest, MissingListFileScansNothing) {
    RunScan();
    EXPECT_EQ(dialog.list.GetItemCount(), 0);
    EXPECT_EQ(boxes.count(), 0u);
}

} // namespace
