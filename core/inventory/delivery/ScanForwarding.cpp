#include "core/inventory/delivery/ScanForwarding.h"

#include "core/inventory/ScanDocument.h"

ForwardingReport DeliverWaitingScans(InventoryStore& local, InventoryMemory& server,
                                     const std::string& serverKey) {
    ForwardingReport report;
    const std::vector<InventoryStore::WaitingScan> waiting = local.ScansWaitingFor(serverKey);
    if (!local.ReadError().empty()) {
        report.error = "cannot read the scans waiting in the site's store: " + local.ReadError();
        return report;
    }
    report.waiting = static_cast<int>(waiting.size());
    for (const InventoryStore::WaitingScan& scan : waiting) {
        RecordedScan recorded;
        std::string error;
        if (!ScanFromDocument(scan.document, recorded, error)) {
            report.error = "scan " + std::to_string(scan.scan) + " of the site's store: " + error;
            return report;
        }
        if (server.Record(recorded, error) < 0) {
            report.error = error;
            return report;
        }
        if (!local.Delivered(scan.scan, error)) {
            report.error = "the server has scan " + std::to_string(scan.scan) +
                           " but the site's store cannot note it: " + error;
            return report;
        }
        ++report.delivered;
        --report.waiting;
    }
    return report;
}
