#pragma once
// Running a user's command on a change: /bin/sh -c COMMAND with a document on
// its standard input. The call returns when the shell has exited, and never
// later than the time-out plus a short grace: a command that hangs is ended.
//
// The command runs in a process group of its own, with default signal
// dispositions and an empty signal mask, and sees none of our descriptors
// but the three standard ones: standard input from a pipe that is closed once
// the input is written (a command that does not read it is fine), standard
// output to /dev/null (so it never mixes with ours), standard error to a pipe
// that is read while the input is written, so neither can block the other.
//
// At the time-out the group gets SIGTERM and, when it has not gone away
// within kShellHookGrace, SIGKILL; the shell is always reaped. A background
// child that outlives the shell and still holds standard error does not hold
// the call up: what it wrote so far is kept.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct ShellHookRequest {
    std::string command; // run as /bin/sh -c COMMAND
    std::string input;   // written to its standard input, which is then closed
    std::chrono::milliseconds timeout{30000};
    std::size_t maxErrorBytes = 64 * 1024; // standard error kept; the rest counted and dropped
    std::vector<std::string> environment;  // NAME=value entries added to (or replacing in) ours
};

struct ShellHookResult {
    bool started = false;  // false: it could not be run at all; `failure` says why
    bool timedOut = false; // it was still running at the time-out and was ended
    int exitStatus = -1;   // when it exited
    int signal = 0;        // when a signal ended it
    std::string errors;    // its standard error, as bytes (the caller makes them plain text)
    std::size_t errorsDropped = 0;
    std::string failure; // also set, with started, when it could no longer be watched and was ended
};

// Runs the command. Not started (with `failure` saying why) when the command
// is empty, an environment entry is not NAME=value, or /bin/sh cannot be
// run. Safe to call from several threads at once.
ShellHookResult RunShellHook(const ShellHookRequest& request);

// How long the group has after SIGTERM before it gets SIGKILL.
inline constexpr std::chrono::milliseconds kShellHookGrace{2000};
