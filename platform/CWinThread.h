#pragma once
// A thread object in the manner of the Windows framework: created suspended,
// given its data, resumed, and deleted by its own thread when its routine
// ends. Nobody joins it; whoever needs to know that it ended watches shared
// state (a counter, a callback).

#include <condition_variable>
#include <functional>
#include <mutex>

class CWinThread {
public:
    CWinThread() = default;
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread held at its gate. False when the system cannot create
    // a thread; the object then belongs to the caller again (delete it).
    bool CreateThread();

    // Opens the gate: Run() starts, and the object deletes itself after it.
    void ResumeThread();

protected:
    // The thread's whole work.
    virtual void Run() = 0;

    // Run by the thread after the object was deleted, when set; the one way
    // to tell someone that the thread is done with everything it owned.
    std::function<void()> m_afterDelete;

private:
    void Routine();

    std::mutex m_gateLock;
    std::condition_variable m_gate;
    bool m_resumed = false;
};
