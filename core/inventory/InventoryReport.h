#pragma once
// The inventory as the window shows and saves it: the changes of a scan and
// a host's timeline as rows of plain-text cells, the changes as export text,
// and the counts line of the status bar. Cells hold no control bytes, so a
// name from the network or a hand-edited store shows as one line of text.

#include "core/inventory/InventoryStore.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// 種類, アドレス, 識別, 変更前, 変更後, 初回.
inline constexpr int kChangeColumnCount = 6;
extern const char* const kChangeTitles[kChangeColumnCount];
using ChangeRow = std::array<std::string, kChangeColumnCount>;

// 日時, then the seven columns of the result list, then 変化.
inline constexpr int kHistoryColumnCount = 9;
extern const char* const kHistoryTitles[kHistoryColumnCount];
using HistoryRow = std::array<std::string, kHistoryColumnCount>;

// The text with every control byte (below 0x20, and 0x7F) as '.'.
std::string PlainText(std::string_view text);

// What the user is told when the store at `path` was damaged or no store
// and was kept aside as `keptAside`.
std::string KeptAsideMessage(const std::string& path, const std::string& keptAside);

// "YYYY/MM/DD hh:mm:ss" in local time.
std::string LocalDateTimeText(std::int64_t unixMs);

// "前回との比較: 新規 a・消失 g・変更 c".
std::string ChangeCountsText(const ChangeCounts& counts);

// One change as a line reads it: the kind, then "before→after" when both
// are known, else whichever is.
std::string ChangeText(const Change& change);

std::vector<ChangeRow> ChangeRows(const std::vector<ReportedChange>& changes);

// The titles, then one line per row, each cell written by ExportCell, each
// line ended by CR LF: the export file's layout.
std::string FormatChangesText(const std::vector<ChangeRow>& rows);

// One row per entry, oldest first. A departure has its date, address and
// "消失" in the response column; the changes of a scan are joined by "、".
std::vector<HistoryRow> HistoryRows(const HostHistory& history);
