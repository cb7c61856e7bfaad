#include "core/ranges/AddressRangeTable.h"
#include "tests/support/MessagePrinters.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFFu;

// The walk as address texts and "end", blank-separated (at most 1000 calls);
// three more calls must then give the end value again.
std::string Walk(AddressRangeTable& table) {
    std::string out;
    for (int i = 0; i < 1000; ++i) {
        std::uint32_t address = table.NextAddress();
        if (address == kEnd) {
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(table.NextAddress(), kEnd) << "call " << j << " after the end";
            return out + "end";
        }
        out += AddressToText(address) + " ";
    }
    return out;
}

// The one message of the last load.
void ExpectMessage(const AddressRangeTable& table, const std::string& text, const char* caption,
                   unsigned type) {
    ASSERT_EQ(table.Messages().size(), 1u);
    EXPECT_EQ(table.Messages()[0], (UserMessage{text, caption, type}));
}

TEST(AddressRangeTest, TextsConvertAsInetAddrReadsThem) {
    struct {
        const char* text;
        std::uint32_t address;
    } cases[] = {
        {"1.2.3.4", 0x01020304u},
        {"192.168.0.254", 0xC0A800FEu},
        {"255.255.255.255", kEnd},
        {"", kEnd},
        {"abc", kEnd},
        {"1.2.3.256", kEnd},
        {"10.1", 0x0A000001u},
        {"0x0a.0.0.010", 0x0A000008u},
        {"0.0.0.0", 0u},
        {"0", 0u},
        {"1.2.3.4 trailing", 0x01020304u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AddressFromText(c.text), c.address) << "'" << c.text << "'";
    for (const char* text : {"10.0.0.1", "255.255.255.255", "0.0.0.0", "128.255.0.128"})
        EXPECT_EQ(AddressToText(AddressFromText(text)), text);
    // 255.255.255.255 is an address; a rejected text only reads as one.
    for (const char* text :
         {"255.255.255.255", "4294967295", "0xff.0xff.0xff.0xff", "255.255.255.255 x"})
        EXPECT_TRUE(IsAddressText(text)) << text;
    for (const char* text : {"", "abc", "1.2.3.256", " 1.2.3.4", "255.255.255.255x"})
        EXPECT_FALSE(IsAddressText(text)) << text;
}

TEST(AddressRangeTableTest, WalksEveryRangeFromStartToEndInFileOrder) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* walk;
    } cases[] = {
        {"three addresses", "10.0.0.1,10.0.0.3\r\n", "10.0.0.1 10.0.0.2 10.0.0.3 end"},
        {"start equal to end", "10.0.0.7,10.0.0.7\r\n", "10.0.0.7 end"},
        {"ranges in file order, not sorted", "10.0.0.9,10.0.0.10\r\n10.0.0.1,10.0.0.1\r\n",
         "10.0.0.9 10.0.0.10 10.0.0.1 end"},
        {"a range entered twice is walked twice", "1.1.1.1,1.1.1.1\r\n1.1.1.1,1.1.1.1\r\n",
         "1.1.1.1 1.1.1.1 end"},
        {"across an octet", "10.0.0.254,10.0.1.1\r\n",
         "10.0.0.254 10.0.0.255 10.0.1.0 10.0.1.1 end"},
        {"reaching 255.255.255.255 ends the walk",
         "255.255.255.253,255.255.255.255\r\n1.1.1.1,1.1.1.1\r\n",
         "255.255.255.253 255.255.255.254 end"},
        {"empty file", "", "end"},
        {"two LF lines are one range", "1.1.1.1\n1.1.1.3\n", "1.1.1.1 1.1.1.2 1.1.1.3 end"},
        {"a line with only a start is overwritten by the next", "1.1.1.1\r\n2.2.2.1,2.2.2.2\r\n",
         "2.2.2.1 2.2.2.2 end"},
        {"a last line with only a start is no range", "2.2.2.1,2.2.2.2\r\n9.9.9.9\r\n",
         "2.2.2.1 2.2.2.2 end"},
        {"a last line without line end is no range", "2.2.2.1,2.2.2.1\r\n9.9.9.9,9.9.9.10",
         "2.2.2.1 end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AddressRangeTable table;
        EXPECT_TRUE(table.LoadFromBytes(c.bytes));
        EXPECT_EQ(Walk(table), c.walk);
        EXPECT_TRUE(table.Messages().empty());
    }
}

