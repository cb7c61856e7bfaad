#include "gui/dialogs/CInventoryDlg.h"

#include "core/commands/ExportFile.h"
#include "core/commands/ExportFormat.h"
#include "core/commands/FileErrorMessage.h"
#include "core/inventory/InventoryReport.h"
#include "core/inventory/sqlite/InventoryStore.h"
#include "core/res/Resource.h"
#include "gui/platform/QtMessageBox.h"
#include "gui/dialogs/SaveThroughDialog.h"
#include "gui/res/DialogBuilder.h"
#include "platform/win32/FileDialog.h"
#include "platform/win32/MessageBox.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <memory>
#include <sys/stat.h>

namespace {

const char* const kConfirm = "確認";
const char* const kCaution = "注意";
const char* const kNoScan = "スキャンの記録はまだありません。";
const char* const kCsvFilter = "CSVファイル(*.csv)|*.csv|すべてのファイル(*.*)|*.*||";

// The extra pixels of a column beyond its widest text.
constexpr int kColumnPadding = 16;

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

std::vector<std::string> Titles(const char* const* titles, int count) {
    return std::vector<std::string>(titles, titles + count);
}

template <typename Row> CInventoryDlg::Rows RowsOf(const std::vector<Row>& rows) {
    CInventoryDlg::Rows cells;
    for (const Row& row : rows)
        cells.emplace_back(row.begin(), row.end());
    return cells;
}

// The store at `path` for reading, or null after telling why there is none.
// A missing file is no store yet and is not created.
std::unique_ptr<InventoryStore> OpenForReading(const std::string& path, QWidget* owner) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        MessageBoxA(BoxOwner(owner), kNoScan, kConfirm, MB_OK);
        return nullptr;
    }
    InventoryStore::Opened opened = InventoryStore::OpenToRead(path);
    if (!opened.keptAside.empty()) {
        const std::string text = KeptAsideMessage(path, opened.keptAside);
        MessageBoxA(BoxOwner(owner), text.c_str(), kCaution, MB_OK | MB_ICONWARNING);
    }
    if (!opened.store) {
        const std::string text =
            "記録ファイル「" + path + "」を開けませんでした。\n理由: " + PlainText(opened.error);
        MessageBoxA(BoxOwner(owner), text.c_str(), kCaution, MB_OK | MB_ICONWARNING);
    }
    return std::move(opened.store);
}

// True, after telling the user, when the store's last read failed: a store
// that cannot be read is not one without records.
bool ToldReadError(const InventoryStore& store, const std::string& path, QWidget* owner) {
    if (store.ReadError().empty())
        return false;
    const std::string text = "記録ファイル「" + path + "」を読めませんでした。\n理由: " +
                             PlainText(store.ReadError());
    MessageBoxA(BoxOwner(owner), text.c_str(), kCaution, MB_OK | MB_ICONWARNING);
    return true;
}

} // namespace

CInventoryDlg::CInventoryDlg(int templateId, const std::string& summary,
                             const std::vector<std::string>& titles, Rows rows, QWidget* parent)
    : QDialog(parent), m_titles(titles), m_rows(std::move(rows)) {
    DialogBuilder::Build(this, templateId);
    DialogBuilder::ControlAs<QLabel>(this, IDC_INVENTORY_SUMMARY)->setText(Text(summary));
    auto* list = DialogBuilder::ControlAs<QTreeWidget>(this, IDC_INVENTORY_LIST);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    QStringList headers;
    for (const std::string& title : m_titles)
        headers << Text(title);
    list->setHeaderLabels(headers);
    QList<QTreeWidgetItem*> items;
    for (const std::vector<std::string>& row : m_rows) {
        auto* item = new QTreeWidgetItem;
        for (std::size_t column = 0; column < row.size(); ++column)
            item->setText(static_cast<int>(column), Text(row[column]));
        items << item;
    }
    list->addTopLevelItems(items);
    // Every column as wide as its widest text, title included.
    const QFontMetrics metrics(list->font());
    for (int column = 0; column < list->columnCount(); ++column) {
        int width = list->header()->fontMetrics().horizontalAdvance(headers[column]);
        for (const QTreeWidgetItem* item : items)
            width = std::max(width, metrics.horizontalAdvance(item->text(column)));
        list->header()->resizeSection(column, width + kColumnPadding);
    }
    if (!items.isEmpty())
        list->setCurrentItem(items.front());
    if (auto* save = DialogBuilder::ControlAs<QPushButton>(this, IDC_INVENTORY_SAVE)) {
        save->setEnabled(!m_rows.empty());
        connect(save, &QPushButton::clicked, this, &CInventoryDlg::OnSave);
    }
    connect(DialogBuilder::ControlAs<QPushButton>(this, IDCANCEL_BUTTON), &QPushButton::clicked,
            this, &CInventoryDlg::reject);
    list->setFocus();
}

void CInventoryDlg::OpenChanges(const std::string& storePath, QWidget* owner) {
    std::unique_ptr<InventoryStore> store = OpenForReading(storePath, owner);
    if (!store)
        return;
    const std::optional<StoredScan> latest = store->LatestScan();
    if (ToldReadError(*store, storePath, owner))
        return;
    if (!latest) {
        MessageBoxA(BoxOwner(owner), kNoScan, kConfirm, MB_OK);
        return;
    }
    const std::vector<ChangeRow> rows = ChangeRows(store->ChangesOf(latest->id));
    if (ToldReadError(*store, storePath, owner))
        return;
    std::string summary = "最新のスキャン " + LocalDateTimeText(latest->startedMs) +
                          (latest->complete ? "" : " (中止)") + "  応答 " +
                          std::to_string(latest->answered) + " 台  ";
    summary += rows.empty() ? "前回からの変化はありません。"
                            : "変化 " + std::to_string(rows.size()) + " 件";
    CInventoryDlg dialog(IDD_CHANGES, summary, Titles(kChangeTitles, kChangeColumnCount),
                         RowsOf(rows), owner);
    dialog.exec();
}

void CInventoryDlg::OpenHistory(const std::string& storePath, const std::string& address,
                                QWidget* owner) {
    std::unique_ptr<InventoryStore> store = OpenForReading(storePath, owner);
    if (!store)
        return;
    const HostHistory history = store->History(address);
    if (ToldReadError(*store, storePath, owner))
        return;
    if (history.identity.empty()) {
        const std::string text = PlainText(address) + " の記録はありません。";
        MessageBoxA(BoxOwner(owner), text.c_str(), kConfirm, MB_OK);
        return;
    }
    std::string summary = PlainText(IdentityText(history.identity)) + " の履歴  " +
                          std::to_string(history.entries.size()) + " 件";
    if (history.randomisedMac)
        summary += "  (ランダムなMACアドレスの可能性があります)";
    CInventoryDlg dialog(IDD_HISTORY, summary, Titles(kHistoryTitles, kHistoryColumnCount),
                         RowsOf(HistoryRows(history)), owner);
    dialog.exec();
}

void CInventoryDlg::OnSave() {
    std::vector<ChangeRow> rows;
    for (const std::vector<std::string>& cells : m_rows) {
        ChangeRow row;
        std::copy_n(cells.begin(), std::min<std::size_t>(cells.size(), row.size()), row.begin());
        rows.push_back(std::move(row));
    }
    SaveThroughDialog(this, "csv", kCsvFilter, [&](const std::string& path) {
        return WriteExportText(FormatChangesText(rows), path);
    });
}
