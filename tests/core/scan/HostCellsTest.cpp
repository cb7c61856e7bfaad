// A row's cells are made from the host's value in one place, and a row that
// comes as text is taken back into a value that gives the same texts.

#include "core/scan/HostCells.h"

#include <gtest/gtest.h>

namespace {

TEST(HostCells, TheCellsOfAValue) {
    HostRecord host;
    host.address = 0xC6120007;
    EXPECT_EQ(CellsOf(host), (HostCells{"198.18.0.7", "", "", "", "", "", ""}))
        << "no response yet";
    host.response = HostRecord::Response::Silent;
    EXPECT_EQ(CellOf(host, HostRecord::kResponse), "×");
    host.response = HostRecord::Response::Answered;
    host.computer = "";
    host.workgroup = "WG";
    host.hasMac = true;
    host.mac = {0x00, 0x0a, 0xbc, 0x01, 0x02, 0xff};
    host.vendor = "不明";
    host.messengers = {"A/B", "C"};
    EXPECT_EQ(CellsOf(host),
              (HostCells{"198.18.0.7", "○", "", "WG", "000ABC0102FF", "不明", "A/B/C"}));
    EXPECT_EQ(CellOf(host, -1), "");
    EXPECT_EQ(CellOf(host, HostRecord::kColumnCount), "");
}

// Every text the cells are made of comes back unchanged; what no value can
// hold (a MAC that is no MAC, a response that is neither mark) reads as
// nothing.
TEST(HostCells, TextsTakenIntoAValueComeBack) {
    const struct {
        int column;
        std::string text;
        std::string back;
    } cases[] = {
        {HostRecord::kAddress, "10.0.0.1", "10.0.0.1"},
        {HostRecord::kAddress, "255.255.255.255", "255.255.255.255"},
        {HostRecord::kAddress, "10.0.0", "0.0.0.0"},
        {HostRecord::kResponse, "○", "○"},
        {HostRecord::kResponse, "×", "×"},
        {HostRecord::kResponse, "?", ""},
        {HostRecord::kComputer, "PC\x1b[1m", "PC\x1b[1m"},
        {HostRecord::kDomain, "", ""},
        {HostRecord::kMac, "00A0C9010203", "00A0C9010203"},
        {HostRecord::kMac, "00a0c9010203", "00A0C9010203"},
        {HostRecord::kMac, "00:A0:C9:01:02:03", ""},
        {HostRecord::kMac, "00A0C901020G", ""},
        {HostRecord::kVendor, "Intel Corporation", "Intel Corporation"},
        {HostRecord::kMessenger, "A/B", "A/B"},
        {HostRecord::kMessenger, "//A/", "//A/"},
        {HostRecord::kMessenger, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        HostRecord host;
        TakeCell(host, c.column, c.text);
        EXPECT_EQ(CellOf(host, c.column), c.back);
    }
    const HostCells row = {"10.0.0.9", "○", "PC", "WG", "00A0C9010203", "v", "PC/ADMIN"};
    EXPECT_EQ(CellsOf(RecordOfCells(row)), row);
    EXPECT_EQ(RecordOfCells(row).messengers, (std::vector<std::string>{"PC", "ADMIN"}));
}

} // namespace
