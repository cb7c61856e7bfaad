#pragma once
// What a scan has to tell the user while it runs, as a value for its sink:
// the engine's own trouble (no adapter, no worker thread) and what its
// probes met on this machine (no socket for want of descriptors or memory,
// no ICMP socket allowed). The program decides how to show it.

#include "platform/win32/ProbeNotices.h"
#include "platform/win32/UserMessage.h"

class ScanSink;

struct ScanNotice {
    enum class Source {
        Scan,  // the scan's own: it cannot go on as asked
        Probe, // what a probe met on this machine, whichever scan it was for
    };
    Source source = Source::Scan;
    UserMessage message;

    bool operator==(const ScanNotice&) const = default;
};

// A receiver for the probe notices of a scan's thread (a ProbeNoticeScope's):
// each goes to `sink` as a Probe notice.
ProbeNoticeReceiver ProbeNoticesTo(ScanSink& sink);
