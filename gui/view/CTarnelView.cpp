#include "gui/view/CTarnelView.h"

#include "core/inventory/sqlite/ScanRecording.h"
#include "core/scan/ScanProbes.h"
#include "core/settings/ScanSettings.h"
#include "platform/win32/FileDialog.h"
#include "platform/win32/MessageBox.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/dialogs/CScanStartDlg.h"
#include "gui/res/MenuBuilder.h"
#include "core/res/MenuResource.h"
#include "core/res/Resource.h"
#include "gui/dialogs/CDiagnoseDlg.h"
#include "gui/dialogs/CInventoryDlg.h"
#include "gui/dialogs/COptionsDlg.h"
#include "gui/dialogs/CSearchDlg.h"
#include "core/commands/ExportFile.h"
#include "core/commands/FileErrorMessage.h"
#include "gui/model/ResultModel.h"
#include "core/commands/RowCommands.h"
#include "gui/dialogs/SaveThroughDialog.h"
#include "gui/view/ScanMemory.h"
#include "gui/view/ShellCommands.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

namespace {

// Cells are copied as they are read into a 256-byte buffer.
constexpr std::size_t kCellBuffer = 256;

const char* const kExportFilter = "テキストファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*||";

} // namespace

const int CTarnelView::kColumnMargins[] = {70, 20, 70, 70, 70, 125, 125};

CTarnelView::CTarnelView(ScanSettingsRecord& settings, ScanProbes& probes, QWidget* parent)
    : QTableView(parent), m_settings(settings), m_probes(probes), m_model(new ResultModel(this)),
      m_memory(new ScanMemory(this)) {
    setModel(m_model);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setCornerButtonEnabled(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setObjectName(QStringLiteral("resultView"));
}

CTarnelView::~CTarnelView() = default;

void CTarnelView::OnInitialUpdate() {
    // Titles are measured in the list's own font, as the list measures any text.
    const QFontMetrics metrics(font());
    for (int column = 0; column < HostRecord::kColumnCount; ++column) {
        const int title = metrics.horizontalAdvance(QString::fromUtf8(HostRecord::kTitles[column]));
        setColumnWidth(column, title + kColumnMargins[column]);
    }
}

bool CTarnelView::OnCommand(int command) {
    switch (command) {
    case ID_SCAN_START:
        OnScanStart();
        return true;
    case ID_SAVE_RESULTS:
        OnSaveResults();
        return true;
    case ID_COPY_ADDRESS:
    case ID_COPY_COMPUTER_NAME:
    case ID_COPY_DOMAIN_NAME:
    case ID_COPY_MAC_ADDRESS:
    case ID_COPY_VENDOR:
    case ID_COPY_MESSENGER:
        OnCopyCell(CopyCommandColumn(command));
        return true;
    case ID_DELETE_SILENT_ROWS:
        RemoveSilentRows();
        return true;
    case ID_SEARCH:
        OnSearch();
        return true;
    case ID_DIAGNOSE:
        CDiagnoseDlg::Open(*this, m_nContextRow, m_settings, m_probes, window());
        return true;
    case ID_NET_COMMAND:
        RunNetCommand(*this, m_nContextRow, m_settings.ProgramDirectoryPath, m_programStarter);
        return true;
    case ID_HELP_TOPICS:
        OpenHelpFile(m_desktopOpener);
        return true;
    case ID_HOME_PAGE:
        OpenHomePage(m_desktopOpener);
        return true;
    case ID_OPTIONS:
        COptionsDlg::Open(window(), m_settings);
        return true;
    case ID_SHOW_CHANGES:
        CInventoryDlg::OpenChanges(InventoryPath(), window());
        return true;
    case ID_HOST_HISTORY:
        OnHostHistory();
        return true;
    default:
        return false;
    }
}

std::string CTarnelView::InventoryPath() const {
    return m_settings.ProgramDirectoryPath + kInventoryFileName;
}

void CTarnelView::OnScanStart() {
    CScanStartDlg dialog(m_model, m_settings, window(), m_probes);
    // Each scan that ends, finished or stopped, goes into the inventory with
    // its answering rows when the user asked for that; one that failed at
    // its start walked nothing and is not recorded.
    connect(&dialog, &CScanStartDlg::scanFinished, this, [this, &dialog] {
        const CScanStartDlg::ScanRun& run = dialog.LastScan();
        if (!IsOn(m_settings.RecordScans) || run.failed)
            return;
        m_memory->Record(InventoryPath(), run.recording);
    });
    m_scanDialog = &dialog;
    dialog.exec();
    m_scanDialog = nullptr;
    emit scanDialogClosed();
}

void CTarnelView::SetProgramStarter(DetachedStarter starter) {
    m_programStarter = starter ? std::move(starter) : DetachedStarter(StartDetached);
}

void CTarnelView::SetDesktopOpener(ShellOpenHandler opener) {
    m_desktopOpener = opener ? std::move(opener) : ShellOpenHandler(DesktopOpen);
}

bool CTarnelView::ScanRunning() const {
    return m_scanDialog && m_scanDialog->ScanRunning();
}

void CTarnelView::StopScan() {
    if (m_scanDialog)
        m_scanDialog->StopScan();
}

void CTarnelView::SetCommandRouter(std::function<bool(int)> router) {
    m_commandRouter = std::move(router);
}

void CTarnelView::contextMenuEvent(QContextMenuEvent* event) {
    // A request from the keyboard has no pointer position and so no row.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        m_nContextRow = -1;
        return;
    }
    OnContextMenu(event->globalPos());
}

