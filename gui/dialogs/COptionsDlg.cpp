#include "gui/dialogs/COptionsDlg.h"

#include "core/res/Resource.h"
#include "core/scan/NodeStatusQuery.h"
#include "core/settings/ParseLeadingInt.h"
#include "core/settings/ScanSettings.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/res/DialogBuilder.h"
#include "gui/res/EditTypingLimit.h"
#include "platform/win32/MessageBox.h"
#include "platform/win32/ProbeNotices.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The message names 0, but a scan needs at least one worker: 1 to 15 pass.
const char* const kThreadMessage = "スレッド数には 0 から15 の間の数字を指定してください。";
const char* const kTimeoutMessage = "PING タイムアウト値(ms)は1000以上の値を指定してください。";

constexpr int kMinThreads = 1;
constexpr int kMaxThreads = 15;
constexpr int kMinTimeout = 1000;

std::string TextOf(const QLineEdit* edit) {
    return edit->text().toStdString();
}

void ShowNumber(QLineEdit* edit, int value) {
    edit->setText(QString::number(value));
    edit->setCursorPosition(0);
}

} // namespace

COptionsDlg::COptionsDlg(const ScanSettingsRecord& settings, QWidget* parent,
                         NetbiosFunction netbios)
    : QDialog(parent), m_edited(settings), m_netbios(netbios) {
    DialogBuilder::Build(this, IDD_OPTIONS);
    m_dontDelete = DialogBuilder::ControlAs<QCheckBox>(this, IDC_DONT_DELETE_UNRESOLVED);
    m_ignoreWorkstation = DialogBuilder::ControlAs<QCheckBox>(this, IDC_IGNORE_WORKSTATION_SERVICE);
    m_ignoreVendor = DialogBuilder::ControlAs<QCheckBox>(this, IDC_IGNORE_NIC_VENDOR);
    m_safeMode = DialogBuilder::ControlAs<QCheckBox>(this, IDC_SAFE_MODE);
    m_fastScan = DialogBuilder::ControlAs<QCheckBox>(this, IDC_FAST_SCAN);
    m_recordScans = DialogBuilder::ControlAs<QCheckBox>(this, IDC_RECORD_SCANS);
    m_threads = DialogBuilder::ControlAs<QLineEdit>(this, IDC_MAX_THREAD);
    m_timeout = DialogBuilder::ControlAs<QLineEdit>(this, IDC_PING_TIMEOUT);
    m_lana = DialogBuilder::ControlAs<QLineEdit>(this, IDC_LANA_NUMBER);

    m_dontDelete->setChecked(IsOn(m_edited.DontDeleteUnresolvedAddress));
    m_ignoreWorkstation->setChecked(IsOn(m_edited.IgnoreWorkstationService));
    m_ignoreVendor->setChecked(IsOn(m_edited.IgnoreNicVendorId));
    m_safeMode->setChecked(IsOn(m_edited.SafeMode));
    m_fastScan->setChecked(IsOn(m_edited.FastScan));
    m_recordScans->setChecked(IsOn(m_edited.RecordScans));
    // Stored values outside the limits show as they are (the store loads
    // them unchecked); only typing is limited.
    ShowNumber(m_lana, m_edited.LanaNumber);
    ShowNumber(m_threads, m_edited.MaxThread);
    ShowNumber(m_timeout, m_edited.PingTimeout);
    EditTypingLimit::Of(m_lana)->SetLength(kLanaDigits);
    EditTypingLimit::Of(m_threads)->SetLength(kThreadDigits);
    EditTypingLimit::Of(m_timeout)->SetLength(kTimeoutCharacters);

    connect(DialogBuilder::ControlAs<QPushButton>(this, IDC_TEST_LANA), &QPushButton::clicked, this,
            &COptionsDlg::OnTestLana);
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDOK_BUTTON), &QPushButton::clicked, this,
            &COptionsDlg::accept);
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDCANCEL_BUTTON), &QPushButton::clicked,
            this, &COptionsDlg::reject);
    m_dontDelete->setFocus();
}

void COptionsDlg::Open(QWidget* owner, ScanSettingsRecord& settings) {
    COptionsDlg dialog(settings, owner);
    if (dialog.exec() == QDialog::Accepted)
        settings = dialog.Edited();
}

const char* COptionsDlg::CheckThreadCount(const std::string& text) {
    const int value = ParseLeadingInt(text);
    if (text.empty() || value > kMaxThreads || value < kMinThreads)
        return kThreadMessage;
    return nullptr;
}

const char* COptionsDlg::CheckPingTimeout(const std::string& text) {
    if (text.empty() || ParseLeadingInt(text) < kMinTimeout)
        return kTimeoutMessage;
    return nullptr;
}

void COptionsDlg::accept() {
    const std::string threads = TextOf(m_threads);
    const std::string timeout = TextOf(m_timeout);
    for (const char* problem : {CheckThreadCount(threads), CheckPingTimeout(timeout)}) {
        if (problem) {
            MessageBoxA(BoxOwner(this), problem, "注意", MB_OK | MB_ICONWARNING);
            return;
        }
    }
    // A switch goes back as 0 or 1 only when the user changed its box: a
    // stored value other than those (shown clear) stays as it was.
    auto take = [](const QCheckBox* box, int& value) {
        if (box->isChecked() != IsOn(value))
            value = box->isChecked() ? 1 : 0;
    };
    take(m_dontDelete, m_edited.DontDeleteUnresolvedAddress);
    take(m_ignoreWorkstation, m_edited.IgnoreWorkstationService);
    take(m_ignoreVendor, m_edited.IgnoreNicVendorId);
    take(m_safeMode, m_edited.SafeMode);
    // The thread count is still checked and kept with the fast engine on: it
    // counts again as soon as the box is cleared.
    take(m_fastScan, m_edited.FastScan);
    take(m_recordScans, m_edited.RecordScans);
    m_edited.MaxThread = ParseLeadingInt(threads);
    m_edited.PingTimeout = ParseLeadingInt(timeout);
    QDialog::accept();
}

void COptionsDlg::OnTestLana() {
    // Only tells whether the number can be used; LanaNumber stays as it is.
    const ProbeNoticeScope notices(ShowProbeNotice);
    const Outcome tested = TestLana(TextOf(m_lana), m_netbios);
    MessageBoxA(BoxOwner(this), *tested.message);
}
