#include "platform/os/InstanceLock.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What another process's own attempt on the lock (at the default path when
// `path` is empty) gives.
enum ChildResult { kChildHeld = 10, kChildHeldElsewhere = 11, kChildRefused = 12 };

int TryInChild(const std::string& path) {
    return ChildProcess::Run([&] {
        const InstanceLock lock =
            path.empty() ? InstanceLock::Acquire() : InstanceLock::Acquire(path);
        return lock.held()            ? kChildHeld
               : lock.heldElsewhere() ? kChildHeldElsewhere
                                      : kChildRefused;
    });
}

class InstanceLockTest : public ::testing::Test {
protected:
    TempDir dir;
    const std::string path = dir.file("TARNEL");
};

TEST_F(InstanceLockTest, TheLockInAUsableRuntimeDirectoryRefusesASecondProcess) {
    TempDir::WriteFile(dir.file("plain-file"), "x");
    struct Case {
        std::optional<std::string> runtime, tmp;
        std::string expected;
    } cases[] = {
        {dir.path(), "/elsewhere", path},
        {dir.path().substr(0, dir.path().size() - 1), std::nullopt, path},
        {dir.file("plain-file"), "/elsewhere/", "/elsewhere/TARNEL"},
        {"relative", "/elsewhere", "/elsewhere/TARNEL"},
        {std::nullopt, std::nullopt, "/tmp/TARNEL"},
        {"", "relative", "/tmp/TARNEL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runtime.value_or("(unset)") + " / " + c.tmp.value_or("(unset)"));
        const ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime), tmp("TMPDIR", c.tmp);
        EXPECT_EQ(InstanceLock::DefaultPath(), c.expected);
    }

    const ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    {
        InstanceLock first = InstanceLock::Acquire();
        ASSERT_TRUE(first.held()) << std::strerror(first.error());
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0077, 0u) << "other users have no business with the file";
        InstanceLock moved = std::move(first);
        first.Release(); // must not touch what `moved` holds
        EXPECT_FALSE(first.held());
        EXPECT_TRUE(moved.held());
        EXPECT_EQ(TryInChild(""), kChildHeldElsewhere);
    }
    EXPECT_EQ(TryInChild(path), kChildHeld) << "the destructor gives the lock up";
    EXPECT_TRUE(TempDir::Exists(path)) << "the file stays for the next copy";
    InstanceLock again = InstanceLock::Acquire(path);
    again.Release();
    EXPECT_EQ(TryInChild(path), kChildHeld);
}

TEST_F(InstanceLockTest, WhatIsNotOurRegularFileIsRefusedUntouched) {
    const std::string target = dir.file("victim"), existing = dir.file("existing");
    TempDir::WriteFile(existing, "keep me");
    struct Case {
        const char* name;
        std::function<int()> plant;
        std::string lockPath;
        int error;
    } cases[] = {
        {"dangling symlink", [&] { return symlink(target.c_str(), path.c_str()); }, path, ELOOP},
        {"symlink to a file", [&] { return symlink(existing.c_str(), path.c_str()); }, path, ELOOP},
        {"fifo", [&] { return mkfifo(path.c_str(), 0600); }, path, EINVAL},
        {"directory", [&] { return mkdir(path.c_str(), 0700); }, path, EISDIR},
        {"missing directory", [] { return 0; }, dir.file("missing/TARNEL"), ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(path.c_str());
        rmdir(path.c_str());
        ASSERT_EQ(c.plant(), 0);
        const InstanceLock lock = InstanceLock::Acquire(c.lockPath);
        EXPECT_FALSE(lock.held() || lock.heldElsewhere());
        EXPECT_EQ(lock.error(), c.error) << std::strerror(lock.error());
        EXPECT_FALSE(TempDir::Exists(target)) << "followed the link";
        EXPECT_EQ(TempDir::ReadFile(existing), "keep me");
        EXPECT_TRUE(InstanceLock::Acquire(existing).held()) << "locked the link's target";
    }
}

} // namespace
