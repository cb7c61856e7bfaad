#include "core/ranges/AddressRangeTable.h"
#include "tests/support/MessageBoxRecorder.h"
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

// The one box shown.
void ExpectBox(const MessageBoxRecorder& boxes, const std::string& text, const char* caption,
               unsigned type, void* owner) {
    ASSERT_EQ(boxes.count(), 1u);
    const MessageBoxRequest box = boxes.boxes()[0];
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.type, type);
    EXPECT_EQ(box.owner, owner);
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
    MessageBoxRecorder boxes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AddressRangeTable table;
        EXPECT_TRUE(table.LoadFromBytes(c.bytes));
        EXPECT_EQ(Walk(table), c.walk);
    }
    EXPECT_EQ(boxes.count(), 0u);
}

TEST(AddressRangeTableTest, ReadsTheFileReportsATooLongFieldAndMissingFileGivesAnEmptyTable) {
    TempDir dir;
    MessageBoxRecorder boxes;
    int mainWindow = 0;
    TempDir::WriteFile(dir.file("ok.lst"), "10.0.0.1,10.0.0.2\r\n");
    TempDir::WriteFile(dir.file("bad.lst"), "10.0.0.1,10.0.0.2\r\n10.0.0.5," +
                                                std::string(258, '9') + "\r\n3.3.3.3,3.3.3.3\r\n");
    AddressRangeTable table;
    EXPECT_TRUE(table.LoadFromFile(dir.file("ok.lst")));
    EXPECT_EQ(Walk(table), "10.0.0.1 10.0.0.2 end");
    for (const std::string& path : {dir.file("none.lst"), dir.path()}) {
        EXPECT_FALSE(table.LoadFromFile(path));
        EXPECT_EQ(Walk(table), "end") << path;
    }
    EXPECT_EQ(boxes.count(), 0u);

    // Too long: an error owned by the given window; the ranges before it stay
    // and the start of the broken line is not walked.
    EXPECT_FALSE(table.LoadFromFile(dir.file("bad.lst"), &mainWindow));
    ExpectBox(boxes, "ファイルが異常です。", "エラー1A", MB_OK | MB_ICONERROR, &mainWindow);
    EXPECT_EQ(Walk(table), "10.0.0.1 10.0.0.2 end");
}

TEST(AddressRangeTableTest, LinesThatAreNoRangeAreSkippedAndNamedInOneBox) {
    TempDir dir;
    MessageBoxRecorder boxes;
    int mainWindow = 0;
    const std::string bytes = "10.0.0.1,10.0.0.2\r\n"
                              "junk,10.0.0.9\r\n"
                              "10.0.1.1,10.0.1.1\r\n"
                              "10.0.2.1,\r\n"
                              "10.0.3.9,10.0.3.1\n"
                              "0.0.0.0,10.0.4.1\r\n"
                              "255.255.255.254,255.255.255.255\r\n";
    TempDir::WriteFile(dir.file("iplist.lst"), bytes);
    AddressRangeTable table;
    EXPECT_FALSE(table.LoadFromFile(dir.file("iplist.lst"), &mainWindow));
    EXPECT_EQ(Walk(table), "10.0.0.1 10.0.0.2 10.0.1.1 255.255.255.254 end");
    EXPECT_EQ(table.RangeCount(), 3);
    EXPECT_EQ(table.RefusedLines(), 4);
    const std::string heading =
        "IPリストファイルの次の行は正しいIPアドレスの範囲ではないため、調べません。";
    ExpectBox(boxes,
              heading + "\n2行目：開始IPアドレスがIPアドレスではありません。"
                        "\n4行目：終了IPアドレスがIPアドレスではありません。"
                        "\n5行目：開始IPアドレスが終了IPアドレスより大きくなっています。"
                        "\n6行目：開始IPアドレスが0.0.0.0です。",
              "注意", MB_OK | MB_ICONEXCLAMATION, &mainWindow);
    EXPECT_EQ(TempDir::ReadFile(dir.file("iplist.lst")), bytes);

    // Many: ten are named, the rest counted.
    std::string many;
    for (int i = 0; i < 13; ++i)
        many += "1.1.1.9,1.1.1.1\r\n";
    boxes.clear();
    EXPECT_FALSE(table.LoadFromBytes(many, &mainWindow));
    EXPECT_EQ(table.RangeCount(), 0);
    EXPECT_EQ(table.RefusedLines(), 13);
    EXPECT_EQ(Walk(table), "end");
    ASSERT_EQ(boxes.count(), 1u);
    const std::string text = boxes.boxes()[0].text;
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
        MessageBoxRecorder boxes;
        int mainWindow = 0;
        AddressRangeTable table;
        bool complete = table.LoadFromBytes(ManyRanges(count) + "7.7.7.7\r\n", &mainWindow);
        int kept = std::min(count, AddressRangeTable::kMaxRanges);
        EXPECT_EQ(complete, count <= AddressRangeTable::kMaxRanges);
        EXPECT_EQ(table.RangeCount(), kept);
        EXPECT_EQ(table.DroppedRanges(), count - kept);
        std::string walk;
        for (int i = 1; i <= kept; ++i)
            walk += "10.0." + std::to_string(i) + ".1 ";
        EXPECT_EQ(Walk(table), walk + "end");
        if (count <= AddressRangeTable::kMaxRanges)
            EXPECT_EQ(boxes.count(), 0u);
        else
            ExpectBox(boxes,
                      "IPアドレスの範囲が多すぎます。先頭から125組だけを調べ、残りの" +
                          std::to_string(count - kept) + "組は調べません。",
                      "注意", MB_OK | MB_ICONEXCLAMATION, &mainWindow);
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
