#include "gui/dialogs/CScanStartDlg.h"

#include "core/inventory/sqlite/ScanRecording.h"
#include "core/ranges/AddressRange.h"
#include "core/ranges/AddressRangeTable.h"
#include "core/ranges/RangeList.h"
#include "core/res/Resource.h"
#include "core/scan/ScanEngine.h"
#include "core/scan/ScanProbes.h"
#include "core/scan/ScanRequest.h"
#include "core/settings/ScanSettings.h"
#include "gui/dialogs/CIpAddressCtrl.h"
#include "gui/dialogs/CListFileNameDlg.h"
#include "gui/dialogs/ListControlRangeRows.h"
#include "gui/model/ModelScanSink.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/res/DialogBuilder.h"
#include "platform/win32/MessageBox.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// The buttons as they are after a scan: the list file can neither be changed
// nor saved until the dialog is opened again.
constexpr std::pair<int, bool> kControlsAfterScan[] = {
    {IDC_CLOSE, true}, {IDC_START, true},  {IDC_START_ADDRESS, true},     {IDC_END_ADDRESS, true},
    {IDC_STOP, false}, {IDC_COPY, true},   {IDC_CHANGE_LIST_FILE, false}, {IDC_SAVE, false},
    {IDC_ADD, true},   {IDC_DELETE, true},
};

} // namespace

CScanStartDlg::CScanStartDlg(ResultModel* results, ScanSettingsRecord& settings,
                             QWidget* mainWindow, ScanProbes& probes)
    : CBusyDialog(mainWindow), m_results(results), m_settings(settings), m_mainWindow(mainWindow),
      m_probes(probes) {
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
    LoadList();
    m_startAddress->setFocus();
}

CScanStartDlg::~CScanStartDlg() {
    // Never reached with a scan running (the dialog refuses to close), but a
    // scan must not outlive what it reports to.
    m_pManager.reset();
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

void CScanStartDlg::OnCopy() {
    m_endAddress->SetAddress(m_startAddress->GetAddress());
}

bool CScanStartDlg::SaveList() {
    return Tell(SaveRangeList(*m_rows, m_settings.IpListFileName));
}

bool CScanStartDlg::LoadList() {
    return Tell(LoadRangeList(*m_rows, m_settings.IpListFileName));
}

bool CScanStartDlg::Tell(const Outcome& outcome) {
    if (outcome.message)
        MessageBoxA(BoxOwner(this), *outcome.message);
    return outcome.ok;
}

void CScanStartDlg::OnSave() {
    SaveList();
}

void CScanStartDlg::OnChangeListFile() {
    CListFileNameDlg dialog(m_settings.IpListFileName, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!CanReadListFile(m_settings.IpListFileName))
        return;
    if (MessageBoxA(BoxOwner(this), kLoadQuestion, "確認", MB_YESNO) == IDNO)
        return;
    LoadList();
}

void CScanStartDlg::OnStart() {
    auto warn = [this](const char* text) {
        MessageBoxA(BoxOwner(this), text, kCaution, MB_OK | MB_ICONEXCLAMATION);
    };
    if (m_rows->GetItemCount() == 0)
        return warn(kEmptyList);
    if (!SaveList())
        return warn(kSaveFailed);
    if (!LoadList())
        return warn(kLoadFailed);

    // The scan walks what the file now holds; lines that are no range are
    // told (to the main window) and left out.
    AddressRangeTable table;
    table.LoadFromFile(m_settings.IpListFileName);
    for (const UserMessage& message : table.Messages())
        MessageBoxA(BoxOwner(m_mainWindow), message);
    ScanRequest request;
    for (int i = 0; i < table.RangeCount(); ++i)
        request.ranges.push_back(table.Range(i));
    request.options = ScanOptionsFrom(m_settings);
    request.rowLimit = kRowLimit;
    std::vector<AddressRange> ranges = request.ranges;
    const ScanOptions options = request.options;
    const std::int64_t startedMs = UnixTimeMs();

    m_sink = std::make_unique<ModelScanSink>(m_results);
    m_sink->ShowReasons(options.fastScan);
    m_sink->ShowNames(options.fastScan);
    m_sink->OwnBoxesBy(m_mainWindow);
    connect(m_sink.get(), &ModelScanSink::lanaChosen, this,
            [this](int lana) { m_settings.LanaNumber = lana; });
    connect(m_sink.get(), &ModelScanSink::finished, this, &CScanStartDlg::OnScanFinished);
    // The list holds at most kRowLimit rows of one scan; the scan stops there.
    QWidget* boxOwner = m_mainWindow;
    connect(m_sink.get(), &ModelScanSink::rowLimitReached, this, [boxOwner](int) {
        MessageBoxA(BoxOwner(boxOwner), "20000台を超えたので停止します。", "確認", MB_OK);
    });
    // The thread-per-probe engine, or the event-driven one when the options
    // ask for it.
    std::unique_ptr<ScanEngine> manager = MakeScanEngine(std::move(request), *m_sink, m_probes);
    if (!manager->Start()) {
        MessageBoxA(BoxOwner(this), kThreadFailed, "エラー", MB_OK | MB_ICONERROR);
        // A program that cannot start a thread cannot scan: it ends, with
        // its settings saved, as soon as the loops return.
        QCoreApplication::exit(1);
        return;
    }
    m_pManager = std::move(manager);
    m_run = ScanRun{std::move(ranges), options, startedMs, false, {}};

    for (int id : {IDC_CLOSE, IDC_START, IDC_START_ADDRESS, IDC_END_ADDRESS, IDC_CHANGE_LIST_FILE,
                   IDC_SAVE, IDC_ADD, IDC_DELETE, IDC_COPY})
        DialogBuilder::Control(this, id)->setEnabled(false);
    DialogBuilder::Control(this, IDC_STOP)->setEnabled(true);
    DialogBuilder::Control(this, IDC_STOP)->setFocus();
}

void CScanStartDlg::OnStop() {
    if (m_pManager)
        m_pManager->Stop();
}

void CScanStartDlg::OnScanFinished(const ScanSummary& summary) {
    // The engine's last report: its threads end now, and the dialog may close.
    m_pManager.reset();
    // A stopped or cut scan is recorded as partial; one that failed walked
    // nothing and is no scan to record.
    m_run.failed = summary.failed;
    m_run.recording = RecordingOf(m_sink->ScanRows(), m_run.ranges, m_run.options, m_run.startedMs,
                                  UnixTimeMs(), summary.Complete());
    for (const auto& [id, enable] : kControlsAfterScan)
        DialogBuilder::Control(this, id)->setEnabled(enable);
    emit scanFinished();
}

void CScanStartDlg::accept() {
    // Nothing is saved while a scan still reports to the view.
    if (Busy())
        return;
    if (!m_dontSave->isChecked() && !SaveList())
        return;
    CBusyDialog::accept();
}
