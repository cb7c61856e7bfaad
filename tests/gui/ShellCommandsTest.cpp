// The commands that hand work to other programs, reached through the view:
// the Net command's script and terminal, its refusals, help and home page.

#include "gui/view/ShellCommands.h"
#include "platform/win32/ShellOpen.h"
#include "core/res/Resource.h"
#include "core/res/StringTable.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/MachineProbes.h"
#include "tests/support/MessageBoxRecorder.h"
#include "gui/view/CTarnelView.h"
#include "core/commands/NameTableBatch.h"
#include "core/commands/ProgramFiles.h"

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

class ShellCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The only terminal on the path: a stand-in never run.
        TempDir::WriteFile(bin.file("xterm"), "#!/bin/sh\n");
        ::chmod(bin.file("xterm").c_str(), 0755);
        view.SetProgramStarter([this](const QString& program, const QStringList& args) {
            started.push_back({program.toStdString()});
            for (const QString& a : args)
                started.back().push_back(a.toStdString());
            return true;
        });
        view.SetDesktopOpener([this](const std::string& target) {
            opened.push_back(target);
            return true;
        });
        for (const char* address : {"10.0.0.5", "a row of an earlier scan", "192.168.1.10"})
            view.InsertItem(view.GetItemCount(), address);
    }

    gui::SettingsSandbox sandbox;
    MachineProbes machine;
    TempDir bin;
    ScopedEnv path{"PATH", bin.path()};
    MessageBoxRecorder boxes;
    CTarnelView view{sandbox.settings, machine.probes};
    std::vector<Strings> started;
    Strings opened;
};

TEST_F(ShellCommandsTest, TheNetCommandWritesTheScriptForTheRightClickedRowAndRunsItInATerminal) {
    const std::string batch = sandbox.dir.file(kNameTableBatchName);
    const Strings terminal{bin.file("xterm"), "-fa", "Monospace", "-fs", "11", "-e", "sh", batch};
    for (int row : {2, 0}) {
        view.m_nContextRow = row;
        EXPECT_TRUE(view.OnCommand(ID_NET_COMMAND));
    }
    EXPECT_EQ(started, (std::vector<Strings>{terminal, terminal}));
    EXPECT_EQ(boxes.count(), 0u);
    // Only the second address is left in the file.
    const std::string script = TempDir::ReadFile(batch);
    EXPECT_EQ(script.substr(0, script.find('\n')),
              ShellQuote(NbtstatPath(ExecutableDirectory())) + " -A 10.0.0.5");
}

TEST_F(ShellCommandsTest, NoRowACellThatIsNoAddressOrAFileThatCannotBeWrittenRunsNothing) {
    const std::string dir = sandbox.dir.path();
    for (auto [row, directory, message] :
         {std::tuple{-1, dir, ""},
          {3, dir, ""},
          {1, dir, "IPアドレスが正しくないため、batファイルを作成しませんでした。"},
          {0, dir + "missing/", "batファイルの作成に失敗"},
          {0, std::string(), "batファイルの作成に失敗"}}) {
        boxes.clear();
        sandbox.settings.ProgramDirectoryPath = directory;
        view.m_nContextRow = row;
        EXPECT_TRUE(view.OnCommand(ID_NET_COMMAND));
        EXPECT_TRUE(started.empty());
        EXPECT_FALSE(TempDir::Exists(sandbox.dir.file(kNameTableBatchName)));
        ASSERT_EQ(boxes.count(), *message ? 1u : 0u) << row;
        for (const MessageBoxRequest& b : boxes.boxes())
            EXPECT_EQ(std::tuple(b.text, b.caption, b.icon(), b.owner),
                      std::tuple(message, "注意", MB_ICONEXCLAMATION, nullptr));
    }
}

TEST_F(ShellCommandsTest, HelpOpensOurHelpFileAndTheHomePageItsAddress) {
    // The build puts the help file beside this test program.
    const std::string help = ExecutableDirectory() + kHelpFileName;
    ASSERT_TRUE(TempDir::Exists(help));
    EXPECT_TRUE(view.OnCommand(ID_HELP_TOPICS));
    EXPECT_TRUE(view.OnCommand(ID_HOME_PAGE));
    EXPECT_EQ(opened, (Strings{help, kHomePageAddress}));
    EXPECT_TRUE(started.empty());
}

} // namespace
