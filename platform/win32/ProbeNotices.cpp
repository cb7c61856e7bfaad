#include "platform/win32/ProbeNotices.h"

#include <cstdio>

namespace {

thread_local ProbeNoticeScope* t_scope = nullptr;

} // namespace

ProbeNoticeScope::ProbeNoticeScope(ProbeNoticeReceiver receiver)
    : m_receiver(std::move(receiver)), m_covered(t_scope) {
    t_scope = this;
}

ProbeNoticeScope::ProbeNoticeScope(Hold) : m_holding(true), m_covered(t_scope) {
    t_scope = this;
}

ProbeNoticeScope::~ProbeNoticeScope() {
    t_scope = m_covered;
    for (const UserMessage& notice : m_held)
        TellProbeNotice(notice);
}

void TellProbeNotice(const UserMessage& notice) {
    if (t_scope && t_scope->m_holding) {
        t_scope->m_held.push_back(notice);
        return;
    }
    if (t_scope && t_scope->m_receiver) {
        t_scope->m_receiver(notice);
        return;
    }
    // One fprintf, so that notices from two threads never interleave.
    std::fprintf(stderr, "[%s] %s\n", notice.caption.c_str(), notice.text.c_str());
}
