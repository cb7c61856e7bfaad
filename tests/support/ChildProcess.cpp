#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

int ChildProcess::Run(const std::function<int()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int code = body();
        if (code == 0 && ::testing::Test::HasFailure())
            code = 1;
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(code);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
            int code = body();
            if (code == 0 && ::testing::Test::HasFailure())
                code = 1;
            std::fflush(stdout);
            std::fflush(stderr);
            _exit(code);
        }
        pids.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    std::vector<int> codes;
    for (const pid_t pid : pids) {
        int status = 0;
        int rc = pid < 0 ? -1 : 0;
        while (pid > 0 && waitpid(pid, &status, 0) < 0)
            if (errno != EINTR) {
                rc = -1;
                break;
            }
        codes.push_back(rc < 0 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status));
    }
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
