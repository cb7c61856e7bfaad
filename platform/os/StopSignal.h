#pragma once
// A flag that, once raised, also wakes every wait that watches it: the
// probes put its descriptor beside their socket in poll(), so a stop cuts
// an echo or node-status wait short however long its time-out is.
//
// Raise() is async-signal-safe (an atomic store and a write to an eventfd),
// so a signal handler may stop a scan.

#include <atomic>

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void Raise();
    // Lowers the flag for the next scan; only while nobody waits on it.
    void Clear();
    bool IsRaised() const { return m_raised.load(); }

    // Readable once raised; -1 when no eventfd could be had, in which case
    // waiters look at IsRaised() at least every kPollSliceMs.
    int Fd() const { return m_fd; }

    static constexpr int kPollSliceMs = 100;

private:
    std::atomic<bool> m_raised{false};
    int m_fd;
};

// How long a wait of `leftMs` may block in one poll() while watching `stop`
// (which may be null).
int StopAwarePollMs(const StopSignal* stop, long long leftMs);
