#include "core/scan/ScanEngineThread.h"

#include <cstdlib>
#include <system_error>

ScanEngineThread::~ScanEngineThread() {
    // A thread still running here would call Run of an object half gone.
    if (m_thread.joinable())
        std::abort();
}

bool ScanEngineThread::Start() {
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void ScanEngineThread::Stop() {
    m_stop.Raise();
    OnStop();
}

void ScanEngineThread::Wait() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}
