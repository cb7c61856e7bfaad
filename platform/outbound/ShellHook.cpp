#include "platform/outbound/ShellHook.h"

#include "platform/os/SigpipeBlock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunkBytes = 64 * 1024;
// How often the shell's end is looked at where no pidfd can be had.
constexpr std::chrono::milliseconds kExitCheckSlice{10};
// Reads of what is left in standard error once the shell has exited: a
// background child that keeps writing cannot keep us reading.
constexpr int kFinalReads = 16;

// A descriptor closed with its owner.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Reset(int fd) {
        Close();
        m_fd = fd;
    }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// A pipe's end moved above the standard descriptors, so that a caller that
// runs with one of them closed cannot have the child's dup2 onto 0, 1 or 2
// clobber another of its ends. -1 when that fails.
int AboveStandard(int fd) {
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Our environment with the request's entries added, each replacing ours of
// the same name. False with the reason for an entry that is not NAME=value.
bool BuildEnvironment(const std::vector<std::string>& extra, std::vector<std::string>& entries,
                      std::string& fault) {
    const auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    for (const std::string& entry : extra) {
        const std::size_t equals = entry.find('=');
        if (equals == 0 || equals == std::string::npos || entry.find('\0') != std::string::npos) {
            fault = "an environment entry is not NAME=value";
            return false;
        }
    }
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view name = nameOf(*entry);
        const bool replaced = std::any_of(extra.begin(), extra.end(),
                                          [&](const std::string& e) { return nameOf(e) == name; });
        if (!replaced)
            entries.emplace_back(*entry);
    }
    // A name given twice: the last one holds, as with export.
    for (std::size_t i = 0; i < extra.size(); ++i) {
        const bool later =
            std::any_of(extra.begin() + i + 1, extra.end(),
                        [&](const std::string& e) { return nameOf(e) == nameOf(extra[i]); });
        if (!later)
            entries.push_back(extra[i]);
    }
    return true;
}

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Whether the shell has ended, without reaping it: while it is a zombie its
// process group id cannot be given to anyone else, so signals to the group
// reach only what it started.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno != EINTR; // ECHILD: it was reaped elsewhere
    return info.si_pid != 0;
}

void Reap(pid_t pid, ShellHookResult& result) {
    int status = 0;
    pid_t reaped;
    while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (reaped != pid)
        return;
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
}

void KeepErrors(const char* bytes, std::size_t count, std::size_t maxBytes,
                ShellHookResult& result) {
    const std::size_t room = maxBytes - std::min(maxBytes, result.errors.size());
    const std::size_t kept = std::min(room, count);
    result.errors.append(bytes, kept);
    result.errorsDropped += count - kept;
}

enum class ReadOutcome { Read, NothingThere, Closed };

