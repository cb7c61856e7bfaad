#pragma once
// The scan start dialog: the user edits the list of address ranges, and
// starts and stops a scan. Opened modally by the result view. Start saves the
// list, reads it back and hands its ranges with the settings' options to a
// scan engine, whose reports go to the view's model. While a scan runs only
// Stop is usable and the dialog cannot be closed, so the scan never outlives
// the dialog and the view it reports to.

#include "core/inventory/sqlite/ScanRecording.h"
#include "core/ranges/AddressRange.h"
#include "core/scan/ScanRequest.h"
#include "gui/res/CBusyDialog.h"

#include <cstdint>
#include <memory>
#include <vector>

class CIpAddressCtrl;
class ScanEngine;
class ListControlRangeRows;
class ModelScanSink;
class ResultModel;
struct ScanSettingsRecord;
class ScanProbes;
struct Outcome;
struct ScanSummary;
class QCheckBox;
class QTreeWidget;

class CScanStartDlg : public CBusyDialog {
    Q_OBJECT
public:
    // The last scan started from the dialog, as the inventory records it.
    struct ScanRun {
        std::vector<AddressRange> ranges;
        ScanOptions options;
        std::int64_t startedMs = 0; // Unix time
        bool failed = false;        // no adapter: the scan walked nothing
        RecordedScan recording;     // its own answering rows, once it has ended
    };

    // The most rows one scan adds to the list.
    static constexpr int kRowLimit = 20000;

    // `results` receives the scans' rows; `settings` (the application's) give
    // the list file and the scans' options; `mainWindow` owns the scans'
    // message boxes; `probes` are the scans'.
    CScanStartDlg(ResultModel* results, ScanSettingsRecord& settings, QWidget* mainWindow,
                  ScanProbes& probes);
    ~CScanStartDlg() override;

    bool ScanRunning() const { return m_pManager != nullptr; }
    bool Busy() const override { return ScanRunning(); }
    // Stops the scan under way, if any; it still reports its end.
    void StopScan() { OnStop(); }

    ListControlRangeRows& Rows() { return *m_rows; }
    const ScanRun& LastScan() const { return m_run; }

public slots:
    void accept() override; // Close: saves the list first

signals:
    // The scan has ended, its rows are in the view and the controls are back.
    void scanFinished();

private:
    void OnAdd();
    void OnDelete();
    void OnCopy();
    void OnSave();
    void OnChangeListFile();
    void OnStart();
    void OnStop();
    void OnScanFinished(const ScanSummary& summary);
    // The list file written from the rows, and read into them; a failure is
    // told in a box over the dialog. True when it went well.
    bool SaveList();
    bool LoadList();
    bool Tell(const Outcome& outcome);

    ResultModel* m_results;
    ScanSettingsRecord& m_settings;
    QWidget* m_mainWindow;
    ScanProbes& m_probes;
    CIpAddressCtrl* m_startAddress;
    CIpAddressCtrl* m_endAddress;
    QTreeWidget* m_list;
    QCheckBox* m_dontSave;
    std::unique_ptr<ListControlRangeRows> m_rows;
    std::unique_ptr<ModelScanSink> m_sink;  // of the scan under way
    std::unique_ptr<ScanEngine> m_pManager; // the scan's engine; null when no scan runs
    ScanRun m_run;
};
