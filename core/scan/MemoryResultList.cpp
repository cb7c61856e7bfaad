#include "core/scan/MemoryResultList.h"

#include "core/scan/HostCells.h"

#include <algorithm>

namespace {

bool ValidColumn(int column) {
    return column >= 0 && column < HostRecord::kColumnCount;
}

} // namespace

int MemoryResultList::GetItemCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_rows.size());
}

int MemoryResultList::InsertItem(int index, const std::string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < 0)
        return -1;
    size_t at = std::min(static_cast<size_t>(index), m_rows.size());
    HostRecord row;
    TakeCell(row, HostRecord::kAddress, text);
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at), PackedHost(row));
    return static_cast<int>(at);
}

bool MemoryResultList::SetItemText(int row, int column, const std::string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || !ValidColumn(column))
        return false;
    PackedHost& packed = m_rows[static_cast<size_t>(row)];
    HostRecord record = packed.Unpack();
    TakeCell(record, column, text);
    packed = PackedHost(record);
    return true;
}

std::string MemoryResultList::GetItemText(int row, int column) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || !ValidColumn(column))
        return {};
    return CellOf(m_rows[static_cast<size_t>(row)].Unpack(), column);
}

bool MemoryResultList::DeleteItem(int row) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return false;
    m_rows.erase(m_rows.begin() + row);
    return true;
}

bool MemoryResultList::DeleteAllItems() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rows.clear();
    return true;
}

std::string MemoryResultList::GetColumnTitle(int column) {
    return ValidColumn(column) ? HostRecord::kTitles[column] : std::string();
}

int MemoryResultList::RemoveSilentRows() {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto kept = std::remove_if(m_rows.begin(), m_rows.end(), [](const PackedHost& row) {
        return row.Response() == HostRecord::Response::Silent;
    });
    const int removed = static_cast<int>(m_rows.end() - kept);
    m_rows.erase(kept, m_rows.end());
    return removed;
}

bool MemoryResultList::SetRow(int row, const Row& cells) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return false;
    m_rows[static_cast<size_t>(row)] = PackedHost(RecordOfCells(cells));
    return true;
}

bool MemoryResultList::SetRecord(int row, const HostRecord& record) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return false;
    m_rows[static_cast<size_t>(row)] = PackedHost(record);
    return true;
}

std::vector<MemoryResultList::Row> MemoryResultList::Rows() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Row> rows;
    rows.reserve(m_rows.size());
    for (const PackedHost& row : m_rows)
        rows.push_back(CellsOf(row.Unpack()));
    return rows;
}

std::vector<HostRecord> MemoryResultList::Records() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<HostRecord> records;
    records.reserve(m_rows.size());
    for (const PackedHost& row : m_rows)
        records.push_back(row.Unpack());
    return records;
}

void MemoryResultList::ForEachRecord(const std::function<void(const HostRecord&)>& visit) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const PackedHost& row : m_rows)
        visit(row.Unpack());
}
