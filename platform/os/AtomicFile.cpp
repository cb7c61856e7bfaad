#include "platform/os/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTempAttempts = 16;

// Owns one descriptor; closing it keeps errno, so that a failure can be
// reported after the clean-up.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    // Closes now, for the caller to see a failed close.
    int close() {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0) {
            const int saved = errno;
            ::close(m_fd);
            errno = saved;
        }
        m_fd = fd;
    }

private:
    int m_fd;
};

AtomicWriteResult Failure(int error) {
    return {AtomicWriteCauseOf(error), error};
}

AtomicWriteResult NotRegular(const struct stat& info) {
    return {AtomicWriteCause::NotRegularFile, S_ISDIR(info.st_mode) ? EISDIR : EINVAL};
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ProcName(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Opened to be synced after a rename; a directory we may search but not
// read is still usable for the names in it, only the sync is lost.
int OpenDirectory(const std::string& directory) {
    const char* name = directory.empty() ? "." : directory.c_str();
    int fd = ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        fd = ::open(name, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

bool WriteAll(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return true;
}

bool ReadAll(int fd, std::string& bytes) {
    bytes.clear();
    char buffer[65536];
    for (;;) {
        ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

// Takes the room for `size` bytes before anything is overwritten, so that
// a full disk or a size limit shows up while the old bytes are still whole.
int Reserve(int fd, off_t oldSize, off_t size) {
    if (size == 0)
        return 0;
    int result;
    do
        result = ::fallocate(fd, 0, 0, size);
    while (result != 0 && errno == EINTR);
    if (result == 0)
        return 0;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // Without fallocate, zeros written past the old end take the room.
    static const char zeros[65536] = {};
    for (off_t at = oldSize; at < size;) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(sizeof zeros), size - at));
        if (!WriteAll(fd, std::string_view(zeros, chunk), at))
            return errno;
        at += static_cast<off_t>(chunk);
    }
    return 0;
}

// Writes `bytes` over the open file. The old contents stay in memory until
// the new ones are complete and synced; if a step fails they are put back
// (into room already taken) with the old length.
AtomicWriteResult WriteInPlace(int fd, bool readable, std::string_view bytes) {
    if (!readable)
        return Failure(EACCES); // the old bytes could not be put back
    std::string old;
    if (!ReadAll(fd, old))
        return Failure(errno);
    const off_t oldSize = static_cast<off_t>(old.size());
    const off_t size = static_cast<off_t>(bytes.size());
    int error = Reserve(fd, oldSize, size);
    if (!error && !WriteAll(fd, bytes, 0))
        error = errno;
    if (!error && size < oldSize && ::ftruncate(fd, size) != 0)
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (!error)
        return {};
    WriteAll(fd, old, 0);
    ::ftruncate(fd, oldSize);
    ::fsync(fd);
    return Failure(error);
}

enum class Step { Done, Failed, NotPossible };

struct Replaced {
    Step step = Step::Done;
    AtomicWriteResult result;
};

Replaced NotPossible(int error) {
    return {Step::NotPossible, Failure(error)};
}

// Writes the bytes to a new file in `dir` and renames it to `name` there.
// `existing` is the file being replaced (its owner and permissions carry
// over), or null. NotPossible: nothing was changed, and writing in place
// could still work; Failed: the bytes could not be written.
Replaced WriteAndRename(int dir, const std::string& name, std::string_view bytes,
                        const struct stat* existing, mode_t newFileMode) {
    std::string temp;
    Descriptor fd;
    // No two live threads share a thread id, so writers never pick the same
    // name; a leftover of an earlier write is passed over by the next attempt.
    const std::string stem =
        "." + name + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(::gettid()) + "-";
    for (int attempt = 0; attempt < kTempAttempts && !fd; ++attempt) {
        temp = stem + std::to_string(attempt);
        fd.reset(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          existing ? 0600 : newFileMode));
        if (!fd && errno != EEXIST)
            return NotPossible(errno);
    }
    if (!fd)
        return NotPossible(EEXIST);

    if (existing) {
        struct stat mine;
        int error = ::fstat(fd.get(), &mine) == 0 ? 0 : errno;
        if (!error && (mine.st_uid != existing->st_uid || mine.st_gid != existing->st_gid) &&
            ::fchown(fd.get(), existing->st_uid, existing->st_gid) != 0)
            error = errno;
        if (!error && ::fchmod(fd.get(), existing->st_mode & 07777) != 0)
            error = errno;
        if (error) {
            fd.reset();
            ::unlinkat(dir, temp.c_str(), 0);
            return NotPossible(error);
        }
    }

    int error = 0;
    if (!WriteAll(fd.get(), bytes, 0) || ::fsync(fd.get()) != 0)
        error = errno;
    if (fd.close() != 0 && error == 0)
        error = errno;
    if (error) {
        ::unlinkat(dir, temp.c_str(), 0);
        return {Step::Failed, Failure(error)};
    }
    if (::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
        error = errno;
        ::unlinkat(dir, temp.c_str(), 0);
        return NotPossible(error);
    }
    ::fsync(dir); // the rename is done; a failed sync only weakens durability
    return {};
}

// A link that another user left in a world-writable sticky directory (such
// as /tmp) lets them choose which file we overwrite. The kernel refuses to
// follow such links when fs.protected_symlinks is set; the same rule holds
// here whatever that setting is.
bool PlantedLink(const std::string& path, const struct stat& link) {
    if (link.st_uid == ::geteuid())
        return false;
    const std::string directory = DirectoryOf(path);
    struct stat parent;
    if (::stat(directory.empty() ? "." : directory.c_str(), &parent) != 0)
        return true; // cannot tell who may plant links there: do not follow
    const mode_t open = S_ISVTX | S_IWOTH;
    return (parent.st_mode & open) == open && link.st_uid != parent.st_uid;
}

// The directory the open file is in, and its name there, as the kernel
// knows them for the descriptor: the links on the way were followed by the
// kernel under its own rules when the file was opened. 0 when that name
// still leads to this very file.
int LocateOpenFile(int fd, const struct stat& info, Descriptor& dir, std::string& name) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(ProcName(fd).c_str(), buffer, sizeof buffer);
    if (length < 0)
        return errno;
    if (static_cast<std::size_t>(length) >= sizeof buffer)
        return ENAMETOOLONG;
    const std::string real(buffer, static_cast<std::size_t>(length));
    if (real.empty() || real.front() != '/')
        return ENOENT;
    const std::size_t slash = real.rfind('/');
    name = real.substr(slash + 1);
    dir.reset(OpenDirectory(real.substr(0, slash + 1)));
    if (!dir)
        return errno;
    struct stat there;
    if (::fstatat(dir.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    return SameFile(there, info) ? 0 : ENOENT; // deleted or renamed meanwhile
}

// Removes the empty file this call created, unless someone has put another
// file at its name or written into it since.
void RemoveCreated(int dir, const std::string& name, const struct stat& created) {
    struct stat now;
    if (::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, created) &&
        now.st_size == 0)
        ::unlinkat(dir, name.c_str(), 0);
}

// A path where nothing is yet: the new file appears complete or not at all.
AtomicWriteResult WriteNewFile(const std::string& path, std::string_view bytes,
                               const AtomicWriteOptions& options) {
    const std::string directory = DirectoryOf(path);
    const std::string name = path.substr(directory.size());
    if (name.empty())
        return Failure(ENOENT);
    Descriptor dir(OpenDirectory(directory));
    if (!dir)
        return Failure(errno);
    const Replaced replaced = WriteAndRename(dir.get(), name, bytes, nullptr, options.newFileMode);
    if (replaced.step != Step::NotPossible || !options.inPlaceFallback)
        return replaced.result;
    // No second file fits beside it (e.g. a name too long for the temporary
    // one): the file itself is made and written.
    Descriptor file(::openat(dir.get(), name.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                             options.newFileMode));
    struct stat info;
    if (!file || ::fstat(file.get(), &info) != 0)
        return Failure(errno);
    const AtomicWriteResult result = WriteInPlace(file.get(), true, bytes);
    if (!result.ok())
        RemoveCreated(dir.get(), name, info);
    return result;
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
    // The entry itself first: a link is looked at before it is followed, and
    // nothing at the path is opened for I/O before it is known to be a file
    // (opening a FIFO to write waits for a reader, opening a device acts).
    Descriptor entry(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!entry)
        return errno == ENOENT ? WriteNewFile(path, bytes, options) : Failure(errno);
    struct stat info;
    if (::fstat(entry.get(), &info) != 0)
        return Failure(errno);

    Descriptor file;
    bool created = false;
    if (S_ISLNK(info.st_mode)) {
        if (PlantedLink(path, info))
            return Failure(EACCES);
        entry.reset(::open(path.c_str(), O_PATH | O_CLOEXEC));
        if (!entry) {
            if (errno != ENOENT)
                return Failure(errno);
            // A dangling link: its file is made where it points, by the
            // kernel, as any program writing through the link would.
            file.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                              options.newFileMode));
            if (!file)
                return Failure(errno);
            created = true;
        } else if (::fstat(entry.get(), &info) != 0) {
            return Failure(errno);
        }
    }
    bool readable = true;
    if (!file) {
        if (!S_ISREG(info.st_mode))
            return NotRegular(info);
        // Opened again through the descriptor: the very file looked at, and
        // with the permission checks of an open. A read-only file stays
        // read-only even though it would be replaced rather than written.
        const std::string again = ProcName(entry.get());
        file.reset(::open(again.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!file && errno == EACCES) {
            readable = false;
            file.reset(::open(again.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        }
        if (!file)
            return errno == ENOENT ? AtomicWriteResult{AtomicWriteCause::Failed, ENOENT}
                                   : Failure(errno); // ENOENT: no /proc
    }
    if (::fstat(file.get(), &info) != 0)
        return Failure(errno);
    if (!S_ISREG(info.st_mode))
        return NotRegular(info); // put there after the link was found dangling

    const bool fallback = options.inPlaceFallback;
    Descriptor dir;
    std::string name;
    AtomicWriteResult result;
    if (const int error = LocateOpenFile(file.get(), info, dir, name); error != 0) {
        dir.reset();
        result = fallback ? WriteInPlace(file.get(), readable, bytes) : Failure(error);
    } else if (info.st_nlink != 1 && fallback) {
        // Replacing one name of a hard-linked file would part it from the
        // others; where in-place writing is allowed, all names get the bytes.
        result = WriteInPlace(file.get(), readable, bytes);
    } else {
        const Replaced replaced =
            WriteAndRename(dir.get(), name, bytes, &info, options.newFileMode);
        result = replaced.step == Step::NotPossible && fallback
                     ? WriteInPlace(file.get(), readable, bytes)
                     : replaced.result;
    }
    if (!result.ok() && created && dir)
        RemoveCreated(dir.get(), name, info);
    return result;
}
