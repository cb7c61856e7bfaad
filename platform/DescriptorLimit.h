#pragma once
// How many files and sockets the process may hold at once (RLIMIT_NOFILE),
// and what happens when they run out: a probe whose socket cannot be opened
// learns nothing about the host, so the user is told instead of the host
// being shown as silent.

// Raises the soft limit of open descriptors to the hard limit, so that many
// scan workers are not held to the usual default of 1024. Call at start-up.
// Returns the soft limit in force afterwards.
long RaiseDescriptorLimit();

// How many more descriptors the process may open now: the numbers below the
// soft limit that no open descriptor takes.
long FreeDescriptorCount();

// True for the errors of a socket or file that could not be opened for want
// of descriptors or memory: EMFILE, ENFILE, ENOBUFS, ENOMEM.
bool IsResourceShortage(int error);

// Tells the user, once per process, that a probe could not be made for want
// of descriptors or memory (error box, from any thread); later calls return
// at once.
void ReportResourceShortage();

// While one lives, ReportResourceShortage on this thread only takes note;
// the box comes when the last one ends. Declared before a lock guard, it
// keeps the box (and the wait for its answer) outside the lock.
class DeferredShortageReport {
public:
    DeferredShortageReport();
    ~DeferredShortageReport();
    DeferredShortageReport(const DeferredShortageReport&) = delete;
    DeferredShortageReport& operator=(const DeferredShortageReport&) = delete;
};
