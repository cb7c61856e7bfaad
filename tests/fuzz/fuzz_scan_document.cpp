// The documents of scans waiting for the server, read back from the site's
// own store (a damaged or hand-edited one among them): reading never
// crashes; a refused document leaves the scan as it was and says why; an
// accepted one is written again as a document that reads back the same.

#include "core/inventory/ScanDocument.h"

#include <cstdint>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool Same(const RecordedScan& a, const RecordedScan& b) {
    if (a.startedMs != b.startedMs || a.endedMs != b.endedMs || a.complete != b.complete ||
        a.settings != b.settings || a.site != b.site || a.siteScan != b.siteScan ||
        a.ranges != b.ranges || a.rows.size() != b.rows.size())
        return false;
    for (std::size_t i = 0; i < a.rows.size(); ++i)
        if (!(a.rows[i] == b.rows[i]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    RecordedScan scan;
    scan.site = "untouched";
    std::string error;
    if (!ScanFromDocument(text, scan, error)) {
        Check(scan.site == "untouched" && scan.rows.empty() && !error.empty());
        return 0;
    }
    RecordedScan again;
    const std::string written = ScanDocumentOf(scan);
    Check(ScanFromDocument(written, again, error));
    // Text that is no UTF-8 was replaced on the way out; what was read back
    // is stable from then on.
    RecordedScan third;
    Check(ScanFromDocument(ScanDocumentOf(again), third, error) && Same(again, third));
    return 0;
}
