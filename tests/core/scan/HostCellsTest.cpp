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

// A cell is compared with a text without being made: the same answer as
// making it, for the texts it would be and for near misses.
TEST(HostCells, ACellIsComparedWithoutBeingMade) {
    HostRecord host;
    host.address = 0x0A000001;
    host.response = HostRecord::Response::Answered;
    host.computer = "PC";
    host.hasMac = true;
    host.mac = {0x00, 0xA0, 0xC9, 0x01, 0x02, 0x03};
    host.vendor = "Intel Corporation";
    host.messengers = {"A", "", "BC"};
    const struct {
        int column;
        std::string text;
    } cases[] = {
        {HostRecord::kMessenger, "A//BC"}, {HostRecord::kMessenger, "A//B"},
        {HostRecord::kMessenger, "A//BC/"}, {HostRecord::kMessenger, "A/BC"},
        {HostRecord::kMessenger, ""},      {HostRecord::kComputer, "PC"},
        {HostRecord::kComputer, ""},       {HostRecord::kDomain, ""},
        {HostRecord::kDomain, "WG"},       {HostRecord::kMac, "00A0C9010203"},
        {HostRecord::kMac, "00a0c9010203"}, {HostRecord::kVendor, "Intel"},
        {HostRecord::kResponse, "○"},      {HostRecord::kAddress, "10.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CellIs(host, c.column, c.text), CellOf(host, c.column) == c.text);
    }
    host.messengers.clear();
    EXPECT_TRUE(CellIs(host, HostRecord::kMessenger, ""));
    EXPECT_FALSE(CellIs(host, HostRecord::kMessenger, "/"));
}

// Every name of a host comes in order of preference, the NetBIOS name
// first; each source is spelt as the outputs spell it and read back.
TEST(HostCells, AllNamesInOrderOfPreference) {
    using Source = HostRecord::NameSource;
    HostRecord host;
    host.names = {{"nas.example.jp", Source::Dns}, {"nas.local", Source::Mdns},
                  {"NAS", Source::Llmnr}, {"nas-2.local", Source::Mdns}};
    const std::vector<HostRecord::Name> others = {{"nas.local", Source::Mdns},
                                                  {"nas-2.local", Source::Mdns},
                                                  {"NAS", Source::Llmnr},
                                                  {"nas.example.jp", Source::Dns}};
    EXPECT_EQ(host.AllNames(), others);
    host.computer = "";
    EXPECT_EQ(host.AllNames(), others) << "an empty computer name is no name";
    host.computer = "NAS01";
    EXPECT_EQ(host.AllNames().front(), (HostRecord::Name{"NAS01", Source::Netbios}));
    for (int i = 0; i < HostRecord::kNameSourceCount; ++i) {
        const auto source = static_cast<Source>(i);
        Source back = Source::Netbios;
        EXPECT_TRUE(HostRecord::SourceOf(HostRecord::SourceText(source), back));
        EXPECT_EQ(back, source);
    }
    Source none;
    EXPECT_FALSE(HostRecord::SourceOf("wins", none));
}

} // namespace
