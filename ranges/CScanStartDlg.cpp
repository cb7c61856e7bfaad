#include "ranges/CScanStartDlg.h"

#include "app/ScanSettings.h"
#include "platform/MessageBox.h"
#include "platform/QtMessageBox.h"
#include "ranges/AddressRange.h"
#include "ranges/CIpAddressCtrl.h"
#include "ranges/CListFileNameDlg.h"
#include "ranges/ListControlRangeRows.h"
#include "ranges/RangeList.h"
#include "res/DialogBuilder.h"
#include "res/Resource.h"
#include "scan/CThreadManager.h"
#include "view/CTarnelView.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxRanges = 100;

const char* const kCaution = "注意";
const char* const kTooMany = "これ以上追加できません。";
const char* const kNoStart = "開始アドレスを入力してください。";
const char* const kNoEnd = "終了アドレスを入力してください。";
const char* const kReversed =
    "IPアドレスの範囲指定に誤りがあります。終了アドレスが開始アドレスより上位に設定されています。";
const char* const kEmptyList = "一つ以上のIPアドレスの組を追加してください。";
const char* const kSaveFailed = "リストの保存で不明なエラーが発生しました。中止します。";
const char* const kLoadFailed = "リストの読み込みで不明なエラーが発生しました。";
const char* const kThreadFailed = "スレッドの起動に失敗しました。";
const char* const kLoadQuestion = "今選択したファイルから、IPアドレス一覧を読み込みますか。";

// A regular file that can be opened for reading; never blocks on a FIFO.
bool CanReadListFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

std::atomic<int> g_runningScans{0};

} // namespace

std::function<CThreadManager*()> CScanStartDlg::s_createManagerForTests;

bool CScanStartDlg::AnyScanRunning() { return g_runningScans.load() > 0; }

CScanStartDlg::CScanStartDlg(CTarnelView* view, QWidget* mainWindow)
    : CBusyDialog(mainWindow), m_pView(view), m_mainWindow(mainWindow) {
    setModal(true);
    DialogBuilder::Build(this, IDD_SCAN_START, [](const ControlTemplate& control, QWidget* parent) {
        return control.kind == ControlKind::IpAddress ? new CIpAddressCtrl(parent) : nullptr;
    });
    m_startAddress = DialogBuilder::ControlAs<CIpAddressCtrl>(this, IDC_START_ADDRESS);
    m_endAddress = DialogBuilder::ControlAs<CIpAddressCtrl>(this, IDC_END_ADDRESS);
    m_list = DialogBuilder::ControlAs<QTreeWidget>(this, IDC_RANGE_LIST);
    m_dontSave = DialogBuilder::ControlAs<QCheckBox>(this, IDC_DONT_SAVE_ON_CLOSE);
    m_rows = std::make_unique<ListControlRangeRows>(m_list);

    m_list->setHeaderLabels({QStringLiteral("開始IPアドレス"), QStringLiteral("終了IPアドレス")});
    m_list->header()->resizeSection(0, 104);
    m_list->header()->resizeSection(1, 103);

    auto button = [this](int id, void (CScanStartDlg::*handler)()) {
        connect(DialogBuilder::ControlAs<QPushButton>(this, id), &QPushButton::clicked, this,
                handler);
    };
    button(IDC_ADD, &CScanStartDlg::OnAdd);
    button(IDC_DELETE, &CScanStartDlg::OnDelete);
    button(IDC_COPY, &CScanStartDlg::OnCopy);
    button(IDC_SAVE, &CScanStartDlg::OnSave);
    button(IDC_CHANGE_LIST_FILE, &CScanStartDlg::OnChangeListFile);
    button(IDC_START, &CScanStartDlg::OnStart);
    button(IDC_STOP, &CScanStartDlg::OnStop);
    button(IDC_CLOSE, &CScanStartDlg::accept);

    DialogBuilder::Control(this, IDC_STOP)->setEnabled(false);
    LoadRangeList(*m_rows, ScanSettings.IpListFileName, BoxOwner(this));
    m_startAddress->setFocus();
}

CScanStartDlg::~CScanStartDlg() = default;

ResultList* CScanStartDlg::View() { return m_pView; }

void* CScanStartDlg::MainWindow() { return BoxOwner(m_mainWindow); }

