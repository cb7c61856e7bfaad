#include "platform/os/AtomicFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/FileTree.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

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
    EXPECT_EQ(TempDir::EntryNames(dir.path()),
              (std::vector<std::string>{"link", "new", "old", "real"}));
    EXPECT_EQ(TempDir::EntryNames(dir.file("real")), std::vector<std::string>{"file"});
}

// Each case makes a situation in `work` (a directory of its own, or a memory
// file system mounted there in the child's own mount namespace), writes the new
// bytes as the export and the range list do (in place where a new file
// cannot be made beside the old one) and compares the whole tree afterwards:
// after a failure nothing differs, byte for byte, no temporary file is left;
// after a success only the files named in `written` hold the new bytes.
struct WriteCase {
    const char* name;
    bool (*setup)(const std::string& work); // false: cannot be made here (needs root)
    const char* path;
    std::size_t size; // of the new contents
    struct {
        const char* fs = nullptr; // type of a file system mounted on `work`
        const char* fsOptions = nullptr;
        bool asNobody = false; // so that permission bits bind root too
        rlim_t sizeLimit = 0;  // 0: none
    } when;
    AtomicWriteResult result;
    std::vector<std::string> written;
};

void PrintTo(const WriteCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr uid_t kNobody = 65534;

bool Old(const std::string& work, mode_t mode = 0644) {
    TempDir::WriteFile(work + "file", "old contents\r\n");
    return chmod((work + "file").c_str(), mode) == 0;
}

bool OldFile(const std::string& work) {
    return Old(work);
}

bool OldWritable(const std::string& work) {
    return Old(work, 0666);
}

// In a directory where anyone may make files: only the file's bits stop us.
bool OldReadOnly(const std::string& work) {
    return Old(work, 0444) && chmod(work.c_str(), 0777) == 0;
}

// The old file, and one more file taking all the room left.
bool OldOnFullDisk(const std::string& work) {
    if (!Old(work))
        return false;
    const int fd = open((work + "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const std::string chunk(4096, 'f');
    while (fd >= 0 && write(fd, chunk.data(), chunk.size()) > 0) {
    }
    const bool full = errno == ENOSPC;
    return close(fd) == 0 && full;
}

bool HardLink(const std::string& work) {
    return Old(work) && link((work + "file").c_str(), (work + "second").c_str()) == 0;
}

bool DanglingLink(const std::string& work) {
    return symlink("made", (work + "link").c_str()) == 0;
}

bool LinkIn(const std::string& work, uid_t directoryOwner, uid_t linkOwner) {
    return Old(work) && chmod(work.c_str(), 01777) == 0 &&
           chown(work.c_str(), directoryOwner, directoryOwner) == 0 &&
           symlink("file", (work + "link").c_str()) == 0 &&
           lchown((work + "link").c_str(), linkOwner, linkOwner) == 0;
}

// Another user's link in a sticky directory anyone may write to.
bool Planted(const std::string& work) {
    return LinkIn(work, 0, kNobody);
}

bool LinkOfTheDirectorysOwner(const std::string& work) {
    return LinkIn(work, kNobody, kNobody);
}

bool Fifo(const std::string& work) {
    return mkfifo((work + "fifo").c_str(), 0666) == 0;
}

bool LinkToADevice(const std::string& work) {
    return symlink("/dev/full", (work + "link").c_str()) == 0;
}

using enum AtomicWriteCause;

const char* const kTmpfs = "tmpfs";
const char* const kRoom = "size=64k,nr_inodes=16,mode=0755";
const char* const kNoInodes = "size=64k,nr_inodes=3,mode=0755"; // the root, file and filler
const char* const kRamfs = "ramfs";
const char* const kMode = "mode=0755";

const WriteCase kWriteCases[] = {
    {"FullDisk", OldOnFullDisk, "file", 8192, {kTmpfs, kRoom}, {DiskFull, ENOSPC}, {}},
    // No inode for a second file: written in place, where the room runs out.
    {"FullDiskNoInodes", OldOnFullDisk, "file", 8192, {kTmpfs, kNoInodes}, {DiskFull, ENOSPC}, {}},
    {"FileSizeLimit", OldFile, "file", 4096, {.sizeLimit = 8}, {DiskFull, EFBIG}, {}},
    // No new file may be made beside it: written in place, to the size limit.
    {"ReadOnlyDir",
     OldWritable,
     "file",
     4096,
     {.asNobody = true, .sizeLimit = 64},
     {DiskFull, EFBIG},
     {}},
    {"ReadOnlyDirShrinks", OldWritable, "file", 5, {.asNobody = true}, {}, {"file"}},
    {"HardLink", HardLink, "second", 4096, {.sizeLimit = 64}, {DiskFull, EFBIG}, {}},
    // ramfs has no fallocate: the room is taken by writing zeros.
    {"NoFallocate", HardLink, "second", 4096, {kRamfs, kMode, false, 64}, {DiskFull, EFBIG}, {}},
    {"NoFallocateGrows", HardLink, "second", 100000, {kRamfs, kMode}, {}, {"file", "second"}},
    {"ReadOnlyFile", OldReadOnly, "file", 5, {.asNobody = true}, {NoPermission, EACCES}, {}},
    // The file made for the link is removed again.
    {"DanglingLink", DanglingLink, "link", 4096, {.sizeLimit = 64}, {DiskFull, EFBIG}, {}},
    {"PlantedLink", Planted, "link", 5, {}, {NoPermission, EACCES}, {}},
    {"StickyDirOwnersLink", LinkOfTheDirectorysOwner, "link", 5, {}, {}, {"file"}},
    {"Fifo", Fifo, "fifo", 5, {}, {NotRegularFile, EINVAL}, {}},
    {"LinkToADevice", LinkToADevice, "link", 5, {}, {NotRegularFile, EINVAL}, {}},
    {"MissingDirectory", OldFile, "missing/file", 5, {}, {NoDirectory, ENOENT}, {}},
};

class AtomicFileWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(AtomicFileWriteTest, KeepsTheOldFileByteForByteUnlessWrittenWhole) {
    const WriteCase& c = GetParam();
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string work = dir.file("work/");
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    const std::string bytes(c.size, 'n');
    const int code = ChildProcess::Run([&] {
        if ((c.when.fs && !ChildProcess::MountPrivate(work, c.when.fs, c.when.fsOptions)) ||
            !c.setup(work))
            return ChildProcess::kCannotSetUp;
        const FileTree before = DescribeFileTree(work);
        AtomicWriteOptions options;
        options.inPlaceFallback = true;
        AtomicWriteResult result;
        {
            std::optional<FileSizeLimit> limit;
            if (c.when.sizeLimit)
                limit.emplace(c.when.sizeLimit);
            if (c.when.asNobody &&
                (geteuid() != 0 || setegid(kNobody) != 0 || seteuid(kNobody) != 0))
                return ChildProcess::kCannotSetUp;
            result = WriteFileAtomically(work + c.path, bytes, options);
            if (c.when.asNobody && (seteuid(0) != 0 || setegid(0) != 0))
                return 2;
        }
        EXPECT_EQ(result.cause, c.result.cause);
        EXPECT_EQ(result.error, c.result.error);
        FileTree expected = before;
        for (const std::string& name : c.written)
            expected.at(name).second = DescribeFileBytes(bytes);
        EXPECT_EQ(DescribeFileTree(work), expected);
        return 0;
    });
    if (code == ChildProcess::kCannotSetUp)
        GTEST_SKIP() << "cannot be set up here: needs root (a mount namespace, another user id, "
                        "files of another owner)";
    EXPECT_EQ(code, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, AtomicFileWriteTest, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