// One read of standard error, which is closed at its end (or when broken).
ReadOutcome ReadErrors(Descriptor& errors, std::size_t maxBytes, ShellHookResult& result) {
    char buffer[kChunkBytes];
    const ssize_t n = read(errors.Get(), buffer, sizeof buffer);
    if (n > 0) {
        KeepErrors(buffer, static_cast<std::size_t>(n), maxBytes, result);
        return ReadOutcome::Read;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return ReadOutcome::NothingThere;
    errors.Close();
    return ReadOutcome::Closed;
}

// Writes what the pipe takes now. A reader that has gone (EPIPE) has simply
// not wanted the rest; the pipe is closed then, and once all is written.
void WriteInput(Descriptor& input, std::string_view bytes, std::size_t& written) {
    const std::size_t count = std::min(kChunkBytes, bytes.size() - written);
    const ssize_t n = write(input.Get(), bytes.data() + written, count);
    if (n > 0)
        written += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
        input.Close();
    if (written == bytes.size())
        input.Close();
}

int PollMs(Clock::duration left) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

// The child's part between fork and exec: only async-signal-safe calls, on
// what the parent made ready. Any failure is reported through `report` as an
// errno value; exec closes it on success.
[[noreturn]] void BecomeShell(char* const argv[], char* const envp[], int input, int errors,
                              int report) {
    // Handlers of ours vanish with exec anyway; an ignored signal would stay
    // ignored in the command. (glibc keeps its own internal signals to itself.)
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int number = 1; number < NSIG; ++number)
        sigaction(number, &defaults, nullptr);
    int error = 0;
    if (setpgid(0, 0) != 0)
        error = errno;
    // Our ends are all above 2 (AboveStandard), so these cannot clobber one another.
    if (!error && dup2(input, STDIN_FILENO) < 0)
        error = errno;
    const int devNull = error ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (!error && devNull < 0)
        error = errno;
    // dup2 onto 1 clears close-on-exec; so must we when it landed there itself.
    if (!error && devNull == STDOUT_FILENO && fcntl(devNull, F_SETFD, 0) != 0)
        error = errno;
    if (!error && devNull != STDOUT_FILENO && dup2(devNull, STDOUT_FILENO) < 0)
        error = errno;
    if (!error && dup2(errors, STDERR_FILENO) < 0)
        error = errno;
    if (!error) {
        // Ours are all close-on-exec; this also covers a descriptor some
        // library opened without it. Only the report stays until exec.
        if (report > STDERR_FILENO + 1)
            close_range(STDERR_FILENO + 1, static_cast<unsigned>(report) - 1, 0);
        close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve("/bin/sh", argv, envp);
        error = errno;
    }
    while (write(report, &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
}

// Starts /bin/sh -c COMMAND in a process group of its own with `input` as its
// standard input and `errors` as its standard error; returns once it runs
// the shell. 0 on success, else an errno value.
int Spawn(const ShellHookRequest& request, const std::vector<std::string>& environment, int input,
          int errors, pid_t& pid) {
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    char sh[] = "sh", dashC[] = "-c";
    char* argv[] = {sh, dashC, const_cast<char*>(request.command.c_str()), nullptr};

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return errno;
    Descriptor reportRead(AboveStandard(report[0])), reportWrite(AboveStandard(report[1]));
    if (!reportRead.IsOpen() || !reportWrite.IsOpen())
        return errno;

    // No handler of ours may run in the child before its dispositions are
    // reset: everything is blocked across the fork.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pid = fork();
    const int forkError = errno;
    if (pid == 0)
        BecomeShell(argv, envp.data(), input, errors, reportWrite.Get());
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (pid < 0)
        return forkError;

    reportWrite.Close();
    int childError = 0;
    ssize_t n;
    while ((n = read(reportRead.Get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof childError)) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        return childError != 0 ? childError : EIO;
    }
    return 0; // the report was closed by exec
}

// Our ends of the pipes to the command's standard input and from its
// standard error (non-blocking), and the child's.
struct HookPipes {
    Descriptor childInput, input, errors, childErrors;
};

// Empty when the pipes are made, else why not.
std::string MakePipes(HookPipes& pipes) {
    int inPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0)
        return std::string("cannot make a pipe: ") + std::strerror(errno);
    pipes.childInput.Reset(AboveStandard(inPipe[0]));
    pipes.input.Reset(AboveStandard(inPipe[1]));
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return std::string("cannot make a pipe: ") + std::strerror(errno);
    pipes.errors.Reset(AboveStandard(errPipe[0]));
    pipes.childErrors.Reset(AboveStandard(errPipe[1]));
    if (!pipes.childInput.IsOpen() || !pipes.input.IsOpen() || !pipes.errors.IsOpen() ||
        !pipes.childErrors.IsOpen() || !MakeNonBlocking(pipes.input.Get()) ||
        !MakeNonBlocking(pipes.errors.Get()))
        return std::string("cannot set up the pipes: ") + std::strerror(errno);
    return {};
}

// Feeds the running command its input and keeps what it writes to standard
// error until it ends. Once its time is up its group is asked to end and
// given the grace. True when it is to be killed: its time and grace ran out,
// or it can no longer be watched (result.failure says why).
bool Supervise(pid_t pid, const Descriptor& pidfd, HookPipes& pipes,
               const ShellHookRequest& request, ShellHookResult& result) {
    Descriptor& input = pipes.input;
    Descriptor& errors = pipes.errors;
    std::size_t written = 0;
    if (request.input.empty())
        input.Close();
    const Clock::time_point deadline =
        Clock::now() + std::max(request.timeout, std::chrono::milliseconds::zero());
    Clock::time_point killAt{};
    bool terminating = false;
    for (;;) {
        const bool ended = HasEnded(pid);
        if (ended && (!terminating || !errors.IsOpen()))
            return terminating;
        const Clock::time_point now = Clock::now();
        if (!terminating && now >= deadline) {
            terminating = true;
            result.timedOut = true;
            kill(-pid, SIGTERM);
            kill(-pid, SIGCONT); // a stopped member could not act on it
            input.Close();
            killAt = now + kShellHookGrace;
        }
        if (terminating && now >= killAt)
            return true;
        Clock::duration left = (terminating ? killAt : deadline) - now;

        pollfd fds[3];
        nfds_t count = 0;
        int inputAt = -1, errorsAt = -1;
        if (input.IsOpen()) {
            inputAt = static_cast<int>(count);
            fds[count++] = {input.Get(), POLLOUT, 0};
        }
        if (errors.IsOpen()) {
            errorsAt = static_cast<int>(count);
            fds[count++] = {errors.Get(), POLLIN, 0};
        }
        if (!ended && pidfd.IsOpen())
            fds[count++] = {pidfd.Get(), POLLIN, 0};
        else if (!ended)
            left = std::min<Clock::duration>(left, kExitCheckSlice);
        const int ready = poll(fds, count, PollMs(left));
        if (ready < 0 && errno != EINTR) {
            // It can no longer be watched, so it is not left running.
            result.failure = std::string("cannot wait for the command: ") + std::strerror(errno);
            return true;
        }
        if (ready <= 0)
            continue;
        if (errorsAt >= 0 && fds[errorsAt].revents != 0)
            ReadErrors(errors, request.maxErrorBytes, result);
        if (inputAt >= 0 && fds[inputAt].revents != 0)
            WriteInput(input, request.input, written);
    }
}

} // namespace

