#include "core/scan/CThreadManager.h"

#include "core/scan/AdapterChoice.h"
#include "core/scan/AddressWalk.h"
#include "core/scan/CScanThread.h"
#include "core/scan/HostRecord.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanSink.h"
#include "core/settings/RunLog.h"
#include "platform/os/DescriptorLimit.h"
#include "platform/win32/ProbeNotices.h"

#include <algorithm>
#include <cstdint>
#include <system_error>

namespace {

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

} // namespace

CThreadManager::CThreadManager(ScanRequest request, ScanSink& sink, ScanProbes& probes,
                               WorkerRefusal refuseWorker)
    : m_request(std::move(request)), m_sink(sink), m_probes(probes),
      m_refuseWorker(std::move(refuseWorker)) {}

CThreadManager::~CThreadManager() {
    Stop();
    Wait();
}

void CThreadManager::OnStop() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_workerDone.notify_all();
}

void CThreadManager::Run() {
    // The adapter's reset and the choice of echo socket probe too.
    const ProbeNoticeScope notices(ProbeNoticesTo(m_sink));
    int lana = 0;
    if (!ChooseScanAdapter(m_probes, m_sink, lana)) {
        m_failed = true;
        Finish(0);
        return;
    }
    m_noEcho = !m_probes.CanEcho();
    RunLog::Write("スレッド数：%d\n", m_request.options.maxThread);
    m_sink.RowsCleared();
    Walk(lana);
}

void CThreadManager::Walk(int lana) {
    AddressWalk walk(m_request.ranges, m_request.options.lastOctetRule);

    // A stored MaxThread is taken as it is, however large (below 0 counts as
    // 0); the descriptors free now bound the workers too, so that no probe
    // goes without its socket.
    const long limit = std::min<long>(std::max(0, m_request.options.maxThread) + 1L,
                                      WorkersForDescriptors(FreeDescriptorCount()));
    int rows = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_workerDone.wait(guard, [&] { return m_busy < limit || m_stop.IsRaised(); });
        }
        if (m_stop.IsRaised())
            break;
        std::uint32_t address = 0;
        bool skipped = false;
        if (!walk.Next(address, skipped))
            break;
        m_sink.Progress(walk.Drawn());
        if (skipped)
            continue;

        const std::string text = HostRecord::FormatAddress(address);
        m_sink.RowAdded(rows, text);
        if (!EnsureWorker(lana)) {
            // The row has no probe to answer for it: it is silent, like a
            // row whose probe was cut short.
            HostRecord silent;
            silent.address = address;
            silent.response = HostRecord::Response::Silent;
            m_sink.RowResult(rows, silent);
            m_sink.Notice({ScanNotice::Source::Scan,
                           {"原因不明のエラー。子スレッドの起動に失敗しました。", "エラー",
                            MB_OK | MB_ICONERROR}});
            m_cut = true;
            break;
        }
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_queue.push_back({rows, address, text});
            ++m_busy;
        }
        m_workAvailable.notify_one();

        if (++rows == m_request.rowLimit) {
            m_sink.RowLimitReached(rows);
            m_cut = true;
            break;
        }
    }
    Finish(walk.Drawn());
}

bool CThreadManager::EnsureWorker(int lana) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // A worker is free when fewer addresses are out than there are workers.
        if (m_busy < static_cast<int>(m_workers.size()))
            return true;
    }
    if (m_refuseWorker && m_refuseWorker())
        return false;
    try {
        m_workers.emplace_back([this, lana] { WorkerLoop(lana); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CThreadManager::WorkerLoop(int lana) {
    const ProbeNoticeScope notices(ProbeNoticesTo(m_sink));
    CScanThread worker(m_request.options, lana, m_probes, m_sink,
                       m_request.options.safeMode ? &m_netbiosLock : nullptr, m_stop);
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_workAvailable.wait(guard, [this] { return !m_queue.empty() || m_closing; });
            if (m_queue.empty())
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        worker.Run(job.row, job.address, job.text);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            --m_busy;
        }
        m_workerDone.notify_all();
    }
}

void CThreadManager::WaitForWorkers() {
    {
        // Every address handed out finishes its probes (cut short by a stop).
        std::unique_lock<std::mutex> guard(m_lock);
        m_workerDone.wait(guard, [this] { return m_busy == 0; });
        m_closing = true;
    }
    m_workAvailable.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
    m_workers.clear();
}

void CThreadManager::Finish(unsigned drawn) {
    RunLog::Write("チェック済みIP数：%d\n", drawn);
    WaitForWorkers();
    ScanSummary summary;
    summary.addressesDrawn = drawn;
    summary.keepSilent = m_request.options.keepSilent;
    summary.stopped = m_stop.IsRaised();
    summary.cut = m_cut;
    summary.failed = m_failed || m_noEcho;
    m_sink.Finished(summary);
}
