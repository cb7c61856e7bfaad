#include "core/ranges/MemoryRangeListRows.h"

int MemoryRangeListRows::GetItemCount() const {
    return static_cast<int>(m_rows.size());
}

void MemoryRangeListRows::DeleteAllItems() {
    m_rows.clear();
}

int MemoryRangeListRows::InsertItem(int index, const std::string& text) {
    if (index < 0)
        return -1;
    if (index > GetItemCount())
        index = GetItemCount();
    m_rows.insert(m_rows.begin() + index, {text, std::string()});
    return index;
}

void MemoryRangeListRows::SetItemText(int row, int column, const std::string& text) {
    if (row < 0 || row >= GetItemCount())
        return;
    if (column == 0)
        m_rows[row].first = text;
    else if (column == 1)
        m_rows[row].second = text;
}

std::string MemoryRangeListRows::GetItemText(int row, int column) const {
    if (row < 0 || row >= GetItemCount())
        return std::string();
    if (column == 0)
        return m_rows[row].first;
    if (column == 1)
        return m_rows[row].second;
    return std::string();
}

void MemoryRangeListRows::ReorderRows(const std::vector<int>& order) {
    if (order.size() != m_rows.size())
        return;
    std::vector<bool> used(m_rows.size(), false);
    for (int from : order) {
        if (from < 0 || from >= GetItemCount() || used[from])
            return; // not a permutation: leave the rows as they are
        used[from] = true;
    }
    std::vector<std::pair<std::string, std::string>> sorted;
    sorted.reserve(m_rows.size());
    for (int from : order)
        sorted.push_back(std::move(m_rows[from]));
    m_rows = std::move(sorted);
}

void MemoryRangeListRows::AddRow(const std::string& start, const std::string& end) {
    m_rows.emplace_back(start, end);
}

void MemoryRangeListRows::AddRange(const AddressRange& range) {
    AddRow(AddressToText(range.start), AddressToText(range.end));
}
