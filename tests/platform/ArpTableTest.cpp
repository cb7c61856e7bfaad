#include "platform/net/ArpTable.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

const char* const kTable =
    "IP address       HW type     Flags       HW address            Mask     Device\n"
    "192.0.2.1        0x1         0x2         02:fc:00:00:00:05     *        eth0\n"
    "198.18.0.10      0x1         0x0         00:00:00:00:00:00     *        br0\n"
    "198.18.0.11      0x1         0x6         0A:1b:2C:3d:4E:5f     *        br0\n"
    "198.18.0.12      0x1         0x2         00:00:00:00:00:00     *        br0\n"
    "198.18.0.12      0x1         0x2         00:11:22:33:44:55     *        br1\n"
    "198.18.0.13      0x1         0x2         00:11:22:33:44        *        br0\n"
    "198.18.0.14      0x1         2           00:11:22:33:44:55     *        br0\n"
    "198.18.0.15      0x1         0x2         00-11-22-33-44-55     *        br0\n"
    "198.18.0.16\n"
    "198.18.0.17      0x20        0x2         "
    "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0f:b2:b1 * ib0\n"
    "\t198.18.0.18\t0x1\t0x2\t66:77:88:99:aa:bb\t*\tbr0\r\n"
    "198.18.0.19      0x1         0x2         66:77:88:99:aa:bc     *        br0";

TEST(ArpTable, FindsCompleteEntriesOnly) {
    const struct {
        const char* address;
        std::optional<MacAddress> mac;
    } cases[] = {
        {"192.0.2.1", MacAddress{0x02, 0xfc, 0x00, 0x00, 0x00, 0x05}},
        {"198.18.0.10", std::nullopt},                                   // incomplete
        {"198.18.0.11", MacAddress{0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}}, // mixed case, more flags
        {"198.18.0.12", MacAddress{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}}, // zero entry skipped
        {"198.18.0.13", std::nullopt},                                   // short address
        {"198.18.0.14", std::nullopt},                                   // flags not hex text
        {"198.18.0.15", std::nullopt},                                   // wrong separators
        {"198.18.0.16", std::nullopt},                                   // line cut short
        {"198.18.0.17", std::nullopt},                                   // not an Ethernet address
        {"198.18.0.18", MacAddress{0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb}}, // tabs and CR LF
        {"198.18.0.19", MacAddress{0x66, 0x77, 0x88, 0x99, 0xaa, 0xbc}}, // no final newline
        {"198.18.0.1", std::nullopt},                                    // prefix of others
        {"IP", std::nullopt},                                            // the heading
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindArpEntry(kTable, c.address), c.mac) << c.address;
    EXPECT_EQ(FindArpEntry("", "192.0.2.1"), std::nullopt);
    EXPECT_EQ(
        FindArpEntry(std::string_view("192.0.2.1 0x1 0x2 00:11:22:33:44:55\0", 36), "192.0.2.1"),
        std::nullopt);
}

TEST(ArpTable, LooksUpAFile) {
    TempDir dir;
    TempDir::WriteFile(dir.file("arp"), kTable);
    EXPECT_EQ(LookupArpEntry("198.18.0.11", dir.file("arp")),
              (MacAddress{0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}));
    EXPECT_EQ(LookupArpEntry("198.18.0.11", dir.file("missing")), std::nullopt);
}

} // namespace
