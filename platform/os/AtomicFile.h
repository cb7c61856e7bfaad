#pragma once
// Replaces a file's contents so that a failure at any point keeps the old
// file whole: the bytes go to a new file beside it, which is flushed and then
// renamed over the old one, and the directory is synced so that the rename
// itself survives a crash.
//
// A symbolic link is written through: the kernel follows it when the file is
// opened, the file it leads to is replaced (or, for a dangling link, created)
// and the link stays. A link that another user put in a world-writable sticky
// directory (such as /tmp) is never followed. Only a regular file is written:
// a directory, FIFO, device or socket at the path is refused without being
// opened. An existing file keeps its owner and permissions; a file that cannot
// be given them is not replaced. Every failure says why, so that the caller
// can tell the user (disk full, no permission, not a regular file).

#include <string>
#include <string_view>
#include <sys/types.h>

enum class AtomicWriteCause {
    None,           // written
    NoPermission,   // the file or its directory may not be written (EACCES, EPERM, EROFS),
                    // or the path is a link planted by another user
    DiskFull,       // no room for the new contents (ENOSPC, EDQUOT, EFBIG)
    NotRegularFile, // a directory, FIFO, device or socket is at the path
    NoDirectory,    // the directory does not exist (ENOENT, ENOTDIR)
    Failed,         // any other error; `error` tells which
};

struct AtomicWriteResult {
    AtomicWriteCause cause = AtomicWriteCause::None;
    int error = 0; // errno of the step that failed; 0 when written

    bool ok() const { return cause == AtomicWriteCause::None; }
};

struct AtomicWriteOptions {
    // The permissions of a file that does not exist yet, before the umask.
    mode_t newFileMode = 0666;
    // Where the file cannot be replaced by a new one -- several hard links, a
    // directory that does not let us create the new file beside it, an owner
    // the new file cannot be given -- write it in place instead. The promise
    // holds there too: the new size is reserved first, the old contents are
    // kept in memory until the new ones are complete, and on any failure the
    // old bytes and length are put back. Only for files whose earlier versions
    // were always written that way; without it those cases fail.
    bool inPlaceFallback = false;
};

// Writes `bytes` as the whole contents of the file at `path`, creating it
// when it does not exist (its directory must exist). An existing file must be
// writable by us: a read-only file stays as it is. On failure no temporary
// file is left behind and the file at `path` is the one from before the call,
// byte for byte (a file made for a dangling link is removed again).
AtomicWriteResult WriteFileAtomically(const std::string& path, std::string_view bytes,
                                      const AtomicWriteOptions& options = {});

// The cause an errno value stands for.
AtomicWriteCause AtomicWriteCauseOf(int error);
