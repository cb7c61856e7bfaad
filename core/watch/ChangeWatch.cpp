#include "core/watch/ChangeWatch.h"

#include "core/inventory/InventoryReport.h"
#include "core/watch/ChangeNotice.h"

#include <cstdio>

namespace {

using Outcome = NoticeSendResult::Outcome;

std::string SecondsText(std::chrono::milliseconds span) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(span.count()) / 1000.0);
    return text;
}

std::string HookEndText(const HookEnd& end, std::chrono::milliseconds timeout) {
    if (!end.started)
        return "could not be run: " + end.failure;
    if (end.timedOut)
        return "was stopped at its time-out of " + SecondsText(timeout);
    if (end.signal != 0)
        return "was ended by signal " + std::to_string(end.signal);
    return "ended with exit status " + std::to_string(end.exitStatus);
}

void Deliver(InventoryStore& store, const WatchTools& tools, WatchLog& log) {
    const DeliveryReport report = DeliverWaitingNotices(store, tools.send, tools.claimer,
                                                        tools.lease);
    for (const NoticeAttempt& attempt : report.attempts) {
        const std::string what = "notice of scan " + std::to_string(attempt.notice.scan) +
                                 " to " + ReceiverName(attempt.notice.target);
        switch (attempt.result.outcome) {
        case Outcome::Delivered:
            log.Write(what + ": delivered");
            break;
        case Outcome::Redirected: {
            const std::string text = what + ": the receiver redirects to " +
                                     PlainText(attempt.result.detail) +
                                     "; not followed and not sent again (give that address)";
            log.Write(text);
            tools.warn(text);
            break;
        }
        case Outcome::Failed: {
            const std::string text = what + ": not delivered (" +
                                     PlainText(attempt.result.detail) +
                                     "); it is kept and sent again by the next run (attempt " +
                                     std::to_string(attempt.notice.attempts + 1) + ")";
            log.Write(text);
            tools.warn(text);
            break;
        }
        }
    }
    if (!report.storeError.empty()) {
        const std::string text = "the notices could not be read or written: " +
                                 PlainText(report.storeError);
        log.Write(text);
        tools.warn(text);
    }
    if (report.stillWaiting > 0)
        log.Write(std::to_string(report.stillWaiting) + " notice(s) wait for the next run");
}

} // namespace

void TellChanges(InventoryStore& store, std::int64_t scan, const WatchOptions& options,
                 const WatchTools& tools, WatchLog& log) {
    const std::vector<ReportedChange> changes = store.ChangesOf(scan);
    const bool baseline = !store.HasScanBefore(scan);
    log.Write("scan " + std::to_string(scan) + ": " +
              (baseline          ? std::string("the first scan of this inventory (baseline)")
               : changes.empty() ? std::string("no change")
                                 : NoticeTitle(changes)));
    Deliver(store, tools, log);
    if (options.onChange.empty() || baseline || changes.empty())
        return;
    std::string error;
    const std::string document = NoticeDocumentOf(store, scan, error);
    if (document.empty()) {
        const std::string text = "on-change: the notice could not be made: " + PlainText(error);
        log.Write(text);
        tools.warn(text);
        return;
    }
    const HookEnd end = tools.runHook(options.onChange, document, options.onChangeTimeout,
                                      {"VOPAL_SCAN_ID=" + std::to_string(scan)});
    std::string errors = end.errors;
    if (end.errorsDropped > 0)
        errors += "\n(" + std::to_string(end.errorsDropped) + " more bytes left out)";
    const std::string text = "on-change command " + HookEndText(end, options.onChangeTimeout);
    log.Write(text, errors);
    if (!end.started || end.timedOut || end.signal != 0 || end.exitStatus != 0)
        tools.warn(text + " (see " + log.Path() + ")");
}
