#pragma once
// The result view: the main window's one report-style list of scan results.
// Its model is the only store of results. The commands reach it as a
// ResultList, on the window thread; a scan's reports reach the model through
// a ModelScanSink.

#include "core/scan/ResultList.h"
#include "gui/view/ShellCommands.h"

#include <QTableView>
#include <functional>

class ResultModel;
class ScanMemory;
class ScanProbes;
class CScanStartDlg;
struct ScanSettingsRecord;

class CTarnelView : public QTableView, public ResultList {
    Q_OBJECT
public:
    // `settings` is the application's, used by the commands (scan, options,
    // diagnose, Net command); it must outlive the view. `probes` are the
    // scans' and diagnoses', and outlive the view too.
    CTarnelView(ScanSettingsRecord& settings, ScanProbes& probes, QWidget* parent = nullptr);
    ~CTarnelView() override;

    // Creates the seven columns with their widths (title width plus the
    // column's margin, in the list's font).
    void OnInitialUpdate();

    // Runs a command the view handles; false when it is not one of them.
    bool OnCommand(int command);

    // What starts the Net command's terminal (QProcess::startDetached unless
    // set; tests record the call instead).
    void SetProgramStarter(DetachedStarter starter);
    // What opens the help file and the home page (the desktop unless set).
    void SetDesktopOpener(ShellOpenHandler opener);

    // True while a scan started from the view's scan start dialog runs.
    bool ScanRunning() const;
    // Stops that scan (the program is asked to end); it still reports its end.
    void StopScan();

    // Where the commands chosen in the context menu go: the main window's
    // command routing, which brings them back to OnCommand. Without one they
    // go to OnCommand directly.
    void SetCommandRouter(std::function<bool(int)> router);

    // The context-menu request at a point in screen coordinates: remembers
    // the row under it in m_nContextRow and, over a row, shows the menu there.
    void OnContextMenu(const QPoint& screenPos);

    // ResultList, on the window thread.
    int GetItemCount() override;
    int InsertItem(int index, const std::string& text) override;
    bool SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) override;
    bool DeleteItem(int row) override;
    bool DeleteAllItems() override;
    std::string GetColumnTitle(int column) override;
    int RemoveSilentRows() override;

    ResultModel* Model() const { return m_model; }
    ScanSettingsRecord& Settings() const { return m_settings; }
    ScanMemory* Memory() const { return m_memory; }
    // The inventory the window records its scans in.
    std::string InventoryPath() const;

    // Last right-clicked row and last search hit; -1 means no row.
    int m_nContextRow = -1;
    int m_nFoundRow = -1;

    // Extra pixels of each column beyond its title's width.
    static const int kColumnMargins[];

signals:
    // Emitted when a scan start dialog closes (tests and the frame follow it).
    void scanDialogClosed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnScanStart();
    void OnSaveResults();
    void OnCopyCell(int column);
    void OnSearch();
    void OnHostHistory();
    std::function<bool(int)> m_commandRouter;
    ScanSettingsRecord& m_settings;
    ScanProbes& m_probes;
    CScanStartDlg* m_scanDialog = nullptr; // while the scan start dialog is open
    DetachedStarter m_programStarter = StartDetached;
    ShellOpenHandler m_desktopOpener = DesktopOpen;

    ResultModel* m_model;
    ScanMemory* m_memory;
};
