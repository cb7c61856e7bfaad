#include "core/commands/HostTable.h"

#include "platform/text/TerminalText.h"

#include <gtest/gtest.h>

namespace {

using Source = HostRecord::NameSource;

HostRecord Host(std::uint32_t lastOctet, std::optional<std::string> computer,
                std::vector<HostRecord::Name> names = {}, std::string group = {},
                std::string vendor = {}) {
    HostRecord host;
    host.address = 0xC0A80100 | lastOctet; // 192.168.1.x
    host.response = HostRecord::Response::Answered;
    host.computer = std::move(computer);
    host.names = std::move(names);
    if (!group.empty())
        host.workgroup = group;
    host.vendor = std::move(vendor);
    return host;
}

TEST(HostTable, TheCellsOfAHost) {
    HostRecord full = Host(10, "KEIRI-PC", {{"keiri.local", Source::Mdns}}, "WORKGROUP", "不明");
    full.hasMac = true;
    full.mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    HostRecord silent = Host(11, std::nullopt);
    silent.response = HostRecord::Response::Silent;
    HostRecord unknown = Host(12, "");
    unknown.response = HostRecord::Response::Unknown;
    const std::string n60(60, 'n'), g20(20, 'G');
    const struct {
        HostRecord host;
        std::vector<std::string> cells;
    } cases[] = {
        {full, {"192.168.1.10", "○", "KEIRI-PC (netbios)", "WORKGROUP", "001122334455", "不明"}},
        {silent, {"192.168.1.11", "×", "-", "-", "-", "-"}},
        {unknown, {"192.168.1.12", "-", "-", "-", "-", "-"}},
        // The best name by preference, not by the order the names came in.
        {Host(13, "", {{"a.example", Source::Dns}, {"keiri", Source::Llmnr}}),
         {"192.168.1.13", "○", "keiri (llmnr)", "-", "-", "-"}},
        // Cut before the source, which always shows; plain text.
        {Host(14, std::nullopt, {{n60, Source::Mdns}}, g20, "営業部が使うとても長い名前のベンダー"),
         {"192.168.1.14", "○", n60.substr(0, 32) + "… (mdns)", g20.substr(0, 15) + "…", "-",
          "営業部が使うとても長い名前の…"}},
        {Host(15, std::nullopt, {{"x\x1b[31my", Source::Dns}}),
         {"192.168.1.15", "○", "x.[31my (dns)", "-", "-", "-"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HostTableCells(c.host), c.cells) << c.cells[0];
}

// Every line's columns start at the same terminal column, each column as
// wide as its widest cell (title included), two blanks apart.
TEST(HostTable, ColumnsLineUpByDisplayWidth) {
    const std::vector<HostRecord> hosts = {
        Host(2, "経理のPC", {}, "経理部", "ｶﾅ"),
        Host(200, std::nullopt, {{"prn.local", Source::Mdns}}, "WG"),
    };
    EXPECT_EQ(FormatHostTable({}),
              "IPアドレス  応答  名前 (取得元)  ドメイン名  MACアドレス  NICベンダー名\n");
    EXPECT_EQ(FormatHostTable(hosts),
              // 経理のPC (netbios): 18 columns; ドメイン名: 10.
              "IPアドレス     応答  名前 (取得元)       ドメイン名  MACアドレス  NICベンダー名\n"
              "192.168.1.2    ○     経理のPC (netbios)  経理部      -            ｶﾅ\n"
              "192.168.1.200  ○     prn.local (mdns)    WG          -            -\n");
}

} // namespace
