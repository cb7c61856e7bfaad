#include "gui/model/ResultModel.h"

#include "core/commands/PackedCells.h"

#include <QTextDocument>

namespace {

// The sources as people know them.
const char* SourceLabel(HostRecord::NameSource source) {
    switch (source) {
    case HostRecord::NameSource::Netbios:
        return "NetBIOS";
    case HostRecord::NameSource::Mdns:
        return "mDNS";
    case HostRecord::NameSource::Llmnr:
        return "LLMNR";
    case HostRecord::NameSource::Dns:
        return "DNS";
    }
    return "";
}

// A tool tip that looks like HTML is shown as HTML; a name from the network
// is shown as the text it is.
QString PlainTip(const std::string& tip) {
    const QString text = QString::fromStdString(tip);
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpacePre) : text;
}

} // namespace

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

std::string ResultModel::PackRow(const HostRecord& record, bool names) {
    std::string packed = PackedCells::Of(record);
    if (!names || record.names.empty())
        return packed;
    std::string others;
    for (const HostRecord::Name& name : record.AllNames()) {
        if (name.source == HostRecord::NameSource::Netbios)
            continue;
        others += static_cast<char>(name.source);
        others += name.text;
        others += '\n';
    }
    if (others.empty())
        return packed;
    // Exactly as large as it needs to be: the model keeps it as it is.
    std::string row;
    row.reserve(packed.size() + others.size());
    return row.append(packed).append(others);
}

std::string ResultModel::NamesTip(std::string_view computer, std::string_view otherNames) {
    std::string tip;
    auto line = [&](HostRecord::NameSource source, std::string_view text) {
        tip.append(tip.empty() ? "名前:" : "").append("\n").append(SourceLabel(source));
        tip.append(": ").append(text);
    };
    if (!computer.empty())
        line(HostRecord::NameSource::Netbios, computer);
    // Names hold no control characters, so the line feeds and the source
    // numbers below 32 cannot be mistaken for text.
    while (otherNames.size() >= 2) {
        const auto source = static_cast<unsigned char>(otherNames[0]);
        const std::size_t end = otherNames.find('\n');
        if (source >= HostRecord::kNameSourceCount || end == std::string_view::npos)
            break;
        line(static_cast<HostRecord::NameSource>(source), otherNames.substr(1, end - 1));
        otherNames.remove_prefix(end + 1);
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
    if (!index.isValid() || index.row() >= Count())
        return {};
    if (role == Qt::DisplayRole) {
        const std::string_view text = Cell(index.row(), index.column());
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    if (role != Qt::ToolTipRole)
        return {};
    const std::string tip = Tip(index.row(), index.column());
    if (tip.empty())
        return {};
    return PlainTip(tip);
}

std::string ResultModel::Tip(int row, int column) const {
    const Row& at = m_rows[row];
    const std::string_view text = Cell(row, column);
    if (column == HostRecord::kResponse && at.reasons)
        return ReasonsTip(at.reasons);
    if (column == HostRecord::kComputer && at.names)
        return NamesTip(text, OtherNamesOf(at));
    return std::string(text);
}

std::string_view ResultModel::OtherNamesOf(const Row& row) {
    const std::string_view last = PackedCells::Cell(row.packed, HostRecord::kColumnCount - 1);
    if (!last.data())
        return {};
    return std::string_view(row.packed)
        .substr(static_cast<std::size_t>(last.data() + last.size() - row.packed.data()));
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
    Row& set = m_rows[row];
    set.packed = PackedCells::WithCell(set.packed, column, text).append(OtherNamesOf(set));
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

bool ResultModel::SetRowQuietly(int row, std::string packedRow, unsigned reasons, bool names) {
    if (row < 0 || row >= Count())
        return false;
    m_rows[row] = Row{std::move(packedRow), reasons, names};
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
