#include "gui/dialogs/CDiagnoseDlg.h"

#include "core/res/Resource.h"
#include "core/scan/HostRecord.h"
#include "core/scan/ResultList.h"
#include "core/scan/ScanProbes.h"
#include "core/settings/ScanSettings.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/res/DialogBuilder.h"
#include "gui/res/EditTypingLimit.h"
#include "platform/os/StopSignal.h"
#include "platform/win32/ProbeNotices.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPromise>
#include <QPushButton>
#include <thread>

namespace {

constexpr std::size_t kCellBuffer = 256;

void ShowValue(QLineEdit* field, const std::string& text) {
    field->setText(QString::fromStdString(text));
    field->setCursorPosition(0);
}

} // namespace

CDiagnoseDlg::CDiagnoseDlg(const std::string& address, const ScanSettingsRecord& settings,
                           ScanProbes& probes, QWidget* parent)
    : CBusyDialog(parent), m_strAddress(address), m_settings(settings), m_probes(probes) {
    DialogBuilder::Build(this, IDD_DIAGNOSE);
    m_address = DialogBuilder::ControlAs<QLineEdit>(this, IDC_DIAGNOSE_ADDRESS);
    m_run = DialogBuilder::ControlAs<QPushButton>(this, IDC_DIAGNOSE_RUN);
    m_close = DialogBuilder::ControlAs<QPushButton>(this, IDCANCEL_BUTTON);
    m_domain = DialogBuilder::ControlAs<QLineEdit>(this, IDC_DIAGNOSE_DOMAIN);
    m_computer = DialogBuilder::ControlAs<QLineEdit>(this, IDC_DIAGNOSE_COMPUTER);
    m_mac = DialogBuilder::ControlAs<QLineEdit>(this, IDC_DIAGNOSE_MAC);
    m_vendor = DialogBuilder::ControlAs<QLineEdit>(this, IDC_DIAGNOSE_VENDOR);
    m_messenger = DialogBuilder::ControlAs<QLineEdit>(this, IDC_DIAGNOSE_MESSENGER);
    m_result = DialogBuilder::ControlAs<QPlainTextEdit>(this, IDC_DIAGNOSE_RESULT);

    ShowValue(m_address, m_strAddress);
    EditTypingLimit::Of(m_address)->SetLength(kAddressLimit);
    // The user reads the values but cannot change them.
    for (QWidget* field : {static_cast<QWidget*>(m_computer), static_cast<QWidget*>(m_result),
                           static_cast<QWidget*>(m_domain), static_cast<QWidget*>(m_mac),
                           static_cast<QWidget*>(m_messenger), static_cast<QWidget*>(m_vendor)})
        field->setEnabled(false);

    connect(m_run, &QPushButton::clicked, this, &CDiagnoseDlg::OnRun);
    connect(m_close, &QPushButton::clicked, this, &CDiagnoseDlg::reject);
    connect(&m_watcher, &QFutureWatcher<DiagnoseResult>::finished, this, &CDiagnoseDlg::OnRunDone);
    m_address->setFocus();
}

void CDiagnoseDlg::Open(ResultList& list, int row, const ScanSettingsRecord& settings,
                        ScanProbes& probes, QWidget* owner) {
    // A row index that names no row reads as an empty cell.
    const std::string address = list.ReadCell(row, HostRecord::kAddress, kCellBuffer);
    CDiagnoseDlg dialog(address, settings, probes, owner);
    dialog.exec();
}

void CDiagnoseDlg::SetRunControlsEnabled(bool enabled) {
    m_run->setEnabled(enabled);
    m_address->setEnabled(enabled);
    m_close->setEnabled(enabled);
}

void CDiagnoseDlg::OnRun() {
    if (m_running)
        return;
    m_running = true;
    SetRunControlsEnabled(false);

    // Both probes of this run use the text as it stands now.
    const std::string address = m_address->text().toStdString();
    const int lana = m_settings.LanaNumber;
    const int timeout = m_settings.PingTimeout;
    ScanProbes* probes = &m_probes;
    m_stop = std::make_shared<StopSignal>();
    QPromise<DiagnoseResult> promise;
    m_watcher.setFuture(promise.future());
    // The last run has handed its result over; its thread is done or about
    // to be.
    if (m_runner.joinable())
        m_runner.join();
    m_runner = std::thread([promise = std::move(promise), probes, address, lana, timeout,
                            stop = m_stop]() mutable {
        const ProbeNoticeScope notices(ShowProbeNotice);
        promise.start();
        promise.addResult(RunDiagnosis(*probes, address, lana, timeout, stop.get()));
        promise.finish();
    });
}

void CDiagnoseDlg::OnRunDone() {
    const QFuture<DiagnoseResult> future = m_watcher.future();
    const DiagnoseResult result = future.resultCount() > 0 ? future.result() : DiagnoseResult{};
    if (result.decoded) {
        ShowValue(m_mac, result.macAddress);
        ShowValue(m_vendor, result.vendor);
        if (result.computerName)
            ShowValue(m_computer, *result.computerName);
        if (result.domainName)
            ShowValue(m_domain, *result.domainName);
        ShowValue(m_messenger, result.messengerNames);
    }
    m_resultText = result.text;
    // The box breaks lines at "\n"; the report's "\r\n" would show the CR.
    m_result->setPlainText(
        QString::fromStdString(result.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    SetRunControlsEnabled(true);
    m_running = false;
    m_run->setFocus();
}

CDiagnoseDlg::~CDiagnoseDlg() {
    if (!m_runner.joinable())
        return;
    // Both waits end at once on the stop; the result is left unread.
    if (m_stop)
        m_stop->Raise();
    m_runner.join();
}

void CDiagnoseDlg::Abandon() {
    if (m_running && m_stop)
        m_stop->Raise();
}
