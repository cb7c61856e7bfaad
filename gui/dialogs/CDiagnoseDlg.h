#pragma once
// The diagnose dialog: probes one address on demand, outside any scan, and
// shows every step -- the echo, the query's return code and text when it
// fails, else MAC address, vendor, computer, domain and messenger names.
//
// A run takes up to the echo time-out plus the node-status wait, so the
// probes run on a thread of their own and the dialog keeps painting; the run
// button, the address field and the close button are disabled, and the
// dialog refuses to close, until the result is back on the window thread.

#include "core/commands/DiagnoseResult.h"
#include "gui/res/CBusyDialog.h"

#include <QFutureWatcher>
#include <memory>
#include <string>
#include <thread>

class ResultList;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ScanProbes;
class StopSignal;
struct ScanSettingsRecord;

class CDiagnoseDlg : public CBusyDialog {
    Q_OBJECT
public:
    // Typing into the address field stops at this many characters.
    static constexpr int kAddressLimit = 15;

    // `probes` must outlive every run the dialog starts.
    // `settings` gives each run its adapter and echo time-out; it must
    // outlive the dialog.
    CDiagnoseDlg(const std::string& address, const ScanSettingsRecord& settings, ScanProbes& probes,
                 QWidget* parent = nullptr);
    // A run still under way is cut short and waited for.
    ~CDiagnoseDlg() override;

    // The diagnose command: opens the dialog on the address of `row` of the
    // list (the view's last right-clicked row; empty when that names no row)
    // and runs it modally over `owner` with `probes`.
    static void Open(ResultList& list, int row, const ScanSettingsRecord& settings,
                     ScanProbes& probes, QWidget* owner);

    // The opening address; only fills the address field.
    const std::string m_strAddress;

    bool Running() const { return m_running; }
    bool Busy() const override { return Running(); }
    // Cuts a running diagnosis short, for a program that must end now; its
    // result comes back at once and the dialog may close then.
    void Abandon();
    // The last run's report with its "\r\n" line ends.
    const std::string& ResultText() const { return m_resultText; }

private:
    void OnRun();
    void OnRunDone();
    void SetRunControlsEnabled(bool enabled);

    const ScanSettingsRecord& m_settings;
    ScanProbes& m_probes;
    bool m_running = false;
    std::shared_ptr<StopSignal> m_stop; // of the run under way, shared with its thread
    std::thread m_runner;               // the last run's thread, joined before the next
    std::string m_resultText;
    QFutureWatcher<DiagnoseResult> m_watcher;

    QLineEdit* m_address;
    QPushButton* m_run;
    QPushButton* m_close;
    QLineEdit* m_domain;
    QLineEdit* m_computer;
    QLineEdit* m_mac;
    QLineEdit* m_vendor;
    QLineEdit* m_messenger;
    QPlainTextEdit* m_result;
};
