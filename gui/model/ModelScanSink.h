#pragma once
// The window's end of a scan: the engine's threads report to it without
// waiting; the reports are queued and applied to the result list's model on
// the window thread, in order and in batches (one insertion for a run of new
// rows, one change notice for a run of results).

#include "core/scan/MemoryResultList.h"
#include "core/scan/ScanSink.h"

#include <QObject>
#include <deque>
#include <mutex>
#include <variant>
#include <vector>

class QWidget;
class ResultModel;

class ModelScanSink : public QObject, public ScanSink {
    Q_OBJECT
public:
    explicit ModelScanSink(ResultModel* model, QObject* parent = nullptr);

    // ScanSink, from any thread.
    void LanaChosen(int lana) override;
    void RowsCleared() override;
    void RowAdded(int row, const std::string& address) override;
    void RowResult(int row, const HostRecord& record) override;
    void Finished(const ScanSummary& summary) override;
    void RowLimitReached(int limit) override;
    // Shown at once as a box, the calling thread waiting for the user as it
    // always has: the scan's own owned by the window given, a probe's by none.
    void Notice(const ScanNotice& notice) override;

    // The window that owns the boxes of the scan's own notices; set before
    // the scan starts.
    void OwnBoxesBy(QWidget* window) { m_boxOwner = window; }

    // The rows carry what showed each host to be there (the event-driven
    // engine's evidence), for the response cell's tool tip.
    void ShowReasons(bool show) { m_showReasons = show; }
    // The rows carry every name of each host with its source (the
    // event-driven engine's), for the computer cell's tool tip.
    void ShowNames(bool show) { m_showNames = show; }

    // Applies what has been queued so far; the window thread calls it by
    // itself soon after each report.
    void Drain();

    // The scan's own rows as its engine reported them, whatever the view has
    // done with its copies since (sorted, deleted, cleared by the next scan).
    MemoryResultList& ScanRows() { return m_scanRows; }

signals:
    // On the window thread, in report order.
    void lanaChosen(int lana);
    // The last rows are in the model and the silent ones are gone (unless kept).
    void finished(const ScanSummary& summary);
    // The scan stopped at the request's row limit; its rows up to then are in
    // the model. Queued, so that a box shown for it never runs inside Drain.
    void rowLimitReached(int limit);

private:
    struct Cleared {};
    struct Limit {
        int rows;
    };
    struct Added {
        int row;
        std::string address;
    };
    // The row packed into one string, as the model keeps it: a scan can
    // queue thousands of these before the window thread takes them.
    struct Result {
        int row;
        std::string packed; // ResultModel::PackRow
        unsigned reasons;
        bool names;
    };
    using Report = std::variant<int, Cleared, Added, Result, ScanSummary, Limit>;

    void Post(Report report);

    ResultModel* m_model;
    MemoryResultList m_scanRows;
    bool m_showReasons = false; // set before the scan starts
    bool m_showNames = false;   // set before the scan starts
    QWidget* m_boxOwner = nullptr;
    std::mutex m_lock;
    // In blocks, for the same reason as the scan's own rows: thousands of
    // reports may wait here while the window thread is busy.
    std::deque<Report> m_queue;
    bool m_drainPosted = false;
};
