#include "scan/MemoryResultList.h"
#include "view/ExportFormat.h"

#include <gtest/gtest.h>

namespace {

const char* const kTitleLine =
    "IPアドレス,応答,コンピュータ名,ドメイン名,MACアドレス,NICベンダー名,メッセンジャ\r\n";

TEST(ExportFormat, EmptyListIsTheTitleLineOnly) {
    MemoryResultList list;
    EXPECT_EQ(FormatExportText(list), kTitleLine);
}

TEST(ExportFormat, EmptyCellsBecomeDashesAndNothingIsQuoted) {
    MemoryResultList list;
    list.InsertItem(0, "192.168.1.10");
    const char* cells[] = {"○", "PC01", "WORKGROUP", "001122334455", "不明", "PC01/USER1"};
    for (int c = 1; c < 7; ++c)
        list.SetItemText(0, c, cells[c - 1]);
    list.InsertItem(1, "192.168.1.11");
    list.SetItemText(1, 1, "×");
    list.InsertItem(2, "192.168.1.12");
    list.SetItemText(2, 1, "○");
    list.SetItemText(2, 5, "A,B"); // a comma stays a comma
    EXPECT_EQ(FormatExportText(list),
              std::string(kTitleLine) +
                  "192.168.1.10,○,PC01,WORKGROUP,001122334455,不明,PC01/USER1\r\n"
                  "192.168.1.11,×,-,-,-,-,-\r\n"
                  "192.168.1.12,○,-,-,-,A,B,-\r\n");
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
