#include "scan/CThreadManager.h"

#include "app/RunLog.h"
#include "app/ScanSettings.h"
#include "platform/DescriptorLimit.h"
#include "platform/MessageBox.h"
#include "ranges/AddressRangeTable.h"
#include "res/Resource.h"
#include "scan/CNetProbe.h"
#include "scan/CScanThread.h"
#include "scan/HostRecord.h"
#include "scan/ResultList.h"
#include "scan/ScanProbes.h"
#include "scan/ScanStartDialog.h"
#include "scan/ScanTimings.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

int RunningWorkers = 0;
StopSignal StopRequested;
std::atomic<unsigned> AddressesDrawn{0};
std::function<CScanThread*()> CThreadManager::s_createWorkerForTests;

namespace {

const char* const kAdapterFailure =
    "アダプタの初期化に失敗しました。(注)Windows "
    "2000で本ツールを使用する場合には、「Netbios over "
    "TCPIP」が有効に設定されている必要があります。ただしこの設定を有効にすると、第三者よりあなたのコ"
    "ンピュータへアクセスすることが可能となる場合があるため、セキュリティを正しく設定する必要があります"
    "。";

constexpr std::uint32_t kEndOfTable = 0xFFFFFFFFu;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Any octet 255, or a last octet 0: no row, no worker.
bool IsSkipped(std::uint32_t address) {
    for (int shift = 0; shift < 32; shift += 8)
        if (((address >> shift) & 0xFF) == 0xFF)
            return true;
    return (address & 0xFF) == 0;
}

// A worker holds at most two descriptors at a time: its echo socket, then its
// node-status socket together with the neighbour table (the interface list's
// netlink socket is closed before the node-status socket opens).
constexpr long kDescriptorsPerWorker = 2;
// Left to the rest of the program while a scan runs: the window, the run log,
// file dialogs.
constexpr long kDescriptorReserve = 32;

// How many workers the free descriptors carry at once; never less than one.
long WorkersForDescriptors(long freeDescriptors) {
    const long reserve = std::min(kDescriptorReserve, freeDescriptors / 2);
    return std::max(1L, (freeDescriptors - reserve) / kDescriptorsPerWorker);
}

CScanThread* CreateSuspendedWorker() {
    if (CThreadManager::s_createWorkerForTests)
        return CThreadManager::s_createWorkerForTests();
    auto* worker = new CScanThread;
    if (!worker->CreateThread()) {
        delete worker;
        return nullptr;
    }
    return worker;
}

} // namespace

CThreadManager::CThreadManager() : m_pProbes(&RealScanProbes()) {}

CThreadManager::~CThreadManager() = default;

int CThreadManager::RunningCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return RunningWorkers;
}

void CThreadManager::Run() {
    ScanStartDialog* dialog = m_pDialog;
    m_afterDelete = [dialog] { dialog->OnManagerEnded(); };
    void* owner = dialog->MainWindow();

    AddressesDrawn.store(0);
    AddressRangeTable table;
    table.LoadFromFile(ScanSettings.IpListFileName, owner);

    LanaSelection lana = m_pProbes->SelectLana();
    ScanSettings.LanaNumber = lana.lana;

    ResultList* view = dialog->View();
    CNetProbe probe;

    if (lana.code != 0) {
        MessageBoxA(owner, kAdapterFailure, "エラー", MB_OK | MB_ICONERROR);
        MessageBoxA(owner, probe.NetbiosResultText(lana.code).c_str(), "kestrune",
                    MB_OK | MB_ICONERROR);
        RunLog::Write("アダプタの初期化に失敗しました。\n");
        Finish(0);
        return;
    }

    RunLog::Write("スレッド数：%d\n", ScanSettings.MaxThread);
    view->DeleteAllItems();
    int rows = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        RunningWorkers = 0;
    }

    // A stored MaxThread is taken as it is, however large; the descriptors free
    // now bound the workers too, so that no probe goes without its socket.
    const long descriptorWorkers = WorkersForDescriptors(FreeDescriptorCount());

    unsigned drawn = 0;
    for (;;) {
        if (StopRequested.IsRaised())
            break;
        // A negative stored MaxThread would throttle for ever; it counts as 0.
        const int running = RunningCount();
        if (running > std::max(0, ScanSettings.MaxThread) || running >= descriptorWorkers) {
            SleepMs(g_scanTimings.throttleMs);
            continue;
        }

        std::uint32_t address = table.NextAddress();
        if (address == kEndOfTable) {
            SleepMs(g_scanTimings.drainFirstMs);
            while (RunningCount() != 0)
                SleepMs(g_scanTimings.drainStepMs);
            break;
        }
        ++drawn;
        AddressesDrawn.store(drawn);
        if (IsSkipped(address))
            continue;

        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++RunningWorkers;
        }
        std::string text = HostRecord::FormatAddress(address);
        view->InsertItem(view->GetItemCount(), text);

        m_pWorker = CreateSuspendedWorker();
        if (!m_pWorker) {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                --RunningWorkers;
            }
            SleepMs(g_scanTimings.workerFailurePauseMs);
            MessageBoxA(owner, "原因不明のエラー。子スレッドの起動に失敗しました。", "エラー",
                        MB_OK | MB_ICONERROR);
            break;
        }
        m_pWorker->m_pManager = this;
        m_pWorker->SetRow(rows);
        m_pWorker->SetAddress(text);
        m_pWorker->ResumeThread();
        m_pWorker = nullptr;

        ++rows;
        if (rows >= kRowLimit) {
            MessageBoxA(owner, "20000台を超えたので停止します。", "確認", MB_OK);
            break;
        }
    }
    Finish(drawn);
}

void CThreadManager::Finish(unsigned drawn) {
    RunLog::Write("チェック済みIP数：%d\n", drawn);

    // Every started worker finishes its probes and its row; none is cut short.
    while (RunningCount() != 0)
        SleepMs(g_scanTimings.finishStepMs);

    if (!IsOn(ScanSettings.DontDeleteUnresolvedAddress))
        RemoveSilentRows();
    ResetControls();
}

void CThreadManager::RemoveSilentRows() {
    // One pass: after a deletion the next row has moved into the same index.
    // A row that the list refuses to delete is passed over, so that the pass
    // always ends.
    ResultList* view = m_pDialog->View();
    int row = 0;
    while (row < view->GetItemCount()) {
        const bool silent = view->ReadCell(row, HostRecord::kResponse, 32) == HostRecord::kSilent;
        if (!silent || !view->DeleteItem(row))
            ++row;
    }
}

void CThreadManager::ResetControls() {
    m_pDialog->EnableControl(IDC_CLOSE, true);
    m_pDialog->EnableControl(IDC_START, true);
    m_pDialog->EnableControl(IDC_START_ADDRESS, true);
    m_pDialog->EnableControl(IDC_END_ADDRESS, true);
    m_pDialog->EnableControl(IDC_STOP, false);
    m_pDialog->EnableControl(IDC_COPY, true);
    m_pDialog->EnableControl(IDC_CHANGE_LIST_FILE, false);
    m_pDialog->EnableControl(IDC_SAVE, false);
    m_pDialog->EnableControl(IDC_ADD, true);
    m_pDialog->EnableControl(IDC_DELETE, true);
}
