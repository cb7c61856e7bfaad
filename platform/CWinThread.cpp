#include "platform/CWinThread.h"

#include <system_error>
#include <thread>

CWinThread::~CWinThread() = default;

bool CWinThread::CreateThread() {
    try {
        std::thread(&CWinThread::Routine, this).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CWinThread::ResumeThread() {
    std::lock_guard<std::mutex> guard(m_gateLock);
    m_resumed = true;
    m_gate.notify_one();
}

void CWinThread::Routine() {
    {
        std::unique_lock<std::mutex> guard(m_gateLock);
        m_gate.wait(guard, [this] { return m_resumed; });
    }
    Run();
    std::function<void()> afterDelete = std::move(m_afterDelete);
    delete this;
    if (afterDelete)
        afterDelete();
}
