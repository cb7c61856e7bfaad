#pragma once
// A scan engine: runs one ScanRequest and reports to its ScanSink. Two sit
// behind this: the thread-per-probe manager (CThreadManager, the window's
// default) and the event-driven one (FastScanEngine). MakeScanEngine picks by
// the request's options.

#include "core/scan/ScanRequest.h"

#include <memory>

class ScanProbes;
class ScanSink;

class ScanEngine {
public:
    virtual ~ScanEngine() = default;

    // Starts the scan on the engine's own thread; false when the system
    // cannot create it (nothing was reported then).
    virtual bool Start() = 0;
    // Sends or dispatches nothing more and cuts the waits under way short;
    // the sink still gets its Finished.
    virtual void Stop() = 0;
    // Returns once the scan has ended and every thread of it is joined.
    virtual void Wait() = 0;
};

// The engine the request asks for (options.fastScan).
std::unique_ptr<ScanEngine> MakeScanEngine(ScanRequest request, ScanSink& sink, ScanProbes& probes);
