#include "core/scan/MemoryResultList.h"
#include "core/commands/ExportFormat.h"

#include <gtest/gtest.h>

namespace {

const char* const kTitleLine =
    "IPアドレス,応答,コンピュータ名,ドメイン名,MACアドレス,NICベンダー名,メッセンジャ\r\n";

TEST(ExportFormat, EmptyListIsTheTitleLineOnly) {
    MemoryResultList list;
    EXPECT_EQ(FormatExportText(list), kTitleLine);
}

TEST(ExportFormat, EmptyCellsBecomeDashesAndCellsGoThroughTheCellRule) {
    MemoryResultList list;
    list.InsertItem(0, "192.168.1.10");
    const char* cells[] = {"○", "PC01", "WORKGROUP", "001122334455", "不明", "PC01/USER1"};
    for (int c = 1; c < 7; ++c)
        list.SetItemText(0, c, cells[c - 1]);
    list.InsertItem(1, "192.168.1.11");
    list.SetItemText(1, 1, "×");
    list.InsertItem(2, "192.168.1.12");
    list.SetItemText(2, 1, "○");
    list.SetItemText(2, 5, "A,B");
    EXPECT_EQ(FormatExportText(list),
              std::string(kTitleLine) +
                  "192.168.1.10,○,PC01,WORKGROUP,001122334455,不明,PC01/USER1\r\n"
                  "192.168.1.11,×,-,-,-,-,-\r\n"
                  "192.168.1.12,○,-,-,-,\"A,B\",-\r\n");
}

// A spreadsheet must show every cell as the text it is, in its own field.
TEST(ExportFormat, CellRule) {
    const struct {
        std::string cell, written;
    } cases[] = {
        {"", "-"},
        {"-", "'-"}, // a name "-" is not an empty cell
        {"PC01", "PC01"},
        {"a-b=c@d+e", "a-b=c@d+e"},
        {"A,B", "\"A,B\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"=1+2", "'=1+2"},
        {"+81", "'+81"},
        {"-5", "'-5"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"=A1,B1", "\"'=A1,B1\""},
        {"X\r\n6.6.6.6", "X..6.6.6.6"},
        {"営業部", "営業部"},
        {"\x83\x40\x83\x65", "\x83\x40\x83\x65"}, // CP932 with an '@' trail byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExportCell(c.cell), c.written) << c.cell;
}

TEST(ExportFormat, CellsAreCutAt255Cp932BytesWithoutSplittingACharacter) {
    MemoryResultList list;
    list.InsertItem(0, "10.0.0.1");
    list.SetItemText(0, 6, std::string(255, 'a'));
    std::string whole = FormatExportText(list);
    EXPECT_NE(whole.find(std::string(255, 'a') + "\r\n"), std::string::npos);

    // 127 double-byte characters and one more: 256 bytes, cut to 254.
    std::string japanese;
    for (int i = 0; i < 128; ++i)
        japanese += "名";
    list.SetItemText(0, 6, "a" + japanese);
    std::string cut = FormatExportText(list);
    std::string expected = "a";
    for (int i = 0; i < 127; ++i)
        expected += "名";
    EXPECT_NE(cut.find("," + expected + "\r\n"), std::string::npos);
    EXPECT_EQ(cut.find(expected + "名"), std::string::npos);
}

} // namespace
