#pragma once
// The single-instance lock "TARNEL": an exclusive flock on a file of that
// name in the user's runtime directory. The kernel drops the lock when the
// holder ends, however it ends, so a crashed copy never blocks the next one.
// The file itself stays; removing it would let two copies lock two files.

#include <cerrno>
#include <string>

class InstanceLock {
public:
    static constexpr const char* kName = "TARNEL";

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock at DefaultPath().
    static InstanceLock Acquire();

    // Takes the lock on the file at `path` without waiting. The file is
    // created (mode 0600) when missing; a symbolic link or anything other
    // than a regular file at the path is refused, not followed or opened.
    static InstanceLock Acquire(const std::string& path);

    // $XDG_RUNTIME_DIR/TARNEL when that variable names an absolute path of a
    // directory this user may write, else TARNEL in $TMPDIR (when absolute)
    // or /tmp.
    static std::string DefaultPath();

    bool held() const { return m_fd >= 0; }

    // Why the lock is not held: 0 while held or before any attempt,
    // EWOULDBLOCK when another open file holds it (another copy runs), any
    // other errno when the file could not be opened or locked, ELOOP for a
    // symbolic link and EINVAL for a path that is not a regular file.
    int error() const { return m_error; }
    bool heldElsewhere() const { return m_error == EWOULDBLOCK; }

    // Gives the lock up; a second call does nothing.
    void Release();

private:
    int m_fd = -1;
    int m_error = 0;
};
