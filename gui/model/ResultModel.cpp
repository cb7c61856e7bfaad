#include "gui/model/ResultModel.h"

#include "core/commands/PackedCells.h"

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {}

std::string ResultModel::ReasonsTip(unsigned reasons) {
    const std::pair<unsigned, const char*> names[] = {
        {HostRecord::kReasonEcho, "ping"},
        {HostRecord::kReasonArp, "ARP"},
        {HostRecord::kReasonNbstat, "NetBIOS"},
        {HostRecord::kReasonPortUnreachable, "ポート到達不能"},
    };
    std::string tip = "応答: ";
    bool first = true;
    for (const auto& [bit, name] : names) {
        if (!(reasons & bit))
            continue;
        tip += first ? "" : ", ";
        tip += name;
        first = false;
    }
    return tip;
}

int ResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : HostRecord::kColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const std::string_view text = Cell(index.row(), index.column());
    if (role == Qt::ToolTipRole && index.column() == HostRecord::kResponse) {
        if (const unsigned reasons = m_rows[index.row()].reasons)
            return QString::fromUtf8(ReasonsTip(reasons).c_str());
    }
    if (role == Qt::ToolTipRole && text.empty())
        return {};
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= HostRecord::kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(HostRecord::kTitles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags ResultModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

int ResultModel::InsertRow(int index, const std::string& text) {
    if (index < 0)
        return -1;
    if (index > Count())
        index = Count();
    beginInsertRows(QModelIndex(), index, index);
    m_rows.insert(m_rows.begin() + index, Row{PackedCells::WithFirst(text)});
    endInsertRows();
    return index;
}

bool ResultModel::SetCell(int row, int column, const std::string& text) {
    if (row < 0 || row >= Count() || column < 0 || column >= HostRecord::kColumnCount)
        return false;
    m_rows[row].packed = PackedCells::WithCell(m_rows[row].packed, column, text);
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
    return true;
}

std::string_view ResultModel::Cell(int row, int column) const {
    if (row < 0 || row >= Count())
        return {};
    return PackedCells::Cell(m_rows[row].packed, column);
}

bool ResultModel::RemoveRow(int row) {
    if (row < 0 || row >= Count())
        return false;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
    return true;
}

void ResultModel::AppendRows(const std::vector<std::string>& firstCells) {
    if (firstCells.empty())
        return;
    const int first = Count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(firstCells.size()) - 1);
    for (const std::string& text : firstCells)
        m_rows.push_back(Row{PackedCells::WithFirst(text)});
    endInsertRows();
}

bool ResultModel::SetRowQuietly(int row, std::string packedCells, unsigned reasons) {
    if (row < 0 || row >= Count())
        return false;
    m_rows[row] = Row{std::move(packedCells), reasons};
    return true;
}

void ResultModel::RowsChanged(int first, int last) {
    if (first < 0 || last < first || last >= Count())
        return;
    emit dataChanged(index(first, 0), index(last, HostRecord::kColumnCount - 1), {Qt::DisplayRole});
}

int ResultModel::RemoveSilentRows() {
    // Each run of neighbouring silent rows goes in one removal, from the end
    // so that the indexes before it stay valid.
    int removed = 0;
    int row = Count() - 1;
    while (row >= 0) {
        if (Cell(row, HostRecord::kResponse) != HostRecord::kSilent) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && Cell(first - 1, HostRecord::kResponse) == HostRecord::kSilent)
            --first;
        beginRemoveRows(QModelIndex(), first, row);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + row + 1);
        endRemoveRows();
        removed += row - first + 1;
        row = first - 1;
    }
    return removed;
}

void ResultModel::RemoveAll() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}
