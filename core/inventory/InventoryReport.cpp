#include "core/inventory/InventoryReport.h"

#include "core/commands/ExportFormat.h"
#include "core/ranges/AddressRange.h"
#include "platform/text/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

const char* const kChangeTitles[kChangeColumnCount] = {"種類",   "アドレス", "識別",
                                                       "変更前", "変更後",   "初回"};

const char* const kHistoryTitles[kHistoryColumnCount] = {
    "日時",       "IPアドレス",    "応答",         "コンピュータ名", "ドメイン名",
    "MACアドレス", "NICベンダー名", "メッセンジャ", "変化"};

namespace {

template <std::size_t N>
std::string CsvText(const char* const (&titles)[N], const std::vector<std::array<std::string, N>>& rows) {
    std::string text;
    for (std::size_t column = 0; column < N; ++column)
        text += (column ? "," : "") + std::string(titles[column]);
    text += "\r\n";
    for (const auto& row : rows) {
        for (std::size_t column = 0; column < N; ++column)
            text += (column ? "," : "") + ExportCell(row[column]);
        text += "\r\n";
    }
    return text;
}

// The cells padded to their column's width in characters (a UTF-8 character
// counts as one, near enough for the Japanese kinds), trailing blanks cut.
std::string TerminalLine(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string& cell = cells[i].empty() ? std::string("-") : cells[i];
        std::size_t characters = 0;
        for (unsigned char c : cell)
            characters += (c & 0xC0) != 0x80;
        const std::size_t width = i < widths.size() ? widths[i] : 0;
        line += cell + std::string(characters < width ? width - characters : 1, ' ');
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line + "\n";
}

} // namespace

std::string PlainText(std::string_view text) {
    const std::string c0 = ControlBytesAsDots(text);
    // The C1 controls are two bytes in UTF-8: C2 80 to C2 9F.
    std::string plain;
    plain.reserve(c0.size());
    for (std::size_t i = 0; i < c0.size(); ++i) {
        const bool c1 = static_cast<unsigned char>(c0[i]) == 0xC2 && i + 1 < c0.size() &&
                        static_cast<unsigned char>(c0[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(c0[i + 1]) <= 0x9F;
        plain += c1 ? '.' : c0[i];
        i += c1;
    }
    return plain;
}

std::string KeptAsideMessage(const std::string& path, const std::string& keptAside) {
    return "記録ファイル「" + PlainText(path) + "」は壊れているか記録ファイルではないため、「" +
           PlainText(keptAside) + "」として残し、新しい記録ファイルを作りました。";
}

std::string LocalDateTimeText(std::int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

std::string ChangeCountsText(const ChangeCounts& counts) {
    return "前回との比較: 新規 " + std::to_string(counts.appeared) + "・消失 " +
           std::to_string(counts.gone) + "・変更 " + std::to_string(counts.changed);
}

namespace {

// Whether the change is a rename of another source's names than node
// status's, which the texts name.
bool OfOtherSource(const Change& change) {
    return change.kind == ChangeKind::Renamed && change.source != HostRecord::NameSource::Netbios;
}

// One side of a change as a cell shows it: a name of another source after
// that source.
std::string SideText(const Change& change, const std::string& side) {
    const std::string plain = PlainText(side);
    return OfOtherSource(change) && !plain.empty()
               ? std::string(HostRecord::SourceText(change.source)) + ": " + plain
               : plain;
}

} // namespace

std::string SourcedNamesText(const std::vector<HostRecord::Name>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool first = i == 0 || names[i - 1].source != names[i].source;
        text += first ? std::string(i ? "; " : "") + HostRecord::SourceText(names[i].source) + ": "
                      : ", ";
        text += PlainText(names[i].text);
    }
    return text;
}

std::string ChangeText(const Change& change) {
    std::string text = ChangeKindText(change.kind);
    if (OfOtherSource(change))
        text += std::string(" ") + HostRecord::SourceText(change.source) + ":";
    const std::string before = PlainText(change.before);
    const std::string after = PlainText(change.after);
    if (!before.empty() && !after.empty())
        text += " " + before + "→" + after;
    else if (!before.empty() || !after.empty())
        text += " " + before + after;
    return text;
}

std::vector<ChangeRow> ChangeRows(const std::vector<ReportedChange>& changes) {
    std::vector<ChangeRow> rows;
    rows.reserve(changes.size());
    for (const ReportedChange& reported : changes) {
        const Change& c = reported.change;
        rows.push_back({ChangeKindText(c.kind), AddressToText(c.address),
                        PlainText(IdentityText(c.identity)), SideText(c, c.before),
                        SideText(c, c.after), LocalDateTimeText(reported.firstSeenMs)});
    }
    return rows;
}

std::string FormatChangesText(const std::vector<ChangeRow>& rows) {
    return CsvText(kChangeTitles, rows);
}

std::string FormatHistoryText(const std::vector<HistoryRow>& rows) {
    return CsvText(kHistoryTitles, rows);
}

std::string ChangesTerminalText(const std::vector<ChangeRow>& rows) {
    std::string text;
    for (const ChangeRow& row : rows)
        text += TerminalLine({row[0], row[1], row[2], row[3], row[4], "初回 " + row[5]},
                             {9, 16, 22, 20, 20});
    return text;
}

std::string HistoryTerminalText(const HostHistory& history) {
    std::string text = PlainText(IdentityText(history.identity)) +
                       (history.randomisedMac ? " (ランダムなMACアドレス)" : "") + "\n";
    // The site of each entry, after its date, once any entry has one.
    const bool sites = std::any_of(history.entries.begin(), history.entries.end(),
                                   [](const HistoryEntry& e) { return !e.site.empty(); });
    const std::vector<HistoryRow> rows = HistoryRows(history);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::vector<std::string> cells(rows[i].begin(), rows[i].end());
        std::vector<std::size_t> widths = {21, 16, 5, 16, 16, 14, 14, 16};
        if (sites) {
            cells.insert(cells.begin() + 1, PlainText(history.entries[i].site));
            widths.insert(widths.begin() + 1, 12);
        }
        text += TerminalLine(cells, widths);
        // The other sources' names on a line of their own, under the address.
        if (!history.entries[i].names.empty())
            text += std::string(widths[0] + (sites ? widths[1] : 0), ' ') +
                    SourcedNamesText(history.entries[i].names) + "\n";
    }
    return text;
}

std::vector<HistoryRow> HistoryRows(const HostHistory& history) {
    std::vector<HistoryRow> rows;
    rows.reserve(history.entries.size());
    for (const HistoryEntry& entry : history.entries) {
        HistoryRow row;
        row[0] = LocalDateTimeText(entry.startedMs);
        for (int column = 0; column < HostRecord::kColumnCount; ++column)
            row[column + 1] = PlainText(entry.row[column]);
        if (!entry.seen)
            row[1 + HostRecord::kResponse] = ChangeKindText(ChangeKind::Gone);
        for (const Change& change : entry.changes)
            row[8] += (row[8].empty() ? "" : "、") + ChangeText(change);
        rows.push_back(std::move(row));
    }
    return rows;
}
