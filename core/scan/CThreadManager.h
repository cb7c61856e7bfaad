#pragma once
// Runs one scan: chooses the NetBIOS adapter, walks every address of the
// request's ranges and hands each to a worker of its pool, at most
// MaxThread + 1 at a time (fewer when the free file descriptors cannot carry
// that many), waits for them and reports the end. Every result goes to the
// sink as a value, and so does what the user must be told (its own trouble,
// and its probes' on the threads it runs them on); the manager knows nothing
// of windows or settings.
//
// The manager owns its thread and its workers and joins them all; nothing
// waits by sleeping. Stop ends the dispatch at once and cuts the probes'
// waits short.

#include "core/scan/ScanEngineThread.h"
#include "core/scan/ScanRequest.h"
#include "platform/os/StopSignal.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScanProbes;
class ScanSink;

class CThreadManager : public ScanEngineThread {
public:
    // True when the system refuses the next worker thread; empty: ask the
    // system itself (tests stand in for a system out of threads).
    using WorkerRefusal = std::function<bool()>;

    CThreadManager(ScanRequest request, ScanSink& sink, ScanProbes& probes,
                   WorkerRefusal refuseWorker = {});
    // Stops a scan still running and waits for it.
    ~CThreadManager() override;

private:
    struct Job {
        int row;
        std::uint32_t address;
        std::string text;
    };

    void Run() override;
    // Wakes the dispatch held back by the worker limit.
    void OnStop() override;
    void Walk(int lana);
    bool EnsureWorker(int lana);
    void WorkerLoop(int lana);
    void WaitForWorkers();
    void Finish(unsigned drawn);

    ScanRequest m_request;
    ScanSink& m_sink;
    ScanProbes& m_probes;
    const WorkerRefusal m_refuseWorker;
    std::mutex m_netbiosLock; // held around each node-status query in safe mode
    // The manager's thread only.
    bool m_cut = false;    // dispatching ended before the end of the ranges
    bool m_failed = false; // no adapter could be reset
    bool m_noEcho = false; // no echo could go out: nothing was probed

    std::mutex m_lock; // guards the queue and the counts below
    std::condition_variable m_workAvailable;
    std::condition_variable m_workerDone;
    std::deque<Job> m_queue;
    int m_busy = 0;                     // addresses handed out and not yet done
    bool m_closing = false;             // workers end once the queue is empty
    std::vector<std::thread> m_workers; // only the manager's thread touches it

};