TEST(AddressRangeTableTest, ReadsTheFileReportsATooLongFieldAndMissingFileGivesAnEmptyTable) {
    TempDir dir;
    TempDir::WriteFile(dir.file("ok.lst"), "10.0.0.1,10.0.0.2\r\n");
    TempDir::WriteFile(dir.file("bad.lst"), "10.0.0.1,10.0.0.2\r\n10.0.0.5," +
                                                std::string(258, '9') + "\r\n3.3.3.3,3.3.3.3\r\n");
    AddressRangeTable table;
    EXPECT_TRUE(table.LoadFromFile(dir.file("ok.lst")));
    EXPECT_EQ(Walk(table), "10.0.0.1 10.0.0.2 end");
    for (const std::string& path : {dir.file("none.lst"), dir.path()}) {
        EXPECT_FALSE(table.LoadFromFile(path));
        EXPECT_EQ(Walk(table), "end") << path;
        EXPECT_TRUE(table.Messages().empty()) << path;
    }

    // Too long: an error; the ranges before it stay and the start of the
    // broken line is not walked.
    EXPECT_FALSE(table.LoadFromFile(dir.file("bad.lst")));
    ExpectMessage(table, "ファイルが異常です。", "エラー1A", MB_OK | MB_ICONERROR);
    EXPECT_EQ(Walk(table), "10.0.0.1 10.0.0.2 end");
}

TEST(AddressRangeTableTest, LinesThatAreNoRangeAreSkippedAndNamedInOneBox) {
    TempDir dir;
    const std::string bytes = "10.0.0.1,10.0.0.2\r\n"
                              "junk,10.0.0.9\r\n"
                              "10.0.1.1,10.0.1.1\r\n"
                              "10.0.2.1,\r\n"
                              "10.0.3.9,10.0.3.1\n"
                              "0.0.0.0,10.0.4.1\r\n"
                              "255.255.255.254,255.255.255.255\r\n";
    TempDir::WriteFile(dir.file("iplist.lst"), bytes);
    AddressRangeTable table;
    EXPECT_FALSE(table.LoadFromFile(dir.file("iplist.lst")));
    EXPECT_EQ(Walk(table), "10.0.0.1 10.0.0.2 10.0.1.1 255.255.255.254 end");
    EXPECT_EQ(table.RangeCount(), 3);
    EXPECT_EQ(table.RefusedLines(), 4);
    const std::string heading =
        "IPリストファイルの次の行は正しいIPアドレスの範囲ではないため、調べません。";
    ExpectMessage(table,
                  heading + "\n2行目：開始IPアドレスがIPアドレスではありません。"
                            "\n4行目：終了IPアドレスがIPアドレスではありません。"
                            "\n5行目：開始IPアドレスが終了IPアドレスより大きくなっています。"
                            "\n6行目：開始IPアドレスが0.0.0.0です。",
                  "注意", MB_OK | MB_ICONEXCLAMATION);
    EXPECT_EQ(TempDir::ReadFile(dir.file("iplist.lst")), bytes);

    // Many: ten are named, the rest counted.
    std::string many;
    for (int i = 0; i < 13; ++i)
        many += "1.1.1.9,1.1.1.1\r\n";
    EXPECT_FALSE(table.LoadFromBytes(many));
    EXPECT_EQ(table.RangeCount(), 0);
    EXPECT_EQ(table.RefusedLines(), 13);
    EXPECT_EQ(Walk(table), "end");
    ASSERT_EQ(table.Messages().size(), 1u);
    const std::string text = table.Messages()[0].text;
    EXPECT_NE(text.find("\n10行目：開始IPアドレスが終了IPアドレスより大きくなっています。\n…他3行"),
              std::string::npos)
        << text;
}

