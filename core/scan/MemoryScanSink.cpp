#include "core/scan/MemoryScanSink.h"

void MemoryScanSink::RowsCleared() {
    rows.DeleteAllItems();
}

void MemoryScanSink::RowAdded(int row, const std::string& address) {
    rows.InsertItem(row, address);
}

void MemoryScanSink::RowResult(int row, const HostRecord& record) {
    rows.SetRecord(row, record);
}

void MemoryScanSink::Finished(const ScanSummary& summary) {
    if (!summary.keepSilent)
        rows.RemoveSilentRows();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_finished = true;
        m_summary = summary;
    }
    m_ended.notify_all();
    if (m_onFinished)
        m_onFinished();
}

void MemoryScanSink::Notice(const ScanNotice& notice) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_notices.push_back(notice);
    }
    if (m_onNotice)
        m_onNotice(notice);
}

bool MemoryScanSink::WaitForEnd(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_ended.wait_for(guard, limit, [this] { return m_finished; });
}

bool MemoryScanSink::Ended() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_finished;
}

ScanSummary MemoryScanSink::Summary() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_summary;
}

std::vector<ScanNotice> MemoryScanSink::Notices() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_notices;
}
