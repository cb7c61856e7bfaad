#pragma once
// The life of an engine that runs its scan on one thread of its own: Start
// creates the thread, Stop raises the stop signal (which cuts every wait of
// the scan short), Wait joins the thread. Both engines are one of these; each
// supplies the scan itself (Run) and, if it has more waits than the stop
// signal's, what else a stop must wake (OnStop).

#include "core/scan/ScanEngine.h"
#include "platform/os/StopSignal.h"

#include <thread>

class ScanEngineThread : public ScanEngine {
public:
    ScanEngineThread() = default;
    ScanEngineThread(const ScanEngineThread&) = delete;
    ScanEngineThread& operator=(const ScanEngineThread&) = delete;
    // A derived engine stops and joins in its own destructor, while what its
    // Run uses still exists; this one only checks that it did.
    ~ScanEngineThread() override;

    bool Start() final;
    void Stop() final;
    void Wait() final;

    // Raised by Stop; a signal handler may raise it directly (it is
    // async-signal-safe).
    StopSignal& StopFlag() { return m_stop; }

protected:
    // The whole scan, on the engine's thread; it ends with the sink's Finished.
    virtual void Run() = 0;
    // Called by Stop after the signal is raised, on the caller's thread.
    virtual void OnStop() {}

    StopSignal m_stop;

private:
    std::thread m_thread;
};
