#pragma once
// Keeps SIGPIPE from ending the process while the calling thread writes to a
// pipe or socket whose reader may be gone: the signal is blocked in this
// thread for the object's lifetime (the write then fails with EPIPE, which
// the caller handles), and one raised meanwhile is taken off the pending
// set before the old mask comes back. A SIGPIPE that was pending before is
// left alone. Other threads and the process's dispositions are not touched.

#include <signal.h>

class SigpipeBlock {
public:
    SigpipeBlock();
    ~SigpipeBlock();
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t m_oldMask;
    bool m_wasPending = false;
};
