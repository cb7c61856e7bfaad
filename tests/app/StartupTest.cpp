// The program started as a user starts it: a copy of vopal in a directory of
// its own outside the build tree, which makes it an installed copy (its log
// goes to the data directory, never beside it), on the offscreen platform,
// with its boxes on standard error, the settings store, the data directory and
// the instance lock in the test's directories.

#include "platform/os/ProgramDirectory.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        program = dir.file("vopal");
        std::ifstream in(KD_VOPAL_PATH, std::ios::binary);
        std::ofstream out(program, std::ios::binary);
        out << in.rdbuf();
        out.close();
        ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
        ::mkdir(dir.file("run").c_str(), 0700);
    }

    // Starts the copy, optionally under `unshare -n` (a network without any
    // address but the loopback's, which stays down).
    pid_t Start(bool withoutNetwork = false) {
        const std::string errors = dir.file("stderr" + std::to_string(m_started++));
        pid_t pid = ::fork();
        if (pid == 0) {
            int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, STDERR_FILENO);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("VOPAL_BOXES_ON_STDERR", "1", 1);
            ::setenv("XDG_RUNTIME_DIR", dir.file("run").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
            ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
            if (withoutNetwork)
                ::execlp("unshare", "unshare", "-n", program.c_str(), nullptr);
            else
                ::execl(program.c_str(), program.c_str(), nullptr);
            ::_exit(127);
        }
        m_running.push_back(pid);
        return pid;
    }

    // A copy that a failed assertion left running would hold the test's
    // output open and the instance lock.
    void TearDown() override {
        for (pid_t pid : m_running) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // The exit code, or -1 when the process did not end within the time.
    int WaitExit(pid_t pid, std::chrono::seconds limit = 30s) {
        std::erase(m_running, pid);
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(20ms);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }

    // Waits until the program has shown its window (it holds the lock and has
    // written its settings line by then, as far as a reader can tell: the
    // lock file exists and the process still runs), then a little more.
    void WaitUntilRunning(pid_t pid) {
        for (int i = 0; i < 500 && !TempDir::Exists(dir.file("run/TARNEL")); ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(1500ms);
        ASSERT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the program ended early";
    }

    std::string DataFile(const std::string& name) const {
        return dir.file("data/kestrune-durvane/" + name);
    }
    std::string Log() const { return TempDir::ReadFile(DataFile("vopal.log")); }
    std::string Store() const { return dir.file("config/BRELLOW/registry.reg"); }

    TempDir dir;
    std::string program;

private:
    int m_started = 0;
    std::vector<pid_t> m_running;
};

TEST_F(StartupTest, ANormalRunLogsItsStartAndSavesTheSettingsWhenItEnds) {
    pid_t first = Start();
    WaitUntilRunning(first);
    // A second copy ends at once, shows nothing and touches nothing.
    struct stat before {};
    ASSERT_EQ(::stat(DataFile("vopal.log").c_str(), &before), 0);
    pid_t second = Start();
    EXPECT_EQ(WaitExit(second, 20s), 0);
    EXPECT_EQ(TempDir::ReadFile(dir.file("stderr1")), "");
    struct stat after {};
    ASSERT_EQ(::stat(DataFile("vopal.log").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_FALSE(TempDir::Exists(Store()));

    // The end of the session closes the window the normal way.
    ASSERT_EQ(::kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitExit(first), 0);
    const std::regex order("\\*+ Kestrune 030128 ログファイル \\*+\n"
                           "(\\d+番のスロットが応答しました。\n)*"
                           "(複数のネットワークインターフェース.*\n|ネットワークインターフェース.*\n)?"
                           "OS Version: \\d+\\.\\d+\n"
                           "PING TIMEOUT:7000\n"
                           "ディレクトリ： .*/\n");
    EXPECT_TRUE(std::regex_match(Log(), order)) << Log();
    const std::string shown = "ディレクトリ： " + LowerCaseAscii(DataFile("")) + "\n";
    EXPECT_TRUE(Log().ends_with(shown)) << Log();
    const std::string store = TempDir::ReadFile(Store());
    for (const char* value : {"\"PingTimeout\"=dword:00001b58", "\"MaxThread\"=dword:0000000a"})
        EXPECT_NE(store.find(value), std::string::npos) << value << "\n" << store;
    // Nothing beside the copy: its list file, too, is in the data directory.
    EXPECT_FALSE(TempDir::Exists(dir.file("vopal.log")));
    EXPECT_NE(store.find("\"IpListFileName\"=\"" + DataFile("iplist.lst") + "\""),
              std::string::npos)
        << store;
}

TEST_F(StartupTest, WithoutAnAddressOfItsOwnItEndsWithCodeOneAfterTheShutdownSteps) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a network namespace of its own needs root";
    pid_t pid = Start(true);
    EXPECT_EQ(WaitExit(pid), 1);
    const std::string log = Log();
    EXPECT_EQ(log, std::string("********** Kestrune 030128 ログファイル **********\n"
                               "ネットワークインターフェース(LANカード等)が見つかりませんでした。\n") +
                       log.substr(log.find("OS Version")));
    const std::regex tail("OS Version: \\d+\\.\\d+\n"
                          "このコンピュータのIPアドレスを取得できません。\n"
                          "PING TIMEOUT:7000\n");
    EXPECT_TRUE(std::regex_match(log.substr(log.find("OS Version")), tail)) << log;
    // The code comes back through main, after the shutdown steps: the
    // settings that were loaded are written back.
    EXPECT_NE(TempDir::ReadFile(Store()).find("\"PingTimeout\"=dword:00001b58"), std::string::npos);
    const std::string boxes = TempDir::ReadFile(dir.file("stderr0"));
    EXPECT_NE(boxes.find("[エラー] このコンピュータのIPアドレスを取得できませんでした。"),
              std::string::npos)
        << boxes;
}

// A store that cannot be written is told when the program ends: a box for
// each of the seven values, none for the later ones.
TEST_F(StartupTest, SettingsThatCannotBeSavedAreToldInABoxEachAtTheEnd) {
    ASSERT_EQ(::mkdir(dir.file("config").c_str(), 0700), 0);
    TempDir::WriteFile(dir.file("config/BRELLOW"), "x"); // no store can be made inside a file
    pid_t pid = Start();
    WaitUntilRunning(pid);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0);
    std::string expected;
    for (int i = 0; i < 7; ++i)
        expected += "[注意 A01] ﾚｼﾞｽﾄﾘにｱｸｾｽできませんでした。\n";
    // After whatever the window platform said.
    const std::string errors = TempDir::ReadFile(dir.file("stderr0"));
    EXPECT_TRUE(errors.ends_with(expected) &&
                errors.find("[注意") == errors.size() - expected.size())
        << errors;
    EXPECT_EQ(TempDir::ReadFile(dir.file("config/BRELLOW")), "x");
}

} // namespace
