#pragma once
// The main window: menu bar, toolbar in a band at the top, status bar with
// the prompt pane and the lock-key indicators, the shortcut table, and the
// result view as its client area. Commands from menus, toolbar and keys all
// go through OnCommand: the view first, then the frame, then the application.

#include <QMainWindow>
#include <functional>
#include <map>

class CTarnelView;
class ScanProbes;
struct ScanSettingsRecord;
class QLabel;
class QToolBar;
class QTimer;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // `appCommand` runs the commands the application handles (the about box);
    // it returns false for a command it does not know.
    // `settings` are the application's; the view's commands use them.
    // `probes` are the view's scans' and diagnoses'; they outlive the window.
    CMainFrame(ScanSettingsRecord& settings, std::function<bool(int)> appCommand,
               ScanProbes& probes);
    ~CMainFrame() override;

    // Builds the bars and the view; false when one cannot be made.
    bool OnCreate();

    // Runs a command; false when nothing handles it.
    bool OnCommand(int command);

    CTarnelView* View() const { return m_view; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QAction* CommandAction(int command) const;

    // The text of each status-bar pane, message pane first.
    QStringList PaneTexts() const;

signals:
    // Every command, as it is issued, before it runs.
    void commandIssued(int command);

private:
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateAccelerators();
    void UpdateIndicators();
    void UpdateInventoryPane();
    QAction* MakeAction(int command, const QString& text);

    std::function<bool(int)> m_appCommand;
    CTarnelView* m_view = nullptr;
    ScanSettingsRecord& m_settings;
    ScanProbes& m_probes;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_indicators[4] = {};
    QLabel* m_inventoryPane = nullptr; // what the last recorded scan changed
    QTimer* m_indicatorTimer = nullptr;
    std::map<int, QAction*> m_actions;
};
