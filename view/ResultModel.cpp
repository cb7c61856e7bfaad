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

void ResultModel::RemoveAll() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}
