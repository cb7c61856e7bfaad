#include "platform/os/ProgramDirectory.h"

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace {

TEST(ProgramDirectoryTest, OnlyAWritableCopyInsideItsBuildTreeKeepsItsFilesBesideItself) {
    struct Case {
        const char* executable;
        const char* build;
        bool writable;
        ProgramFilesPlace place;
    };
    const auto beside = ProgramFilesPlace::BesideExecutable;
    const auto data = ProgramFilesPlace::UserData;
    const Case cases[] = {
        {"/work/kd/build/", "/work/kd/build", true, beside},
        {"/work/kd/build/", "/work/kd/build/", true, beside},
        {"/work/kd/build", "/work/kd/build", true, beside},
        {"/work/kd/build/tools/", "/work/kd/build", true, beside},
        // Root can write /usr/bin: an installed copy all the same.
        {"/usr/bin/", "/work/kd/build", true, data},
        {"/usr/local/bin/", "/work/kd/build", true, data},
        // A read-only build tree, as before.
        {"/work/kd/build/", "/work/kd/build", false, data},
        // Neighbours and parents of the build directory are not inside it.
        {"/work/kd/build2/", "/work/kd/build", true, data},
        {"/work/kd/buil/", "/work/kd/build", true, data},
        {"/work/kd/", "/work/kd/build", true, data},
        // The build directory is gone (or was never known).
        {"/work/kd/build/", "", true, data},
        {"", "/work/kd/build", true, data},
        {"build/", "build", true, data},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseProgramFilesPlace(c.executable, c.build, c.writable), c.place)
            << "'" << c.executable << "' in '" << c.build << "', writable " << c.writable;
    EXPECT_TRUE(IsWithinDirectory("/anything/at/all", "/"));
}

TEST(ProgramDirectoryTest, TheDataDirectoryFollowsAnAbsoluteXdgDataHomeElseTheHome) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/srv/data", "/home/u", "/srv/data/kestrune-durvane/"},
        {"/srv/data/", "/home/u", "/srv/data/kestrune-durvane/"},
        {"/srv/data", "", "/srv/data/kestrune-durvane/"},
        // Relative or empty values are not used, as the XDG rules say.
        {"relative/data", "/home/u", "/home/u/.local/share/kestrune-durvane/"},
        {"", "/home/u", "/home/u/.local/share/kestrune-durvane/"},
        {nullptr, "/home/u", "/home/u/.local/share/kestrune-durvane/"},
        {nullptr, "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UserDataDirectoryPath(c.xdg, c.home), c.expected)
            << (c.xdg ? c.xdg : "(unset)") << ", home '" << c.home << "'";
}

TEST(ProgramDirectoryTest, TheDataDirectoryIsMadeForTheUserAloneOrTheFailureIsTold) {
    TempDir dir;
    {
        ScopedEnv xdg("XDG_DATA_HOME", dir.file("new/share"));
        const std::string made = UserDataDirectory();
        EXPECT_EQ(made, dir.file("new/share/kestrune-durvane/"));
        struct stat info {};
        ASSERT_EQ(::stat(made.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    // A plain file where a directory should be: no directory, even for root.
    TempDir::WriteFile(dir.file("file"), "x");
    ScopedEnv xdg("XDG_DATA_HOME", dir.file("file/share"));
    EXPECT_EQ(UserDataDirectory(), "");
}

// This test program runs from the build tree, so its files would go beside it,
// through the build directory compiled into the library.
TEST(ProgramDirectoryTest, ACopyRunFromTheBuildTreeKeepsItsFilesBesideItself) {
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", dir.file("share"));
    ProgramDirectoryInfo info;
    ASSERT_EQ(FindProgramDirectory(info), ProgramDirectoryResult::Found);
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(info.path, self.parent_path().string() + "/");
    EXPECT_EQ(info.display, LowerCaseAscii(info.path));
    EXPECT_FALSE(TempDir::Exists(dir.file("share")));
}

} // namespace
