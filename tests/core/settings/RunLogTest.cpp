#include "core/settings/RunLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

class RunLogTest : public ::testing::Test {
protected:
    void TearDown() override { RunLog::Close(); }
    TempDir dir;
};

TEST_F(RunLogTest, HeaderThenEntriesEachOnItsOwnLine) {
    ASSERT_TRUE(RunLog::Open(dir.path()));
    RunLog::Write("PING TIMEOUT:%d\n", 7000);
    RunLog::Write("ディレクトリ： %s\n", "/opt/kd/");
    RunLog::Write("スレッド数：%d\n", 10);
    RunLog::Close();
    EXPECT_EQ(TempDir::ReadFile(dir.file("vopal.log")),
              "********** Kestrune 030128 ログファイル **********\n"
              "PING TIMEOUT:7000\n"
              "ディレクトリ： /opt/kd/\n"
              "スレッド数：10\n");
}

TEST_F(RunLogTest, SecondRunReplacesTheFirstCompletely) {
    TempDir::WriteFile(dir.file("vopal.log"), std::string(5000, 'x'));
    ASSERT_TRUE(RunLog::Open(dir.path()));
    RunLog::Close();
    EXPECT_EQ(TempDir::ReadFile(dir.file("vopal.log")), RunLog::kHeader);
}

TEST_F(RunLogTest, PathHasOneSeparatorWhateverTheDirectoryEndsWith) {
    EXPECT_EQ(RunLog::PathFor("/opt/kd/"), "/opt/kd/vopal.log");
    EXPECT_EQ(RunLog::PathFor("/opt/kd"), "/opt/kd/vopal.log");
    EXPECT_EQ(RunLog::PathFor("/opt/kd//"), "/opt/kd/vopal.log");
}


TEST_F(RunLogTest, MissingDirectoryMeansNoLogAndSilentWrites) {
    EXPECT_FALSE(RunLog::Open(dir.file("no/such/dir/")));
    EXPECT_FALSE(RunLog::IsOpen());
    RunLog::Write("PING TIMEOUT:%d\n", 1); // must not crash
    EXPECT_FALSE(TempDir::Exists(dir.file("no/such/dir/vopal.log")));
    // No program directory text: no log, and certainly none at the root.
    const bool atRoot = TempDir::Exists("/vopal.log");
    EXPECT_FALSE(RunLog::Open(""));
    EXPECT_FALSE(RunLog::IsOpen());
    EXPECT_EQ(TempDir::Exists("/vopal.log"), atRoot);
}

TEST_F(RunLogTest, WritesAfterCloseAreDropped) {
    ASSERT_TRUE(RunLog::Open(dir.path()));
    RunLog::Close();
    RunLog::Write("チェック済みIP数：%d\n", 5);
    EXPECT_EQ(TempDir::ReadFile(dir.file("vopal.log")), RunLog::kHeader);
}

TEST_F(RunLogTest, ConcurrentWritersNeverMixWithinALineAndCloseStopsThem) {
    ASSERT_TRUE(RunLog::Open(dir.path()));
    const std::string line(300, 'a');
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&line, t] {
            for (int i = 0; i < 500; ++i)
                RunLog::Write("%d:%s\n", t, line.c_str());
        });
    std::thread closer([] { RunLog::Close(); });
    for (auto& w : writers)
        w.join();
    closer.join();

    std::string text = TempDir::ReadFile(dir.file("vopal.log"));
    ASSERT_EQ(text.rfind(RunLog::kHeader, 0), 0u);
    size_t pos = std::string(RunLog::kHeader).size();
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        ASSERT_NE(end, std::string::npos) << "last entry cut short";
        std::string entry = text.substr(pos, end - pos);
        ASSERT_EQ(entry.size(), 2 + line.size()) << entry.substr(0, 40);
        EXPECT_EQ(entry.substr(2), line);
        pos = end + 1;
    }
}

} // namespace
