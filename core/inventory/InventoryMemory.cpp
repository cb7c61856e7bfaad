#include "core/inventory/InventoryMemory.h"

#include <algorithm>

void AddToTimeline(HostHistory& history, std::int64_t scan, std::int64_t startedMs,
                   const std::string& site, Change change) {
    const std::string address = AddressToText(change.address);
    auto entry = std::find_if(
        history.entries.begin(), history.entries.end(), [&](const HistoryEntry& e) {
            return e.scan == scan && e.seen && e.row[HostRecord::kAddress] == address;
        });
    if (entry == history.entries.end()) {
        HistoryEntry gone;
        gone.scan = scan;
        gone.startedMs = startedMs;
        gone.site = site;
        gone.seen = false;
        gone.row[HostRecord::kAddress] = address;
        const auto after = std::find_if(history.entries.begin(), history.entries.end(),
                                        [&](const HistoryEntry& e) { return e.scan > scan; });
        entry = history.entries.insert(after, std::move(gone));
    }
    entry->changes.push_back(std::move(change));
}
