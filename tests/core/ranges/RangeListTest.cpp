#include "core/ranges/RangeList.h"
#include "core/settings/RunLog.h"
#include "core/ranges/MemoryRangeListRows.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/MessagePrinters.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

const char* const kWriteFailed =
    "ファイルの書き込みに失敗しました。[IPリストファイルの変更]ボタンをクリックし、IPのリストを保"
    "存するファイルのファイル名を指定してください。またこのファイルが書き込み可能であることを確認"
    "してください。";

MemoryRangeListRows Make(const Rows& rows) {
    MemoryRangeListRows list;
    for (const auto& [start, end] : rows)
        list.AddRow(start, end);
    return list;
}

// The one message told: `text` as a warning.
void ExpectWarning(const std::vector<UserMessage>& told, const std::string& text) {
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], (UserMessage{text, "注意", MB_OK | MB_ICONEXCLAMATION}));
}

class RangeListTest : public ::testing::Test {
protected:
    void TearDown() override { RunLog::Close(); }

    // The file functions, their messages kept in `told` as the window
    // would show them; a message comes exactly with a failure.
    bool Told(const Outcome& outcome) {
        EXPECT_EQ(outcome.ok, !outcome.message.has_value());
        if (outcome.message)
            told.push_back(*outcome.message);
        return outcome.ok;
    }
    bool Save(const RangeListRows& rows, const std::string& path) {
        return Told(SaveRangeList(rows, path));
    }
    bool Load(RangeListRows& rows, const std::string& path) {
        return Told(LoadRangeList(rows, path));
    }
    bool LoadBytes(RangeListRows& rows, std::string_view bytes) {
        return Told(LoadRangeListBytes(rows, bytes));
    }

    TempDir dir;
    std::vector<UserMessage> told;
};

