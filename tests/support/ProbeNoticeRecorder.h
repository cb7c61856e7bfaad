#pragma once
// Receives the probe notices of the thread that makes it, for its lifetime,
// and of any other thread that installs its Receiver(); keeps them in order.

#include "platform/win32/ProbeNotices.h"

#include <mutex>
#include <vector>

class ProbeNoticeRecorder {
public:
    ProbeNoticeRecorder();
    ProbeNoticeRecorder(const ProbeNoticeRecorder&) = delete;
    ProbeNoticeRecorder& operator=(const ProbeNoticeRecorder&) = delete;

    // For a ProbeNoticeScope on another thread.
    ProbeNoticeReceiver Receiver();
    std::vector<UserMessage> notices() const;
    size_t count() const;

private:
    mutable std::mutex m_lock;
    std::vector<UserMessage> m_notices;
    ProbeNoticeScope m_scope; // last: it hands notices to the members above
};
