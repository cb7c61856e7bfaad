#pragma once
// A probe whose socket cannot be opened for want of descriptors or memory
// learns nothing about the host, so the user is told instead of the host
// being shown as silent.

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
