#include "platform/os/InstanceLock.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsUsableDirectory(const char* path) {
    if (!path || path[0] != '/')
        return false;
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode) && access(path, W_OK | X_OK) == 0;
}

std::string Join(std::string directory, const char* name) {
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory + name;
}

} // namespace

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : m_fd(other.m_fd), m_error(other.m_error) {
    other.m_fd = -1;
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = other.m_fd;
        m_error = other.m_error;
        other.m_fd = -1;
    }
    return *this;
}

std::string InstanceLock::DefaultPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); IsUsableDirectory(runtime))
        return Join(runtime, kName);
    if (const char* tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/')
        return Join(tmp, kName);
    return Join("/tmp", kName);
}

InstanceLock InstanceLock::Acquire() {
    return Acquire(DefaultPath());
}

InstanceLock InstanceLock::Acquire(const std::string& path) {
    InstanceLock lock;
    // O_NOFOLLOW: in a shared temporary directory someone else may have put a
    // link here to make us create or lock a file of theirs. O_NONBLOCK: a
    // planted FIFO must not hang the start-up in open().
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        lock.m_error = errno;
        return lock;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        lock.m_error = errno;
    else if (!S_ISREG(st.st_mode))
        lock.m_error = EINVAL;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        lock.m_error = errno;
    if (lock.m_error != 0) {
        close(fd);
        return lock;
    }
    lock.m_fd = fd;
    return lock;
}

void InstanceLock::Release() {
    if (m_fd < 0)
        return;
    flock(m_fd, LOCK_UN);
    close(m_fd);
    m_fd = -1;
}