std::string ManyRanges(int count) {
    std::string bytes;
    for (int i = 1; i <= count; ++i) {
        std::string address = "10.0." + std::to_string(i) + ".1";
        bytes += address + "," + address + "\r\n";
    }
    return bytes;
}

TEST(AddressRangeTableTest, RangesBeyondTheTableAreDroppedAndReportedOnce) {
    for (int count : {124, 125, 126, 200}) {
        SCOPED_TRACE(count);
        AddressRangeTable table;
        bool complete = table.LoadFromBytes(ManyRanges(count) + "7.7.7.7\r\n");
        int kept = std::min(count, AddressRangeTable::kMaxRanges);
        EXPECT_EQ(complete, count <= AddressRangeTable::kMaxRanges);
        EXPECT_EQ(table.RangeCount(), kept);
        EXPECT_EQ(table.DroppedRanges(), count - kept);
        std::string walk;
        for (int i = 1; i <= kept; ++i)
            walk += "10.0." + std::to_string(i) + ".1 ";
        EXPECT_EQ(Walk(table), walk + "end");
        if (count <= AddressRangeTable::kMaxRanges)
            EXPECT_TRUE(table.Messages().empty());
        else
            ExpectMessage(table,
                          "IPアドレスの範囲が多すぎます。先頭から125組だけを調べ、残りの" +
                              std::to_string(count - kept) + "組は調べません。",
                          "注意", MB_OK | MB_ICONEXCLAMATION);
    }
}

// The boxes a load asks for come in the order the window shows them, and a
// new load forgets those of the last one.
TEST(AddressRangeTableTest, ALoadsMessagesComeInOrderAndOnlyFromTheLastLoad) {
    const std::string tooLong = "1.1.1.1," + std::string(258, '9') + "\r\n";
    const std::string refused = "junk,1.1.1.1\r\n";
    const char* const kError = "エラー1A";
    const char* const kCaution = "注意";
    const struct {
        const char* name;
        std::string bytes;
        std::vector<const char*> captions;
    } cases[] = {
        {"refused and dropped", refused + ManyRanges(126), {kCaution, kCaution}},
        {"dropped, then too long", ManyRanges(126) + tooLong, {kError, kCaution}},
        {"all three", refused + ManyRanges(126) + tooLong, {kError, kCaution, kCaution}},
        {"none", ManyRanges(2), {}},
    };
    AddressRangeTable table;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.LoadFromBytes(c.bytes);
        std::vector<std::string> captions, expected(c.captions.begin(), c.captions.end());
        for (const UserMessage& message : table.Messages())
            captions.push_back(message.caption);
        EXPECT_EQ(captions, expected);
        if (c.captions.size() > 1) {
            EXPECT_EQ(table.Messages().back().text.rfind("IPアドレスの範囲が多すぎます。", 0), 0u);
        }
    }
}

TEST(AddressRangeTableTest, AppendStopsWhenTheTableIsFullAndReloadStartsAfresh) {
    AddressRangeTable table;
    for (int i = 0; i < AddressRangeTable::kMaxRanges; ++i)
        ASSERT_TRUE(table.Append({0x0A000001u + static_cast<std::uint32_t>(i),
                                  0x0A000001u + static_cast<std::uint32_t>(i)}));
    EXPECT_FALSE(table.Append({0x0B000001u, 0x0B000001u}));
    std::string walk;
    for (int i = 1; i <= AddressRangeTable::kMaxRanges; ++i)
        walk += "10.0.0." + std::to_string(i) + " ";
    EXPECT_EQ(Walk(table), walk + "end");

    ASSERT_TRUE(table.LoadFromBytes("1.1.1.1,1.1.1.1\r\n"));
    EXPECT_EQ(Walk(table), "1.1.1.1 end");
}

} // namespace
