#pragma once
// The scan start dialog: the user edits the list of address ranges, and
// starts and stops a scan. Opened modally by the result view. While a scan
// runs only Stop is usable and the dialog cannot be closed, so the scan
// never outlives the dialog and the view it writes to.

#include "res/CBusyDialog.h"
#include "scan/ScanStartDialog.h"

#include <atomic>
#include <functional>
#include <memory>

class CIpAddressCtrl;
class CTarnelView;
class CThreadManager;
class ListControlRangeRows;
class QCheckBox;
class QTreeWidget;

class CScanStartDlg : public CBusyDialog, public ScanStartDialog {
    Q_OBJECT
public:
    // `view` receives the results; `mainWindow` owns the scan's message boxes.
    CScanStartDlg(CTarnelView* view, QWidget* mainWindow);
    ~CScanStartDlg() override;

    // ScanStartDialog, callable from the scan's threads.
    ResultList* View() override;
    void EnableControl(int controlId, bool enable) override;
    void* MainWindow() override;
    void OnManagerEnded() override;

    bool ScanRunning() const { return m_scanRunning.load(); }
    bool Busy() const override { return ScanRunning(); }
    // True while any scan started from a dialog has not ended.
    static bool AnyScanRunning();

    // Test seam: makes the manager of a scan (with scripted probes, say).
    // Empty = the real one.
    static std::function<CThreadManager*()> s_createManagerForTests;
    ListControlRangeRows& Rows() { return *m_rows; }

    CTarnelView* m_pView;
    CThreadManager* m_pManager = nullptr;

public slots:
    void accept() override; // Close: saves the list first

signals:
    // The manager has ended and the controls are back.
    void scanFinished();

private:
    void OnAdd();
    void OnDelete();
    void OnCopy();
    void OnSave();
    void OnChangeListFile();
    void OnStart();
    void OnStop();
    bool SaveList();

    QWidget* m_mainWindow;
    CIpAddressCtrl* m_startAddress;
    CIpAddressCtrl* m_endAddress;
    QTreeWidget* m_list;
    QCheckBox* m_dontSave;
    std::unique_ptr<ListControlRangeRows> m_rows;
    std::atomic<bool> m_scanRunning{false};
};
