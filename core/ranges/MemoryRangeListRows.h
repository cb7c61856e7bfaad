#pragma once
// The range list kept in memory: what the command-line scanner and the tests
// use in place of the dialog's list control.

#include "core/ranges/AddressRange.h"
#include "core/ranges/RangeListRows.h"

#include <string>
#include <utility>
#include <vector>

class MemoryRangeListRows : public RangeListRows {
public:
    int GetItemCount() const override;
    void DeleteAllItems() override;
    int InsertItem(int index, const std::string& text) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) const override;
    void ReorderRows(const std::vector<int>& order) override;

    // Appends a row with both texts, as the dialog's Add does.
    void AddRow(const std::string& start, const std::string& end);
    // Appends a row for a range, each address as "%d.%d.%d.%d".
    void AddRange(const AddressRange& range);

    // All rows, column 0 and column 1.
    const std::vector<std::pair<std::string, std::string>>& Rows() const { return m_rows; }

private:
    std::vector<std::pair<std::string, std::string>> m_rows;
};
