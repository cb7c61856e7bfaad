#include "gui/model/ModelScanSink.h"

#include "gui/model/ResultModel.h"
#include "gui/platform/QtMessageBox.h"
#include "platform/win32/MessageBox.h"

#include <algorithm>
#include <climits>
#include <cstdint>

ModelScanSink::ModelScanSink(ResultModel* model, QObject* parent)
    : QObject(parent), m_model(model) {}

void ModelScanSink::LanaChosen(int lana) {
    Post(lana);
}

void ModelScanSink::RowsCleared() {
    m_scanRows.DeleteAllItems();
    Post(Cleared{});
}

void ModelScanSink::RowAdded(int row, const std::string& address) {
    m_scanRows.InsertItem(row, address);
    Post(Added{row, address});
}

void ModelScanSink::RowResult(int row, const HostRecord& record) {
    m_scanRows.SetRecord(row, record);
    Post(Result{row, ResultModel::PackRow(record, m_showNames), m_showReasons ? record.reasons : 0u,
                m_showNames});
}

void ModelScanSink::Finished(const ScanSummary& summary) {
    Post(summary);
}

void ModelScanSink::RowLimitReached(int limit) {
    Post(Limit{limit});
}

void ModelScanSink::Notice(const ScanNotice& notice) {
    // Not queued: a box that waits for its turn would come after the end of
    // the scan, and a later one could open over it.
    if (notice.source == ScanNotice::Source::Probe)
        ShowProbeNotice(notice.message);
    else
        MessageBoxA(BoxOwner(m_boxOwner), notice.message);
}

void ModelScanSink::Post(Report report) {
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // A row's newer result makes the one still queued for it moot: each
        // is the whole row.
        auto* last = m_queue.empty() ? nullptr : std::get_if<Result>(&m_queue.back());
        const auto* result = std::get_if<Result>(&report);
        if (last && result && last->row == result->row)
            *last = std::move(*result);
        else
            m_queue.push_back(std::move(report));
        post = !m_drainPosted;
        m_drainPosted = true;
    }
    // One wake-up for everything queued until the window thread gets to it.
    if (post)
        QMetaObject::invokeMethod(
            this, [this] { Drain(); }, Qt::QueuedConnection);
}

void ModelScanSink::Drain() {
    std::deque<Report> reports;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        reports.swap(m_queue);
        m_drainPosted = false;
    }
    ResultModel& model = *m_model;
    std::vector<std::string> added;
    int changedFirst = INT_MAX;
    int changedLast = -1;
    auto flush = [&] {
        model.AppendRows(added);
        added.clear();
        model.RowsChanged(changedFirst, changedLast);
        changedFirst = INT_MAX;
        changedLast = -1;
    };
    for (Report& report : reports) {
        if (auto* row = std::get_if<Added>(&report)) {
            // The scan's rows follow one another from the first after the
            // clearing, so a new row is always the next one at the end.
            added.push_back(std::move(row->address));
        } else if (auto* result = std::get_if<Result>(&report)) {
            if (!added.empty())
                flush();
            if (model.SetRowQuietly(result->row, std::move(result->packed), result->reasons,
                                    result->names)) {
                changedFirst = std::min(changedFirst, result->row);
                changedLast = std::max(changedLast, result->row);
            }
        } else if (std::holds_alternative<Cleared>(report)) {
            flush();
            model.RemoveAll();
        } else if (auto* lana = std::get_if<int>(&report)) {
            flush();
            emit lanaChosen(*lana);
        } else if (auto* limit = std::get_if<Limit>(&report)) {
            flush();
            const int rows = limit->rows;
            QMetaObject::invokeMethod(
                this, [this, rows] { emit rowLimitReached(rows); }, Qt::QueuedConnection);
        } else if (auto* summary = std::get_if<ScanSummary>(&report)) {
            flush();
            if (!summary->keepSilent)
                model.RemoveSilentRows();
            emit finished(*summary);
        }
    }
    flush();
}
