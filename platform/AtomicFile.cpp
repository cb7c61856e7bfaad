#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Links followed from a dangling link before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;
constexpr int kTempAttempts = 16;

std::atomic<unsigned> g_tempCounter{0};

AtomicWriteResult Failure(int error) {
    return {AtomicWriteCauseOf(error), error};
}

AtomicWriteResult NotRegular(const struct stat& info) {
    return {AtomicWriteCause::NotRegularFile, S_ISDIR(info.st_mode) ? EISDIR : EINVAL};
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

AtomicWriteResult WriteInPlace(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return Failure(errno);
    int error = 0;
    if (::ftruncate(fd, 0) != 0 || !WriteAll(fd, bytes))
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error ? Failure(error) : AtomicWriteResult{};
}

enum class Step { Done, Failed, NotPossible };

struct Replaced {
    Step step = Step::Done;
    AtomicWriteResult result;
};

Replaced NotPossible(int error) {
    return {Step::NotPossible, Failure(error)};
}

// Writes the bytes to a new file beside `target` and renames it over
// `target`. `existing` is the file being replaced (its owner and permissions
// carry over), or null. NotPossible: nothing was changed, and writing in place
// could still work; Failed: the bytes could not be written.
Replaced WriteAndRename(const std::string& target, std::string_view bytes,
                        const struct stat* existing, mode_t newFileMode) {
    const std::string directory = DirectoryOf(target);
    const std::string name = target.substr(directory.size());

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
        temp = directory + "." + name + ".tmp" + std::to_string(::getpid()) + "-" +
               std::to_string(g_tempCounter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    existing ? 0600 : newFileMode);
        if (fd < 0 && errno != EEXIST)
            return NotPossible(errno);
    }
    if (fd < 0)
        return NotPossible(EEXIST);

    if (existing) {
        struct stat mine;
        int error = ::fstat(fd, &mine) == 0 ? 0 : errno;
        if (!error && (mine.st_uid != existing->st_uid || mine.st_gid != existing->st_gid) &&
            ::fchown(fd, existing->st_uid, existing->st_gid) != 0)
            error = errno;
        if (!error && ::fchmod(fd, existing->st_mode & 07777) != 0)
            error = errno;
        if (error) {
            ::close(fd);
            ::unlink(temp.c_str());
            return NotPossible(error);
        }
    }

    int error = 0;
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error) {
        ::unlink(temp.c_str());
        return {Step::Failed, Failure(error)};
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(temp.c_str());
        return NotPossible(error);
    }
    int dir =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir); // the rename is done; a failed sync only weakens durability
        ::close(dir);
    }
    return {};
}

// The name a dangling link finally points to (which does not exist yet).
bool DanglingTarget(const std::string& link, std::string& target, int& error) {
    std::string path = link;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        char buffer[PATH_MAX];
        ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
            error = length < 0 ? errno : length == 0 ? ENOENT : ENAMETOOLONG;
            return false;
        }
        std::string next(buffer, static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : DirectoryOf(path) + next;
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                error = errno;
                return false;
            }
            target = path;
            return true;
        }
        if (!S_ISLNK(info.st_mode)) {
            error = EEXIST; // appeared meanwhile; the caller's view is out of date
            return false;
        }
    }
    error = ELOOP;
    return false;
}

AtomicWriteResult Finish(const Replaced& replaced, const std::string& path, std::string_view bytes,
                         bool inPlaceFallback) {
    if (replaced.step == Step::NotPossible && inPlaceFallback)
        return WriteInPlace(path, bytes);
    return replaced.result;
}

} // namespace

AtomicWriteCause AtomicWriteCauseOf(int error) {
    switch (error) {
    case 0:
        return AtomicWriteCause::None;
    case EACCES:
    case EPERM:
    case EROFS:
        return AtomicWriteCause::NoPermission;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return AtomicWriteCause::DiskFull;
    case ENOENT:
    case ENOTDIR:
        return AtomicWriteCause::NoDirectory;
    case EISDIR:
        return AtomicWriteCause::NotRegularFile;
    default:
        return AtomicWriteCause::Failed;
    }
}

AtomicWriteResult WriteFileAtomically(const std::string& path, std::string_view bytes,
                                      const AtomicWriteOptions& options) {
    if (path.empty())
        return Failure(ENOENT);
    const bool fallback = options.inPlaceFallback;
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode))
            return fallback ? WriteInPlace(path, bytes) : NotRegular(info);
        // Replacing one name of a hard-linked file would part it from the
        // others; where in-place writing is allowed, all names get the bytes.
        if (info.st_nlink != 1 && fallback)
            return WriteInPlace(path, bytes);
        // The file itself must be writable, even though it is replaced
        // rather than written: a read-only file stays read-only.
        int probe = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (probe < 0)
            return Failure(errno);
        ::close(probe);
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real)
            return fallback ? WriteInPlace(path, bytes) : Failure(errno);
        const std::string target = real;
        std::free(real);
        return Finish(WriteAndRename(target, bytes, &info, options.newFileMode), path, bytes,
                      fallback);
    }
    const int error = errno;
    struct stat link;
    const bool dangling = error == ENOENT && ::lstat(path.c_str(), &link) == 0;
    if (fallback && (error != ENOENT || dangling))
        return WriteInPlace(path, bytes); // open follows a dangling link and creates its file
    if (error != ENOENT)
        return Failure(error);
    std::string target = path;
    if (dangling) {
        int linkError = 0;
        if (!DanglingTarget(path, target, linkError))
            return Failure(linkError);
    }
    return Finish(WriteAndRename(target, bytes, nullptr, options.newFileMode), path, bytes,
                  fallback);
}
