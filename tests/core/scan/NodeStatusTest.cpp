#include "core/scan/NodeStatus.h"
#include "core/scan/HostCells.h"
#include "core/scan/NodeStatusCells.h"
#include "platform/text/TextCodec.h"
#include "tests/support/AnswerRow.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Name {
    std::string text; // up to 15 bytes, padded with blanks
    unsigned char suffix;
    bool group = false;
};

// A node-status answer with these names, each registered, and this unit id.
NodeStatusAnswer Answer(const std::vector<Name>& names,
                        std::array<unsigned char, 6> mac = {0x02, 0x4B, 0x44, 0x00, 0x00, 0x0A}) {
    NodeStatusAnswer answer;
    answer.unitId = mac;
    for (const Name& n : names) {
        NodeStatusAnswer::Name entry;
        entry.bytes.fill(' ');
        std::memcpy(entry.bytes.data(), n.text.data(), std::min<size_t>(n.text.size(), 15));
        entry.bytes[15] = n.suffix;
        entry.flags = NodeStatusAnswer::Name::kActive | (n.group ? NodeStatusAnswer::Name::kGroup : 0);
        answer.names.push_back(entry);
    }
    return answer;
}

// The host's value and cells as a scan makes them from the answer.
HostRecord Decode(const NodeStatusAnswer& answer, bool skipOwn) {
    return RowOfAnswer(answer, skipOwn);
}

std::optional<std::string> Utf8(const std::optional<std::string>& cp932) {
    return cp932 ? std::optional(Cp932ToUtf8(*cp932)) : std::nullopt;
}

// What the name rules give (CP932 as sent, control bytes as dots), and the
// workstation name they judge the own messenger name by; the MAC is checked
// on its own.
struct Expected {
    std::optional<std::string> computerName, domainName;
    std::string messengerNames, workstationName;
};

struct DecodeCase {
    const char* what;
    std::vector<Name> names;
    Expected expected;
    bool skipOwn = false; // drop the <03> name equal to the workstation name
};

const DecodeCase kCases[] = {
    {"unique and group <00> names end at the first blank",
     {{"SALES PC", 0x00}, {"KD WORK", 0x00, true}},
     {"SALES", "KD", "", "SALES"}},
    {"a 15-byte name without blanks is taken whole",
     {{"ABCDEFGHIJKLMNO", 0x00}, {"ABCDEFGHIJKLMNO", 0x03}},
     {"ABCDEFGHIJKLMNO", std::nullopt, "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"}},
    {"a zero byte also ends a name",
     {{std::string("AB\0CD", 5), 0x00}, {std::string("EF\0GH", 5), 0x03}},
     {"AB", std::nullopt, "EF", "AB"}},
    {"<03> names keep inner blanks and lose trailing ones",
     {{"ROOM 12", 0x03}, {"A  B", 0x03}},
     {std::nullopt, std::nullopt, "ROOM 12/A  B", ""}},
    {"a zero byte is no blank: the blanks in front of it stay",
     {{std::string("AB \0", 4), 0x03}, {std::string("C  \0 ", 5), 0x03}},
     {std::nullopt, std::nullopt, "AB /C  ", ""}},
    {"control bytes of every name become dots; names are compared as sent",
     {{"PC\r\nX", 0x00},
      {"\x1B[2J", 0x00, true},
      {"U\x7F\x01", 0x03},
      {"PC\r\nX", 0x03},
      {"PC\n\rX", 0x03}},
     {"PC..X", ".[2J", "U../PC..X", "PC..X"},
     true},
    {"a <03> name of 15 blanks becomes one blank and is joined like any other",
     {{"PC", 0x03}, {std::string(15, ' '), 0x03}, {"X", 0x03}},
     {std::nullopt, std::nullopt, "PC/ /X", ""}},
    {"the last unique and the last group <00> name win",
     {{"A1", 0x00}, {"G1", 0x00, true}, {"B2", 0x00}, {"G2", 0x00, true}},
     {"B2", "G2", "", "B2"}},
    {"IS~ names count for the workstation name only",
     {{"SRV", 0x00}, {"IS~SRV", 0x00}, {"IS~GRP", 0x00, true}, {"SRV", 0x03}},
     {"SRV", std::nullopt, "SRV", "IS~SRV"},
     true},
    {"IS~ is matched case-sensitively",
     {{"is~box", 0x00}, {"Is~grp", 0x00, true}},
     {"is~box", "Is~grp", "", "is~box"}},
    {"the own <03> name is dropped when asked",
     {{"PC1", 0x00}, {"PC1", 0x03}, {"ADMIN", 0x03}},
     {"PC1", std::nullopt, "ADMIN", "PC1"},
     true},
    {"the own <03> name is kept when not asked",
     {{"PC1", 0x00}, {"PC1", 0x03}, {"ADMIN", 0x03}},
     {"PC1", std::nullopt, "PC1/ADMIN", "PC1"}},
    {"the own <03> name is recognised even before its <00> entry",
     {{"PC1", 0x03}, {"ADMIN", 0x03}, {"PC1", 0x00}},
     {"PC1", std::nullopt, "ADMIN", "PC1"},
     true},
    {"the own name comparison is case-sensitive",
     {{"PC1", 0x00}, {"pc1", 0x03}},
     {"PC1", std::nullopt, "pc1", "PC1"},
     true},
    {"a group <00> name is not the workstation name",
     {{"PC1", 0x00, true}, {"PC1", 0x03}},
     {std::nullopt, "PC1", "PC1", ""},
     true},
    {"only <20> and <1E> names: both names absent, no messenger names",
     {{"HOST", 0x20}, {"WG", 0x1E, true}, {"WG", 0x1D}, {"WG", 0x1B}},
     {std::nullopt, std::nullopt, "", ""}},
    {"the walk stops at the first entry whose first byte is zero",
     {{"A", 0x00}, {std::string("\0ERO", 4), 0x00}, {"B", 0x00}, {"MSG", 0x03}, {"G", 0x00, true}},
     {"A", std::nullopt, "", "A"}},
    {"a first entry with a zero first byte gives no names at all",
     {{std::string("\0", 1), 0x00}, {"B", 0x00}, {"MSG", 0x03}, {"G", 0x00, true}},
     {std::nullopt, std::nullopt, "", ""}},
    {"CP932 bytes pass unchanged",
     {{"\x83\x65\x83\x58\x83\x67", 0x00}, {"\x8E\x96\x96\xB1 \x8E\xBA", 0x03}},
     {"\x83\x65\x83\x58\x83\x67", std::nullopt, "\x8E\x96\x96\xB1 \x8E\xBA",
      "\x83\x65\x83\x58\x83\x67"}},
};