ShellHookResult RunShellHook(const ShellHookRequest& request) {
    ShellHookResult result;
    if (request.command.empty() || request.command.find('\0') != std::string::npos) {
        result.failure =
            request.command.empty() ? "the command is empty" : "the command holds a NUL byte";
        return result;
    }
    std::vector<std::string> environment;
    if (!BuildEnvironment(request.environment, environment, result.failure))
        return result;
    HookPipes pipes;
    result.failure = MakePipes(pipes);
    if (!result.failure.empty())
        return result;

    pid_t pid = -1;
    if (const int error =
            Spawn(request, environment, pipes.childInput.Get(), pipes.childErrors.Get(), pid)) {
        result.failure = std::string("cannot run /bin/sh: ") + std::strerror(error);
        return result;
    }
    result.started = true;
    pipes.childInput.Close();
    pipes.childErrors.Close();
    const Descriptor pidfd(OpenPidfd(pid));

    // Writes to a command that stopped reading raise SIGPIPE in this thread.
    const SigpipeBlock noSigpipe;
    if (Supervise(pid, pidfd, pipes, request, result))
        kill(-pid, SIGKILL); // the shell is not reaped yet: the group is still its own
    pipes.input.Close();
    // What is in standard error now; a background child may hold it open.
    for (int i = 0; i < kFinalReads && pipes.errors.IsOpen(); ++i)
        if (ReadErrors(pipes.errors, request.maxErrorBytes, result) != ReadOutcome::Read)
            break;
    Reap(pid, result);
    return result;
}
