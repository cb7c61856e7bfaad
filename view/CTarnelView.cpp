#include "view/CTarnelView.h"

#include "ranges/CScanStartDlg.h"
#include "res/Resource.h"
#include "view/CDiagnoseDlg.h"
#include "view/COptionsDlg.h"
#include "view/ShellCommands.h"
#include "view/ResultModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QThread>
#include <QTimer>
#include <type_traits>

namespace {

// How often the list repaints while scan threads write to it. Each write
// waits for the window thread; painting after every one of them would cost
// more than the writes themselves.
constexpr int kScanRepaintMs = 100;


} // namespace

const int CTarnelView::kColumnMargins[] = {70, 20, 70, 70, 70, 125, 125};

CTarnelView::CTarnelView(QWidget* parent) : QTableView(parent), m_model(new ResultModel(this)) {
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
    const QFontMetrics metrics(horizontalHeader()->font());
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
    case ID_DIAGNOSE:
        CDiagnoseDlg::Open(this);
        return true;
    case ID_NET_COMMAND:
        RunNetCommand(*this, m_nContextRow);
        return true;
    case ID_HELP_TOPICS:
        OpenHelpFile();
        return true;
    case ID_HOME_PAGE:
        OpenHomePage();
        return true;
    case ID_OPTIONS:
        COptionsDlg::Open(window());
        return true;
    default:
        return false;
    }
}

void CTarnelView::OnScanStart() {
    CScanStartDlg dialog(this, window());
    dialog.exec();
    emit scanDialogClosed();
}

void CTarnelView::keyPressEvent(QKeyEvent* event) {
    // The list copies cells only through its own commands; the keys of the
    // shortcut table decide what Ctrl+C and Ctrl+A do.
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
        event->ignore();
        return;
    }
    QTableView::keyPressEvent(event);
}

template <typename Work> auto CTarnelView::OnWindowThread(Work work) {
    using Result = std::invoke_result_t<Work>;
    if (QThread::currentThread() == thread())
        return work();
    Result result{};
    QMetaObject::invokeMethod(
        this,
        [&] {
            DeferRepaint();
            result = work();
        },
        Qt::BlockingQueuedConnection);
    return result;
}

void CTarnelView::DeferRepaint() {
    if (m_repaintDeferred)
        return;
    m_repaintDeferred = true;
    viewport()->setUpdatesEnabled(false);
    QTimer::singleShot(kScanRepaintMs, this, [this] {
        m_repaintDeferred = false;
        viewport()->setUpdatesEnabled(true); // repaints what changed meanwhile
    });
}

int CTarnelView::GetItemCount() {
    return OnWindowThread([this] { return m_model->Count(); });
}

int CTarnelView::InsertItem(int index, const std::string& text) {
    return OnWindowThread([&] { return m_model->InsertRow(index, text); });
}

bool CTarnelView::SetItemText(int row, int column, const std::string& text) {
    return OnWindowThread([&] { return m_model->SetCell(row, column, text); });
}

std::string CTarnelView::GetItemText(int row, int column) {
    return OnWindowThread([&] { return m_model->Cell(row, column); });
}

bool CTarnelView::DeleteItem(int row) {
    return OnWindowThread([&] { return m_model->RemoveRow(row); });
}

bool CTarnelView::DeleteAllItems() {
    return OnWindowThread([&] {
        m_model->RemoveAll();
        return true;
    });
}

std::string CTarnelView::GetColumnTitle(int column) {
    return OnWindowThread([&] {
        QVariant title = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole);
        return title.toString().toStdString();
    });
}
