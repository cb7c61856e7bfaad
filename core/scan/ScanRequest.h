#pragma once
// One scan as a value: the ranges to walk, already read and checked, and the
// options the scan runs with. Whoever starts a scan builds it (the scan start
// dialog from its list, vopal-scan from its arguments); the engine reads
// nothing else.

#include "core/ranges/AddressRange.h"

#include <vector>

struct ScanSettingsRecord;

struct ScanOptions {
    int maxThread = 10;       // at most maxThread + 1 probes at once; below 0 counts as 0
    int pingTimeoutMs = 7000; // one echo's wait
    bool safeMode = false;    // node-status queries one at a time
    bool ignoreNicVendor = false;
    bool ignoreWorkstation = false; // leave the host's own name out of the messenger names
    bool keepSilent = false;        // rows without an answer stay after the scan
    bool fastScan = false;          // the event-driven engine instead of a thread per probe
    // The event-driven engine's sends per second: this many when above 0,
    // else learnt as it goes (RateController), never above maxRate when
    // that is above 0.
    int rate = 0;
    int maxRate = 0;
    // The event-driven engine learns its wait from the round trips it sees
    // (vopal-scan without --timeout) instead of waiting pingTimeoutMs.
    bool adaptiveWait = false;
    // Which addresses get no row: a last octet 0 or 255 only (vopal-scan,
    // so that a /16's x.y.255.1 to .254 are scanned), or also any address
    // with an octet 255 (the window's rule).
    bool lastOctetRule = false;
    // The sources the event-driven engine asks for the names of the hosts
    // there, as bits of 1 << HostRecord::NameSource; the other engine asks
    // node status only.
    unsigned nameSources = kAllNameSources;
    static constexpr unsigned kAllNameSources = 0x0F;

    bool operator==(const ScanOptions&) const = default;
};

struct ScanRequest {
    std::vector<AddressRange> ranges; // walked in this order
    ScanOptions options;
    // The caller's cap on rows: the engine adds no more than this many, then
    // ends the scan as cut and says so (ScanSink::RowLimitReached). 0: none.
    int rowLimit = 0;
};

// The options the stored settings give; a switch counts only when it is 1.
ScanOptions ScanOptionsFrom(const ScanSettingsRecord& settings);
