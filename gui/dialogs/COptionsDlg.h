#pragma once
// The options dialog: the number of scan workers, the echo time-out and the
// four switches of the settings, the LANA of the last scan and a test of any
// LANA number, the choice of the event-driven scan engine, and whether the
// window records its scans in the inventory. It edits a copy of the
// settings; the copy replaces the application's settings only when OK
// passes both checks (Open), and the store writes them at shutdown.

#include "core/scan/NodeStatusQuery.h"
#include "core/settings/ScanSettings.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;

class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    // Typing limits of the three edits.
    static constexpr int kThreadDigits = 2;
    static constexpr int kTimeoutCharacters = 4;
    static constexpr int kLanaDigits = 2;

    // `netbios` carries the LANA test's reset (the platform's unless given).
    explicit COptionsDlg(const ScanSettingsRecord& settings, QWidget* parent = nullptr,
                         NetbiosFunction netbios = kPlatformNetbios);

    // The options command: runs the dialog over `owner` and, on OK, commits
    // its copy to `settings`.
    static void Open(QWidget* owner, ScanSettingsRecord& settings);

    // The settings as the dialog has them: as given, with the edits once OK passed.
    const ScanSettingsRecord& Edited() const { return m_edited; }

    // The checks of OK, on the edits' texts: the message to show, or null
    // when the value is accepted.
    static const char* CheckThreadCount(const std::string& text);
    static const char* CheckPingTimeout(const std::string& text);

public slots:
    void accept() override;

private:
    void OnTestLana();

    QCheckBox* m_dontDelete;
    QCheckBox* m_ignoreWorkstation;
    QCheckBox* m_ignoreVendor;
    QCheckBox* m_safeMode;
    QCheckBox* m_fastScan;
    QCheckBox* m_recordScans;
    QLineEdit* m_threads;
    QLineEdit* m_timeout;
    QLineEdit* m_lana;
    ScanSettingsRecord m_edited;
    NetbiosFunction m_netbios;
};
