#include "core/commands/HostTable.h"

#include "platform/text/TerminalText.h"

#include <gtest/gtest.h>

namespace {

using Source = HostRecord::NameSource;

HostRecord Host(std::uint32_t lastOctet, std::optional<std::string> computer,
                std::vector<HostRecord::Name> names = {}) {
    HostRecord host;
    host.address = 0xC0A80100 | lastOctet; // 192.168.1.x
    host.response = HostRecord::Response::Answered;
    host.computer = std::move(computer);
    host.names = std::move(names);
    return host;
}

const std::string kTitles =
    "IPアドレス  応答  名前 (取得元)  ドメイン名  MACアドレス  NICベンダー名";

TEST(HostTable, AnEmptyScanIsTheTitleLine) {
    EXPECT_EQ(FormatHostTable({}), kTitles + "\n");
}

TEST(HostTable, TheCellsOfAHost) {
    HostRecord full = Host(10, "KEIRI-PC", {{"keiri.local", Source::Mdns}});
    full.workgroup = "WORKGROUP";
    full.hasMac = true;
    full.mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    full.vendor = "不明";
    HostRecord silent = Host(11, std::nullopt);
    silent.response = HostRecord::Response::Silent;
    HostRecord unknown = Host(12, std::nullopt);
    unknown.response = HostRecord::Response::Unknown;
    const std::string longName(60, 'n');
    const struct {
        HostRecord host;
        std::vector<std::string> cells;
    } cases[] = {
        {full, {"192.168.1.10", "○", "KEIRI-PC (netbios)", "WORKGROUP", "001122334455", "不明"}},
        {silent, {"192.168.1.11", "×", "-", "-", "-", "-"}},
        {unknown, {"192.168.1.12", "-", "-", "-", "-", "-"}},
        // The best name by preference, not by the order they came in.
        {Host(13, std::nullopt, {{"a.example", Source::Dns}, {"keiri", Source::Llmnr}}),
         {"192.168.1.13", "○", "keiri (llmnr)", "-", "-", "-"}},
        {Host(14, "", {{"b.example", Source::Dns}}),
         {"192.168.1.14", "○", "b.example (dns)", "-", "-", "-"}},
        // Cut before the source, which always shows.
        {Host(15, std::nullopt, {{longName, Source::Mdns}}),
         {"192.168.1.15", "○", std::string(32, 'n') + "… (mdns)", "-", "-", "-"}},
        {Host(16, std::nullopt, {{"x\x1b[31my", Source::Dns}}),
         {"192.168.1.16", "○", "x.[31my (dns)", "-", "-", "-"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HostTableCells(c.host), c.cells) << c.cells[0];
        for (int column = 0; column < kHostTableColumnCount; ++column)
            EXPECT_LE(TerminalWidth(HostTableCells(c.host)[column]), kHostTableCellWidths[column]);
    }
    HostRecord longGroup = Host(17, std::nullopt);
    longGroup.workgroup = std::string(20, 'G');
    longGroup.vendor = "営業部が使うとても長い名前のベンダーの名前です";
    EXPECT_EQ(HostTableCells(longGroup)[3], std::string(15, 'G') + "…");
    EXPECT_EQ(HostTableCells(longGroup)[5], "営業部が使うとても長い名前の…");
}

// Every line's columns start at the same terminal column, whatever the
// widths of the cells before them.
TEST(HostTable, ColumnsLineUpByDisplayWidth) {
    HostRecord wide = Host(2, "経理のPC");
    wide.workgroup = "経理部";
    wide.hasMac = true;
    wide.vendor = "ｶﾅ";
    HostRecord narrow = Host(200, std::nullopt, {{"prn.local", Source::Mdns}});
    narrow.workgroup = "WG";
    narrow.hasMac = true;
    const std::string table = FormatHostTable({wide, narrow});
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < table.size();) {
        const std::size_t end = table.find('\n', start);
        lines.push_back(table.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 3u) << table;
    const std::vector<HostRecord> hosts = {wide, narrow};
    std::vector<std::size_t> starts;
    for (int column = 1; column < kHostTableColumnCount; ++column) {
        std::vector<std::size_t> at;
        for (std::size_t line = 0; line < lines.size(); ++line) {
            const std::string cell =
                line == 0 ? kHostTableTitles[column] : HostTableCells(hosts[line - 1])[column];
            const std::size_t position = lines[line].find("  " + cell);
            ASSERT_NE(position, std::string::npos) << lines[line] << " / " << cell;
            at.push_back(TerminalWidth(lines[line].substr(0, position + 2)));
        }
        EXPECT_EQ(at[0], at[1]) << table;
        EXPECT_EQ(at[0], at[2]) << table;
        starts.push_back(at[0]);
    }
    // Each column as wide as its widest cell, two blanks apart: 経理のPC
    // (netbios) is 18 columns, 経理部 6.
    EXPECT_EQ(starts[2] - starts[1], 18u + 2u) << table;
    EXPECT_EQ(starts[3] - starts[2], 10u + 2u) << table; // the title ドメイン名
    for (const std::string& line : lines)
        EXPECT_NE(line.back(), ' ') << line;
}

} // namespace
