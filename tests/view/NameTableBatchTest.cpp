// The name-table batch and the files that come with the program: the
// script's exact bytes, which texts are refused, what a failed write leaves,
// and how the terminal, nbtstat and the help file are found.

#include "view/NameTableBatch.h"
#include "tests/support/TempDir.h"
#include "view/ProgramFiles.h"

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

const std::string kWaitLine =
    "printf '続行するには何かキーを押してください . . . '; s=$(stty -g 2>/dev/null); "
    "stty -icanon -echo min 1 2>/dev/null; dd bs=1 count=1 >/dev/null 2>&1; "
    "stty \"$s\" 2>/dev/null; echo";

void MakeExecutable(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    TempDir::WriteFile(path, "#!/bin/sh\n");
    ::chmod(path.c_str(), 0755);
}

TEST(NameTableBatchTest, TheScriptRunsOurNbtstatByItsQuotedPathThenWaitsForAKey) {
    struct Case {
        const char* nbtstat;
        const char* address;
        std::string firstLine;
    } cases[] = {
        {"/usr/bin/nbtstat", "10.0.0.5", "'/usr/bin/nbtstat' -A 10.0.0.5"},
        {"/opt/My Tools/it's/nbtstat", "192.168.1.10",
         "'/opt/My Tools/it'\\''s/nbtstat' -A 192.168.1.10"},
        {"/a/$(reboot)`x`/nbtstat", "255.255.255.255",
         "'/a/$(reboot)`x`/nbtstat' -A 255.255.255.255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nbtstat);
        TempDir dir;
        const std::string path = dir.file(kNameTableBatchName);
        ASSERT_EQ(WriteNameTableBatch(path, c.nbtstat, c.address), NameTableBatchStatus::Written);
        // Two lines, "\n" between them, none after the last.
        EXPECT_EQ(TempDir::ReadFile(path), c.firstLine + "\n" + kWaitLine);
    }
}

TEST(NameTableBatchTest, OnlyAPlainDottedAddressIsWritten) {
    TempDir dir;
    const std::string path = dir.file(kNameTableBatchName);
    TempDir::WriteFile(path, "earlier");
    for (const char* text : {"", "10.0.0", "010.0.0.1", "10.0.0.256", " 10.0.0.1", "10.0.0.1 ",
                             "10.0.0.1\n", "10.0.0.1; reboot", "$(reboot)", "PC01", "10.0.0.1\r"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(WriteNameTableBatch(path, "/usr/bin/nbtstat", text),
                  NameTableBatchStatus::NotAnAddress);
        EXPECT_EQ(TempDir::ReadFile(path), "earlier");
    }
}

TEST(NameTableBatchTest, AFailedWriteKeepsTheEarlierFileAndALaterOneReplacesItWhole) {
    TempDir dir;
    const std::string path = dir.file(kNameTableBatchName);
    EXPECT_EQ(WriteNameTableBatch(dir.file("missing/") + kNameTableBatchName, "/n", "10.0.0.1"),
              NameTableBatchStatus::WriteFailed);
    std::filesystem::create_directory(dir.file("isadir"));
    EXPECT_EQ(WriteNameTableBatch(dir.file("isadir"), "/n", "10.0.0.1"),
              NameTableBatchStatus::WriteFailed);

    ASSERT_EQ(WriteNameTableBatch(path, "/n", "192.168.100.200"), NameTableBatchStatus::Written);
    ASSERT_EQ(WriteNameTableBatch(path, "/n", "10.0.0.5"), NameTableBatchStatus::Written);
    EXPECT_EQ(TempDir::ReadFile(path), "'/n' -A 10.0.0.5\n" + kWaitLine);
}

TEST(NameTableBatchTest, TheTerminalIsTheDesktopsChoiceElseXtermWhichGetsAJapaneseFont) {
    const std::vector<std::string> xtermFont{"-fa", "Monospace", "-fs", "11"};
    struct Case {
        const char* emulator; // what x-terminal-emulator links to; null: none
        bool xterm;           // xterm installed
        std::vector<std::string> options;
        const char* program; // null: no terminal
    } cases[] = {
        {"gnome-terminal.wrapper", true, {}, "x-terminal-emulator"},
        {"lxterm", false, xtermFont, "x-terminal-emulator"},
        {"xterm", true, xtermFont, "x-terminal-emulator"},
        {nullptr, true, xtermFont, "xterm"},
        {nullptr, false, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.emulator ? c.emulator : "(none)");
        TempDir dir;
        std::filesystem::create_directories(dir.file("bin"));
        if (c.emulator) {
            MakeExecutable(dir.file("alternatives/") + c.emulator);
            std::filesystem::create_symlink(dir.file("alternatives/") + c.emulator,
                                            dir.file("bin/x-terminal-emulator"));
        }
        if (c.xterm)
            MakeExecutable(dir.file("bin/xterm"));
        auto find = [&](const std::string& name) {
            return TempDir::Exists(dir.file("bin/") + name) ? dir.file("bin/") + name
                                                            : std::string();
        };
        std::vector<std::string> expected;
        if (c.program) {
            expected.push_back(dir.file("bin/") + c.program);
            expected.insert(expected.end(), c.options.begin(), c.options.end());
            expected.insert(expected.end(), {"-e", "sh", "/d/nbtbat.bat"});
        }
        EXPECT_EQ(TerminalCommandLine("/d/nbtbat.bat", find), expected);
    }
}

TEST(NameTableBatchTest, ProgramsAreFoundOnlyAsExecutablesInAbsolutePathEntries) {
    TempDir dir;
    MakeExecutable(dir.file("b/xterm"));
    TempDir::WriteFile(dir.file("a/xterm"), "not executable");
    const std::string a = dir.file("a"), b = dir.file("b");
    EXPECT_EQ(FindOnPath("xterm", a + ":" + b), dir.file("b/xterm"));
    EXPECT_EQ(FindOnPath("xterm", ":relative:" + a), "");
    EXPECT_EQ(FindOnPath("../b/xterm", a), "");
    EXPECT_EQ(FindOnPath("xterm", ""), "");
}

TEST(NameTableBatchTest, NbtstatAndTheHelpFileAreFoundInTheBuildTreeAndInAnInstall) {
    TempDir build;
    MakeExecutable(build.file("tools/nbtstat"));
    TempDir::WriteFile(build.file(kHelpFileName), "<html>");
    EXPECT_EQ(NbtstatPath(build.path()), build.file("tools/nbtstat"));
    EXPECT_EQ(FindHelpFile(build.path()), build.file(kHelpFileName));

    TempDir prefix;
    std::filesystem::create_directories(prefix.file("bin"));
    std::filesystem::create_directories(prefix.file("share/kestrune-durvane"));
    TempDir::WriteFile(prefix.file("share/kestrune-durvane/") + kHelpFileName, "<html>");
    EXPECT_EQ(NbtstatPath(prefix.file("bin/")), prefix.file("bin/nbtstat"));
    EXPECT_EQ(FindHelpFile(prefix.file("bin/")),
              prefix.file("share/kestrune-durvane/") + kHelpFileName);

    TempDir empty;
    EXPECT_EQ(FindHelpFile(empty.path()), "");
    EXPECT_EQ(FindHelpFile(""), "");
    EXPECT_EQ(ExecutableDirectory().back(), '/');
}

} // namespace
