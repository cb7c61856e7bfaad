#include "platform/net/RawIcmpSockets.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// After <netinet/in.h>, whose definitions it then leaves alone.
#include <linux/icmp.h>

namespace {

constexpr int kMaxBatch = 64;
// The helper does nothing but open sockets; a stuck one is not waited for long.
constexpr int kReplyTimeoutMs = 5000;

void Mute(int fd) {
    icmp_filter filter{};
    filter.data = ~0u; // every ICMP type filtered out
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

bool IsExecutableFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Reads the one message of the helper: a byte with the descriptors attached.
bool ReceiveSockets(int fd, std::vector<int>& sockets, std::string& error) {
    pollfd item{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&item, 1, kReplyTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        error = "the helper did not answer";
        return false;
    }
    char mark = 0;
    iovec io{&mark, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxBatch)];
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof received);
            // Only what we asked for is kept: a raw socket of any other kind
            // would be of no use here.
            int type = 0, protocol = 0;
            socklen_t length = sizeof type;
            const bool raw = ::getsockopt(received, SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
                             type == SOCK_RAW &&
                             (length = sizeof protocol,
                              ::getsockopt(received, SOL_SOCKET, SO_PROTOCOL, &protocol,
                                           &length) == 0) &&
                             protocol == IPPROTO_ICMP;
            if (raw)
                sockets.push_back(received);
            else
                ::close(received);
        }
    }
    if (got != 1 || sockets.empty()) {
        error = "the helper sent no socket";
        return false;
    }
    return true;
}

} // namespace

bool RequestRawIcmpSockets(const std::string& helperPath, std::vector<int>& sockets,
                           std::string& error) {
    if (helperPath.empty() || !IsExecutableFile(helperPath)) {
        error = "no helper program";
        return false;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(helperPath.c_str()), nullptr};
    char* envp[] = {nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, helperPath.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    bool ok = false;
    if (spawned != 0) {
        error = std::strerror(spawned);
    } else {
        ok = ReceiveSockets(pair[0], sockets, error);
        if (!ok)
            ::kill(child, SIGKILL); // our own child, which did not do its one job
        int status;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(pair[0]);
    return ok;
}

std::string FindIcmpHelper(const std::string& executableDirectory) {
    if (executableDirectory.empty())
        return {};
    for (const char* relative : {"../lib/kestrune-durvane/vopal-icmp-helper", "vopal-icmp-helper"}) {
        const std::string path = executableDirectory + relative;
        if (IsExecutableFile(path))
            return path;
    }
    return {};
}

std::string FindIcmpHelperOfThisProgram() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
        return {};
    std::string directory(path, static_cast<std::size_t>(length));
    directory.erase(directory.rfind('/') + 1);
    return FindIcmpHelper(directory);
}

RawIcmpSocketPool::~RawIcmpSocketPool() {
    for (int fd : m_idle)
        ::close(fd);
}

int RawIcmpSocketPool::Take() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_idle.empty()) {
        std::string error;
        if (!RequestRawIcmpSockets(m_helperPath, m_idle, error)) {
            errno = EPERM;
            return -1;
        }
        for (int fd : m_idle)
            Mute(fd);
    }
    const int fd = m_idle.back();
    m_idle.pop_back();
    return fd;
}

void RawIcmpSocketPool::Give(int fd) {
    if (fd < 0)
        return;
    Mute(fd);
    std::lock_guard<std::mutex> guard(m_lock);
    m_idle.push_back(fd);
}
