#pragma once
// The window's memory of its scans: each finished scan is handed to an
// InventoryRecorder, which writes it on its own thread; the outcome comes
// back to the window thread by a queued call. There the counts of what
// changed are announced, and a store that cannot be opened or written is
// told to the user once (again only after a scan was recorded since), as is
// a damaged file kept aside. Destroying it waits for the scans handed over.

#include "core/inventory/sqlite/InventoryRecorder.h"

#include <QObject>
#include <memory>
#include <string>

class QWidget;

class ScanMemory : public QObject {
    Q_OBJECT
public:
    // `view` is the widget whose window owns the message boxes.
    explicit ScanMemory(QWidget* view);
    ~ScanMemory() override;

    // Hands a scan over for the store at `path`; returns at once.
    void Record(const std::string& path, RecordedScan scan);

    // Scans handed over whose outcome has not come back yet.
    int Pending() const { return m_pending; }

signals:
    // A scan was recorded: "前回との比較: 新規 a・消失 g・変更 c".
    void recorded(const QString& countsText);
    // A scan could not be recorded.
    void failed();

private:
    void OnOutcome(const InventoryRecorder::Outcome& outcome);

    QWidget* m_view;
    int m_pending = 0;
    bool m_failureTold = false;
    // Last, so that its thread is joined before the rest goes.
    std::unique_ptr<InventoryRecorder> m_recorder;
};
