// The commands that hand work to other programs, reached through the view:
// the Net command's script and terminal, its refusals, help and home page.

#include "view/ShellCommands.h"
#include "platform/ShellOpen.h"
#include "res/Resource.h"
#include "res/StringTable.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ScopedEnv.h"
#include "view/CTarnelView.h"
#include "view/NameTableBatch.h"
#include "view/ProgramFiles.h"

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

struct Started {
    std::string program;
    std::vector<std::string> arguments;
    bool operator==(const Started&) const = default;
};

class ShellCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The only terminal on the path is a stand-in that is never run.
        std::filesystem::create_directory(bin.path() + "bin");
        TempDir::WriteFile(bin.file("bin/xterm"), "#!/bin/sh\nexit 0\n");
        ::chmod(bin.file("bin/xterm").c_str(), 0755);
        m_previousStarter =
            SetDetachedStarter([this](const QString& program, const QStringList& args) {
                Started s{program.toStdString(), {}};
                for (const QString& a : args)
                    s.arguments.push_back(a.toStdString());
                started.push_back(s);
                return true;
            });
        m_previousOpener = SetShellOpenHandler([this](const std::string& target) {
            opened.push_back(target);
            return true;
        });
        view.InsertItem(0, "10.0.0.5");
        view.InsertItem(1, "a row of an earlier scan");
        view.InsertItem(2, "192.168.1.10");
    }
    void TearDown() override {
        SetDetachedStarter(m_previousStarter);
        SetShellOpenHandler(m_previousOpener);
    }

    std::string Batch() const { return sandbox.dir.file(kNameTableBatchName); }

    gui::SettingsSandbox sandbox;
    TempDir bin;
    ScopedEnv path{"PATH", bin.path() + "bin"};
    MessageBoxRecorder boxes;
    CTarnelView view;
    std::vector<Started> started;
    std::vector<std::string> opened;

private:
    DetachedStarter m_previousStarter;
    ShellOpenHandler m_previousOpener;
};

TEST_F(ShellCommandsTest, TheNetCommandWritesTheScriptForTheRightClickedRowAndRunsItInATerminal) {
    const Started terminal{bin.file("bin/xterm"),
                           {"-fa", "Monospace", "-fs", "11", "-e", "sh", Batch()}};
    const std::string nbtstat = ShellQuote(NbtstatPath(ExecutableDirectory()));
    for (int row : {2, 0}) {
        view.m_nContextRow = row;
        EXPECT_TRUE(view.OnCommand(ID_NET_COMMAND));
    }
    EXPECT_EQ(started, (std::vector<Started>{terminal, terminal}));
    EXPECT_EQ(boxes.count(), 0u);
    // Only the second address is left in the file.
    const std::string script = TempDir::ReadFile(Batch());
    EXPECT_EQ(script.substr(0, script.find('\n') + 1), nbtstat + " -A 10.0.0.5\n");
    EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 1);
}

TEST_F(ShellCommandsTest, NoRowACellThatIsNoAddressOrAFileThatCannotBeWrittenRunsNothing) {
    struct Case {
        int row;
        std::string directory;
        const char* message; // null: nothing shown
    } cases[] = {
        {-1, sandbox.dir.path(), nullptr},
        {3, sandbox.dir.path(), nullptr},
        {1, sandbox.dir.path(), "IPアドレスが正しくないため、batファイルを作成しませんでした。"},
        {0, sandbox.dir.file("missing/"), "batファイルの作成に失敗"},
        {0, "", "batファイルの作成に失敗"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        boxes.clear();
        ScanSettings.ProgramDirectoryPath = c.directory;
        view.m_nContextRow = c.row;
        EXPECT_TRUE(view.OnCommand(ID_NET_COMMAND));
        EXPECT_TRUE(started.empty());
        EXPECT_FALSE(TempDir::Exists(Batch()));
        ASSERT_EQ(boxes.count(), c.message ? 1u : 0u);
        if (c.message) {
            const MessageBoxRequest box = boxes.boxes()[0];
            EXPECT_EQ(box.text, c.message);
            EXPECT_EQ(box.caption, "注意");
            EXPECT_EQ(box.icon(), MB_ICONEXCLAMATION);
            EXPECT_EQ(box.owner, nullptr);
        }
    }
}

TEST_F(ShellCommandsTest, HelpOpensOurHelpFileAndTheHomePageItsAddress) {
    // The build puts the help file beside this test program, as beside vopal.
    const std::string help = ExecutableDirectory() + kHelpFileName;
    ASSERT_TRUE(TempDir::Exists(help));
    EXPECT_TRUE(view.OnCommand(ID_HELP_TOPICS));
    EXPECT_TRUE(view.OnCommand(ID_HOME_PAGE));
    EXPECT_EQ(opened, (std::vector<std::string>{help, kHomePageAddress}));
    EXPECT_TRUE(started.empty());
}

} // namespace
