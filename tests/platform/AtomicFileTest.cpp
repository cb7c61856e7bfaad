#include "platform/AtomicFile.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

TEST(AtomicFileTest, ReplacesKeepingTheModeCreatesWithTheGivenModeAndWritesThroughALink) {
    TempDir dir;
    const std::string old = dir.file("old"), target = dir.file("real/file");
    const std::string link = dir.file("link");
    TempDir::WriteFile(old, "old contents");
    ASSERT_EQ(chmod(old.c_str(), 0640), 0);
    AtomicWriteOptions options;
    options.newFileMode = 0600;
    EXPECT_TRUE(WriteFileAtomically(old, "new contents", options).ok());
    EXPECT_TRUE(WriteFileAtomically(dir.file("new"), "", options).ok());
    EXPECT_EQ(TempDir::ReadFile(old), "new contents");
    EXPECT_EQ(ModeOf(old), S_IFREG | 0640);
    EXPECT_EQ(ModeOf(dir.file("new")), S_IFREG | 0600);

    // A relative link, as users make them, to a file and then dangling.
    ASSERT_EQ(mkdir(dir.file("real").c_str(), 0700), 0);
    TempDir::WriteFile(target, "old");
    ASSERT_EQ(symlink("real/file", link.c_str()), 0);
    EXPECT_TRUE(WriteFileAtomically(link, "through the link").ok());
    EXPECT_EQ(TempDir::ReadFile(target), "through the link");
    ASSERT_EQ(unlink(target.c_str()), 0);
    EXPECT_TRUE(WriteFileAtomically(link, "created through the link").ok());
    EXPECT_EQ(TempDir::ReadFile(target), "created through the link");
    EXPECT_TRUE(S_ISLNK(ModeOf(link)));
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"link", "new", "old", "real"}));
    EXPECT_EQ(Names(dir.file("real")), std::vector<std::string>{"file"});
}

TEST(AtomicFileTest, AFailedWriteKeepsTheOldFileWholeAndSaysWhy) {
    TempDir dir;
    const std::string path = dir.file("file");
    TempDir::WriteFile(path, "old contents");
    AtomicWriteResult full;
    {
        FileSizeLimit limit(8);
        full = WriteFileAtomically(path, std::string(4096, 'x'));
    }
    EXPECT_EQ(full.cause, AtomicWriteCause::DiskFull);
    EXPECT_EQ(full.error, EFBIG);

    // A FIFO or a directory is never replaced, nor written into.
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("dir").c_str(), 0700), 0);
    using enum AtomicWriteCause;
    for (const auto& [name, cause] : {std::pair{"fifo", NotRegularFile},
                                      {"dir", NotRegularFile},
                                      {"missing/file", NoDirectory}})
        EXPECT_EQ(WriteFileAtomically(dir.file(name), "x").cause, cause) << name;
    EXPECT_TRUE(S_ISFIFO(ModeOf(dir.file("fifo"))));

    // A read-only file stays as it is (as nobody, so the bits apply to root too).
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const bool switched = geteuid() == 0 && setegid(65534) == 0 && seteuid(65534) == 0;
    const AtomicWriteResult readOnly = WriteFileAtomically(path, "new");
    ASSERT_TRUE(!switched || (seteuid(0) == 0 && setegid(0) == 0));
    EXPECT_EQ(readOnly.cause, AtomicWriteCause::NoPermission);
    EXPECT_EQ(TempDir::ReadFile(path), "old contents");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"dir", "fifo", "file"}));
}

} // namespace