void CTarnelView::OnContextMenu(const QPoint& screenPos) {
    const QPoint point = viewport()->mapFromGlobal(screenPos);
    m_nContextRow = viewport()->rect().contains(point) ? indexAt(point).row() : -1;
    if (m_nContextRow < 0)
        return;
    const std::span<const MenuEntry> menus = FindMenu(IDR_CONTEXT_MENU);
    if (menus.empty() || !menus.front().isPopup())
        return;
    // Owned by the main window; gone when the command has been chosen.
    QMenu menu(window());
    menu.setObjectName(QStringLiteral("contextMenu"));
    MenuBuilder::Fill(&menu, menus.front().children);
    QAction* chosen = menu.exec(screenPos);
    if (!chosen)
        return;
    const int command = chosen->data().toInt();
    if (m_commandRouter)
        m_commandRouter(command);
    else
        OnCommand(command);
}

void CTarnelView::OnCopyCell(int column) {
    // A row that does not exist (no right-click over a row yet, or rows
    // deleted since) has no text: the clipboard keeps what it held.
    if (m_nContextRow < 0 || m_nContextRow >= GetItemCount())
        return;
    const std::string text = ReadCell(m_nContextRow, column, kCellBuffer);
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

void CTarnelView::OnSearch() {
    CSearchDlg dialog(window());
    dialog.m_pView = this;
    dialog.exec();
    if (dialog.m_nFoundRow >= 0)
        m_nFoundRow = dialog.m_nFoundRow;
    // After a hit and after Cancel alike: the row of the last hit, if it
    // still exists.
    setFocus();
    if (m_nFoundRow < 0 || m_nFoundRow >= GetItemCount())
        return;
    const QModelIndex found = m_model->index(m_nFoundRow, 0);
    selectionModel()->setCurrentIndex(found, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(found, QAbstractItemView::EnsureVisible);
}

void CTarnelView::OnHostHistory() {
    if (m_nContextRow < 0 || m_nContextRow >= GetItemCount())
        return;
    CInventoryDlg::OpenHistory(InventoryPath(), ReadCell(m_nContextRow, HostRecord::kAddress, kCellBuffer),
                               window());
}

void CTarnelView::OnSaveResults() {
    SaveThroughDialog(window(), "lst", kExportFilter,
                      [this](const std::string& path) { return WriteExportFile(*this, path); });
}

void CTarnelView::keyPressEvent(QKeyEvent* event) {
    // The list copies cells only through its own commands; the keys of the
    // shortcut table decide what Ctrl+C and Ctrl+A do.
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
        event->ignore();
        return;
    }
    // The keys that ask for a context menu from the keyboard: such a request
    // has no pointer position, so it names no row and opens no menu.
    if (event->key() == Qt::Key_Menu ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        m_nContextRow = -1;
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

int CTarnelView::GetItemCount() { return m_model->Count(); }

int CTarnelView::InsertItem(int index, const std::string& text) {
    return m_model->InsertRow(index, text);
}

bool CTarnelView::SetItemText(int row, int column, const std::string& text) {
    return m_model->SetCell(row, column, text);
}

std::string CTarnelView::GetItemText(int row, int column) {
    return std::string(m_model->Cell(row, column));
}

bool CTarnelView::DeleteItem(int row) { return m_model->RemoveRow(row); }

bool CTarnelView::DeleteAllItems() {
    m_model->RemoveAll();
    return true;
}

std::string CTarnelView::GetColumnTitle(int column) {
    const QVariant title = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole);
    return title.toString().toStdString();
}

int CTarnelView::RemoveSilentRows() { return m_model->RemoveSilentRows(); }
