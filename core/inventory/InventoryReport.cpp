#include "core/inventory/InventoryReport.h"

#include "core/commands/ExportFormat.h"
#include "core/ranges/AddressRange.h"

#include <cstdio>
#include <ctime>

const char* const kChangeTitles[kChangeColumnCount] = {"種類",   "アドレス", "識別",
                                                       "変更前", "変更後",   "初回"};

const char* const kHistoryTitles[kHistoryColumnCount] = {
    "日時",       "IPアドレス",    "応答",         "コンピュータ名", "ドメイン名",
    "MACアドレス", "NICベンダー名", "メッセンジャ", "変化"};

std::string PlainText(std::string_view text) {
    std::string plain(text);
    for (char& c : plain)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '.';
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

std::string ChangeText(const Change& change) {
    std::string text = ChangeKindText(change.kind);
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
                        PlainText(IdentityText(c.identity)), PlainText(c.before),
                        PlainText(c.after), LocalDateTimeText(reported.firstSeenMs)});
    }
    return rows;
}

std::string FormatChangesText(const std::vector<ChangeRow>& rows) {
    std::string text;
    for (int column = 0; column < kChangeColumnCount; ++column)
        text += (column ? "," : "") + std::string(kChangeTitles[column]);
    text += "\r\n";
    for (const ChangeRow& row : rows) {
        for (int column = 0; column < kChangeColumnCount; ++column)
            text += (column ? "," : "") + ExportCell(row[column]);
        text += "\r\n";
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
            row[column + 1] = PlainText(entry.row.cells[column]);
        if (!entry.seen)
            row[1 + HostRecord::kResponse] = ChangeKindText(ChangeKind::Gone);
        for (const Change& change : entry.changes)
            row[8] += (row[8].empty() ? "" : "、") + ChangeText(change);
        rows.push_back(std::move(row));
    }
    return rows;
}
