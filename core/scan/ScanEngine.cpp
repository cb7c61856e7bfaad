#include "core/scan/ScanEngine.h"

#include "core/scan/CThreadManager.h"
#include "core/scan/FastScanEngine.h"

std::unique_ptr<ScanEngine> MakeScanEngine(ScanRequest request, ScanSink& sink,
                                           ScanProbes& probes) {
    if (request.options.fastScan)
        return std::make_unique<FastScanEngine>(std::move(request), sink, probes);
    return std::make_unique<CThreadManager>(std::move(request), sink, probes);
}
