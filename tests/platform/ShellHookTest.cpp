#include "platform/outbound/ShellHook.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Whether the process is gone: no longer there, or dead and only waiting to
// be reaped by whoever inherited it.
bool IsGone(pid_t pid) {
    const std::string stat = TempDir::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    return stat.empty() || end == std::string::npos || stat.size() < end + 3 ||
           stat[end + 2] == 'Z' || stat[end + 2] == 'X';
}

// A process that outlived the call ended, looking again for up to a few
// seconds (it may take the kernel a moment to finish it off).
bool BecomesGone(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        if (IsGone(pid))
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Equal bytes; a difference is told by its place, not by printing megabytes.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& expected) {
    if (got == expected)
        return ::testing::AssertionSuccess();
    const auto [at, _] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    const std::size_t offset = static_cast<std::size_t>(at - got.begin());
    return ::testing::AssertionFailure()
           << got.size() << " bytes instead of " << expected.size() << ", first difference at "
           << offset << ": \"" << got.substr(offset, 40) << "\"";
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    return text;
}

TEST(ShellHook, WhatTheCommandDidComesBack) {
    const std::string mebibyte(1 << 20, 'j');
    struct Case {
        std::string command;
        std::string input;
        int exitStatus;
        int signal;
        std::optional<std::string> errors; // exactly, after trimming
        std::string errorsContain;
        std::vector<std::string> environment;
    } cases[] = {
        {"exit 0", "", 0, 0, "", "", {}},
        {"exit 3", "", 3, 0, "", "", {}},
        {"kill -TERM $$", "", -1, SIGTERM, "", "", {}},
        {"kill -KILL $$", "", -1, SIGKILL, "", "", {}},
        {"echo oops >&2; exit 1", "", 1, 0, "oops", "", {}},
        {"echo to-stdout; echo to-stderr >&2", "", 0, 0, "to-stderr", "", {}},
        {"out=$(readlink /proc/$$/fd/1); echo \"$out\" >&2", "", 0, 0, "/dev/null", "", {}},
        {"wc -c >&2", mebibyte, 0, 0, "1048576", "", {}},
        // Reads part of it, then stops.
        {"head -c 10 >&2", mebibyte, 0, 0, "jjjjjjjjjj", "", {}},
        // The input is closed once written, so cat ends.
        {"cat >&2", "{\"kind\":\"appeared\"}\n", 0, 0, "{\"kind\":\"appeared\"}", "", {}},
        {"no-such-command-kd-test", "x", 127, 0, std::nullopt, "not found", {}},
        {"printf '%s|%s' \"$KD_HOOK_TEST\" \"$HOME\" >&2",
         "",
         0,
         0,
         "two words|/kd-home",
         "",
         {"KD_HOOK_TEST=two words", "HOME=/nowhere", "HOME=/kd-home"}},
        {"printf '%s' \"${KD_HOOK_UNSET-unset}\" >&2", "", 0, 0, "unset", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ShellHookRequest request;
        request.command = c.command;
        request.input = c.input;
        request.environment = c.environment;
        request.timeout = 20s; // only a fault would reach it
        const ShellHookResult result = RunShellHook(request);
        EXPECT_TRUE(result.started) << result.failure;
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_EQ(result.signal, c.signal);
        if (c.errors) {
            EXPECT_EQ(Trimmed(result.errors), *c.errors);
        }
        EXPECT_NE(result.errors.find(c.errorsContain), std::string::npos) << result.errors;
        EXPECT_EQ(result.errorsDropped, 0u);
        EXPECT_EQ(result.failure, "");
    }
}

TEST(ShellHook, BigInputAndBigErrorsFlowTogetherAndTheExcessIsCounted) {
    std::string input;
    for (int i = 0; input.size() < (3u << 20); ++i)
        input += "line " + std::to_string(i) + "\n";
    struct Case {
        std::string command;
        std::size_t maxErrorBytes;
        std::size_t kept, dropped;
    } cases[] = {
        // cat writes back while we still write: neither pipe may block the other.
        {"cat >&2", 8u << 20, input.size(), 0},
        {"cat >&2", 1000, 1000, input.size() - 1000},
        {"head -c 100000 /dev/zero >&2", 0, 0, 100000},
        {"head -c 100000 /dev/zero >&2", 99999, 99999, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + " " + std::to_string(c.maxErrorBytes));
        ShellHookRequest request;
        request.command = c.command;
        request.input = input;
        request.maxErrorBytes = c.maxErrorBytes;
        request.timeout = 60s;
        const ShellHookResult result = RunShellHook(request);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.errors.size(), c.kept);
        EXPECT_EQ(result.errorsDropped, c.dropped);
        if (c.command == "cat >&2") {
            EXPECT_TRUE(SameBytes(result.errors, input.substr(0, c.kept)));
        }
    }
}

