#include "core/watch/NoticeDelivery.h"

#include "core/inventory/sqlite/ScanRecording.h"
#include "core/watch/ChangeNotice.h"

#include <map>

std::string NoticeDocumentOf(const InventoryStore& store, std::int64_t scan, std::string& error) {
    const std::optional<StoredScan> stored = store.ScanOf(scan);
    if (!stored) {
        error = store.ReadError().empty() ? "the inventory has no scan " + std::to_string(scan)
                                          : store.ReadError();
        return {};
    }
    const std::vector<ReportedChange> changes = store.ChangesOf(scan);
    if (!store.ReadError().empty()) {
        error = store.ReadError();
        return {};
    }
    NoticeScan about;
    about.id = stored->id;
    about.store = store.Outbox().StoreIdentity();
    about.startedMs = stored->startedMs;
    about.endedMs = stored->endedMs;
    about.complete = stored->complete;
    about.ranges = stored->ranges;
    return NoticeDocument(about, changes);
}

DeliveryReport DeliverWaitingNotices(InventoryStore& store, const NoticeSender& send,
                                     const std::string& claimer, std::chrono::milliseconds lease) {
    DeliveryReport report;
    NoticeOutbox outbox = store.Outbox();
    const std::string storeName = outbox.StoreIdentity();
    std::vector<std::string> done; // receivers whose turn ended with a failure
    std::map<std::int64_t, std::string> documents;
    for (;;) {
        const std::int64_t now = UnixTimeMs();
        std::string error;
        const std::optional<WaitingNotice> notice =
            outbox.Claim(claimer, now, now + lease.count(), done, error);
        if (!notice) {
            report.storeError = error;
            break;
        }
        std::string& document = documents[notice->scan];
        if (document.empty())
            document = NoticeDocumentOf(store, notice->scan, error);
        NoticeSendResult result;
        if (document.empty())
            result.detail = "the notice could not be made: " + error;
        else
            result = send(*notice, document, NoticeKey(storeName, notice->scan));
        report.attempts.push_back({*notice, result});
        // A notice whose end cannot be written would be claimed again at once.
        const bool written = result.outcome == NoticeSendResult::Outcome::Failed
                                 ? outbox.Failed(notice->id, claimer, result.detail, error)
                                 : outbox.Delivered(notice->id, error);
        if (!written) {
            report.storeError = error;
            break;
        }
        if (result.outcome == NoticeSendResult::Outcome::Failed)
            done.push_back(notice->target);
    }
    report.stillWaiting = outbox.Waiting().size();
    return report;
}
