#pragma once
// Runs one scan: reads the list file into a range table, chooses the NetBIOS
// adapter, clears the result view, walks every address with at most MaxThread
// + 1 workers at a time (fewer when the free file descriptors cannot carry
// that many), waits for them, removes the silent rows and gives the dialog its
// buttons back.

#include "platform/CWinThread.h"
#include "platform/StopSignal.h"

#include <atomic>
#include <functional>
#include <mutex>

class CScanThread;
class ScanProbes;
class ScanStartDialog;

// The scan's shared state. One scan runs at a time.
extern int RunningWorkers;               // changed and read under the manager's m_lock
extern StopSignal StopRequested;         // raised: stop dispatching, cut the probes' waits
extern std::atomic<unsigned> AddressesDrawn; // of the current scan, for progress reports

class CThreadManager : public CWinThread {
public:
    static constexpr int kRowLimit = 20000;

    CThreadManager();
    ~CThreadManager() override;

    CScanThread* m_pWorker = nullptr;
    ScanStartDialog* m_pDialog = nullptr;
    ScanProbes* m_pProbes; // the real probes unless a test sets its own
    std::mutex m_lock;

    // Test seam: replaces the creation of a suspended worker (returns null to
    // simulate a system that cannot create one). Empty = the real thing.
    static std::function<CScanThread*()> s_createWorkerForTests;

protected:
    void Run() override;

private:
    int RunningCount();
    void Finish(unsigned drawn);
    void RemoveSilentRows();
    void ResetControls();
};
