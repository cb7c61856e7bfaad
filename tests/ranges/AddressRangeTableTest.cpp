#include "ranges/AddressRangeTable.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFFu;

// The walk as address texts, up to and including the end value, at most
// `limit` calls; then `extra` more calls that must all give the end value.
std::vector<std::string> Walk(AddressRangeTable& table, int limit = 1000, int extra = 3) {
    std::vector<std::string> out;
    for (int i = 0; i < limit; ++i) {
        std::uint32_t address = table.NextAddress();
        if (address == kEnd) {
            out.push_back("end");
            for (int j = 0; j < extra; ++j)
                EXPECT_EQ(table.NextAddress(), kEnd) << "call " << j << " after the end";
            break;
        }
        out.push_back(AddressToText(address));
    }
    return out;
}

using Texts = std::vector<std::string>;

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
    EXPECT_EQ(AddressToText(0x0A000001u), "10.0.0.1");
    EXPECT_EQ(AddressToText(kEnd), "255.255.255.255");
    EXPECT_EQ(AddressToText(0), "0.0.0.0");
    EXPECT_EQ(AddressToText(0x80FF0080u), "128.255.0.128");
}

TEST(AddressRangeTableTest, WalksEveryRangeFromStartToEndInFileOrder) {
    struct Case {
        const char* name;
        std::string bytes;
        Texts walk;
    } cases[] = {
        {"three addresses", "10.0.0.1,10.0.0.3\r\n", {"10.0.0.1", "10.0.0.2", "10.0.0.3", "end"}},
        {"start equal to end", "10.0.0.7,10.0.0.7\r\n", {"10.0.0.7", "end"}},
        {"ranges in file order, not sorted",
         "10.0.0.9,10.0.0.10\r\n10.0.0.1,10.0.0.1\r\n",
         {"10.0.0.9", "10.0.0.10", "10.0.0.1", "end"}},
        {"a range entered twice is walked twice",
         "1.1.1.1,1.1.1.1\r\n1.1.1.1,1.1.1.1\r\n",
         {"1.1.1.1", "1.1.1.1", "end"}},
        {"across an octet",
         "10.0.0.254,10.0.1.1\r\n",
         {"10.0.0.254", "10.0.0.255", "10.0.1.0", "10.0.1.1", "end"}},
        {"reaching 255.255.255.255 ends the walk",
         "255.255.255.253,255.255.255.255\r\n1.1.1.1,1.1.1.1\r\n",
         {"255.255.255.253", "255.255.255.254", "end"}},
        {"end below start runs up to 255.255.255.255",
         "255.255.255.250,1.0.0.0\r\n",
         {"255.255.255.250", "255.255.255.251", "255.255.255.252", "255.255.255.253",
          "255.255.255.254", "end"}},
        {"a start the reader rejects ends the walk at once", "junk,1.1.1.1\r\n", {"end"}},
        {"a start of 0 ends the table",
         "1.0.0.1,1.0.0.2\r\n0.0.0.0,1.0.0.9\r\n2.0.0.1,2.0.0.1\r\n",
         {"1.0.0.1", "1.0.0.2", "end"}},
        {"a first start of 0 ends it before any address",
         "0,1.0.0.9\r\n2.0.0.1,2.0.0.1\r\n",
         {"end"}},
        {"empty file", "", {"end"}},
        {"two LF lines are one range",
         "1.1.1.1\n1.1.1.3\n",
         {"1.1.1.1", "1.1.1.2", "1.1.1.3", "end"}},
        {"a line with only a start is overwritten by the next",
         "1.1.1.1\r\n2.2.2.1,2.2.2.2\r\n",
         {"2.2.2.1", "2.2.2.2", "end"}},
        {"a last line with only a start is no range",
         "2.2.2.1,2.2.2.2\r\n9.9.9.9\r\n",
         {"2.2.2.1", "2.2.2.2", "end"}},
        {"a last line without line end is no range",
         "2.2.2.1,2.2.2.1\r\n9.9.9.9,9.9.9.10",
         {"2.2.2.1", "end"}},
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

TEST(AddressRangeTableTest, AnEmptyEndWalksUpToTheEndOfTheAddressSpace) {
    // What the dialog saves for a row without end text: the end converts to
    // 255.255.255.255, so the walk runs until that address ends it.
    AddressRangeTable table;
    ASSERT_TRUE(table.LoadFromBytes("255.255.255.254,\r\n"));
    EXPECT_EQ(Walk(table), (Texts{"255.255.255.254", "end"}));
}

TEST(AddressRangeTableTest, ReadsTheFileAndMissingFileGivesAnEmptyTable) {
    TempDir dir;
    MessageBoxRecorder boxes;
    TempDir::WriteFile(dir.file("iplist.lst"), "10.0.0.1,10.0.0.2\r\n");
    AddressRangeTable table;
    EXPECT_TRUE(table.LoadFromFile(dir.file("iplist.lst")));
    EXPECT_EQ(Walk(table), (Texts{"10.0.0.1", "10.0.0.2", "end"}));

    AddressRangeTable missing;
    EXPECT_FALSE(missing.LoadFromFile(dir.file("none.lst")));
    EXPECT_EQ(Walk(missing), Texts{"end"});
    AddressRangeTable directory;
    EXPECT_FALSE(directory.LoadFromFile(dir.path()));
    EXPECT_EQ(Walk(directory), Texts{"end"});
    EXPECT_EQ(boxes.count(), 0u);
}

TEST(AddressRangeTableTest, TooLongFieldIsAnErrorOwnedByTheGivenWindowAndKeepsEarlierRanges) {
    TempDir dir;
    MessageBoxRecorder boxes;
    int mainWindow = 0;
    TempDir::WriteFile(dir.file("iplist.lst"), "10.0.0.1,10.0.0.2\r\n10.0.0.5," +
                                                   std::string(258, '9') +
                                                   "\r\n3.3.3.3,3.3.3.3\r\n");
    AddressRangeTable table;
    EXPECT_FALSE(table.LoadFromFile(dir.file("iplist.lst"), &mainWindow));
    ASSERT_EQ(boxes.count(), 1u);
    MessageBoxRequest box = boxes.boxes()[0];
    EXPECT_EQ(box.text, "ファイルが異常です。");
    EXPECT_EQ(box.caption, "エラー1A");
    EXPECT_EQ(box.type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(box.owner, &mainWindow);
    // The start of the broken line is not walked.
    EXPECT_EQ(Walk(table), (Texts{"10.0.0.1", "10.0.0.2", "end"}));
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
        Texts walk = Walk(table, 1000);
        ASSERT_EQ(walk.size(), static_cast<std::size_t>(kept) + 1);
        EXPECT_EQ(walk[kept - 1], "10.0." + std::to_string(kept) + ".1");
        EXPECT_EQ(walk.back(), "end");
        if (count <= AddressRangeTable::kMaxRanges) {
            EXPECT_EQ(boxes.count(), 0u);
            continue;
        }
        ASSERT_EQ(boxes.count(), 1u);
        MessageBoxRequest box = boxes.boxes()[0];
        EXPECT_EQ(box.text, "IPアドレスの範囲が多すぎます。先頭から125組だけを調べ、残りの" +
                                std::to_string(count - kept) + "組は調べません。");
        EXPECT_EQ(box.caption, "注意");
        EXPECT_EQ(box.type, MB_OK | MB_ICONEXCLAMATION);
        EXPECT_EQ(box.owner, &mainWindow);
    }
}

TEST(AddressRangeTableTest, AppendStopsWhenTheTableIsFullAndReloadStartsAfresh) {
    AddressRangeTable table;
    for (int i = 0; i < AddressRangeTable::kMaxRanges; ++i)
        ASSERT_TRUE(table.Append({0x0A000001u + static_cast<std::uint32_t>(i),
                                  0x0A000001u + static_cast<std::uint32_t>(i)}));
    EXPECT_FALSE(table.Append({0x0B000001u, 0x0B000001u}));
    Texts walk = Walk(table);
    ASSERT_EQ(walk.size(), 126u);
    EXPECT_EQ(walk[124], "10.0.0.125");

    ASSERT_TRUE(table.LoadFromBytes("1.1.1.1,1.1.1.1\r\n"));
    EXPECT_EQ(Walk(table), (Texts{"1.1.1.1", "end"}));
}

} // namespace