void CScanStartDlg::EnableControl(int controlId, bool enable) {
    auto apply = [this, controlId, enable] {
        if (QWidget* control = DialogBuilder::Control(this, controlId))
            control->setEnabled(enable);
    };
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, apply, Qt::BlockingQueuedConnection);
}

void CScanStartDlg::OnManagerEnded() {
    // The manager's last act; from here on nothing of the scan refers to the
    // dialog, which may close again.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pManager = nullptr;
            m_scanRunning = false;
            --g_runningScans;
            emit scanFinished();
        },
        Qt::QueuedConnection);
}

void CScanStartDlg::OnAdd() {
    auto warn = [this](const char* text) {
        MessageBoxA(BoxOwner(this), text, kCaution, MB_OK | MB_ICONEXCLAMATION);
    };
    if (m_rows->GetItemCount() >= kMaxRanges)
        return warn(kTooMany);
    const std::uint32_t start = m_startAddress->GetAddress();
    const std::uint32_t end = m_endAddress->GetAddress();
    if (start == 0)
        return warn(kNoStart);
    if (end == 0)
        return warn(kNoEnd);
    if (start > end)
        return warn(kReversed);
    const int row = m_rows->InsertItem(m_rows->GetItemCount(), AddressToText(start));
    m_rows->SetItemText(row, 1, AddressToText(end));
    SortRangeList(*m_rows);
}

void CScanStartDlg::OnDelete() {
    const int row = m_rows->SelectedRow();
    if (row < 0 || m_rows->GetItemCount() == 0)
        return;
    m_startAddress->SetAddress(AddressFromText(m_rows->GetItemText(row, 0)));
    m_endAddress->SetAddress(AddressFromText(m_rows->GetItemText(row, 1)));
    m_rows->DeleteItem(row);
    m_rows->SelectRow(0);
}

void CScanStartDlg::OnCopy() { m_endAddress->SetAddress(m_startAddress->GetAddress()); }

bool CScanStartDlg::SaveList() {
    return SaveRangeList(*m_rows, ScanSettings.IpListFileName, BoxOwner(this));
}

void CScanStartDlg::OnSave() { SaveList(); }

void CScanStartDlg::OnChangeListFile() {
    CListFileNameDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!CanReadListFile(ScanSettings.IpListFileName))
        return;
    if (MessageBoxA(BoxOwner(this), kLoadQuestion, "確認", MB_YESNO) == IDNO)
        return;
    LoadRangeList(*m_rows, ScanSettings.IpListFileName, BoxOwner(this));
}

void CScanStartDlg::OnStart() {
    auto warn = [this](const char* text) {
        MessageBoxA(BoxOwner(this), text, kCaution, MB_OK | MB_ICONEXCLAMATION);
    };
    if (m_rows->GetItemCount() == 0)
        return warn(kEmptyList);
    if (!SaveList())
        return warn(kSaveFailed);
    if (!LoadRangeList(*m_rows, ScanSettings.IpListFileName, BoxOwner(this)))
        return warn(kLoadFailed);

    StopRequested.Clear();
    auto* manager = s_createManagerForTests ? s_createManagerForTests() : new CThreadManager;
    if (!manager->CreateThread()) {
        delete manager;
        MessageBoxA(BoxOwner(this), kThreadFailed, "エラー", MB_OK | MB_ICONERROR);
        std::exit(1);
    }
    m_pManager = manager;
    manager->m_pDialog = this;
    m_scanRunning = true;
    ++g_runningScans;

    for (int id : {IDC_CLOSE, IDC_START, IDC_START_ADDRESS, IDC_END_ADDRESS, IDC_CHANGE_LIST_FILE,
                   IDC_SAVE, IDC_ADD, IDC_DELETE, IDC_COPY})
        DialogBuilder::Control(this, id)->setEnabled(false);
    DialogBuilder::Control(this, IDC_STOP)->setEnabled(true);
    DialogBuilder::Control(this, IDC_STOP)->setFocus();
    // From here on the manager belongs to its own thread; nobody waits for it.
    manager->ResumeThread();
}

void CScanStartDlg::OnStop() { StopRequested.Raise(); }

void CScanStartDlg::accept() {
    // Nothing is saved while the scan still writes through the dialog.
    if (Busy())
        return;
    if (!m_dontSave->isChecked() && !SaveList())
        return;
    CBusyDialog::accept();
}