// The names reach the value as UTF-8, a missing name as no value at all, and
// the messenger cell joins the names with '/'.
TEST(DecodeNodeStatusTest, NameRules) {
    for (const DecodeCase& c : kCases) {
        SCOPED_TRACE(c.what);
        const HostRecord record = Decode(Answer(c.names), c.skipOwn);
        EXPECT_EQ(record.computer, Utf8(c.expected.computerName));
        EXPECT_EQ(record.workgroup, Utf8(c.expected.domainName));
        EXPECT_EQ(CellOf(record, HostRecord::kMessenger), Cp932ToUtf8(c.expected.messengerNames));
        EXPECT_EQ(CellOf(record, HostRecord::kComputer),
                  Utf8(c.expected.computerName).value_or(""));
        std::vector<HostName> table;
        for (const Name& n : c.names) {
            if (n.text.empty() || n.text[0] == '\0')
                break;
            table.push_back({(n.text + std::string(15, ' ')).substr(0, 15), n.suffix, n.group});
        }
        EXPECT_EQ(DecodeNodeStatusNames(table, c.skipOwn).workstationName,
                  c.expected.workstationName);
    }
}

TEST(DecodeNodeStatusTest, MacIsTwelveUpperCaseHexDigits) {
    EXPECT_EQ(CellOf(Decode(Answer({}, {0x00, 0x1a, 0xBC, 0xde, 0x0F, 0xa0}), false), HostRecord::kMac),
              "001ABCDE0FA0");
    EXPECT_EQ(CellOf(Decode(Answer({}, {0, 0, 0, 0, 0, 0}), false), HostRecord::kMac),
              "000000000000");
}

// As many names as the NetBIOS API's answer buffer holds, and no more.
TEST(DecodeNodeStatusTest, ThirtyNamesAreAllReadAndNoMore) {
    std::vector<Name> names;
    std::string expected;
    for (int i = 0; i < 31; ++i) {
        std::string text = "N" + std::to_string(i);
        names.push_back({text, 0x03});
        if (i < 30)
            expected += (expected.empty() ? "" : "/") + text;
    }
    EXPECT_EQ(CellOf(Decode(Answer(names), false), HostRecord::kMessenger), expected);
}

} // namespace
