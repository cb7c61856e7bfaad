#pragma once
// Runs a piece of a test in a forked child, for what a test must not do to
// its own process: try a lock that the test holds, give up a resource limit,
// move into a network or mount namespace of its own.

#include <chrono>
#include <functional>
#include <sys/types.h>
#include <string>
#include <vector>

class ChildProcess {
public:
    // The exit code of a child whose set-up failed (see EnterFreshNetwork).
    static constexpr int kCannotSetUp = 77;

    // Runs `body` in a child and returns what it returned as the child's exit
    // code, or -1 when the child could not be started or ended by a signal.
    // gtest failures raised in the child are printed by the child and make
    // its exit code 1 if the body returned 0.
    static int Run(const std::function<int()>& body);

    // Runs each body in a child of its own, all let go at the same moment
    // once every child has been started; their exit codes in order, as Run
    // gives them.
    static std::vector<int> RunTogether(const std::vector<std::function<int()>>& bodies);

    // For use inside a child: moves the process into a network namespace of
    // its own whose only interface is `lo`, brought up (127.0.0.1). False when
    // the namespace cannot be made (needs root) or `lo` cannot be brought up.
    static bool EnterFreshNetwork();

    // For use inside a child: moves the process into a mount namespace of its
    // own and mounts a memory file system of `type` ("tmpfs", "ramfs") with
    // `options` (e.g. "size=64k") on `dir` there, so the mount goes away with
    // the child whatever happens. False when that cannot be done (needs root).
    static bool MountPrivate(const std::string& dir, const char* type, const std::string& options);

    // For use inside a child: moves the process into a mount namespace of its
    // own and binds the file `source` over `target` there, so the child sees
    // the test's file in a place the program reads. False when that cannot be
    // done (needs root).
    static bool BindPrivate(const std::string& source, const std::string& target);

    // For a test's server child (a receiver, a database): whether it has
    // exited, reaping it then, with its wait status in `status`; and that
    // status as words ("exit status 1", "signal Killed").
    static bool Exited(pid_t pid, int& status);
    // Ends a test's server child: SIGTERM, then SIGKILL if it is still there
    // after `patience`; reaped either way.
    static void End(pid_t pid, std::chrono::milliseconds patience);
    // In a server child between fork and exec: it gets `deathSignal` when
    // the thread that forked it ends, whatever becomes of the test, and
    // starts with no signal blocked and no descriptor above 2. False when
    // `parent` is already gone (the child should _exit then).
    static bool BecomeServerChild(int deathSignal, pid_t parent);
    static std::string WaitStatusText(int status);
};
