#include "core/inventory/sqlite/InventoryRecorder.h"

#include <system_error>

InventoryRecorder::InventoryRecorder(Done done) : m_done(std::move(done)) {}

InventoryRecorder::~InventoryRecorder() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void InventoryRecorder::Record(std::string path, RecordedScan scan) {
    Outcome failed;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_queue.emplace_back(std::move(path), std::move(scan));
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread(&InventoryRecorder::Run, this);
            } catch (const std::system_error& e) {
                failed.path = m_queue.back().first;
                failed.error = e.what();
                m_queue.pop_back();
            }
        }
    }
    if (!failed.error.empty()) {
        if (m_done)
            m_done(failed);
        return;
    }
    m_wake.notify_one();
}

InventoryRecorder::Outcome InventoryRecorder::RecordNow(const std::string& path,
                                                        const RecordedScan& scan) {
    Outcome outcome;
    outcome.path = path;
    InventoryStore::Opened opened = InventoryStore::Open(path);
    outcome.keptAside = opened.keptAside;
    outcome.error = opened.error;
    if (!opened.store)
        return outcome;
    outcome.scan = opened.store->Record(scan, outcome.error);
    // Damage met while writing: the file went aside and the scan into a new store.
    if (!opened.store->KeptAside().empty())
        outcome.keptAside = opened.store->KeptAside();
    if (outcome.scan < 0)
        return outcome;
    outcome.error.clear();
    std::vector<Change> changes;
    for (ReportedChange& reported : opened.store->ChangesOf(outcome.scan))
        changes.push_back(std::move(reported.change));
    outcome.counts = CountChanges(changes);
    return outcome;
}

void InventoryRecorder::Run() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_wake.wait(hold, [this] { return m_stopping || !m_queue.empty(); });
        // Stopping still writes what was handed over.
        if (m_queue.empty())
            return;
        auto [path, scan] = std::move(m_queue.front());
        m_queue.pop_front();
        hold.unlock();
        const Outcome outcome = RecordNow(path, scan);
        if (m_done)
            m_done(outcome);
        hold.lock();
    }
}
