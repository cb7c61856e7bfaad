#pragma once
// A probe whose socket cannot be opened for want of descriptors or memory
// learns nothing about the host, so the user is told instead of the host
// being shown as silent.

#include "platform/win32/UserMessage.h"

// Tells the user, once per process, that a probe could not be made for want
// of descriptors or memory: a notice to this thread's receiver
// (ProbeNotices.h), from any thread; later calls return at once.
void ReportResourceShortage();

// What that notice says (an error box).
UserMessage ResourceShortageMessage();

// While one lives, ReportResourceShortage on this thread only takes note;
// the notice goes out when the last one ends. Declared before a lock guard,
// it keeps the notice (and a receiver that waits for the user to read it)
// outside the lock.
class DeferredShortageReport {
public:
    DeferredShortageReport();
    ~DeferredShortageReport();
    DeferredShortageReport(const DeferredShortageReport&) = delete;
    DeferredShortageReport& operator=(const DeferredShortageReport&) = delete;
};
