#include "tests/support/ProbeNoticeRecorder.h"

ProbeNoticeRecorder::ProbeNoticeRecorder() : m_scope(Receiver()) {}

ProbeNoticeReceiver ProbeNoticeRecorder::Receiver() {
    return [this](const UserMessage& notice) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_notices.push_back(notice);
    };
}

std::vector<UserMessage> ProbeNoticeRecorder::notices() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_notices;
}

size_t ProbeNoticeRecorder::count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_notices.size();
}
