#include "platform/InstanceLock.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a child process's own attempt on the lock gave.
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

TEST_F(InstanceLockTest, ASecondProcessIsRefusedUntilTheFirstLetsGo) {
    InstanceLock lock = InstanceLock::Acquire(path);
    ASSERT_TRUE(lock.held()) << std::strerror(lock.error());
    EXPECT_EQ(lock.error(), 0);
    EXPECT_EQ(TryInChild(path), kChildHeldElsewhere);

    lock.Release();
    EXPECT_FALSE(lock.held());
    EXPECT_EQ(TryInChild(path), kChildHeld);
    lock.Release();
    EXPECT_TRUE(TempDir::Exists(path)) << "the file stays for the next copy";
}

TEST_F(InstanceLockTest, TheKernelDropsTheLockOfAKilledHolder) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const int child = ChildProcess::Start([&] {
        close(ready[0]);
        InstanceLock lock = InstanceLock::Acquire(path);
        const char state = lock.held() ? 'y' : 'n';
        if (write(ready[1], &state, 1) != 1)
            return 1;
        for (;;)
            pause(); // killed here, holding the lock
    });
    ASSERT_GT(child, 0);
    close(ready[1]);
    bool reaped = false;
    const std::shared_ptr<void> reap(nullptr, [&](void*) {
        if (!reaped) {
            kill(child, SIGKILL);
            ChildProcess::Wait(child);
        }
        close(ready[0]);
    });
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, 'y');

    InstanceLock refused = InstanceLock::Acquire(path);
    EXPECT_FALSE(refused.held());
    EXPECT_TRUE(refused.heldElsewhere());

    ASSERT_EQ(kill(child, SIGKILL), 0);
    const int code = ChildProcess::Wait(child);
    reaped = true;
    EXPECT_EQ(code, -1) << "the child should have died of the signal";
    EXPECT_TRUE(InstanceLock::Acquire(path).held());
}

TEST_F(InstanceLockTest, OwnershipMovesAndEndsWithTheObject) {
    {
        InstanceLock first = InstanceLock::Acquire(path);
        ASSERT_TRUE(first.held());
        // Another open of the file in this process is refused as well.
        EXPECT_TRUE(InstanceLock::Acquire(path).heldElsewhere());

        InstanceLock moved = std::move(first);
        EXPECT_FALSE(first.held());
        EXPECT_TRUE(moved.held());
        first.Release(); // must not touch what `moved` holds
        EXPECT_EQ(TryInChild(path), kChildHeldElsewhere);

        InstanceLock assigned;
        assigned = std::move(moved);
        EXPECT_TRUE(assigned.held());
        EXPECT_EQ(TryInChild(path), kChildHeldElsewhere);
    }
    EXPECT_EQ(TryInChild(path), kChildHeld);
}

TEST_F(InstanceLockTest, DefaultPathPrefersAUsableRuntimeDirectory) {
    TempDir::WriteFile(dir.file("plain-file"), "x");
    const std::string base = dir.path().substr(0, dir.path().size() - 1); // without the '/'
    struct Case {
        std::optional<std::string> runtime, tmp;
        std::string expected;
    } cases[] = {
        {dir.path(), "/elsewhere", dir.file("TARNEL")},
        {base, std::nullopt, dir.file("TARNEL")},
        {dir.file("missing"), "/elsewhere", "/elsewhere/TARNEL"},
        {dir.file("plain-file"), "/elsewhere/", "/elsewhere/TARNEL"},
        {"relative", "/elsewhere", "/elsewhere/TARNEL"},
        {"", "/elsewhere", "/elsewhere/TARNEL"},
        {std::nullopt, std::nullopt, "/tmp/TARNEL"},
        {std::nullopt, "relative", "/tmp/TARNEL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runtime.value_or("(unset)") + " / " + c.tmp.value_or("(unset)"));
        const ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime);
        const ScopedEnv tmp("TMPDIR", c.tmp);
        EXPECT_EQ(InstanceLock::DefaultPath(), c.expected);
    }
}

TEST_F(InstanceLockTest, AcquireLocksInTheRuntimeDirectory) {
    const ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    const InstanceLock lock = InstanceLock::Acquire();
    ASSERT_TRUE(lock.held()) << std::strerror(lock.error());
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u) << "other users have no business with the file";
    EXPECT_EQ(TryInChild(""), kChildHeldElsewhere);
}

TEST_F(InstanceLockTest, WhatIsNotOurRegularFileIsRefusedUntouched) {
    const std::string target = dir.file("victim");
    TempDir::WriteFile(dir.file("existing"), "keep me");
    struct Case {
        const char* name;
        std::function<void()> plant;
        std::string lockPath;
        int error;
    } cases[] = {
        {"dangling symlink", [&] { ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); }, path,
         ELOOP},
        {"symlink to a file",
         [&] { ASSERT_EQ(symlink(dir.file("existing").c_str(), path.c_str()), 0); }, path, ELOOP},
        {"fifo", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, path, EINVAL},
        {"directory", [&] { ASSERT_EQ(mkdir(path.c_str(), 0700), 0); }, path, EISDIR},
        {"missing directory", [] {}, dir.file("missing/TARNEL"), ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(path.c_str());
        rmdir(path.c_str());
        c.plant();
        const InstanceLock lock = InstanceLock::Acquire(c.lockPath);
        EXPECT_FALSE(lock.held());
        EXPECT_FALSE(lock.heldElsewhere());
        EXPECT_EQ(lock.error(), c.error) << std::strerror(lock.error());
        EXPECT_FALSE(TempDir::Exists(target)) << "followed the link";
        EXPECT_EQ(TempDir::ReadFile(dir.file("existing")), "keep me");
        EXPECT_TRUE(InstanceLock::Acquire(dir.file("existing")).held()) << "locked the target";
    }
}

} // namespace
