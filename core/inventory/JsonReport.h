#pragma once
// What vopal-scan prints with --format json: JSON Lines, one object per line,
// made from the values (the host records, the changes, the timeline) rather
// than from the text cells. Every line has "type" ("row", "change" or
// "history") and "schema" (kJsonSchemaVersion); the layout is described by
// docs/vopal-scan-json.schema.json. Texts are plain (control characters as
// '.', as the other outputs show them) and valid UTF-8: bytes that are not
// become U+FFFD, so a hostile name can neither break a line nor the encoding.
// The library that writes JSON is included by the .cpp only.

#include "core/inventory/InventoryMemory.h"
#include "core/scan/HostRecord.h"

#include <cstdint>
#include <string>

inline constexpr int kJsonSchemaVersion = 1;

// One printed row of a scan.
std::string RowJsonLine(const HostRecord& row);

// One change of the recorded scan.
std::string ChangeJsonLine(const ReportedChange& change);

// One entry of the timeline of the host `history` describes.
std::string HistoryJsonLine(const HostHistory& history, const HistoryEntry& entry);

// The kind as the JSON names it: "new", "returned", "gone", "renamed",
// "mac-changed", "moved", "duplicate".
const char* ChangeKindKey(ChangeKind kind);

// "YYYY-MM-DDThh:mm:ss.mmmZ" (UTC) of Unix time in milliseconds.
std::string IsoUtcText(std::int64_t unixMs);
