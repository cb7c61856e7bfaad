#include "view/ResultModel.h"

namespace {
const std::string kEmpty;
}

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {}

int ResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int ResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : HostRecord::kColumnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const std::string& text = Cell(index.row(), index.column());
    if (role == Qt::ToolTipRole && text.empty())
        return {};
    return QString::fromStdString(text);
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
    Row row;
    row[0] = text;
    m_rows.insert(m_rows.begin() + index, std::move(row));
    endInsertRows();
    return index;
}

bool ResultModel::SetCell(int row, int column, const std::string& text) {
    if (row < 0 || row >= Count() || column < 0 || column >= HostRecord::kColumnCount)
        return false;
    m_rows[row][column] = text;
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
    return true;
}

const std::string& ResultModel::Cell(int row, int column) const {
    if (row < 0 || row >= Count() || column < 0 || column >= HostRecord::kColumnCount)
        return kEmpty;
    return m_rows[row][column];
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
    m_rows.reserve(m_rows.size() + firstCells.size());
    for (const std::string& text : firstCells) {
        Row row;
        row[0] = text;
        m_rows.push_back(std::move(row));
    }
    endInsertRows();
}

bool ResultModel::SetRowQuietly(int row, const Row& cells) {
    if (row < 0 || row >= Count())
        return false;
    m_rows[row] = cells;
    return true;
}

void ResultModel::RowsChanged(int first, int last) {
    if (first < 0 || last < first || last >= Count())
        return;
    emit dataChanged(index(first, 0), index(last, HostRecord::kColumnCount - 1),
                     {Qt::DisplayRole});
}

int ResultModel::RemoveSilentRows() {
    // Each run of neighbouring silent rows goes in one removal, from the end
    // so that the indexes before it stay valid.
    int removed = 0;
    int row = Count() - 1;
    while (row >= 0) {
        if (m_rows[row][HostRecord::kResponse] != HostRecord::kSilent) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && m_rows[first - 1][HostRecord::kResponse] == HostRecord::kSilent)
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
