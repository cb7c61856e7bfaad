#include "core/inventory/InventoryReport.h"

#include "core/commands/ExportFormat.h"
#include "platform/TextCodec.h"

#include <ctime>

namespace {

std::string CsvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (const std::string& cell : cells) {
        if (!line.empty())
            line += ',';
        line += ExportCell(cell);
    }
    return line + "\r\n";
}

// Cells padded to a width in characters (a UTF-8 character counts as one,
// which is near enough for the Japanese kinds).
std::string Padded(const std::string& text, std::size_t width) {
    std::size_t characters = 0;
    for (unsigned char c : text)
        characters += (c & 0xC0) != 0x80;
    return text + std::string(characters < width ? width - characters : 1, ' ');
}

std::string EntryChanges(const HistoryEntry& entry) {
    std::string text;
    for (const Change& change : entry.changes) {
        if (!text.empty())
            text += "; ";
        text += ChangeKindText(change.kind);
        const std::string detail = ChangeDetail(change);
        if (!detail.empty())
            text += " " + detail;
    }
    return text;
}

} // namespace

std::string LocalTimeText(std::int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

std::string ChangeDetail(const Change& change) {
    if (change.before.empty() && change.after.empty())
        return "";
    if (change.after.empty())
        return change.before;
    return (change.before.empty() ? "" : change.before + " ") + "→ " + change.after;
}

std::string TerminalSafe(std::string_view text) {
    std::string safe = ControlBytesAsDots(text);
    // C1 controls are two bytes in UTF-8: C2 80 to C2 9F.
    for (std::size_t i = 0; i + 1 < safe.size(); ++i)
        if (static_cast<unsigned char>(safe[i]) == 0xC2 &&
            static_cast<unsigned char>(safe[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(safe[i + 1]) <= 0x9F)
            safe.replace(i, 2, ".");
    return safe;
}

std::string ChangesCsv(const std::vector<ReportedChange>& changes) {
    std::string text = CsvLine({"種類", "アドレス", "識別", "変更前", "変更後", "初回"});
    for (const ReportedChange& reported : changes) {
        const Change& change = reported.change;
        text += CsvLine({ChangeKindText(change.kind), AddressToText(change.address),
                         TerminalSafe(IdentityText(change.identity)), TerminalSafe(change.before),
                         TerminalSafe(change.after), LocalTimeText(reported.firstSeenMs)});
    }
    return text;
}

std::string ChangesText(const std::vector<ReportedChange>& changes) {
    std::string text;
    for (const ReportedChange& reported : changes) {
        const Change& change = reported.change;
        text += Padded(ChangeKindText(change.kind), 9) + Padded(AddressToText(change.address), 16) +
                Padded(TerminalSafe(IdentityText(change.identity)), 22) +
                Padded(TerminalSafe(ChangeDetail(change)), 24) + "初回 " +
                LocalTimeText(reported.firstSeenMs) + "\n";
    }
    return text;
}

std::string HistoryCsv(const HostHistory& history) {
    std::vector<std::string> titles = {"日時"};
    for (const char* title : HostRecord::kTitles)
        titles.push_back(title);
    titles.push_back("変化");
    std::string text = CsvLine(titles);
    for (const HistoryEntry& entry : history.entries) {
        std::vector<std::string> cells = {LocalTimeText(entry.startedMs)};
        for (const std::string& cell : entry.row.cells)
            cells.push_back(TerminalSafe(cell));
        cells.push_back(TerminalSafe(EntryChanges(entry)));
        text += CsvLine(cells);
    }
    return text;
}

std::string HistoryText(const HostHistory& history) {
    std::string text = TerminalSafe(IdentityText(history.identity)) +
                       (history.randomisedMac ? " (ランダムなMACアドレス)" : "") + "\n";
    for (const HistoryEntry& entry : history.entries) {
        text += LocalTimeText(entry.startedMs) + "  " +
                Padded(entry.row.cells[HostRecord::kAddress], 16);
        if (entry.seen)
            for (int column = 1; column < HostRecord::kColumnCount; ++column)
                text += Padded(TerminalSafe(entry.row.cells[column].empty()
                                                ? "-"
                                                : entry.row.cells[column]),
                               column == HostRecord::kResponse ? 3 : 14);
        const std::string changes = EntryChanges(entry);
        text += (changes.empty() ? "" : "[" + TerminalSafe(changes) + "]");
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        text += "\n";
    }
    return text;
}
