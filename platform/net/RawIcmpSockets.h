#pragma once
// Raw ICMP sockets for a process that may not open them itself: they come
// from vopal-icmp-helper, the one program of ours that holds cap_net_raw
// (permitted only), which opens a batch of them, drops its capabilities,
// passes the descriptors over a Unix socket and exits.
//
// A raw ICMP socket sees every ICMP message of the host, so a socket handed
// back to the pool is muted (its ICMP filter lets nothing in) until it is
// taken again; the next user drains what arrived before its filter opened.

#include <mutex>
#include <string>
#include <vector>

// Starts the helper at `helperPath` and receives its sockets. False, with the
// reason in `error`, when it could not be started or sent nothing.
bool RequestRawIcmpSockets(const std::string& helperPath, std::vector<int>& sockets,
                           std::string& error);

// Where the helper sits for an executable in `executableDirectory` (ending
// with '/'): installed, in ../lib/kestrune-durvane/ beside bin; in the build
// tree, beside the program. Empty when neither holds it.
std::string FindIcmpHelper(const std::string& executableDirectory);

// The same for the running executable (/proc/self/exe), never from the
// environment: whoever starts us must not choose what we run.
std::string FindIcmpHelperOfThisProgram();

class RawIcmpSocketPool {
public:
    explicit RawIcmpSocketPool(std::string helperPath) : m_helperPath(std::move(helperPath)) {}
    ~RawIcmpSocketPool();
    RawIcmpSocketPool(const RawIcmpSocketPool&) = delete;
    RawIcmpSocketPool& operator=(const RawIcmpSocketPool&) = delete;

    // A socket for one probe, asking the helper for a new batch when none is
    // left; -1 when the helper gives none (errno is EPERM then).
    int Take();
    // Back into the pool, muted.
    void Give(int fd);

    const std::string& HelperPath() const { return m_helperPath; }

private:
    std::string m_helperPath;
    std::mutex m_lock;
    std::vector<int> m_idle;
};
