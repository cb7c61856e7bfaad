#pragma once
// The notice of a recorded scan's changes, as its receivers get it: one JSON
// document (UTF-8) with "schema" (1), "scan" (id, the store's name, site when
// there is one, started, finished, complete, ranges), "changes" (the objects
// vopal-scan --changes --format json prints, as an array), and a short
// summary in Japanese, "title" (「新規 2・消失 1」) and "text" (a line for the
// scan, then a line per change), for receivers that only show a text. Texts
// from the network are plain: no control characters, valid UTF-8, and a
// name cannot add a line. Described by docs/vopal-scan-notice.schema.json.

#include "core/inventory/sqlite/InventoryStore.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kNoticeSchemaVersion = 1;

struct NoticeScan {
    std::int64_t id = 0;
    std::string store; // the name of the store that recorded it
    std::string site;  // empty: none
    std::int64_t startedMs = 0;
    std::int64_t endedMs = 0;
    bool complete = true;
    std::vector<AddressRange> ranges;
};

// 「新規 2・消失 1」: the count of each kind there is, in the kinds' order.
std::string NoticeTitle(const std::vector<ReportedChange>& changes);

// The scan's line, then one line per change (at most `maxLines`, then how
// many more there are), each ended by a line feed.
std::string NoticeText(const NoticeScan& scan, const std::vector<ReportedChange>& changes,
                       std::size_t maxLines = 100);

// The whole document.
std::string NoticeDocument(const NoticeScan& scan, const std::vector<ReportedChange>& changes);

// What receivers tell a notice sent again from a new one by: the store's
// name and the scan's id.
std::string NoticeKey(const std::string& store, std::int64_t scan);
