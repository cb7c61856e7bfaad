#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <csignal>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs a child's body and ends the child with its exit code: 1 when the body
// said 0 but a test assertion failed in it.
[[noreturn]] void RunChild(const std::function<int()>& body) {
    int code = body();
    if (code == 0 && ::testing::Test::HasFailure())
        code = 1;
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

// The child's exit code; -1 when it was not started or did not exit.
int ExitCodeOf(pid_t pid) {
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int ChildProcess::Run(const std::function<int()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0)
        RunChild(body);
    return ExitCodeOf(pid);
}

std::vector<int> ChildProcess::RunTogether(const std::vector<std::function<int()>>& bodies) {
    std::fflush(stdout);
    std::fflush(stderr);
    int go[2];
    if (pipe(go) != 0)
        return std::vector<int>(bodies.size(), -1);
    std::vector<pid_t> pids;
    for (const auto& body : bodies) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            char byte;
            // The end of the pipe is the start signal.
            while (read(go[0], &byte, 1) < 0 && errno == EINTR) {
            }
            RunChild(body);
        }
        pids.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    std::vector<int> codes;
    for (const pid_t pid : pids)
        codes.push_back(ExitCodeOf(pid));
    return codes;
}

bool ChildProcess::EnterFreshNetwork() {
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", sizeof request.ifr_name - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up;
}

bool ChildProcess::MountPrivate(const std::string& dir, const char* type,
                                const std::string& options) {
    // Private first, so that the mount is not passed on to the parent's namespace.
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(type, dir.c_str(), type, MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

bool ChildProcess::BindPrivate(const std::string& source, const std::string& target) {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

bool ChildProcess::Exited(pid_t pid, int& status) {
    const pid_t reaped = waitpid(pid, &status, WNOHANG);
    return reaped == pid || (reaped < 0 && errno == ECHILD);
}

void ChildProcess::End(pid_t pid, std::chrono::milliseconds patience) {
    kill(pid, SIGTERM);
    const auto limit = std::chrono::steady_clock::now() + patience;
    int status = 0;
    while (!Exited(pid, status)) {
        if (std::chrono::steady_clock::now() >= limit) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string ChildProcess::WaitStatusText(int status) {
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

bool ChildProcess::BecomeServerChild(int deathSignal, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, deathSignal);
    if (getppid() != parent)
        return false;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    close_range(3, ~0U, 0);
    return true;
}
