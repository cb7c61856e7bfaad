// The name-table batch's bytes, refusals and failed writes, and how the
// terminal, nbtstat and the help file are found.

#include "core/commands/NameTableBatch.h"
#include "tests/support/TempDir.h"
#include "core/commands/ProgramFiles.h"

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

TEST(NameTableBatchTest, OnlyAPlainAddressIsWrittenWithNbtstatQuotedAndAFailureKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.file(kNameTableBatchName);
    std::filesystem::create_directory(dir.file("isadir"));
    using S = NameTableBatchStatus;
    struct Case {
        std::string path, nbtstat, address;
        S status;
        std::string firstLine; // of the file afterwards
    } cases[] = {
        {path, "/usr/bin/nbtstat", "192.168.100.200", S::Written,
         "'/usr/bin/nbtstat' -A 192.168.100.200"},
        // Only the last command's address stays; the path is quoted for sh.
        {path, "/opt/My Tools/it's/$(x)`y`/nbtstat", "10.0.0.5", S::Written,
         "'/opt/My Tools/it'\\''s/$(x)`y`/nbtstat' -A 10.0.0.5"},
        {dir.file("missing/nbtbat.bat"), "/n", "10.0.0.1", S::WriteFailed, ""},
        {dir.file("isadir"), "/n", "10.0.0.1", S::WriteFailed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nbtstat);
        EXPECT_EQ(WriteNameTableBatch(c.path, c.nbtstat, c.address), c.status);
        if (c.status == S::Written) // two lines, "\n" between them, none after the last
            EXPECT_EQ(TempDir::ReadFile(path), c.firstLine + "\n" + kWaitLine);
    }
    const std::string kept = TempDir::ReadFile(path);
    for (const char* text : {"", "10.0.0", "010.0.0.1", "10.0.0.256", " 10.0.0.1", "10.0.0.1\n",
                             "10.0.0.1; reboot", "$(reboot)", "PC01", "10.0.0.1\r"}) {
        EXPECT_EQ(WriteNameTableBatch(path, "/n", text), S::NotAnAddress) << text;
        EXPECT_EQ(TempDir::ReadFile(path), kept);
    }
}

TEST(NameTableBatchTest, TheTerminalIsTheDesktopsChoiceElseXtermWhichGetsAJapaneseFont) {
    const std::vector<std::string> xtermFont{"-fa", "Monospace", "-fs", "11"};
    struct Case {
        const char* emulator; // x-terminal-emulator's target; null: none
        bool xterm;           // installed
        std::vector<std::string> options;
        const char* program; // null: no terminal
    } cases[] = {
        {"gnome-terminal.wrapper", true, {}, "x-terminal-emulator"},
        {"lxterm", false, xtermFont, "x-terminal-emulator"},
        {nullptr, true, xtermFont, "xterm"},
        {nullptr, false, {}, nullptr},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::filesystem::create_directories(dir.file("bin"));
        if (c.emulator) {
            MakeExecutable(dir.file("alternatives/") + c.emulator);
            std::filesystem::create_symlink(dir.file("alternatives/") + c.emulator,
                                            dir.file("bin/x-terminal-emulator"));
        }
        if (c.xterm)
            MakeExecutable(dir.file("bin/xterm"));
        std::vector<std::string> expected;
        if (c.program) {
            expected.push_back(dir.file("bin/") + c.program);
            expected.insert(expected.end(), c.options.begin(), c.options.end());
            expected.insert(expected.end(), {"-e", "sh", "/d/nbtbat.bat"});
        }
        auto find = [&](const std::string& name) { return FindOnPath(name, dir.file("bin")); };
        EXPECT_EQ(TerminalCommandLine("/d/nbtbat.bat", find), expected)
            << (c.emulator ? c.emulator : "(none)");
    }
}

TEST(NameTableBatchTest, ProgramsAndTheHelpFileAreFoundInTheBuildTreeAndInAnInstall) {
    TempDir dir;
    MakeExecutable(dir.file("build/tools/nbtstat"));
    TempDir::WriteFile(dir.file("build/") + kHelpFileName, "<html>");
    EXPECT_EQ(NbtstatPath(dir.file("build/")), dir.file("build/tools/nbtstat"));
    EXPECT_EQ(FindHelpFile(dir.file("build/")), dir.file("build/") + kHelpFileName);

    std::filesystem::create_directories(dir.file("usr/bin"));
    std::filesystem::create_directories(dir.file("usr/share/kestrune-durvane"));
    TempDir::WriteFile(dir.file("usr/share/kestrune-durvane/") + kHelpFileName, "<html>");
    EXPECT_EQ(NbtstatPath(dir.file("usr/bin/")), dir.file("usr/bin/nbtstat"));
    EXPECT_EQ(FindHelpFile(dir.file("usr/bin/")),
              dir.file("usr/share/kestrune-durvane/") + kHelpFileName);
    EXPECT_EQ(FindHelpFile(dir.file("usr/")), "");

    // Not executable, a relative entry, a name with a directory: not found.
    TempDir::WriteFile(dir.file("usr/bin/xterm"), "");
    EXPECT_EQ(FindOnPath("nbtstat", ":relative:" + dir.file("usr/bin:") + dir.file("build/tools")),
              dir.file("build/tools/nbtstat"));
    EXPECT_EQ(FindOnPath("xterm", dir.file("usr/bin")), "");
    EXPECT_EQ(FindOnPath("tools/nbtstat", dir.file("build")), "");
}

} // namespace
