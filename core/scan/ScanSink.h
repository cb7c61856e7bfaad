#pragma once
// Where a scan reports what it finds, as values and without waiting for the
// receiver. The window queues the reports to its model and applies them on
// its own thread; vopal-scan and the engine tests keep them in memory.
//
// Calls come from the scan's threads: a row's RowAdded always comes before
// its RowResult, and Finished comes last, after every other call.

#include "core/scan/HostRecord.h"
#include "core/scan/ScanNotice.h"

#include <string>

struct ScanSummary {
    unsigned addressesDrawn = 0; // taken from the ranges, skipped ones included
    bool keepSilent = false;     // the rows marked silent stay
    bool stopped = false;        // ended by Stop rather than by the end of the ranges
    bool cut = false;            // ended early for another reason (row limit, no worker)
    bool failed = false;         // no adapter or no echo socket: nothing was probed, and no
                                 // row is this scan's to record

    // Walked every address of its ranges.
    bool Complete() const { return !stopped && !cut && !failed; }
};

class ScanSink {
public:
    virtual ~ScanSink() = default;

    // The adapter the scan chose at its start (also when none could be reset).
    virtual void LanaChosen(int lana) = 0;
    // The rows of an earlier scan go; the new scan's rows follow.
    virtual void RowsCleared() = 0;
    // Row `row` (counted from 0 in this scan) holds only its address so far.
    virtual void RowAdded(int row, const std::string& address) = 0;
    // The row's cells as its probes have found them so far (the address
    // cell included); may come more than once for a row, each time complete.
    virtual void RowResult(int row, const HostRecord& record) = 0;
    // Addresses taken so far, for a progress display.
    virtual void Progress(unsigned /*addressesDrawn*/) {}
    // The request's row limit was reached: no more rows come. The caller
    // decides how to tell it.
    virtual void RowLimitReached(int /*limit*/) {}
    // The sends per second the engine paces itself to now (the event-driven
    // engine, whenever it changes).
    virtual void SendRate(double /*perSecond*/) {}
    // The user must be told something now. The one report that may hold the
    // calling thread until the user has read it (the window's box does), so
    // the engine makes it holding no lock, and what it reports next comes
    // after it.
    virtual void Notice(const ScanNotice& notice) = 0;
    // The scan has ended; the receiver removes the silent rows unless they
    // are kept.
    virtual void Finished(const ScanSummary& summary) = 0;
};
