#pragma once
// A scan's reports kept in memory, for vopal-scan and the engine tests: the
// rows in a MemoryResultList (each host's value without its raw name table),
// applied as they come, the notices in order, and the end awaited on a
// condition.

#include "core/scan/MemoryResultList.h"
#include "core/scan/ScanSink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class MemoryScanSink : public ScanSink {
public:
    void LanaChosen(int lana) override { m_lana = lana; }
    void RowsCleared() override;
    void RowAdded(int row, const std::string& address) override;
    void RowResult(int row, const HostRecord& record) override;
    void Progress(unsigned addressesDrawn) override { m_drawn = addressesDrawn; }
    void SendRate(double perSecond) override { m_rate = perSecond; }
    void Finished(const ScanSummary& summary) override;
    void Notice(const ScanNotice& notice) override;

    // Called on the scan's thread right after Finished has been applied.
    void SetOnFinished(std::function<void()> onFinished) { m_onFinished = std::move(onFinished); }
    // Called on the scan's thread with each notice as it comes.
    void SetOnNotice(std::function<void(const ScanNotice&)> onNotice) {
        m_onNotice = std::move(onNotice);
    }

    // False when the scan has not ended within `limit`.
    bool WaitForEnd(std::chrono::milliseconds limit);
    bool Ended();
    ScanSummary Summary();
    std::vector<ScanNotice> Notices();

    int Lana() const { return m_lana; }
    unsigned Drawn() const { return m_drawn; }
    double Rate() const { return m_rate; }

    MemoryResultList rows;

private:
    std::atomic<int> m_lana{-1};
    std::atomic<unsigned> m_drawn{0};
    std::atomic<double> m_rate{0};
    std::function<void()> m_onFinished;
    std::function<void(const ScanNotice&)> m_onNotice;
    std::mutex m_lock;
    std::condition_variable m_ended;
    bool m_finished = false;
    ScanSummary m_summary;
    std::vector<ScanNotice> m_notices;
};
