#pragma once
// The inventory as the window and vopal-scan show and save it: the changes of
// a scan and a host's timeline as rows of plain-text cells, as export text
// (CSV) and as lines for a terminal, and the counts line of the status bar.
// Cells hold no control characters, so a name from the network or a
// hand-edited store shows as one line of text and cannot steer a terminal.

#include "core/inventory/InventoryMemory.h"

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

// The text with every control character as '.': the bytes below 0x20 and
// 0x7F, and the C1 controls (U+0080 to U+009F, two bytes in UTF-8).
std::string PlainText(std::string_view text);

// What the user is told when the store at `path` was damaged or no store
// and was kept aside as `keptAside`.
std::string KeptAsideMessage(const std::string& path, const std::string& keptAside);

// "YYYY/MM/DD hh:mm:ss" in local time.
std::string LocalDateTimeText(std::int64_t unixMs);

// "前回との比較: 新規 a・消失 g・変更 c".
std::string ChangeCountsText(const ChangeCounts& counts);

// One change as a line reads it: the kind, then "before→after" when both
// are known, else whichever is. A rename of another source's names than
// node status's names the source after the kind ("名前変更 mdns: a→b"), as
// the change's rows do before each side ("mdns: a").
std::string ChangeText(const Change& change);

// Names with their sources, each source once: "mdns: a.local; dns: a.example, b.example".
std::string SourcedNamesText(const std::vector<HostRecord::Name>& names);

std::vector<ChangeRow> ChangeRows(const std::vector<ReportedChange>& changes);

// The titles, then one line per row, each cell written by ExportCell, each
// line ended by CR LF: the export file's layout.
std::string FormatChangesText(const std::vector<ChangeRow>& rows);

// The same layout for a host's timeline.
std::string FormatHistoryText(const std::vector<HistoryRow>& rows);

// Lines for a terminal: the cells in padded columns, "-" for an empty one.
std::string ChangesTerminalText(const std::vector<ChangeRow>& rows);
// A line per entry, then, where other sources named the host, a line of
// those names under the address.
std::string HistoryTerminalText(const HostHistory& history);

// One row per entry, oldest first. A departure has its date, address and
// "消失" in the response column; the changes of a scan are joined by "、".
std::vector<HistoryRow> HistoryRows(const HostHistory& history);