TEST(ShellHook, ACommandThatLeavesItsInputUnreadIsNoFaultAndNoSigpipeIsLeft) {
    sigset_t before, after, pending;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    ShellHookRequest request;
    request.command = "exec 0<&-; echo closed >&2";
    request.input = std::string(4 << 20, 'x'); // more than any pipe holds
    request.timeout = 20s;
    for (const std::string command : {"exec 0<&-; echo closed >&2", "exit 0", "true"}) {
        SCOPED_TRACE(command);
        request.command = command;
        const ShellHookResult result = RunShellHook(request);
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.signal, 0);
    }
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    EXPECT_EQ(sigismember(&after, SIGPIPE), sigismember(&before, SIGPIPE));
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(ShellHook, TheCommandStartsCleanWhateverTheCallerBlockedOrOpened) {
    // A caller that blocks and ignores signals, and holds a descriptor
    // without close-on-exec.
    sigset_t blocked, old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &old);
    struct sigaction ignore {
    }, oldHup{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, &oldHup);
    const int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);

    ShellHookRequest request;
    request.command = "grep -E '^Sig(Blk|Ign)' /proc/self/status >&2; ls /proc/self/fd >&2; "
                      "cut -d' ' -f5 /proc/self/stat >&2";
    const ShellHookResult result = RunShellHook(request);

    close(leaky);
    sigaction(SIGHUP, &oldHup, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);

    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find("SigBlk:\t0000000000000000\n"), std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("SigIgn:\t0000000000000000\n"), std::string::npos)
        << result.errors;
    // ls itself has the directory open as 3; nothing of ours is there.
    EXPECT_NE(result.errors.find("\n0\n1\n2\n3\n"), std::string::npos) << result.errors;
    EXPECT_EQ(result.errors.find("\n4\n"), std::string::npos) << result.errors;
    // Its own process group, not ours.
    const std::size_t last = result.errors.find_last_of('\n', result.errors.size() - 2);
    const std::string group = Trimmed(result.errors.substr(last + 1));
    EXPECT_NE(group, std::to_string(getpgrp())) << result.errors;
}

TEST(ShellHook, AtTheTimeOutTheWholeGroupIsEnded) {
    struct Case {
        std::string command;
        int signal; // that ended the shell
    } cases[] = {
        // The background sleep is a grandchild: it goes with the group.
        {"sleep 30 & echo $! >&2; sleep 30", SIGTERM},
        // A stopped shell is woken to take its SIGTERM.
        {"sleep 30 & echo $! >&2; kill -STOP $$", SIGTERM},
        // Everything ignores SIGTERM: SIGKILL after the grace.
        {"trap '' TERM; sleep 30 & echo $! >&2; sleep 30; sleep 30", SIGKILL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ShellHookRequest request;
        request.command = c.command;
        request.input = "{}";
        request.timeout = 500ms;
        const ShellHookResult result = RunShellHook(request);
        EXPECT_TRUE(result.started);
        EXPECT_TRUE(result.timedOut);
        EXPECT_EQ(result.exitStatus, -1);
        EXPECT_EQ(result.signal, c.signal);
        const pid_t grandchild = std::atoi(result.errors.c_str());
        ASSERT_GT(grandchild, 1) << result.errors;
        EXPECT_TRUE(BecomesGone(grandchild));
    }
}

TEST(ShellHook, ABackgroundChildHoldingStandardErrorDoesNotHoldTheCallUp) {
    ShellHookRequest request;
    // It keeps standard error open for 30 s; the shell itself is done at once.
    request.command = "sleep 30 & echo $! >&2; echo done >&2; exit 4";
    request.timeout = 10s;
    const ShellHookResult result = RunShellHook(request);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 4);
    const pid_t background = std::atoi(result.errors.c_str());
    ASSERT_GT(background, 1) << result.errors;
    EXPECT_NE(result.errors.find("\ndone\n"), std::string::npos) << result.errors;
    // Still running: the call came back without waiting for it. Ours to end.
    EXPECT_FALSE(IsGone(background));
    kill(background, SIGKILL);
    EXPECT_TRUE(BecomesGone(background));
}

TEST(ShellHook, WhatCannotBeRunIsNotStarted) {
    struct Case {
        std::string command;
        std::vector<std::string> environment;
        std::string failure;
    } cases[] = {
        {"", {}, "the command is empty"},
        {std::string("echo a\0b", 8), {}, "the command holds a NUL byte"},
        {"true", {"NOEQUALS"}, "an environment entry is not NAME=value"},
        {"true", {"=value"}, "an environment entry is not NAME=value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        ShellHookRequest request;
        request.command = c.command;
        request.environment = c.environment;
        const ShellHookResult result = RunShellHook(request);
        EXPECT_FALSE(result.started);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.failure, c.failure);
    }
}

TEST(ShellHook, CallsFromSeveralThreadsKeepTheirOwnResults) {
    constexpr int kThreads = 4;
    std::vector<ShellHookResult> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&results, i] {
            ShellHookRequest request;
            request.command = "cat >&2; exit " + std::to_string(10 + i);
            request.input = std::string(200000, static_cast<char>('a' + i));
            request.maxErrorBytes = 1 << 20;
            request.timeout = 30s;
            results[i] = RunShellHook(request);
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(results[i].exitStatus, 10 + i);
        EXPECT_TRUE(SameBytes(results[i].errors, std::string(200000, static_cast<char>('a' + i))));
    }
}

} // namespace
