#pragma once
// The inventory's answers as text: a scan's changes and a host's timeline,
// as CSV in the export's style (title line, ExportCell cells, CR LF) or as
// lines for a terminal. Whatever the database holds reaches them as plain
// text only: no control characters, no formulas, no extra rows.

#include "core/inventory/InventoryStore.h"

#include <cstdint>
#include <string>
#include <vector>

// "2026/12/07 15:04:05" in local time.
std::string LocalTimeText(std::int64_t unixMs);

std::string ChangesCsv(const std::vector<ReportedChange>& changes);
std::string ChangesText(const std::vector<ReportedChange>& changes);

std::string HistoryCsv(const HostHistory& history);
std::string HistoryText(const HostHistory& history);

// A change's before and after as one text: "A → B", "A", "→ B" or "".
std::string ChangeDetail(const Change& change);

// The text with control characters (C0, DEL and C1) shown as '.'.
std::string TerminalSafe(std::string_view text);
