#pragma once
// A scan's reports kept in memory, for vopal-scan and the engine tests: the
// rows in a MemoryResultList (each host's value without its raw name table),
// applied as they come, and the end awaited on a condition.

#include "core/scan/MemoryResultList.h"
#include "core/scan/ScanSink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class MemoryScanSink : public ScanSink {
public:
    void LanaChosen(int lana) override { m_lana = lana; }
    void RowsCleared() override;
    void RowAdded(int row, const std::string& address) override;
    void RowResult(int row, const HostRecord& record) override;
    void Progress(unsigned addressesDrawn) override { m_drawn = addressesDrawn; }
    void SendRate(double perSecond) override { m_rate = perSecond; }
    void Finished(const ScanSummary& summary) override;

    // Called on the scan's thread right after Finished has been applied.
    void SetOnFinished(std::function<void()> onFinished) { m_onFinished = std::move(onFinished); }

    // False when the scan has not ended within `limit`.
    bool WaitForEnd(std::chrono::milliseconds limit);
    bool Ended();
    ScanSummary Summary();

    int Lana() const { return m_lana; }
    unsigned Drawn() const { return m_drawn; }
    double Rate() const { return m_rate; }

    MemoryResultList rows;

private:
    std::atomic<int> m_lana{-1};
    std::atomic<unsigned> m_drawn{0};
    std::atomic<double> m_rate{0};
    std::function<void()> m_onFinished;
    std::mutex m_lock;
    std::condition_variable m_ended;
    bool m_finished = false;
    ScanSummary m_summary;
};
