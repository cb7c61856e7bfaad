// The inventory as the window and vopal-scan show and save it: exact cells
// and export lines, and hostile names that stay plain text everywhere.

#include "core/inventory/InventoryReport.h"

#include <gtest/gtest.h>

namespace {

Change Made(ChangeKind kind, const char* address, const char* identity, const char* before,
            const char* after) {
    return {kind, AddressFromText(address), identity, before, after, 1};
}

Change Of(HostRecord::NameSource source, Change change) {
    change.source = source;
    return change;
}

TEST(InventoryReport, ChangesBecomePlainCellsAndExportLinesThatNoSpreadsheetRuns) {
    const struct {
        Change change;
        const char* line; // the export line without its first-seen cell
        const char* text; // ChangeText
    } cases[] = {
        {Made(ChangeKind::New, "127.0.0.1", "mac:001122334401", "", ""),
         "新規,127.0.0.1,001122334401,-,-,", "新規"},
        {Made(ChangeKind::Renamed, "127.0.0.2", "mac:001122334402", "=cmd/WG", "A,B/WG"),
         "名前変更,127.0.0.2,001122334402,'=cmd/WG,\"A,B/WG\",", "名前変更 =cmd/WG→A,B/WG"},
        {Made(ChangeKind::Gone, "127.0.0.3", "name:@SUM(1)/\"Q\"", "PC\r\n03/WG", ""),
         "消失,127.0.0.3,\"'@SUM(1)/\"\"Q\"\"\",PC..03/WG,-,", "消失 PC..03/WG"},
        {Made(ChangeKind::Moved, "127.0.0.4", "mac:001122334404", "127.0.0.9", "127.0.0.4"),
         "移動,127.0.0.4,001122334404,127.0.0.9,127.0.0.4,", "移動 127.0.0.9→127.0.0.4"},
        // Another source's names are shown after it.
        {Of(HostRecord::NameSource::Dns, Made(ChangeKind::Renamed, "127.0.0.5", "ip:127.0.0.5",
                                              "=a.example, b.example", "c.example")),
         "名前変更,127.0.0.5,127.0.0.5,\"dns: =a.example, b.example\",dns: c.example,",
         "名前変更 dns: =a.example, b.example→c.example"},
    };
    std::vector<ReportedChange> changes;
    for (const auto& c : cases) {
        changes.push_back({c.change, 1700000000000});
        EXPECT_EQ(ChangeText(c.change), c.text);
    }
    const std::string text = FormatChangesText(ChangeRows(changes));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    ASSERT_EQ(lines.size(), std::size(cases) + 1) << text;
    EXPECT_EQ(lines[0], "種類,アドレス,識別,変更前,変更後,初回");
    const std::string firstSeen = LocalDateTimeText(1700000000000);
    EXPECT_EQ(firstSeen.size(), 19u);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(lines[i + 1], cases[i].line + firstSeen);
    // Nothing but the line ends breaks a line.
    std::size_t breaks = 0;
    for (char c : text)
        breaks += c == '\n';
    EXPECT_EQ(breaks, lines.size());
}

TEST(InventoryReport, AHostsTimelineShowsEachScanAndADepartureAsGone) {
    HostHistory history;
    history.identity = "mac:001122334401";
    HistoryEntry seen;
    seen.startedMs = 1700000000000;
    seen.row = {"127.0.0.1", "○", "PC\x1b" "01", "WG", "001122334401", "v", "M1/M2"};
    seen.changes = {Made(ChangeKind::New, "127.0.0.1", "mac:001122334401", "", ""),
                    Made(ChangeKind::Renamed, "127.0.0.1", "mac:001122334401", "A/WG", "B/WG")};
    HistoryEntry gone;
    gone.startedMs = 1700000000000;
    gone.seen = false;
    gone.row[HostRecord::kAddress] = "127.0.0.1";
    gone.changes = {Made(ChangeKind::Gone, "127.0.0.1", "mac:001122334401", "PC01/WG", "")};
    history.entries = {seen, gone};
    const std::string when = LocalDateTimeText(1700000000000);
    const std::string rows = HistoryTerminalText(history);
    // Other sources' names go on a line of their own under the address; the
    // rows themselves, as the window and the export show them, stay as they are.
    history.entries[0].names = {{"pc.local", HostRecord::NameSource::Mdns},
                                {"a.example", HostRecord::NameSource::Dns},
                                {"b\x1b.example", HostRecord::NameSource::Dns}};
    const std::string lines = HistoryTerminalText(history);
    const std::size_t firstLine = rows.find('\n', rows.find('\n') + 1) + 1; // after the identity
    EXPECT_EQ(lines, rows.substr(0, firstLine) + std::string(21, ' ') +
                         "mdns: pc.local; dns: a.example, b..example\n" + rows.substr(firstLine));
    EXPECT_EQ(HistoryRows(history),
              (std::vector<HistoryRow>{
                  {when, "127.0.0.1", "○", "PC.01", "WG", "001122334401", "v", "M1/M2",
                   "新規、名前変更 A/WG→B/WG"},
                  {when, "127.0.0.1", "消失", "", "", "", "", "", "消失 PC01/WG"}}));
}

// Whatever the store holds leaves as plain text: no control character, no
// formula, no extra row or line.
TEST(InventoryReport, HostileTextsLeaveAsPlainText) {
    const std::string hostile[] = {"=cmd|' /C calc'!A0", "a,b\"c", "x\r\ny", "\x1b[31mred",
                                   "\xc2\x9b" "2J", "@SUM(1)"};
    std::vector<ReportedChange> changes;
    HostHistory history;
    history.identity = "name:\x1b]0;title\x07/WG";
    for (const std::string& text : hostile) {
        Change change{ChangeKind::Renamed, AddressFromText("10.0.0.1"), "name:" + text + "/WG", text, text + "2", 1};
        changes.push_back({change, 0});
        HistoryEntry entry;
        entry.row = {"10.0.0.1", "○", text, text, "", "", text};
        entry.names = {{text, HostRecord::NameSource::Llmnr}};
        entry.changes = {change};
        history.entries.push_back(entry);
    }
    const std::size_t n = std::size(hostile);
    for (const std::string& csv : {FormatChangesText(ChangeRows(changes)), FormatHistoryText(HistoryRows(history))}) {
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = csv.find("\r\n", at)) != std::string::npos; at += 2)
            ++lines;
        EXPECT_EQ(lines, n + 1) << csv;
        EXPECT_EQ(csv.find('\n'), csv.find("\r\n") + 1);
        for (const char* formula : {",=", ",@", ",+", ",-c"})
            EXPECT_EQ(csv.find(formula), std::string::npos) << formula << " in " << csv;
    }
    for (const std::string& text :
         {FormatChangesText(ChangeRows(changes)), FormatHistoryText(HistoryRows(history)),
          ChangesTerminalText(ChangeRows(changes)), HistoryTerminalText(history)}) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            EXPECT_FALSE((byte < 0x20 && byte != '\r' && byte != '\n') || byte == 0x7F ||
                         (byte == 0xC2 && i + 1 < text.size() &&
                          static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                          static_cast<unsigned char>(text[i + 1]) <= 0x9F))
                << "control byte at " << i << " of " << text;
        }
    }
    std::size_t textLines = 0;
    for (char c : ChangesTerminalText(ChangeRows(changes)))
        textLines += c == '\n';
    EXPECT_EQ(textLines, n);
}

} // namespace