TEST_F(RangeListTest, LoadFillsRowsAsTheLinesOfTheFileSay) {
    struct Case {
        const char* name;
        std::string bytes;
        Rows rows;
    } cases[] = {
        {"two saved lines",
         "192.168.0.1,192.168.0.254\r\n10.0.0.1,10.0.0.99\r\n",
         {{"192.168.0.1", "192.168.0.254"}, {"10.0.0.1", "10.0.0.99"}}},
        {"line ended by a lone LF", "1.1.1.1,1.1.1.5\n", {{"1.1.1.1", "1.1.1.5"}}},
        {"two LF lines are one range", "1.1.1.1\n1.1.1.5\n", {{"1.1.1.1", "1.1.1.5"}}},
        {"a start alone is a row without end",
         "1.1.1.1\r\n2.2.2.1,2.2.2.9\r\n",
         {{"1.1.1.1", ""}, {"2.2.2.1", "2.2.2.9"}}},
        {"texts are not checked", "abc,\r\n 10.1 ,x\r\n", {{"abc", ""}, {" 10.1 ", "x"}}},
        {"last line without line end keeps its start",
         "1.1.1.1,1.1.1.2\r\n3.3.3.3,3.3.3.4",
         {{"1.1.1.1", "1.1.1.2"}, {"3.3.3.3", ""}}},
        {"CP932 bytes become UTF-8",
         "\x82\xa0\x82\xa2,\x83\x65\x83\x58\x83\x67\r\n",
         {{"あい", "テスト"}}},
        {"a byte that is not CP932 shows as U+FFFD", "\xff,1\r\n", {{"\xEF\xBF\xBD", "1"}}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir::WriteFile(dir.file("iplist.lst"), c.bytes);
        MemoryRangeListRows rows = Make({{"old", "row"}});
        EXPECT_TRUE(Load(rows, dir.file("iplist.lst")));
        EXPECT_EQ(rows.Rows(), c.rows);

        MemoryRangeListRows fromBytes = Make({{"old", "row"}});
        EXPECT_TRUE(LoadBytes(fromBytes, c.bytes));
        EXPECT_EQ(fromBytes.Rows(), c.rows);
    }
    EXPECT_EQ(told.size(), 0u);
}

TEST_F(RangeListTest, MissingOrUnreadableFileGivesAnEmptyListWithoutMessage) {
    for (const std::string& path : {dir.file("none.lst"), dir.path(), std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        MemoryRangeListRows rows = Make({{"1.1.1.1", "1.1.1.2"}});
        EXPECT_TRUE(Load(rows, path));
        EXPECT_EQ(rows.GetItemCount(), 0);
    }
    EXPECT_EQ(told.size(), 0u);
}

TEST_F(RangeListTest, TooLongFieldIsReportedAndEmptiesTheList) {
    const std::string good = "1.1.1.1,1.1.1.2\r\n";
    TempDir::WriteFile(dir.file("ok.lst"), good + std::string(257, '1') + ",2\r\n");
    TempDir::WriteFile(dir.file("bad.lst"), good + "3," + std::string(258, '1') + "\r\n");

    MemoryRangeListRows rows;
    EXPECT_TRUE(Load(rows, dir.file("ok.lst")));
    EXPECT_EQ(rows.GetItemCount(), 2);
    EXPECT_EQ(rows.GetItemText(1, 0), std::string(257, '1'));
    EXPECT_EQ(told.size(), 0u);

    EXPECT_FALSE(Load(rows, dir.file("bad.lst")));
    EXPECT_EQ(rows.GetItemCount(), 0);
    ExpectWarning(told, "ファイルが異常です。");
}

TEST_F(RangeListTest, SaveWritesOneCrLfLinePerRowAndReadsBackTheSame) {
    // The row without an end text is written as "start,".
    MemoryRangeListRows rows =
        Make({{"1.1.1.1", ""}, {"2.2.2.1", "2.2.2.9"}, {"テスト", "é"}, {"", ""}});
    ASSERT_TRUE(Save(rows, dir.file("iplist.lst")));
    EXPECT_EQ(TempDir::ReadFile(dir.file("iplist.lst")),
              "1.1.1.1,\r\n2.2.2.1,2.2.2.9\r\n\x83\x65\x83\x58\x83\x67,?\r\n,\r\n");

    MemoryRangeListRows back;
    ASSERT_TRUE(Load(back, dir.file("iplist.lst")));
    EXPECT_EQ(back.Rows(),
              (Rows{{"1.1.1.1", ""}, {"2.2.2.1", "2.2.2.9"}, {"テスト", "?"}, {"", ""}}));
    // An empty list leaves an empty file.
    ASSERT_TRUE(Save(MemoryRangeListRows(), dir.file("iplist.lst")));
    EXPECT_EQ(TempDir::ReadFile(dir.file("iplist.lst")), "");
    EXPECT_EQ(told.size(), 0u);
}

TEST_F(RangeListTest, SaveCutsTextsTo255BytesWithoutSplittingACharacter) {
    std::string thirty;
    for (int i = 0; i < 30; ++i)
        thirty += "あ";
    MemoryRangeListRows rows = Make({{std::string(300, '1'), std::string(200, 'a') + thirty},
                                     {std::string(254, 'x') + "あ", std::string(255, 'y')}});
    // 200 bytes and 27 two-byte characters fit; the 28th would make 256.
    std::string kept;
    for (int i = 0; i < 27; ++i)
        kept += "\x82\xa0";
    EXPECT_EQ(FormatRangeListBytes(rows), std::string(255, '1') + "," + std::string(200, 'a') +
                                              kept + "\r\n" + std::string(254, 'x') + "," +
                                              std::string(255, 'y') + "\r\n");
}

TEST_F(RangeListTest, FailedSaveIsReportedToTheUserAndTheLog) {
    ASSERT_TRUE(RunLog::Open(dir.path()));
    TempDir::WriteFile(dir.file("file"), "not a directory");
    MemoryRangeListRows rows = Make({{"1.1.1.1", "1.1.1.2"}});
    for (const std::string& path :
         {dir.file("file/iplist.lst"), dir.path(), dir.file("missing/iplist.lst")}) {
        SCOPED_TRACE(path);
        told.clear();
        EXPECT_FALSE(Save(rows, path));
        ExpectWarning(told, kWriteFailed);
    }
    RunLog::Close();
    std::string line = std::string(kWriteFailed) + "\n";
    EXPECT_EQ(TempDir::ReadFile(dir.file("vopal.log")), RunLog::kHeader + line + line + line);
    EXPECT_EQ(TempDir::ReadFile(dir.file("file")), "not a directory");
}

TEST_F(RangeListTest, SaveKeepsPermissionsLinksAndLeavesNoTemporaryFile) {
    MemoryRangeListRows rows = Make({{"10.0.0.1", "10.0.0.9"}});
    const std::string expected = "10.0.0.1,10.0.0.9\r\n";

    // Mode and owner stay (as root, an owner other than the saver's).
    std::string plain = dir.file("plain.lst");
    TempDir::WriteFile(plain, "old\r\n");
    ASSERT_EQ(chmod(plain.c_str(), 0640), 0);
    ASSERT_TRUE(geteuid() != 0 || chown(plain.c_str(), 65534, 65534) == 0);
    struct stat before, info;
    ASSERT_EQ(stat(plain.c_str(), &before), 0);
    ASSERT_TRUE(Save(rows, plain));
    ASSERT_EQ(stat(plain.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_uid, before.st_uid);
    EXPECT_EQ(info.st_gid, before.st_gid);
    EXPECT_EQ(TempDir::ReadFile(plain), expected);

    // A symbolic link stays a link; the file it names gets the list.
    std::string target = dir.file("target.lst");
    std::string link = dir.file("link.lst");
    TempDir::WriteFile(target, "old\r\n");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(Save(rows, link));
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(TempDir::ReadFile(target), expected);

    // Both names of a file with two links see the new list.
    std::string first = dir.file("first.lst");
    std::string second = dir.file("second.lst");
    TempDir::WriteFile(first, "old\r\n");
    ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
    ASSERT_TRUE(Save(rows, second));
    EXPECT_EQ(TempDir::ReadFile(first), expected);

    // A new file is created.
    ASSERT_TRUE(Save(rows, dir.file("new.lst")));
    EXPECT_EQ(TempDir::ReadFile(dir.file("new.lst")), expected);

    EXPECT_EQ(TempDir::EntryNames(dir.path()),
              (std::vector<std::string>{"first.lst", "link.lst", "new.lst", "plain.lst",
                                        "second.lst", "target.lst"}));
    EXPECT_EQ(told.size(), 0u);
}

// A write that fails half-way must not cost the user the list already saved.
TEST_F(RangeListTest, WriteFailureHalfWayKeepsTheOldList) {
    std::string path = dir.file("iplist.lst");
    const std::string old = "192.168.0.1,192.168.0.254\r\n";
    TempDir::WriteFile(path, old);
    MemoryRangeListRows rows;
    for (int i = 1; i <= 250; ++i)
        rows.AddRow("10.0." + std::to_string(i) + ".1", "10.0." + std::to_string(i) + ".254");
    ASSERT_GT(FormatRangeListBytes(rows).size(), 4096u);

    EXPECT_FALSE([&] {
        FileSizeLimit limit(4096);
        return Save(rows, path);
    }());
    ExpectWarning(told, kWriteFailed);
    EXPECT_EQ(TempDir::ReadFile(path), old);
    EXPECT_EQ(TempDir::EntryNames(dir.path()), std::vector<std::string>{"iplist.lst"});
}

TEST_F(RangeListTest, ReadOnlyListFailsAndAWritableListInAFixedDirectoryIsWrittenInPlace) {
    // "open" lets anyone create files, so only the file's own bits can stop
    // the save; "fixed" lets nobody create the new file beside the list.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string open = dir.file("open/");
    std::string fixed = dir.file("fixed/");
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(fixed.c_str(), 0755), 0);
    std::string readOnly = open + "readonly.lst";
    std::string writable = fixed + "writable.lst";
    TempDir::WriteFile(readOnly, "1.1.1.1,1.1.1.2\r\n");
    TempDir::WriteFile(writable, "1.1.1.1,1.1.1.2\r\n");
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    // Its own, yet read-only.
    ASSERT_TRUE(geteuid() != 0 || chown(readOnly.c_str(), 65534, 65534) == 0);
    ASSERT_EQ(chmod(writable.c_str(), 0666), 0);
    MemoryRangeListRows rows = Make({{"10.0.0.1", "10.0.0.9"}});

    // As nobody, so that permission bits apply even to tests run as root.
    const bool switched = geteuid() == 0 && setegid(65534) == 0 && seteuid(65534) == 0;
    const bool readOnlySaved = Save(rows, readOnly);
    const bool writableSaved = Save(rows, writable);
    ASSERT_TRUE(!switched || (seteuid(0) == 0 && setegid(0) == 0));
    EXPECT_FALSE(readOnlySaved);
    EXPECT_EQ(TempDir::ReadFile(readOnly), "1.1.1.1,1.1.1.2\r\n");
    EXPECT_EQ(TempDir::EntryNames(open), std::vector<std::string>{"readonly.lst"});
    EXPECT_TRUE(writableSaved);
    EXPECT_EQ(TempDir::ReadFile(writable), "10.0.0.1,10.0.0.9\r\n");
    ExpectWarning(told, kWriteFailed);
}

TEST_F(RangeListTest, SortOrdersByStartAddressAndKeepsEqualStartsInOrder) {
    // Compared unsigned, as inet_addr reads them: texts it rejects count as
    // 255.255.255.255, "10.1" as 10.0.0.1. Each row's end names it.
    MemoryRangeListRows rows;
    for (const char* start :
         {"200.0.0.1", "bad", "10.0.0.5", "255.255.255.255", "10.0.0.5", "10.1", "", "10.0.0.5"})
        rows.AddRow(start, std::string(1, static_cast<char>('a' + rows.GetItemCount())));
    SortRangeList(rows);
    std::string ends;
    for (const auto& row : rows.Rows())
        ends += row.second;
    EXPECT_EQ(ends, "fcehabdg");
}

} // namespace
