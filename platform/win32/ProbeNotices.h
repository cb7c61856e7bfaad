#pragma once
// What a probe meets on this machine that the user must know (a socket that
// cannot be opened for want of descriptors or memory, no ICMP socket allowed)
// is no box of the probe's own: it goes, as a value, to whoever runs the
// probes on this thread. A scan hands it to its sink; a dialog shows it.

#include "platform/win32/UserMessage.h"

#include <functional>
#include <vector>

using ProbeNoticeReceiver = std::function<void(const UserMessage&)>;

// While one lives, the notices of the probes made on this thread go to its
// receiver; the one it covered gets them again when it ends. Made and ended
// on the same thread, innermost first.
class ProbeNoticeScope {
public:
    explicit ProbeNoticeScope(ProbeNoticeReceiver receiver);

    // A scope that holds the thread's notices while it lives and, when it
    // ends, hands them in order to the scope it covered. Declared before a
    // lock guard, it keeps the notices (and a receiver that waits for the
    // user to read them) outside the lock.
    struct Hold {};
    explicit ProbeNoticeScope(Hold);

    ~ProbeNoticeScope();
    ProbeNoticeScope(const ProbeNoticeScope&) = delete;
    ProbeNoticeScope& operator=(const ProbeNoticeScope&) = delete;

private:
    friend void TellProbeNotice(const UserMessage& notice);

    ProbeNoticeReceiver m_receiver; // empty while holding
    bool m_holding = false;
    std::vector<UserMessage> m_held;
    ProbeNoticeScope* m_covered;
};

// Hands a notice to this thread's receiver. A thread without one (a tool
// that never installs one) writes it to standard error, as a box without a
// window is written.
void TellProbeNotice(const UserMessage& notice);
